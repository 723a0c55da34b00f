// The program's listings of the small test programs against checked-in goldens
// (KORVANE_UPDATE_GOLDEN=1 rewrites them), and its answers to bad input.
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

// Runs the program from the test programs' folder: its exit code, standard output and error.
int RunProgram(const std::string& args, std::string& out, std::string& err, const char* to = "run.out")
{
    std::string cmd = "cd '" + kPeDir + "' && '" DISASM_PROGRAM "' " + args + " > " + to + " 2> run.err";
    int status = system(cmd.c_str());
    out = FileText(kPeDir + "/run.out");
    err = FileText(kPeDir + "/run.err");
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
        EXPECT_EQ(out, FileText(golden)) << program;
        EXPECT_EQ(err, "");
        ExpectListingRules(out, program);
    }
    for (std::string bad : {"no-such-file.exe", "'" DISASM_TEST_PE_DIR "'", ""}) {
        EXPECT_NE(RunProgram(bad, out, err), 0) << bad;
        EXPECT_TRUE(out.empty() && !err.empty()) << bad << ": " << err;
    }
    EXPECT_NE(RunProgram("tiny.exe", out, err, "/dev/full"), 0) << "a listing that cannot be written";
}

} // namespace
