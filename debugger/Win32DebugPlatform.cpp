#include "debugger/Win32DebugPlatform.h"

#include "debugger/LaunchProcess.h"

int CWin32DebugPlatform::Launch()
{
    return LaunchProcess(m_program, m_commandLine, m_nLaunchFlags, m_hWndDlg);
}

BOOL CWin32DebugPlatform::WaitForEvent(DebugEvent& event, DWORD dwMilliseconds)
{
    DEBUG_EVENT raw;
    if (!::WaitForDebugEvent(&raw, dwMilliseconds))
        return FALSE;
    ZeroMemory(&event, sizeof event);
    event.dwDebugEventCode = raw.dwDebugEventCode;
    event.dwProcessId = raw.dwProcessId;
    event.dwThreadId = raw.dwThreadId;
    switch (raw.dwDebugEventCode) {
    case EXCEPTION_DEBUG_EVENT:
        event.dwExceptionCode = raw.u.Exception.ExceptionRecord.ExceptionCode;
        event.dwExceptionAddress = reinterpret_cast<DWORD>(raw.u.Exception.ExceptionRecord.ExceptionAddress);
        event.dwFirstChance = raw.u.Exception.dwFirstChance;
        break;
    case CREATE_THREAD_DEBUG_EVENT:
        event.hThread = raw.u.CreateThread.hThread;
        break;
    case CREATE_PROCESS_DEBUG_EVENT:
        event.hFile = raw.u.CreateProcessInfo.hFile;
        event.hProcess = raw.u.CreateProcessInfo.hProcess;
        event.hThread = raw.u.CreateProcessInfo.hThread;
        event.dwStartAddress = reinterpret_cast<DWORD>(raw.u.CreateProcessInfo.lpStartAddress);
        event.dwImageBase = reinterpret_cast<DWORD>(raw.u.CreateProcessInfo.lpBaseOfImage);
        break;
    case LOAD_DLL_DEBUG_EVENT:
        event.hFile = raw.u.LoadDll.hFile;
        break;
    case EXIT_PROCESS_DEBUG_EVENT:
        event.dwExitCode = raw.u.ExitProcess.dwExitCode;
        break;
    default:
        break;
    }
    return TRUE;
}

void CWin32DebugPlatform::ContinueEvent(DWORD dwProcessId, DWORD dwThreadId, DWORD dwContinueStatus)
{
    ::ContinueDebugEvent(dwProcessId, dwThreadId, dwContinueStatus);
}

BOOL CWin32DebugPlatform::ReadMemory(HANDLE hProcess, DWORD address, void* buffer, DWORD size)
{
    SIZE_T done = 0;
    return ::ReadProcessMemory(hProcess, reinterpret_cast<LPCVOID>(address), buffer, size, &done) && done == size;
}

BOOL CWin32DebugPlatform::WriteMemory(HANDLE hProcess, DWORD address, const void* buffer, DWORD size)
{
    SIZE_T done = 0;
    return ::WriteProcessMemory(hProcess, reinterpret_cast<LPVOID>(address), buffer, size, &done) && done == size;
}

BOOL CWin32DebugPlatform::GetRegisters(HANDLE hThread, CONTEXT& context)
{
    context.ContextFlags = CONTEXT_FULL;
    return ::GetThreadContext(hThread, &context);
}

BOOL CWin32DebugPlatform::SetRegisters(HANDLE hThread, const CONTEXT& context)
{
    return ::SetThreadContext(hThread, &context);
}

BOOL CWin32DebugPlatform::GetRunningRegisters(HANDLE hThread, CONTEXT& context)
{
    if (::SuspendThread(hThread) == static_cast<DWORD>(-1))
        return FALSE;
    BOOL read = GetRegisters(hThread, context);
    ::ResumeThread(hThread);
    return read;
}

void CWin32DebugPlatform::CloseFile(HANDLE hFile)
{
    ::CloseHandle(hFile);
}

namespace {

// The process's main window: a visible top-level window that no other owns,
// else any top-level window of the process.
struct WindowSearch {
    DWORD dwProcessId;
    DWORD dwMainWindowThread;
    DWORD dwAnyWindowThread;
};

BOOL CALLBACK FindWindowThread(HWND hWnd, LPARAM lParam)
{
    WindowSearch& search = *reinterpret_cast<WindowSearch*>(lParam);
    DWORD dwProcessId = 0;
    DWORD dwThreadId = ::GetWindowThreadProcessId(hWnd, &dwProcessId);
    if (dwProcessId != search.dwProcessId)
        return TRUE;
    if (search.dwAnyWindowThread == 0)
        search.dwAnyWindowThread = dwThreadId;
    if (::IsWindowVisible(hWnd) && ::GetWindow(hWnd, GW_OWNER) == NULL) {
        search.dwMainWindowThread = dwThreadId;
        return FALSE;
    }
    return TRUE;
}

} // namespace

void CWin32DebugPlatform::PostQuit(DWORD dwProcessId, DWORD dwMainThreadId)
{
    // The thread of the event at hand is often one without a queue (the
    // loader's workers on Windows 10 and 11): the message would be lost and the
    // program ended only after a whole wait.
    WindowSearch search = {dwProcessId, 0, 0};
    ::EnumWindows(FindWindowThread, reinterpret_cast<LPARAM>(&search));
    DWORD dwThreadId = search.dwMainWindowThread != 0 ? search.dwMainWindowThread
                       : search.dwAnyWindowThread != 0 ? search.dwAnyWindowThread
                                                       : dwMainThreadId;
    if (!::PostThreadMessageA(dwThreadId, WM_QUIT, 0, 0) && dwThreadId != dwMainThreadId)
        ::PostThreadMessageA(dwMainThreadId, WM_QUIT, 0, 0);
}

BOOL CWin32DebugPlatform::Terminate(DWORD dwProcessId)
{
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, dwProcessId);
    if (process == NULL)
        return FALSE;
    BOOL ended = ::TerminateProcess(process, 0);
    ::CloseHandle(process);
    return ended;
}

BOOL CWin32DebugPlatform::Detach(DWORD dwProcessId)
{
    return ::DebugActiveProcessStop(dwProcessId);
}

void CWin32DebugPlatform::PostCommand(UINT nID)
{
    ::PostMessageA(m_hWndDlg, WM_COMMAND, nID, 0);
}

void CWin32DebugPlatform::Sleep(DWORD dwMilliseconds)
{
    ::Sleep(dwMilliseconds);
}
