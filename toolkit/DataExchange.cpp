#include "DataExchange.h"

#include "ControlHelpers.h"
#include "DecimalText.h"
#include "MessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace {

std::string ControlText(QWidget* w)
{
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text().toStdString();
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text().toStdString();
    return {};
}

void SetControlText(QWidget* w, const std::string& text)
{
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(QString::fromStdString(text));
    else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->isEditable())
            SetEditText(combo, text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(QString::fromStdString(text));
}

}  // namespace

CDataExchange::CDataExchange(CDialog* dialog, bool saveAndValidate)
    : m_dialog(dialog), m_saveAndValidate(saveAndValidate)
{}

QWidget* CDataExchange::PrepareCtrl(int id)
{
    m_lastControl = m_dialog ? m_dialog->GetDlgItem(id) : nullptr;
    return m_lastControl;
}

void CDataExchange::Fail(const std::string& text)
{
    MessageBox(m_dialog, text);
    if (m_dialog && m_lastControl)
        m_dialog->GotoDlgCtrl(m_lastControl);
    m_failed = true;
}

void DDX_Text(CDataExchange& dx, int id, std::string& value)
{
    if (dx.Failed())
        return;
    QWidget* w = dx.PrepareCtrl(id);
    if (dx.SaveAndValidate())
        value = ControlText(w);
    else
        SetControlText(w, value);
}

namespace {

// A number field: shown in decimal, read back by the given rule, which names
// its own message on failure.
template <typename T, typename Parse>
void ExchangeNumber(CDataExchange& dx, int id, T& value, Parse parse, const char* message)
{
    if (dx.Failed())
        return;
    QWidget* w = dx.PrepareCtrl(id);
    if (!dx.SaveAndValidate()) {
        SetControlText(w, std::to_string(value));
        return;
    }
    if (auto parsed = parse(ControlText(w)))
        value = *parsed;
    else
        dx.Fail(message);
}

}  // namespace

void DDX_Text(CDataExchange& dx, int id, uint32_t& value)
{
    ExchangeNumber(dx, id, value, ParseUnsignedDecimal, MsgPositiveInteger);
}

void DDX_Text(CDataExchange& dx, int id, int32_t& value)
{
    ExchangeNumber(dx, id, value, ParseSignedDecimal, MsgInteger);
}

void DDX_Check(CDataExchange& dx, int id, int32_t& value)
{
    if (dx.Failed())
        return;
    auto* box = qobject_cast<QCheckBox*>(dx.PrepareCtrl(id));
    if (dx.SaveAndValidate()) {
        value = box && box->checkState() != Qt::Unchecked ? 1 : 0;
        return;
    }
    if (value < 0 || value > 2)
        value = 0;
    if (box)
        box->setChecked(value != 0);
}

void DDX_CBIndex(CDataExchange& dx, int id, int32_t& index)
{
    if (dx.Failed())
        return;
    auto* combo = qobject_cast<QComboBox*>(dx.PrepareCtrl(id));
    if (dx.SaveAndValidate())
        index = combo ? GetCurSel(combo) : CB_ERR;
    else if (combo)
        SetCurSel(combo, index);
}

void DDX_CBString(CDataExchange& dx, int id, std::string& value)
{
    if (dx.Failed())
        return;
    auto* combo = qobject_cast<QComboBox*>(dx.PrepareCtrl(id));
    if (!combo)
        return;
    if (dx.SaveAndValidate()) {
        value = combo->currentText().toStdString();
        return;
    }
    if (SelectString(combo, value) == CB_ERR && combo->isEditable())
        SetEditText(combo, value);
}

void DDV_MinMaxUInt(CDataExchange& dx, uint32_t value, uint32_t minValue, uint32_t maxValue)
{
    if (dx.Failed() || !dx.SaveAndValidate())
        return;
    if (value < minValue || value > maxValue)
        dx.Fail(QString::fromLatin1(MsgIntegerRange).arg(minValue).arg(maxValue).toStdString());
}

void DDV_MinMaxInt(CDataExchange& dx, int32_t value, int32_t minValue, int32_t maxValue)
{
    if (dx.Failed() || !dx.SaveAndValidate())
        return;
    if (value < minValue || value > maxValue)
        dx.Fail(QString::fromLatin1(MsgIntegerRange).arg(minValue).arg(maxValue).toStdString());
}
