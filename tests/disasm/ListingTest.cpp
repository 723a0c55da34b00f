// The listings the program writes: whole listings of the small test programs
// against checked-in goldens (KORVANE_UPDATE_GOLDEN=1 rewrites them), its answers
// to bad input, and the line rules over real programs, checked through the
// tracer's own conversion: every call and jump (by capstone's grouping of its
// bytes) becomes a point of its kind, every string line a point at the
// instruction before it.
#include <capstone/capstone.h>

#include <cstdlib>
#include <set>

#include <sys/wait.h>

#include "disasm/PeImage.h"
#include "disasm/StringRef.h"
#include "listing/ListingRecord.h"
#include "tests/disasm/DisasmTestSupport.h"

namespace {

const std::string kGoldenDir = DISASM_TEST_SOURCE_DIR "/data/";

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
        std::string golden = kGoldenDir + program.substr(0, program.find('.')) + ".lst";
        EXPECT_EQ(RunProgram(program, out, err), 0) << err;
        if (getenv("KORVANE_UPDATE_GOLDEN"))
            std::ofstream(golden, std::ios::binary) << out;
        EXPECT_EQ(out, ReadFile<std::string>(golden)) << program;
        EXPECT_EQ(err, "");
    }
    for (std::string bad : {"no-such-file.exe", "'" DISASM_TEST_PE_DIR "'", ""}) {
        EXPECT_NE(RunProgram(bad, out, err), 0) << bad;
        EXPECT_TRUE(out.empty() && !err.empty()) << bad << ": " << err;
    }
    EXPECT_NE(RunProgram("tiny.exe", out, err, "/dev/full"), 0) << "a listing that cannot be written";
}

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
        std::vector<uint8_t> bytes = ReadFile(path);
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
    EXPECT_TRUE(calls > 1000 && jumps > 1000 && strings > 100) << calls << " calls, " << jumps << " jumps, " << strings << " strings";
    cs_free(insn, 1);
    cs_close(&cs);
}

// Escaping, UTF-16 text and a cut show in the golden listing of tiny.exe.
TEST(StringReferences, OnlyTerminatedTextAndNeverPastTheLineLimit)
{
    // Too short, no terminator inside the file, mostly not text, code bytes.
    for (std::string s : {std::string("abc\0", 4), std::string("abcdef"), std::string("\x01\x02\x03\x04\x05z\0", 7), std::string("\x90\x90\x55\x8B\xEC\0", 6)}) {
        std::vector<uint8_t> bytes(s.begin(), s.end());
        std::string line;
        EXPECT_FALSE(AppendStringRefLine(bytes.data(), bytes.size(), line)) << s;
    }
    for (size_t n : {200u, 219u, 220u, 221u, 5000u}) {
        std::vector<uint8_t> bytes(n + 1, 'x');
        bytes[n] = 0;
        std::string line;
        ASSERT_TRUE(AppendStringRefLine(bytes.data(), bytes.size(), line));
        EXPECT_LE(line.size(), 256u) << n;
        EXPECT_EQ(line.compare(line.size() - 6, 6, "\"...\r\n") == 0, line.size() != n + 38) << n; // 34 columns, two quotes, CR LF
    }
}

} // namespace
