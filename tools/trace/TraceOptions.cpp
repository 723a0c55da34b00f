#include "tools/trace/TraceOptions.h"

#include <cstdlib>
#include <cstring>

namespace {

// The kind words in check-box order.
const char* const kKindWords[5] = {"callptr", "call", "jmpptr", "jmp", "str"};

std::string ParseKinds(const std::string& list, int kinds[5])
{
    for (int i = 0; i < 5; ++i)
        kinds[i] = 0;
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        std::string word = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        int i = 0;
        while (i < 5 && word != kKindWords[i])
            ++i;
        if (i == 5)
            return "--kinds: \"" + word + "\" is no kind (call, callptr, jmp, jmpptr, str)";
        kinds[i] = 1;
        if (comma == std::string::npos)
            return "";
        start = comma + 1;
    }
}

std::string ParseSeconds(const std::string& text, DWORD& ms)
{
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    // Up to a day; a limit of less than a millisecond would be none.
    if (text.empty() || *end != '\0' || !(seconds >= 0.001 && seconds <= 86400))
        return "--timeout: \"" + text + "\" is no number of seconds from 0.001 to 86400";
    ms = static_cast<DWORD>(seconds * 1000 + 0.5);
    return "";
}

} // namespace

std::string ParseTraceOptions(int argc, const char* const* argv, TraceOptions& options)
{
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.size() < 2 || arg[0] != '-')
            break;
        if (arg == "--quiet") {
            options.quiet = true;
            continue;
        }
        // --name VALUE or --name=VALUE
        std::string name = arg, value;
        size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return arg + " needs a value";
        }
        std::string problem;
        if (name == "--kinds")
            problem = ParseKinds(value, options.kinds);
        else if (name == "--timeout")
            problem = ParseSeconds(value, options.timeoutMs);
        else if (name == "--out" || name == "--compare" || name == "--csv" || name == "--drcov") {
            if (value.empty())
                problem = name + " needs a file name";
            std::string& field = name == "--out" ? options.out
                                 : name == "--compare" ? options.compare
                                 : name == "--csv" ? options.csv
                                                   : options.drcov;
            field = value;
        } else
            problem = "unknown option " + name;
        if (!problem.empty())
            return problem;
    }
    if (i >= argc)
        return "no target program given";
    options.target = argv[i];
    options.arguments.assign(argv + i + 1, argv + argc);
    return "";
}

std::string QuoteArgument(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    // Backslashes are literal except before a quote: there each one is
    // doubled, and the quote itself escaped.
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::string TargetCommandLine(const std::string& name, const std::vector<std::string>& arguments)
{
    if (arguments.empty())
        return name;
    std::string line = "\"" + name + "\"";
    for (const std::string& argument : arguments)
        line += " " + QuoteArgument(argument);
    return line;
}

std::string CheckProgramHeader(const std::vector<char>& head)
{
    auto at = [&](size_t offset, size_t size) { return offset + size <= head.size() ? &head[offset] : nullptr; };
    const char* mz = at(0, 0x40);
    if (mz == nullptr || mz[0] != 'M' || mz[1] != 'Z')
        return "it is no program (no MZ header)";
    DWORD ntOffset = 0;
    std::memcpy(&ntOffset, mz + 0x3C, 4);
    const char* pe = at(ntOffset, 6);
    if (pe == nullptr || std::memcmp(pe, "PE\0\0", 4) != 0)
        return "it is no Win32 program (no PE header)";
    if (static_cast<unsigned char>(pe[4]) != 0x4C || pe[5] != 0x01)
        return "it is no 32-bit x86 program";
    return "";
}
