#include "tests/listing/ListingTestSupport.h"

namespace {

// Every kind, strings after a point and after no point, and a cut line.
const std::string sample = Listing({
    "Disassembly of prog.exe",
    CodeLine("00401000", "FF15E0404000", "call dword ptr [004040E0]"),
    StrLine("\"hello\""),
    CodeLine("00401006", "6810204000", "push 00402010"),
    StrLine("\"pushed\""),
    CodeLine("0040100B", "E8F0FFFFFF", "call 00401000"),
    CodeLine("00401010", "FF2500204000", "jmp dword ptr [00402000]") + std::string(280, '#'),
    CodeLine("00401016", "7405", "je 0040101D"),
    StrLine("\"tail\""),
});

// Any cut of a listing converts inside the file; re-indexing the result gives
// the same maps and changes no byte.
TEST(IndexListing, GivesTheMapsOfTheConversionAtEveryCut)
{
    for (size_t n = 0; n <= sample.size() && !HasFailure(); ++n) {
        SCOPED_TRACE(n);
        Converted c(sample.substr(0, n));
        Snapshot converted = SnapshotOf(c.maps, c.view);
        Bytes before = c.view;
        c.maps.RemoveAllPoints();
        EXPECT_EQ(SnapshotOf(c.maps, c.view), Snapshot(6));
        int nCorrupt = -1;
        EXPECT_EQ(IndexListing(c.view.data(), static_cast<DWORD>(n), c.maps, &nCorrupt), c.nPoints);
        EXPECT_EQ(nCorrupt, 0);
        EXPECT_EQ(SnapshotOf(c.maps, c.view), converted);
        EXPECT_EQ(c.view, before);
        // The whole sample has entries in all six maps.
        EXPECT_TRUE(n < sample.size() || std::none_of(converted.begin(), converted.end(), [](auto& map) { return map.empty(); }));
    }
}

// A record as the conversion writes it, at address 0, with what a run leaves in savedByte, row, num, hits and comp.
std::string StoredRecord(char kind, const std::string& text)
{
    return std::string(1, static_cast<char>(35 + text.size())) + kind + std::string(13, '\0') + std::string(17, '\x33') +
           "Ok\n" + text + '\0';
}

// A walk resets savedByte and row of the point records and keeps num, hits and
// comp; records no conversion could write are counted and left alone, and
// nothing past the file is read.
TEST(IndexListing, ResetsPointsAndLeavesDamagedRecordsAlone)
{
    const std::string mark = "\x27", good = StoredRecord('c', "call 0"), push = StoredRecord(0, "push eax");
    const std::string tooLong = StoredRecord('j', "jmp 0").replace(0, 1, 1, '\x30'); // len 48 in 41 bytes
    const std::string noMark = StoredRecord('J', "jmp x").replace(33, 1, 1, 'K');
    const std::string noZero = StoredRecord('c', "call 1").replace(41, 1, 1, 'x'); // its text would run on
    // Offsets of the records whose savedByte and row the walk resets; every other byte stays.
    struct Case { const char* name; std::string file; int nPoints, nCorrupt; std::vector<size_t> resets; };
    const Case cases[] = {
        {"no point", mark + push + good, 1, 0, {1 + push.size()}},
        {"len past the end", mark + good + tooLong, 1, 1, {1}},
        {"zero just past the end", mark + good + good.substr(0, good.size() - 1), 1, 1, {1}},
        {"len 1 on the last byte", mark + good + "\x01", 1, 1, {1}},
        // Fields would reach into the next record, whose first bytes read as a mark.
        {"point too short", mark + "\x1F" "C" + std::string(29, '\x33') + '\0' + "Ok\n" + std::string(77, '\0'), 0, 2, {}},
        {"no mark", mark + noMark + good, 1, 1, {1 + noMark.size()}},
        {"no zero after the text", mark + good + noZero + good, 2, 1, {1, 1 + good.size() + noZero.size()}},
        {"no zero at the end of the file", mark + good + noZero, 1, 1, {1}},
        {"unknown kind", mark + good + StoredRecord('X', "odd"), 1, 1, {1, 1 + good.size()}},
        {"fields past the end", mark + good + StoredRecord('s', "").substr(0, 20), 1, 1, {1}},
        {"only the mark", mark, 0, 0, {}},
        {"lone len byte", mark + '\0', 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes view = ToBytes(c.file), expected = view;
        for (size_t at : c.resets)
            std::memcpy(&expected[at + 15], "\0\xFF\xFF\xFF\xFF", 5);
        CPointMaps maps;
        int nCorrupt = -1;
        EXPECT_EQ(IndexListing(view.data(), static_cast<DWORD>(view.size()), maps, &nCorrupt), c.nPoints);
        EXPECT_EQ(nCorrupt, c.nCorrupt);
        ExpectMapsSound(maps, view);
        EXPECT_EQ(view, expected);
    }
}

} // namespace
