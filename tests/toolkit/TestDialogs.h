#pragma once
// Small dialogs over the real templates, for the toolkit tests.
#include "Resources.h"
#include "ControlHelpers.h"
#include "DataExchange.h"
#include "Dialog.h"

#include <QApplication>

// The console's exchange kinds, one field each.
class CExchangeDlg : public CDialog {
public:
    CExchangeDlg() : CDialog(*GetDialogTemplate(IDD_CONSOLE)) {}

    std::string FileName;
    std::string VccText;
    int32_t BlowFuse = 0;
    uint32_t SerialNumber = 0;
    int32_t SerialType = 0;
    std::string SerialAddress = "1000";
    std::string DeviceName;
    int32_t CountUp = 0;
    int32_t Count = 0;
    QComboBox* DeviceList = nullptr;

protected:
    void DoDataExchange(CDataExchange& dx) override
    {
        DDX_Control(dx, IDC_DEVICE, DeviceList);
        DDX_Text(dx, IDC_FILENAME, FileName);
        DDX_Text(dx, IDC_VCC, VccText);
        DDX_Check(dx, IDC_BLOW_FUSE, BlowFuse);
        DDX_Text(dx, IDC_SERIAL_NUMBER, SerialNumber);
        DDX_CBIndex(dx, IDC_SERIAL_TYPE, SerialType);
        DDX_Text(dx, IDC_SERIAL_ADDRESS, SerialAddress);
        DDX_CBString(dx, IDC_DEVICE, DeviceName);
        DDX_Check(dx, IDC_COUNT_UP, CountUp);
        DDX_Text(dx, IDC_COUNT, Count);
    }
};

// The port dialog's exchange with the baud range check.
class CPortDlg : public CDialog {
public:
    CPortDlg() : CDialog(*GetDialogTemplate(IDD_PORT)) {}
    std::string Port;
    uint32_t Baud = 0;

protected:
    void DoDataExchange(CDataExchange& dx) override
    {
        DDX_CBString(dx, IDC_PORT_LIST, Port);
        DDX_Text(dx, IDC_BAUD, Baud);
        DDV_MinMaxUInt(dx, Baud, 2400, 115200);
    }
};

// Shows a dialog modelessly and makes it the active window, so focus
// changes are real.
inline void ShowActive(CDialog& dlg)
{
    dlg.Create();
    QApplication::setActiveWindow(&dlg);
}
