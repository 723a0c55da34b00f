#include "disasm/PeImage.h"

#include <algorithm>
#include <cstring>

namespace {

// Limits that keep a hostile file from making the parse slow or huge.
const uint32_t kMaxSections = 96;
const uint32_t kMaxImportModules = 4096;
const uint32_t kMaxThunksPerModule = 65536;
const uint32_t kMaxExports = 65536; // ordinals are 16-bit
const size_t kMaxNameLen = 160;

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

std::string Hex32(uint32_t v)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s(8, '0');
    for (int i = 7; i >= 0; --i, v >>= 4)
        s[size_t(i)] = digits[v & 15];
    return s;
}

const char* const kDirNames[CPeImage::kDirCount] = {
    "export directory", "import directory", "resources", "exception directory", "certificates",
    "relocations", "debug directory", "architecture data", "global pointer", "TLS directory",
    "load configuration", "bound imports", "import address table", "delay imports", "CLR header",
    "reserved directory"};

} // namespace

std::string ModuleBaseName(const std::string& dll)
{
    std::string base = dll;
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0)
        base.resize(dot);
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return base;
}

bool CPeImage::Parse(const uint8_t* data, size_t size)
{
    m_data = data;
    m_size = size;
    if (size < 2 || data[0] != 'M' || data[1] != 'Z') {
        m_strProblem = "no MZ signature";
        return false;
    }
    if (size < 0x40) {
        m_strProblem = "MZ header is truncated";
        return false;
    }
    uint32_t peOff = Get32(data + 0x3C);
    if (peOff > size || size - peOff < 24 || memcmp(data + peOff, "PE\0\0", 4) != 0) {
        m_strProblem = "MZ program without a PE header (DOS program)";
        return false;
    }
    const uint8_t* fh = data + peOff + 4;
    m_machine = Get16(fh);
    uint32_t nSections = Get16(fh + 2);
    uint32_t optSize = Get16(fh + 16);
    m_characteristics = Get16(fh + 18);
    size_t optOff = size_t(peOff) + 24;
    if (size - optOff < 2) {
        m_strProblem = "PE optional header is missing";
        return false;
    }
    uint16_t magic = Get16(data + optOff);
    if (magic == 0x20B) {
        m_strProblem = "64-bit PE (PE32+), not a 32-bit program";
        return false;
    }
    if (magic != 0x10B) {
        m_strProblem = "PE optional header has an unknown magic number";
        return false;
    }
    if (m_machine != 0x14C) {
        m_strProblem = "PE file for another processor (machine " + Hex32(m_machine).substr(4) + "), not x86";
        return false;
    }
    if (optSize < 96 || size - optOff < 96) {
        m_strProblem = "PE optional header is truncated";
        return false;
    }
    const uint8_t* opt = data + optOff;
    m_entryRva = Get32(opt + 16);
    m_imageBase = Get32(opt + 28);
    m_sizeOfImage = Get32(opt + 56);
    m_sizeOfHeaders = Get32(opt + 60);
    uint32_t nDirs = std::min<uint32_t>(Get32(opt + 92), kDirCount);
    for (uint32_t i = 0; i < nDirs; ++i) {
        size_t off = 96 + size_t(i) * 8;
        if (off + 8 > optSize || optOff + off + 8 > size)
            break;
        m_dirs[i].rva = Get32(opt + off);
        m_dirs[i].size = Get32(opt + off + 4);
    }

    size_t secOff = optOff + optSize;
    if (nSections > kMaxSections) {
        m_notes.push_back("section count " + std::to_string(nSections) + " cut to " + std::to_string(kMaxSections));
        nSections = kMaxSections;
    }
    for (uint32_t i = 0; i < nSections; ++i) {
        size_t off = secOff + size_t(i) * 40;
        if (off > size || size - off < 40) {
            m_notes.push_back("section table is truncated after " + std::to_string(i) + " sections");
            break;
        }
        const uint8_t* sh = data + off;
        CPeSection s;
        for (int k = 0; k < 8 && sh[k]; ++k)
            s.name += (sh[k] >= 0x20 && sh[k] < 0x7F) ? char(sh[k]) : '?';
        // "/4": a longer name in the COFF string table (".eh_frame"), kept by unstripped images.
        if (s.name.size() > 1 && s.name[0] == '/' && s.name.find_first_not_of("0123456789", 1) == std::string::npos) {
            uint64_t table = uint64_t(Get32(fh + 8)) + uint64_t(Get32(fh + 12)) * 18 + std::stoul(s.name.substr(1));
            std::string longName;
            for (uint64_t k = table; k < size && data[k] && longName.size() < 64; ++k)
                longName += (data[k] >= 0x20 && data[k] < 0x7F) ? char(data[k]) : '?';
            if (Get32(fh + 8) && !longName.empty())
                s.name = longName;
        }
        s.virtualSize = Get32(sh + 8);
        s.rva = Get32(sh + 12);
        uint32_t rawSize = Get32(sh + 16);
        s.rawOffset = Get32(sh + 20);
        s.flags = Get32(sh + 36);
        if (s.rawOffset >= size) {
            if (rawSize)
                m_notes.push_back("section " + s.name + " lies beyond the end of the file");
            rawSize = 0;
        } else if (rawSize > size - s.rawOffset) {
            m_notes.push_back("section " + s.name + " is cut short by the end of the file");
            rawSize = uint32_t(size - s.rawOffset);
        }
        s.rawSize = rawSize;
        uint32_t vsize = s.virtualSize ? s.virtualSize : rawSize;
        s.loadedSize = std::min(vsize, rawSize);
        // IMAGE_SCN_CNT_CODE or IMAGE_SCN_MEM_EXECUTE
        s.executable = (s.flags & 0x20) || (s.flags & 0x20000000);
        m_sections.push_back(s);
    }
    if (m_sizeOfImage == 0)
        for (const CPeSection& s : m_sections)
            m_sizeOfImage = std::max<uint32_t>(m_sizeOfImage, uint32_t(std::min<uint64_t>(uint64_t(s.rva) + std::max(s.virtualSize, s.rawSize), 0xFFFFFFFFu)));

    ReadRelocs();
    ReadImports();
    ReadDelayImports();
    ReadExports();
    ReadDirectoryRanges();
    ReadTlsCallbacks();
    ReadUnwindData();
    return true;
}

