#pragma once
// CDialog: a modal dialog built from a DialogTemplate on Qt Widgets:
// controls found by id, tab order = template order, commands and numbered
// messages routed through a message table, two-way data exchange
// (DoDataExchange / UpdateData). The controls are built by
// toolkit/ControlBuilders.h, the system menu lives in DialogSystemMenu.cpp
// and F1's window in toolkit/HelpWindow.h.

#include "DialogTemplate.h"
#include "DialogUnits.h"
#include "MessageBox.h"  // IDOK, IDCANCEL

#include <QDialog>
#include <QIcon>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "velk430.h"  // VelkNotifyWindow

class CDataExchange;
class CDialog;
class QMenu;

// Window message numbers understood by SendMessage besides the table entries.
constexpr uint32_t WM_COMMAND = 0x0111;     // wParam: id | notifyCode << 16
constexpr uint32_t WM_SYSCOMMAND = 0x0112;  // wParam: command id, lParam: parameter
constexpr uint32_t WM_USER = 0x0400;

// Notification codes delivered with a command.
constexpr int BN_CLICKED = 0;     // push button pressed, check box clicked
constexpr int CBN_SELCHANGE = 1;  // the operator chose another list entry
constexpr int EN_CHANGE = 0x300;  // edit text changed by the operator

// The dialog's window as the programmer library sees it. Deliver is the first
// member, so a VelkNotifyWindow* handed to the library is this object.
struct CDialogNotifyWindow {
    VelkNotifyWindow Window;
    CDialog* Dialog;
};

class CDialog : public QDialog {
public:
    using CommandHandler = std::function<void()>;
    using MessageHandler = std::function<intptr_t(uintptr_t wParam, intptr_t lParam)>;

    // Builds every control of the template at once; GetDlgItem works right
    // after construction. The template must outlive the dialog.
    explicit CDialog(const DialogTemplate& dialogTemplate, QWidget* parent = nullptr);
    ~CDialog() override;

    // Runs OnInitDialog, then the modal loop, then OnDestroy. Returns the
    // value given to EndDialog (IDOK = 1, IDCANCEL = 2). A dialog ended
    // inside OnInitDialog is never shown.
    int DoModal();
    // Modeless use (tests, embedding): OnInitDialog, then show. Returns false
    // when OnInitDialog ended the dialog.
    bool Create();
    // Ends a modeless dialog: OnDestroy and hide. Does nothing twice.
    void DestroyWindow();
    // Ends the dialog with a result; the modal loop returns it.
    void EndDialog(int result);
    bool IsEnded() const { return m_ended; }
    int GetResult() const { return m_result; }

    // The control with that id, or null.
    QWidget* GetDlgItem(int id) const;
    template <class T> T* GetDlgItemAs(int id) const { return qobject_cast<T*>(GetDlgItem(id)); }
    // The template row the control was built from, or null.
    const ControlTemplate* GetControlTemplate(int id) const;
    // Controls with a focus stop, in tab order.
    std::vector<QWidget*> TabOrder() const;
    const DialogTemplate& Template() const { return m_template; }

    void EnableWindow(int id, bool enable);
    bool IsWindowEnabled(int id) const;
    // Text of an edit, combo (edit field or selected entry), button or label.
    void SetDlgItemText(int id, const std::string& text);
    std::string GetDlgItemText(int id) const;
    // Focus to a control; an edit's text is selected, as Tab does.
    void GotoDlgCtrl(QWidget* control);
    void GotoDlgCtrl(int id) { GotoDlgCtrl(GetDlgItem(id)); }

    // Transfers between fields and controls. true: controls -> fields with
    // validation (returns false at the first failing field, whose message has
    // been shown and which has the focus); false: fields -> controls.
    bool UpdateData(bool saveAndValidate = true);

