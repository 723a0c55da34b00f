// Process creation for the debuggee and for the listing batch, with the one
// error box both share.
#include "debugger/LaunchProcess.h"

#include <string>

#include "framework/UiSeam.h"

STARTUPINFOA g_startupInfo;
PROCESS_INFORMATION g_processInfo;

// CreateProcessA may write into its command line, and the start-up record
// keeps pointing at its title after the call: both live here until the next
// launch (the two callers never launch at the same time).
static std::string s_commandLine;
static std::string s_title;

static const char* LaunchErrorText(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return "[ %s ]\n  This file does not exist !";
    case ERROR_ACCESS_DENIED:
        return "[ %s ]\n  Access denied !";
    case ERROR_BAD_EXE_FORMAT:
        return "[ %s ]\n  The file has a bad format !";
    case ERROR_FILE_INVALID:
        return "[ %s ]\n  Invalid file !";
    case ERROR_FILE_CORRUPT:
        return "[ %s ]\n  The file is corrupt !";
    default:
        return "[ %s ]\n  Unknown Error !";
    }
}

int LaunchProcess(const CString& program, const CString& commandLine, int flags, HWND owner)
{
    const bool debuggee = (flags & launchDebuggee) != 0;

    s_commandLine = commandLine.Str();
    s_title = commandLine.Str();
    ZeroMemory(&g_startupInfo, sizeof g_startupInfo);
    g_startupInfo.cb = sizeof g_startupInfo;
    g_startupInfo.lpTitle = &s_title[0];
    // Inert unless dwFlags says otherwise.
    g_startupInfo.dwX = 0;
    g_startupInfo.dwY = 0;
    g_startupInfo.dwXSize = 10;
    g_startupInfo.dwYSize = 10;
    if (debuggee) {
        g_startupInfo.wShowWindow = SW_SHOWDEFAULT;
    } else {
        // The batch's console only ever shows a copy message and a clear
        // screen; it is hidden so that it neither flashes nor takes the focus.
        // The debuggee's console stays as the system opens it.
        g_startupInfo.dwFlags = STARTF_USESHOWWINDOW;
        g_startupInfo.wShowWindow = SW_HIDE;
    }

    DWORD creationFlags = (flags & launchCallersConsole) != 0 ? 0 : CREATE_NEW_CONSOLE;
    creationFlags |= debuggee ? (DEBUG_PROCESS | NORMAL_PRIORITY_CLASS) : HIGH_PRIORITY_CLASS;

    ZeroMemory(&g_processInfo, sizeof g_processInfo);
    if (::CreateProcessA(program, &s_commandLine[0], NULL, NULL, TRUE, creationFlags, NULL, NULL, &g_startupInfo,
                         &g_processInfo)) {
        if (debuggee) {
            // The debug engine takes its handles from the debug events.
            ::CloseHandle(g_processInfo.hProcess);
            ::CloseHandle(g_processInfo.hThread);
            g_processInfo.hProcess = NULL;
            g_processInfo.hThread = NULL;
        }
        return 1;
    }

    DWORD error = ::GetLastError();
    CString text;
    text.Format(LaunchErrorText(error), commandLine.GetString());
    AfxShowMessageBox(owner, text, "Could not create the debug process", MB_SETFOREGROUND);
    return 0;
}
