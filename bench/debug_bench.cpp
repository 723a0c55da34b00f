// The debug engine under Wine, measured side by side in one run:
//
//  1. Hits per second through the whole path (breakpoint event, report to the
//     real dialog, list update, resume), through korvane-trace's path (the
//     same engine, each report taken at once on its own thread, no window)
//     and through a minimal loop that does only the breakpoint work, on the
//     same target and points; and where a hit's time goes.
//  2. Planting: from the process-creation event to the target running, with
//     every kind of a target of about 1 MB of code, a page at a time against
//     a byte at a time; and the memory both leave, compared.
//
//   debug_bench.exe [rounds [big target | -]]     (-: the hit rate alone)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/TracerDlg.h"
#include "bench/BenchTarget.h"
#include "debugger/DebugEngine.h"
#include "debugger/Win32DebugPlatform.h"
#include "tools/trace/ConsoleRun.h"

namespace {

class PrintingUi : public IUiSeam {
public:
    int MessageBox(HWND, LPCSTR text, LPCSTR caption, UINT) override
    {
        std::fprintf(stderr, "box [%s]: %s\n", caption, text);
        return IDOK;
    }
    BOOL FileDialog(BOOL, OPENFILENAMEA&) override { return FALSE; }
};

// The real calls, each kind timed; a hook at each continue.
class TimedPlatform : public CWin32DebugPlatform {
public:
    enum Part { wait, cont, registers, memory, report, partCount };
    using CWin32DebugPlatform::CWin32DebugPlatform;

    BOOL WaitForEvent(DebugEvent& event, DWORD ms) override
    {
        double t0 = Now();
        BOOL got = CWin32DebugPlatform::WaitForEvent(event, ms);
        eventAt = Now();
        spent[wait] += eventAt - t0;
        current = got ? event : DebugEvent{};
        return got;
    }
    void ContinueEvent(DWORD pid, DWORD tid, DWORD status) override
    {
        if (onContinue)
            onContinue(*this);
        Timed(cont, [&] {
            CWin32DebugPlatform::ContinueEvent(pid, tid, status);
            return TRUE;
        });
    }
    BOOL ReadMemory(HANDLE process, DWORD address, void* buffer, DWORD size) override
    {
        ++memoryCalls;
        return Timed(memory, [&] { return CWin32DebugPlatform::ReadMemory(process, address, buffer, size); });
    }
    BOOL WriteMemory(HANDLE process, DWORD address, const void* buffer, DWORD size) override
    {
        ++memoryCalls;
        return Timed(memory, [&] { return CWin32DebugPlatform::WriteMemory(process, address, buffer, size); });
    }
    BOOL GetRegisters(HANDLE thread, CONTEXT& context) override
    {
        return Timed(registers, [&] { return CWin32DebugPlatform::GetRegisters(thread, context); });
    }
    BOOL SetRegisters(HANDLE thread, const CONTEXT& context) override
    {
        return Timed(registers, [&] { return CWin32DebugPlatform::SetRegisters(thread, context); });
    }
    void PostCommand(UINT id) override
    {
        if (id == 1016) {
            reportAt.push_back(Now());
            reportStart = Now();
        }
        CWin32DebugPlatform::PostCommand(id);
    }
    void WaitForWake() override
    {
        CWin32DebugPlatform::WaitForWake();
        spent[report] += Now() - reportStart;
    }

    template <typename F> BOOL Timed(Part part, F f)
    {
        double t0 = Now();
        BOOL result = f();
        spent[part] += Now() - t0;
        return result;
    }

