#pragma once
// CPortSelectDlg: "Port Selection" (template 135), where the operator picks
// the serial port and the baud rate the programmer is opened at. It only
// edits its two fields; the caller copies them back on OK.

#include "Dialog.h"

#include <cstdint>
#include <string>

// Baud rates OK accepts, both included; within them, only the rates the
// programmer takes (VELK_BAUD_RATES), else this message.
constexpr uint32_t MinBaud = 2400;
constexpr uint32_t MaxBaud = 115200;
inline constexpr const char* BaudRateMessage =
    "Please choose a baud rate the programmer takes: 2400, 4800, 9600, 19200, 38400, 57600 or 115200.";

class CPortSelectDlg : public CDialog {
public:
    explicit CPortSelectDlg(QWidget* owner = nullptr);
    ~CPortSelectDlg() override;

    // Shown when the dialog opens: Port selects the first list entry that
    // begins with it (ignoring case) or, when none does, stands as typed
    // text; Baud is shown as it is, in range or not.
    // On OK: Port = the combo's text, unchecked; Baud = the number typed, or
    // the dialog stays open with "Please enter a positive integer.",
    // "Please enter an integer between 2400 and 115200." or BaudRateMessage.
    std::string Port;
    uint32_t Baud = 0;

protected:
    void DoDataExchange(CDataExchange& dx) override;
};
