// A scripted debuggee for the engine's native tests. The script is a list of
// debug events and of instructions that threads execute; an instruction whose
// byte is 0xCC raises a breakpoint, and after it is continued the thread
// either runs it again (rewound onto it) or has run past it. Running past an
// instruction the program really has, touching another process's memory,
// waiting before continuing, or a byte that is not the program's own left in
// place when the program runs it: each is recorded as a fault.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "debugger/DebugPlatform.h"
#include "debugger/TraceState.h"

class FakeDebuggee : public IDebugPlatform {
public:
    static constexpr DWORD kTarget = 100, kChild = 200, kMain = 1;
    static HANDLE ProcessHandle(DWORD pid) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1000 + pid)); }
    static HANDLE ThreadHandle(DWORD tid) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5000 + tid)); }
    static HANDLE FileHandle(int n) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x9000 + n)); }

    // --- the program ---
    void Map(DWORD address, const std::vector<BYTE>& bytes)
    {
        for (size_t i = 0; i < bytes.size(); ++i)
            image[address + DWORD(i)] = memory[address + DWORD(i)] = bytes[i];
    }
    // The target's creation; its start address; a file handle to be closed.
    void Create(DWORD start) { Event(CREATE_PROCESS_DEBUG_EVENT, kTarget, kMain, 0, start, FileHandle(++m_files)); }
    void CreateChild(DWORD pid = kChild) { Event(CREATE_PROCESS_DEBUG_EVENT, pid, 50, 0, 0x400000, FileHandle(++m_files)); }
    void LoadDll(DWORD pid = kTarget) { Event(LOAD_DLL_DEBUG_EVENT, pid, 0, 0, 0, FileHandle(++m_files)); }
    void CreateThread(DWORD tid) { Event(CREATE_THREAD_DEBUG_EVENT, kTarget, tid, 0, 0, NULL); }
    void ExitThread(DWORD tid) { Event(EXIT_THREAD_DEBUG_EVENT, kTarget, tid, 0, 0, NULL); }
    void ExitProcess(DWORD pid = kTarget) { Event(EXIT_PROCESS_DEBUG_EVENT, pid, pid == kTarget ? kMain : 50, 0, 0, NULL); }
    // An exception the program raises at `address` (a breakpoint reported one past it).
    void Raise(DWORD code, DWORD address, DWORD tid = kMain, DWORD pid = kTarget) { Event(EXCEPTION_DEBUG_EVENT, pid, tid, code, address, NULL); }
    // The thread executes the instruction at `address` (each address of the list in turn).
    void Exec(DWORD tid, std::initializer_list<DWORD> addresses)
    {
        for (DWORD address : addresses)
            m_script.push_back({false, {}, tid, address});
    }
    void Event(DWORD code, DWORD pid, DWORD tid, DWORD exception, DWORD address, HANDLE file)
    {
        DebugEvent e = {};
        e.dwDebugEventCode = code;
        e.dwProcessId = pid;
        e.dwThreadId = tid;
        e.dwExceptionCode = exception;
        e.dwExceptionAddress = address;
        e.dwFirstChance = 1;
        e.hFile = file;
        e.hProcess = ProcessHandle(pid);
        e.hThread = ThreadHandle(tid);
        e.dwStartAddress = code == CREATE_PROCESS_DEBUG_EVENT ? address : 0;
        if (code == CREATE_PROCESS_DEBUG_EVENT)
            e.dwExceptionAddress = 0;
        m_script.push_back({true, e, tid, address});
    }

    // --- IDebugPlatform ---
    int Launch() override { return launches; }
    BOOL WaitForEvent(DebugEvent& event, DWORD dwMilliseconds) override;
    void ContinueEvent(DWORD dwProcessId, DWORD dwThreadId, DWORD dwContinueStatus) override;
    BOOL ReadMemory(HANDLE hProcess, DWORD address, void* buffer, DWORD size) override;
    BOOL WriteMemory(HANDLE hProcess, DWORD address, const void* buffer, DWORD size) override;
    BOOL GetRegisters(HANDLE hThread, CONTEXT& context) override;
    BOOL SetRegisters(HANDLE hThread, const CONTEXT& context) override;
    void CloseFile(HANDLE hFile) override { closed.push_back(hFile); }
    void PostQuit(DWORD dwThreadId) override { quits.push_back(dwThreadId); }
    BOOL Terminate(DWORD dwProcessId) override;
    BOOL Detach(DWORD dwProcessId) override;
    void PostCommand(UINT nID) override;
    void SuspendSelf() override;
    void Sleep(DWORD dwMilliseconds) override { slept += dwMilliseconds; }
    // Each event takes a millisecond, each idle wait its whole time-out.
    DWORD TickCount() override { return clock; }

    // --- what the test sets ---
    int launches = 1;
    BOOL detachable = TRUE;
    BOOL terminable = TRUE;
    CTraceState* state = nullptr;    // the window's side of the hand-over
    std::function<void()> onReport; // a hit or exception posted (WM_COMMAND 1016)
    std::function<void()> onPause;  // the debug thread suspends itself outside a report (default: "Continue ...")
    std::function<void()> onWait;   // before each wait, e.g. a request of the window

    // --- what the test reads ---
    std::map<DWORD, BYTE> image, memory;
    std::set<DWORD> unreadable; // pages (address / 4096) whose reads fail
    std::map<DWORD, CONTEXT> threads;
    std::vector<std::string> faults;
    std::vector<DWORD> statuses; // continue status of each event, in order
    std::vector<DWORD> timeouts; // the time-out of each wait
    std::vector<HANDLE> closed;
    std::vector<DWORD> quits, terminated, detached;
    std::vector<UINT> commands;
    int memoryCalls = 0, pauses = 0, detachTries = 0;
    DWORD slept = 0, clock = 0;

