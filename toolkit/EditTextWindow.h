#pragma once
// The session's status field on a read-only QLineEdit.

#include "Controls.h"

class QLineEdit;

class CEditTextWindow : public CTextWindow {
public:
    explicit CEditTextWindow(QLineEdit* edit) : m_edit(edit) {}
    // Sets the text and repaints at once, so it shows while a command
    // blocks the window's thread. A null edit ignores the call.
    void SetWindowText(const std::string& text) override;

private:
    QLineEdit* m_edit;
};
