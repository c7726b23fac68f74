// Start-up of the station: time from process start to the console's first
// paint, and peak memory at that moment, each against a bare QDialog of the
// same size started the same way in the same run. Each measurement is a
// fresh process (this program run as a child); children run offscreen over
// libVELK430.so with scratch settings and simulator folders.
//
//   console_startup                          the benchmarks
//   console_startup --child console|bare|bare-text --size WxH   one start (internal)
#include "MainConsoleDlg.h"
#include "Resources.h"
#include "Application.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// --- child: start, paint once, report, end ---

class CFirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_done = false;
};

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int RunChild(int argc, char** argv, const std::string& kind, const std::string& size)
{
    QApplication app(argc, argv);
    CFirstPaint firstPaint;
    QWidget* window = nullptr;
    std::unique_ptr<CMainConsoleDlg> console;
    std::unique_ptr<QDialog> bare;
    if (kind == "console") {
        // What the program's StartUp does before the console exists.
        InitResources();
        Enable3dControls();
        QCoreApplication::setOrganizationName(QString::fromStdString(LoadString(IDS_COMPANY)));
        console = std::make_unique<CMainConsoleDlg>();
        console->installEventFilter(&firstPaint);
        if (!console->Create())
            return 3;
        window = console.get();
    } else {
        Enable3dControls();
        int w = 0, h = 0;
        if (std::sscanf(size.c_str(), "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0)
            return 2;
        bare = std::make_unique<QDialog>();
        bare->setFixedSize(w, h);
        // For reference only: the same, drawing one line of text, which
        // costs the font set-up any window with text pays.
        if (kind == "bare-text")
            (new QLabel(QStringLiteral("MSP430 VELK Serializing Shell"), bare.get()))->move(10, 10);
        bare->installEventFilter(&firstPaint);
        bare->show();
        window = bare.get();
    }
    app.exec();
    std::printf("painted %ld %dx%d\n", PeakRssKb(), window->width(), window->height());
    std::fflush(stdout);
    // Leave without tearing Qt down: the measurement is over.
    std::_Exit(0);
}

// --- parent: launch children and time them ---

std::string Self;
std::string ConsoleSize = "0x0";

struct CStart {
    double Seconds = 0;
    long PeakKb = 0;
    std::string Size;
    bool Ok = false;
};

CStart Launch(const std::string& kind)
{
    int out[2];
    CStart start;
    if (pipe(out) != 0)
        return start;
    const auto begin = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<std::string> args{Self, "--child", kind, "--size", ConsoleSize};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(Self.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string text;
    std::array<char, 256> buffer{};
    ssize_t n;
    while (text.find('\n') == std::string::npos && (n = read(out[0], buffer.data(), buffer.size())) > 0)
        text.append(buffer.data(), static_cast<size_t>(n));
    const auto end = std::chrono::steady_clock::now();
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    char size[64] = {};
    start.Ok = std::sscanf(text.c_str(), "painted %ld %63s", &start.PeakKb, size) == 2;
    start.Size = size;
    start.Seconds = std::chrono::duration<double>(end - begin).count();
    return start;
}

void Report(benchmark::State& state, double seconds, double peakKb, int64_t n)
{
    state.counters["first_paint_ms"] = seconds / static_cast<double>(n) * 1000.0;
    state.counters["peak_MB"] = peakKb / static_cast<double>(n) / 1024.0;
}

void BM_StartToFirstPaint_BareDialog(benchmark::State& state)
{
    double seconds = 0, peak = 0;
    for (auto _ : state) {
        const CStart s = Launch("bare");
        if (!s.Ok) {
            state.SkipWithError("bare child failed");
            return;
        }
        state.SetIterationTime(s.Seconds);
        seconds += s.Seconds;
        peak += static_cast<double>(s.PeakKb);
    }
    Report(state, seconds, peak, state.iterations());
}

void BM_StartToFirstPaint_Console(benchmark::State& state)
{
    double seconds = 0, peak = 0;
    for (auto _ : state) {
        const CStart s = Launch("console");
        if (!s.Ok) {
            state.SkipWithError("console child failed");
            return;
        }
        state.SetIterationTime(s.Seconds);
        seconds += s.Seconds;
        peak += static_cast<double>(s.PeakKb);
    }
    Report(state, seconds, peak, state.iterations());
}

void BM_StartToFirstPaint_BareDialogWithText(benchmark::State& state)
{
    double seconds = 0, peak = 0;
    for (auto _ : state) {
        const CStart s = Launch("bare-text");
        if (!s.Ok) {
            state.SkipWithError("bare-text child failed");
            return;
        }
        state.SetIterationTime(s.Seconds);
        seconds += s.Seconds;
        peak += static_cast<double>(s.PeakKb);
    }
    Report(state, seconds, peak, state.iterations());
}

// Both, alternately, so that machine load falls on them alike; the ratios
// are the goals (time at most 1.5x, memory at most 1.3x).
void BM_ConsoleAgainstBareDialog(benchmark::State& state)
{
    double consoleS = 0, bareS = 0, consoleKb = 0, bareKb = 0;
    for (auto _ : state) {
        const CStart b = Launch("bare");
        const CStart c = Launch("console");
        if (!b.Ok || !c.Ok) {
            state.SkipWithError("child failed");
            return;
        }
        state.SetIterationTime(b.Seconds + c.Seconds);
        bareS += b.Seconds;
        consoleS += c.Seconds;
        bareKb += static_cast<double>(b.PeakKb);
        consoleKb += static_cast<double>(c.PeakKb);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["bare_ms"] = bareS / n * 1000.0;
    state.counters["console_ms"] = consoleS / n * 1000.0;
    state.counters["time_ratio"] = consoleS / bareS;
    state.counters["bare_peak_MB"] = bareKb / n / 1024.0;
    state.counters["console_peak_MB"] = consoleKb / n / 1024.0;
    state.counters["memory_ratio"] = consoleKb / bareKb;
}

BENCHMARK(BM_StartToFirstPaint_BareDialog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_StartToFirstPaint_BareDialogWithText)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_StartToFirstPaint_Console)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_ConsoleAgainstBareDialog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void PrepareEnvironment()
{
    namespace fs = std::filesystem;
    const fs::path scratch = fs::temp_directory_path() / ("corv-bench-startup-" + std::to_string(getpid()));
    fs::create_directories(scratch / "config");
    fs::create_directories(scratch / "sim");
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    setenv("VELK430_SIM_DIR", (scratch / "sim").c_str(), 1);
    setenv("VELK430_SIM_TIMING", "fast", 1);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        const std::string size = argc >= 5 ? argv[4] : "0x0";
        return RunChild(argc, argv, argv[2], size);
    }
    Self = std::filesystem::canonical("/proc/self/exe").string();
    PrepareEnvironment();
    // The bare dialog takes the console's size, measured once.
    const CStart probe = Launch("console");
    if (!probe.Ok) {
        std::fprintf(stderr, "console_startup: the console did not start\n");
        return 1;
    }
    ConsoleSize = probe.Size;
    std::printf("console size %s px\n", ConsoleSize.c_str());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(std::filesystem::path(std::getenv("XDG_CONFIG_HOME")).parent_path());
    return 0;
}
