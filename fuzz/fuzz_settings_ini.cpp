// A hand-edited settings file, read the way the console loads its twelve
// values: whatever the file holds, every integer is the stored integer rule
// applied to the value's text, or the default, and nothing crashes.
//
// QSettings reads only files, so each input is written to one file whose
// modification time is set to a new value each time (QSettings keeps a
// parsed file by name and reads it again only when its size or time changed).
// It also keeps that parsed file between inputs, which libFuzzer's per-input
// leak check takes for a leak and scans the heap for on every input (some 300
// inputs a second); that check is off here, LeakSanitizer still runs at exit.
//
// The program always runs with an application object, and the INI dialect
// lets a value hold a typed variant ("@Variant(...)", e.g. a pixmap) that
// needs one: the harness has one too, on the headless platform.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>

#include "toolkit/SettingsStore.h"

namespace {

struct CTextValue { const char* Name; const char* Default; };
struct CIntValue { const char* Name; uint32_t Default; };

const CTextValue kTexts[] = {{"CommPort", "COM1"}, {"DeviceName", "MSP430F112"}, {"FileName", ""},
                             {"VCC", "3.3"}, {"SerialAddress", "1000"}};
const CIntValue kInts[] = {{"Baud", 57600}, {"BlowFuse", 0}, {"EraseFlash", 0}, {"SerialNumber", 0},
                           {"SerialType", 0}, {"Count", 0}, {"CountUp", 1}};

std::string Path() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_settings_ini." + std::to_string(getpid()) + ".ini";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<char*> args(*argv, *argv + *argc);
    static char noPerInputLeakCheck[] = "-detect_leaks=0";
    args.insert(args.begin() + 1, noPerInputLeakCheck);
    args.push_back(nullptr);
    *argc = static_cast<int>(args.size()) - 1;
    *argv = args.data();

    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int appArgc = 1;
    static char appName[] = "fuzz_settings_ini";
    static char* appArgv[] = {appName, nullptr};
    static QGuiApplication app(appArgc, appArgv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = Path();
    static int64_t stamp = 1000000000;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    const struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
    ++stamp;
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) std::abort();
    {
        CSettingsStore store = CSettingsStore::AtFile(path);
        for (const auto& v : kTexts) (void)store.GetProfileString("Options", v.Name, v.Default);
        for (const auto& v : kInts) {
            const uint32_t read = store.GetProfileInt("Options", v.Name, v.Default);
            // The integer is the rule applied to the stored text, or the default.
            const std::string text = store.GetProfileString("Options", v.Name, "\x01");
            uint32_t pattern = 0;
            const uint32_t expect = ParseStoredInt(text, pattern) ? pattern : v.Default;
            if (read != expect) std::abort();
        }
    }
    return 0;
}
