#include "Dialog.h"

#include "ControlHelpers.h"
#include "DataExchange.h"
#include "MessageBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <cmath>

namespace {

// Sizes the platform's system menu uses for its standard commands.
constexpr uint32_t SC_MINIMIZE = 0xF020;
constexpr uint32_t SC_CLOSE = 0xF060;

int MulDiv(int a, int b, int c)
{
    const int64_t p = static_cast<int64_t>(a) * b;
    const int64_t r = p >= 0 ? (p + c / 2) / c : -((-p + c / 2) / c);
    return static_cast<int>(r);
}

// The dialog font, or a metrically close scalable one when it is not
// installed, sized in pixels from the point size like Windows does.
QFont ResolveDialogFont(const std::string& name, int pointSize)
{
    QString family = QString::fromStdString(name);
    if (!QFontDatabase::hasFamily(family)) {
        for (const char* fallback : {"Liberation Sans", "Arial", "DejaVu Sans"}) {
            if (QFontDatabase::hasFamily(fallback)) {
                family = fallback;
                break;
            }
        }
    }
    QFont font(family);
    qreal dpi = 96.0;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInchY();
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pointSize * dpi / 72.0))));
    return font;
}

// Windows strips single ampersands from static text (they mark a mnemonic)
// and shows "&&" as one.
QString StripMnemonics(const std::string& text)
{
    QString out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&')
                out += QLatin1Char('&'), ++i;
            continue;
        }
        out += QLatin1Char(text[i]);
    }
    return out;
}

class CUpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        input = input.toUpper();
        return Acceptable;
    }
};

}  // namespace

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
    const QFontMetrics fm(m_dialogFont);
    const int width =
        fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseUnitX = std::max(1, (width / 26 + 1) / 2);
    m_baseUnitY = std::max(1, fm.height());

    const QRect client = MapDialogRect(m_template.x, m_template.y, m_template.cx, m_template.cy);
    setFixedSize(client.width(), client.height());
    BuildControls();
}

CDialog::~CDialog() = default;

QRect CDialog::MapDialogRect(int x, int y, int cx, int cy) const
{
    return QRect(MulDiv(x, m_baseUnitX, 4), MulDiv(y, m_baseUnitY, 8), MulDiv(cx, m_baseUnitX, 4),
                 MulDiv(cy, m_baseUnitY, 8));
}

void CDialog::BuildControls()
{
    QWidget* previousStop = nullptr;
    QPushButton* defaultButton = nullptr;
    for (const ControlTemplate& row : m_template.controls) {
        QWidget* w = CreateControl(row);
        w->setProperty("corvId", row.id);
        w->setProperty("corvStyles", static_cast<uint>(row.styles));
        m_controls.emplace_back(&row, w);
        if (row.styles & Style::Hidden)
            w->setHidden(true);
        if (row.styles & Style::Disabled)
            w->setEnabled(false);
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            button->setAutoDefault(true);
            if ((row.styles & Style::DefPushButton) && !(row.styles & Style::Hidden) && !defaultButton) {
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

QWidget* CDialog::CreateControl(const ControlTemplate& row)
{
    const QRect rect = MapDialogRect(row.x, row.y, row.cx, row.cy);
    const QString text = QString::fromStdString(row.text);
    const int id = row.id;
    QWidget* widget = nullptr;

    switch (row.kind) {
    case ControlKind::PushButton: {
        auto* button = new QPushButton(text, this);
        connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id, BN_CLICKED); });
        widget = button;
        break;
    }
    case ControlKind::CheckBox: {
        auto* box = new QCheckBox(text, this);
        connect(box, &QCheckBox::clicked, this, [this, id] { OnCommand(id, BN_CLICKED); });
        widget = box;
        break;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, this);
        edit->setReadOnly(row.styles & Style::ReadOnly);
        edit->setFrame(row.styles & Style::Border);
        if (row.styles & Style::Number)
            edit->setValidator(
                new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
        if (row.styles & Style::ReadOnly) {
            // Read-only edits are drawn on the dialog colour, as on Windows.
            QPalette p = edit->palette();
            p.setColor(QPalette::Base, p.color(QPalette::Window));
            edit->setPalette(p);
        }
        connect(edit, &QLineEdit::textEdited, this, [this, id] { OnCommand(id, EN_CHANGE); });
        widget = edit;
        break;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(this);
        label->setTextFormat(Qt::PlainText);
        label->setText((row.styles & Style::NoPrefix) ? text : StripMnemonics(row.text));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (row.styles & Style::Sunken)
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setGeometry(rect);
        // The stand-in font can run a little wider than the original; a
        // one-line label grows to the right rather than wrap or clip.
        const int needed = QFontMetrics(m_dialogFont).horizontalAdvance(label->text().trimmed()) +
                           2 * label->frameWidth();
        if (!label->text().contains(QLatin1Char('\n')) && needed > rect.width())
            label->resize(needed, rect.height());
        return label;
    }
    case ControlKind::GroupBox: {
        // Drawn the classic way: the frame's top edge runs through the
        // middle of the title line, and the title interrupts it.
        auto* group = new QGroupBox(text, this);
        group->setStyleSheet(QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: %1px; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
            " left: %2px; padding: 0 2px; }")
                                 .arg(m_baseUnitY / 2)
                                 .arg(m_baseUnitX));
        widget = group;
        break;
    }
    case ControlKind::Picture: {
        auto* picture = new QLabel(this);
        picture->setAlignment((row.styles & Style::CenterImage) ? Qt::AlignCenter
                                                                : Qt::AlignLeft | Qt::AlignTop);
        if (row.styles & Style::Sunken) {
            picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            picture->setLineWidth(1);
        }
        QPixmap image;
        if (row.image != 0)
            image = (row.styles & Style::Icon) ? LoadIcon(row.image).pixmap(32, 32)
                                               : LoadBitmap(row.image);
        picture->setGeometry(rect);
        if (!image.isNull()) {
            picture->setPixmap(image);
            // Without centring, a picture control takes its image's size.
            if (!(row.styles & Style::CenterImage)) {
                const int frame = picture->frameWidth();
                const QSize size = image.deviceIndependentSize().toSize();
                picture->resize(size.width() + 2 * frame, size.height() + 2 * frame);
            }
        }
        return picture;
    }
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        widget = bar;
        break;
    }
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(this);
        combo->setProperty("corvStyles", static_cast<uint>(row.styles));
        if (row.styles & Style::DropDown) {
            combo->setEditable(true);
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setCompleter(nullptr);
            // Qt selects an entry whose text was typed when the edit loses the
            // focus and reports it as the operator's choice; the classic box
            // leaves typed text alone, so only a pick from the list selects.
            QObject::disconnect(combo->lineEdit(), &QLineEdit::editingFinished, combo, nullptr);
            if (row.styles & Style::UpperCase)
                combo->lineEdit()->setValidator(new CUpperCaseValidator(combo));
        }
        for (const std::string& entry : row.entries)
            AddString(combo, entry);
        combo->setCurrentIndex(-1);
        connect(combo, &QComboBox::activated, this, [this, id] { OnCommand(id, CBN_SELCHANGE); });
        // The template height includes the dropped list; the closed box is
        // one edit line high.
        const int closed = m_baseUnitY + 8;
        const int listHeight = std::max(0, rect.height() - closed);
        combo->setMaxVisibleItems(std::max(1, listHeight / std::max(1, QFontMetrics(m_dialogFont).height())));
        combo->setGeometry(rect.x(), rect.y(), rect.width(), closed);
        return combo;
    }
    }
    widget->setGeometry(rect);
    return widget;
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

