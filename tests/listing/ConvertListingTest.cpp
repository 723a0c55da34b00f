#include "tests/listing/ListingTestSupport.h"

namespace {

TEST(ConvertListing, WorkedExampleByteByByte)
{
    Converted c(Listing({CodeLine("00401005", "FF1500204000", "call dword ptr [00402000]"), "next"}));
    // The mark, the 61-byte record, then "next" cleared and the empty record on the last line feed.
    EXPECT_EQ(std::string(c.view.begin(), c.view.end()),
              std::string("\x27\x3C" "C" "00401005\0" "\x05\x10\x40\x00" "\0" "\xFF\xFF\xFF\xFF", 21) + std::string(12, '\0') +
                  "Ok\ncall dword ptr [00402000]" + std::string("\0\x05\0\0\0\0\0\0", 8));
    EXPECT_EQ(c.nPoints, 1);
    EXPECT_EQ(c.Entry(c.maps.m_mapCallPtr, 0x401005), 1);
}

// The mnemonic decides the kind ("call" exactly, or a leading 'j'; FF at the code
// field makes it through a pointer), before the string test. A quoted string
// takes the address of the line before, or none after a line without fields; a
// first line keeps its own. Later records win.
TEST(ConvertListing, KindAndAddressOfEachLine)
{
    struct Row { std::string line; char kind; const char* addrText; DWORD addr; };
    const Row rows[] = {
        {StrLine("\"first line\"", "00405000"), 's', "00405000", 0x405000},
        {CodeLine("00401000", "FF15E0404000", "call dword ptr [004040E0]"), 'C', "00401000", 0x401000},
        {StrLine("\"after call\""), 's', "00401000", 0x401000},
        {CodeLine("00401006", "E8F5FFFFFF", "call 00401000"), 'c', "00401006", 0x401006},
        {CodeLine("0040100B", "FF2500204000", "jmp dword ptr [00402000]"), 'J', "0040100B", 0x40100B},
        {CodeLine("00401011", "75F3", "jne 00401006"), 'j', "00401011", 0x401011},
        {CodeLine("00401020", "F2E800000000", "call 00401026"), 'c', "00401020", 0x401020}, // FF only in columns 10-11
        {CodeLine("00401018", "FFD0", "CALL eax"), 0, "00401018", 0x401018},
        {CodeLine("0040101C", "FFE0", "JMP eax"), 0, "0040101C", 0x40101C},
        {CodeLine("1040101E", "E8", "call 0"), 'c', "1040101E", 0x1040101E}, // eight hex digits: an image above 0x10000000
        {CodeLine("0040101A", "E8", "cali 0"), 0, "0040101A", 0x40101A},
        {CodeLine("0040101F", "90", "\"not a string line\""), 0, "0040101F", 0x40101F},
        {StrLine("call 00403000", "00401030"), 'c', "00401030", 0x401030}, // the call test wins, own address
        {StrLine("call dword ptr [0]", "00401050 FF"), 'C', "00401050", 0x401050},
        {StrLine("call 0", "  405000"), 'c', "  405000", 0x405000},
        {CodeLine("00fabcDE", "E8", "call 0"), 'c', "00fabcDE", 0xFABCDE},
        {CodeLine("0  401FF", "E8", "call 0"), 'c', "0  401FF", 0}, // digits end at the first other character
        {std::string(60, '*'), 0, "", 0},
        {StrLine("\"after header\""), 's', "", 0},
        {CodeLine("00401005", "6810204000", "push 00402010"), 0, "00401005", 0x401005},
        {StrLine("\"after push\""), 's', "00401005", 0x401005},
        {StrLine("\"second after push\""), 's', "00401005", 0x401005},
        {"", 0, nullptr, 0}, // too short for fields
        {StrLine("\"after empty\"", "00405555"), 's', "", 0},
        {StrLine("no quote"), 0, "        ", 0},
        {StrLine("\"after unquoted\""), 's', "        ", 0},
        {CodeLine("FFFF0010", "EB00", "jmp FFFF0012"), 'j', "FFFF0010", 0xFFFF0010},
        {StrLine("\"after high\""), 's', "FFFF0010", 0xFFFF0010},
        {CodeLine("1040G01E", "E8", "call 0"), 0, "", 0}, // neither ":0" nor eight hex digits: cleared
        {CodeLine(" 1401020", "E8", "call 0"), 0, "", 0},
    };
    std::vector<std::string> lines;
    for (const Row& row : rows) lines.push_back(row.line);
    Converted c(Listing(lines));
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        if (!rows[i].addrText)
            continue;
        EXPECT_EQ(c.Record(i)->kind, static_cast<BYTE>(rows[i].kind));
        EXPECT_STREQ(c.Record(i)->addrText, rows[i].addrText);
        EXPECT_EQ(+c.Record(i)->addr, rows[i].addr);
        // A point is in its kind map, unless a later record took its address.
        EXPECT_TRUE(!rows[i].kind || c.Entry(c.maps.KindMap(KindIndex(rows[i].kind)), rows[i].addr) >= c.offsets[i]);
    }
    EXPECT_EQ(c.nPoints, std::count_if(std::begin(rows), std::end(rows), [](const Row& row) { return row.kind != 0; }));
    EXPECT_EQ(c.Entry(c.maps.m_mapCallPtr, 0x401000), c.offsets[1]);
    EXPECT_EQ(c.Entry(c.maps.m_mapAll, 0x401000), c.offsets[2]);
    EXPECT_EQ(c.Entry(c.maps.m_mapStrData, 0x401005), c.offsets[21]);
    EXPECT_EQ(c.Entry(c.maps.m_mapStrData, 0), c.offsets[25]);
}