private:
    struct Step {
        bool isEvent;
        DebugEvent event;
        DWORD tid;
        DWORD address;
    };
    std::vector<Step> m_script;
    size_t m_next = 0;
    int m_files = 0;
    bool m_waiting = false; // an event is out, not yet continued
    bool m_execBreak = false;
    DWORD m_execTid = 0, m_execAddress = 0;
    int m_idle = 0;
    int m_retries = 0;
};

inline BOOL FakeDebuggee::WaitForEvent(DebugEvent& event, DWORD dwMilliseconds)
{
    timeouts.push_back(dwMilliseconds);
    clock += 1;
    if (onWait)
        onWait();
    if (m_waiting)
        faults.push_back("waited with an event not continued");
    while (m_next < m_script.size()) {
        Step& step = m_script[m_next];
        DWORD pid = step.isEvent ? step.event.dwProcessId : kTarget;
        if (std::find(detached.begin(), detached.end(), pid) != detached.end()) {
            ++m_next;
            continue;
        }
        if (step.isEvent) {
            event = step.event;
            ++m_next;
            if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT)
                threads[event.dwThreadId].Eip =
                    event.dwExceptionAddress + (event.dwExceptionCode == EXCEPTION_BREAKPOINT ? 1 : 0);
            m_waiting = true;
            return TRUE;
        }
        auto at = memory.find(step.address);
        if (at == memory.end()) {
            faults.push_back("executed unmapped code");
            ++m_next;
            continue;
        }
        if (at->second == 0xCC) {
            event = {};
            event.dwDebugEventCode = EXCEPTION_DEBUG_EVENT;
            event.dwProcessId = kTarget;
            event.dwThreadId = step.tid;
            event.dwExceptionCode = EXCEPTION_BREAKPOINT;
            event.dwExceptionAddress = step.address;
            event.dwFirstChance = 1;
            threads[step.tid].Eip = step.address + 1;
            m_execBreak = true;
            m_execTid = step.tid;
            m_execAddress = step.address;
            m_waiting = true;
            return TRUE;
        }
        if (at->second != image[step.address])
            faults.push_back("ran a changed instruction");
        ++m_next;
    }
    // The script has run out: the program idles; a test that never ends it fails.
    clock += dwMilliseconds;
    if (++m_idle > 20) {
        faults.push_back("the run did not end");
        m_script.clear();
        m_next = 0;
        ExitProcess();
    }
    return FALSE;
}

