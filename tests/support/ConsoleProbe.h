#pragma once
// The one seam through which tests reach the console's own state. A
// CConsoleProbe is a console that makes public what tests read and set; it
// adds no behaviour and overrides nothing. Everything else stays private to
// the console, and a test that needs more adds it here, where it shows.

#include "MainConsoleDlg.h"
#include "ControlHelpers.h"
#include "Station.h"

#include <QLabel>

#include <string>

class CConsoleProbe : public CMainConsoleDlg {
public:
    using CMainConsoleDlg::CMainConsoleDlg;

    // Which status picture a console shows: "pending", "pass", "fail",
    // "none" or "other". Works on any console, also one the application made.
    static std::string Picture(const CMainConsoleDlg& console)
    {
        const QLabel* picture = console.StatusPicture;
        if (!picture || !HasPicture(picture))
            return "none";
        const qint64 shown = picture->pixmap().cacheKey();
        for (const auto& [bitmap, name] : {std::pair{console.PendingBitmap.get(), "pending"},
                                           std::pair{console.PassBitmap.get(), "pass"},
                                           std::pair{console.FailBitmap.get(), "fail"}})
            if (bitmap && shown == bitmap->cacheKey())
                return name;
        return "other";
    }

    // The controls tests press and read.
    using CMainConsoleDlg::BlowFuseCheck;
    using CMainConsoleDlg::CheckFuseButton;
    using CMainConsoleDlg::CountEdit;
    using CMainConsoleDlg::CountUpCheck;
    using CMainConsoleDlg::DeviceList;
    using CMainConsoleDlg::EraseInfoCheck;
    using CMainConsoleDlg::ExitButton;
    using CMainConsoleDlg::OperationEdit;
    using CMainConsoleDlg::ProgressBar;
    using CMainConsoleDlg::RunBatchButton;
    using CMainConsoleDlg::SerialNumberEdit;
    using CMainConsoleDlg::SerialTypeList;
    using CMainConsoleDlg::StatusPicture;
    using CMainConsoleDlg::VccEdit;
    using CMainConsoleDlg::FileNameEdit;
    using CMainConsoleDlg::SerialAddressEdit;
    // The station core, for what a test sets before the window starts.
    using CMainConsoleDlg::Station;

    // The operator's settings as the console holds them.
    using CMainConsoleDlg::Baud;
    using CMainConsoleDlg::BlowFuse;
    using CMainConsoleDlg::CommPort;
    using CMainConsoleDlg::Count;
    using CMainConsoleDlg::CountUp;
    using CMainConsoleDlg::DeviceName;
    using CMainConsoleDlg::EraseFlash;
    using CMainConsoleDlg::FileName;
    using CMainConsoleDlg::SerialAddress;
    using CMainConsoleDlg::SerialNumber;
    using CMainConsoleDlg::SerialType;
    using CMainConsoleDlg::SettingsLoaded;
    using CMainConsoleDlg::Vcc;

    // Pictures; the session and the record of the console's station core.
    using CMainConsoleDlg::FailBitmap;
    using CMainConsoleDlg::Icon;
    using CMainConsoleDlg::PassBitmap;
    using CMainConsoleDlg::PendingBitmap;
    const std::unique_ptr<CProductionRecord>& Record = CMainConsoleDlg::Station->RecordFile();
    int& RecordBusyTimeoutMs = CMainConsoleDlg::Station->RecordBusyTimeoutMs;
    QString& RecordPath = CMainConsoleDlg::Station->RecordPath;
    const std::unique_ptr<CVELK>& Session = CMainConsoleDlg::Station->OpenSessionHandle();

    // Helpers tests call directly.
    using CMainConsoleDlg::EnableControls;
    using CMainConsoleDlg::InitSystemMenu;
    using CMainConsoleDlg::ShowPass;
};
