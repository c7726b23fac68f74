#include "TestDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace {

QLineEdit* Edit(CDialog& d, int id) { return d.GetDlgItemAs<QLineEdit>(id); }

TEST(DataExchange, OutShowsEveryKind)
{
    CMessageBoxRecorder boxes;
    CExchangeDlg dlg;
    auto* device = dlg.GetDlgItemAs<QComboBox>(IDC_DEVICE);
    for (const char* name : {"msp430f149", "ABC12", "ABC10", "B5"})
        AddString(device, name);
    dlg.FileName = "/tmp/fw.txt";
    dlg.VccText = "3.3";
    dlg.BlowFuse = 1;
    dlg.SerialNumber = 4294967295u;
    dlg.SerialType = 2;
    dlg.DeviceName = "abc1";
    dlg.CountUp = 7;  // outside 0..2: reset to 0
    dlg.Count = -5;
    dlg.UpdateData(false);

    EXPECT_EQ(dlg.DeviceList, device);  // attachment
    EXPECT_EQ(Edit(dlg, IDC_FILENAME)->text(), QStringLiteral("/tmp/fw.txt"));
    EXPECT_EQ(Edit(dlg, IDC_VCC)->text(), QStringLiteral("3.3"));
    EXPECT_TRUE(dlg.GetDlgItemAs<QCheckBox>(IDC_BLOW_FUSE)->isChecked());
    EXPECT_EQ(Edit(dlg, IDC_SERIAL_NUMBER)->text(), QStringLiteral("4294967295"));
    EXPECT_EQ(GetCurSel(dlg.GetDlgItemAs<QComboBox>(IDC_SERIAL_TYPE)), 2);
    EXPECT_EQ(device->currentText(), QStringLiteral("ABC10"));  // first entry beginning abc1
    EXPECT_EQ(dlg.CountUp, 0);
    EXPECT_FALSE(dlg.GetDlgItemAs<QCheckBox>(IDC_COUNT_UP)->isChecked());
    EXPECT_EQ(Edit(dlg, IDC_COUNT)->text(), QStringLiteral("-5"));
    EXPECT_TRUE(boxes.Boxes.empty());

    // Round trip.
    dlg.FileName.clear();
    dlg.SerialNumber = 0;
    dlg.Count = 0;
    dlg.DeviceName.clear();
    ASSERT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.FileName, "/tmp/fw.txt");
    EXPECT_EQ(dlg.SerialNumber, 4294967295u);
    EXPECT_EQ(dlg.SerialType, 2);
    EXPECT_EQ(dlg.DeviceName, "ABC10");
    EXPECT_EQ(dlg.BlowFuse, 1);
    EXPECT_EQ(dlg.CountUp, 0);
    EXPECT_EQ(dlg.Count, -5);
}

TEST(DataExchange, CheckStateTwoShowsTickedAndReadsOne)
{
    CExchangeDlg dlg;
    dlg.BlowFuse = 2;
    dlg.CountUp = -1;
    dlg.UpdateData(false);
    EXPECT_EQ(dlg.BlowFuse, 2);
    EXPECT_EQ(dlg.CountUp, 0);
    ASSERT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.BlowFuse, 1);
}

TEST(DataExchange, ListIndexOutsideLeavesNoSelection)
{
    CExchangeDlg dlg;
    dlg.SerialType = 3;
    dlg.UpdateData(false);
    dlg.SerialType = 7;
    dlg.UpdateData(false);
    EXPECT_EQ(GetCurSel(dlg.GetDlgItemAs<QComboBox>(IDC_SERIAL_TYPE)), -1);
    ASSERT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.SerialType, -1);
}

TEST(DataExchange, ListTextWithoutMatchGoesIntoEditAndKeepsSelection)
{
    CExchangeDlg dlg;
    auto* device = dlg.GetDlgItemAs<QComboBox>(IDC_DEVICE);
    AddString(device, "MSP430F112");
    AddString(device, "MSP430F149");
    SetCurSel(device, 1);
    dlg.DeviceName = "xyz9";
    dlg.UpdateData(false);
    EXPECT_EQ(device->currentIndex(), 1);
    EXPECT_EQ(device->currentText(), QStringLiteral("XYZ9"));  // upper-case combo
    ASSERT_TRUE(dlg.UpdateData(true));
    EXPECT_EQ(dlg.DeviceName, "XYZ9");
}

TEST(DataExchange, PortListPrefixIgnoringCase)
{
    struct Case { const char* port; int selected; const char* text; };
    const Case cases[] = {
        {"COM1", 0, "COM1"}, {"com3", 2, "COM3"}, {"COM", 0, "COM1"}, {"COM12", -1, "COM12"}};
    for (const auto& c : cases) {
        CPortDlg dlg;
        dlg.Port = c.port;
        dlg.Baud = 57600;
        dlg.UpdateData(false);
        auto* port = dlg.GetDlgItemAs<QComboBox>(IDC_PORT_LIST);
        EXPECT_EQ(port->currentIndex(), c.selected) << c.port;
        EXPECT_EQ(port->currentText().toStdString(), c.text) << c.port;
        ASSERT_TRUE(dlg.UpdateData(true)) << c.port;
        EXPECT_EQ(dlg.Port, c.text);
        EXPECT_EQ(dlg.Baud, 57600u);
    }
}

