// The production record's costs:
//  - one unit recorded (the 'running' row with the firmware's SHA-256, and
//    its completion, both durable) around a real batch of libVELK430.so in
//    fast timing (MSP430F149: erase info, 60 KB program + verify, WORD
//    serial, fuse); p50 and p99 of the record's part, and of the batch;
//  - the same F149 batch in realistic timing at 115200 baud, once, as the
//    yardstick for "under 1% of a batch";
//  - the Production Log dialog opening on 100,000 rows (built, shown, painted);
//  - corvantis-log summary over the same 100,000 rows.
// The database lives in the build folder (a real disk: fsync is the cost).
#include "ProductionLogDlg.h"
#include "LogTool.h"
#include "ProductionRecord.h"
#include "RecordSupport.h"

#include "SerialNumber.h"
#include "SimStore.h"
#include "VELK.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTableWidget>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

namespace {

const std::string Firmware = std::string(CORV_SOURCE_DIR) + "/examples/fill-f149.txt";
const QString Scratch = QStringLiteral(CORV_BENCH_DIR);

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

bool FreshUnit(bool fast)
{
    const auto dir = std::filesystem::path(CORV_BENCH_DIR) / "sim";
    std::filesystem::remove_all(dir);
    setenv("VELK430_SIM_DIR", dir.c_str(), 1);
    if (fast)
        setenv("VELK430_SIM_TIMING", "fast", 1);
    else
        unsetenv("VELK430_SIM_TIMING");
    velk::CDeviceTable table;
    return velk::LoadDefaultDeviceTable(table) &&
           velk::CSimStore(dir.string()).SaveUnit(velk::CUnit(*table.Find("MSP430F149")));
}

bool RunBatch(uint32_t serial)
{
    CVELK session(nullptr, 0, nullptr, nullptr);
    if (!session.Open("COM1", 115200))
        return false;
    CSerialNumber number;
    number.Value = serial;
    number.Type = 2;
    number.AddressText = "1080";
    number.Convert();
    const int ok = session.BatchProgram("MSP430F149", 40, 3.3, Firmware, 1, 1, &number);
    session.Close();
    return ok == 1;
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

void BM_RecordOneUnit(benchmark::State& state)
{
    if (!FreshUnit(true))
        return state.SkipWithError("no device.cfg");
    const QString file = Scratch + "/one-unit.db";
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(file + suffix);
    CProductionRecord record;
    if (!record.Open(file))
        return state.SkipWithError(record.ErrorText().toStdString().c_str());
    std::vector<double> recordMs, batchMs;
    uint32_t serial = 1;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        CAttempt a;
        CProductionRecord::FillStation(a);
        CProductionRecord::FillFirmware(a, QString::fromStdString(Firmware));
        a.Device = "MSP430F149";
        a.SerialValue = serial;
        a.SerialWidth = 2;
        a.SerialAddress = 0x1080;
        const QString id = record.Begin(a);
        const auto t1 = Clock::now();
        const bool passed = RunBatch(serial++);
        const auto t2 = Clock::now();
        if (id.isEmpty() || !passed || !record.Complete(id, {"passed", {}, {}, {}, {}, true}))
            return state.SkipWithError("batch or record failed");
        const auto t3 = Clock::now();
        recordMs.push_back(Ms(t1 - t0) + Ms(t3 - t2));
        batchMs.push_back(Ms(t2 - t1));
    }
    state.counters["record_p50_ms"] = Percentile(recordMs, 0.50);
    state.counters["record_p99_ms"] = Percentile(recordMs, 0.99);
    state.counters["batch_p50_ms"] = Percentile(batchMs, 0.50);
}
BENCHMARK(BM_RecordOneUnit)->Iterations(300)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RealisticBatch_F149_115200(benchmark::State& state)
{
    for (auto _ : state) {
        if (!FreshUnit(false) || !RunBatch(7))
            return state.SkipWithError("batch failed");
    }
}
BENCHMARK(BM_RealisticBatch_F149_115200)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// 100,000 attempts over about 40 days, built once and kept.
QString BigRecord()
{
    const QString file = Scratch + "/100k.db";
    CProductionRecord record;
    if (QFile::exists(file) && record.Open(file)) {
        const auto tally = record.Tally("2000", "3000");
        if (tally && tally->Passed + tally->Failed == 100000)
            return file;
    }
    record.Close();
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(file + suffix);
    if (!record.Open(file))
        return {};
    QList<CAttempt> rows;
    for (int i = 0; i < 100000; ++i) {
        CAttempt a = SampleAttempt(i);
        a.StartedAt = CProductionRecord::ToUtcText(QDateTime::currentDateTimeUtc().addSecs(-35LL * i));
        rows.append(a);
    }
    return record.InsertAll(rows) ? file : QString();
}

void BM_LogDialogOpen_100k(benchmark::State& state)
{
    const QString file = BigRecord();
    CProductionRecord record;
    if (file.isEmpty() || !record.Open(file))
        return state.SkipWithError("no 100k record");
    for (auto _ : state) {
        CProductionLogDlg dialog(record);
        dialog.show();
        dialog.repaint();
        benchmark::DoNotOptimize(dialog.Table->rowCount());
    }
}
BENCHMARK(BM_LogDialogOpen_100k)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Summary_100k(benchmark::State& state)
{
    const QString file = BigRecord();
    if (file.isEmpty())
        return state.SkipWithError("no 100k record");
    for (auto _ : state) {
        std::ostringstream out, err;
        if (RunLogTool({"--database", file, "summary"}, out, err) != 0)
            return state.SkipWithError(err.str().c_str());
    }
}
BENCHMARK(BM_Summary_100k)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExportCsv_100k(benchmark::State& state)
{
    const QString file = BigRecord();
    if (file.isEmpty())
        return state.SkipWithError("no 100k record");
    for (auto _ : state) {
        std::ostringstream out, err;
        if (RunLogTool({"--database", file, "export", "--format", "csv"}, out, err) != 0)
            return state.SkipWithError(err.str().c_str());
    }
}
BENCHMARK(BM_ExportCsv_100k)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QDir().mkpath(Scratch);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