const CPeSection* CPeImage::SectionOf(uint32_t rva) const
{
    for (const CPeSection& s : m_sections)
        if (rva >= s.rva && rva - s.rva < s.loadedSize)
            return &s;
    return nullptr;
}

bool CPeImage::IsExecutable(uint32_t rva) const
{
    const CPeSection* s = SectionOf(rva);
    return s && s->executable;
}

const uint8_t* CPeImage::Span(uint32_t rva, size_t& avail) const
{
    for (const CPeSection& s : m_sections)
        if (rva - s.rva < s.rawSize) {
            avail = s.rawSize - (rva - s.rva);
            return m_data + s.rawOffset + (rva - s.rva);
        }
    size_t headers = std::min<size_t>(m_sizeOfHeaders, m_size);
    if (rva < headers) {
        avail = headers - rva;
        return m_data + rva;
    }
    avail = 0;
    return nullptr;
}

const uint8_t* CPeImage::At(uint32_t rva, size_t n) const
{
    size_t avail = 0;
    const uint8_t* p = Span(rva, avail);
    return p && n <= avail ? p : nullptr;
}

bool CPeImage::IsRelocated(uint32_t rva) const
{
    return std::binary_search(m_relocs.begin(), m_relocs.end(), rva);
}

const std::string* CPeImage::ImportAt(uint32_t slotVa) const
{
    auto it = m_importSlots.find(slotVa);
    return it == m_importSlots.end() ? nullptr : &it->second;
}

std::string CPeImage::CString(uint32_t rva, size_t maxLen) const
{
    std::string s;
    for (size_t i = 0; i < maxLen; ++i) {
        const uint8_t* p = At(rva + uint32_t(i), 1);
        if (!p || !*p)
            break;
        s += (*p >= 0x21 && *p < 0x7F) ? char(*p) : '?';
    }
    return s;
}

void CPeImage::AddData(uint32_t rva, uint32_t size, const char* label)
{
    if (size == 0)
        return;
    m_dataRanges.push_back({rva, size, label});
}

