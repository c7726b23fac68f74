#pragma once
// CPortSelectDlg: "Port Selection" (template 135), where the operator picks
// the serial port and the baud rate the programmer is opened at. It only
// edits its two fields; the caller copies them back on OK.

#include "Dialog.h"

#include <cstdint>
#include <string>

// Baud rates OK accepts, both included.
constexpr uint32_t MinBaud = 2400;
constexpr uint32_t MaxBaud = 115200;

class CPortSelectDlg : public CDialog {
public:
    explicit CPortSelectDlg(QWidget* owner = nullptr);
    ~CPortSelectDlg() override;

    // Shown when the dialog opens: Port selects the first list entry that
    // begins with it (ignoring case) or, when none does, stands as typed
    // text; Baud is shown as it is, in range or not.
    // On OK: Port = the combo's text, unchecked; Baud = the number typed, or
    // the dialog stays open with "Please enter a positive integer." or
    // "Please enter an integer between 2400 and 115200.".
    std::string Port;
    uint32_t Baud = 0;

protected:
    void DoDataExchange(CDataExchange& dx) override;
};
