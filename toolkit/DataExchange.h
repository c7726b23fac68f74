#pragma once
// Two-way transfer between a dialog's fields and its controls, with
// validation messages. A DoDataExchange override lists one call per
// field; in the inward direction the first failing call shows its message,
// puts the focus on its control (text selected) and turns every later call
// into a no-op, so UpdateData(true) returns false.

#include <QString>

#include <cstdint>
#include <string>

class CDialog;
class QWidget;

class CDataExchange {
public:
    CDataExchange(CDialog* dialog, bool saveAndValidate);

    CDialog* Dialog() const { return m_dialog; }
    // true: controls -> fields (in), with validation; false: fields -> controls (out).
    bool SaveAndValidate() const { return m_saveAndValidate; }
    bool Failed() const { return m_failed; }

    // The control of the last exchange call (what DDV_ checks refer to).
    QWidget* PrepareCtrl(int id);
    QWidget* LastControl() const { return m_lastControl; }
    // Shows text in the message box, focuses the last control and selects
    // its text, and fails the exchange.
    void Fail(const std::string& text);

private:
    CDialog* m_dialog;
    bool m_saveAndValidate;
    bool m_failed = false;
    QWidget* m_lastControl = nullptr;
};

// Standard messages.
inline constexpr const char* MsgPositiveInteger = "Please enter a positive integer.";
inline constexpr const char* MsgInteger = "Please enter an integer.";
// %1 and %2 are replaced by the limits.
inline constexpr const char* MsgIntegerRange = "Please enter an integer between %1 and %2.";

// Attaches a field to the control with that id (null when the id is not a T).
template <class T> void DDX_Control(CDataExchange& dx, int id, T*& control);

// Text of an edit, combo or button, both ways.
void DDX_Text(CDataExchange& dx, int id, std::string& value);
// Unsigned decimal: out writes the number; in parses (DecimalText.h rules),
// failure "Please enter a positive integer.".
void DDX_Text(CDataExchange& dx, int id, uint32_t& value);
// Signed decimal; failure "Please enter an integer.".
void DDX_Text(CDataExchange& dx, int id, int32_t& value);
// Check state: out sets the box (a value outside 0..2 is first reset to 0;
// 2, indeterminate, shows as ticked); in reads 0 or 1.
void DDX_Check(CDataExchange& dx, int id, int32_t& value);
// List index: out selects it (outside the list: no selection); in reads the
// selected index, -1 when none.
void DDX_CBIndex(CDataExchange& dx, int id, int32_t& index);
// List text: out selects the first entry that begins with value ignoring
// case; when none does, the selection stays and value goes into the edit
// field. In reads the edit field's text (a list without one: the selected
// entry's text, empty when none).
void DDX_CBString(CDataExchange& dx, int id, std::string& value);
// Range check of the last DDX_Text (unsigned comparison); only in the
// inward direction. Failure "Please enter an integer between <min> and <max>.".
void DDV_MinMaxUInt(CDataExchange& dx, uint32_t value, uint32_t minValue, uint32_t maxValue);
// Signed counterpart.
void DDV_MinMaxInt(CDataExchange& dx, int32_t value, int32_t minValue, int32_t maxValue);

// --- implementation of the template ---
#include "Dialog.h"

template <class T> void DDX_Control(CDataExchange& dx, int id, T*& control)
{
    if (dx.Failed())
        return;
    control = qobject_cast<T*>(dx.PrepareCtrl(id));
}
