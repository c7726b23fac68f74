#include "TestDialogs.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A console-like dialog: OK and Cancel do nothing, the close box is Exit,
// and everything that arrives is logged.
class CRoutingDlg : public CDialog {
public:
    CRoutingDlg() : CDialog(*GetDialogTemplate(IDD_CONSOLE))
    {
        OnMessageMap(1129, &CRoutingDlg::OnProgrammerNotify);
        OnCommandMap(IDC_RUN_BATCH, &CRoutingDlg::OnRunBatch);
        OnCommandMap(IDC_EXIT, &CRoutingDlg::OnExit);
        OnCommandMap(IDC_BLOW_FUSE, [this] { Log.push_back("blow fuse"); });
        OnNotifyMap(IDC_DEVICE, CBN_SELCHANGE, &CRoutingDlg::OnDeviceSelChange);
    }

    std::vector<std::string> Log;
    std::vector<std::pair<uintptr_t, intptr_t>> Notifications;
    bool EndInInit = false;
    bool FocusExitInInit = false;

    intptr_t OnProgrammerNotify(uintptr_t wParam, intptr_t lParam)
    {
        Notifications.emplace_back(wParam, lParam);
        return 7;
    }
    void OnRunBatch() { Log.push_back("run batch"); }
    void OnExit()
    {
        Log.push_back("exit");
        EndDialog(IDOK);
    }
    void OnDeviceSelChange() { Log.push_back("device " + GetDlgItemText(IDC_DEVICE)); }

protected:
    bool OnInitDialog() override
    {
        CDialog::OnInitDialog();
        Log.push_back("init");
        if (EndInInit) {
            EndDialog(IDCANCEL);
            return true;
        }
        if (FocusExitInInit) {
            GotoDlgCtrl(IDC_EXIT);
            return false;
        }
        return true;
    }
    void OnOK() override { Log.push_back("ok"); }
    void OnCancel() override { Log.push_back("cancel"); }
    void OnClose() override { OnExit(); }
    void OnSysCommand(uint32_t id, intptr_t param) override
    {
        if ((id & 0xFFF0) == 16)
            Log.push_back("about");
        else
            CDialog::OnSysCommand(id, param);
    }
    void OnDestroy() override { Log.push_back("destroy"); }
};

TEST(Dialog, NotificationsArriveThroughTheMessageTable)
{
    CRoutingDlg dlg;
    VelkNotifyWindow* window = dlg.NotifyWindow();
    ASSERT_NE(window->Deliver, nullptr);
    // As the library does it: through the function pointer, synchronously.
    window->Deliver(window, 1129, 3, -42);
    window->Deliver(window, 1129, 5, 100);
    window->Deliver(window, 1130, 9, 9);  // not in the table: ignored
    ASSERT_EQ(dlg.Notifications.size(), 2u);
    EXPECT_EQ(dlg.Notifications[0], (std::pair<uintptr_t, intptr_t>(3, -42)));
    EXPECT_EQ(dlg.Notifications[1], (std::pair<uintptr_t, intptr_t>(5, 100)));
    EXPECT_EQ(dlg.SendMessage(1129, 1, 2), 7);
    EXPECT_EQ(dlg.SendMessage(WM_USER + 1, 1, 2), 0);
    // Commands as messages.
    dlg.SendMessage(WM_COMMAND, IDC_RUN_BATCH | (BN_CLICKED << 16), 0);
    EXPECT_EQ(dlg.Log, std::vector<std::string>{"run batch"});
}

TEST(Dialog, ControlsDeliverCommands)
{
    CRoutingDlg dlg;
    ShowActive(dlg);
    dlg.GetDlgItemAs<QPushButton>(IDC_RUN_BATCH)->click();
    dlg.GetDlgItemAs<QAbstractButton>(IDC_BLOW_FUSE)->click();
    dlg.GetDlgItemAs<QPushButton>(IDC_CHECK_FUSE)->click();  // not mapped: nothing
    auto* device = dlg.GetDlgItemAs<QComboBox>(IDC_DEVICE);
    AddString(device, "B5");
    AddString(device, "A1");
    device->setCurrentIndex(1);  // by program: no notification
    device->setCurrentIndex(0);
    device->setCurrentIndex(1);  // the operator picks B5: the box selects, then tells
    emit device->activated(1);
    EXPECT_EQ(dlg.Log, (std::vector<std::string>{"init", "run batch", "blow fuse", "device B5"}));
    // Typing an entry's name selects nothing and notifies nobody.
    dlg.GotoDlgCtrl(device);
    device->lineEdit()->selectAll();
    QTest::keyClicks(device->lineEdit(), "a1");
    QTest::keyClick(device->lineEdit(), Qt::Key_Tab);
    emit device->lineEdit()->editingFinished();
    EXPECT_EQ(device->currentIndex(), 1);
    EXPECT_EQ(device->currentText(), QStringLiteral("A1"));
    EXPECT_EQ(dlg.Log.size(), 4u);
    dlg.DestroyWindow();
}

