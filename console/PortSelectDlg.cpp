#include "PortSelectDlg.h"

#include "Resources.h"
#include "DataExchange.h"
#include "velk430.h"

#include <algorithm>
#include <iterator>

CPortSelectDlg::CPortSelectDlg(QWidget* owner) : CDialog(*GetDialogTemplate(IDD_PORT), owner) {}

CPortSelectDlg::~CPortSelectDlg() = default;

void CPortSelectDlg::DoDataExchange(CDataExchange& dx)
{
    DDX_CBString(dx, IDC_PORT_LIST, Port);
    DDX_Text(dx, IDC_BAUD, Baud);
    DDV_MinMaxUInt(dx, Baud, MinBaud, MaxBaud);
    // Within the range, only a rate the programmer takes: any other would be
    // accepted here and refused when the next command opens the port.
    static constexpr int32_t rates[] = VELK_BAUD_RATES;
    if (!dx.Failed() && dx.SaveAndValidate() &&
        std::find(std::begin(rates), std::end(rates), static_cast<int64_t>(Baud)) == std::end(rates))
        dx.Fail(BaudRateMessage);
}
