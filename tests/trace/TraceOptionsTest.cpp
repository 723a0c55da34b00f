// korvane-trace's arguments: what each option gives, where the target's own
// arguments begin, every bad argument refused with its reason; the debuggee's
// command line as the window makes it, quoted so that the target's C runtime
// splits it back into the very arguments given; and what counts as a program.
#include <gtest/gtest.h>

#include <cstring>

#include "tools/trace/TraceOptions.h"

namespace {

std::string Parse(std::vector<const char*> args, TraceOptions& options)
{
    args.insert(args.begin(), "korvane-trace");
    return ParseTraceOptions(static_cast<int>(args.size()), args.data(), options);
}

std::string Kinds(const TraceOptions& options)
{
    std::string kinds;
    for (int i = 0; i < 5; ++i)
        kinds += options.kinds[i] ? "CcJjs"[i] : '-';
    return kinds;
}

TEST(TraceOptions, EachOptionUpToTheTargetTheRestIsTheTargets)
{
    TraceOptions plain;
    ASSERT_EQ(Parse({"prog.exe"}, plain), "");
    EXPECT_EQ(Kinds(plain), "----s"); // the window's first ticks
    EXPECT_TRUE(plain.out.empty() && plain.compare.empty() && plain.csv.empty() && plain.drcov.empty());
    EXPECT_TRUE(plain.timeoutMs == 0 && !plain.quiet && plain.target == "prog.exe" && plain.arguments.empty());

    TraceOptions all;
    ASSERT_EQ(Parse({"--kinds", "jmp,call,jmpptr,call", "--out", "a b.ar", "--compare=base.ar", "--csv", "c.csv",
                     "--drcov", "d.cov", "--timeout", "2.5", "--quiet", "C:\\t\\prog.exe", "--out", "x", "", "--"},
                    all),
              "");
    EXPECT_EQ(Kinds(all), "-cJj-");
    EXPECT_EQ(all.out + "|" + all.compare + "|" + all.csv + "|" + all.drcov, "a b.ar|base.ar|c.csv|d.cov");
    EXPECT_TRUE(all.timeoutMs == 2500 && all.quiet && all.target == "C:\\t\\prog.exe");
    EXPECT_EQ(all.arguments, std::vector<std::string>({"--out", "x", "", "--"}));

    TraceOptions dashed;
    ASSERT_EQ(Parse({"--kinds=str,callptr", "--timeout=0.001", "--", "--odd.exe", "-v"}, dashed), "");
    EXPECT_EQ(Kinds(dashed), "C---s");
    EXPECT_TRUE(dashed.timeoutMs == 1 && dashed.target == "--odd.exe");
    EXPECT_EQ(dashed.arguments, std::vector<std::string>({"-v"}));
}

TEST(TraceOptions, BadArgumentsAreRefusedWithTheirReason)
{
    std::vector<std::pair<std::vector<const char*>, std::string>> bad = {
        {{}, "no target"}, {{"--quiet"}, "no target"}, {{"--"}, "no target"}, {{"--kinds"}, "needs a value"},
        {{"--kinds", "call,jump", "p.exe"}, "\"jump\" is no kind"}, {{"--kinds", "", "p.exe"}, "\"\" is no kind"},
        {{"--kinds", "call,", "p.exe"}, "\"\" is no kind"}, {{"--kinds", "Call", "p.exe"}, "\"Call\" is no kind"},
        {{"--out", "", "p.exe"}, "--out needs a file name"}, {{"--csv=", "p.exe"}, "--csv needs a file name"},
        {{"--drcov"}, "needs a value"}, {{"--verbose", "p.exe"}, "unknown option --verbose"},
        {{"-q", "p.exe"}, "unknown option -q"}, {{"--quiet=1", "p.exe"}, "unknown option --quiet"}};
    for (const char* seconds : {"0", "-1", "5s", "nan", "1e9"})
        bad.push_back({{"--timeout", seconds, "p.exe"}, "--timeout: \"" + std::string(seconds) + "\""});
    for (const auto& [args, reason] : bad) {
        TraceOptions options;
        std::string problem = Parse(args, options);
        EXPECT_NE(problem.find(reason), std::string::npos) << problem << " for " << (args.empty() ? "" : args[0]);
    }
}

// Backslashes stand as they are, except before a quote: there the C runtime
// reads two as one, and an odd one makes the quote a character.
TEST(TraceOptions, TheCommandLineIsTheWindowsAndSplitsBackIntoTheArguments)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "p.exe"},
        {{"05"}, R"("p.exe" 05)"},
        {{"", "a", ""}, R"("p.exe" "" a "")"},
        {{"two words", "tab\there"}, "\"p.exe\" \"two words\" \"tab\there\""},
        {{R"(say "hi")", R"(")"}, R"("p.exe" "say \"hi\"" "\"")"},
        {{R"(C:\dir\)", R"(C:\a b\)"}, R"("p.exe" C:\dir\ "C:\a b\\")"},
        {{R"(\\server\share)", R"(back\\"quote)", R"(\")", R"(\)"}, R"("p.exe" \\server\share "back\\\\\"quote" "\\\"" \)"},
        {{"--out", "x.ar", "&|<>^%"}, R"("p.exe" --out x.ar &|<>^%)"}};
    for (const auto& [args, line] : cases)
        EXPECT_EQ(TargetCommandLine("p.exe", args), line);
}

TEST(TraceOptions, OnlyA32BitWin32ProgramIsATarget)
{
    std::vector<char> program(0x200, 0);
    program[0] = 'M', program[1] = 'Z', program[0x3C] = char(0x80);
    std::memcpy(&program[0x80], "PE\0\0\x4C\x01", 6);
    const struct { size_t at; char value; size_t size; const char* reason; } cases[] = {
        {0, 'M', 0x200, ""}, {0, 'Z', 0x200, "no MZ"}, {0, 'M', 0x3F, "no MZ"}, {0, 'M', 0, "no MZ"},
        {0x81, 'X', 0x200, "no PE"}, {0, 'M', 0x85, "no PE"},
        {0x3C, char(0xFE), 0x200, "no PE"}, // the header past the bytes read
        {0x3F, char(0x80), 0x200, "no PE"}, // an offset near 4 GB
        {0x84, char(0x64), 0x200, "no 32-bit x86"}}; // x64
    for (const auto& c : cases) {
        std::vector<char> bytes = program;
        bytes[c.at] = c.value;
        bytes.resize(c.size);
        const std::string problem = CheckProgramHeader(bytes);
        EXPECT_TRUE(*c.reason ? problem.find(c.reason) != std::string::npos : problem.empty()) << problem << " at " << c.at;
    }
}

} // namespace