    // Routes a numbered message synchronously: a table entry first, then
    // WM_COMMAND and WM_SYSCOMMAND to their virtuals. Unknown messages give 0.
    intptr_t SendMessage(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
    // The window to give the programmer library; its notifications arrive
    // through SendMessage. Lives as long as the dialog.
    VelkNotifyWindow* NotifyWindow() { return &m_notifyWindow.Window; }

    // Dialog units -> pixels, from the dialog font (toolkit/DialogUnits.h).
    int BaseUnitX() const { return m_units.baseX; }  // average character width, pixels
    int BaseUnitY() const { return m_units.baseY; }  // font height, pixels
    QRect MapDialogRect(int x, int y, int cx, int cy) const;
    const QFont& DialogFont() const { return m_dialogFont; }

    // Window icons (title bar and task bar).
    void SetIcon(const QIcon& icon, bool big);
    QIcon GetIcon(bool big) const { return big ? m_bigIcon : m_smallIcon; }

    // The system menu: the entries appended here appear, after Minimize and
    // Close, in the context menu of the dialog's background and arrive as
    // OnSysCommand(id, 0).
    void AppendSysMenuSeparator();
    void AppendSysMenuItem(uint32_t id, const std::string& text);
    // Builds the context menu as shown (for tests; caller owns it).
    QMenu* CreateSysMenu(QWidget* parent) const;
    // Entries (separators have id 0 and empty text).
    struct SysMenuItem {
        uint32_t id;
        std::string text;
    };
    const std::vector<SysMenuItem>& SysMenuItems() const { return m_sysMenu; }

    // Where F1 looks for help: <program path with ".HLP" extension>.
    static std::string HelpFilePath();

protected:
    // Message table. A command handler runs for (id, notifyCode); the
    // member function forms read as one line per entry:
    //     OnCommandMap(IDC_RUN_BATCH, &CMyDlg::OnRunBatch);
    //     OnNotifyMap(IDC_DEVICE, CBN_SELCHANGE, &CMyDlg::OnDeviceSelChange);
    //     OnMessageMap(1129, &CMyDlg::OnProgrammerNotify);
    void OnCommandMap(int id, CommandHandler handler)
    {
        OnNotifyMap(id, BN_CLICKED, std::move(handler));
    }
    void OnNotifyMap(int id, int notifyCode, CommandHandler handler);
    void OnMessageMap(uint32_t message, MessageHandler handler);
    template <class D> void OnCommandMap(int id, void (D::*fn)())
    {
        OnCommandMap(id, [this, fn] { (static_cast<D*>(this)->*fn)(); });
    }
    template <class D> void OnNotifyMap(int id, int notifyCode, void (D::*fn)())
    {
        OnNotifyMap(id, notifyCode, [this, fn] { (static_cast<D*>(this)->*fn)(); });
    }
    template <class D, class R> void OnMessageMap(uint32_t message, R (D::*fn)(uintptr_t, intptr_t))
    {
        OnMessageMap(message, [this, fn](uintptr_t w, intptr_t l) {
            return static_cast<intptr_t>((static_cast<D*>(this)->*fn)(w, l));
        });
    }

    // Default: UpdateData(false); returns true (focus to the first tab stop).
    // Return false when the dialog set the focus itself.
    virtual bool OnInitDialog();
    // Field <-> control transfers; default: none.
    virtual void DoDataExchange(CDataExchange& dx);
    // A command from a control, Enter (IDOK) or Esc (IDCANCEL). Default: the
    // table entry for (id, code); else IDOK -> OnOK, IDCANCEL -> OnCancel.
    // Returns true when handled.
    virtual bool OnCommand(int id, int notifyCode);
    // Default: UpdateData(true), then EndDialog(IDOK) if it succeeded.
    virtual void OnOK();
    // Default: EndDialog(IDCANCEL).
    virtual void OnCancel();
    // The close box. Default: the IDCANCEL command, as Esc sends it.
    virtual void OnClose();
    // A system-menu entry was chosen. Default: nothing.
    virtual void OnSysCommand(uint32_t id, intptr_t param);
    // F1: shows HelpFilePath() in a help window, or a message when missing.
    virtual void OnHelp();
    // When the dialog ends, before DoModal returns; controls still exist.
    virtual void OnDestroy();

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void reject() override;
    void accept() override;

private:
    void BuildControls();
    void Init();
    static void DeliverNotification(VelkNotifyWindow* self, uint32_t message, uintptr_t wParam,
                                    intptr_t lParam);

    const DialogTemplate& m_template;
    QFont m_dialogFont;
    DialogUnits m_units;
    std::vector<std::pair<const ControlTemplate*, QWidget*>> m_controls;
    std::map<std::pair<int, int>, CommandHandler> m_commands;
    std::map<uint32_t, MessageHandler> m_messages;
    std::vector<SysMenuItem> m_sysMenu;
    CDialogNotifyWindow m_notifyWindow;
    QIcon m_bigIcon, m_smallIcon;
    bool m_inModal = false;
    bool m_ended = false;
    bool m_destroyed = false;
    int m_result = 0;
};
