// The DWARF call-frame data that GCC-built images carry in .eh_frame: one FDE
// per function with its exact range and, for C++, the address of the
// function's exception table (LSDA). The linker may put those tables
// (.gcc_except_table) inside the code section; they are data, and their bytes
// must never be taken for instructions.
#include "disasm/PeImage.h"

#include <algorithm>

namespace {

const uint8_t kOmit = 0xFF;
const size_t kMaxFunctions = 1 << 20;

// A cursor over [at, end) of the image; every read past the end fails the cursor.
struct CReader {
    const CPeImage& pe;
    uint32_t at;  // RVA
    uint32_t end;
    bool ok = true;

    uint8_t Byte()
    {
        const uint8_t* p = at < end ? pe.At(at, 1) : nullptr;
        if (!p) {
            ok = false;
            return 0;
        }
        ++at;
        return *p;
    }
    uint32_t Fixed(int n)
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= uint32_t(Byte()) << (8 * i);
        return v;
    }
    uint64_t Uleb()
    {
        uint64_t v = 0;
        for (int shift = 0; ok; shift += 7) {
            uint8_t b = Byte();
            if (shift < 64)
                v |= uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80))
                break;
        }
        return v;
    }
    int64_t Sleb()
    {
        int64_t v = 0;
        int shift = 0;
        uint8_t b = 0;
        do {
            b = Byte();
            if (shift < 64)
                v |= int64_t(uint64_t(b & 0x7F) << shift);
            shift += 7;
        } while (ok && (b & 0x80));
        if (shift < 64 && (b & 0x40))
            v |= -(int64_t(1) << shift);
        return v;
    }
    // A pointer in one of the DW_EH_PE encodings: absolute (a VA) or relative to
    // its own place; false for encodings that need bases an image lacks here.
    bool Pointer(uint8_t enc, uint32_t& va)
    {
        uint32_t place = pe.m_imageBase + at;
        uint64_t v;
        switch (enc & 0x0F) {
        case 0x00: case 0x03: case 0x0B: v = Fixed(4); break;
        case 0x02: case 0x0A: v = Fixed(2); break;
        case 0x01: v = Uleb(); break;
        case 0x09: v = uint64_t(Sleb()); break;
        case 0x04: case 0x0C: v = Fixed(4); Fixed(4); break;
        default: ok = false; return false;
        }
        switch (enc & 0x70) {
        case 0x00: break;
        case 0x10: v += place; break;
        default: return false;
        }
        va = uint32_t(v);
        return ok && !(enc & 0x80); // indirect: the pointer is behind another
    }
};

struct CCie {
    uint8_t fdeEnc = 0;
    uint8_t lsdaEnc = kOmit;
    bool augmented = false; // 'z': augmentation data of known length in every FDE
};

bool ReadCie(const CPeImage& pe, uint32_t rva, uint32_t end, CCie& cie)
{
    CReader r{pe, rva, end};
    uint8_t version = r.Byte();
    std::string aug;
    for (uint8_t c; (c = r.Byte()) != 0 && r.ok && aug.size() < 16;)
        aug += char(c);
    if (!r.ok || (version != 1 && version != 3))
        return false;
    if (aug.find("eh") != std::string::npos)
        r.Fixed(4);
    r.Uleb(); // code alignment
    r.Sleb(); // data alignment
    if (version == 1)
        r.Byte();
    else
        r.Uleb(); // return address register
    if (aug.empty() || aug[0] != 'z')
        return r.ok && aug.empty();
    cie.augmented = true;
    r.Uleb();
    for (size_t i = 1; i < aug.size() && r.ok; ++i) {
        uint32_t ignored;
        switch (aug[i]) {
        case 'L': cie.lsdaEnc = r.Byte(); break;
        case 'R': cie.fdeEnc = r.Byte(); break;
        case 'P': r.Pointer(r.Byte(), ignored); break;
        case 'S': case 'B': break;
        default: return false; // unknown: the rest cannot be read
        }
    }
    return r.ok;
}

} // namespace

