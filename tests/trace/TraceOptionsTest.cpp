// korvane-trace's arguments: what each option gives, where the target's own
// arguments begin, every bad argument refused with its reason; the debuggee's
// command line as the window makes it, split back by the target's C runtime
// into the very arguments given; and what counts as a program.
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

// The C runtime's split of a command line (after the program's name), as the target sees it.
std::vector<std::string> Split(const std::string& line)
{
    std::vector<std::string> args;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i == line.size())
            break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\')
                ++backslashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(backslashes / 2, '\\');
                if (backslashes % 2 == 0) {
                    quoted = !quoted;
                    ++i;
                    continue;
                }
            } else {
                arg.append(backslashes, '\\');
                if (i == line.size() || (!quoted && (line[i] == ' ' || line[i] == '\t')))
                    break;
            }
            arg += line[i++];
        }
        args.push_back(arg);
    }
    return args;
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
    const std::pair<std::vector<const char*>, const char*> bad[] = {
        {{}, "no target"},
        {{"--quiet"}, "no target"},
        {{"--"}, "no target"},
        {{"--kinds"}, "needs a value"},
        {{"--kinds", "call,jump", "p.exe"}, "\"jump\" is no kind"},
        {{"--kinds", "", "p.exe"}, "\"\" is no kind"},
        {{"--kinds", "call,", "p.exe"}, "\"\" is no kind"},
        {{"--kinds", "Call", "p.exe"}, "\"Call\" is no kind"},
        {{"--timeout", "0", "p.exe"}, "--timeout: \"0\""},
        {{"--timeout", "-1", "p.exe"}, "--timeout"},
        {{"--timeout", "5s", "p.exe"}, "--timeout"},
        {{"--timeout", "nan", "p.exe"}, "--timeout"},
        {{"--timeout", "1e9", "p.exe"}, "--timeout"},
        {{"--out", "", "p.exe"}, "--out needs a file name"},
        {{"--csv=", "p.exe"}, "--csv needs a file name"},
        {{"--drcov"}, "needs a value"},
        {{"--verbose", "p.exe"}, "unknown option --verbose"},
        {{"-q", "p.exe"}, "unknown option -q"},
        {{"--quiet=1", "p.exe"}, "unknown option --quiet"},
    };
    for (const auto& [args, reason] : bad) {
        TraceOptions options;
        std::string problem = Parse(args, options);
        EXPECT_NE(problem.find(reason), std::string::npos) << problem << " for " << (args.empty() ? "" : args[0]);
    }
}

TEST(TraceOptions, TheCommandLineIsTheWindowsAndSplitsBackIntoTheArguments)
{
    EXPECT_EQ(TargetCommandLine("sample.exe", {}), "sample.exe");
    EXPECT_EQ(TargetCommandLine("sample.exe", {"05"}), "\"sample.exe\" 05");
    EXPECT_EQ(TargetCommandLine("a.exe", {"x y", ""}), "\"a.exe\" \"x y\" \"\"");
    const std::vector<std::vector<std::string>> cases = {
        {"05"}, {"", "a", ""}, {"two words", "tab\there"}, {"say \"hi\"", "\""}, {"C:\\dir\\", "C:\\a b\\"},
        {"\\\\server\\share", "back\\\\\"quote", "\\\"", "\\"}, {"--out", "x.ar", "&|<>^%"}};
    for (const auto& args : cases) {
        std::string line = TargetCommandLine("p.exe", args);
        ASSERT_EQ(line.rfind("\"p.exe\" ", 0), 0u) << line;
        EXPECT_EQ(Split(line.substr(8)), args) << line;
    }
}

TEST(TraceOptions, OnlyA32BitWin32ProgramIsATarget)
{
    std::vector<char> program(0x200, 0);
    program[0] = 'M', program[1] = 'Z', program[0x3C] = char(0x80);
    std::memcpy(&program[0x80], "PE\0\0\x4C\x01", 6);
    EXPECT_EQ(CheckProgramHeader(program), "");
    auto changed = [&](size_t at, char value, size_t size = 0x200) {
        std::vector<char> bytes = program;
        bytes[at] = value;
        bytes.resize(size);
        return CheckProgramHeader(bytes);
    };
    EXPECT_NE(changed(0, 'Z').find("no MZ"), std::string::npos);
    EXPECT_NE(changed(0, 'M', 0x3F).find("no MZ"), std::string::npos);
    EXPECT_NE(changed(0x81, 'X').find("no PE"), std::string::npos);
    EXPECT_NE(changed(0x3C, char(0xFE)).find("no PE"), std::string::npos); // the header past the bytes read
    EXPECT_NE(changed(0x3F, char(0x80)).find("no PE"), std::string::npos); // an offset near 4 GB
    EXPECT_NE(changed(0, 'M', 0x85).find("no PE"), std::string::npos);
    EXPECT_NE(changed(0x84, char(0x64)).find("32-bit"), std::string::npos); // x64
    EXPECT_EQ(CheckProgramHeader(std::vector<char>()), "it is no program (no MZ header)");
}

} // namespace
