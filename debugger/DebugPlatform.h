// The calls the debug engine makes on the system, behind one small interface:
// the Win32 debugging interface for real (Win32DebugPlatform), a scripted
// fake debuggee in the native tests. Every decision of the engine (what to
// plant, take, plant again, skip, pass on; how a stop proceeds) is made
// against this interface only.
#pragma once

#include "framework/PlatformTypes.h"

#ifndef _WIN32
// The Win32 values the engine uses, for the native build.
#define EXCEPTION_DEBUG_EVENT 1
#define CREATE_THREAD_DEBUG_EVENT 2
#define CREATE_PROCESS_DEBUG_EVENT 3
#define EXIT_THREAD_DEBUG_EVENT 4
#define EXIT_PROCESS_DEBUG_EVENT 5
#define LOAD_DLL_DEBUG_EVENT 6
#define UNLOAD_DLL_DEBUG_EVENT 7
#define OUTPUT_DEBUG_STRING_EVENT 8
#define EXCEPTION_BREAKPOINT 0x80000003u
#define EXCEPTION_SINGLE_STEP 0x80000004u
#define EXCEPTION_ACCESS_VIOLATION 0xC0000005u
#define DBG_CONTINUE 0x00010002u
#define DBG_EXCEPTION_NOT_HANDLED 0x80010001u
#endif

// One debug event, with the fields the loop uses. dwDebugEventCode is 0 after
// a wait that timed out.
struct DebugEvent {
    DWORD dwDebugEventCode;
    DWORD dwProcessId;
    DWORD dwThreadId;
    // EXCEPTION_DEBUG_EVENT
    DWORD dwExceptionCode;
    DWORD dwExceptionAddress;
    DWORD dwFirstChance;
    // CREATE_PROCESS_DEBUG_EVENT (all four), CREATE_THREAD_DEBUG_EVENT (hThread),
    // LOAD_DLL_DEBUG_EVENT (hFile). The file handles are the engine's to close.
    HANDLE hFile;
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwStartAddress;
    DWORD dwImageBase; // CREATE_PROCESS_DEBUG_EVENT: where the image really lies, 0 when not told
    DWORD dwExitCode; // EXIT_PROCESS_DEBUG_EVENT
};

class IDebugPlatform {
public:
    virtual ~IDebugPlatform() = default;

    // Creates the debuggee; 1, or 0 after the launch's error box.
    virtual int Launch() = 0;
    virtual BOOL WaitForEvent(DebugEvent& event, DWORD dwMilliseconds) = 0;
    virtual void ContinueEvent(DWORD dwProcessId, DWORD dwThreadId, DWORD dwContinueStatus) = 0;

    // TRUE when all `size` bytes were read or written.
    virtual BOOL ReadMemory(HANDLE hProcess, DWORD address, void* buffer, DWORD size) = 0;
    virtual BOOL WriteMemory(HANDLE hProcess, DWORD address, const void* buffer, DWORD size) = 0;
    // The register record with ContextFlags CONTEXT_FULL.
    virtual BOOL GetRegisters(HANDLE hThread, CONTEXT& context) = 0;
    virtual BOOL SetRegisters(HANDLE hThread, const CONTEXT& context) = 0;
    // The registers of a thread of the running debuggee, held while they are read.
    virtual BOOL GetRunningRegisters(HANDLE hThread, CONTEXT& context) = 0;

    virtual void CloseFile(HANDLE hFile) = 0;
    // WM_QUIT to the thread that owns the process's main window, for a program
    // with a message loop there; to its main thread when it shows no window.
    virtual void PostQuit(DWORD dwProcessId, DWORD dwMainThreadId) = 0;
    // Ends the process (exit code 0); FALSE when it could not be opened or ended.
    virtual BOOL Terminate(DWORD dwProcessId) = 0;
    // Stops debugging the process, which runs on as if never debugged.
    virtual BOOL Detach(DWORD dwProcessId) = 0;

    // The window's side: WM_COMMAND 1016 or 1017 posted to the dialog; a wait
    // until whoever drives the run wakes the debug thread (a wake-up given
    // before the wait is not lost; the caller checks its fields again after
    // every return); a pause.
    virtual void PostCommand(UINT nID) = 0;
    virtual void WaitForWake() = 0;
    virtual void Sleep(DWORD dwMilliseconds) = 0;
    // Milliseconds since some fixed moment.
    virtual DWORD TickCount() = 0;
};
