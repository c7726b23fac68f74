#pragma once
// What every image reader must hold to on hostile input: a refusal has a
// message and no sections; what it accepts is sorted, non-empty,
// non-overlapping and inside the 20-bit address space.
#include <cstdlib>

#include "Codes.h"
#include "Image.h"

inline void CheckImageResult(const velk::CImageResult& r)
{
    if (!r.Ok()) {
        if (r.Message.empty() || !r.Image.Sections.empty()) std::abort();
        return;
    }
    uint32_t end = 0;
    bool first = true;
    for (const auto& s : r.Image.Sections) {
        if (s.Bytes.empty() || (!first && s.Start <= end) || s.End() > velk::kAddressSpace) std::abort();
        end = s.End();
        first = false;
    }
}
