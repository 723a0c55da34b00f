// Inputs that are not 32-bit PE programs, and PE files that are cut short or
// damaged: short header or a listing, never a crash or a read outside the file.
#include <cstring>
#include <random>

#include "disasm/PeImage.h"
#include "tests/disasm/DisasmTestSupport.h"

namespace {

std::vector<uint8_t> Tiny()
{
    std::vector<uint8_t> bytes = ReadFileBytes(PeDir() + "/tiny.exe");
    EXPECT_GT(bytes.size(), 1024u);
    return bytes;
}

uint32_t PeOffset(const std::vector<uint8_t>& b) { return b[0x3C] | (b[0x3D] << 8) | (b[0x3E] << 16) | (uint32_t(b[0x3F]) << 24); }

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

void ExpectShortHeader(const std::vector<uint8_t>& bytes, const std::string& what, const char* reason)
{
    CListingStats stats;
    std::string text = ListingOf(bytes, what, &stats);
    EXPECT_FALSE(stats.isPe) << what;
    EXPECT_LT(text.size(), 500u) << what;
    EXPECT_NE(text.find(reason), std::string::npos) << what << ":\n" << text;
    EXPECT_EQ(text.find("\r\n:"), std::string::npos) << what;
    ExpectListingRules(text, what);
}

TEST(NotPe, GetsOnlyAShortHeader)
{
    ExpectShortHeader({}, "empty.exe", "no MZ signature");
    std::mt19937 rng(7);
    std::vector<uint8_t> noise(4096);
    for (uint8_t& b : noise)
        b = uint8_t(rng());
    noise[0] = 'X';
    ExpectShortHeader(noise, "noise.exe", "no MZ signature");
    // A DOS .com program: code from the first byte (mov dx, msg; mov ah, 9; int 21h; ret).
    ExpectShortHeader({0xBA, 0x08, 0x01, 0xB4, 0x09, 0xCD, 0x21, 0xC3, 'h', 'i', '$'}, "hello.com", "no MZ signature");
    ExpectShortHeader({'M', 'Z'}, "mz.exe", "truncated");

    std::vector<uint8_t> mz(512, 0);
    mz[0] = 'M', mz[1] = 'Z';
    Put32(mz, 0x3C, 0x40);
    ExpectShortHeader(mz, "dos.exe", "DOS program");
    Put32(mz, 0x3C, 0xFFFFFFF0); // header offset far outside the file
    ExpectShortHeader(mz, "dos2.exe", "DOS program");
    mz[0x40] = 'N', mz[0x41] = 'E';
    Put32(mz, 0x3C, 0x40);
    ExpectShortHeader(mz, "win16.exe", "DOS program");

    std::vector<uint8_t> pe64 = Tiny();
    pe64[PeOffset(pe64) + 24] = 0x0B, pe64[PeOffset(pe64) + 25] = 0x02;
    ExpectShortHeader(pe64, "x64.exe", "64-bit");
    std::vector<uint8_t> arm = Tiny();
    arm[PeOffset(arm) + 4] = 0xC4, arm[PeOffset(arm) + 5] = 0x01;
    ExpectShortHeader(arm, "arm.exe", "another processor");

    // A long file name is shortened so that the header stays short.
    ExpectShortHeader(noise, std::string(600, 'n') + ".exe", "no MZ signature");
}

TEST(DamagedPe, EveryCutKeepsTheRules)
{
    std::vector<uint8_t> full = Tiny();
    for (size_t n = 0; n <= full.size(); ++n) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + long(n));
        CListingStats stats;
        std::string text = ListingOf(cut, "cut.exe", &stats);
        // Once the headers are there, it is a PE, whose listing the tracer must accept.
        EXPECT_EQ(text.size() >= 500, stats.isPe) << n;
        ExpectListingRules(text, "cut at " + std::to_string(n));
        if (HasFailure())
            return;
    }
}

TEST(DamagedPe, CorruptHeadersAndTablesKeepTheRules)
{
    std::vector<uint8_t> full = Tiny();
    CPeImage pe;
    ASSERT_TRUE(pe.Parse(full.data(), full.size()));
    // Bytes worth damaging: headers, the section table, the import tables.
    std::vector<size_t> spots;
    for (size_t i = 0; i < 0x200; ++i)
        spots.push_back(i);
    const CPeSection* idata = pe.SectionOf(pe.m_dirs[CPeImage::kDirImport].rva);
    ASSERT_NE(idata, nullptr);
    for (size_t i = 0; i < 0xC8; ++i)
        spots.push_back(idata->rawOffset + i);
    std::mt19937 rng(11);
    const uint32_t nasty[] = {0, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 0x1000, 0xFFFFF000, 0x10};
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bad = full;
        int edits = 1 + int(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = spots[rng() % spots.size()];
            if (rng() % 2 && at + 4 <= bad.size())
                Put32(bad, at, nasty[rng() % 7]);
            else
                bad[at] = uint8_t(rng());
        }
        ExpectListingRules(ListingOf(bad, "bad.exe"), "round " + std::to_string(round));
        if (HasFailure())
            return;
    }
}

