// A walk of listings converted earlier, damaged ones too. That a walk of any
// listing just converted gives the conversion's maps is the fuzz target's rule.
#include "tests/listing/ListingTestSupport.h"

namespace {

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
        EXPECT_EQ(MapsFault(maps, view), "");
        EXPECT_EQ(view, expected);
    }
}

} // namespace
