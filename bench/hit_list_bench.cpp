// Every operation of the hit list on two generated targets, one of about
// 44,000 Call+Jmp points and one of about 250,000 (a third calls, two thirds
// jumps, as in a program with 1 MB and with 5 MB of code), on the real dialog
// under Wine: attach (the listing walked, both kinds listed), untick and tick
// each kind, sort by each column, the counts' reset of "Start Process", the
// hit report of a run of a few dozen hits, "Save Archive", "Load Archive",
// "Run Archive" at pacing 0 and "Remove All"; then the peak of the process's
// working set beyond where it started and the mapped listing, per point. Each operation is printed
// for both targets with the ratio 250k/44k: about 5.7 is linear, about 6.6
// n log n, about 32 quadratic. Beside each time, the longest another thread
// waited for the window to answer a message during the operation.
//
//   hit_list_bench.exe [rounds [work folder]]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/TracerDlg.h"
#include "bench/BenchTarget.h"
#include "bench/BenchUi.h"

namespace {

// The disassembler's listing of a made-up program: `points` calls and jumps
// to scattered targets, a plain instruction after each.
bool WriteListing(const std::string& path, int points)
{
    std::string text = "\r\n";
    text.reserve(static_cast<size_t>(points) * 80);
    char line[128];
    DWORD address = 0x00401000, seed = 12345;
    for (int i = 0; i < points; ++i) {
        seed = seed * 1103515245u + 12345u;
        DWORD to = 0x00401000 + (seed >> 8) % 0x00500000;
        const bool call = i % 3 == 0;
        std::snprintf(line, sizeof line, ":%08X %-24s%s %08X\r\n", static_cast<unsigned>(address), call ? "E8" : "E9",
                      call ? "call" : "jmp", static_cast<unsigned>(to));
        text += line;
        address += 5;
        std::snprintf(line, sizeof line, ":%08X %-24s%s\r\n", static_cast<unsigned>(address), "8BC0", "mov eax, eax");
        text += line;
        address += 2;
    }
    HANDLE out = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0;
    bool ok = out != INVALID_HANDLE_VALUE && ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, NULL);
    if (out != INVALID_HANDLE_VALUE)
        ::CloseHandle(out);
    return ok && written == text.size();
}

void Click(CTracerDlg& dlg, int id)
{
    ::SendMessageA(::GetDlgItem(dlg.m_hWnd, id), BM_CLICK, 0, 0);
}

void ClickHeading(CTracerDlg& dlg, int column)
{
    NMLISTVIEW click = {{dlg.m_listHits.m_hWnd, IDC_HIT_LIST, static_cast<UINT>(LVN_COLUMNCLICK)}, -1, column, 0, 0, 0, {0, 0}, 0};
    ::SendMessageA(dlg.m_hWnd, WM_NOTIFY, IDC_HIT_LIST, reinterpret_cast<LPARAM>(&click));
}

// Lets the list paint what is on screen, as it does after each command.
void Paint(CTracerDlg& dlg)
{
    ::UpdateWindow(dlg.m_hWnd);
    MSG msg;
    while (::PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

// Another thread sends the window one message after the other; the longest
// wait for an answer during an operation is how long input would wait. One
// thread for all operations, started before the memory baseline is taken.
class AnswerProbe {
public:
    explicit AnswerProbe(HWND window) : m_window(window)
    {
        m_thread = ::CreateThread(NULL, 0, Run, this, 0, NULL);
        // The thread's own memory, allocated as it sends, is then in the baseline.
        AnswerUntil([&] { return m_answers >= 2; });
    }
    ~AnswerProbe()
    {
        m_stop = 1;
        AnswerUntil([&] { return ::WaitForSingleObject(m_thread, 0) == WAIT_OBJECT_0; });
        ::CloseHandle(m_thread);
    }
    void Begin() { m_longest = 0; }
    // The longest wait since Begin, once the message sent last is answered.
    double Longest()
    {
        const LONG target = m_answers + 2;
        AnswerUntil([&] { return m_answers >= target; });
        return m_longest;
    }

private:
    template <typename Done> static void AnswerUntil(Done done)
    {
        while (!done()) {
            ::MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_SENDMESSAGE);
            MSG msg;
            ::PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE); // answers the probe
        }
    }
    static DWORD WINAPI Run(void* self)
    {
        AnswerProbe& probe = *static_cast<AnswerProbe*>(self);
        while (!probe.m_stop) {
            double sent = Now();
            DWORD_PTR result;
            ::SendMessageTimeoutA(probe.m_window, WM_NULL, 0, 0, SMTO_NORMAL, 600000, &result);
            const double waited = Now() - sent;
            if (waited > probe.m_longest)
                probe.m_longest = waited;
            ::InterlockedIncrement(&probe.m_answers);
            ::Sleep(1);
        }
        return 0;
    }
    HWND m_window;
    HANDLE m_thread;
    volatile LONG m_stop = 0, m_answers = 0;
    volatile double m_longest = 0;
};

// The process's memory in use (Wine counts no private bytes; the working
// set it counts includes the listing's mapped pages).
double WorkingSet(bool peak)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<double>(peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize);
}

const char* const operations[] = {
    "attach (walk, Call and Jmp listed)", "untick Jmp", "tick Jmp", "untick Call", "tick Call",
    "sort by Num", "sort by Hits", "sort by Comp", "sort by EIP", "sort by Disasm",
    "Start Process's reset (create mode)", "hit report, 40 hits shown", "Save Archive", "Load Archive",
    "Run Archive, pacing 0", "Start Process's reset (compare mode)", "Remove All"};
const int operationCount = sizeof operations / sizeof operations[0];

struct Measured {
    int points = 0;
    double ms[operationCount];
    double answerMs[operationCount];
    double bytesPerPoint = 0;
};

