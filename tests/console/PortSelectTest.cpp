// The Port Selection dialog on its own, and the console's "Port ..." command.
#include "ConsoleFixture.h"

#include "PortSelectDlg.h"

#include <QFile>
#include <QTest>

#include "velk430.h"

using ::testing::ElementsAre;

namespace {

class PortSelectTest : public ::testing::Test {
protected:
    std::unique_ptr<CPortSelectDlg> Open(const std::string& port, uint32_t baud)
    {
        auto dlg = std::make_unique<CPortSelectDlg>();
        dlg->Port = port;
        dlg->Baud = baud;
        EXPECT_TRUE(dlg->Create());
        QApplication::setActiveWindow(dlg.get());
        return dlg;
    }
    static QComboBox* PortList(CPortSelectDlg& dlg) { return dlg.GetDlgItemAs<QComboBox>(IDC_PORT_LIST); }
    static QLineEdit* BaudEdit(CPortSelectDlg& dlg) { return dlg.GetDlgItemAs<QLineEdit>(IDC_BAUD); }
    static void Ok(CPortSelectDlg& dlg) { dlg.GetDlgItemAs<QPushButton>(IDOK)->click(); }

    CMessageBoxRecorder boxes;
};

}  // namespace

TEST_F(PortSelectTest, OpensWithThePortSelectedByPrefixAndTheBaudAsIs)
{
    struct Case {
        std::string port;
        int selected;        // -1: typed text only
        std::string shown;   // the combo's text
        std::string afterOk;
    };
    for (const Case& c : {Case{"COM1", 0, "COM1", "COM1"}, Case{"com3", 2, "COM3", "COM3"},
                          Case{"COM12", -1, "COM12", "COM12"}, Case{"COM", 0, "COM1", "COM1"},
                          Case{"/dev/ttyUSB0", -1, "/dev/ttyUSB0", "/dev/ttyUSB0"}}) {
        SCOPED_TRACE(c.port);
        auto dlg = Open(c.port, 57600);
        EXPECT_EQ(GetCurSel(PortList(*dlg)), c.selected);
        EXPECT_EQ(dlg->GetDlgItemText(IDC_PORT_LIST), c.shown);
        EXPECT_EQ(BaudEdit(*dlg)->text(), QStringLiteral("57600"));
        EXPECT_EQ(dlg->focusWidget(), dlg->GetDlgItem(IDOK));
        Ok(*dlg);
        EXPECT_TRUE(dlg->IsEnded());
        EXPECT_EQ(dlg->GetResult(), IDOK);
        EXPECT_EQ(dlg->Port, c.afterOk);
        EXPECT_EQ(dlg->Baud, 57600u);
        dlg->DestroyWindow();
    }
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST_F(PortSelectTest, BaudIsCheckedOnlyOnOk)
{
    const std::string range = "Please enter an integer between 2400 and 115200.";
    const std::string positive = "Please enter a positive integer.";
    struct Case {
        std::string text;
        bool accepted;
        uint32_t baud;
        std::string message;
    };
    for (const Case& c : {Case{"2400", true, 2400, ""}, Case{"115200", true, 115200, ""},
                          Case{" 9600 ", true, 9600, ""}, Case{"\t19200", true, 19200, ""},
                          Case{"+4800", true, 4800, ""}, Case{"2399", false, 0, range},
                          Case{"115201", false, 0, range}, Case{"0", false, 0, range},
                          Case{"99999999999", false, 0, range}, Case{"", false, 0, positive},
                          Case{"-9600", false, 0, positive}, Case{"96 00", false, 0, positive},
                          Case{"9600x", false, 0, positive}, Case{"14400", false, 0, BaudRateMessage},
                          Case{"4801", false, 0, BaudRateMessage}}) {
        SCOPED_TRACE("'" + c.text + "'");
        boxes.Boxes.clear();
        auto dlg = Open("COM2", 57600);
        BaudEdit(*dlg)->setText(QString::fromStdString(c.text));
        Ok(*dlg);
        EXPECT_EQ(dlg->IsEnded(), c.accepted);
        if (c.accepted) {
            EXPECT_TRUE(boxes.Boxes.empty());
            EXPECT_EQ(dlg->Baud, c.baud);
        } else {
            EXPECT_THAT(boxes.Texts(), ElementsAre(c.message));
            EXPECT_EQ(dlg->focusWidget(), BaudEdit(*dlg));
            EXPECT_EQ(BaudEdit(*dlg)->selectedText(), BaudEdit(*dlg)->text());
        }
        dlg->DestroyWindow();
    }
}

TEST_F(PortSelectTest, StoredBaudOutsideTheRangeIsShownThenRefused)
{
    auto dlg = Open("COM1", 300);
    EXPECT_TRUE(boxes.Boxes.empty());
    EXPECT_EQ(BaudEdit(*dlg)->text(), QStringLiteral("300"));
    Ok(*dlg);
    EXPECT_FALSE(dlg->IsEnded());
    EXPECT_THAT(boxes.Texts(), ElementsAre("Please enter an integer between 2400 and 115200."));
    dlg->GetDlgItemAs<QPushButton>(IDCANCEL)->click();
    EXPECT_TRUE(dlg->IsEnded());
    EXPECT_EQ(dlg->GetResult(), IDCANCEL);
    dlg->DestroyWindow();
}

TEST_F(PortSelectTest, EscapeAndCloseBoxCancelWithoutChecking)
{
    for (bool closeBox : {false, true}) {
        auto dlg = Open("COM1", 300);
        if (closeBox)
            dlg->close();
        else
            QTest::keyClick(dlg.get(), Qt::Key_Escape);
        EXPECT_TRUE(dlg->IsEnded());
        EXPECT_EQ(dlg->GetResult(), IDCANCEL);
        dlg->DestroyWindow();
    }
    EXPECT_TRUE(boxes.Boxes.empty());
}

// The console's command runs the dialog modally; these act as the operator.
TEST_F(ConsoleTest, PortCommandCopiesBackOnOkOnly)
{
    StoreValues({{"CommPort", "com3"}, {"Baud", "300"}});
    ASSERT_TRUE(Start());
    std::string shownPort, shownBaud;
    WhenModal([&](QWidget* modal) {
        auto* dlg = dynamic_cast<CPortSelectDlg*>(modal);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Port Selection"));
        EXPECT_EQ(dlg->parentWidget(), console.get());
        shownPort = dlg->GetDlgItemText(IDC_PORT_LIST);
        shownBaud = dlg->GetDlgItemText(IDC_BAUD);
        dlg->SetDlgItemText(IDC_PORT_LIST, "COM7");
        dlg->SetDlgItemText(IDC_BAUD, "19200");
        dlg->GetDlgItemAs<QPushButton>(IDCANCEL)->click();
    });
    Click(IDC_PORT);
    EXPECT_EQ(shownPort, "COM3");
    EXPECT_EQ(shownBaud, "300");
    EXPECT_EQ(console->CommPort, "com3");  // Cancel changes nothing
    EXPECT_EQ(console->Baud, 300);

    WhenModal([&](QWidget* modal) {
        auto* dlg = dynamic_cast<CPortSelectDlg*>(modal);
        ASSERT_NE(dlg, nullptr);
        dlg->SetDlgItemText(IDC_PORT_LIST, "COM12");
        dlg->SetDlgItemText(IDC_BAUD, "115200");
        dlg->GetDlgItemAs<QPushButton>(IDOK)->click();
    });
    Click(IDC_PORT);
    EXPECT_EQ(console->CommPort, "COM12");
    EXPECT_EQ(console->Baud, 115200);
    EXPECT_TRUE(boxes.Boxes.empty());
    EXPECT_EQ(Stored("CommPort"), "com3");  // the store sees it only at exit

    fake.ClearLog();
    Click(IDC_RUN_BATCH);
    EXPECT_EQ(fake.LogStrings().front(), "InitCom(COM12, 115200)");
    Click(IDC_EXIT);
    console->DestroyWindow();
    EXPECT_EQ(Stored("CommPort"), "COM12");
    EXPECT_EQ(Stored("Baud"), "115200");
}

// The dialog, its message and the help page offer the rates the programmer takes.
TEST_F(PortSelectTest, BaudRatesAgreeWithTheProgrammerAndTheHelpPage)
{
    const int32_t rates[] = VELK_BAUD_RATES;
    std::string list;
    for (size_t i = 0; i < std::size(rates); ++i)
        list += (i == 0 ? "" : i + 1 == std::size(rates) ? " or " : ", ") + std::to_string(rates[i]);
    EXPECT_NE(std::string(BaudRateMessage).find(": " + list + "."), std::string::npos) << BaudRateMessage;
    QFile help(QStringLiteral(CORV_HELP_FILE));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly));
    EXPECT_NE(help.readAll().simplified().toStdString().find(list), std::string::npos);
    for (const int32_t rate : rates) {
        auto dlg = Open("COM1", static_cast<uint32_t>(rate));
        Ok(*dlg);
        EXPECT_TRUE(dlg->IsEnded()) << rate;
        dlg->DestroyWindow();
    }
    EXPECT_TRUE(boxes.Boxes.empty());
}
