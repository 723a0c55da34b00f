#include "tests/listing/ListingTestSupport.h"

namespace {

void* Key(DWORD addr)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(addr));
}

// The record entered for addr in map, as an offset into the view, or -1.
long EntryOffset(CMapPtrToPtr& map, DWORD addr, const char* view)
{
    void* value = nullptr;
    if (!map.Lookup(Key(addr), value))
        return -1;
    return static_cast<long>(static_cast<const char*>(value) - view);
}

struct Converted {
    explicit Converted(const std::string& raw) : buffer(raw)
    {
        nPoints = ConvertListing(buffer.data(), buffer.size(), maps);
        offsets = RecordOffsets(buffer.data(), buffer.size());
    }
    const char* view() { return buffer.data(); }
    const ListingRecord* Record(size_t index) { return RecordAt(buffer.data(), offsets.at(index)); }
    long Offset(size_t index) { return static_cast<long>(offsets.at(index)); }

    ExactBuffer buffer;
    CPointMaps maps;
    int nPoints = 0;
    std::vector<size_t> offsets;
};

TEST(ConvertListing, WorkedExampleByteByByte)
{
    std::string line = CodeLine("00401005", "FF1500204000", "call dword ptr [00402000]");
    ASSERT_EQ(line.size(), 59u);
    Converted c(Listing({line, "next"}));

    std::string expected;
    expected += '\x3C';
    expected += 'C';
    expected += std::string("00401005") + '\0';
    expected += std::string("\x05\x10\x40\x00", 4);
    expected += '\0';
    expected += std::string("\xFF\xFF\xFF\xFF", 4);
    expected += std::string(12, '\0');
    expected += "Ok\n";
    expected += "call dword ptr [00402000]";
    expected += '\0';
    ASSERT_EQ(expected.size(), 61u);

    std::string converted = c.buffer.str();
    EXPECT_EQ(converted[0], '\x27');
    EXPECT_EQ(converted.substr(1, 61), expected);
    // The next record begins on the line feed: len 5 ("next" and its zero), then no fields.
    EXPECT_EQ(c.Offset(1), 62);
    EXPECT_EQ(converted.substr(62, 6), std::string("\x05\0\0\0\0\0", 6));
    EXPECT_EQ(c.nPoints, 1);
    EXPECT_EQ(EntryOffset(c.maps.m_mapCallPtr, 0x00401005, c.view()), 1);
    EXPECT_EQ(EntryOffset(c.maps.m_mapAll, 0x00401005, c.view()), 1);
}

TEST(ConvertListing, KindsFollowMnemonicAndCodeField)
{
    Converted c(Listing({
        CodeLine("00401000", "FF15E0404000", "call dword ptr [004040E0]"),
        CodeLine("00401006", "E8F5FFFFFF", "call 00401000"),
        CodeLine("0040100B", "FF2500204000", "jmp dword ptr [00402000]"),
        CodeLine("00401011", "75F3", "jne 00401006"),
        CodeLine("00401013", "EB01", "jmp 00401016"),
        CodeLine("00401015", "50", "push eax"),
        CodeLine("00401016", "FF30", "push dword ptr [eax]"),
        CodeLine("00401018", "FFD0", "CALL eax"),
        CodeLine("0040101A", "E8", "cali 0"),
        CodeLine("0040101F", "90", "\"not a string line\""),
        CodeLine("00401020", "F2E800000000", "call 00401026"), // a prefix, not FF
    }));
    const BYTE kinds[] = {'C', 'c', 'J', 'j', 'j', 0, 0, 0, 0, 0, 'c'};
    const DWORD addrs[] = {0x401000, 0x401006, 0x40100B, 0x401011, 0x401013, 0x401015,
                           0x401016, 0x401018, 0x40101A, 0x40101F, 0x401020};
    for (size_t i = 0; i < 11; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(c.Record(i)->kind, kinds[i]);
        EXPECT_EQ(+c.Record(i)->addr, addrs[i]);
        // Code lines carry their fields whether or not they are points.
        EXPECT_EQ(+c.Record(i)->row, -1);
        EXPECT_EQ(std::memcmp(c.Record(i)->mark, "Ok\n", 3), 0);
    }
    EXPECT_EQ(c.nPoints, 6);
    EXPECT_EQ(c.maps.m_mapCallPtr.GetCount(), 1);
    EXPECT_EQ(c.maps.m_mapCall.GetCount(), 2);
    EXPECT_EQ(c.maps.m_mapJmpPtr.GetCount(), 1);
    EXPECT_EQ(c.maps.m_mapJmp.GetCount(), 2);
    EXPECT_EQ(c.maps.m_mapStrData.GetCount(), 0);
    EXPECT_EQ(c.maps.m_mapAll.GetCount(), 6);
    EXPECT_EQ(EntryOffset(c.maps.m_mapJmp, 0x401011, c.view()), c.Offset(3));
    ExpectMapsSound(c.maps, c.view(), c.buffer.size());
}