inline void FakeDebuggee::ContinueEvent(DWORD, DWORD, DWORD dwContinueStatus)
{
    if (!m_waiting)
        return; // after a time-out: nothing to continue
    m_waiting = false;
    statuses.push_back(dwContinueStatus);
    if (!m_execBreak)
        return;
    m_execBreak = false;
    DWORD eip = threads[m_execTid].Eip;
    if (eip == m_execAddress && ++m_retries < 50)
        return; // rewound: the instruction runs again
    if (m_retries >= 50)
        faults.push_back("rewound onto a breakpoint for ever");
    m_retries = 0;
    if (image[m_execAddress] != 0xCC)
        faults.push_back("ran past the program's instruction");
    ++m_next;
}

inline BOOL FakeDebuggee::ReadMemory(HANDLE hProcess, DWORD address, void* buffer, DWORD size)
{
    ++memoryCalls;
    if (hProcess != ProcessHandle(kTarget))
        faults.push_back("read another process");
    for (DWORD i = 0; i < size; ++i) {
        auto at = memory.find(address + i);
        if (at == memory.end() || unreadable.count((address + i) / 4096))
            return FALSE;
        static_cast<BYTE*>(buffer)[i] = at->second;
    }
    return TRUE;
}

inline BOOL FakeDebuggee::WriteMemory(HANDLE hProcess, DWORD address, const void* buffer, DWORD size)
{
    ++memoryCalls;
    if (hProcess != ProcessHandle(kTarget))
        faults.push_back("wrote another process");
    for (DWORD i = 0; i < size; ++i)
        if (memory.find(address + i) == memory.end())
            return FALSE;
    for (DWORD i = 0; i < size; ++i)
        memory[address + i] = static_cast<const BYTE*>(buffer)[i];
    return TRUE;
}

inline BOOL FakeDebuggee::GetRegisters(HANDLE hThread, CONTEXT& context)
{
    DWORD tid = static_cast<DWORD>(reinterpret_cast<uintptr_t>(hThread) - 0x5000);
    context = threads[tid];
    return TRUE;
}

inline BOOL FakeDebuggee::SetRegisters(HANDLE hThread, const CONTEXT& context)
{
    DWORD tid = static_cast<DWORD>(reinterpret_cast<uintptr_t>(hThread) - 0x5000);
    threads[tid] = context;
    return TRUE;
}

inline BOOL FakeDebuggee::Terminate(DWORD dwProcessId)
{
    terminated.push_back(dwProcessId);
    if (!terminable)
        return FALSE;
    // What is left of the program does not run; its exit is the next event.
    m_script.resize(m_next);
    ExitProcess(dwProcessId);
    return TRUE;
}

inline BOOL FakeDebuggee::Detach(DWORD dwProcessId)
{
    ++detachTries;
    if (!detachable)
        return FALSE;
    detached.push_back(dwProcessId);
    return TRUE;
}

inline void FakeDebuggee::PostCommand(UINT nID)
{
    commands.push_back(nID);
    if (nID == 1016 && onReport)
        onReport();
}

inline void FakeDebuggee::SuspendSelf()
{
    if (state->m_bReportPending)
        return; // the window has dealt with the report and resumes the thread
    if (++pauses > 50) {
        faults.push_back("paused for ever");
        state->m_bPauseOnStop = 0;
    } else if (onPause) {
        onPause();
    } else {
        state->m_bStopRequest = 0;
    }
}
