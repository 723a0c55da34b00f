// Whole listings of the small test programs against checked-in goldens, and the
// shipped program's own output. KORVANE_UPDATE_GOLDEN=1 rewrites the goldens.
#include <cstdlib>

#include <sys/wait.h>

#include "tests/disasm/DisasmTestSupport.h"

namespace {

const std::string kGoldenDir = DISASM_TEST_SOURCE_DIR "/data/";

std::string FileText(const std::string& path)
{
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(ListingGolden, SmallProgramsMatchTheirGoldens)
{
    for (std::string program : {"tiny.exe", "tables.dll"}) {
        std::string text = ListingOf(ReadFileBytes(kPeDir + "/" + program), program);
        std::string golden = kGoldenDir + program.substr(0, program.find('.')) + ".lst";
        if (getenv("KORVANE_UPDATE_GOLDEN"))
            std::ofstream(golden, std::ios::binary) << text;
        EXPECT_EQ(text, FileText(golden)) << program;
        ExpectListingRules(text, program);
    }
}

// Runs the program from the test programs' folder: its exit code, standard output and error.
int RunProgram(const std::string& args, std::string& out, std::string& err, const char* to = "run.out")
{
    std::string cmd = "cd '" + kPeDir + "' && '" DISASM_PROGRAM "' " + args + " > " + to + " 2> run.err";
    int status = system(cmd.c_str());
    out = FileText(kPeDir + "/run.out");
    err = FileText(kPeDir + "/run.err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DisassemblerProgram, WritesTheListingOrExplainsWhyNot)
{
    std::string out, err;
    EXPECT_EQ(RunProgram("tiny.exe", out, err), 0) << err;
    EXPECT_EQ(out, FileText(kGoldenDir + "tiny.lst"));
    EXPECT_EQ(err, "");
    EXPECT_EQ(RunProgram("'" + kPeDir + "/tiny.exe'", out, err), 0) << "absolute path";
    EXPECT_NE(out.find("\r\n:0040101C "), std::string::npos);
    for (std::string bad : {"no-such-file.exe", "'" DISASM_TEST_PE_DIR "'", ""}) {
        EXPECT_NE(RunProgram(bad, out, err), 0) << bad;
        EXPECT_EQ(out, "") << bad;
        EXPECT_NE(err, "") << bad;
    }
    // A listing that cannot be written is a failure, not a success.
    EXPECT_NE(RunProgram("tiny.exe", out, err, "/dev/full"), 0);
}

} // namespace