TEST(ConvertListing, LineLengthBoundaries)
{
    std::string line34 = CodeLine("00401000", "90", "");
    std::string line33 = line34.substr(0, 33);
    std::string line254 = CodeLine("00401001", "E8", "call ") + std::string(254 - 39, 'x');
    std::string line255 = CodeLine("00401002", "E8", "call ") + std::string(255 - 39, 'y');
    ASSERT_EQ(line34.size(), 34u);
    ASSERT_EQ(line254.size(), 254u);
    ASSERT_EQ(line255.size(), 255u);
    Converted c(Listing({line34, line33, line254, line255, "end"}));

    // 34 characters: a code line with empty text, no point.
    EXPECT_EQ(c.Record(0)->len, 35);
    EXPECT_EQ(c.Record(0)->kind, 0);
    EXPECT_STREQ(c.Record(0)->addrText, "00401000");
    EXPECT_EQ(+c.Record(0)->addr, 0x401000u);
    EXPECT_EQ(+c.Record(0)->row, -1);
    EXPECT_EQ(RecordText(c.view(), c.offsets[0]), "");

    // 33 characters: no point, every byte after len cleared.
    EXPECT_EQ(c.Record(1)->len, 34);
    EXPECT_EQ(std::string(c.view() + c.offsets[1] + 1, 34), std::string(34, '\0'));

    // 254 characters end normally.
    EXPECT_EQ(c.Record(2)->len, 255);
    EXPECT_EQ(c.Record(2)->kind, 'c');
    EXPECT_EQ(RecordText(c.view(), c.offsets[2]), line254.substr(34));

    // 255 characters: cut after 127, the remainder (columns 129-254) is a record of its own.
    EXPECT_EQ(c.Record(3)->len, 128);
    EXPECT_EQ(c.Record(3)->kind, 'c');
    EXPECT_EQ(RecordText(c.view(), c.offsets[3]), line255.substr(34, 127 - 34));
    EXPECT_EQ(c.Offset(4), c.Offset(3) + 129);
    EXPECT_EQ(c.Record(4)->len, 127);
    EXPECT_EQ(std::string(c.view() + c.offsets[4] + 1, 127), std::string(127, '\0'));
    EXPECT_EQ(c.Record(5)->len, 4); // "end"
    EXPECT_EQ(c.offsets.size(), 7u); // and the empty record on the last line feed
    EXPECT_EQ(c.nPoints, 2);
}

TEST(ConvertListing, CutLineRemainderIsClassifiedOnItsOwn)
{
    // Columns 129 on of an over-long line happen to read as a call line.
    std::string tail = CodeLine("0040A000", "E8", "call 0040B000");
    std::string longLine = std::string(129, '-') + tail + std::string(300, '=');
    Converted c(Listing({longLine, CodeLine("0040A010", "EB00", "jmp 0040A012")}));

    EXPECT_EQ(c.Record(0)->len, 128);
    EXPECT_EQ(c.Record(0)->kind, 0);
    // The remainder has no CR LF within 255 either: cut again after 127 characters.
    EXPECT_EQ(c.Record(1)->len, 128);
    EXPECT_EQ(c.Record(1)->kind, 'c');
    EXPECT_EQ(+c.Record(1)->addr, 0x40A000u);
    EXPECT_EQ(RecordText(c.view(), c.offsets[1]), "call 0040B000" + std::string(127 - 47, '='));
    EXPECT_EQ(EntryOffset(c.maps.m_mapCall, 0x40A000, c.view()), c.Offset(1));
    EXPECT_EQ(EntryOffset(c.maps.m_mapJmp, 0x40A010, c.view()), c.Offset(c.offsets.size() - 2));
    ExpectMapsSound(c.maps, c.view(), c.buffer.size());
}

