// The debug engine's calls made on the Win32 debugging interface, for the
// debug thread of one run: it launches the debuggee (so that its events come
// to this thread), posts its commands to the main dialog and sleeps on the
// run's wake-up, which the dialog gives.
#pragma once

#include <windows.h>

#include "debugger/DebugPlatform.h"
#include "debugger/LaunchProcess.h"
#include "debugger/WakeSignal.h"
#include "framework/CString.h"

class CWin32DebugPlatform : public IDebugPlatform {
public:
    // `program` is the target's full path, `commandLine` begins with its quoted
    // name; `launchFlags` are LaunchProcess's for the debuggee.
    CWin32DebugPlatform(const CString& program, const CString& commandLine, HWND hWndDlg, CWakeSignal& wake,
                        int launchFlags = launchDebuggee)
        : m_program(program), m_commandLine(commandLine), m_hWndDlg(hWndDlg), m_wake(wake), m_nLaunchFlags(launchFlags)
    {
    }

    int Launch() override;
    BOOL WaitForEvent(DebugEvent& event, DWORD dwMilliseconds) override;
    void ContinueEvent(DWORD dwProcessId, DWORD dwThreadId, DWORD dwContinueStatus) override;
    BOOL ReadMemory(HANDLE hProcess, DWORD address, void* buffer, DWORD size) override;
    BOOL WriteMemory(HANDLE hProcess, DWORD address, const void* buffer, DWORD size) override;
    BOOL GetRegisters(HANDLE hThread, CONTEXT& context) override;
    BOOL SetRegisters(HANDLE hThread, const CONTEXT& context) override;
    BOOL GetRunningRegisters(HANDLE hThread, CONTEXT& context) override;
    void CloseFile(HANDLE hFile) override;
    void PostQuit(DWORD dwProcessId, DWORD dwMainThreadId) override;
    BOOL Terminate(DWORD dwProcessId) override;
    BOOL Detach(DWORD dwProcessId) override;
    void PostCommand(UINT nID) override;
    void WaitForWake() override { m_wake.Wait(); }
    void Sleep(DWORD dwMilliseconds) override;
    DWORD TickCount() override { return ::GetTickCount(); }

private:
    CString m_program;
    CString m_commandLine;
    HWND m_hWndDlg;
    CWakeSignal& m_wake;
    int m_nLaunchFlags;
};