// An exchange in stops at the first failing field with its message, focus
// on that control with its text selected; earlier fields took their values.
TEST(DataExchange, InStopsAtFirstFailure)
{
    struct Case {
        int id;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {IDC_SERIAL_NUMBER, "-1", "Please enter a positive integer."},
        {IDC_SERIAL_NUMBER, "", "Please enter a positive integer."},
        {IDC_SERIAL_NUMBER, "12 apples", "Please enter a positive integer."},
        {IDC_COUNT, "x", "Please enter an integer."},
        {IDC_COUNT, "", "Please enter an integer."},
    };
    for (const auto& c : cases) {
        CMessageBoxRecorder boxes;
        CExchangeDlg dlg;
        ShowActive(dlg);
        dlg.UpdateData(false);
        dlg.SetDlgItemText(IDC_VCC, "5.0");
        dlg.SetDlgItemText(c.id, c.text);
        dlg.SetDlgItemText(IDC_SERIAL_ADDRESS, "2000");  // after SerialNumber, before Count
        dlg.GotoDlgCtrl(IDC_RUN_BATCH);
        EXPECT_FALSE(dlg.UpdateData(true)) << c.text;
        ASSERT_EQ(boxes.Boxes.size(), 1u);
        EXPECT_EQ(boxes.Boxes[0].text, c.message);
        EXPECT_EQ(boxes.Boxes[0].owner, &dlg);
        EXPECT_EQ(boxes.Boxes[0].caption, "Corvantis");
        EXPECT_EQ(dlg.focusWidget(), dlg.GetDlgItem(c.id));
        EXPECT_EQ(Edit(dlg, c.id)->selectedText(), Edit(dlg, c.id)->text());
        EXPECT_EQ(dlg.VccText, "5.0");  // before the failure
        if (c.id == IDC_SERIAL_NUMBER)
            EXPECT_EQ(dlg.SerialAddress, "1000");  // after it: untouched
        else
            EXPECT_EQ(dlg.SerialAddress, "2000");
        dlg.DestroyWindow();
    }
}

TEST(DataExchange, BaudRangeCheck)
{
    struct Case {
        const char* text;
        bool ok;
        uint32_t baud;
        const char* message;
    };
    const char* range = "Please enter an integer between 2400 and 115200.";
    const Case cases[] = {
        {"2400", true, 2400, ""},
        {"115200", true, 115200, ""},
        {" 9600 ", true, 9600, ""},
        {"\t+57600", true, 57600, ""},
        {"2399", false, 0, range},
        {"115201", false, 0, range},
        {"0", false, 0, range},
        {"99999999999", false, 0, range},  // taken as the 32-bit limit
        {"", false, 0, "Please enter a positive integer."},
        {"-9600", false, 0, "Please enter a positive integer."},
        {"9600 baud", false, 0, "Please enter a positive integer."},
    };
    for (const auto& c : cases) {
        CMessageBoxRecorder boxes;
        CPortDlg dlg;
        ShowActive(dlg);
        dlg.Port = "COM1";
        dlg.Baud = 300;  // shown without complaint
        dlg.UpdateData(false);
        EXPECT_TRUE(boxes.Boxes.empty());
        dlg.SetDlgItemText(IDC_BAUD, c.text);
        EXPECT_EQ(dlg.UpdateData(true), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(dlg.Baud, c.baud);
            EXPECT_TRUE(boxes.Boxes.empty());
        } else {
            ASSERT_EQ(boxes.Texts(), std::vector<std::string>{c.message}) << c.text;
            auto* baud = Edit(dlg, IDC_BAUD);
            EXPECT_EQ(dlg.focusWidget(), baud);
            EXPECT_EQ(baud->selectedText(), baud->text());
        }
        dlg.DestroyWindow();
    }
}

TEST(DataExchange, SignedRangeMessageFillsLimits)
{
    CMessageBoxRecorder boxes;
    CExchangeDlg dlg;
    CDataExchange dx(&dlg, true);
    dx.PrepareCtrl(IDC_COUNT);
    DDV_MinMaxInt(dx, -11, -10, 10);
    EXPECT_TRUE(dx.Failed());
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Please enter an integer between -10 and 10."});
    // Later calls do nothing once failed.
    int32_t count = 99;
    DDX_Text(dx, IDC_COUNT, count);
    EXPECT_EQ(count, 99);
    EXPECT_EQ(boxes.Boxes.size(), 1u);
}

}  // namespace
