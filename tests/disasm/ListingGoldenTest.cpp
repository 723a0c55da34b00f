// Whole listings of the small test programs against checked-in goldens, and the
// shipped program's own output (CR LF, exit codes).
// KORVANE_UPDATE_GOLDEN=1 rewrites the goldens from the current output.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <sys/wait.h>

#include "tests/disasm/DisasmTestSupport.h"

namespace {

void CompareWithGolden(const std::string& program, const std::string& golden)
{
    std::vector<uint8_t> bytes = ReadFileBytes(PeDir() + "/" + program);
    ASSERT_FALSE(bytes.empty()) << program << " was not built";
    std::string text = ListingOf(bytes, program);
    std::string path = SourceDir() + "/data/" + golden;
    if (getenv("KORVANE_UPDATE_GOLDEN")) {
        std::ofstream(path, std::ios::binary) << text;
        return;
    }
    std::vector<uint8_t> expected = ReadFileBytes(path);
    EXPECT_EQ(text, std::string(expected.begin(), expected.end())) << "listing of " << program << " differs from " << path;
    ExpectListingRules(text, program);
}

TEST(ListingGolden, SmallProgramsMatchTheirGoldens)
{
    CompareWithGolden("tiny.exe", "tiny.lst");
    CompareWithGolden("tables.dll", "tables.lst");
}

// Runs the program with the shell; returns its exit code, fills out and err.
int RunProgram(const std::string& args, std::string& out, std::string& err)
{
    std::string outPath = PeDir() + "/run.out", errPath = PeDir() + "/run.err";
    std::string cmd = "cd '" + PeDir() + "' && '" + DISASM_PROGRAM + "' " + args + " > '" + outPath + "' 2> '" + errPath + "'";
    int status = system(cmd.c_str());
    std::vector<uint8_t> o = ReadFileBytes(outPath), e = ReadFileBytes(errPath);
    out.assign(o.begin(), o.end());
    err.assign(e.begin(), e.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DisassemblerProgram, WritesTheListingOrExplainsWhyNot)
{
    std::string out, err;
    EXPECT_EQ(RunProgram("tiny.exe", out, err), 0) << err;
    std::vector<uint8_t> golden = ReadFileBytes(SourceDir() + "/data/tiny.lst");
    EXPECT_EQ(out, std::string(golden.begin(), golden.end()));
    EXPECT_EQ(err, "");

    EXPECT_EQ(RunProgram("'" + PeDir() + "/tiny.exe'", out, err), 0) << "absolute path";
    EXPECT_NE(out.find("\r\n:0040101C "), std::string::npos);

    for (const char* bad : {"no-such-file.exe", "'" DISASM_TEST_PE_DIR "'", ""}) {
        EXPECT_NE(RunProgram(bad, out, err), 0) << bad;
        EXPECT_EQ(out, "") << bad;
        EXPECT_NE(err, "") << bad;
    }

    // A listing that cannot be written is a failure, not a success.
    std::string cmd = "cd '" + PeDir() + "' && '" + DISASM_PROGRAM + "' tiny.exe > /dev/full 2> /dev/null";
    int status = system(cmd.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

} // namespace
