// ELF reader through the system's libelf: the bytes of each PT_LOAD segment
// at its physical (load) address, p_filesz bytes of it; the rest of a
// segment (.bss, .noinit) has no bytes in the file and is not programmed.
// libelf reads and bounds-checks the headers; this file checks what libelf
// leaves to its caller: class, byte order, machine, type and that every
// segment lies inside the file and within 20 bits.

#include <cstdio>
#include <mutex>
#include <vector>

#include <gelf.h>
#include <libelf.h>

#include "Image.h"

namespace velk {

namespace {

// Header fields' offsets in a 32-bit ELF header, named in messages.
constexpr uint32_t kClassOffset = EI_CLASS, kDataOffset = EI_DATA, kTypeOffset = 0x10, kMachineOffset = 0x12,
                   kPhoffOffset = 0x1C;

CImageResult AtOffset(uint64_t offset, const std::string& what)
{
    char where[40];
    std::snprintf(where, sizeof where, "offset 0x%llX: ", static_cast<unsigned long long>(offset));
    return ImageFailure(EImageStatus::Syntax, 0, where + what);
}

std::string LibelfError()
{
    const char* e = elf_errmsg(-1);
    return e ? e : "unknown libelf error";
}

struct CElfCloser {
    Elf* E;
    ~CElfCloser() { elf_end(E); }
};

}  // namespace

CImageResult ReadElf(std::string_view bytes)
{
    static std::once_flag versionSet;
    std::call_once(versionSet, [] { elf_version(EV_CURRENT); });
    // libelf takes a writable buffer (it may convert in place); it gets a copy.
    std::vector<char> file(bytes.begin(), bytes.end());
    Elf* e = elf_memory(file.data(), file.size());
    if (!e) return AtOffset(0, "not a readable ELF file (" + LibelfError() + ")");
    CElfCloser closer{e};
    if (elf_kind(e) != ELF_K_ELF) return AtOffset(0, "not an ELF file");
    if (file.size() <= kDataOffset || file[kClassOffset] != ELFCLASS32) return AtOffset(kClassOffset, "not a 32-bit ELF file");
    if (file[kDataOffset] != ELFDATA2LSB) return AtOffset(kDataOffset, "not a little-endian ELF file");
    // Copies through gelf: libelf may hand out pointers into the file at
    // any alignment, and the program headers lie where e_phoff says.
    GElf_Ehdr header;
    if (!gelf_getehdr(e, &header)) return AtOffset(0, "malformed ELF header (" + LibelfError() + ")");
    if (header.e_machine != EM_MSP430)
        return AtOffset(kMachineOffset, "ELF file for machine " + std::to_string(header.e_machine) + ", not the MSP430");
    if (header.e_type != ET_EXEC)
        return AtOffset(kTypeOffset, "ELF file of type " + std::to_string(header.e_type) + ", not an executable");
    size_t count = 0;
    if (elf_getphdrnum(e, &count) != 0) return AtOffset(kPhoffOffset, "malformed program headers (" + LibelfError() + ")");
    CImageBuilder builder;
    for (size_t i = 0; i < count; ++i) {
        const uint64_t where = header.e_phoff + i * uint64_t{header.e_phentsize};
        GElf_Phdr p;
        if (!gelf_getphdr(e, static_cast<int>(i), &p))
            return AtOffset(where, "program header outside the file (" + LibelfError() + ")");
        if (p.p_type != PT_LOAD || p.p_filesz == 0) continue;
        if (p.p_offset > file.size() || p.p_filesz > file.size() - p.p_offset)
            return AtOffset(where, "segment outside the file");
        if (p.p_filesz > p.p_memsz) return AtOffset(where, "segment with more file bytes than memory");
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data()) + p.p_offset;
        if (const char* bad = builder.Add(static_cast<uint32_t>(p.p_paddr), data, p.p_filesz, static_cast<int>(where)))
            return AtOffset(where, bad);
    }
    CImageResult r;
    int where = 0;
    if (!builder.Finish(r.Image, where, r.Message)) return AtOffset(static_cast<uint64_t>(where), r.Message);
    return r;
}

}  // namespace velk