void CPeImage::ReadRelocs()
{
    const CPeDirectory& d = m_dirs[kDirReloc];
    if (!d.rva || !d.size)
        return;
    m_hasRelocTable = true;
    uint32_t pos = 0;
    while (pos + 8 <= d.size) {
        const uint8_t* blk = At(d.rva + pos, 8);
        if (!blk)
            break;
        uint32_t page = Get32(blk);
        uint32_t blkSize = Get32(blk + 4);
        if (blkSize < 8 || blkSize > d.size - pos) {
            if (blkSize != 0 || page != 0)
                m_notes.push_back("relocation table is damaged");
            break;
        }
        const uint8_t* entries = At(d.rva + pos + 8, blkSize - 8);
        if (!entries) {
            m_notes.push_back("relocation table is cut short by the end of the file");
            break;
        }
        for (uint32_t k = 0; k + 2 <= blkSize - 8; k += 2) {
            uint16_t e = Get16(entries + k);
            if ((e >> 12) == 3) // IMAGE_REL_BASED_HIGHLOW
                m_relocs.push_back(page + (e & 0xFFF));
        }
        pos += blkSize;
    }
    std::sort(m_relocs.begin(), m_relocs.end());
    m_relocs.erase(std::unique(m_relocs.begin(), m_relocs.end()), m_relocs.end());
}

void CPeImage::ReadImports()
{
    const CPeDirectory& d = m_dirs[kDirImport];
    if (!d.rva)
        return;
    uint32_t totalThunks = 0;
    for (uint32_t i = 0; i < kMaxImportModules; ++i) {
        uint32_t descRva = d.rva + i * 20;
        const uint8_t* desc = At(descRva, 20);
        if (!desc) {
            m_notes.push_back("import directory is cut short");
            break;
        }
        uint32_t lookup = Get32(desc);
        uint32_t nameRva = Get32(desc + 12);
        uint32_t iat = Get32(desc + 16);
        if (nameRva == 0 && iat == 0) {
            AddData(d.rva, (i + 1) * 20, "import directory");
            break;
        }
        CImportModule mod;
        mod.name = CString(nameRva, kMaxNameLen);
        if (mod.name.empty())
            mod.name = "?";
        AddData(nameRva, uint32_t(mod.name.size() + 2) & ~1u, "import names"); // entries are word-aligned
        std::string base = ModuleBaseName(mod.name);
        uint32_t names = lookup ? lookup : iat;
        uint32_t k = 0;
        for (; k < kMaxThunksPerModule && totalThunks < 2 * kMaxThunksPerModule; ++k, ++totalThunks) {
            const uint8_t* t = At(names + k * 4, 4);
            const uint8_t* slot = At(iat + k * 4, 4);
            if (!t || !slot)
                break;
            uint32_t v = Get32(t);
            if (v == 0)
                break;
            std::string fn;
            if (v & 0x80000000u) {
                fn = "#" + std::to_string(v & 0xFFFF);
            } else {
                fn = CString(v + 2, kMaxNameLen);
                if (fn.empty())
                    fn = "?";
                AddData(v, uint32_t(2 + fn.size() + 2) & ~1u, "import names");
            }
            m_importSlots[m_imageBase + iat + k * 4] = base + "." + fn;
        }
        mod.count = k;
        AddData(iat, (k + 1) * 4, "import address table");
        if (lookup)
            AddData(lookup, (k + 1) * 4, "import lookup table");
        m_importModules.push_back(mod);
    }
}

void CPeImage::ReadDelayImports()
{
    const CPeDirectory& d = m_dirs[kDirDelayImport];
    if (!d.rva)
        return;
    for (uint32_t i = 0; i < kMaxImportModules; ++i) {
        const uint8_t* desc = At(d.rva + i * 32, 32);
        if (!desc)
            break;
        uint32_t attrs = Get32(desc);
        uint32_t nameRef = Get32(desc + 4);
        uint32_t iatRef = Get32(desc + 12);
        uint32_t intRef = Get32(desc + 16);
        if (nameRef == 0)
            break;
        // Old linkers stored virtual addresses instead of RVAs.
        uint32_t bias = (attrs & 1) ? 0 : m_imageBase;
        CImportModule mod;
        mod.delayed = true;
        mod.name = CString(nameRef - bias, kMaxNameLen);
        if (mod.name.empty())
            mod.name = "?";
        std::string base = ModuleBaseName(mod.name);
        uint32_t k = 0;
        for (; k < kMaxThunksPerModule && m_importSlots.size() < 2 * kMaxThunksPerModule; ++k) {
            const uint8_t* t = At(intRef - bias + k * 4, 4);
            if (!t || !At(iatRef - bias + k * 4, 4))
                break;
            uint32_t v = Get32(t);
            if (v == 0)
                break;
            std::string fn = (v & 0x80000000u) ? "#" + std::to_string(v & 0xFFFF) : CString(v - bias + 2, kMaxNameLen);
            if (fn.empty())
                fn = "?";
            m_importSlots[m_imageBase + iatRef - bias + k * 4] = base + "." + fn;
        }
        mod.count = k;
        m_importModules.push_back(mod);
    }
}

