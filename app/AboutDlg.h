#pragma once
// CAboutDlg: the About box (template 100), opened from the console's system
// menu. No fields; OK, Esc and the close box end it.

#include "Dialog.h"

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(QWidget* owner = nullptr);
    ~CAboutDlg() override;

protected:
    void DoDataExchange(CDataExchange& dx) override;
};

// Shows the About box over owner until it is closed: what the application
// hands the console (CMainConsoleDlg::SetAboutBox).
void OpenAboutBox(QWidget* owner);
