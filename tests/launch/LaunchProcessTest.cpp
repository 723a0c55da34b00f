// LaunchProcess: the error box by error code, the batch's kept handles and
// hidden console, the debuggee's debug flag and closed handles.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "debugger/LaunchProcess.h"
#include "tests/app/DialogFixture.h"

namespace {

TEST(LaunchProcess, ErrorBoxNamesTheWholeCommandLineAndTheError)
{
    ScriptedUi ui;
    // A command line longer than the system takes fails with a code of no text of its own.
    const std::string tooLong(40000, 'a');
    struct Case { std::string program, commandLine, text; };
    const Case cases[] = {
        {"no such program.exe", "\"no such program.exe\" -x y", "[ \"no such program.exe\" -x y ]\n  This file does not exist !"},
        {"C:\\windows\\win.ini", "\"win.ini\"", "[ \"win.ini\" ]\n  The file has a bad format !"},
        {tooLong, tooLong, "[ " + tooLong + " ]\n  Unknown Error !"},
    };
    HWND owner = ::GetDesktopWindow();
    for (const Case& c : cases) {
        for (int flags : {1, 0}) {
            SCOPED_TRACE(c.commandLine.substr(0, 40) + (flags ? " (debuggee)" : " (batch)"));
            const size_t before = ui.MessageBoxes().size();
            EXPECT_EQ(0, LaunchProcess(c.program.c_str(), c.commandLine.c_str(), flags, owner));
            const auto boxes = ui.MessageBoxes();
            ASSERT_EQ(before + 1, boxes.size());
            EXPECT_TRUE(c.text == boxes.back().text) << boxes.back().text.substr(0, 60);
            EXPECT_EQ("Could not create the debug process", boxes.back().caption);
            EXPECT_EQ(static_cast<UINT>(MB_SETFOREGROUND), boxes.back().type);
            EXPECT_EQ(owner, boxes.back().owner);
        }
    }
}

TEST(LaunchProcess, BatchRunsHiddenAndKeepsItsHandlesDebuggeeIsDebuggedWithout)
{
    ScriptedUi ui;
    char cmd[MAX_PATH];
    ::GetSystemDirectoryA(cmd, MAX_PATH);
    std::strcat(cmd, "\\cmd.exe");
    ASSERT_EQ(1, LaunchProcess(cmd, "cmd /c exit 7", 0, NULL));
    EXPECT_EQ(68u, g_startupInfo.cb);
    EXPECT_STREQ("cmd /c exit 7", g_startupInfo.lpTitle);
    EXPECT_EQ(static_cast<DWORD>(STARTF_USESHOWWINDOW), g_startupInfo.dwFlags);
    EXPECT_EQ(SW_HIDE, g_startupInfo.wShowWindow);
    // The caller owns both handles: it waits on the process.
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(g_processInfo.hProcess, 30000));
    DWORD exitCode = 0;
    EXPECT_TRUE(::GetExitCodeProcess(g_processInfo.hProcess, &exitCode));
    EXPECT_EQ(7u, exitCode);
    EXPECT_TRUE(::CloseHandle(g_processInfo.hThread));
    EXPECT_TRUE(::CloseHandle(g_processInfo.hProcess));

    // A debuggee's handles are closed: its events come to this thread, the first its creation.
    ASSERT_EQ(1, LaunchProcess(cmd, "cmd /c exit 0", 1, NULL));
    EXPECT_EQ(0u, g_startupInfo.dwFlags);
    EXPECT_EQ(NULL, g_processInfo.hProcess);
    EXPECT_EQ(NULL, g_processInfo.hThread);
    DEBUG_EVENT event;
    ASSERT_TRUE(::WaitForDebugEvent(&event, 30000));
    EXPECT_EQ(static_cast<DWORD>(CREATE_PROCESS_DEBUG_EVENT), event.dwDebugEventCode);
    EXPECT_EQ(g_processInfo.dwProcessId, event.dwProcessId);
    ::TerminateProcess(event.u.CreateProcessInfo.hProcess, 0);
    ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
    EXPECT_TRUE(ui.MessageBoxes().empty());
}

} // namespace
