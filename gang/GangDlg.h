#pragma once
// CGangDlg: the gang window, a face of the station core for up to eight
// programmers at once (station/Gang.h). The setup fields are the main
// window's (device, Vcc, firmware, Erase Info, Blow Fuse, serial number
// type, address, next number, and the baud rate the programmers share); one
// row per socket shows its port text, the "in use" box, its bar, status
// text, pass/fail picture and the serial number it received. "Run All"
// programs every socket in use at once, "Check Fuse" checks them all.
//
// The setup and the sockets are kept in the settings' [Gang] section; the
// next serial number is the station's one ([Options] SerialNumber), so the
// gang and the main window never issue a number twice. Opened from the main
// window, the gang shares its station lock; started on its own
// (corvantis --gang) it takes the lock itself.

#include "Gang.h"
#include "Station.h"

#include <QDialog>
#include <QPixmap>

#include <array>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class CGangDlg : public QDialog, private CStationView, private CGangView {
public:
    static constexpr size_t SocketCount = 8;

    // settingsFile: an INI file instead of the user's store (tests).
    explicit CGangDlg(QWidget* parent = nullptr, const std::string& settingsFile = {});
    ~CGangDlg() override;

    // Takes the station lock (a gang on its own); false after the box.
    bool TakeLock();
    // Reads the settings, opens the record; false after the box saying why
    // the gang cannot start.
    bool Load();

    void OnRunAll();
    void OnCheckFuse();
    bool Busy() const { return Gang && Gang->Running(); }
    // Returns once the run in progress (if any) has finished.
    void WaitForRun() { if (Gang) Gang->Wait(); }
    CGang& GangCore() { return *Gang; }

    // One socket's row.
    struct CRow {
        QLineEdit* Port = nullptr;
        QCheckBox* InUse = nullptr;
        QProgressBar* Bar = nullptr;
        QLineEdit* Status = nullptr;
        QLabel* Picture = nullptr;
        QLabel* Serial = nullptr;
        enum class EShown { None, Pending, Pass, Fail } Shown = EShown::None;
    };
    std::array<CRow, SocketCount> Rows;
    QComboBox* DeviceList = nullptr;
    QLineEdit* VccEdit = nullptr;
    QLineEdit* FileEdit = nullptr;
    QCheckBox* EraseInfoCheck = nullptr;
    QCheckBox* BlowFuseCheck = nullptr;
    QComboBox* SerialTypeList = nullptr;
    QLineEdit* SerialAddressEdit = nullptr;
    QLineEdit* SerialNumberEdit = nullptr;
    QComboBox* BaudList = nullptr;
    QPushButton* RunAllButton = nullptr;
    QPushButton* CheckFuseButton = nullptr;
    QPushButton* CloseButton = nullptr;
    QLabel* Summary = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    // CStationView: the station's own texts.
    void AttemptStarted() override {}
    void AttemptPassed() override {}
    void AttemptFailed() override {}
    void Tell(const std::string& text) override;
    // CGangView.
    void SocketStarted(size_t socket, std::optional<uint32_t> serial) override;
    void SocketStatus(size_t socket, const std::string& text) override;
    void SocketRange(size_t socket, int32_t low, int32_t high) override;
    void SocketBar(size_t socket, int32_t pos) override;
    void SocketFinished(size_t socket, const CUnitResult& result, const std::string& message) override;
    void AllFinished() override;

    void BuildWindow();
    void OnBrowse();
    void OnDeviceChanged();
    // The fields as a setup; false after the box naming the bad field.
    bool ReadSetup(CStationSetup& setup);
    void ShowNextNumber();
    void SaveFields();
    void LoadFields();
    void ShowRecipe();
    bool Start(bool fuse);
    void Enable(bool enable);
    void Show(CRow& row, CRow::EShown shown);

    std::unique_ptr<CStation> Station;
    std::unique_ptr<CGang> Gang;
    std::vector<size_t> RunRows;       // the row of each socket of the run
    std::vector<std::string> Deferred; // texts told while the sockets ran
    QPixmap PendingBitmap, PassBitmap, FailBitmap;
    int Passed = 0, Failed = 0;
};

// The gang window, modal to owner. ownLock: take the station lock (the
// gang on its own); otherwise the caller's station holds it.
void RunGangWindow(QWidget* owner, bool ownLock);
