// korvane-trace's command line and the debuggee's, and the check that the
// target is a program at all: pure code, with native tests.
#pragma once

#include <string>
#include <vector>

#include "framework/PlatformTypes.h"

struct TraceOptions {
    // Call Ptr, Call, Jmp Ptr, Jmp, Str Data: the window's first ticks.
    int kinds[5] = {0, 0, 0, 0, 1};
    std::string out;      // empty: the target's name with ".ar" in the AR folder
    std::string compare;  // empty: a run in create mode
    std::string csv, drcov;
    DWORD timeoutMs = 0;  // 0: none
    bool quiet = false;
    std::string target;
    std::vector<std::string> arguments;
};

// Reads the tool's arguments (argv[1] on). The first word that is no option is
// the target; it and every word after it belong to the run. Returns "" when
// they are good, else what is wrong with them.
std::string ParseTraceOptions(int argc, const char* const* argv, TraceOptions& options);

// One argument as the C runtime of the debuggee will split it back out:
// quoted when empty or holding a blank, a tab or a quote.
std::string QuoteArgument(const std::string& argument);
// The debuggee's command line as the window makes it: the bare file name when
// there are no arguments, else the name in quotes, a blank and the arguments.
std::string TargetCommandLine(const std::string& name, const std::vector<std::string>& arguments);

// "" when the file's first bytes (at least 0x40 of them, up to its PE header)
// are those of a Win32 program, else why not.
std::string CheckProgramHeader(const std::vector<char>& head);
