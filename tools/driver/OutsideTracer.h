// What a user does beside the tracer's window: run the target by itself to
// see what it does untraced, put a rebuilt program in place, and read files
// the target wrote. Failures are driver::Failure with a message for the report.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace driver {

// Runs PROGRAM with ARGUMENTS from PROGRAM's folder, as a console started
// there would, and waits for its end; fails when it does not end within
// timeoutMs or ends with an exit code other than 0.
void RunProgram(const std::string& program, const std::string& arguments, DWORD timeoutMs);

// Writes FILE anew with the bytes of FROM, so that FILE is newer than before.
void ReplaceFile(const std::string& file, const std::string& from);

// The whole file ("-": standard input); fails when it cannot be read.
std::string FileText(const std::string& path);

// The file's lines without their line ends (CR LF or LF); empty lines are kept.
std::vector<std::string> Lines(const std::string& text);

} // namespace driver