void CDialog::OnSysCommand(uint32_t id, intptr_t)
{
    switch (id & 0xFFF0) {
    case SC_CLOSE:
        OnClose();
        break;
    case SC_MINIMIZE:
        showMinimized();
        break;
    default:
        break;
    }
}

void CDialog::OnDestroy() {}

std::string CDialog::HelpFilePath()
{
    const QFileInfo program(QCoreApplication::applicationFilePath());
    return (program.absolutePath() + QLatin1Char('/') + program.completeBaseName() +
            QStringLiteral(".HLP"))
        .toStdString();
}

void CDialog::OnHelp()
{
    const std::string path = HelpFilePath();
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        MessageBox(this, "Unable to open the help file\n" + path);
        return;
    }
    const QString html = QString::fromUtf8(file.readAll());
    auto* help = findChild<QDialog*>(QStringLiteral("corvHelpWindow"));
    if (!help) {
        help = new QDialog(this, Qt::Window);
        help->setObjectName(QStringLiteral("corvHelpWindow"));
        help->setWindowTitle(QCoreApplication::applicationName() + QStringLiteral(" Help"));
        auto* layout = new QVBoxLayout(help);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* browser = new QTextBrowser(help);
        browser->setOpenExternalLinks(false);
        layout->addWidget(browser);
        help->resize(MapDialogRect(0, 0, 280, 240).size());
    }
    help->findChild<QTextBrowser*>()->setHtml(html);
    help->show();
    help->raise();
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

void CDialog::AppendSysMenuSeparator() { m_sysMenu.push_back({0, {}}); }

void CDialog::AppendSysMenuItem(uint32_t id, const std::string& text)
{
    m_sysMenu.push_back({id, text});
}

QMenu* CDialog::CreateSysMenu(QWidget* parent) const
{
    auto* menu = new QMenu(parent);
    auto* self = const_cast<CDialog*>(this);
    auto add = [menu, self](uint32_t id, const QString& text) {
        QAction* action = menu->addAction(text);
        action->setData(id);
        connect(action, &QAction::triggered, self,
                [self, id] { self->SendMessage(WM_SYSCOMMAND, id, 0); });
    };
    if (m_template.styles & Style::MinimizeBox)
        add(SC_MINIMIZE, QStringLiteral("Mi&nimize"));
    if (m_template.styles & Style::SysMenu) {
        menu->addSeparator();
        add(SC_CLOSE, QStringLiteral("&Close\tAlt+F4"));
    }
    for (const SysMenuItem& item : m_sysMenu) {
        if (item.id == 0 && item.text.empty())
            menu->addSeparator();
        else
            add(item.id, QString::fromStdString(item.text));
    }
    return menu;
}

void CDialog::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        OnCommand(IDCANCEL, BN_CLICKED);
        break;
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
    case Qt::Key_F1:
        OnHelp();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void CDialog::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (!m_ended)
        OnClose();
}

void CDialog::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu(CreateSysMenu(this));
    menu->exec(event->globalPos());
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