TEST(Dialog, KeysAndCloseBoxGoThroughTheHooks)
{
    CRoutingDlg dlg;
    ShowActive(dlg);
    EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(IDC_RUN_BATCH));  // first tab stop
    dlg.Log.clear();

    dlg.GotoDlgCtrl(IDC_VCC);
    QTest::keyClick(dlg.GetDlgItem(IDC_VCC), Qt::Key_Escape);
    QTest::keyClick(dlg.GetDlgItem(IDC_VCC), Qt::Key_Return);  // edit: the OK command
    dlg.GotoDlgCtrl(IDC_RUN_BATCH);
    QTest::keyClick(dlg.GetDlgItem(IDC_RUN_BATCH), Qt::Key_Return);  // a focused button presses itself
    EXPECT_EQ(dlg.Log, (std::vector<std::string>{"cancel", "ok", "run batch"}));
    EXPECT_FALSE(dlg.IsEnded());

    dlg.close();  // the close box
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.GetResult(), IDOK);
    EXPECT_EQ(dlg.Log.back(), "exit");
    dlg.DestroyWindow();
    dlg.DestroyWindow();
    EXPECT_EQ(std::count(dlg.Log.begin(), dlg.Log.end(), "destroy"), 1);
}

TEST(Dialog, DefaultHooksOfAPlainDialog)
{
    CPortDlg dlg;
    dlg.Port = "COM2";
    dlg.Baud = 9600;
    ShowActive(dlg);
    EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(IDOK));
    QTest::keyClick(dlg.GetDlgItem(IDC_BAUD), Qt::Key_Escape);
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.GetResult(), IDCANCEL);

    CPortDlg ok;
    ok.Baud = 19200;
    ShowActive(ok);
    ok.SetDlgItemText(IDC_BAUD, "38400");
    ok.GotoDlgCtrl(IDC_BAUD);
    QTest::keyClick(ok.GetDlgItem(IDC_BAUD), Qt::Key_Enter);  // OnOK: exchange, then end
    EXPECT_TRUE(ok.IsEnded());
    EXPECT_EQ(ok.GetResult(), IDOK);
    EXPECT_EQ(ok.Baud, 38400u);

    CPortDlg closed;
    ShowActive(closed);
    closed.close();
    EXPECT_EQ(closed.GetResult(), IDCANCEL);
}

TEST(Dialog, DoModalRunsInitLoopAndDestroy)
{
    CRoutingDlg dlg;
    QTimer::singleShot(0, &dlg, [&] {
        EXPECT_TRUE(dlg.isVisible());
        dlg.GetDlgItemAs<QPushButton>(IDC_EXIT)->click();
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.Log, (std::vector<std::string>{"init", "exit", "destroy"}));
    EXPECT_FALSE(dlg.isVisible());
}

TEST(Dialog, EndedDuringInitIsNeverShown)
{
    CRoutingDlg dlg;
    dlg.EndInInit = true;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.Log, (std::vector<std::string>{"init", "destroy"}));
    EXPECT_FALSE(dlg.isVisible());
}

TEST(Dialog, InitReturningFalseKeepsItsFocus)
{
    CRoutingDlg dlg;
    dlg.FocusExitInInit = true;
    ShowActive(dlg);
    EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(IDC_EXIT));
    dlg.DestroyWindow();
}

TEST(Dialog, SystemMenuEntriesBecomeSystemCommands)
{
    CRoutingDlg dlg;
    dlg.AppendSysMenuSeparator();
    dlg.AppendSysMenuItem(16, "&About Corvantis...");
    std::unique_ptr<QMenu> menu(dlg.CreateSysMenu(nullptr));
    QAction* about = nullptr;
    QAction* close = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->text() == QStringLiteral("&About Corvantis..."))
            about = a;
        if (a->text().startsWith(QStringLiteral("&Close")))
            close = a;
    }
    ASSERT_NE(about, nullptr);
    ASSERT_NE(close, nullptr);
    EXPECT_TRUE(menu->actions().at(menu->actions().indexOf(about) - 1)->isSeparator());
    about->trigger();
    EXPECT_EQ(dlg.Log, std::vector<std::string>{"about"});
    dlg.SendMessage(WM_SYSCOMMAND, 16 | 0xF, 0);  // the low four bits are ignored
    EXPECT_EQ(dlg.Log.size(), 2u);
    close->trigger();  // default handling: the close box
    EXPECT_EQ(dlg.Log.back(), "exit");
}

TEST(Dialog, IconsAndEnable)
{
    CRoutingDlg dlg;
    const QIcon icon = LoadIcon(IDI_MAIN);
    dlg.SetIcon(icon, true);
    dlg.SetIcon(icon, false);
    EXPECT_FALSE(dlg.windowIcon().isNull());
    EXPECT_EQ(dlg.GetIcon(true).cacheKey(), icon.cacheKey());
    dlg.EnableWindow(IDC_RUN_BATCH, false);
    EXPECT_FALSE(dlg.IsWindowEnabled(IDC_RUN_BATCH));
    dlg.EnableWindow(IDC_RUN_BATCH, true);
    EXPECT_TRUE(dlg.IsWindowEnabled(IDC_RUN_BATCH));
    EXPECT_EQ(dlg.GetDlgItem(4711), nullptr);
    EXPECT_FALSE(dlg.IsWindowEnabled(4711));
}

