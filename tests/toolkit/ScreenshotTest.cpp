// Renders each template offscreen to a PNG under build/<preset>/screenshots,
// so a reviewer can look at the dialogs without a display.
#include "TestDialogs.h"
#include "ProgressBarWindow.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QProgressBar>

#include <gtest/gtest.h>

namespace {

QString Save(CDialog& dlg, const char* name)
{
    QDir().mkpath(QStringLiteral(CORV_SCREENSHOT_DIR));
    const QString path = QStringLiteral(CORV_SCREENSHOT_DIR "/%1.png").arg(QLatin1String(name));
    const QPixmap shot = dlg.grab();
    EXPECT_FALSE(shot.isNull());
    EXPECT_EQ(shot.deviceIndependentSize().toSize(), dlg.size());
    EXPECT_TRUE(shot.save(path));
    return path;
}

TEST(Screenshot, Console)
{
    CExchangeDlg dlg;
    auto* device = dlg.GetDlgItemAs<QComboBox>(IDC_DEVICE);
    for (const char* name : {"MSP430F112", "MSP430F149", "MSP430F2013", "MSP430G2553"})
        AddString(device, name);
    dlg.FileName = "/srv/firmware/sensor-node-2.4.txt";
    dlg.VccText = "3.3";
    dlg.SerialNumber = 100234;
    dlg.SerialType = 2;
    dlg.SerialAddress = "1000";
    dlg.DeviceName = "MSP430F149";
    dlg.CountUp = 1;
    dlg.Count = 17;
    dlg.BlowFuse = 0;
    dlg.Create();
    dlg.UpdateData(false);
    dlg.SetDlgItemText(IDC_OPERATION, "Verifying file");
    CProgressBarWindow progress(dlg.GetDlgItemAs<QProgressBar>(IDC_PROGRESS));
    progress.SetPos(60);
    const QPixmap pass = LoadBitmap(IDB_PASS);
    SetPicture(dlg.GetDlgItemAs<QLabel>(IDC_STATUS_PICTURE), &pass);
    const QString path = Save(dlg, "console-102");
    EXPECT_TRUE(QFile::exists(path));
    const QPixmap pending = LoadBitmap(IDB_PENDING);
    SetPicture(dlg.GetDlgItemAs<QLabel>(IDC_STATUS_PICTURE), &pending);
    progress.SetPos(0);
    for (int id : {IDC_BLOW_FUSE, IDC_CHECK_FUSE, IDC_BROWSE, IDC_COUNT_UP, IDC_ERASE_INFO, IDC_PORT,
                   IDC_RUN_BATCH, IDC_COUNT, IDC_DEVICE, IDC_SERIAL_NUMBER, IDC_SERIAL_ADDRESS,
                   IDC_SERIAL_TYPE, IDC_VCC})
        dlg.EnableWindow(id, false);
    Save(dlg, "console-102-disabled");
    const QPixmap fail = LoadBitmap(IDB_FAIL);
    SetPicture(dlg.GetDlgItemAs<QLabel>(IDC_STATUS_PICTURE), &fail);
    Save(dlg, "console-102-fail");
    dlg.DestroyWindow();
}

TEST(Screenshot, Port)
{
    CPortDlg dlg;
    dlg.Port = "COM3";
    dlg.Baud = 57600;
    dlg.Create();
    EXPECT_TRUE(QFile::exists(Save(dlg, "port-135")));
    dlg.DestroyWindow();
}

TEST(Screenshot, About)
{
    CDialog dlg(*GetDialogTemplate(IDD_ABOUT));
    dlg.Create();
    EXPECT_TRUE(QFile::exists(Save(dlg, "about-100")));
    dlg.DestroyWindow();
}

}  // namespace
