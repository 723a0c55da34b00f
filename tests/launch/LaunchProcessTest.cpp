// LaunchProcess: the error box by GetLastError, the batch's open handles and
// hidden console, the debuggee's creation flags and closed handles.
#include <gtest/gtest.h>

#include <string>

#include "debugger/LaunchProcess.h"
#include "tests/app/DialogFixture.h"
#include "tests/launch/LaunchSupport.h"

namespace {

class LaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::CreateDirectoryA(WinPath(LAUNCH_WORK).c_str(), NULL);
        folder = WinPath(LAUNCH_WORK) + "\\" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RemoveTree(folder);
        ::CreateDirectoryA(folder.c_str(), NULL);
        ::GetCurrentDirectoryA(sizeof saved, saved);
        ASSERT_TRUE(::SetCurrentDirectoryA(folder.c_str()));
    }
    void TearDown() override { ::SetCurrentDirectoryA(saved); }

    ScriptedUi ui;
    std::string folder;
    char saved[MAX_PATH] = {};
};

TEST_F(LaunchTest, ErrorBoxTextFollowsTheErrorCode)
{
    ASSERT_TRUE(WriteBytes("notes.exe", "plain text, no program\r\n"));
    HWND owner = ::GetDesktopWindow();
    // A command line longer than the system takes fails with a code of no text of its own.
    std::string tooLong(40000, 'a');
    struct Case {
        std::string commandLine;
        std::string text;
    } cases[] = {
        // The whole command line stands in the box, quotes and arguments included.
        {"\"no such program.exe\" -x y", "[ \"no such program.exe\" -x y ]\n  This file does not exist !"},
        {"missing.exe", "[ missing.exe ]\n  This file does not exist !"},
        {"notes.exe", "[ notes.exe ]\n  The file has a bad format !"},
        {tooLong, "[ " + tooLong + " ]\n  Unknown Error !"},
    };
    for (const Case& c : cases) {
        size_t before = ui.MessageBoxes().size();
        std::string shown = c.commandLine.substr(0, 40);
        EXPECT_EQ(0, LaunchProcess(c.commandLine.c_str(), 1, owner)) << shown;
        EXPECT_EQ(0, LaunchProcess(c.commandLine.c_str(), 0, owner)) << shown;
        auto boxes = ui.MessageBoxes();
        ASSERT_EQ(before + 2, boxes.size()) << shown;
        for (size_t i = before; i < boxes.size(); ++i) {
            EXPECT_TRUE(c.text == boxes[i].text) << shown << " gave: " << boxes[i].text.substr(boxes[i].text.size() - 40);
            EXPECT_EQ("Could not create the debug process", boxes[i].caption);
            EXPECT_EQ(static_cast<UINT>(MB_SETFOREGROUND), boxes[i].type);
            EXPECT_EQ(owner, boxes[i].owner);
        }
    }
}

TEST_F(LaunchTest, BatchKeepsItsHandlesAndRunsHidden)
{
    ASSERT_TRUE(WriteBytes("exit code.bat", "@exit %1\r\n"));
    for (int code : {0, 7}) {
        std::string commandLine = "\"exit code.bat\" " + std::to_string(code);
        ASSERT_EQ(1, LaunchProcess(commandLine.c_str(), 0, NULL));
        EXPECT_EQ(68u, g_startupInfo.cb);
        ASSERT_NE(nullptr, g_startupInfo.lpTitle);
        EXPECT_EQ(commandLine, g_startupInfo.lpTitle);
        EXPECT_EQ(static_cast<DWORD>(STARTF_USESHOWWINDOW), g_startupInfo.dwFlags);
        EXPECT_EQ(SW_HIDE, g_startupInfo.wShowWindow);
        EXPECT_EQ(nullptr, g_startupInfo.lpDesktop);
        // The caller owns both handles: it waits on the process.
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(g_processInfo.hProcess, 30000));
        DWORD exitCode = 99;
        EXPECT_TRUE(::GetExitCodeProcess(g_processInfo.hProcess, &exitCode));
        EXPECT_EQ(static_cast<DWORD>(code), exitCode);
        EXPECT_TRUE(::CloseHandle(g_processInfo.hThread));
        EXPECT_TRUE(::CloseHandle(g_processInfo.hProcess));
    }
    EXPECT_TRUE(ui.MessageBoxes().empty());
}

TEST_F(LaunchTest, DebuggeeIsDebuggedAndItsHandlesClosed)
{
    std::string probe = WinPath(LAUNCH_PROBE);
    std::string commandLine = "\"" + probe + "\" one two";
    ASSERT_EQ(1, LaunchProcess(commandLine.c_str(), 1, NULL));
    EXPECT_EQ(0u, g_startupInfo.dwFlags);
    EXPECT_EQ(commandLine, g_startupInfo.lpTitle);
    EXPECT_EQ(NULL, g_processInfo.hProcess);
    EXPECT_EQ(NULL, g_processInfo.hThread);
    DWORD id = g_processInfo.dwProcessId;
    ASSERT_NE(0u, id);

    // Created with DEBUG_PROCESS by this thread: its events come here, the
    // first being its creation, the last its exit (with the probe's code 0).
    bool created = false;
    bool exited = false;
    DWORD exitCode = 99;
    for (int n = 0; n < 1000 && !exited; ++n) {
        DEBUG_EVENT event;
        ASSERT_TRUE(::WaitForDebugEvent(&event, 30000));
        if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            created = created || event.dwProcessId == id;
            ::CloseHandle(event.u.CreateProcessInfo.hFile);
        } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            ::CloseHandle(event.u.LoadDll.hFile);
        } else if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT && event.dwProcessId == id) {
            exited = true;
            exitCode = event.u.ExitProcess.dwExitCode;
        }
        DWORD status = event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT
                               && event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT
                           ? DBG_EXCEPTION_NOT_HANDLED
                           : DBG_CONTINUE;
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    EXPECT_TRUE(created);
    EXPECT_TRUE(exited);
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(ui.MessageBoxes().empty());
}

} // namespace
