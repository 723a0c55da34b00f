// Creates a process from a complete command line: the debuggee (flags bit 0,
// DEBUG_PROCESS) or the listing batch (flags 0). Each gets a console of its
// own, unless bit 1 (launchCallersConsole) shares the caller's: a debuggee of a
// command-line run writes where the caller's output goes, as untraced. On
// failure one error box owned by `owner` (through AfxShowMessageBox) and 0;
// 1 when created.
#pragma once

#include <windows.h>

#include "framework/CString.h"

// Overwritten by every launch. After a batch launch the caller owns
// g_processInfo's process and thread handles; after a debuggee launch both are closed.
extern STARTUPINFOA g_startupInfo;
enum { launchDebuggee = 1, launchCallersConsole = 2 };
extern PROCESS_INFORMATION g_processInfo;

// `program` is the full path of the file to run: never one of the same name
// found elsewhere (the tracer's own folder, the search path). The command
// line's first item is its quoted name, which the program sees.
int LaunchProcess(const CString& program, const CString& commandLine, int flags, HWND owner);
