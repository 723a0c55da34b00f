// Inputs that are not 32-bit PE programs, PE files cut short or damaged, and
// tables read from a PE: a short header or a listing, never a read outside the file.
#include <cstring>
#include <random>

#include "disasm/PeImage.h"
#include "tests/disasm/DisasmTestSupport.h"

namespace {

const std::vector<uint8_t> kTiny = ReadFile(kPeDir + "/tiny.exe");

uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

// A copy of bytes with the dword at each offset set to its value.
std::vector<uint8_t> With(std::vector<uint8_t> bytes, std::initializer_list<std::pair<size_t, uint32_t>> dwords)
{
    for (const auto& [at, value] : dwords)
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = uint8_t(value >> (8 * i));
    return bytes;
}

TEST(NotPe, GetsOnlyAShortHeader)
{
    const std::vector<uint8_t> noMz = With(kTiny, {{0, 'X'}}), mz = With(std::vector<uint8_t>(512), {{0, 'M' | 'Z' << 8}});
    const uint32_t pe = Get32(&kTiny[0x3C]), magic = Get32(&kTiny[pe + 24]) & 0xFFFF0000, machine = Get32(&kTiny[pe + 4]) & 0xFFFF0000;
    const struct { std::string name; std::vector<uint8_t> bytes; const char* reason; } cases[] = {
        {"empty.exe", {}, "no MZ signature"}, {"nomz.exe", noMz, "no MZ signature"},
        // A DOS .com program: code from the first byte (mov dx, msg; mov ah, 9; int 21h; ret).
        {"hello.com", {0xBA, 0x08, 0x01, 0xB4, 0x09, 0xCD, 0x21, 0xC3, 'h', 'i', '$'}, "no MZ signature"},
        {"mz.exe", {'M', 'Z'}, "truncated"}, {"dos.exe", With(mz, {{0x3C, 0x40}}), "DOS program"},
        {"far.exe", With(mz, {{0x3C, 0xFFFFFFF0}}), "DOS program"}, // header offset outside the file
        {"win16.exe", With(mz, {{0x3C, 0x40}, {0x40, 'N' | 'E' << 8}}), "DOS program"},
        {"x64.exe", With(kTiny, {{pe + 24, magic | 0x20B}}), "64-bit"},
        {"arm.exe", With(kTiny, {{pe + 4, machine | 0x1C4}}), "another processor"},
        {std::string(600, 'n') + ".exe", noMz, "no MZ signature"}, // the name is shortened to keep the header short
    };
    for (const auto& c : cases) {
        const std::string text = ListingOf(c.bytes, c.name);
        EXPECT_TRUE(text.size() < 500 && ListingLines(text).size() == 3 && text.find(c.reason) != text.npos) << text;
    }
}

TEST(DamagedPe, EveryCutAndCorruptionKeepsTheRules)
{
    // Each listing is checked as it is made.
    for (size_t n = 0; n <= kTiny.size() && !HasFailure(); ++n)
        ListingOf(std::vector<uint8_t>(kTiny.begin(), kTiny.begin() + long(n)), "cut" + std::to_string(n) + ".exe");
    // The code section of the C++ program (its first) made two bytes at FFFFFFFD: its end wraps to 0 in 32 bits.
    const std::vector<uint8_t> cpp = ReadFile(kPeDir + "/throws.exe");
    const uint32_t nt = Get32(&cpp[0x3C]), text = nt + 24 + (Get32(&cpp[nt + 20]) & 0xFFFF);
    ASSERT_EQ(memcmp(&cpp[text], ".text", 6), 0);
    ListingOf(With(cpp, {{text + 8, 2}, {text + 12, 0xFFFFFFFD}}), "wrap.exe");
    // Damage to its unwind data and to the exception tables it points to: fewer
    // functions and tables, all inside the image, no read outside the file.
    // (Damage anywhere else is the fuzz target's.)
    std::mt19937 rng(11);
    const uint32_t nasty[] = {0, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 0x1000, 0xFFFFF000, 0x10};
    CPeImage whole;
    ASSERT_TRUE(whole.Parse(cpp.data(), cpp.size()) && whole.m_functions.size() > 100 && !whole.m_landingPads.empty());
    std::vector<std::pair<size_t, size_t>> spots; // file offset, bytes
    for (const CPeSection& s : whole.m_sections)
        if (s.name == ".eh_frame")
            spots.push_back({s.rawOffset, s.loadedSize});
    for (const CPeImage::CDataRange& d : whole.m_dataRanges)
        if (strcmp(d.label, "exception table") == 0)
            spots.push_back({size_t(whole.At(d.rva, d.size) - cpp.data()), d.size});
    ASSERT_GT(spots.size(), 2u);
    for (int round = 0; round < 400 && !HasFailure(); ++round) {
        std::vector<uint8_t> bad = cpp;
        for (int e = 0, edits = 1 + int(rng() % 8); e < edits; ++e) {
            const auto& spot = spots[rng() % spots.size()];
            size_t at = spot.first + rng() % spot.second;
            if (rng() % 2 && at + 4 <= spot.first + spot.second)
                bad = With(bad, {{at, nasty[rng() % 7]}});
            else
                bad[at] = uint8_t(rng());
        }
        CPeImage pe;
        ASSERT_TRUE(pe.Parse(bad.data(), bad.size()));
        for (const CPeImage::CFunction& f : pe.m_functions)
            ASSERT_TRUE(f.size && f.size <= pe.m_sizeOfImage - f.rva && (!f.lsda || f.lsda < pe.m_sizeOfImage)) << round;
        for (uint32_t pad : pe.m_landingPads)
            ASSERT_LT(pad, pe.m_sizeOfImage) << round;
        if (round % 100 == 0)
            ListingOf(bad, "round" + std::to_string(round) + ".exe");
    }
}

// Calls through the import address table name their import (the golden listing
// of tiny.exe shows them), also through a flat cs: segment and by ordinal. Import tables in a code section (as old linkers merged
// them), found without an address-table directory, are data, not code.
TEST(Imports, NamedAtTheirCallsAndNeverDecoded)
{
    CPeImage pe;
    ASSERT_TRUE(pe.Parse(kTiny.data(), kTiny.size()));
    // `mov dword ptr [esp], 0` at 00401088 makes room for a call with a cs: prefix.
    const uint8_t *mov = pe.At(0x1088, 7), *desc = pe.At(pe.m_dirs[CPeImage::kDirImport].rva, 4);
    ASSERT_TRUE(mov && Get32(mov) == 0x002404C7 && desc && pe.At(Get32(desc), 4));
    // The first lookup entry is that of ExitProcess, in slot 00403040.
    const size_t at = size_t(mov - kTiny.data()), slot0 = size_t(pe.At(Get32(desc), 4) - kTiny.data());
    const std::pair<std::vector<uint8_t>, const char*> cases[] = {
        {With(kTiny, {{at, 0x15FF2E}, {at + 3, 0x403040}}), "2EFF1540304000          call dword ptr cs:[00403040] ; KERNEL32.ExitProcess\r\n"},
        {With(kTiny, {{slot0, 0x80000017}}), "call dword ptr [00403040] ; KERNEL32.#23\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_NE(ListingOf(c.first, "tiny.exe").find(c.second), std::string::npos) << c.second;
    // Import directory: just the descriptors; no address-table directory. The section
    // table follows the 16 directories; .idata is its third entry.
    const size_t dirs = Get32(&kTiny[0x3C]) + 24 + 96, iat = dirs + CPeImage::kDirIat * 8, idata = dirs + 16 * 8 + 2 * 40;
    std::vector<uint8_t> exe = With(kTiny, {{dirs + CPeImage::kDirImport * 8 + 4, 40}, {iat, 0}, {iat + 4, 0}});
    ASSERT_EQ(memcmp(&exe[idata], ".idata", 6), 0);
    exe[idata + 36] |= 0x20, exe[idata + 39] |= 0x20; // code, executable
    const std::string text = ListingOf(exe, "tiny.exe");
    for (const std::string& line : ListingLines(text))
        EXPECT_FALSE(IsCodeLine(line) && line.compare(1, 8, "00403000") >= 0 && line.compare(1, 8, "004030A4") < 0) << line;
    EXPECT_NE(text.find("; data 00403000..00403027 (import directory, 40 bytes)\r\n; data 00403028..0040303F (import lookup table, 24 bytes)\r\n"
                        "; data 00403040..00403057 (import address table, 24 bytes)\r\n; data 00403058..004030A3 (import names, 76 bytes)\r\n"),
              std::string::npos);
}

} // namespace
