#include "AboutDlg.h"

#include "resources/Resources.h"

CAboutDlg::CAboutDlg(QWidget* owner) : CDialog(*GetDialogTemplate(IDD_ABOUT), owner) {}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::DoDataExchange(CDataExchange&) {}
