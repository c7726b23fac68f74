// One Run Batch press on the console over libVELK430.so in fast timing
// (MSP430F149, information flash erased, 60 KB programmed and verified, a
// WORD serial number, the fuse blown, a fresh unit fed after each), against
// the same procedure run by a bare session with no window. The difference is
// the console's own cost of a press: reading and checking the fields, the
// pictures, the status texts and the bar it repaints, the settings it writes
// for the serial number, and showing the fields again (goal: under 5 ms).
#include "MainConsoleDlg.h"
#include "Resources.h"
#include "Application.h"
#include "ControlHelpers.h"
#include "MessageBox.h"

#include "SerialNumber.h"
#include "SimStore.h"
#include "VELK.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QSettings>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

const std::string Firmware = std::string(CORV_SOURCE_DIR) + "/examples/fill-f149.txt";

void StoreSettings()
{
    QSettings settings(QStringLiteral("Quillfern"), QStringLiteral("Corvantis"));
    settings.clear();
    settings.beginGroup(QStringLiteral("Options"));
    settings.setValue(QStringLiteral("Baud"), QStringLiteral("115200"));
    settings.setValue(QStringLiteral("DeviceName"), QStringLiteral("MSP430F149"));
    settings.setValue(QStringLiteral("FileName"), QString::fromStdString(Firmware));
    settings.setValue(QStringLiteral("BlowFuse"), QStringLiteral("1"));
    settings.setValue(QStringLiteral("EraseFlash"), QStringLiteral("1"));
    settings.setValue(QStringLiteral("SerialType"), QStringLiteral("2"));
    settings.setValue(QStringLiteral("SerialAddress"), QStringLiteral("1080"));
    settings.endGroup();
    settings.sync();
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The procedure alone, as the console runs it, without a window.
double SessionOnly(int32_t device, uint32_t serial)
{
    const auto begin = std::chrono::steady_clock::now();
    CVELK session(nullptr, WM_PROGRAMMER_NOTIFY, nullptr, nullptr);
    if (session.Open("COM1", 115200)) {
        CSerialNumber record;
        record.Value = serial;
        record.Type = 2;
        record.AddressText = "1080";
        record.Convert();
        if (!session.BatchProgram("MSP430F149", device, 3.3, Firmware, 1, 1, &record))
            std::abort();
        session.Close();
    }
    return Seconds(std::chrono::steady_clock::now() - begin);
}

void BM_RunBatchPress(benchmark::State& state)
{
    StoreSettings();
    CMessageBoxRecorder boxes;  // a failure would show a box: count it, never wait
    CMainConsoleDlg console;
    if (!console.Create()) {
        state.SkipWithError("console did not start");
        return;
    }
    auto* const devices = console.GetDlgItemAs<QComboBox>(IDC_DEVICE);
    const auto device = static_cast<int32_t>(GetItemData(devices, GetCurSel(devices)));
    double pressS = 0, sessionS = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        console.GetDlgItemAs<QPushButton>(IDC_RUN_BATCH)->click();
        const double press = Seconds(std::chrono::steady_clock::now() - begin);
        const double session = SessionOnly(device, static_cast<uint32_t>(std::stoul(console.GetDlgItemText(IDC_SERIAL_NUMBER))));
        state.SetIterationTime(press);
        pressS += press;
        sessionS += session;
    }
    if (!boxes.Boxes.empty())
        state.SkipWithError(boxes.Boxes.front().text.c_str());
    const double n = static_cast<double>(state.iterations());
    state.counters["press_ms"] = pressS / n * 1000.0;
    state.counters["session_ms"] = sessionS / n * 1000.0;
    state.counters["console_own_ms"] = (pressS - sessionS) / n * 1000.0;
    console.GetDlgItemAs<QPushButton>(IDC_EXIT)->click();
    console.DestroyWindow();
}

BENCHMARK(BM_RunBatchPress)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const fs::path scratch = fs::temp_directory_path() / ("corv-bench-runbatch-" + std::to_string(getpid()));
    fs::create_directories(scratch / "config");
    fs::create_directories(scratch / "sim");
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);  // the production record, on
    setenv("VELK430_SIM_DIR", (scratch / "sim").c_str(), 1);
    setenv("VELK430_SIM_TIMING", "fast", 1);
    {
        // An F149 on the socket; auto feed replaces it by a fresh one of the
        // same type after every good unit.
        velk::CDeviceTable table;
        velk::CSimStore store((scratch / "sim").string());
        velk::CSimSettings settings;
        settings.Timing = velk::ETiming::Fast;
        if (!velk::LoadDefaultDeviceTable(table) || !store.SaveSettings(settings) ||
            !store.SaveUnit(velk::CUnit(*table.Find("MSP430F149"))))
            return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvantis"));
    QApplication::setOrganizationName(QStringLiteral("Quillfern"));
    InitResources();
    Enable3dControls();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(scratch);
    return 0;
}
