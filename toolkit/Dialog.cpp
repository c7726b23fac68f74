#include "Dialog.h"

#include "ControlBuilders.h"
#include "ControlHelpers.h"
#include "DataExchange.h"
#include "HelpWindow.h"
#include "MessageBox.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CDialog::CDialog(const DialogTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent), m_template(dialogTemplate), m_notifyWindow{{&DeliverNotification}, this}
{
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (m_template.styles & Style::SysMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (m_template.styles & Style::MinimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    if (m_template.styles & Style::MaximizeBox)
        flags |= Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);
    setWindowTitle(QString::fromStdString(m_template.caption));

    m_dialogFont = ResolveDialogFont(m_template.fontName, m_template.fontPointSize);
    setFont(m_dialogFont);
    m_units = DialogUnits::Measure(m_dialogFont);

    const QRect client = MapDialogRect(m_template.x, m_template.y, m_template.cx, m_template.cy);
    setFixedSize(client.width(), client.height());
    BuildControls();
}

CDialog::~CDialog() = default;

QRect CDialog::MapDialogRect(int x, int y, int cx, int cy) const
{
    return m_units.Map(x, y, cx, cy);
}

void CDialog::BuildControls()
{
    const ControlContext context{this, m_dialogFont, m_units,
                                 [this](int id, int notifyCode) { OnCommand(id, notifyCode); }};
    QWidget* previousStop = nullptr;
    QPushButton* defaultButton = nullptr;
    for (const ControlTemplate& row : m_template.controls) {
        QWidget* w = BuildControl(row, context);
        w->setProperty("corvId", row.id);
        w->setProperty("corvStyles", static_cast<uint>(row.styles));
        m_controls.emplace_back(&row, w);
        if (row.styles & Style::Hidden)
            w->setHidden(true);
        if (row.styles & Style::Disabled)
            w->setEnabled(false);
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            button->setAutoDefault(true);
            if ((row.styles & Style::DefPushButton) && !(row.styles & Style::Hidden) &&
                !defaultButton) {
                defaultButton = button;
                button->setDefault(true);
            }
        }
        if (w->focusPolicy() != Qt::NoFocus)
            w->setFocusPolicy((row.styles & Style::TabStop) ? Qt::StrongFocus : Qt::ClickFocus);
        if ((row.styles & Style::TabStop) && w->focusPolicy() != Qt::NoFocus) {
            if (previousStop)
                QWidget::setTabOrder(previousStop, w);
            previousStop = w;
        }
    }
    // Group boxes frame the controls drawn over them; keep them below so
    // they never take the clicks meant for those controls.
    for (auto& [row, w] : m_controls)
        if (row->kind == ControlKind::GroupBox)
            w->lower();
}

QWidget* CDialog::GetDlgItem(int id) const
{
    if (id == -1)
        return nullptr;
    for (const auto& [row, w] : m_controls)
        if (row->id == id)
            return w;
    return nullptr;
}

const ControlTemplate* CDialog::GetControlTemplate(int id) const
{
    for (const auto& [row, w] : m_controls)
        if (row->id == id)
            return row;
    return nullptr;
}

std::vector<QWidget*> CDialog::TabOrder() const
{
    std::vector<QWidget*> order;
    QWidget* first = nullptr;
    for (const auto& [row, w] : m_controls)
        if ((row->styles & Style::TabStop) && w->focusPolicy() != Qt::NoFocus) {
            first = w;
            break;
        }
    if (!first)
        return order;
    QWidget* w = first;
    do {
        if (w->focusPolicy() & Qt::TabFocus && w->parentWidget() == this)
            order.push_back(w);
        w = w->nextInFocusChain();
    } while (w && w != first && order.size() < m_controls.size());
    return order;
}

void CDialog::EnableWindow(int id, bool enable)
{
    if (QWidget* w = GetDlgItem(id))
        w->setEnabled(enable);
}

bool CDialog::IsWindowEnabled(int id) const
{
    const QWidget* w = GetDlgItem(id);
    return w && w->isEnabled();
}

void CDialog::SetDlgItemText(int id, const std::string& text)
{
    QWidget* w = GetDlgItem(id);
    const QString q = QString::fromStdString(text);
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(q);
    else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->isEditable())
            SetEditText(combo, text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(q);
    else if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(q);
    else if (auto* group = qobject_cast<QGroupBox*>(w))
        group->setTitle(q);
}

std::string CDialog::GetDlgItemText(int id) const
{
    const QWidget* w = GetDlgItem(id);
    QString q;
    if (auto* edit = qobject_cast<const QLineEdit*>(w))
        q = edit->text();
    else if (auto* combo = qobject_cast<const QComboBox*>(w))
        q = combo->currentText();
    else if (auto* button = qobject_cast<const QAbstractButton*>(w))
        q = button->text();
    else if (auto* label = qobject_cast<const QLabel*>(w))
        q = label->text();
    else if (auto* group = qobject_cast<const QGroupBox*>(w))
        q = group->title();
    return q.toStdString();
}