// An image at 0x10000000 or above lists the same records and points as one at
// 0x00400000, at its own addresses. The line naming the image base is kept,
// as a record of no kind, so that both passes give the base: the first such
// line that is well formed. A listing without one has none.
TEST(ConvertListing, AnyBaseListsTheSamePointsAndKeepsTheBase)
{
    auto listing = [](const std::string& top, const std::string& base) {
        return Listing({";; Korvane disassembly listing", "; Image base " + base + ", entry point " + top + "401000, program",
                        StrLine("\"after the base line: no address\""),
                        CodeLine(top + "401000", "FF15E0404000", "call dword ptr [" + top + "4040E0]"), StrLine("\"s\""),
                        CodeLine(top + "401006", "E8F5FFFFFF", "call " + top + "401000"),
                        CodeLine(top + "40100B", "FF2500204000", "jmp dword ptr [" + top + "402000]"),
                        CodeLine(top + "401011", "75F3", "jne " + top + "401006"),
                        CodeLine(top + "401013", "6810204000", "push " + top + "402010"), StrLine("\"pushed\""),
                        "; Image base 00010000, only the first base counts"});
    };
    struct Row { std::string top, base; DWORD listed; };
    const Row rows[] = {{"00", "00400000", 0x400000}, {"10", "10400000", 0x10400000}, {"FF", "ff400000", 0xFF400000},
                        {"10", "1040000G", 0x10000}, {"10", "1040000 ", 0x10000}};
    Converted low(listing("00", "00400000"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.top + " " + row.base);
        Converted c(listing(row.top, row.base));
        EXPECT_EQ(c.layout, low.layout);
        EXPECT_EQ(c.maps.m_dwListingBase, row.listed);
        Snapshot shifted = SnapshotOf(low.maps, low.view);
        for (auto& map : shifted)
            for (auto& entry : map)
                entry.first += entry.first ? std::stoul(row.top, nullptr, 16) << 24 : 0;
        EXPECT_EQ(SnapshotOf(c.maps, c.view), shifted);
        // Walked again: the same base.
        c.maps.RemoveAllPoints();
        EXPECT_EQ(c.maps.m_dwListingBase, 0u);
        IndexListing(c.view.data(), static_cast<DWORD>(c.view.size()), c.maps);
        EXPECT_EQ(c.maps.m_dwListingBase, row.listed);
        EXPECT_EQ(SnapshotOf(c.maps, c.view), shifted);
    }
    EXPECT_STREQ(low.Record(2)->addrText, "");
    EXPECT_EQ(Converted(Listing({CodeLine("00401000", "E8", "call 0")})).maps.m_dwListingBase, 0u);
}

// A line ends at its CR LF within 255 characters (so 254 at most); a longer one is
// cut after 127 and the rest is a record of its own. The file's last byte ends the last record.
TEST(ConvertListing, LineEndsAndCuts)
{
    const std::string call = CodeLine("00401000", "E8", "call 00402000"); // 47 characters
    auto pad = [&](size_t n) { return call + std::string(n - call.size(), 'x'); };
    const std::string cutCall = std::string(129, '-') + CodeLine("0040A000", "E8", "call 0040B000") + std::string(300, '=');
    struct Row { std::vector<std::string> lines; bool crLf; const char* layout; };
    const Row rows[] = {
        // 34 characters: fields, empty text; 33: cleared; a lone CR does not end a line.
        {{call.substr(0, 34), call.substr(0, 33), pad(254), pad(255), "a\rlone CR"}, true, "35 34 255c 128c 127 10 0"},
        {{cutCall, CodeLine("0040A010", "EB00", "jmp 0040A012")}, true, "128 128c 219 47j 0"}, // a cut, then a call
        {{call}, false, "47c"}, {{call + "\r"}, false, "48c"}, // without CR LF the last byte becomes the zero
        {{pad(254)}, false, "254c"}, {{pad(255)}, false, "255c"}, {{pad(256)}, false, "128c 127"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.layout);
        Converted c(Listing(row.lines, row.crLf));
        EXPECT_EQ(c.layout, row.layout);
    }
}

} // namespace
