// TI-TXT read throughput, in MB/s of text: the 60 KB F149 example and a
// 1 MB image across the 20-bit address space.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

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

void Read(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        auto r = velk::ReadTiTxt(text);
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

}  // namespace

BENCHMARK_MAIN();
