// Line and column rules over real programs, checked through the tracer's own
// conversion: every call and jump becomes a point of its kind, every string
// line a point at the address of the instruction before it.
#include <capstone/capstone.h>

#include <cstdlib>
#include <set>

#include "disasm/PeImage.h"
#include "disasm/StringRef.h"
#include "listing/ListingRecord.h"
#include "tests/disasm/DisasmTestSupport.h"

namespace {

const char* const kWineDir = "/usr/lib/i386-linux-gnu/wine/i386-windows/";

std::vector<std::string> RealPrograms()
{
    std::vector<std::string> files = {PeDir() + "/tiny.exe", PeDir() + "/tables.dll"};
    for (const char* name : {"notepad.exe", "cmd.exe", "regedit.exe", "winmm.dll"}) {
        std::string path = std::string(kWineDir) + name;
        if (!ReadFileBytes(path).empty())
            files.push_back(path);
    }
    return files;
}

TEST(ListingRules, EveryLineKeepsItsColumns)
{
    for (const std::string& path : RealPrograms()) {
        std::vector<uint8_t> bytes = ReadFileBytes(path);
        CListingStats stats;
        std::string text = ListingOf(bytes, path, &stats);
        EXPECT_TRUE(stats.isPe) << path;
        EXPECT_GT(stats.instructions, 10u) << path;
        ExpectListingRules(text, path);
    }
}

// Mnemonics: calls start with "call", jumps with 'j', and nothing else does;
// checked against capstone's own grouping of the bytes at each address.
TEST(ListingRules, OnlyCallsAndJumpsLookLikeThem)
{
    csh handle;
    ASSERT_EQ(cs_open(CS_ARCH_X86, CS_MODE_32, &handle), CS_ERR_OK);
    cs_option(handle, CS_OPT_DETAIL, CS_OPT_ON);
    cs_insn* insn = cs_malloc(handle);
    size_t calls = 0, jumps = 0;
    for (const std::string& path : RealPrograms()) {
        std::vector<uint8_t> bytes = ReadFileBytes(path);
        CPeImage pe;
        ASSERT_TRUE(pe.Parse(bytes.data(), bytes.size()));
        for (const std::string& line : ListingLines(ListingOf(bytes, path))) {
            if (!IsCodeLine(line))
                continue;
            uint32_t va = uint32_t(strtoul(line.substr(1, 8).c_str(), nullptr, 16));
            size_t avail = 0;
            const uint8_t* p = pe.Span(va - pe.m_imageBase, avail);
            ASSERT_NE(p, nullptr) << line;
            uint64_t address = va;
            ASSERT_TRUE(cs_disasm_iter(handle, &p, &avail, &address, insn)) << line;
            bool isCall = cs_insn_group(handle, insn, X86_GRP_CALL);
            bool isJump = cs_insn_group(handle, insn, X86_GRP_JUMP) && insn->id != X86_INS_LOOP &&
                          insn->id != X86_INS_LOOPE && insn->id != X86_INS_LOOPNE;
            std::string text = line.substr(34);
            EXPECT_EQ(text.compare(0, 4, "call") == 0, isCall) << path << ": " << line;
            EXPECT_EQ(text[0] == 'j', isJump) << path << ": " << line;
            calls += isCall;
            jumps += isJump;
        }
    }
    EXPECT_GT(calls, 1000u);
    EXPECT_GT(jumps, 1000u);
    cs_free(insn, 1);
    cs_close(&handle);
}

TEST(ListingRules, TheConversionFindsEveryPoint)
{
    for (const std::string& path : {PeDir() + "/tiny.exe", std::string(kWineDir) + "notepad.exe"}) {
        std::vector<uint8_t> bytes = ReadFileBytes(path);
        if (bytes.empty())
            continue;
        std::string text = ListingOf(bytes, path);
        std::vector<std::string> lines = ListingLines(text);
        std::vector<char> view(text.begin(), text.end());
        CPointMaps maps;
        ConvertListing(view.data(), DWORD(view.size()), maps);

        std::set<uint32_t> all;
        size_t strings = 0;
        uint32_t last = 0;
        for (const std::string& line : lines) {
            if (IsCodeLine(line)) {
                last = uint32_t(strtoul(line.substr(1, 8).c_str(), nullptr, 16));
                bool ptr = line.compare(10, 2, "FF") == 0;
                CMapPtrToPtr* map = nullptr;
                if (line.compare(34, 4, "call") == 0)
                    map = ptr ? &maps.m_mapCallPtr : &maps.m_mapCall;
                else if (line[34] == 'j')
                    map = ptr ? &maps.m_mapJmpPtr : &maps.m_mapJmp;
                if (map) {
                    void* rec = nullptr;
                    EXPECT_TRUE(map->Lookup(reinterpret_cast<void*>(uintptr_t(last)), rec)) << line;
                    all.insert(last);
                }
            } else if (IsStringLine(line)) {
                void* rec = nullptr;
                ASSERT_TRUE(maps.m_mapStrData.Lookup(reinterpret_cast<void*>(uintptr_t(last)), rec)) << line;
                uint32_t recordAddr = static_cast<ListingRecord*>(rec)->addr; // packed field: read by value
                EXPECT_EQ(recordAddr, last);
                EXPECT_EQ(static_cast<ListingRecord*>(rec)->text[0], '"');
                all.insert(last);
                ++strings;
            }
        }
        EXPECT_GT(strings, 0u) << path;
        // Nothing else (header, data and note lines) became a point.
        EXPECT_EQ(size_t(maps.m_mapAll.GetCount()), all.size()) << path;
    }
}

TEST(StringReferences, TextIsQuotedEscapedAndCut)
{
    struct Case {
        std::string bytes;
        const char* expected; // the line from column 34, or null for no string
    } cases[] = {
        {std::string("Hello\0", 6), "\"Hello\""},
        {std::string("Tab\there\n\"q\"\\\x01\0", 15), "\"Tab\\there\\n\\\"q\\\"\\\\\\x01\""},
        {std::string("W\0i\0d\0e\0!\0\0\0", 12), "\"Wide!\""},
        {std::string("abc\0", 4), nullptr},              // too short
        {std::string("abcdef", 6), nullptr},             // no terminator inside the file
        {std::string("\x01\x02\x03\x04\x05z\0", 7), nullptr}, // mostly not text
        {std::string("\x90\x90\x55\x8B\xEC\0", 6), nullptr},  // code bytes
    };
    for (const Case& c : cases) {
        std::string line;
        bool found = AppendStringRefLine(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), line);
        ASSERT_EQ(found, c.expected != nullptr) << c.bytes;
        if (!found)
            continue;
        ASSERT_GE(line.size(), 36u);
        EXPECT_EQ(line.substr(34), std::string(c.expected) + "\r\n");
        EXPECT_EQ(line.substr(23, 10), "String Ref");
        EXPECT_EQ(line.compare(16, 6, "UTF-16") == 0, c.bytes[1] == 0);
    }
    for (size_t n : {200u, 219u, 220u, 221u, 5000u}) {
        std::string text(n, 'x');
        text += '\0';
        std::string line;
        ASSERT_TRUE(AppendStringRefLine(reinterpret_cast<const uint8_t*>(text.data()), text.size(), line));
        EXPECT_LE(line.size(), 256u) << n;
        bool cut = line.compare(line.size() - 6, 6, "\"...\r\n") == 0;
        EXPECT_EQ(cut, line.size() != n + 38) << n; // 34 columns, two quotes, CR LF
    }
}

} // namespace