bool Measure(const std::string& work, int points, int rounds, Measured& m)
{
    std::string start = work + "\\start", targets = work + "\\targets";
    for (const std::string& dir : {work, start, start + "\\AR", targets})
        ::CreateDirectoryA(dir.c_str(), NULL);
    HANDLE target = ::CreateFileA((targets + "\\bench.exe").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ::CloseHandle(target);
    if (!WriteListing(start + "\\AR\\bench.dsm", points)) {
        std::fprintf(stderr, "cannot write the listing in %s\n", start.c_str());
        return false;
    }
    BenchUi ui;
    ui.archive = start + "\\AR\\bench.ar";
    AfxSetUiSeam(&ui);
    ::SetCurrentDirectoryA(start.c_str());
    CTracerDlg dlg;
    if (!dlg.Create(IDD_KORVANE_DIALOG)) {
        std::fprintf(stderr, "cannot create the dialog\n");
        return false;
    }
    ::ShowWindow(dlg.m_hWnd, SW_SHOW);
    for (int id : {IDC_CALL_PTR, IDC_JMP_PTR, IDC_STR_DATA})
        ::CheckDlgButton(dlg.m_hWnd, id, BST_UNCHECKED);
    for (int id : {IDC_CALL, IDC_JMP})
        ::CheckDlgButton(dlg.m_hWnd, id, BST_CHECKED);
    dlg.m_strTargetName = "bench.exe";
    dlg.m_strTargetDir = targets.c_str();
    // Converted once, outside the measurement: a listing is converted only when made.
    if (!dlg.LoadListing(1))
        return false;
    dlg.CloseListing();
    Paint(dlg);
    AnswerProbe probe(dlg.m_hWnd);
    const double before = WorkingSet(false);
    const double listingSize = static_cast<double>(ReadAll(start + "\\AR\\bench.dsm").size());

    std::fill(m.ms, m.ms + operationCount, 1e30);
    std::fill(m.answerMs, m.answerMs + operationCount, 1e30);
    for (int round = 0; round < rounds; ++round) {
        int op = 0;
        auto timed = [&](auto&& work) {
            probe.Begin();
            double t0 = Now();
            work();
            Paint(dlg);
            m.ms[op] = std::min(m.ms[op], Now() - t0);
            m.answerMs[op] = std::min(m.answerMs[op], probe.Longest());
            ++op;
        };
        dlg.m_strTargetName = "bench.exe";
        dlg.m_strTargetDir = targets.c_str();
        timed([&] {
            dlg.LoadListing(1);
            dlg.SyncHitList();
        });
        m.points = dlg.m_mapAll.GetCount();
        CountEveryPoint(dlg, true);
        for (int id : {IDC_JMP, IDC_JMP, IDC_CALL, IDC_CALL})
            timed([&] { Click(dlg, id); });
        for (int column = 0; column < 5; ++column)
            timed([&] { ClickHeading(dlg, column); });
        timed([&] { dlg.ResetHitCounts(); });
        // Hits on points all over the list, most of them out of view.
        std::vector<ListingRecord*> hit;
        int i = 0;
        for (POSITION pos = dlg.m_mapAll.GetStartPosition(); pos != NULL; ++i) {
            void *key, *value;
            dlg.m_mapAll.GetNextAssoc(pos, key, value);
            if (i % (m.points / 40) == 0 && hit.size() < 40)
                hit.push_back(static_cast<ListingRecord*>(value));
        }
        timed([&] {
            for (ListingRecord* record : hit) {
                record->savedByte = 0xCC;
                dlg.m_pHitRecord = record;
                ++dlg.m_nHitSeq;
                dlg.OnDebugReport();
            }
            dlg.ShowHits();
        });
        CountEveryPoint(dlg, true);
        timed([&] { dlg.SaveArchive(); });
        timed([&] { dlg.LoadArchive(); });
        dlg.SetMode(1, 1);
        dlg.m_nSpeed = 0;
        timed([&] { dlg.RunArchive(); });
        timed([&] { dlg.ResetHitCounts(); });
        dlg.m_bSaved = 1;
        timed([&] { dlg.ResetTrace(1, 0); });
    }
    m.bytesPerPoint = (WorkingSet(true) - before - listingSize) / m.points;
    dlg.DestroyWindow();
    AfxSetUiSeam(NULL);
    return ui.boxes == 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    std::string work = WinPath(argc > 2 ? argv[2] : HIT_LIST_BENCH_WORK);
    ::CreateDirectoryA(work.c_str(), NULL);
    // The small target first: the process's peak memory only grows.
    Measured small, large;
    if (!Measure(work + "\\44k", 44000, rounds, small) || !Measure(work + "\\250k", 250000, rounds, large))
        return 1;

    std::printf("hit list operations, fastest of %d rounds (ms)\n", rounds);
    std::printf("  %-40s %10s %10s %8s %12s %12s\n", "", "44k", "250k", "ratio", "answer 44k", "answer 250k");
    std::printf("  %-40s %10d %10d %8.2f\n", "points", small.points, large.points,
                static_cast<double>(large.points) / small.points);
    for (int op = 0; op < operationCount; ++op)
        std::printf("  %-40s %10.1f %10.1f %8.2f %12.1f %12.1f\n", operations[op], small.ms[op], large.ms[op],
                    small.ms[op] > 0 ? large.ms[op] / small.ms[op] : 0.0, small.answerMs[op], large.answerMs[op]);
    std::printf("  %-40s %10.0f %10.0f %8.2f\n", "peak memory beyond the listing, B/point", small.bytesPerPoint, large.bytesPerPoint,
                small.bytesPerPoint > 0 ? large.bytesPerPoint / small.bytesPerPoint : 0.0);
    return 0;
}
