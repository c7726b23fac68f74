#pragma once
// Firmware in the formats other than TI-TXT, made by the tests themselves:
// srec_cat converts a TI-TXT file to Intel HEX or Motorola S-records, and
// ElfBytes lays out a small MSP430 ELF executable from <elf.h>'s structures
// (written independently of the libelf the reader uses; x86 is little-endian
// as the file).
#include <elf.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace imagefmt {

inline bool HaveSrecCat() { return std::system("command -v srec_cat >/dev/null 2>&1") == 0; }

// srec_cat's name of the output format: "-intel" or "-motorola".
inline bool ConvertTiTxt(const std::string& from, const std::string& to, const char* format)
{
    const std::string cmd = "srec_cat '" + from + "' -ti_txt -o '" + to + "' " + format + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

struct CSegment {
    uint32_t Paddr = 0;
    std::vector<uint8_t> Bytes;     // the file bytes (p_filesz of them)
    uint32_t MemSize = 0;           // p_memsz; the file bytes' count when 0
    uint32_t Vaddr = UINT32_MAX;    // the physical address when not given
};

template <class T>
void Append(std::string& out, const T& value) { out.append(reinterpret_cast<const char*>(&value), sizeof value); }

// The ELF header, one PT_LOAD program header per segment, then the segments'
// bytes one after another.
inline std::string ElfBytes(const std::vector<CSegment>& segments, uint16_t machine = EM_MSP430)
{
    Elf32_Ehdr h{};
    std::memcpy(h.e_ident, ELFMAG, SELFMAG);
    h.e_ident[EI_CLASS] = ELFCLASS32;
    h.e_ident[EI_DATA] = ELFDATA2LSB;
    h.e_ident[EI_VERSION] = EV_CURRENT;
    h.e_type = ET_EXEC;
    h.e_machine = machine;
    h.e_version = EV_CURRENT;
    h.e_phoff = h.e_ehsize = sizeof h;
    h.e_phentsize = sizeof(Elf32_Phdr);
    h.e_phnum = static_cast<uint16_t>(segments.size());
    std::string out, data;
    Append(out, h);
    for (const CSegment& s : segments) {
        Elf32_Phdr p{};
        p.p_type = PT_LOAD;
        p.p_offset = static_cast<uint32_t>(sizeof h + segments.size() * sizeof p + data.size());
        p.p_paddr = s.Paddr;
        p.p_vaddr = s.Vaddr == UINT32_MAX ? s.Paddr : s.Vaddr;
        p.p_filesz = static_cast<uint32_t>(s.Bytes.size());
        p.p_memsz = s.MemSize ? s.MemSize : p.p_filesz;
        p.p_flags = PF_R | PF_X;
        p.p_align = 1;
        Append(out, p);
        data.append(s.Bytes.begin(), s.Bytes.end());
    }
    return out + data;
}

// The offset of program header `index` in ElfBytes' layout.
constexpr size_t ProgramHeaderOffset(size_t index) { return sizeof(Elf32_Ehdr) + index * sizeof(Elf32_Phdr); }

}  // namespace imagefmt
