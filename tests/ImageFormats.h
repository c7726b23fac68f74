#pragma once
// Firmware in the formats other than TI-TXT, made by the tests themselves:
// srec_cat converts a TI-TXT file to Intel HEX or Motorola S-records, and
// libelf writes a small MSP430 ELF executable from a list of segments.
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
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

// An ELF executable with one PT_LOAD segment per entry, laid out by libelf;
// an empty string when libelf fails.
inline std::string ElfBytes(const std::string& path, const std::vector<CSegment>& segments,
                            uint16_t machine = EM_MSP430)
{
    elf_version(EV_CURRENT);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return {};
    Elf* e = elf_begin(fd, ELF_C_WRITE, nullptr);
    bool ok = e != nullptr;
    Elf32_Ehdr* h = ok ? elf32_newehdr(e) : nullptr;
    ok = h != nullptr;
    if (ok) {
        h->e_ident[EI_DATA] = ELFDATA2LSB;
        h->e_machine = machine;
        h->e_type = ET_EXEC;
        h->e_version = EV_CURRENT;
    }
    Elf32_Phdr* ph = ok ? elf32_newphdr(e, segments.size()) : nullptr;
    std::vector<Elf_Scn*> sections;
    for (size_t i = 0; ok && i < segments.size(); ++i) {
        Elf_Scn* scn = elf_newscn(e);
        Elf_Data* d = scn ? elf_newdata(scn) : nullptr;
        Elf32_Shdr* sh = scn ? elf32_getshdr(scn) : nullptr;
        ok = d && sh;
        if (!ok) break;
        d->d_buf = const_cast<uint8_t*>(segments[i].Bytes.data());
        d->d_size = segments[i].Bytes.size();
        d->d_type = ELF_T_BYTE;
        d->d_align = 1;
        sh->sh_type = segments[i].Bytes.empty() ? SHT_NOBITS : SHT_PROGBITS;
        sh->sh_flags = SHF_ALLOC;
        sh->sh_addr = segments[i].Paddr;
        sections.push_back(scn);
    }
    ok = ok && elf_update(e, ELF_C_NULL) >= 0;
    for (size_t i = 0; ok && i < segments.size(); ++i) {
        const CSegment& s = segments[i];
        ph[i].p_type = PT_LOAD;
        ph[i].p_offset = elf32_getshdr(sections[i])->sh_offset;
        ph[i].p_paddr = s.Paddr;
        ph[i].p_vaddr = s.Vaddr == UINT32_MAX ? s.Paddr : s.Vaddr;
        ph[i].p_filesz = static_cast<uint32_t>(s.Bytes.size());
        ph[i].p_memsz = s.MemSize ? s.MemSize : static_cast<uint32_t>(s.Bytes.size());
        ph[i].p_flags = PF_R | PF_X;
        ph[i].p_align = 1;
    }
    if (ok) elf_flagphdr(e, ELF_C_SET, ELF_F_DIRTY);
    ok = ok && elf_update(e, ELF_C_WRITE) >= 0;
    if (e) elf_end(e);
    ::close(fd);
    if (!ok) return {};
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The offset of program header `index` in ELF bytes as ElfBytes writes them.
inline size_t ProgramHeaderOffset(const std::string& elf, size_t index)
{
    Elf32_Ehdr h;
    std::memcpy(&h, elf.data(), sizeof h);
    return h.e_phoff + index * h.e_phentsize;
}

}  // namespace imagefmt