TEST(ConvertListing, StringDataTakesTheAddressOfTheLineBefore)
{
    std::string header(60, '*');
    Converted c(Listing({
        StrLine("\"first line\"", "00405000"),                     // 0: own address
        CodeLine("00401000", "E8FB0F0000", "call 00402000"),       // 1
        StrLine("\"after call\""),                                 // 2: 00401000
        header,                                                    // 3
        StrLine("\"after header\""),                               // 4: 0
        CodeLine("00401005", "6810204000", "push 00402010"),       // 5
        StrLine("\"after push\""),                                 // 6: 00401005
        StrLine("\"second after push\""),                          // 7: 00401005 again
        "",                                                        // 8: empty line
        StrLine("\"after empty\"", "00405555"),                    // 9: 0, not its own
        CodeLine("0040100A", "B820204000", "mov eax, 00402020"),   // 10
        StrLine("no quote"),                                       // 11: kind 0
        StrLine("\"after unquoted\""),                             // 12: from 11
    }));

    struct Expect { size_t index; BYTE kind; const char* addrText; DWORD addr; };
    const Expect expects[] = {
        {0, 's', "00405000", 0x405000}, {2, 's', "00401000", 0x401000}, {4, 's', "", 0},
        {6, 's', "00401005", 0x401005}, {7, 's', "00401005", 0x401005}, {9, 's', "", 0},
        // The line before is the unquoted string line, whose own columns give no address.
        {11, 0, "        ", 0},         {12, 's', "        ", 0},
    };
    for (const Expect& e : expects) {
        SCOPED_TRACE(e.index);
        EXPECT_EQ(c.Record(e.index)->kind, e.kind);
        EXPECT_STREQ(c.Record(e.index)->addrText, e.addrText);
        EXPECT_EQ(+c.Record(e.index)->addr, e.addr);
    }
    EXPECT_EQ(RecordText(c.view(), c.offsets[2]), "\"after call\"");
    EXPECT_EQ(c.Record(5)->kind, 0);
    EXPECT_EQ(c.Record(10)->kind, 0);

    // Later records win: the second string after the push, and the string over the call in m_mapAll.
    EXPECT_EQ(EntryOffset(c.maps.m_mapStrData, 0x401005, c.view()), c.Offset(7));
    EXPECT_EQ(EntryOffset(c.maps.m_mapAll, 0x401005, c.view()), c.Offset(7));
    EXPECT_EQ(EntryOffset(c.maps.m_mapCall, 0x401000, c.view()), c.Offset(1));
    EXPECT_EQ(EntryOffset(c.maps.m_mapAll, 0x401000, c.view()), c.Offset(2));
    EXPECT_EQ(EntryOffset(c.maps.m_mapStrData, 0, c.view()), c.Offset(12));
    EXPECT_EQ(c.maps.m_mapStrData.GetCount(), 4);
    ExpectMapsSound(c.maps, c.view(), c.buffer.size());
}

TEST(ConvertListing, CallOrJumpTestWinsOverStringTest)
{
    std::string strCall = StrLine("call 00403000", "00401020");
    std::string strJmp = StrLine("jmp 00403000", "00401030");
    std::string strPtr = StrLine("call dword ptr [0]", "00401040");
    strPtr[10] = 'F';
    strPtr[11] = 'F';
    Converted c(Listing({CodeLine("00401000", "90", "nop"), strCall, strJmp, strPtr}));
    EXPECT_EQ(c.Record(1)->kind, 'c');
    EXPECT_EQ(+c.Record(1)->addr, 0x401020u);
    EXPECT_EQ(c.Record(2)->kind, 'j');
    EXPECT_EQ(+c.Record(2)->addr, 0x401030u);
    EXPECT_EQ(c.Record(3)->kind, 'C');
    EXPECT_EQ(c.maps.m_mapStrData.GetCount(), 0);
    EXPECT_EQ(EntryOffset(c.maps.m_mapAll, 0x401030, c.view()), c.Offset(2));
}

TEST(ConvertListing, LaterRecordWinsOnSharedAddress)
{
    Converted c(Listing({
        CodeLine("00401000", "E8", "call 00402000"),
        CodeLine("00401000", "E8", "call 00402004"),
        CodeLine("00401000", "EB00", "jmp 00401002"),
    }));
    EXPECT_EQ(EntryOffset(c.maps.m_mapCall, 0x401000, c.view()), c.Offset(1));
    EXPECT_EQ(EntryOffset(c.maps.m_mapJmp, 0x401000, c.view()), c.Offset(2));
    EXPECT_EQ(EntryOffset(c.maps.m_mapAll, 0x401000, c.view()), c.Offset(2));
    EXPECT_EQ(c.maps.m_mapAll.GetCount(), 1);
    EXPECT_EQ(c.nPoints, 3);
}

TEST(ConvertListing, AddressParsing)
{
    Converted c(Listing({
        CodeLine("00fabcDE", "E8", "call 0"),
        CodeLine("0  401FF", "E8", "call 0"), // digits stop at the blank
        CodeLine("0012G456", "E8", "call 0"), // and at a non-hex letter
    }));
    EXPECT_EQ(+c.Record(0)->addr, 0xFABCDEu);
    EXPECT_STREQ(c.Record(0)->addrText, "00fabcDE");
    EXPECT_EQ(+c.Record(1)->addr, 0u);
    EXPECT_EQ(+c.Record(2)->addr, 0x12u);

    // Leading blanks are skipped: a first string line keeps its own address.
    Converted s(Listing({StrLine("\"first\"", "  405000")}));
    EXPECT_EQ(+s.Record(0)->addr, 0x405000u);
    EXPECT_STREQ(s.Record(0)->addrText, "  405000");
}

