// A whole batch as the station runs it (open, device, supply, target, erase
// information flash, program and verify the F149 image, serial number, fuse,
// release, close), in fast mode; and realistic mode against the link model.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Codes.h"
#include "Programmer.h"

namespace {

using namespace velk;

// A scratch state directory with a fresh unit of the device on the socket;
// automatic feeding keeps a blank one there after each passed batch.
bool UseScratchState(bool fast, const char* device) {
    const auto dir = std::filesystem::temp_directory_path() / "velk430-bench";
    std::filesystem::remove_all(dir);
    setenv("VELK430_SIM_DIR", dir.c_str(), 1);
    if (fast) setenv("VELK430_SIM_TIMING", "fast", 1);
    else unsetenv("VELK430_SIM_TIMING");
    CDeviceTable table;
    if (!LoadDefaultDeviceTable(table) || !table.Find(device)) return false;
    return CSimStore(dir.string()).SaveUnit(CUnit(*table.Find(device)));
}

bool Batch(CProgrammer& p, const char* device, const std::string& file, int32_t baud, bool blow,
           const std::string& port = "COM1") {
    unsigned char serial[4] = {0x78, 0x56, 0x34, 0x12};
    bool ok = p.InitCom(port.c_str(), baud) == kOk && p.SetDeviceType(device) == kOk && p.SetVcc(3300) == kOk &&
              p.InitTarget(device) == kOk && p.Erase(0x1000, 128, 1) == kOk && p.Erase(0x1080, 128, 1) == kOk &&
              p.ProgramFile(file.c_str(), 0, 1, 0) == kDone && p.VerifyFile(file.c_str(), 0) == kDone &&
              p.ProgramData(0x1000, 4, serial) == kDone && p.VerifyData(0x1000, 4, serial) == kDone;
    if (ok && blow) ok = p.BlowFuse() == kOk && p.Reset(1) == kFuseBlown;
    p.ReleaseTarget();
    p.SetVcc(0);
    p.ReleaseCom();
    return ok;
}

void BM_FastBatch_F149(benchmark::State& state) {
    if (!UseScratchState(true, "MSP430F149")) return state.SkipWithError("no device.cfg beside the benchmark");
    const std::string file = CORV_SOURCE_DIR "/examples/fill-f149.txt";
    CProgrammer p;
    for (auto _ : state)
        if (!Batch(p, "MSP430F149", file, 115200, true)) state.SkipWithError("batch failed");
}
BENCHMARK(BM_FastBatch_F149)->Unit(benchmark::kMillisecond);

// Realistic timing of the F112 blink batch at the given baud: wall time
// against the modelled link time (counter "model_s", ratio "wall/model").
void BM_RealisticBatch_F112(benchmark::State& state) {
    if (!UseScratchState(false, "MSP430F112")) return state.SkipWithError("no device.cfg beside the benchmark");
    const std::string file = CORV_SOURCE_DIR "/examples/blink-f112.txt";
    CProgrammer p;
    double wall = 0, model = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!Batch(p, "MSP430F112", file, static_cast<int32_t>(state.range(0)), false))
            state.SkipWithError("batch failed");
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        model += p.ModelledSeconds();
    }
    state.counters["model_s"] = model / static_cast<double>(state.iterations());
    state.counters["wall/model"] = model > 0 ? wall / model : 0;
}
BENCHMARK(BM_RealisticBatch_F112)->Arg(9600)->Arg(115200)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// N simulated programmers (COM1 ... COMN of one state directory) each run
// the F149 batch in realistic timing at 115200 baud, one process per port,
// all at once: wall time of the slowest (counter "x_one": against one port
// alone, measured first) and units per hour.
void BM_ParallelPorts_F149(benchmark::State& state) {
    const int ports = static_cast<int>(state.range(0));
    if (!UseScratchState(false, "MSP430F149")) return state.SkipWithError("no device.cfg beside the benchmark");
    CDeviceTable table;
    LoadDefaultDeviceTable(table);
    for (int slot = 2; slot <= ports; ++slot)
        CSimStore(CSimStore::DefaultDir(), slot).SaveUnit(CUnit(*table.Find("MSP430F149")));
    const std::string file = CORV_SOURCE_DIR "/examples/fill-f149.txt";
    static double one = 0;
    double wall = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<pid_t> children;
        for (int slot = 1; slot <= ports; ++slot) {
            const pid_t pid = fork();
            if (pid == 0) {
                CProgrammer p;
                _exit(Batch(p, "MSP430F149", file, 115200, false, "COM" + std::to_string(slot)) ? 0 : 1);
            }
            children.push_back(pid);
        }
        bool ok = true;
        for (pid_t pid : children) {
            int status = 0;
            ok = waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
        }
        if (!ok) state.SkipWithError("a batch failed");
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    wall /= static_cast<double>(state.iterations());
    if (ports == 1) one = wall;
    state.counters["units_per_hour"] = ports * 3600.0 / wall;
    state.counters["x_one"] = one > 0 ? wall / one : 0;
}
BENCHMARK(BM_ParallelPorts_F149)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