    double spent[partCount] = {};
    double eventAt = 0, reportStart = 0;
    std::vector<double> reportAt;
    int memoryCalls = 0;
    DebugEvent current = {};
    std::function<void(TimedPlatform&)> onContinue;
};

struct Session {
    CTracerDlg* dlg;
    TimedPlatform* platform;
};

UINT EngineThread(LPVOID param)
{
    Session* session = static_cast<Session*>(param);
    CDebugEngine engine(*session->dlg, *session->dlg, *session->platform);
    return static_cast<UINT>(engine.Run());
}


// A run as "Start Process" makes it, with the engine on a thread of ours so
// that its calls can be timed; the dialog shows every hit as usual.
void RunTimed(CTracerDlg& dlg, TimedPlatform& platform)
{
    dlg.m_bSaved = 0;
    dlg.m_bPauseOnStop = 1;
    dlg.m_bStopRequest = 0;
    dlg.m_pHitRecord = NULL;
    dlg.m_nHitSeq = 0;
    for (int& armed : dlg.m_armedKinds)
        armed = 0;
    dlg.UpdateData(TRUE);
    dlg.ResetHitCounts();
    Session session = {&dlg, &platform};
    dlg.m_pDebugThread = AfxBeginThread(EngineThread, &session, THREAD_PRIORITY_ABOVE_NORMAL, 0, CREATE_SUSPENDED);
    dlg.m_pDebugThread->m_bAutoDelete = FALSE;
    dlg.m_pDebugThread->ResumeThread();
    // The dialog's own loop, until its handling of the run's end has let the
    // thread go.
    MSG msg;
    while (dlg.m_pDebugThread != NULL && ::GetMessageA(&msg, NULL, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

// korvane-trace's run, each hit's report timed as it is taken.
class TimedConsoleRun : public CConsoleRun {
public:
    using CConsoleRun::CConsoleRun;
    void PostCommand(UINT id) override
    {
        if (id == 1016)
            reportAt.push_back(Now());
        CConsoleRun::PostCommand(id);
    }
    std::vector<double> reportAt;
};

// The run as korvane-trace makes it, on the dialog's listing and points.
double ConsoleLoop(CTracerDlg& dlg, const std::string& commandLine, int& hits)
{
    CTraceState state;
    state.m_bCall = 1;
    state.m_bStrData = 0;
    state.m_bPauseOnStop = 1;
    for (int& armed : dlg.m_armedKinds)
        armed = 0;
    dlg.ResetCounts(FALSE);
    TimedConsoleRun run(dlg.TargetPath(), commandLine.c_str(), state, FALSE, 0, false);
    CDebugEngine engine(state, dlg, run);
    engine.Run();
    hits = static_cast<int>(run.reportAt.size());
    return run.reportAt.empty() ? 0 : run.reportAt.back() - run.reportAt.front();
}

// Only the breakpoint work, on the same target and points: plant, and at each
// hit put the byte back, rewind, plant the previous point again, go on.
double MinimalLoop(const std::string& commandLine, const std::vector<DWORD>& points, int& hits)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!::CreateProcessA(NULL, &line[0], NULL, NULL, TRUE, DEBUG_PROCESS | CREATE_NEW_CONSOLE, NULL, NULL, &startup,
                          &process))
        return 0;
    ::CloseHandle(process.hProcess);
    ::CloseHandle(process.hThread);
    std::map<DWORD, BYTE> own;
    std::map<DWORD, HANDLE> threads;
    HANDLE target = NULL;
    DWORD previous = 0;
    double first = 0, last = 0;
    hits = 0;
    const BYTE int3 = 0xCC;
    for (;;) {
        DEBUG_EVENT e;
        if (!::WaitForDebugEvent(&e, 10000))
            break;
        if (e.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            ::CloseHandle(e.u.CreateProcessInfo.hFile);
            if (target == NULL) {
                target = e.u.CreateProcessInfo.hProcess;
                threads[e.dwThreadId] = e.u.CreateProcessInfo.hThread;
                for (DWORD a : points) {
                    BYTE b;
                    SIZE_T n;
                    if (::ReadProcessMemory(target, reinterpret_cast<LPCVOID>(a), &b, 1, &n)) {
                        own[a] = b;
                        ::WriteProcessMemory(target, reinterpret_cast<LPVOID>(a), &int3, 1, &n);
                    }
                }
            } else {
                ::DebugActiveProcessStop(e.dwProcessId);
            }
        } else if (e.dwDebugEventCode == CREATE_THREAD_DEBUG_EVENT) {
            threads[e.dwThreadId] = e.u.CreateThread.hThread;
        } else if (e.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            ::CloseHandle(e.u.LoadDll.hFile);
        } else if (e.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                   e.u.Exception.ExceptionRecord.ExceptionCode == EXCEPTION_BREAKPOINT) {
            DWORD at = reinterpret_cast<DWORD>(e.u.Exception.ExceptionRecord.ExceptionAddress);
            auto point = own.find(at);
            if (point != own.end()) {
                SIZE_T n;
                if (previous != 0 && previous != at)
                    ::WriteProcessMemory(target, reinterpret_cast<LPVOID>(previous), &int3, 1, &n);
                ::WriteProcessMemory(target, reinterpret_cast<LPVOID>(at), &point->second, 1, &n);
                CONTEXT context;
                context.ContextFlags = CONTEXT_FULL;
                ::GetThreadContext(threads[e.dwThreadId], &context);
                context.Eip = at;
                ::SetThreadContext(threads[e.dwThreadId], &context);
                previous = at;
                last = Now();
                if (hits++ == 0)
                    first = last;
            }
        } else if (e.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT && e.u.ExitProcess.dwExitCode != STILL_ACTIVE) {
            ::ContinueDebugEvent(e.dwProcessId, e.dwThreadId, DBG_CONTINUE);
            break;
        }
        ::ContinueDebugEvent(e.dwProcessId, e.dwThreadId, DBG_CONTINUE);
    }
    return last - first;
}

std::vector<DWORD> Addresses(CMapPtrToPtr& map)
{
    std::vector<DWORD> addresses;
    POSITION pos = map.GetStartPosition();
    while (pos != NULL) {
        void* key;
        void* value;
        map.GetNextAssoc(pos, key, value);
        addresses.push_back(static_cast<DWORD>(reinterpret_cast<uintptr_t>(key)));
    }
    return addresses;
}

bool Attach(CTracerDlg& dlg, const std::string& folder, const std::string& name)
{
    dlg.CloseListing();
    dlg.m_strTargetName = name.c_str();
    dlg.m_strTargetDir = folder.c_str();
    ::SetCurrentDirectoryA(folder.c_str());
    return dlg.LoadListing(0) == 1;
}

void SetKinds(CTracerDlg& dlg, const int kinds[5])
{
    const int boxes[5] = {IDC_CALL_PTR, IDC_CALL, IDC_JMP_PTR, IDC_JMP, IDC_STR_DATA};
    for (int i = 0; i < 5; ++i)
        ::CheckDlgButton(dlg.m_hWnd, boxes[i], kinds[i] ? BST_CHECKED : BST_UNCHECKED);
    dlg.SyncHitList();
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, NULL, _IONBF, 0);
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 3000;
    const bool hitRateOnly = argc > 2 && std::string(argv[2]) == "-";
    std::string big = WinPath(argc > 2 ? argv[2] : "/usr/lib/i386-linux-gnu/wine/i386-windows/windowscodecs.dll");
    std::string work = WinPath(DEBUG_BENCH_WORK);
    std::string start = work + "\\start", targets = work + "\\targets";
    for (const std::string& folder : {work, start, start + "\\AR", targets})
        ::CreateDirectoryA(folder.c_str(), NULL);
    if (!::CopyFileA(WinPath(DEBUG_BENCH_DISASSEMBLER).c_str(), (start + "\\Korvane.dll").c_str(), FALSE) ||
        !::CopyFileA(WinPath(DEBUG_BENCH_TARGET).c_str(), (targets + "\\counts.exe").c_str(), FALSE) ||
        (!hitRateOnly && (!::CopyFileA(big.c_str(), (targets + "\\big.exe").c_str(), FALSE) ||
                          !RebaseTo400000(targets + "\\big.exe", true)))) {
        std::fprintf(stderr, "cannot set up %s\n", work.c_str());
        return 1;
    }

    PrintingUi ui;
    AfxSetUiSeam(&ui);
    ::SetCurrentDirectoryA(start.c_str());
    CTracerDlg dlg;
    if (!dlg.Create(IDD_KORVANE_DIALOG))
        return 1;

    // 1. Hit rate: "Call" alone, so alpha and beta alternate: two hits a round.
    if (!Attach(dlg, targets, "counts.exe"))
        return 1;
    const int calls[5] = {0, 1, 0, 0, 0};
    SetKinds(dlg, calls);
    char arguments[64];
    std::snprintf(arguments, sizeof arguments, "\"counts.exe\" out.txt %d", rounds);
    TimedPlatform full(dlg.TargetPath(), arguments, dlg.m_hWnd, dlg.m_wake);
    std::fprintf(stderr, "whole path...\n");
    RunTimed(dlg, full);
    std::fprintf(stderr, "command-line path...\n");
    int consoleHits = 0;
    double consoleMs = ConsoleLoop(dlg, arguments, consoleHits);
    std::fprintf(stderr, "minimal loop...\n");
    int fullHits = static_cast<int>(full.reportAt.size());
    double fullMs = full.reportAt.empty() ? 0 : full.reportAt.back() - full.reportAt.front();
    int minimalHits = 0;
    double minimalMs = MinimalLoop(arguments, Addresses(dlg.m_mapCall), minimalHits);
    double fullRate = 1000.0 * (fullHits - 1) / fullMs, minimalRate = 1000.0 * (minimalHits - 1) / minimalMs;
    std::printf("hit rate on counts.exe, %d rounds, \"Call\" ticked:\n", rounds);
    std::printf("  whole path (event, report, list, resume): %6d hits in %8.1f ms = %7.0f hits/s\n", fullHits, fullMs,
                fullRate);
    std::printf("  minimal loop (breakpoint work only):      %6d hits in %8.1f ms = %7.0f hits/s\n", minimalHits,
                minimalMs, minimalRate);
    double consoleRate = 1000.0 * (consoleHits - 1) / consoleMs;
    std::printf("  korvane-trace's path (no window):         %6d hits in %8.1f ms = %7.0f hits/s\n", consoleHits,
                consoleMs, consoleRate);
    std::printf("  ratio whole / minimal: %.2f\n", fullRate / minimalRate);
    std::printf("  ratio korvane-trace / minimal: %.2f (goal: 0.90 or more)\n", consoleRate / minimalRate);
    std::printf("  ratio korvane-trace / whole: %.2f\n", consoleRate / fullRate);
    const char* names[] = {"wait for the event (the debuggee runs)", "continue", "registers (rewind)",
                           "memory (take, plant again)", "report: window shows the hit, resumes"};
    double total = 0;
    for (double part : full.spent)
        total += part;
    std::printf("  where a hit's time goes (per hit):\n");
    for (int part = 0; part < TimedPlatform::partCount; ++part)
        std::printf("    %-42s %7.1f us  %5.1f%%\n", names[part], 1000.0 * full.spent[part] / fullHits,
                    100.0 * full.spent[part] / total);

    if (hitRateOnly) {
        dlg.CloseListing();
        dlg.DestroyWindow();
        AfxSetUiSeam(NULL);
        return 0;
    }

    // 2. Planting every kind of a target of about 1 MB of code.
    double listingAt = Now();
    if (!Attach(dlg, targets, "big.exe"))
        return 1;
    std::printf("\nplanting on big.exe (%s): %d points, listing ready in %.0f ms\n", big.c_str(),
                dlg.m_mapAll.GetCount(), Now() - listingAt);
    const int all[5] = {1, 1, 1, 1, 1};
    SetKinds(dlg, all);
    g_dwDebugWaitMs = 500;
    std::vector<BYTE> memoryAfter[2][2]; // [bytewise][planted, removed]
    double plantMs[2] = {}, removeMs[2] = {};
    int plantCalls[2] = {};
    DWORD low = 0xFFFFFFFF, high = 0;
    for (DWORD a : Addresses(dlg.m_mapAll)) {
        low = std::min(low, a);
        high = std::max(high, a);
    }
    for (int bytewise = 0; bytewise < 2; ++bytewise) {
        g_bBytewiseMemory = bytewise;
        TimedPlatform platform(dlg.TargetPath(), "\"big.exe\"", dlg.m_hWnd, dlg.m_wake);
        int continues = 0;
        platform.onContinue = [&](TimedPlatform& p) {
            // The iteration's own time, from its event to its continue.
            double ms = Now() - p.eventAt;
            std::vector<BYTE>& snapshot = memoryAfter[bytewise][continues == 0 ? 0 : 1];
            if (continues <= 1) {
                snapshot.assign(high - low + 1, 0);
                SIZE_T n;
                for (DWORD page = low & ~0xFFFu; page <= high; page += 4096) {
                    DWORD from = std::max(page, low), to = std::min(page + 4095, high);
                    ::ReadProcessMemory(g_hProcess, reinterpret_cast<LPCVOID>(from), &snapshot[from - low],
                                        to - from + 1, &n);
                }
            }
            if (continues == 0) {
                plantMs[bytewise] = ms;
                plantCalls[bytewise] = p.memoryCalls;
                dlg.m_bPauseOnStop = 0; // a cancel: the next iteration removes everything
                dlg.m_bStopRequest = 1;
            } else if (continues == 1) {
                removeMs[bytewise] = ms;
            }
            ++continues;
        };
        RunTimed(dlg, platform);
    }
    g_bBytewiseMemory = FALSE;
    std::printf("  a page at a time: planted in %8.1f ms (%d memory calls), removed in %8.1f ms\n", plantMs[0],
                plantCalls[0], removeMs[0]);
    std::printf("  a byte at a time: planted in %8.1f ms (%d memory calls), removed in %8.1f ms\n", plantMs[1],
                plantCalls[1], removeMs[1]);
    std::printf("  ratio byte / page: planting %.1f, removal %.1f\n", plantMs[1] / plantMs[0], removeMs[1] / removeMs[0]);
    bool same = memoryAfter[0][0] == memoryAfter[1][0] && memoryAfter[0][1] == memoryAfter[1][1];
    std::printf("  memory after planting and after removal the same both ways: %s\n", same ? "yes" : "NO");
    dlg.CloseListing();
    dlg.DestroyWindow();
    AfxSetUiSeam(NULL);
    return same ? 0 : 1;
}
