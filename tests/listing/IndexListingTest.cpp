#include <random>

#include "tests/listing/ListingTestSupport.h"

namespace {

std::string SampleListing()
{
    return Listing({
        "Disassembly of prog.exe",
        CodeLine("00401000", "FF15E0404000", "call dword ptr [004040E0]"),
        StrLine("\"hello\""),
        CodeLine("00401006", "6810204000", "push 00402010"),
        StrLine("\"pushed\""),
        CodeLine("0040100B", "E8F0FFFFFF", "call 00401000"),
        CodeLine("00401010", "FF2500204000", "jmp dword ptr [00402000]"),
        CodeLine("00401016", "7405", "je 0040101D"),
        CodeLine("00401018", "E9E3FFFFFF", "jmp 00401000"),
    });
}

TEST(IndexListing, GivesTheMapsOfTheConversion)
{
    ExactBuffer buffer(SampleListing());
    CPointMaps maps;
    int nConverted = ConvertListing(buffer.data(), buffer.size(), maps);
    std::vector<MapSnapshot> converted = SnapshotAll(maps, buffer.data());
    EXPECT_EQ(nConverted, 7);
    EXPECT_EQ(converted[5].size(), 6u); // the string after the first call shares its address

    std::string before = buffer.str();
    CPointMaps again;
    int nCorrupt = -1;
    EXPECT_EQ(IndexListing(buffer.data(), buffer.size(), again, &nCorrupt), nConverted);
    EXPECT_EQ(nCorrupt, 0);
    EXPECT_EQ(SnapshotAll(again, buffer.data()), converted);
    // A fresh conversion leaves nothing for the re-index to change.
    EXPECT_EQ(buffer.str(), before);
}

TEST(IndexListing, KeepsCountsAndResetsSavedByteAndRow)
{
    ExactBuffer buffer(SampleListing());
    CPointMaps maps;
    ConvertListing(buffer.data(), buffer.size(), maps);
    std::vector<size_t> offsets = RecordOffsets(buffer.data(), buffer.size());
    // What a run leaves behind, in point records and in a code record that is no point.
    LONG n = 1;
    for (size_t offset : offsets) {
        ListingRecord* rec = reinterpret_cast<ListingRecord*>(buffer.data() + offset);
        if (rec->len < 35 || std::memcmp(rec->mark, "Ok\n", 3) != 0)
            continue;
        rec->savedByte = 0xCC;
        rec->row = n;
        rec->num = n * 10;
        rec->hits = n * 100;
        rec->comp = -n;
        ++n;
    }
    ASSERT_EQ(n, 9);
    maps.RemoveAllPoints();
    IndexListing(buffer.data(), buffer.size(), maps);

    n = 1;
    for (size_t offset : offsets) {
        const ListingRecord* rec = RecordAt(buffer.data(), offset);
        if (rec->len < 35 || std::memcmp(rec->mark, "Ok\n", 3) != 0)
            continue;
        SCOPED_TRACE(offset);
        bool point = rec->kind != 0;
        EXPECT_EQ(rec->savedByte, point ? 0 : 0xCC);
        EXPECT_EQ(+rec->row, point ? -1 : n);
        EXPECT_EQ(+rec->num, n * 10);
        EXPECT_EQ(+rec->hits, n * 100);
        EXPECT_EQ(+rec->comp, -n);
        ++n;
    }
    ExpectMapsSound(maps, buffer.data(), buffer.size());
}

// Builds a converted file from raw record bytes: the mark, then the records.
std::string Converted(const std::vector<std::string>& records)
{
    std::string file = "\x27";
    for (const std::string& rec : records)
        file += rec;
    return file;
}

// A point record as the conversion writes it.
std::string PointRecord(char kind, DWORD addr, const std::string& text)
{
    std::string rec(35, '\0');
    rec[0] = static_cast<char>(35 + text.size());
    rec[1] = kind;
    std::memcpy(&rec[11], &addr, 4);
    std::memset(&rec[16], 0xFF, 4);
    std::memcpy(&rec[32], "Ok\n", 3);
    return rec + text + '\0';
}

TEST(IndexListing, DamagedRecordsAreSkippedAndLeftAlone)
{
    std::string good = PointRecord('c', 0x401000, "call 0");
    std::string tooLong = PointRecord('j', 0x401010, "jmp 0");
    tooLong[0] = static_cast<char>(tooLong.size() + 5); // its zero would lie past the file
    std::string shortPoint = "\x05" "C" "abc" + std::string(1, '\0');
    std::string noMark = PointRecord('J', 0x401020, "jmp x");
    noMark[33] = 'K';
    std::string oddKind = PointRecord('X', 0x401030, "odd");
    std::string fieldsPastEnd = PointRecord('s', 0x401040, "").substr(0, 20);

    // savedByte positions (record offset + 15) that the walk resets; every other byte stays.
    struct Case { const char* name; std::string file; int nPoints; int nCorrupt; std::vector<size_t> resets; };
    const Case cases[] = {
        {"len past the end", Converted({good, tooLong}), 1, 1, {16}},
        {"zero just past the end", Converted({good, good.substr(0, good.size() - 1)}), 1, 1, {16}},
        {"len 1 on the last byte", Converted({good, std::string(1, '\x01')}), 1, 1, {16}},
        {"point too short", Converted({shortPoint, good}), 1, 1, {7 + 15}},
        {"no mark", Converted({noMark, good}), 1, 1, {1 + noMark.size() + 15}},
        {"unknown kind", Converted({good, oddKind}), 1, 1, {16, 1 + good.size() + 15}},
        {"fields past the end", Converted({good, fieldsPastEnd}), 1, 1, {16}},
        {"only the mark", Converted({}), 0, 0, {}},
        {"lone len byte", Converted({std::string(1, '\0')}), 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExactBuffer buffer(c.file);
        std::string expected = buffer.str();
        for (size_t at : c.resets) {
            buffer.data()[at] = '\x55'; // a stale savedByte
            expected[at] = '\0';
        }
        CPointMaps maps;
        int nCorrupt = -1;
        EXPECT_EQ(IndexListing(buffer.data(), buffer.size(), maps, &nCorrupt), c.nPoints);
        EXPECT_EQ(nCorrupt, c.nCorrupt);
        ExpectMapsSound(maps, buffer.data(), buffer.size());
        EXPECT_EQ(buffer.str(), expected);
    }
}

TEST(IndexListing, ArbitraryBytesNeverReachOutside)
{
    std::mt19937 rng(20261206);
    const char alphabet[] = {'\0', 'C', 'c', 'J', 'j', 's', 'O', 'k', '\n', '\x23', '\x24', '\x30', '\xFF', '\r', ':', '"', '0'};
    for (int round = 0; round < 3000; ++round) {
        std::string file(1 + rng() % 400, '\0');
        for (char& ch : file)
            ch = alphabet[rng() % sizeof alphabet];
        file[0] = '\x27';
        ExactBuffer buffer(file);
        CPointMaps maps;
        int nCorrupt = 0;
        IndexListing(buffer.data(), buffer.size(), maps, &nCorrupt);
        ExpectMapsSound(maps, buffer.data(), buffer.size());

        // The same bytes as raw text: converted, then walked.
        ExactBuffer raw(file);
        maps.RemoveAllPoints();
        ConvertListing(raw.data(), raw.size(), maps);
        ExpectMapsSound(maps, raw.data(), raw.size());
        maps.RemoveAllPoints();
        IndexListing(raw.data(), raw.size(), maps, &nCorrupt);
        EXPECT_EQ(nCorrupt, 0);
        ExpectMapsSound(maps, raw.data(), raw.size());
        if (HasFailure())
            break;
    }
}

TEST(PointMaps, KindIndexAndKindMapFollowTheCheckBoxOrder)
{
    CPointMaps maps;
    const char kinds[] = {'C', 'c', 'J', 'j', 's'};
    CMapPtrToPtr* expected[] = {&maps.m_mapCallPtr, &maps.m_mapCall, &maps.m_mapJmpPtr, &maps.m_mapJmp, &maps.m_mapStrData};
    for (int index = 0; index < 5; ++index) {
        EXPECT_EQ(KindIndex(static_cast<BYTE>(kinds[index])), index);
        EXPECT_EQ(&maps.KindMap(index), expected[index]);
    }
    EXPECT_EQ(KindIndex(0), -1);
    EXPECT_EQ(KindIndex('S'), -1);
    EXPECT_EQ(KindIndex('x'), -1);

    std::string rec = PointRecord('J', 0x401000, "jmp");
    EXPECT_TRUE(maps.EnterPoint(reinterpret_cast<ListingRecord*>(&rec[0])));
    EXPECT_EQ(maps.m_mapJmpPtr.GetCount(), 1);
    EXPECT_EQ(maps.m_mapAll.GetCount(), 1);
    rec[1] = 0;
    EXPECT_FALSE(maps.EnterPoint(reinterpret_cast<ListingRecord*>(&rec[0])));
    maps.RemoveAllPoints();
    for (int index = 0; index < 5; ++index)
        EXPECT_TRUE(maps.KindMap(index).IsEmpty());
    EXPECT_TRUE(maps.m_mapAll.IsEmpty());
}

} // namespace