TEST(Imports, CallsThroughTheTableNameTheirImport)
{
    std::vector<uint8_t> bytes = Tiny();
    std::string text = ListingOf(bytes, "tiny.exe");
    EXPECT_NE(text.find("call dword ptr [00403040] ; KERNEL32.ExitProcess\r\n"), std::string::npos);

    // Through an explicit flat segment (cs:) the slot is the same. The 7-byte
    // `mov dword ptr [esp], 0` at 00401088 makes room for the prefixed call.
    std::vector<uint8_t> prefixed = bytes;
    CPeImage image;
    ASSERT_TRUE(image.Parse(prefixed.data(), prefixed.size()));
    const uint8_t* mov = image.At(0x1088, 7);
    ASSERT_TRUE(mov && mov[0] == 0xC7 && mov[1] == 0x04 && mov[2] == 0x24);
    const uint8_t call[7] = {0x2E, 0xFF, 0x15, 0x40, 0x30, 0x40, 0x00};
    memcpy(&prefixed[size_t(mov - prefixed.data())], call, 7);
    EXPECT_NE(ListingOf(prefixed, "tiny.exe").find(":00401088 2EFF1540304000          call dword ptr cs:[00403040] ; KERNEL32.ExitProcess\r\n"),
              std::string::npos);

    // The same slot imported by ordinal 23.
    CPeImage pe;
    ASSERT_TRUE(pe.Parse(bytes.data(), bytes.size()));
    const uint8_t* desc = pe.At(pe.m_dirs[CPeImage::kDirImport].rva, 20);
    ASSERT_NE(desc, nullptr);
    uint32_t lookup = desc[0] | (desc[1] << 8) | (desc[2] << 16) | (uint32_t(desc[3]) << 24);
    const uint8_t* first = pe.At(lookup, 4);
    ASSERT_NE(first, nullptr);
    size_t at = size_t(first - bytes.data()); // slot 0 is ExitProcess at 00403040
    Put32(bytes, at, 0x80000017);
    text = ListingOf(bytes, "tiny.exe");
    EXPECT_NE(text.find("call dword ptr [00403040] ; KERNEL32.#23\r\n"), std::string::npos) << text;
}

TEST(DataInCode, FoundWithAndWithoutRelocations)
{
    std::vector<uint8_t> bytes = ReadFileBytes(PeDir() + "/tables.dll");
    ASSERT_FALSE(bytes.empty());
    auto dataLines = [](const std::string& text) {
        std::vector<std::string> found;
        for (const std::string& line : ListingLines(text))
            if (line.compare(0, 7, "; data ") == 0 && line.find("constructor") == std::string::npos)
                found.push_back(line);
        return found;
    };
    const std::vector<std::string> expected = {
        "; data 00501010..0050101F (jump table, 16 bytes)",
        "; data 00501050..00501057 (jump table, 8 bytes)",
        "; data 00501058..0050105B (jump index table, 4 bytes)",
        "; data 0050106E..00501083 (string, 22 bytes)",
    };
    EXPECT_EQ(dataLines(ListingOf(bytes, "tables.dll")), expected);

    // Without the relocation directory the tables come from the indexed jumps alone.
    size_t dir = PeOffset(bytes) + 24 + 96 + CPeImage::kDirReloc * 8;
    Put32(bytes, dir, 0);
    Put32(bytes, dir + 4, 0);
    EXPECT_EQ(dataLines(ListingOf(bytes, "tables.dll")), expected);
}

// Import tables in an executable section (as old linkers merged them into the
// code): the directory, lookup table, address table and names are data.
TEST(DataInCode, ImportTablesInACodeSectionAreNotDecoded)
{
    std::vector<uint8_t> bytes = Tiny();
    size_t pe = PeOffset(bytes);
    size_t sections = pe + 24 + (bytes[pe + 20] | (bytes[pe + 21] << 8));
    for (size_t i = 0; i < bytes[pe + 6]; ++i) {
        size_t at = sections + 40 * i;
        if (memcmp(&bytes[at], ".idata", 6) == 0)
            bytes[at + 36] |= 0x20, bytes[at + 39] |= 0x20; // code, executable
    }
    size_t dirs = pe + 24 + 96;
    Put32(bytes, dirs + CPeImage::kDirImport * 8 + 4, 40); // just the descriptors
    Put32(bytes, dirs + CPeImage::kDirIat * 8, 0);          // and no address-table directory
    Put32(bytes, dirs + CPeImage::kDirIat * 8 + 4, 0);

    std::string text = ListingOf(bytes, "tiny.exe");
    ExpectListingRules(text, "tiny.exe, .idata executable");
    std::string labels;
    for (const std::string& line : ListingLines(text)) {
        if (IsCodeLine(line)) {
            EXPECT_FALSE(line.compare(1, 8, "00403000") >= 0 && line.compare(1, 8, "004030A4") < 0) << line;
        }
        if (line.compare(0, 7, "; data ") == 0 && line.compare(7, 8, "00403000") >= 0)
            labels += line.substr(line.find('(')) + "\n";
    }
    const std::string expected = "(import directory, 40 bytes)\n(import lookup table, 24 bytes)\n"
                                 "(import address table, 24 bytes)\n(import names, 76 bytes)\n";
    EXPECT_EQ(labels.substr(0, expected.size()), expected);
}

} // namespace
