// The saved unit state on hostile text: a corrupt file is refused, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "SimStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const velk::CDeviceTable table = [] {
        velk::CDeviceTable t;
        t.Parse("device MSP430F112 1 0 3300 1800 3600 2700 256 12\n region 3 0x1000 128 2\n region 1 0xF000 512 8\n"
                "device MSP430G2553 2 0 3300 1800 3600 2200 512 12\n region 3 0x01000 64 3\n"
                " region 4 0x010C0 64 1\n region 1 0x0C000 512 32\n");
        return t;
    }();
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (auto unit = velk::ParseUnit(text, table)) (void)velk::RenderUnit(*unit);
    velk::CSimSettings settings;
    if (settings.Parse(text)) (void)settings.Render();
    return 0;
}
