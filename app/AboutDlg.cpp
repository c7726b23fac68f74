#include "AboutDlg.h"

#include "Resources.h"

CAboutDlg::CAboutDlg(QWidget* owner) : CDialog(*GetDialogTemplate(IDD_ABOUT), owner) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange&) {}

void OpenAboutBox(QWidget* owner)
{
    CAboutDlg about(owner);
    about.DoModal();
}
