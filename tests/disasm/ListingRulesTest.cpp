// Line and column rules over real programs, checked through the tracer's own
// conversion: every call and jump (by capstone's grouping of its bytes) becomes
// a point of its kind, every string line a point at the instruction before it.
#include <capstone/capstone.h>

#include <set>

#include "disasm/PeImage.h"
#include "disasm/StringRef.h"
#include "listing/ListingRecord.h"
#include "tests/disasm/DisasmTestSupport.h"

namespace {

TEST(ListingRules, EveryLineOfRealProgramsBecomesTheRightPoint)
{
    csh cs;
    ASSERT_EQ(cs_open(CS_ARCH_X86, CS_MODE_32, &cs), CS_ERR_OK);
    cs_option(cs, CS_OPT_DETAIL, CS_OPT_ON);
    cs_insn* insn = cs_malloc(cs);
    size_t calls = 0, jumps = 0, strings = 0;
    const std::string wine = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
    for (const std::string& path : {kPeDir + "/tiny.exe", kPeDir + "/tables.dll", wine + "notepad.exe", wine + "cmd.exe",
                                    wine + "regedit.exe", wine + "winmm.dll"}) {
        std::vector<uint8_t> bytes = ReadFileBytes(path);
        if (bytes.empty() && path.find(wine) == 0)
            continue; // a program that this Wine lacks
        CListingStats stats;
        std::string text = ListingOf(bytes, path, &stats);
        EXPECT_TRUE(stats.isPe && stats.instructions > 10) << path;
        ExpectListingRules(text, path);
        CPeImage pe;
        ASSERT_TRUE(pe.Parse(bytes.data(), bytes.size())) << path;
        std::vector<char> view(text.begin(), text.end());
        CPointMaps maps;
        ConvertListing(view.data(), DWORD(view.size()), maps);
        bool converts = pe.m_imageBase < 0x10000000; // the conversion knows code lines by their ":0"
        std::set<uint32_t> points;
        uint32_t last = 0;
        auto entered = [&](CMapPtrToPtr& map) { // `last` must be a point, found in this map
            void* rec = nullptr;
            points.insert(last);
            return map.Lookup(reinterpret_cast<void*>(uintptr_t(last)), rec);
        };
        for (const std::string& line : ListingLines(text)) {
            if (IsCodeLine(line)) {
                last = uint32_t(std::stoul(line.substr(1, 8), nullptr, 16));
                size_t avail = 0;
                const uint8_t* p = pe.Span(last - pe.m_imageBase, avail);
                uint64_t address = last;
                ASSERT_TRUE(p && cs_disasm_iter(cs, &p, &avail, &address, insn)) << line;
                bool isCall = cs_insn_group(cs, insn, X86_GRP_CALL), ptr = line.compare(10, 2, "FF") == 0;
                bool isJump = cs_insn_group(cs, insn, X86_GRP_JUMP) && insn->id != X86_INS_LOOP &&
                              insn->id != X86_INS_LOOPE && insn->id != X86_INS_LOOPNE;
                EXPECT_EQ(line.compare(34, 4, "call") == 0, isCall) << path << ": " << line;
                EXPECT_EQ(line[34] == 'j', isJump) << path << ": " << line;
                EXPECT_TRUE(!converts || !isCall || entered(ptr ? maps.m_mapCallPtr : maps.m_mapCall)) << line;
                EXPECT_TRUE(!converts || !isJump || entered(ptr ? maps.m_mapJmpPtr : maps.m_mapJmp)) << line;
                calls += isCall, jumps += isJump;
            } else if (converts && IsStringLine(line)) {
                EXPECT_TRUE(entered(maps.m_mapStrData)) << line; // at the instruction before it
                ++strings;
            }
        }
        // Nothing else (header, data and note lines) became a point.
        EXPECT_TRUE(!converts || size_t(maps.m_mapAll.GetCount()) == points.size()) << path << ": " << maps.m_mapAll.GetCount();
    }
    EXPECT_GT(calls, 1000u);
    EXPECT_GT(jumps, 1000u);
    EXPECT_GT(strings, 100u);
    cs_free(insn, 1);
    cs_close(&cs);
}

TEST(StringReferences, TextIsQuotedEscapedAndCut)
{
    const std::pair<std::string, const char*> cases[] = { // bytes, line from column 34 or null for none
        {std::string("Hello\0", 6), "\"Hello\""},
        {std::string("Tab\there\n\"q\"\\\x01\0", 15), "\"Tab\\there\\n\\\"q\\\"\\\\\\x01\""},
        {std::string("W\0i\0d\0e\0!\0\0\0", 12), "\"Wide!\""},
        {std::string("abc\0", 4), nullptr},                   // too short
        {std::string("abcdef", 6), nullptr},                  // no terminator inside the file
        {std::string("\x01\x02\x03\x04\x05z\0", 7), nullptr}, // mostly not text
        {std::string("\x90\x90\x55\x8B\xEC\0", 6), nullptr},  // code bytes
    };
    for (const auto& c : cases) {
        std::string line;
        ASSERT_EQ(AppendStringRefLine(reinterpret_cast<const uint8_t*>(c.first.data()), c.first.size(), line), c.second != nullptr) << c.first;
        if (c.second) {
            EXPECT_EQ(line, std::string(c.first[1] ? 23 : 16, ' ') + (c.first[1] ? "" : "UTF-16 ") + "String Ref " + c.second + "\r\n");
        }
    }
    for (size_t n : {200u, 219u, 220u, 221u, 5000u}) {
        std::string text = std::string(n, 'x') + '\0', line;
        ASSERT_TRUE(AppendStringRefLine(reinterpret_cast<const uint8_t*>(text.data()), text.size(), line));
        EXPECT_LE(line.size(), 256u) << n;
        EXPECT_EQ(line.compare(line.size() - 6, 6, "\"...\r\n") == 0, line.size() != n + 38) << n; // 34 columns, two quotes, CR LF
    }
}

} // namespace
