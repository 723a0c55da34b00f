// A scripted debuggee for the engine's native tests: debug events, and the instructions threads
// execute. A 0xCC raises a breakpoint; continued, the thread has run past it or, rewound onto it, runs it
// again just before its own next step, so other threads may break in between, as they do. Faults: running
// past an instruction the program has, touching another process's memory, waiting before continuing,
// writing registers not read, running a byte not the program's own.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "debugger/DebugPlatform.h"
#include "debugger/TraceState.h"

class FakeDebuggee : public IDebugPlatform {
public:
    static constexpr DWORD kTarget = 100, kChild = 200, kMain = 1;

    // --- the program ---
    void Map(DWORD address, const std::vector<BYTE>& bytes)
    {
        for (DWORD i = 0; i < bytes.size(); ++i)
            image[address + i] = memory[address + i] = bytes[i];
    }
    // The image at `base` (0: the system does not tell).
    void Create(DWORD start, DWORD base = 0) { Event(CREATE_PROCESS_DEBUG_EVENT, kTarget, kMain, 0, start, base); }
    void CreateChild(DWORD pid = kChild) { Event(CREATE_PROCESS_DEBUG_EVENT, pid, 50, 0, 0x400000); }
    void LoadDll(DWORD pid = kTarget) { Event(LOAD_DLL_DEBUG_EVENT, pid, 0, 0, 0); }
    void CreateThread(DWORD tid) { Event(CREATE_THREAD_DEBUG_EVENT, kTarget, tid, 0, 0); }
    void ExitThread(DWORD tid) { Event(EXIT_THREAD_DEBUG_EVENT, kTarget, tid, 0, 0); }
    void ExitProcess(DWORD pid = kTarget) { Event(EXIT_PROCESS_DEBUG_EVENT, pid, pid == kTarget ? kMain : 50, 0, 0); }
    void Raise(DWORD code, DWORD address, DWORD tid = kMain, DWORD pid = kTarget) { Event(EXCEPTION_DEBUG_EVENT, pid, tid, code, address); }
    // The thread executes the instruction at each address in turn (a step without an event code).
    void Exec(DWORD tid, std::initializer_list<DWORD> addresses)
    {
        for (DWORD address : addresses)
            Event(0, kTarget, tid, 0, address);
    }

