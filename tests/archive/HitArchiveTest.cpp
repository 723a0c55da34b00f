// Hit archives through a real file: the encoding byte for byte, every early
// end, entries that name no point record of a converted listing, the entry
// count's extremes, and the replay's arithmetic.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>

#include "debugger/TraceState.h"
#include "tests/archive/ArchiveFile.h"
#include "tests/listing/ListingText.h"

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
    std::ifstream in(kPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Each length with its shortest prefix, also through the 4096-byte buffer many
// times, and read back; wide strings read in the ANSI code page; a length
// beyond the file's end allocates nothing it does not hold (a 32-bit process
// could not allocate 4 GB at all) and fails. The value after a string is read whole.
TEST(ArchiveEncoding, StringPrefixesWideStringsAndLengthsBeyondTheEnd)
{
    auto text = [](size_t n) { std::string t(n, 'a'); for (size_t i = 0; i < n; ++i) t[i] += char(i % 26); return t; };
    auto wide = [](const std::string& t) { std::string w; for (char c : t) w += std::string(1, c) + '\0'; return w; };
    const std::pair<size_t, std::string> stored[] = { // length, prefix
        {0, std::string(1, '\0')}, {254, "\xFE"}, {255, std::string("\xFF\xFF\0", 3)}, {65533, "\xFF\xFD\xFF"},
        {65534, std::string("\xFF\xFF\xFF\xFE\xFF\0\0", 7)}, {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\0", 7)}};
    std::vector<std::pair<std::string, std::string>> read = { // bytes, text read ("<end>": the file ends first)
        {"\xFF\xFE\xFF\x03" + wide("hi!"), "hi!"}, {std::string("\xFF\xFE\xFF\x00", 4), ""},
        {"\xFF\xFE\xFF\xFF\x2C\x01" + wide(text(300)), text(300)}, {"", "<end>"},
        {std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFFtail", 11), "<end>"},
        {std::string("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFFtail", 14), "<end>"}};
    for (const auto& [length, prefix] : stored) {
        std::string bytes = Stored([&](CArchive& ar) { ar << CString(text(length)); });
        EXPECT_EQ(bytes, prefix + text(length)) << length;
        read.push_back({bytes, text(length)});
    }
    for (const auto& [bytes, want] : read) {
        CString got;
        LONG after = 0;
        int end = LoadArchive(kPath, bytes + std::string("\x02\0\0\x80", 4), [&](CArchive& ar) { return (ar >> got >> after, 0); });
        EXPECT_EQ(end < 0 ? "<end>" : got.Str() + (after == INT_MIN + 2 ? "" : "<no int>"), want);
    }
}

TEST(ArchiveEncoding, TheExampleFileByteForByte)
{
    Bytes fake(0x1300, 0);
    ListingRecord* record = reinterpret_cast<ListingRecord*>(&fake[0x1234]);
    record->num = 3;
    record->hits = 2;
    CMapPtrToPtr one;
    one.SetAt(Key(0x00401234), record);
    const char example[] = "\x0E" "Archive,ver001" "\x08" "prog.exe" "\x04" "C:\\t" "\x07" "prog.ar" // names
                           "\0\0\0\0" "\1\0\0\0" "\0\0\0\0" "\0\0\0\0" "\1\0\0\0" "\0\0\0\0"  // kinds
                           "\1\0\0\0" "\x34\x12\0\0" "\3\0\0\0" "\2\0\0\0" "\0\0\0\0"; // one entry
    EXPECT_EQ(Stored([&](CArchive& ar) { StoreArchiveHeader(ar, kHeader); StoreArchiveEntries(ar, one, fake.data()); }),
              std::string(example, sizeof example - 1));
}

// The four records of m_mapAll in the shared listing of points.
class HitArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ConvertListing(view.data(), Size(), maps), 5);
        const Snapshot all = SnapshotOf(maps, view);
        for (const auto& [addr, at] : all[5])
            points.push_back(reinterpret_cast<ListingRecord*>(&view[at]));
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
    // Restored, replayed into `replayed` (ended there once it holds upTo), or
    // taken as a compare run's baseline: the entries skipped, or -1 at an early end.
    enum How { kRestore, kReplay, kBaseline };
    int Read(const std::string& bytes, How how = kRestore, size_t upTo = SIZE_MAX)
    {
        return LoadArchive(kPath, bytes, [&](CArchive& ar) {
            HitArchiveHeader header;
            EXPECT_TRUE(ReadArchiveSignature(ar));
            ReadArchiveHeader(ar, header);
            if (how == kBaseline)
                return TakeArchiveBaseline(ar, view.data(), Size(), maps);
            if (how == kRestore)
                return RestoreArchiveEntries(ar, view.data(), Size(), maps.m_mapAll);
            return ReplayArchiveEntries(ar, view.data(), Size(), maps.m_mapAll, [&](ListingRecord* record) {
                replayed.push_back(record);
                return replayed.size() < upTo;
            });
        });
    }
    // num/hits/comp of each point, and its saved byte where it has one.
    std::string Counts() const
    {
        std::string counts;
        for (const ListingRecord* r : points)
            counts += " " + std::to_string(r->num) + "/" + std::to_string(r->hits) + "/" + std::to_string(r->comp) +
                      (r->savedByte ? "/" + std::to_string(r->savedByte) : "");
        return counts;
    }
    // Every byte of the listing but the counts of its point records (and their saved byte) is as converted.
    void ExpectOnlyPointCountsChanged() { EXPECT_TRUE(view == WithCountsOf(original, view, maps)); }

    Bytes view = PointListing(), original;
    CPointMaps maps;
    std::vector<ListingRecord*> points, replayed;
};

// Forged offsets: only one that names a record m_mapAll holds is applied, and
// bytes after the last entry are ignored. A file that ends early fails
// wherever it ends; a count of 0 or below reads no entry, a huge one reads
// those there are. Nothing but point counts is ever written, and a saved
// byte only where num is not 0, so that the hit list shows just those.
TEST_F(HitArchiveTest, OnlyPointRecordsTakeCountsWhereverTheFileEnds)
{
    Entries forged = {{INT_MIN, 1, 1, 1}, {INT_MAX, 1, 1, 1}}, entries;
    for (LONG offset = -3; offset < LONG(Size()) + 3; ++offset)
        forged.push_back({offset, offset, 8, 9});
    EXPECT_EQ(Read(Archive(forged, LONG(forged.size())) + "trailing bytes"), int(forged.size()) - 4);
    for (ListingRecord* r : points)
        EXPECT_TRUE(r->num == OffsetOf(r) && r->hits == 8 && r->comp == 9 && r->savedByte == 0x90) << r->addrText;
    ExpectOnlyPointCountsChanged();

    for (ListingRecord* record : points)
        entries.push_back({OffsetOf(record), LONG(entries.size() % 2), 2, 3});
    std::string whole = Archive(entries, 4);
    for (size_t length = 0; length < whole.size(); ++length)
        EXPECT_EQ(Read(whole.substr(0, length)), -1) << length;
    ExpectOnlyPointCountsChanged();
    view = original;
    EXPECT_EQ(Read(Archive(entries, -1)) + Read(Archive(entries, 0)), 0);
    EXPECT_EQ(view, original);
    EXPECT_EQ(Read(Archive(entries, INT_MAX)), -1);
    EXPECT_EQ(Counts(), " 0/2/3 1/2/3/144 0/2/3 1/2/3/144");
}

// Comp ends as the earlier hits minus the archived ones, wrapping as 32 bits
// do; the stored comp is not used. An entry is replayed, in file order, when
// its stored num or the record's own num is not 0, and then takes the stored
// num. Ended by its caller, the replay reads no further entry.
TEST_F(HitArchiveTest, ReplayLowersCompByTheArchivedHits)
{
    const LONG stored[4][2] = {{9, 3}, {0, 6}, {0, 5}, {1, 1}}, own[4] = {0, 0, 4, 0}, earlier[4] = {5, 0, 7, INT_MIN};
    Entries entries;
    for (int i = 3; i >= 0; --i)
        entries.push_back({OffsetOf(points[i]), stored[i][0], stored[i][1], 12345});
    const std::string whole = Archive(entries, 4);
    // The whole file, then a cut one whose replay is ended before the cut.
    const struct { size_t cut, upTo; std::vector<ListingRecord*> replayed; const char* counts; } runs[] = {
        {0, SIZE_MAX, {points[3], points[2], points[0]}, " 9/3/2 0/0/0 0/5/2 1/1/2147483647"},
        {8, 2, {points[3], points[2]}, " 0/0/5 0/0/0 0/5/2 1/1/2147483647"}};
    for (const auto& run : runs) {
        view = original;
        replayed.clear();
        for (int i = 0; i < 4; ++i) {
            points[i]->num = own[i];
            points[i]->comp = earlier[i];
        }
        EXPECT_EQ(Read(whole.substr(0, whole.size() - run.cut), kReplay, run.upTo), 0);
        EXPECT_EQ(replayed, run.replayed);
        EXPECT_EQ(Counts(), run.counts);
    }
}

// A run compared with an archive (korvane-trace --compare) starts where "Run
// Archive" and then "Run File" leave the window: Comp the archived hits of
// every point, whatever its stored num or comp and whatever the listing held
// before, Num and Hits 0; then each counted hit numbers its point, adds a hit
// and takes one from Comp, below 0 past the archived hits.
TEST_F(HitArchiveTest, ACompareRunStartsFromTheArchivedHits)
{
    for (ListingRecord* record : points)
        record->num = record->hits = record->comp = 77; // left in the file by an earlier session
    Entries entries = {{OffsetOf(points[0]), 4, 2, 99}, {OffsetOf(points[2]), 0, 0, 5}, {OffsetOf(points[3]), 9, 1, 0},
                       {12345, 1, 1, 1}};
    EXPECT_EQ(Read(Archive(entries, 4), kBaseline), 1);
    CTraceState run;
    for (int hit : {0, 3, 0, 0, 1}) {
        run.m_pHitRecord = points[hit];
        ++run.m_nHitSeq;
        EXPECT_EQ(run.CountReportedHit(TRUE), points[hit]);
    }
    EXPECT_EQ(Counts(), " 4/3/-1 5/1/-1 0/0/0 2/1/0"); // from the archived comps 2, 0, 0, 1
    run.m_pHitRecord = nullptr;
    EXPECT_EQ(run.CountReportedHit(FALSE), nullptr);
    ExpectOnlyPointCountsChanged();
}

} // namespace
