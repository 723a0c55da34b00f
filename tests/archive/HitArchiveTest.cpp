// Hit archives through a real file: the encoding's string prefixes and wide
// strings, the example file byte for byte, entries that name no point record
// of a converted listing, every early end, the entry count's extremes, and
// the replay's arithmetic.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <fstream>

#include "archive/HitArchive.h"
#include "tests/listing/ListingTestSupport.h"

namespace {

typedef std::vector<std::array<LONG, 4>> Entries; // offset, num, hits, comp

const char kPath[] = "hit_archive_test.ar";
const HitArchiveHeader kHeader = {"prog.exe", "C:\\t", "prog.ar", {0, 1, 0, 0, 1, 0}};

template <typename Store> std::string Stored(Store store)
{
    CFile file;
    EXPECT_TRUE(file.Open(kPath, CFile::modeCreate | CFile::modeWrite));
    CArchive ar(&file, CArchive::store);
    store(ar);
    ar.Close();
    file.Close();
    std::ifstream in(kPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What `load` returns, or -1 when it met the framework's end-of-file error.
template <typename Load> int Loaded(const std::string& bytes, Load load)
{
    std::ofstream(kPath, std::ios::binary | std::ios::trunc) << bytes;
    CFile file;
    EXPECT_TRUE(file.Open(kPath, CFile::modeRead));
    CArchive ar(&file, CArchive::load);
    try {
        return load(ar);
    } catch (const CArchiveException& e) {
        EXPECT_EQ(e.GetErrorMessage().Str(), "An attempt was made to access an unnamed file past its end.");
        return -1;
    }
}

// Written with the shortest prefix and read back; wide strings read in the
// ANSI code page; a length beyond the file's end allocates nothing it does
// not hold (a 32-bit process could not allocate 4 GB at all) and fails.
TEST(ArchiveEncoding, StringPrefixesWideStringsAndLengthsBeyondTheEnd)
{
    std::string text300(300, 'x'), wide300;
    for (char c : text300)
        wide300 += std::string(1, c) + '\0';
    const std::pair<size_t, std::string> stored[] = {
        {0, std::string("\x00", 1)}, {254, "\xFE"}, {255, std::string("\xFF\xFF\x00", 3)}, {300, "\xFF\x2C\x01"},
        {65533, "\xFF\xFD\xFF"}, {65534, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
        {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)}}; // through the 4096-byte buffer many times
    std::vector<std::pair<std::string, std::string>> read = {
        {std::string("\xFF\xFE\xFF\x03h\0i\0!\0", 10), "hi!"}, {std::string("\xFF\xFE\xFF\x00", 4), ""},
        {"\xFF\xFE\xFF\xFF\x2C\x01" + wide300, text300},
        {std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFFtail", 11), "<end>"},
        {std::string("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFFtail", 14), "<end>"}, {"", "<end>"}};
    for (const auto& row : stored) {
        std::string text(row.first, 'a');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = char('a' + i % 26);
        std::string bytes = Stored([&](CArchive& ar) { ar << CString(text); });
        EXPECT_EQ(bytes, row.second + text) << row.first;
        read.push_back({bytes, text});
    }
    for (const auto& row : read) {
        CString text;
        LONG after = 0;
        std::string bytes = row.first + std::string("\x02\x00\x00\x80", 4);
        int end = Loaded(bytes, [&](CArchive& ar) { return (ar >> text >> after, 0); });
        EXPECT_EQ(end < 0 ? "<end>" : text.Str() + (after == INT_MIN + 2 ? "" : "<no int>"), row.second);
    }
}

// Four points: a call, a string after a push, a jump through a pointer, and a
// string that takes the address of a call (m_mapAll keeps the string).
class HitArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        view = ToBytes(Listing({CodeLine("00401000", "E8FB000000", "call 00401100"),
                                CodeLine("00401005", "6800304000", "push 00403000"), StrLine("\"hello\""),
                                CodeLine("0040100A", "FF2504204000", "jmp dword ptr [00402004]"),
                                CodeLine("00401010", "E8EB000000", "call 00401100"), StrLine("\"shared\"")}));
        ASSERT_EQ(ConvertListing(view.data(), Size(), maps), 5);
        void *key, *value;
        for (POSITION pos = maps.m_mapAll.GetStartPosition(); pos != NULL; points.push_back((ListingRecord*)value))
            maps.m_mapAll.GetNextAssoc(pos, key, value);
        ASSERT_EQ(points.size(), 4u);
        original = view;
    }
    DWORD Size() const { return static_cast<DWORD>(view.size()); }
    LONG OffsetOf(const ListingRecord* r) const { return LONG(reinterpret_cast<const char*>(r) - view.data()); }
    std::string Archive(const Entries& entries, LONG count)
    {
        return Stored([&](CArchive& ar) {
            StoreArchiveHeader(ar, kHeader);
            ar << count;
            for (const auto& entry : entries)
                ar << entry[0] << entry[1] << entry[2] << entry[3];
        });
    }
    // Restored, or replayed into `replayed`: the entries skipped, -1 at an early end, -2 without the signature.
    int Read(const std::string& bytes, std::vector<ListingRecord*>* replayed = nullptr)
    {
        return Loaded(bytes, [&](CArchive& ar) {
            HitArchiveHeader header;
            if (!ReadArchiveSignature(ar))
                return -2;
            ReadArchiveHeader(ar, header);
            if (replayed == nullptr)
                return RestoreArchiveEntries(ar, view.data(), Size(), maps.m_mapAll);
            return ReplayArchiveEntries(ar, view.data(), Size(), maps.m_mapAll,
                                        [&](ListingRecord* record) { replayed->push_back(record); });
        });
    }
    // Every byte of the listing but the counts of its point records (and their saved byte) is as converted.
    void ExpectOnlyPointCountsChanged()
    {
        Bytes masked = view, before = original;
        for (ListingRecord* record : points)
            for (long at = OffsetOf(record) + 15; at < OffsetOf(record) + 32; ++at)
                masked[at] = before[at] = 0;
        EXPECT_TRUE(masked == before);
    }

    Bytes view, original;
    CPointMaps maps;
    std::vector<ListingRecord*> points;
};

TEST_F(HitArchiveTest, TheExampleFileByteForByteWrittenAndRead)
{
    Bytes fake(0x1300, 0);
    ListingRecord* record = reinterpret_cast<ListingRecord*>(&fake[0x1234]);
    record->addr = 0x00401234;
    record->num = 3;
    record->hits = 2;
    CMapPtrToPtr one;
    one.SetAt(Key(record->addr), record);
    std::string bytes = Stored([&](CArchive& ar) {
        StoreArchiveHeader(ar, kHeader);
        StoreArchiveEntries(ar, one, fake.data());
    });
    const unsigned char example[81] = {
        0x0E, 0x41, 0x72, 0x63, 0x68, 0x69, 0x76, 0x65, 0x2C, 0x76, 0x65, 0x72, 0x30, 0x30, 0x31, 0x08,
        0x70, 0x72, 0x6F, 0x67, 0x2E, 0x65, 0x78, 0x65, 0x04, 0x43, 0x3A, 0x5C, 0x74, 0x07, 0x70, 0x72,
        0x6F, 0x67, 0x2E, 0x61, 0x72, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
        0x00, 0x34, 0x12, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(example), sizeof example));

    // Read back, also with bytes after the last entry, which are ignored.
    for (const std::string& tail : {std::string(), std::string("trailing bytes")}) {
        record->num = record->hits = record->comp = -5;
        HitArchiveHeader header = {};
        EXPECT_EQ(Loaded(bytes + tail, [&](CArchive& ar) {
            EXPECT_TRUE(ReadArchiveSignature(ar));
            ReadArchiveHeader(ar, header);
            return RestoreArchiveEntries(ar, fake.data(), static_cast<DWORD>(fake.size()), one);
        }), 0);
        EXPECT_EQ(header.strTargetName + "|" + header.strTargetDir + "|" + header.strArchiveName + "|" +
                      std::to_string(header.kinds[1] * 10 + header.kinds[4]),
                  "prog.exe|C:\\t|prog.ar|11");
        EXPECT_TRUE(record->num == 3 && record->hits == 2 && record->comp == 0 && record->savedByte == 0x90);
    }
    bytes[1] = 'a'; // a signature that differs in case is none
    EXPECT_EQ(Read(bytes), -2);
}

// Forged offsets: only one that names a record m_mapAll holds is applied.
// A file that ends early fails wherever it ends, keeping what it applied; a
// count of 0 or below reads no entry, a huge one reads those there are.
// Nothing else in the listing, nor anything outside it, is ever written.
TEST_F(HitArchiveTest, OnlyPointRecordsTakeCountsWhereverTheFileEnds)
{
    Entries forged = {{INT_MIN, 1, 1, 1}, {INT_MAX, 1, 1, 1}}, entries;
    for (LONG offset = -3; offset < LONG(Size()) + 3; ++offset)
        forged.push_back({offset, offset, 8, 9});
    EXPECT_EQ(Read(Archive(forged, LONG(forged.size()))), int(forged.size()) - 4);
    for (ListingRecord* record : points)
        EXPECT_TRUE(record->num == OffsetOf(record) && record->hits == 8 && record->comp == 9) << record->addrText;
    ExpectOnlyPointCountsChanged();

    for (ListingRecord* record : points)
        entries.push_back({OffsetOf(record), 1, 2, 3});
    std::string whole = Archive(entries, 4);
    for (size_t length = 0; length < whole.size(); ++length) {
        EXPECT_EQ(Read(whole.substr(0, length)), -1) << length;
        ExpectOnlyPointCountsChanged();
    }
    view = original;
    EXPECT_EQ(Read(Archive(entries, -1)) + Read(Archive(entries, 0)), 0);
    EXPECT_EQ(view, original);
    EXPECT_EQ(Read(Archive(entries, INT_MAX)), -1);
    for (ListingRecord* record : points)
        EXPECT_EQ(LONG(record->hits), 2);
}

// Comp ends as the earlier hits minus the archived ones (wrapping as 32 bits
// do); a second replay compares the archive with itself. An entry is
// replayed when its stored num or the record's own num is not 0.
TEST_F(HitArchiveTest, ReplayLowersCompByTheArchivedHits)
{
    const LONG earlier[4] = {5, 0, 7, INT_MIN}, ownNum[4] = {0, 0, 4, 0};
    const LONG stored[4][2] = {{9, 3}, {0, 6}, {0, 0}, {1, 1}}; // num, hits
    const LONG comp[2][4] = {{2, 0, 7, INT_MAX}, {0, 0, 0, 0}};
    Entries entries;
    for (int i = 0; i < 4; ++i)
        entries.push_back({OffsetOf(points[i]), stored[i][0], stored[i][1], 12345});
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 4; ++i) { // the counts' reset before a replay: hits move into comp
            points[i]->comp = round == 0 ? earlier[i] : LONG(points[i]->hits);
            points[i]->num = round == 0 ? ownNum[i] : LONG(points[i]->num);
            points[i]->hits = 0;
        }
        std::vector<ListingRecord*> replayed;
        EXPECT_EQ(Read(Archive(entries, 4), &replayed), 0);
        EXPECT_EQ(replayed, round == 0 ? std::vector<ListingRecord*>({points[0], points[2], points[3]})
                                       : std::vector<ListingRecord*>({points[0], points[3]}));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(LONG(points[i]->comp), comp[round][i]) << round << " " << i;
        EXPECT_TRUE(points[0]->num == 9 && points[0]->hits == 3 && points[2]->num == 0 && points[1]->hits == 0);
    }
}

} // namespace
