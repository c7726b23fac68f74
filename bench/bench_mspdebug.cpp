// The library's mspdebug programmer against mspdebug alone, both on
// mspdebug's sim driver, doing the same batch on the F149 image: erase the
// two information segments, erase main flash and program the file, verify
// it, write and check a 2-byte serial number. Compare the medians.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "Codes.h"
#include "mspdebug/MspProgrammer.h"

extern char** environ;

namespace {

using namespace velk;

const std::string kFile = CORV_SOURCE_DIR "/examples/fill-f149.txt";

// mspdebug started directly (no shell), its output thrown away.
void BM_MspdebugAlone(benchmark::State& state) {
    const std::string prog = "prog " + kFile, verify = "verify " + kFile;
    const char* argv[] = {"mspdebug", "-n", "-q", "sim", "erase segment 0x1000", "erase segment 0x1080",
                          prog.c_str(), verify.c_str(), "mw 0x1080 34 12", "md 0x1080 2", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid = -1;
        int status = -1;
        if (posix_spawnp(&pid, "mspdebug", &actions, nullptr, const_cast<char**>(argv), environ) != 0 ||
            waitpid(pid, &status, 0) != pid || status != 0)
            state.SkipWithError("mspdebug failed");
    }
    posix_spawn_file_actions_destroy(&actions);
}

void BM_LibraryOnMspdebugSim(benchmark::State& state) {
    msp::CMspProgrammer p;
    char device[] = "MSP430F149";
    unsigned char serial[2] = {0x34, 0x12};
    for (auto _ : state) {
        const bool ok = p.InitCom("mspdebug:sim", 115200) == kOk && p.SetDeviceType(device) == kOk &&
                        p.SetVcc(3300) == kOk && p.InitTarget(device) == kOk && p.Erase(0x1000, 128, 1) == kOk &&
                        p.Erase(0x1080, 128, 1) == kOk && p.ProgramFile(kFile.c_str(), 0, 1, 0) == kDone &&
                        p.VerifyFile(kFile.c_str(), 0) == kDone && p.ProgramData(0x1080, 2, serial) == kDone &&
                        p.VerifyData(0x1080, 2, serial) == kDone;
        p.ReleaseTarget();
        p.ReleaseCom();
        if (!ok) state.SkipWithError("batch failed");
    }
}

}  // namespace

BENCHMARK(BM_MspdebugAlone)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibraryOnMspdebugSim)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