void CPeImage::ReadExports()
{
    const CPeDirectory& d = m_dirs[kDirExport];
    const uint8_t* ed = d.rva ? At(d.rva, 40) : nullptr;
    if (!ed)
        return;
    uint32_t base = Get32(ed + 16);
    uint32_t nFuncs = std::min(Get32(ed + 20), kMaxExports);
    uint32_t nNames = std::min(Get32(ed + 24), kMaxExports);
    uint32_t funcs = Get32(ed + 28), names = Get32(ed + 32), ords = Get32(ed + 36);
    std::vector<bool> named(nFuncs, false);
    for (uint32_t i = 0; i < nNames; ++i) {
        const uint8_t* np = At(names + i * 4, 4);
        const uint8_t* op = At(ords + i * 2, 2);
        if (!np || !op)
            break;
        uint32_t idx = Get16(op);
        const uint8_t* fp = idx < nFuncs ? At(funcs + idx * 4, 4) : nullptr;
        if (!fp)
            continue;
        uint32_t rva = Get32(fp);
        if (rva >= d.rva && rva - d.rva < d.size)
            continue; // forwarder text, not code
        std::string name = CString(Get32(np), kMaxNameLen);
        if (!name.empty() && !m_exports.count(rva))
            m_exports[rva] = name;
        named[idx] = true;
    }
    for (uint32_t i = 0; i < nFuncs; ++i) {
        if (named[i])
            continue;
        const uint8_t* fp = At(funcs + i * 4, 4);
        if (!fp)
            break;
        uint32_t rva = Get32(fp);
        if (rva && !(rva >= d.rva && rva - d.rva < d.size) && !m_exports.count(rva))
            m_exports[rva] = "#" + std::to_string(base + i);
    }
}

void CPeImage::ReadDirectoryRanges()
{
    for (int i = 0; i < kDirCount; ++i) {
        // The certificate table is addressed by file offset and never mapped.
        if (i == kDirSecurity || !m_dirs[i].rva)
            continue;
        uint32_t size = m_dirs[i].size;
        if (i == kDirLoadConfig) {
            // Newer linkers write a directory size smaller than the structure.
            if (const uint8_t* p = At(m_dirs[i].rva, 4))
                size = std::max(size, std::min<uint32_t>(Get32(p), 0x400));
        }
        if (i == kDirTls)
            size = std::max<uint32_t>(size, 24);
        AddData(m_dirs[i].rva, size, kDirNames[i]);
    }
    // The debug entries point at their records, which may sit in a code section.
    const CPeDirectory& dbg = m_dirs[kDirDebug];
    if (dbg.rva)
        for (uint32_t off = 0; off + 28 <= dbg.size && off < 28 * 64; off += 28) {
            const uint8_t* e = At(dbg.rva + off, 28);
            if (!e)
                break;
            AddData(Get32(e + 20), Get32(e + 16), "debug data");
        }
}

void CPeImage::ReadTlsCallbacks()
{
    const uint8_t* tls = m_dirs[kDirTls].rva ? At(m_dirs[kDirTls].rva, 24) : nullptr;
    uint32_t list = tls ? Get32(tls + 12) : 0; // AddressOfCallBacks, a VA
    for (uint32_t k = 0; list && InImage(list) && k < 256; ++k) {
        const uint8_t* p = At(list - m_imageBase + k * 4, 4);
        uint32_t va = p ? Get32(p) : 0;
        if (!InImage(va))
            break;
        m_tlsCallbacks.push_back(va - m_imageBase);
    }
}
