#include "ControlBuilders.h"

#include "ControlHelpers.h"
#include "Dialog.h"  // BN_CLICKED, CBN_SELCHANGE, EN_CHANGE

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <algorithm>

namespace {

// Static text drops a single ampersand (it marks a mnemonic) and shows "&&"
// as one.
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

// Connects signal of widget to the dialog's command (row id, code).
template <class W, class Signal>
void Notify(W* widget, Signal signal, const ControlContext& c, int id, int code)
{
    QObject::connect(widget, signal, c.parent, [notify = c.notify, id, code] { notify(id, code); });
}

QWidget* BuildPushButton(const ControlTemplate& row, QRect rect, const ControlContext& c)
{
    auto* button = new QPushButton(QString::fromStdString(row.text), c.parent);
    Notify(button, &QPushButton::clicked, c, row.id, BN_CLICKED);
    button->setGeometry(rect);
    return button;
}

QWidget* BuildCheckBox(const ControlTemplate& row, QRect rect, const ControlContext& c)
{
    auto* box = new QCheckBox(QString::fromStdString(row.text), c.parent);
    Notify(box, &QCheckBox::clicked, c, row.id, BN_CLICKED);
    box->setGeometry(rect);
    return box;
}

QWidget* BuildEdit(const ControlTemplate& row, QRect rect, const ControlContext& c)
{
    auto* edit = new QLineEdit(QString::fromStdString(row.text), c.parent);
    edit->setReadOnly(row.styles & Style::ReadOnly);
    edit->setFrame(row.styles & Style::Border);
    if (row.styles & Style::Number)
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    if (row.styles & Style::ReadOnly) {
        // A read-only edit is drawn on the dialog colour, so it reads as
        // information rather than as a field to type in.
        QPalette p = edit->palette();
        p.setColor(QPalette::Base, p.color(QPalette::Window));
        edit->setPalette(p);
    }
    Notify(edit, &QLineEdit::textEdited, c, row.id, EN_CHANGE);
    edit->setGeometry(rect);
    return edit;
}

QWidget* BuildLabel(const ControlTemplate& row, QRect rect, const ControlContext& c)
{
    auto* label = new QLabel(c.parent);
    label->setTextFormat(Qt::PlainText);
    label->setText((row.styles & Style::NoPrefix) ? QString::fromStdString(row.text)
                                                  : StripMnemonics(row.text));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (row.styles & Style::Sunken)
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setGeometry(rect);
    // The stand-in font can run a little wider than the named one; a
    // one-line label grows to the right rather than wrap or clip.
    const int needed =
        QFontMetrics(c.font).horizontalAdvance(label->text().trimmed()) + 2 * label->frameWidth();
    if (!label->text().contains(QLatin1Char('\n')) && needed > rect.width())
        label->resize(needed, rect.height());
    return label;
}

QWidget* BuildGroupBox(const ControlTemplate& row, QRect rect, const ControlContext& c)
{
    // The frame's top edge runs through the middle of the title line, and
    // the title interrupts it.
    auto* group = new QGroupBox(QString::fromStdString(row.text), c.parent);
    group->setStyleSheet(
        QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: %1px; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
            " left: %2px; padding: 0 2px; }")
            .arg(c.units.baseY / 2)
            .arg(c.units.baseX));
    group->setGeometry(rect);
    return group;
}

QWidget* BuildPicture(const ControlTemplate& row, QRect rect, const ControlContext& c)
{
    auto* picture = new QLabel(c.parent);
    picture->setAlignment((row.styles & Style::CenterImage) ? Qt::AlignCenter
                                                            : Qt::AlignLeft | Qt::AlignTop);
    if (row.styles & Style::Sunken) {
        picture->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        picture->setLineWidth(1);
    }
    QPixmap image;
    if (row.image != 0)
        image =
            (row.styles & Style::Icon) ? LoadIcon(row.image).pixmap(32, 32) : LoadBitmap(row.image);
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

QWidget* BuildProgressBar(const ControlTemplate&, QRect rect, const ControlContext& c)
{
    auto* bar = new QProgressBar(c.parent);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setGeometry(rect);
    return bar;
}

QWidget* BuildComboBox(const ControlTemplate& row, QRect rect, const ControlContext& c)
{
    auto* combo = new QComboBox(c.parent);
    combo->setProperty("corvStyles", static_cast<uint>(row.styles));
    if (row.styles & Style::DropDown) {
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);
        // Qt selects an entry whose text was typed when the edit loses the
        // focus and reports it as the operator's choice; here typed text is
        // left alone, so only a pick from the list selects.
        QObject::disconnect(combo->lineEdit(), &QLineEdit::editingFinished, combo, nullptr);
        if (row.styles & Style::UpperCase)
            combo->lineEdit()->setValidator(new CUpperCaseValidator(combo));
    }
    for (const std::string& entry : row.entries)
        AddString(combo, entry);
    combo->setCurrentIndex(-1);
    Notify(combo, &QComboBox::activated, c, row.id, CBN_SELCHANGE);
    // The template height includes the dropped list; the closed box is one
    // edit line high.
    const int closed = c.units.baseY + 8;
    const int listHeight = std::max(0, rect.height() - closed);
    combo->setMaxVisibleItems(std::max(1, listHeight / std::max(1, QFontMetrics(c.font).height())));
    combo->setGeometry(rect.x(), rect.y(), rect.width(), closed);
    return combo;
}

}  // namespace

QWidget* BuildControl(const ControlTemplate& row, const ControlContext& context)
{
    using Builder = QWidget* (*)(const ControlTemplate&, QRect, const ControlContext&);
    Builder build = nullptr;
    switch (row.kind) {
    case ControlKind::PushButton: build = BuildPushButton; break;
    case ControlKind::CheckBox: build = BuildCheckBox; break;
    case ControlKind::Edit: build = BuildEdit; break;
    case ControlKind::Label: build = BuildLabel; break;
    case ControlKind::GroupBox: build = BuildGroupBox; break;
    case ControlKind::Picture: build = BuildPicture; break;
    case ControlKind::ProgressBar: build = BuildProgressBar; break;
    case ControlKind::ComboBox: build = BuildComboBox; break;
    }
    return build(row, context.units.Map(row.x, row.y, row.cx, row.cy), context);
}