    // --- IDebugPlatform ---
    int Launch() override { return 1; }
    BOOL WaitForEvent(DebugEvent& event, DWORD dwMilliseconds) override
    {
        timeouts.push_back(dwMilliseconds);
        m_clock += 1; // each event and each instruction takes a millisecond, each idle wait its whole time-out
        if (onWait)
            onWait();
        if (m_waiting)
            faults.push_back("waited with an event not continued");
        const DWORD begun = m_clock;
        for (; m_next < m_script.size(); ++m_next) {
            const DebugEvent step = m_script[m_next];
            // A thread rewound runs that instruction before anything else of its own.
            auto rerun = m_rerun.extract(step.dwThreadId);
            if (rerun && Execute(step.dwThreadId, rerun.mapped(), true, event))
                return TRUE;
            if (step.dwDebugEventCode != 0) {
                ++m_next;
                return Deliver(event = step);
            }
            if (Execute(step.dwThreadId, step.dwExceptionAddress, false, event))
                return TRUE;
            if (m_clock - begun >= dwMilliseconds) {
                ++m_next;
                return FALSE; // the wait timed out while the program ran
            }
        }
        m_clock += dwMilliseconds;
        // The script has run out: the program idles; a test that never ends it fails.
        if (++m_idle > 20) {
            faults.push_back("the run did not end");
            ExitProcess();
        }
        return FALSE;
    }
    void ContinueEvent(DWORD, DWORD, DWORD dwContinueStatus) override
    {
        if (!m_waiting)
            return; // after a time-out: nothing to continue
        m_waiting = false;
        statuses.push_back(dwContinueStatus);
        const Running step = m_exec;
        m_exec = {};
        if (step.tid == 0)
            return; // no instruction ran into a breakpoint
        if (!step.rerun)
            ++m_next;
        if (threads[step.tid].Eip == step.address && ++m_retries < 50) {
            m_rerun[step.tid] = step.address; // rewound: the instruction runs again
            return;
        }
        if (m_retries >= 50)
            faults.push_back("rewound onto a breakpoint for ever");
        if (image[step.address] != 0xCC)
            faults.push_back("ran past the program's instruction");
        m_retries = 0;
    }
    BOOL ReadMemory(HANDLE hProcess, DWORD address, void* buffer, DWORD size) override
    {
        const bool mapped = Mapped(hProcess, "read another process", address, size);
        for (DWORD i = 0; mapped && i < size; ++i)
            static_cast<BYTE*>(buffer)[i] = memory[address + i];
        return mapped;
    }
    BOOL WriteMemory(HANDLE hProcess, DWORD address, const void* buffer, DWORD size) override
    {
        const bool mapped = Mapped(hProcess, "wrote another process", address, size);
        for (DWORD i = 0; mapped && i < size; ++i)
            memory[address + i] = static_cast<const BYTE*>(buffer)[i];
        return mapped;
    }
    BOOL GetRegisters(HANDLE hThread, CONTEXT& context) override
    {
        if (Id(hThread) == unreadableThread)
            return FALSE;
        context = threads[Id(hThread)];
        return TRUE;
    }
    BOOL GetRunningRegisters(HANDLE hThread, CONTEXT& context) override { return GetRegisters(hThread, context); }
    BOOL SetRegisters(HANDLE hThread, const CONTEXT& context) override
    {
        if (Id(hThread) == unreadableThread)
            faults.push_back("wrote registers it could not read");
        threads[Id(hThread)] = context;
        return TRUE;
    }
    void CloseFile(HANDLE hFile) override { closed.push_back(hFile); }
    void PostQuit(DWORD, DWORD dwMainThreadId) override { told += "quit " + std::to_string(dwMainThreadId) + "; "; }
    BOOL Terminate(DWORD dwProcessId) override
    {
        told += "end " + std::to_string(dwProcessId) + "; ";
        if (!terminable)
            return FALSE;
        // What is left of the program does not run: its threads' exits and its own come next.
        m_script.resize(m_next);
        m_exec = {};
        m_rerun.clear();
        for (DWORD tid : live)
            ExitThread(tid);
        ExitProcess(dwProcessId);
        return TRUE;
    }
    // A process that cannot be let go: its events keep coming.
    BOOL Detach(DWORD dwProcessId) override
    {
        told += "let go " + std::to_string(dwProcessId) + "; ";
        return FALSE;
    }
    // A hit or an exception posted (WM_COMMAND 1016) is taken as the window takes it, then onReport sees
    // it; with `window` set, another thread plays the window.
    void PostCommand(UINT nID) override
    {
        lastCommand = nID;
        if (nID != 1016 || window)
            return;
        if (state->m_dwExceptionCode == 0)
            hits.push_back(DWORD(state->CountReportedHit(FALSE)->addr));
        else {
            exceptions.push_back(state->m_dwExceptionCode);
            shownEip = state->m_pExceptionContext.load()->Eip;
        }
        state->m_bReportPending = 0;
        if (onReport)
            onReport();
    }
    // A pause ends at once with "Continue ...". With `window` set the wait is real, and every other time
    // the debug thread loses the processor between its check and its wait, as it may.
    void WaitForWake() override
    {
        if (window) {
            if (++m_waits % 2)
                std::this_thread::yield();
            state->m_wake.Wait();
        }
        else {
            state->m_bStopRequest = 0;
            ++pauses;
        }
    }
    void Sleep(DWORD) override {}
    DWORD TickCount() override { return m_clock; }

    // --- what the test sets ---
    BOOL terminable = TRUE;
    bool window = false;
    DWORD unreadableThread = 0; // a thread whose registers cannot be read
    CTraceState* state = nullptr; // the window's side of the hand-over
    std::function<void()> onReport, onWait; // after a report is taken; before each wait

