#include "PortSelectDlg.h"

#include "Resources.h"
#include "DataExchange.h"

CPortSelectDlg::CPortSelectDlg(QWidget* owner) : CDialog(*GetDialogTemplate(IDD_PORT), owner) {}

CPortSelectDlg::~CPortSelectDlg() = default;

void CPortSelectDlg::DoDataExchange(CDataExchange& dx)
{
    DDX_CBString(dx, IDC_PORT_LIST, Port);
    DDX_Text(dx, IDC_BAUD, Baud);
    DDV_MinMaxUInt(dx, Baud, MinBaud, MaxBaud);
}
