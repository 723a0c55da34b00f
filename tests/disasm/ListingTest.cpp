// The listings the program writes: whole listings of the small test programs
// against checked-in goldens (KORVANE_UPDATE_GOLDEN=1 rewrites them), its answers
// to bad input, and the line rules over real programs, checked through the
// tracer's own conversion: every call and jump (by capstone's grouping of its
// bytes) becomes a point of its kind, every string line a point at the
// instruction before it.
#include <cstdlib>
#include <regex>
#include <set>

#include <sys/wait.h>

#include "disasm/PeImage.h"
#include "listing/ListingRecord.h"
#include "tests/disasm/DisasmTestSupport.h"

namespace {

// Runs the program from the test programs' folder: its exit code, standard output and error.
int RunProgram(const std::string& args, std::string& out, std::string& err, const char* to = "run.out")
{
    std::string cmd = "cd '" + kPeDir + "' && '" DISASM_PROGRAM "' " + args + " > " + to + " 2> run.err";
    int status = system(cmd.c_str());
    out = ReadFile<std::string>(kPeDir + "/run.out");
    err = ReadFile<std::string>(kPeDir + "/run.err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DisassemblerProgram, WritesTheGoldenListingsOrExplainsWhyNot)
{
    std::string out, err;
    for (std::string program : {"tiny.exe", "tables.dll", "tables_norelocs.dll"}) {
        std::string golden = DISASM_TEST_SOURCE_DIR "/data/" + program.substr(0, program.find('.')) + ".lst";
        EXPECT_TRUE(RunProgram(program, out, err) == 0 && err.empty()) << program << ": " << err;
        if (getenv("KORVANE_UPDATE_GOLDEN"))
            std::ofstream(golden, std::ios::binary) << out;
        EXPECT_EQ(out, ReadFile<std::string>(golden)) << program;
    }
    for (std::string bad : {"no-such-file.exe", "'" DISASM_TEST_PE_DIR "'", ""})
        EXPECT_TRUE(RunProgram(bad, out, err) != 0 && out.empty() && !err.empty()) << bad << ": " << err;
    EXPECT_NE(RunProgram("tiny.exe", out, err, "/dev/full"), 0) << "a listing that cannot be written";
}

TEST(ListingRules, EveryLineOfRealProgramsBecomesTheRightPoint)
{
    CCapstone cs;
    ASSERT_TRUE(cs.ok);
    size_t calls = 0, jumps = 0, strings = 0;
    const std::string wine = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
    for (const std::string& path : {kPeDir + "/tiny.exe", kPeDir + "/tables.dll", kPeDir + "/throws.exe", kPeDir + "/codedata_o2.exe",
                                    wine + "notepad.exe", wine + "cmd.exe", wine + "regedit.exe", wine + "winmm.dll"}) {
        std::vector<uint8_t> bytes = ReadFile(path);
        if (bytes.empty() && path.find(wine) == 0)
            continue; // a program that this Wine lacks
        CListingStats stats;
        CPeImage pe;
        std::string text = ListingOf(bytes, path, &stats);
        ASSERT_TRUE(pe.Parse(bytes.data(), bytes.size()) && stats.isPe && stats.instructions > 10) << path;
        std::vector<char> view(text.begin(), text.end());
        CPointMaps maps;
        ConvertListing(view.data(), DWORD(view.size()), maps);
        std::set<uint32_t> points;
        uint32_t last = 0;
        auto entered = [&](CMapPtrToPtr& map, void* rec = nullptr) { // `last` must be a point, found in this map
            points.insert(last);
            return map.Lookup(reinterpret_cast<void*>(uintptr_t(last)), rec);
        };
        for (const std::string& line : ListingLines(text)) {
            if (IsCodeLine(line)) {
                last = uint32_t(std::stoul(line.substr(1, 8), nullptr, 16));
                size_t avail = 0;
                const uint8_t* p = pe.Span(last - pe.m_imageBase, avail);
                uint64_t address = last;
                ASSERT_TRUE(p && cs_disasm_iter(cs.handle, &p, &avail, &address, cs.insn)) << line;
                bool isCall = cs_insn_group(cs.handle, cs.insn, X86_GRP_CALL), ptr = line.compare(10, 2, "FF") == 0;
                bool isJump = cs_insn_group(cs.handle, cs.insn, X86_GRP_JUMP) && cs.insn->id != X86_INS_LOOP &&
                              cs.insn->id != X86_INS_LOOPE && cs.insn->id != X86_INS_LOOPNE;
                EXPECT_EQ(line.compare(34, 4, "call") == 0, isCall) << path << ": " << line;
                EXPECT_EQ(line[34] == 'j', isJump) << path << ": " << line;
                EXPECT_TRUE(!isCall || entered(ptr ? maps.m_mapCallPtr : maps.m_mapCall)) << line;
                EXPECT_TRUE(!isJump || entered(ptr ? maps.m_mapJmpPtr : maps.m_mapJmp)) << line;
                calls += isCall, jumps += isJump;
            } else if (IsStringLine(line)) {
                EXPECT_TRUE(entered(maps.m_mapStrData)) << line; // at the instruction before it
                ++strings;
            }
        }
        // Nothing else (header, data and note lines) became a point.
        EXPECT_EQ(size_t(maps.m_mapAll.GetCount()), points.size()) << path;
    }
    EXPECT_TRUE(calls > 1000 && jumps > 1000 && strings > 100) << calls << " calls, " << jumps << " jumps, " << strings << " strings";
}

// The exception tables of the C++ program, where its linker map puts them
// (inside .text): each listed whole as data, from the unwind data's pointers
// and the tables' own headers, up to at most the alignment after each.
TEST(ExceptionTables, ListedAsDataWhereTheMapPutsThem)
{
    const std::string map = ReadFile<std::string>(kPeDir + "/throws.map");
    const std::regex table("\n \\.gcc_except_table\n +0x([0-9a-f]+) +0x([0-9a-f]+)"); // an input section: start, size
    std::vector<std::pair<uint32_t, uint32_t>> tables;
    for (std::sregex_iterator m(map.begin(), map.end(), table), end; m != end; ++m)
        tables.push_back({uint32_t(std::stoul((*m)[1], nullptr, 16)), uint32_t(std::stoul((*m)[2], nullptr, 16))});
    ASSERT_GE(tables.size(), 2u);
    std::vector<std::pair<uint32_t, uint32_t>> listed; // first, last
    for (const std::string& line : ListingLines(ListingOf(ReadFile(kPeDir + "/throws.exe"), "throws.exe")))
        if (line.compare(0, 7, "; data ") == 0 && line.find("(exception table,") != std::string::npos)
            listed.push_back({uint32_t(std::stoul(line.substr(7, 8), nullptr, 16)), uint32_t(std::stoul(line.substr(17, 8), nullptr, 16))});
    for (const auto& t : tables) {
        uint32_t covered = 0;
        for (const auto& l : listed)
            if (l.first < t.first + t.second && l.second >= t.first)
                covered += std::min(l.second + 1, t.first + t.second) - std::max(l.first, t.first);
        EXPECT_TRUE(covered <= t.second && covered + 4 * 3 >= t.second) << std::hex << t.first << ": " << covered << " of " << t.second;
    }
}

} // namespace
