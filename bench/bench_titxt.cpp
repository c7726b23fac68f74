// Image read throughput, in MB/s of text: TI-TXT of the 60 KB F149 example
// and of a 1 MB image across the 20-bit address space; that image as Intel
// HEX, read by the library and by srec_cat (a process per run, so its start
// is measured alone as well; CPU time on both sides).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

#include "TiTxt.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string MegabyteImage() {
    std::mt19937 rng(1);
    std::string text;
    char line[64];
    for (uint32_t section = 0; section < 16; ++section) {
        std::snprintf(line, sizeof line, "@%05X\n", section * 0x10000u);
        text += line;
        for (uint32_t i = 0; i < 0x10000; i += 16) {
            for (int k = 0; k < 16; ++k) {
                std::snprintf(line, sizeof line, k ? " %02X" : "%02X", static_cast<unsigned>(rng() & 0xFF));
                text += line;
            }
            text += '\n';
        }
    }
    return text + "q\n";
}

void Read(benchmark::State& state, const std::string& text, velk::CImageResult (*reader)(std::string_view) = velk::ReadTiTxt) {
    for (auto _ : state) {
        auto r = reader(text);
        if (!r.Ok()) state.SkipWithError(r.Message.c_str());
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_ReadTiTxt_F149_60KB(benchmark::State& state) {
    static const std::string text = ReadFile(CORV_SOURCE_DIR "/examples/fill-f149.txt");
    Read(state, text);
}
BENCHMARK(BM_ReadTiTxt_F149_60KB);

void BM_ReadTiTxt_1MB(benchmark::State& state) {
    static const std::string text = MegabyteImage();
    Read(state, text);
}
BENCHMARK(BM_ReadTiTxt_1MB)->Unit(benchmark::kMillisecond);

// The megabyte image as Intel HEX, written by srec_cat into a folder of this
// run's own; an empty path when srec_cat is missing.
struct CHexFiles {
    std::filesystem::path Dir, Big, Tiny;
    CHexFiles() {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/corv-bench-ihex-XXXXXX";
        if (!mkdtemp(templ.data())) return;
        Dir = templ;
        std::ofstream(Dir / "big.txt") << MegabyteImage();
        std::ofstream(Dir / "tiny.txt") << "@F000\n00\nq\n";
        const std::string cmd = "srec_cat " + (Dir / "big.txt").string() + " -ti_txt -o " + (Dir / "big.hex").string() +
                                " -intel && srec_cat " + (Dir / "tiny.txt").string() + " -ti_txt -o " +
                                (Dir / "tiny.hex").string() + " -intel";
        if (std::system(cmd.c_str()) != 0) return;
        Big = Dir / "big.hex";
        Tiny = Dir / "tiny.hex";
    }
    ~CHexFiles() {
        std::error_code ec;
        if (!Dir.empty()) std::filesystem::remove_all(Dir, ec);
    }
};

const CHexFiles& HexFiles() {
    static const CHexFiles files;
    return files;
}

void BM_ReadIntelHex_1MB(benchmark::State& state) {
    if (HexFiles().Big.empty()) return state.SkipWithError("srec_cat not installed");
    static const std::string text = ReadFile(HexFiles().Big.string());
    Read(state, text, velk::ReadImage);
}
BENCHMARK(BM_ReadIntelHex_1MB)->Unit(benchmark::kMillisecond);

double ChildrenCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// srec_cat reads the file and writes nothing it would have to format. Its
// time is the CPU time of the process (and the shell that starts it), so
// that a busy machine's waits count for neither side.
void SrecCat(benchmark::State& state, const std::filesystem::path& file) {
    if (file.empty()) return state.SkipWithError("srec_cat not installed");
    const std::string cmd = "srec_cat " + file.string() + " -intel -o /dev/null -binary";
    for (auto _ : state) {
        const double before = ChildrenCpuSeconds();
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("srec_cat failed");
        state.SetIterationTime(ChildrenCpuSeconds() - before);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(std::filesystem::file_size(file)));
}

void BM_SrecCatReadsIntelHex_1MB(benchmark::State& state) { SrecCat(state, HexFiles().Big); }
BENCHMARK(BM_SrecCatReadsIntelHex_1MB)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_SrecCatStartOnly(benchmark::State& state) { SrecCat(state, HexFiles().Tiny); }
BENCHMARK(BM_SrecCatStartOnly)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