void CDialog::GotoDlgCtrl(QWidget* control)
{
    if (!control)
        return;
    control->setFocus(Qt::TabFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->selectAll();
    else if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->lineEdit())
        combo->lineEdit()->selectAll();
}

bool CDialog::UpdateData(bool saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(dx);
    return !dx.Failed();
}

void CDialog::OnNotifyMap(int id, int notifyCode, CommandHandler handler)
{
    m_commands[{id, notifyCode}] = std::move(handler);
}

void CDialog::OnMessageMap(uint32_t message, MessageHandler handler)
{
    m_messages[message] = std::move(handler);
}

intptr_t CDialog::SendMessage(uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (auto it = m_messages.find(message); it != m_messages.end())
        return it->second(wParam, lParam);
    if (message == WM_COMMAND) {
        OnCommand(static_cast<int>(wParam & 0xFFFF), static_cast<int>((wParam >> 16) & 0xFFFF));
        return 0;
    }
    if (message == WM_SYSCOMMAND) {
        OnSysCommand(static_cast<uint32_t>(wParam), lParam);
        return 0;
    }
    return 0;
}

void CDialog::DeliverNotification(VelkNotifyWindow* self, uint32_t message, uintptr_t wParam,
                                  intptr_t lParam)
{
    // Window is the first member of the standard-layout CDialogNotifyWindow.
    auto* window = reinterpret_cast<CDialogNotifyWindow*>(self);
    if (window && window->Dialog)
        window->Dialog->SendMessage(message, wParam, lParam);
}

void CDialog::Init()
{
    m_ended = false;
    m_destroyed = false;
    m_result = 0;
    if (OnInitDialog() && !m_ended) {
        const std::vector<QWidget*> order = TabOrder();
        for (QWidget* w : order)
            if (w->isEnabled() && !w->isHidden()) {
                GotoDlgCtrl(w);
                break;
            }
    }
}

int CDialog::DoModal()
{
    Init();
    if (!m_ended) {
        m_inModal = true;
        QDialog::exec();
        m_inModal = false;
    }
    if (!m_destroyed) {
        m_destroyed = true;
        OnDestroy();
    }
    return m_result;
}

bool CDialog::Create()
{
    Init();
    if (m_ended) {
        DestroyWindow();
        return false;
    }
    show();
    return true;
}

void CDialog::DestroyWindow()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    OnDestroy();
    hide();
}

void CDialog::EndDialog(int result)
{
    m_ended = true;
    m_result = result;
    if (m_inModal)
        QDialog::done(result);
    else if (isVisible())
        hide();
}

bool CDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

void CDialog::DoDataExchange(CDataExchange&) {}

bool CDialog::OnCommand(int id, int notifyCode)
{
    if (auto it = m_commands.find({id, notifyCode}); it != m_commands.end()) {
        it->second();
        return true;
    }
    if (notifyCode == BN_CLICKED && id == IDOK) {
        OnOK();
        return true;
    }
    if (notifyCode == BN_CLICKED && id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

void CDialog::OnOK()
{
    if (UpdateData(true))
        EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnClose() { OnCommand(IDCANCEL, BN_CLICKED); }

void CDialog::OnDestroy() {}

std::string CDialog::HelpFilePath() { return ProgramHelpFilePath(); }

void CDialog::OnHelp()
{
    const std::string path = HelpFilePath();
    if (!ShowHelpWindow(this, path, MapDialogRect(0, 0, 280, 240).size()))
        MessageBox(this, "Unable to open the help file\n" + path);
}

void CDialog::SetIcon(const QIcon& icon, bool big)
{
    (big ? m_bigIcon : m_smallIcon) = icon;
    QIcon merged;
    for (const QIcon* source : {&m_smallIcon, &m_bigIcon})
        for (const QSize& size : source->availableSizes())
            merged.addPixmap(source->pixmap(size));
    setWindowIcon(merged);
}

void CDialog::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape: OnCommand(IDCANCEL, BN_CLICKED); break;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // A focused push button presses itself; elsewhere Enter is the OK command.
        auto* button = qobject_cast<QPushButton*>(focusWidget());
        if (button && button->isEnabled() && button->isVisible())
            button->click();
        else
            OnCommand(IDOK, BN_CLICKED);
        break;
    }
    case Qt::Key_F1: OnHelp(); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

void CDialog::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (!m_ended)
        OnClose();
}

void CDialog::reject()
{
    if (!m_ended)
        OnCommand(IDCANCEL, BN_CLICKED);
}

void CDialog::accept()
{
    if (!m_ended)
        OnCommand(IDOK, BN_CLICKED);
}