void CPeImage::ReadUnwindData()
{
    const CPeSection* frames = nullptr;
    for (const CPeSection& s : m_sections)
        if (s.name == ".eh_frame" || s.name == ".eh_fram") // stripped images keep eight characters
            frames = &s;
    if (!frames || frames->executable)
        return;
    const uint32_t end = frames->rva + frames->loadedSize;
    std::vector<std::pair<uint32_t, CCie>> cies; // one or two per image
    for (uint32_t at = frames->rva; at + 8 <= end && m_functions.size() < kMaxFunctions;) {
        CReader r{*this, at, end};
        uint32_t length = r.Fixed(4);
        if (!r.ok || length == 0 || length == 0xFFFFFFFFu || length > end - at - 4)
            break; // the terminator, 64-bit lengths (not in 32-bit images) or damage
        const uint32_t next = at + 4 + length, idAt = r.at;
        uint32_t id = r.Fixed(4);
        at = next;
        if (id == 0)
            continue; // a CIE, read when an FDE names it
        uint32_t cieAt = idAt - id;
        auto it = std::find_if(cies.begin(), cies.end(), [&](const std::pair<uint32_t, CCie>& c) { return c.first == cieAt; });
        if (it == cies.end()) {
            CCie cie;
            CReader cr{*this, cieAt, end};
            uint32_t cieLength = cr.Fixed(4);
            if (!cr.ok || cieAt < frames->rva || cieLength < 8 || cieLength > end - cieAt - 4 || cr.Fixed(4) != 0 ||
                !ReadCie(*this, cr.at, cieAt + 4 + cieLength, cie))
                continue;
            cies.push_back({cieAt, cie});
            it = cies.end() - 1;
        }
        const CCie& cie = it->second;
        r.end = next;
        uint32_t begin = 0, range = 0, lsda = 0;
        if (!r.Pointer(cie.fdeEnc, begin) || !r.Pointer(cie.fdeEnc & 0x0F, range) || !InImage(begin) || range == 0 ||
            range > m_sizeOfImage - (begin - m_imageBase))
            continue;
        if (cie.augmented) {
            uint32_t augEnd = uint32_t(r.Uleb());
            augEnd += r.at;
            if (cie.lsdaEnc != kOmit && r.Pointer(cie.lsdaEnc, lsda) && InImage(lsda) && r.at <= augEnd)
                lsda -= m_imageBase;
            else
                lsda = 0;
        }
        m_functions.push_back({begin - m_imageBase, range, lsda});
    }
    m_hasUnwindData = !m_functions.empty();
    std::sort(m_functions.begin(), m_functions.end(), [](const CFunction& a, const CFunction& b) { return a.rva < b.rva; });
    for (const CFunction& f : m_functions)
        if (f.lsda)
            if (uint32_t n = ReadLsda(f.lsda, f.rva))
                AddData(f.lsda, n, "exception table");
    std::sort(m_landingPads.begin(), m_landingPads.end());
    m_landingPads.erase(std::unique(m_landingPads.begin(), m_landingPads.end()), m_landingPads.end());
}

// The extent of a GCC exception table: header, call-site table, the action
// records the call sites use, and the type table that ends where the header says.
// Its landing pads (code that only the unwinder enters) go to m_landingPads.
uint32_t CPeImage::ReadLsda(uint32_t rva, uint32_t function)
{
    const CPeSection* s = SectionOf(rva);
    if (!s)
        return 0;
    CReader r{*this, rva, s->rva + s->loadedSize};
    uint8_t lpEnc = r.Byte();
    uint32_t lpStart = m_imageBase + function;
    if (lpEnc != kOmit)
        r.Pointer(lpEnc, lpStart);
    uint8_t ttEnc = r.Byte();
    uint32_t typesEnd = 0;
    if (ttEnc != kOmit) {
        uint64_t off = r.Uleb();
        if (off > r.end - r.at)
            return 0; // a type table past its section
        typesEnd = uint32_t(r.at + off);
    }
    uint8_t csEnc = r.Byte();
    uint64_t csLength = r.Uleb();
    if (!r.ok || csLength > 0x100000)
        return 0;
    const uint32_t actions = uint32_t(r.at + csLength);
    uint32_t reach = std::max(actions, typesEnd);
    std::vector<uint32_t> todo, pads;
    while (r.ok && r.at < actions) {
        uint32_t start = 0, length = 0, pad = 0;
        r.Pointer(csEnc, start);
        r.Pointer(csEnc, length);
        if (r.Pointer(csEnc, pad) && pad && InImage(lpStart + pad))
            pads.push_back(lpStart + pad - m_imageBase);
        if (uint64_t act = r.Uleb())
            todo.push_back(uint32_t(actions + act - 1));
    }
    if (!r.ok)
        return 0;
    std::sort(todo.begin(), todo.end());
    todo.erase(std::unique(todo.begin(), todo.end()), todo.end());
    // Follow each chain of action records; negative filters name exception
    // specifications after the type table: index lists ended by zero.
    for (size_t i = 0; i < todo.size() && i < 4096; ++i) {
        CReader a{*this, todo[i], r.end};
        int64_t filter = a.Sleb();
        uint32_t nextAt = a.at;
        int64_t next = a.Sleb();
        if (!a.ok)
            return 0;
        reach = std::max(reach, a.at);
        if (filter < 0 && typesEnd) {
            CReader allowed{*this, uint32_t(typesEnd - filter - 1), r.end};
            while (allowed.ok && allowed.Uleb() != 0) {}
            if (allowed.ok)
                reach = std::max(reach, allowed.at);
        }
        if (next) {
            uint32_t to = uint32_t(nextAt + next);
            if (std::find(todo.begin(), todo.end(), to) == todo.end())
                todo.push_back(to);
        }
    }
    if (reach <= rva || reach - rva >= 0x100000)
        return 0;
    m_landingPads.insert(m_landingPads.end(), pads.begin(), pads.end());
    return reach - rva;
}