    // --- what the test reads ---
    std::map<DWORD, BYTE> image, memory;
    std::vector<std::string> faults;
    std::vector<DWORD> hits, exceptions; // the listing addresses counted, the exceptions shown
    DWORD shownEip = 0;                  // the registers of the exception shown last
    std::vector<DWORD> statuses, timeouts; // each event's continue status, each wait's time-out
    std::vector<HANDLE> closed;  // every file handle of a creation or DLL event is to be closed
    std::string told;            // each quit posted, process ended or let go, in order
    std::map<DWORD, int> executed; // times the program's own instruction at an address ran
    UINT lastCommand = 0;
    int pauses = 0;

private:
    static HANDLE Handle(DWORD n) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(n)); }
    static DWORD Id(HANDLE thread) { return static_cast<DWORD>(reinterpret_cast<uintptr_t>(thread) - 0x5000); }
    static DebugEvent Made(DWORD code, DWORD pid, DWORD tid, DWORD exception, DWORD address, DWORD base = 0)
    {
        DebugEvent e = {code, pid, tid, exception, 0, 1, nullptr, Handle(0x1000 + pid), Handle(0x5000 + tid), 0, base, 0};
        (code == CREATE_PROCESS_DEBUG_EVENT ? e.dwStartAddress : e.dwExceptionAddress) = address;
        return e;
    }
    void Event(DWORD code, DWORD pid, DWORD tid, DWORD exception, DWORD address, DWORD base = 0)
    {
        m_script.push_back(Made(code, pid, tid, exception, address, base));
        if (code == CREATE_PROCESS_DEBUG_EVENT || code == LOAD_DLL_DEBUG_EVENT)
            m_script.back().hFile = Handle(0x9000 + DWORD(m_script.size()));
    }
    // Runs one instruction of a thread; TRUE when it raised a breakpoint.
    bool Execute(DWORD tid, DWORD address, bool rerun, DebugEvent& event)
    {
        auto at = memory.find(address);
        if (at == memory.end()) {
            faults.push_back("executed unmapped code");
        } else if (at->second == 0xCC) {
            // Rewound onto it, the thread runs it before its breakpoint is back.
            if (rerun)
                faults.push_back("a breakpoint taken twice for one execution");
            m_exec = {tid, address, rerun};
            return Deliver(event = Made(EXCEPTION_DEBUG_EVENT, kTarget, tid, EXCEPTION_BREAKPOINT, address));
        } else if (at->second != image[at->first]) {
            faults.push_back("ran a changed instruction");
        } else {
            ++executed[address];
            ++m_clock;
            threads[tid].Eip = address + 1; // past it
            m_retries = 0;
        }
        return false;
    }
    BOOL Deliver(const DebugEvent& event)
    {
        if (event.dwDebugEventCode == CREATE_THREAD_DEBUG_EVENT)
            live.insert(event.dwThreadId);
        if (event.dwDebugEventCode == EXIT_THREAD_DEBUG_EVENT)
            live.erase(event.dwThreadId);
        if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT)
            threads[event.dwThreadId].Eip =
                event.dwExceptionAddress + (event.dwExceptionCode == EXCEPTION_BREAKPOINT ? 1 : 0);
        m_waiting = true;
        return TRUE;
    }
    // Whether every byte is mapped; a process other than the target's is a fault.
    bool Mapped(HANDLE hProcess, const char* fault, DWORD address, DWORD size)
    {
        if (hProcess != Handle(0x1000 + kTarget))
            faults.push_back(fault);
        for (DWORD i = 0; i < size; ++i)
            if (!memory.count(address + i))
                return false;
        return true;
    }

    struct Running {
        DWORD tid, address;
        bool rerun; // run again after a rewind, not a step of the script
    };
    std::map<DWORD, CONTEXT> threads;
    std::set<DWORD> live; // the target's threads other than its main one
    std::map<DWORD, DWORD> m_rerun; // thread -> the instruction it was rewound onto
    std::vector<DebugEvent> m_script; // an instruction is a step without an event code
    size_t m_next = 0;
    int m_idle = 0, m_retries = 0, m_waits = 0;
    DWORD m_clock = 0;
    bool m_waiting = false; // an event is out, not yet continued
    Running m_exec = {};    // the instruction out, run into 0xCC
};
