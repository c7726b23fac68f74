// The device.cfg reader on hostile text: never crashes, and a table it
// accepts keeps the promises the library relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Codes.h"
#include "DeviceTable.h"
#include "Unit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    velk::CDeviceTable table;
    const bool ok = table.Parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (ok == table.Empty()) std::abort();
    for (const auto& d : table.Devices()) {
        if (d.Name.empty() || d.Name.size() > 63 || d.Regions.empty() || d.MemoryEnd() > velk::kAddressSpace)
            std::abort();
        if (table.Find(d.Name) == nullptr) std::abort();
        int32_t v[8];
        d.Values(v);
        if (v[2] < v[3] || v[2] > v[4]) std::abort();
        // A fresh unit of every accepted device can be made and erased.
        velk::CUnit unit(d);
        unit.EraseMain();
        for (const auto& r : d.Regions) unit.EraseSegment(r.Start, r.SegmentSize);
    }
    return 0;
}
