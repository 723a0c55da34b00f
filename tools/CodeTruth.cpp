// The listing of a program measured against its linker map, the truth of
// where its functions are. Usage:
//   korvane-code-truth [--straight] [--min-coverage PERCENT] PROGRAM MAP [PROGRAM MAP ...]
// For each program: its listing is made and converted by the tracer's own
// conversion; every point must lie, all its bytes, inside an input section
// of code (named .text..., .init or .fini; ".text$data..." is how the test
// programs put data among their code); and the instructions of those
// sections (alignment padding aside) are counted with how many of them the
// listing has as code lines. Exit code 1 when a point lies in data or the
// share of code falls below the minimum; 2 when a file cannot be read.
// --straight measures the listing read straight through, as without relocations.
#include <capstone/capstone.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "disasm/ListingWriter.h"
#include "listing/ListingRecord.h"

namespace {

struct CInputSection {
    std::string name;
    uint32_t start;
    uint32_t size;
    bool code;
};

bool IsCodeSection(const std::string& name)
{
    if (name == ".init" || name == ".fini")
        return true;
    if (name.compare(0, 5, ".text") != 0)
        return false;
    return name.compare(5, 5, "$data") != 0 && name.compare(5, 5, ".data") != 0;
}

bool HexNumber(const std::string& word, uint32_t& value)
{
    if (word.compare(0, 2, "0x") != 0 || word.size() < 3)
        return false;
    char* end = nullptr;
    unsigned long long v = strtoull(word.c_str() + 2, &end, 16);
    value = uint32_t(v);
    return *end == 0;
}

// The input sections of a GNU ld map: " NAME 0xADDR 0xSIZE FILE", the numbers on
// the next line when the name is long; fill and assignments are no sections.
std::vector<CInputSection> ReadMap(const std::string& text)
{
    std::vector<CInputSection> sections;
    std::istringstream in(text);
    std::string line, pending;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::vector<std::string> w{std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
        uint32_t start = 0, size = 0;
        if (line.size() > 2 && line[0] == ' ' && line[1] == '.') {
            if (w.size() >= 3 && HexNumber(w[1], start) && HexNumber(w[2], size)) {
                sections.push_back({w[0], start, size, IsCodeSection(w[0])});
                pending.clear();
            } else {
                pending = w.empty() ? std::string() : w[0];
            }
        } else if (!pending.empty() && w.size() >= 2 && HexNumber(w[0], start) && HexNumber(w[1], size)) {
            sections.push_back({pending, start, size, IsCodeSection(pending)});
            pending.clear();
        } else {
            pending.clear();
        }
    }
    return sections;
}

std::string ReadText(const char* path, bool& ok)
{
    std::ifstream in(path, std::ios::binary);
    ok = bool(in);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Alignment padding between functions: no path runs through it.
bool IsPadding(const cs_insn& insn)
{
    if (insn.id == X86_INS_NOP || insn.id == X86_INS_INT3)
        return true;
    const cs_x86& x = insn.detail->x86;
    if (x.op_count != 2 || x.operands[0].type != X86_OP_REG)
        return false;
    const cs_x86_op& src = x.operands[1];
    if (insn.id == X86_INS_LEA)
        return src.mem.base == x.operands[0].reg && src.mem.disp == 0 && (src.mem.index == X86_REG_INVALID || src.mem.index == X86_REG_EIZ);
    return (insn.id == X86_INS_MOV || insn.id == X86_INS_XCHG) && src.type == X86_OP_REG && src.reg == x.operands[0].reg &&
           src.reg != X86_REG_EDI; // mov edi, edi begins hot-patchable functions
}

struct CFileBytes {
    const std::vector<uint8_t>* data;
    uint32_t imageBase = 0;
    struct CSec { uint32_t rva, size, raw; };
    std::vector<CSec> secs;
    const uint8_t* At(uint32_t va, size_t& avail) const
    {
        for (const CSec& s : secs)
            if (va - imageBase - s.rva < s.size) {
                avail = s.size - (va - imageBase - s.rva);
                return data->data() + s.raw + (va - imageBase - s.rva);
            }
        return nullptr;
    }
};

bool ReadSections(const std::vector<uint8_t>& d, CFileBytes& f)
{
    f.data = &d;
    auto get32 = [&](size_t at) { return at + 4 <= d.size() ? uint32_t(d[at] | d[at + 1] << 8 | d[at + 2] << 16 | uint32_t(d[at + 3]) << 24) : 0u; };
    uint32_t pe = get32(0x3C);
    if (d.size() < 0x40 || pe + 24 > d.size())
        return false;
    uint32_t n = get32(pe + 6) & 0xFFFF, opt = get32(pe + 20) & 0xFFFF;
    f.imageBase = get32(pe + 24 + 28);
    for (uint32_t i = 0; i < n; ++i) {
        size_t sh = pe + 24 + opt + i * 40;
        if (sh + 40 > d.size())
            return false;
        uint32_t raw = get32(sh + 20), rawSize = get32(sh + 16);
        if (raw > d.size())
            continue;
        f.secs.push_back({get32(sh + 12), std::min<uint32_t>({rawSize, get32(sh + 8) ? get32(sh + 8) : rawSize, uint32_t(d.size() - raw)}), raw});
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    double minCoverage = 0;
    bool straight = false;
    int first = 1;
    if (argc > first && strcmp(argv[first], "--straight") == 0) {
        straight = true;
        ++first;
    }
    if (argc > first + 1 && strcmp(argv[first], "--min-coverage") == 0) {
        minCoverage = atof(argv[first + 1]);
        first += 2;
    }
    if (argc - first < 2 || (argc - first) % 2) {
        fprintf(stderr, "usage: %s [--straight] [--min-coverage PERCENT] PROGRAM MAP [PROGRAM MAP ...]\n", argv[0]);
        return 2;
    }
    csh cs = 0;
    if (cs_open(CS_ARCH_X86, CS_MODE_32, &cs) != CS_ERR_OK || cs_option(cs, CS_OPT_DETAIL, CS_OPT_ON) != CS_ERR_OK)
        return 2;
    cs_insn* insn = cs_malloc(cs);
    bool good = true;
    for (int a = first; a + 1 < argc; a += 2) {
        bool okExe, okMap;
        std::string exeText = ReadText(argv[a], okExe), mapText = ReadText(argv[a + 1], okMap);
        std::vector<uint8_t> exe(exeText.begin(), exeText.end());
        CFileBytes file;
        std::vector<CInputSection> map = ReadMap(mapText);
        if (!okExe || !okMap || !ReadSections(exe, file) || map.empty()) {
            fprintf(stderr, "cannot read [ %s ] with its map [ %s ]\n", argv[a], argv[a + 1]);
            return 2;
        }
        std::sort(map.begin(), map.end(), [](const CInputSection& x, const CInputSection& y) { return x.start < y.start; });
        CListingOutput out;
        WriteListing(exe.data(), exe.size(), argv[a], out, straight);
        std::set<uint32_t> codeLines;
        for (size_t pos = 0; pos + 9 < out.m_text.size(); pos = out.m_text.find("\r\n", pos) + 2) {
            if (out.m_text[pos] == ':')
                codeLines.insert(uint32_t(strtoul(out.m_text.substr(pos + 1, 8).c_str(), nullptr, 16)));
            if (out.m_text.find("\r\n", pos) == std::string::npos)
                break;
        }
        std::vector<char> view(out.m_text.begin(), out.m_text.end());
        CPointMaps maps;
        ConvertListing(view.data(), DWORD(view.size()), maps);

        // Every byte of every point's instruction inside one input section of code.
        size_t outside = 0, points = 0;
        std::string examples;
        POSITION at = maps.m_mapAll.GetStartPosition();
        while (at) {
            void *key, *value;
            maps.m_mapAll.GetNextAssoc(at, key, value);
            uint32_t va = uint32_t(reinterpret_cast<uintptr_t>(key));
            size_t avail = 0;
            const uint8_t* p = file.At(va, avail);
            uint64_t address = va;
            uint32_t len = p && cs_disasm_iter(cs, &p, &avail, &address, insn) ? insn->size : 1;
            auto it = std::upper_bound(map.begin(), map.end(), va, [](uint32_t v, const CInputSection& s) { return v < s.start; });
            const CInputSection* home = nullptr;
            while (it != map.begin() && !home) {
                --it;
                if (it->size && va - it->start < it->size)
                    home = &*it;
            }
            ++points;
            if ((!home || !home->code || va + len > home->start + home->size) && ++outside <= 5) {
                char example[128];
                snprintf(example, sizeof example, "  point %08X in %s\n", va, home ? home->name.c_str() : "no input section");
                examples += example;
            }
        }
        // The instructions of the code sections, padding aside, and how many are code lines.
        size_t total = 0, listed = 0;
        for (const CInputSection& s : map) {
            if (!s.code || !s.size)
                continue;
            for (uint32_t va = s.start; va < s.start + s.size;) {
                size_t avail = 0;
                const uint8_t* p = file.At(va, avail);
                if (!p)
                    break;
                avail = std::min<size_t>(avail, s.start + s.size - va);
                uint64_t address = va;
                if (!cs_disasm_iter(cs, &p, &avail, &address, insn)) {
                    ++va;
                    continue;
                }
                if (!IsPadding(*insn)) {
                    ++total;
                    listed += codeLines.count(va);
                }
                va += insn->size;
            }
        }
        double coverage = total ? 100.0 * double(listed) / double(total) : 100.0;
        const char* name = strrchr(argv[a], '/') ? strrchr(argv[a], '/') + 1 : argv[a];
        printf("%s: %zu points, %zu outside the map's functions; %zu of %zu instructions in functions listed as code (%.2f%%)\n",
               name, points, outside, listed, total, coverage);
        fputs(examples.c_str(), stdout);
        if (outside || coverage < minCoverage)
            good = false;
    }
    cs_free(insn, 1);
    cs_close(&cs);
    return good ? 0 : 1;
}