TEST(Dialog, HelpShowsTheHelpFileOrSaysItIsMissing)
{
    const QString path = QString::fromStdString(CDialog::HelpFilePath());
    EXPECT_TRUE(path.endsWith(QStringLiteral("/corv_toolkit_tests.HLP")));
    QFile::remove(path);
    {
        CMessageBoxRecorder boxes;
        CRoutingDlg dlg;
        ShowActive(dlg);
        QTest::keyClick(dlg.GetDlgItem(IDC_RUN_BATCH), Qt::Key_F1);
        ASSERT_EQ(boxes.Boxes.size(), 1u);
        EXPECT_EQ(boxes.Boxes[0].text, "Unable to open the help file\n" + path.toStdString());
        dlg.DestroyWindow();
    }
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<h1>Help</h1><p>Press Run Batch.</p>");
        file.close();
        CMessageBoxRecorder boxes;
        CRoutingDlg dlg;
        ShowActive(dlg);
        QTest::keyClick(dlg.GetDlgItem(IDC_VCC), Qt::Key_F1);
        EXPECT_TRUE(boxes.Boxes.empty());
        auto* help = dlg.findChild<QDialog*>(QStringLiteral("corvHelpWindow"));
        ASSERT_NE(help, nullptr);
        EXPECT_TRUE(help->isVisible());
        auto* browser = help->findChild<QTextBrowser*>();
        ASSERT_NE(browser, nullptr);
        EXPECT_TRUE(browser->isReadOnly());
        EXPECT_TRUE(browser->toPlainText().contains(QStringLiteral("Press Run Batch.")));
        dlg.DestroyWindow();
        QFile::remove(path);
    }
}

TEST(Dialog, ComboHelpers)
{
    CRoutingDlg dlg;
    auto* device = dlg.GetDlgItemAs<QComboBox>(IDC_DEVICE);
    // Reported C9, A1, B5: sorted, upper case, item data = report order.
    const char* names[] = {"c9", "A1", "b5"};
    for (int i = 0; i < 3; ++i) {
        const int at = AddString(device, names[i]);
        ASSERT_GE(at, 0);
        EXPECT_EQ(SetItemData(device, at, i), 0);
    }
    ASSERT_EQ(GetCount(device), 3);
    EXPECT_EQ(GetLBText(device, 0), "A1");
    EXPECT_EQ(GetLBText(device, 1), "B5");
    EXPECT_EQ(GetLBText(device, 2), "C9");
    EXPECT_EQ(GetItemData(device, 0), 1);
    EXPECT_EQ(GetItemData(device, 1), 2);
    EXPECT_EQ(GetItemData(device, 2), 0);
    EXPECT_EQ(GetItemData(device, 3), CB_ERR);
    EXPECT_EQ(GetCurSel(device), CB_ERR);  // adding selects nothing
    EXPECT_EQ(SelectString(device, "b"), 1);
    EXPECT_EQ(GetCurSel(device), 1);
    EXPECT_EQ(SelectString(device, "Z"), CB_ERR);
    EXPECT_EQ(GetCurSel(device), 1);
    EXPECT_EQ(DeleteString(device, 0), 2);
    EXPECT_EQ(DeleteString(device, 5), CB_ERR);
    while (GetCount(device) > 0)
        DeleteString(device, 0);
    EXPECT_EQ(GetCurSel(device), CB_ERR);
    // Typed text is held in capitals.
    auto* edit = device->lineEdit();
    QTest::keyClicks(edit, "msp");
    EXPECT_EQ(edit->text(), QStringLiteral("MSP"));
    // An unsorted list keeps the order.
    auto* type = dlg.GetDlgItemAs<QComboBox>(IDC_SERIAL_TYPE);
    EXPECT_EQ(AddString(type, "AAA"), 4);
}

}  // namespace

TEST(Dialog, SortedAddPlacesEachEntryAfterItsEquals)
{
    CPortDlg dlg;  // Sort without UpperCase
    auto* port = dlg.GetDlgItemAs<QComboBox>(IDC_PORT_LIST);
    while (GetCount(port) > 0)
        DeleteString(port, 0);
    // A pseudo-random order of 200 names, with case-only duplicates.
    uint32_t x = 12345;
    for (int i = 0; i < 200; ++i) {
        x = x * 1103515245u + 12345u;
        std::string name(1, 'p');
        name += std::to_string((x >> 16) % 60);
        if (i % 3 == 0)
            name[0] = 'P';
        const int at = AddString(port, name);
        ASSERT_EQ(GetLBText(port, at), name);
        SetItemData(port, at, i);
    }
    for (int i = 1; i < GetCount(port); ++i) {
        const QString a = QString::fromStdString(GetLBText(port, i - 1));
        const QString b = QString::fromStdString(GetLBText(port, i));
        const int order = QString::compare(a, b, Qt::CaseInsensitive);
        ASSERT_LE(order, 0) << i;
        if (order == 0) {  // equals keep the order they were added in
            EXPECT_LT(GetItemData(port, i - 1), GetItemData(port, i)) << i;
        }
    }
}
