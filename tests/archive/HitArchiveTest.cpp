// The hit archive format against a converted listing: the example file byte
// for byte, entries that name no point record, every early end, the entry
// count's extremes, and the replay's arithmetic.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <fstream>
#include <iterator>

#include "archive/HitArchive.h"
#include "tests/listing/ListingTestSupport.h"

namespace {

const char kPath[] = "hit_archive_test.ar";

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

// -1 when the reading ended with the framework's end-of-file error.
template <typename Load> int Loaded(const std::string& bytes, Load load)
{
    std::ofstream(kPath, std::ios::binary | std::ios::trunc) << bytes;
    CFile file;
    EXPECT_TRUE(file.Open(kPath, CFile::modeRead));
    CArchive ar(&file, CArchive::load);
    try {
        return load(ar);
    } catch (const CArchiveException&) {
        return -1;
    }
}

const HitArchiveHeader kHeader = {"prog.exe", "C:\\t", "prog.ar", {0, 1, 0, 0, 1, 0}};

// Four points (a call, a string after a push, a jump through a pointer, and a
// string that takes the address of a call, which m_mapAll then drops).
class HitArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        view = ToBytes(Listing({CodeLine("00401000", "E8FB000000", "call 00401100"),
                                CodeLine("00401005", "6800304000", "push 00403000"), StrLine("\"hello\""),
                                CodeLine("0040100A", "FF2504204000", "jmp dword ptr [00402004]"),
                                CodeLine("00401010", "E8EB000000", "call 00401100"), StrLine("\"shared\"")}));
        ASSERT_EQ(ConvertListing(view.data(), Size(), maps), 5);
        ASSERT_EQ(maps.m_mapAll.GetCount(), 4);
        for (POSITION pos = maps.m_mapAll.GetStartPosition(); pos != NULL;) {
            void *key, *value;
            maps.m_mapAll.GetNextAssoc(pos, key, value);
            points.push_back(static_cast<ListingRecord*>(value));
        }
        original = view;
    }
    DWORD Size() const { return static_cast<DWORD>(view.size()); }
    LONG OffsetOf(const ListingRecord* r) const { return LONG(reinterpret_cast<const char*>(r) - view.data()); }
    std::string Archive(const std::vector<std::array<LONG, 4>>& entries, LONG count)
    {
        return Stored([&](CArchive& ar) {
            StoreArchiveHeader(ar, kHeader);
            ar << count;
            for (const auto& entry : entries)
                ar << entry[0] << entry[1] << entry[2] << entry[3];
        });
    }
    int Restore(const std::string& bytes)
    {
        return Loaded(bytes, [&](CArchive& ar) {
            HitArchiveHeader header;
            if (!ReadArchiveSignature(ar))
                return -2;
            ReadArchiveHeader(ar, header);
            return RestoreArchiveEntries(ar, view.data(), Size(), maps.m_mapAll);
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
        0x00, 0x34, 0x12, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00
    };
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
        EXPECT_EQ(header.strTargetName + "|" + header.strTargetDir + "|" + header.strArchiveName,
                  "prog.exe|C:\\t|prog.ar");
        EXPECT_EQ(std::vector<LONG>(header.kinds, header.kinds + 6), std::vector<LONG>({0, 1, 0, 0, 1, 0}));
        EXPECT_TRUE(record->num == 3 && record->hits == 2 && record->comp == 0 && record->savedByte == 0x90);
    }
    // No entries: nothing changes; a signature that differs in case is no signature.
    EXPECT_EQ(Restore(Archive({}, 0)), 0);
    EXPECT_EQ(view, original);
    std::string upper = bytes;
    upper[1] = 'a';
    EXPECT_EQ(Restore(upper), -2);
}

// Forged offsets: only one that names a record m_mapAll holds is applied;
// nothing else in the listing, nor anything outside it, is written.
TEST_F(HitArchiveTest, OnlyEntriesThatNameAPointRecordApply)
{
    std::vector<std::array<LONG, 4>> entries = {{INT_MIN, 1, 1, 1}, {INT_MAX, 1, 1, 1}};
    for (LONG offset = -3; offset < LONG(Size()) + 3; ++offset)
        entries.push_back({offset, offset, 8, 9});
    EXPECT_EQ(Restore(Archive(entries, LONG(entries.size()))), int(entries.size()) - 4);
    for (ListingRecord* record : points)
        EXPECT_TRUE(record->num == OffsetOf(record) && record->hits == 8 && record->comp == 9) << record->addrText;
    ExpectOnlyPointCountsChanged();
}

// A file that ends early fails with the end-of-file error wherever it ends,
// keeping what it applied; a negative count reads no entry, a huge one reads
// the entries there are and then meets the end.
TEST_F(HitArchiveTest, EarlyEndsAndEntryCounts)
{
    std::vector<std::array<LONG, 4>> entries;
    for (ListingRecord* record : points)
        entries.push_back({OffsetOf(record), 1, 2, 3});
    std::string whole = Archive(entries, 4);
    for (size_t length = 0; length < whole.size(); ++length) {
        EXPECT_EQ(Restore(whole.substr(0, length)), -1) << length;
        ExpectOnlyPointCountsChanged();
    }
    view = original;
    EXPECT_EQ(Restore(Archive(entries, -1)), 0);
    EXPECT_EQ(view, original);
    EXPECT_EQ(Restore(Archive(entries, INT_MAX)), -1);
    for (ListingRecord* record : points)
        EXPECT_EQ(LONG(record->hits), 2);
}

// Comp ends as the earlier hits minus the archived ones. An entry is replayed
// when its stored num or the record's own num is not 0.
TEST_F(HitArchiveTest, ReplayLowersCompByTheArchivedHits)
{
    const LONG earlier[4] = {5, 0, 7, INT_MIN};
    const LONG ownNum[4] = {0, 0, 4, 0};
    const LONG stored[4][2] = {{9, 3}, {0, 6}, {0, 0}, {1, 1}}; // num, hits
    std::vector<std::array<LONG, 4>> entries;
    for (int i = 0; i < 4; ++i)
        entries.push_back({OffsetOf(points[i]), stored[i][0], stored[i][1], 12345});
    std::string archive = Archive(entries, 4);
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 4; ++i) { // the counts' reset before a replay: hits move into comp
            points[i]->comp = round == 0 ? earlier[i] : LONG(points[i]->hits);
            points[i]->num = round == 0 ? ownNum[i] : LONG(points[i]->num);
            points[i]->hits = 0;
        }
        std::vector<ListingRecord*> replayed;
        EXPECT_EQ(Loaded(archive, [&](CArchive& ar) {
            HitArchiveHeader header;
            ReadArchiveSignature(ar);
            ReadArchiveHeader(ar, header);
            return ReplayArchiveEntries(ar, view.data(), Size(), maps.m_mapAll,
                                        [&](ListingRecord* record) { replayed.push_back(record); });
        }), 0);
        // The second time the record without a num of its own is not replayed.
        EXPECT_EQ(replayed, round == 0 ? std::vector<ListingRecord*>({points[0], points[2], points[3]})
                                       : std::vector<ListingRecord*>({points[0], points[3]}));
        const LONG comp[2][4] = {{2, 0, 7, INT_MAX}, {0, 0, 0, 0}};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(LONG(points[i]->comp), comp[round][i]) << round << " " << i;
        EXPECT_TRUE(points[0]->num == 9 && points[0]->hits == 3 && points[2]->num == 0 && points[1]->hits == 0);
    }
}

} // namespace
