// korvane-trace's arguments: what each option gives, where the target's own
// arguments begin, every bad argument refused with its reason; the debuggee's
// command line as the window makes it, quoted so that the target's C runtime
// splits it back into the very arguments given; and what counts as a program.
#include <gtest/gtest.h>

#include <cstring>

#include "tools/trace/TraceOptions.h"

namespace {

// The reason args are refused for, or else all that they set, as
// "kinds|out|compare|csv|drcov|ms|quiet|target" and each argument in brackets.
std::string Parsed(std::vector<const char*> args)
{
    args.insert(args.begin(), "korvane-trace");
    TraceOptions o;
    const std::string problem = ParseTraceOptions(static_cast<int>(args.size()), args.data(), o);
    std::string text;
    for (int i = 0; i < 5; ++i)
        text += o.kinds[i] ? "CcJjs"[i] : '-';
    text += "|" + o.out + "|" + o.compare + "|" + o.csv + "|" + o.drcov + "|" + std::to_string(o.timeoutMs) +
            (o.quiet ? "|quiet|" : "||") + o.target;
    for (const std::string& argument : o.arguments)
        text += " [" + argument + "]";
    return problem.empty() ? text : problem;
}

TEST(TraceOptions, EachOptionUpToTheTargetTheRestIsTheTargets)
{
    const std::pair<std::vector<const char*>, const char*> cases[] = {
        {{"prog.exe"}, "----s|||||0||prog.exe"}, // the window's first ticks
        {{"--kinds", "jmp,call,jmpptr,call", "--out", "a b.ar", "--compare=base.ar", "--csv", "c.csv", "--drcov", "d.cov",
          "--timeout", "2.5", "--quiet", "C:\\t\\prog.exe", "--out", "x", "", "--"},
         "-cJj-|a b.ar|base.ar|c.csv|d.cov|2500|quiet|C:\\t\\prog.exe [--out] [x] [] [--]"},
        {{"--kinds=str,callptr", "--timeout=0.001", "--", "--odd.exe", "-v"}, "C---s|||||1||--odd.exe [-v]"}};
    for (const auto& [args, options] : cases)
        EXPECT_EQ(Parsed(args), options);
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
    for (const auto& [args, reason] : bad)
        EXPECT_NE(Parsed(args).find(reason), std::string::npos) << Parsed(args);
}

// Backslashes stand as they are, except before a quote: there the C runtime
// reads two as one, and an odd one makes the quote a character.
TEST(TraceOptions, TheCommandLineIsTheWindowsAndSplitsBackIntoTheArguments)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "p.exe"}, {{"05"}, R"("p.exe" 05)"}, {{"", "a", ""}, R"("p.exe" "" a "")"},
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
