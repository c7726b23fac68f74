// Dialog templates, row by row in template (= tab) order.
#include "Resources.h"

#include "MessageBox.h"  // IDOK, IDCANCEL

namespace {

using K = ControlKind;
using namespace Style;

constexpr uint32_t EditStyle = Border | AutoHScroll | TabStop;

const DialogTemplate ConsoleTemplate{
    IDD_CONSOLE, "MSP430 VELK Serializing Shell", 0, 0, 256, 202, "MS Sans Serif", 8,
    SysMenu | MinimizeBox | ModalFrame | AppWindow | Visible,
    {
        {IDC_RUN_BATCH, K::PushButton, "Run Batch", 199, 89, 50, 14, DefPushButton | TabStop, 0, {}},
        {IDC_CHECK_FUSE, K::PushButton, "Check Fuse", 199, 181, 50, 14, TabStop, 0, {}},
        {IDC_EXIT, K::PushButton, "Exit", 199, 7, 50, 14, TabStop, 0, {}},
        {IDC_PORT, K::PushButton, "Port ...", 199, 29, 50, 14, TabStop, 0, {}},
        {IDC_BROWSE, K::PushButton, "...", 178, 59, 12, 12, TabStop, 0, {}},
        {IDOK, K::PushButton, "OK", 199, 18, 50, 14, DefPushButton | Hidden | TabStop, 0, {}},
        {IDC_LOGO, K::Picture, "", 7, 7, 183, 36, Sunken, IDB_LOGO, {}},
        {IDC_STATIC, K::Label, "Filename:  ", 7, 49, 34, 8, 0, 0, {}},
        {IDC_FILENAME, K::Edit, "", 7, 59, 170, 12, EditStyle | ReadOnly, 0, {}},
        {IDC_STATIC, K::Label, "Device  ", 7, 78, 26, 8, 0, 0, {}},
        {IDC_STATIC, K::Label, "Vcc  ", 90, 78, 16, 8, 0, 0, {}},
        {IDC_VCC, K::Edit, "", 90, 88, 21, 12, EditStyle, 0, {}},
        {IDC_STATIC, K::Label, "volts  ", 115, 90, 18, 8, 0, 0, {}},
        {IDC_STATUS_PICTURE, K::Picture, "", 208, 52, 28, 28, Sunken | CenterImage, 0, {}},
        {IDC_STATIC, K::Label, "Procedure  ", 7, 153, 37, 8, 0, 0, {}},
        {IDC_PROGRESS, K::ProgressBar, "", 7, 163, 185, 8, Border, 0, {}},
        {IDC_STATIC, K::Label, "Operation  ", 7, 172, 54, 8, 0, 0, {}},
        {IDC_OPERATION, K::Edit, "", 7, 182, 185, 12, EditStyle | ReadOnly, 0, {}},
        {IDCANCEL, K::PushButton, "Cancel", 199, 20, 50, 14, Hidden | TabStop, 0, {}},
        {IDC_BLOW_FUSE, K::CheckBox, "Blow Fuse   ", 199, 118, 52, 10, TabStop, 0, {}},
        {IDC_ERASE_INFO, K::CheckBox, "Erase Info", 199, 130, 46, 10, TabStop, 0, {}},
        {IDC_SERIAL_NUMBER, K::Edit, "", 15, 126, 60, 12, EditStyle, 0, {}},
        {IDC_STATIC, K::Label, "Next Serial Number  ", 15, 116, 62, 8, 0, 0, {}},
        {IDC_SERIAL_ADDRESS, K::Edit, "", 85, 126, 30, 12, EditStyle, 0, {}},
        {IDC_STATIC, K::Label, "Address  ", 85, 116, 30, 8, 0, 0, {}},
        {IDC_STATIC, K::GroupBox, "Serial Number", 7, 106, 184, 40, 0, 0, {}},
        {IDC_STATIC, K::Label, "Type  ", 123, 115, 55, 8, 0, 0, {}},
        {IDC_SERIAL_TYPE, K::ComboBox, "", 123, 126, 60, 63, DropDownList | VScroll | TabStop, 0,
         {"(none)", "BYTE", "WORD", "DWORD"}},
        {IDC_DEVICE, K::ComboBox, "", 7, 88, 76, 92,
         DropDown | Sort | UpperCase | VScroll | TabStop, 0, {}},
        {IDC_STATIC, K::Label, "v. " CORV_VERSION, 199, 162, 50, 8, 0, 0, {}},
        {IDC_STATIC, K::Label, "Count   ", 140, 78, 23, 8, 0, 0, {}},
        {IDC_COUNT, K::Edit, "", 140, 88, 21, 12, EditStyle, 0, {}},
        {IDC_COUNT_UP, K::CheckBox, "Up  ", 166, 90, 28, 10, TabStop, 0, {}},
    }};

const DialogTemplate PortTemplate{
    IDD_PORT, "Port Selection", 0, 0, 127, 79, "MS Sans Serif", 8, SysMenu | ModalFrame,
    {
        {IDOK, K::PushButton, "OK", 9, 58, 50, 14, DefPushButton | TabStop, 0, {}},
        {IDCANCEL, K::PushButton, "Cancel", 67, 58, 50, 14, TabStop, 0, {}},
        {IDC_STATIC, K::GroupBox, "Serial Port", 7, 7, 113, 41, 0, 0, {}},
        {IDC_STATIC, K::Label, "Port  ", 14, 17, 18, 8, 0, 0, {}},
        {IDC_PORT_LIST, K::ComboBox, "", 14, 28, 48, 58, DropDown | Sort | VScroll | TabStop, 0,
         {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}},
        {IDC_STATIC, K::Label, "Baud  ", 71, 17, 22, 8, 0, 0, {}},
        {IDC_BAUD, K::Edit, "", 71, 28, 40, 12, Number | EditStyle, 0, {}},
    }};

const DialogTemplate AboutTemplate{
    IDD_ABOUT, "About Corvantis", 0, 0, 235, 108, "MS Sans Serif", 8, SysMenu | ModalFrame,
    {
        {IDC_STATIC, K::Picture, "", 11, 10, 20, 20, Icon, IDI_MAIN, {}},
        {IDC_STATIC, K::Label, "Corvantis", 40, 10, 119, 8, NoPrefix, 0, {}},
        {IDOK, K::PushButton, "OK", 178, 7, 50, 14, DefPushButton | TabStop, 0, {}},
        {IDC_STATIC, K::Picture, "", 65, 35, 104, 31, Sunken, IDB_LOGO, {}},
    }};

}  // namespace

const DialogTemplate* GetDialogTemplate(int id)
{
    switch (id) {
    case IDD_CONSOLE:
        return &ConsoleTemplate;
    case IDD_PORT:
        return &PortTemplate;
    case IDD_ABOUT:
        return &AboutTemplate;
    default:
        return nullptr;
    }
}