TEST(ConvertListing, LastLineIsEndedInsideTheFile)
{
    std::string call = CodeLine("00401000", "E8", "call 00402000");
    {
        // Ends in CR LF: the last line feed is an empty record.
        Converted c(Listing({call}));
        ASSERT_EQ(c.offsets.size(), 2u);
        EXPECT_EQ(c.Record(0)->len, call.size() + 1);
        EXPECT_EQ(c.Offset(1), static_cast<long>(c.buffer.size()) - 1);
        EXPECT_EQ(c.Record(1)->len, 0);
    }
    {
        // No CR LF: the record ends at the last byte, which becomes its zero.
        Converted c(Listing({call}, false));
        ASSERT_EQ(c.offsets.size(), 1u);
        EXPECT_EQ(c.Record(0)->len, call.size());
        EXPECT_EQ(c.Offset(0) + c.Record(0)->len, static_cast<long>(c.buffer.size()) - 1);
        EXPECT_EQ(RecordText(c.view(), c.offsets[0]), "call 0040200");
        EXPECT_EQ(c.Record(0)->kind, 'c');
    }
    {
        // A lone CR at the end is the last byte, too.
        Converted c(Listing({call + "\r"}, false));
        EXPECT_EQ(c.Record(0)->len, call.size() + 1);
        EXPECT_EQ(RecordText(c.view(), c.offsets[0]), "call 00402000");
    }
    {
        // An over-long last line without CR LF: cut, then a remainder up to the last byte.
        std::string longCall = call + std::string(250, 'z');
        Converted c(Listing({longCall}, false));
        ASSERT_EQ(c.offsets.size(), 2u);
        EXPECT_EQ(c.Record(0)->len, 128);
        EXPECT_EQ(c.Record(1)->len, longCall.size() - 128 - 1);
        EXPECT_EQ(c.Offset(1) + c.Record(1)->len, static_cast<long>(c.buffer.size()) - 1);
    }
    {
        // 254 characters without CR LF lose the last one; 255 fit no record and are cut.
        std::string line254 = call + std::string(254 - call.size(), 'q');
        Converted c(Listing({line254}, false));
        EXPECT_EQ(c.Record(0)->len, 254);
        Converted d(Listing({line254 + "q"}, false));
        EXPECT_EQ(d.Record(0)->len, 255);
        Converted e(Listing({line254 + "qq"}, false));
        EXPECT_EQ(e.Record(0)->len, 128);
    }
}

TEST(ConvertListing, EveryCutOfAListingStaysInsideTheFile)
{
    std::string raw = Listing({
        "Disassembly of prog.exe",
        CodeLine("00401000", "FF15E0404000", "call dword ptr [004040E0]"),
        StrLine("\"text\""),
        CodeLine("00401006", "7405", "je 0040100D"),
        CodeLine("00401008", "FF2500204000", "jmp dword ptr [00402000]") + std::string(280, '#'),
        StrLine("\"tail\""),
    });
    for (size_t n = 0; n <= raw.size(); ++n) {
        SCOPED_TRACE(n);
        // The sanitizer reports any byte touched past the cut.
        ExactBuffer buffer(raw.substr(0, n));
        CPointMaps maps;
        ConvertListing(buffer.data(), buffer.size(), maps);
        ExpectMapsSound(maps, buffer.data(), buffer.size());
        std::vector<MapSnapshot> converted = SnapshotAll(maps, buffer.data());
        maps.RemoveAllPoints();
        int nCorrupt = -1;
        IndexListing(buffer.data(), buffer.size(), maps, &nCorrupt);
        EXPECT_EQ(nCorrupt, 0);
        EXPECT_EQ(SnapshotAll(maps, buffer.data()), converted);
    }
}

TEST(ConvertListing, MarksTheFileAsConverted)
{
    std::string raw = Listing({CodeLine("00401000", "E8", "call 0")});
    ExactBuffer buffer(raw);
    EXPECT_FALSE(IsConvertedListing(buffer.data(), buffer.size()));
    CPointMaps maps;
    ConvertListing(buffer.data(), buffer.size(), maps);
    EXPECT_TRUE(IsConvertedListing(buffer.data(), buffer.size()));
    EXPECT_FALSE(IsConvertedListing(buffer.data(), 0));
    EXPECT_FALSE(IsConvertedListing(nullptr, 10));
}

} // namespace
