// Real runs under Wine of what needs the platform's or the window's insides
// (what a user sees of a run is in the end-to-end scenarios): the real dialog,
// debug thread and companion disassembler, and small targets built with the
// tests, each of which writes its results to a file so that a traced run can
// be compared with an untraced one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "bench/BenchTarget.h"
#include "debugger/DebugEngine.h"
#include "debugger/Win32DebugPlatform.h"
#include "tests/app/DialogFixture.h"

namespace {

const std::string kWork = RUN_WORK, kTargets = kWork + "\\targets";

// What a target wrote to a file of its folder.
std::string Result(const std::string& file) { return FileBytes(kTargets + "\\" + file); }

// The target run without the tracer, from its folder: its exit code.
DWORD Untraced(const std::string& target, const std::string& arguments)
{
    return DWORD(std::system(("cd /d \"" + kTargets + "\" && " + target + " " + arguments).c_str()));
}

template <typename F> void Each(CMapPtrToPtr& map, F f)
{
    void *key, *value;
    for (POSITION pos = map.GetStartPosition(); pos != NULL; f(key, static_cast<ListingRecord*>(value)))
        map.GetNextAssoc(pos, key, value);
}

class DebugRunTest : public TracerDialogTest {
protected:
    static void SetUpTestSuite()
    {
        // One work folder for the suite: each target's listing is made once.
        std::error_code ignored;
        std::filesystem::remove_all(kWork, ignored);
        std::filesystem::create_directories(kWork + "\\start\\AR");
        std::filesystem::create_directories(kTargets);
        ::CopyFileA(RUN_DISASSEMBLER, (kWork + "\\start\\Korvane.dll").c_str(), FALSE);
        for (const char* name : {"counts.exe", "waiter.exe"})
            ::CopyFileA((std::string(RUN_TARGETS "\\") + name).c_str(), (kTargets + "\\" + name).c_str(), FALSE);
    }
    void SetUp() override
    {
        // A silent debuggee is looked at often; a slow machine's program gets
        // as many of its own steps to quit in a wait.
        g_dwDebugWaitMs = 300 * TimeScale();
        ASSERT_TRUE(::SetCurrentDirectoryA((kWork + "\\start").c_str()));
        TracerDialogTest::SetUp();
    }
    void TearDown() override
    {
        dlg->StopLiveRun(); // after a failed test
        dlg->CloseListing();
        TracerDialogTest::TearDown();
    }

    // "Attach File" (from create mode), the target chosen in its folder, and
    // exactly these kinds ticked, as a string of C c J j s.
    void Attach(const std::string& target, const std::string& kinds)
    {
        if (Text(IDC_MAIN_BUTTON) == "Run File")
            Click(IDC_CREATE_MODE);
        ui.ChooseFile(kTargets + "\\" + target);
        Click(IDC_MAIN_BUTTON);
        ASSERT_EQ(Text(IDC_MAIN_BUTTON), "Start Process") << target;
        const int boxes[] = {IDC_CALL_PTR, IDC_CALL, IDC_JMP_PTR, IDC_JMP, IDC_STR_DATA};
        for (int i = 0; i < 5; ++i)
            if ((Check(boxes[i]) == BST_CHECKED) != (kinds.find("CcJjs"[i]) != std::string::npos))
                Click(boxes[i]);
    }
    // "Run File" when needed, then "Start Process" with these arguments.
    void Start(const std::string& arguments)
    {
        if (Text(IDC_MAIN_BUTTON) == "Run File")
            Click(IDC_MAIN_BUTTON);
        ::SetWindowTextA(Item(IDC_COMMAND_LINE), arguments.c_str());
        Click(IDC_MAIN_BUTTON);
    }
    void RunToEnd(DWORD ms = 120000) { ASSERT_TRUE(WaitFor([&] { return RunEnded(); }, ms)); }
    HANDLE OpenDebuggee(DWORD access)
    {
        DWORD id = 0;
        WaitFor([&] { return (id = dlg->m_dwDebuggeeId) != 0; });
        return ::OpenProcess(access, FALSE, id);
    }
    // Nothing is counted for `ms`.
    bool Quiet(DWORD ms)
    {
        int before = dlg->m_nHitSeq;
        WaitFor([] { return false; }, ms);
        return dlg->m_nHitSeq == before;
    }
    // The debug thread waits in a pause.
    bool DebugThreadPaused() const { return dlg->m_pDebugThread != NULL && dlg->m_bPaused; }
    // "Stop Process", and the run paused.
    void Stop()
    {
        Click(IDC_MAIN_BUTTON);
        ASSERT_TRUE(WaitFor([&] { return DebugThreadPaused(); }, 3000));
    }
    // Traced with these kinds, the target shows no box, writes to out.txt what
    // it writes untraced and exits with the same code. Its traced output.
    std::string ExpectAsUntraced(const std::string& target, const std::string& arguments, const std::string& kinds)
    {
        Attach(target, kinds);
        ::DeleteFileA((kTargets + "\\out.txt").c_str());
        const size_t boxes = ui.MessageBoxes().size();
        Start(arguments);
        RunToEnd();
        EXPECT_EQ(ui.MessageBoxes().size(), boxes);
        const std::string traced = Result("out.txt");
        const DWORD code = g_dwExitCode;
        EXPECT_EQ(code, Untraced(target, arguments));
        EXPECT_EQ(Result("out.txt"), traced);
        return traced;
    }
};

// While paused, "Skip Point" keeps the point shown last from counting again;
// its partner in the loop, alone now, counts once more at most.
TEST_F(DebugRunTest, SkipPointLeavesOutThePointShownLast)
{
    Attach("waiter.exe", "cs");
    Start("spin");
    // In the loop (not in the start-up code): its two calls alternate.
    ASSERT_TRUE(WaitFor([&] { return dlg->m_pHitRecord && dlg->m_pHitRecord.load()->hits > 5; }));
    Stop();
    EXPECT_TRUE(Quiet(500));
    ListingRecord* skipped = dlg->m_pHitRecord;
    Click(IDC_SKIP_POINT);
    const int hits = skipped->hits, seq = dlg->m_nHitSeq;
    Click(IDC_MAIN_BUTTON);
    Quiet(700);
    EXPECT_EQ(skipped->hits, hits);
    EXPECT_LE(dlg->m_nHitSeq, seq + 1);
    Click(IDC_CANCEL_BUTTON);
    RunToEnd(20000);
}

// A debuggee without events: a pause takes one wait at most; a cancel posts
// WM_QUIT, which a message loop obeys (on the thread of the program's window,
// of several), and ends one that does not listen.
TEST_F(DebugRunTest, SilentDebuggeesPauseAndEndAtACancel)
{
    Attach("waiter.exe", "cs");
    for (const char* mode : {"sleep", "loop", "window"}) {
        SCOPED_TRACE(mode);
        Start(mode);
        HANDLE debuggee = OpenDebuggee(SYNCHRONIZE);
        Quiet(500);
        Stop();
        Click(IDC_MAIN_BUTTON);
        EXPECT_TRUE(WaitFor([&] { return !DebugThreadPaused(); }, 3000)) << "waiting for events again";
        Click(IDC_CANCEL_BUTTON);
        RunToEnd(10000);
        EXPECT_EQ(::WaitForSingleObject(debuggee, 5000), WAIT_OBJECT_0);
        ::CloseHandle(debuggee);
        const std::string m = mode;
        EXPECT_EQ(g_dwExitCode, m == "loop" ? 5u : m == "window" ? 6u : 0u) << "quit by itself, or ended";
        EXPECT_EQ(dlg->m_bExited, 1) << "an exited run";
    }
}

// The real calls, with the debuggee's code read at the continue of its
// creation (everything planted) and of the next event (everything removed, a
// cancel having come in between). Nothing goes to a window.
class SnapshotPlatform : public CWin32DebugPlatform {
public:
    SnapshotPlatform(CTraceState& state, DWORD low, DWORD high)
        : CWin32DebugPlatform((kTargets + "\\counts.exe").c_str(), "\"counts.exe\" snap.txt", NULL, state.m_wake),
          m_state(state), m_low(low), m_high(high)
    {
    }
    void ContinueEvent(DWORD pid, DWORD tid, DWORD status) override
    {
        if (snapshots.size() < 2) {
            snapshots.emplace_back(m_high - m_low + 1, 0);
            SIZE_T read = 0;
            ::ReadProcessMemory(g_hProcess, reinterpret_cast<LPCVOID>(m_low), snapshots.back().data(),
                                snapshots.back().size(), &read);
            m_state.m_bPauseOnStop = 0;
            m_state.m_bStopRequest = 1;
        }
        CWin32DebugPlatform::ContinueEvent(pid, tid, status);
    }
    void PostCommand(UINT) override {}
    void WaitForWake() override { m_state.m_bReportPending = 0; }
    std::vector<std::vector<BYTE>> snapshots;

private:
    CTraceState& m_state;
    DWORD m_low, m_high;
};


// The attached file is the one that runs, even with a program of the same
// name in the tracer's own folder (looked in first for a bare name); and it
// holds no handle to the tracer's threads or process, whatever small value it tries.
TEST_F(DebugRunTest, TheAttachedFileRunsAndHoldsNoHandleOfTheTracer)
{
    const std::string decoy = std::string(RUN_TARGETS "\\") + "decoy.exe";
    ASSERT_TRUE(::CopyFileA((kTargets + "\\waiter.exe").c_str(), decoy.c_str(), FALSE));
    ASSERT_TRUE(::CopyFileA((kTargets + "\\counts.exe").c_str(), (kTargets + "\\decoy.exe").c_str(), FALSE));
    const std::string traced = ExpectAsUntraced("decoy.exe", "out.txt", "c");
    ::DeleteFileA(decoy.c_str());
    EXPECT_NE(traced.find("alpha="), std::string::npos) << "counts.exe's results: " << traced;

    Attach("waiter.exe", "cs");
    Start("handles");
    RunToEnd();
    const std::string held = Result("handles.txt"), tracer = std::to_string(::GetCurrentProcessId());
    EXPECT_NE(held.find("done"), std::string::npos);
    EXPECT_EQ(held.find("of " + tracer + "\n"), std::string::npos) << held;
    EXPECT_EQ(held.find("process " + tracer + "\n"), std::string::npos) << held;
}

// As on Windows, which loads a program marked DYNAMIC_BASE elsewhere than its
// listing says: the listing made of a copy moved to another base (its
// relocations applied, so that only its addresses differ), kept as the
// target's. Call and Jmp count exactly as in an ordinary run, at the same
// listing offsets, and the program, which starts at a jump and runs a TLS
// callback before it, behaves as untraced either way.
TEST_F(DebugRunTest, AListingMadeForAnotherBaseCountsAsAnOrdinaryRun)
{
    auto counts = [&] {
        std::map<long, int> hits;
        ExpectAsUntraced("counts.exe", "out.txt 40", "cj");
        Each(dlg->m_mapAll, [&](void*, ListingRecord* record) {
            if (record->hits != 0)
                hits[reinterpret_cast<char*>(record) - dlg->m_pListing] = record->hits;
        });
        return hits;
    };
    const std::map<long, int> ordinary = counts();
    Click(IDC_CANCEL_BUTTON); // "Remove All"

    // A name of the same length: the listing's records lie at the same offsets.
    const std::string copy = kTargets + "\\countz.exe", ar = kWork + "\\start\\AR\\";
    ASSERT_TRUE(::CopyFileA((kTargets + "\\counts.exe").c_str(), copy.c_str(), FALSE));
    ASSERT_TRUE(RebaseTo(copy, 0x01C00000));
    Attach("countz.exe", "cj");
    ASSERT_EQ(dlg->m_dwListingBase, 0x01C00000u);
    Click(IDC_CANCEL_BUTTON); // no run: back to "Attach File"
    dlg->CloseListing();
    ASSERT_TRUE(::CopyFileA((ar + "countz.dsm").c_str(), (ar + "counts.dsm").c_str(), FALSE));
    std::filesystem::last_write_time(ar + "counts.dsm", std::filesystem::last_write_time(kTargets + "\\counts.exe") +
                                                            std::chrono::hours(1));

    EXPECT_EQ(counts(), ordinary);
    EXPECT_EQ(dlg->m_dwImageShift, 0x400000u - 0x01C00000u);
    EXPECT_FALSE(ordinary.empty());
    dlg->CloseListing(); // an open listing cannot be deleted
    ::DeleteFileA((ar + "counts.dsm").c_str()); // made anew for the other tests
}

// Planting a page at a time leaves in the debuggee's code exactly what one
// byte at a time leaves, planted and removed again.
TEST_F(DebugRunTest, PageWritesLeaveWhatByteWritesLeave)
{
    Attach("counts.exe", "CcJjs");
    dlg->UpdateData(TRUE);
    DWORD low = 0xFFFFFFFF, high = 0;
    Each(dlg->m_mapAll, [&](void* key, ListingRecord*) {
        low = std::min(low, DWORD(uintptr_t(key)));
        high = std::max(high, DWORD(uintptr_t(key)));
    });
    std::vector<std::vector<BYTE>> memory[2];
    for (BOOL bytewise : {FALSE, TRUE}) {
        g_bBytewiseMemory = bytewise;
        for (int& armed : dlg->m_armedKinds)
            armed = 0;
        dlg->m_bStopRequest = 0;
        SnapshotPlatform platform(*dlg, low, high);
        CDebugEngine(*dlg, *dlg, platform).Run();
        memory[bytewise] = platform.snapshots;
    }
    g_bBytewiseMemory = FALSE;
    ASSERT_EQ(memory[0].size(), 2u);
    EXPECT_TRUE(memory[0] == memory[1]);
    int planted = 0, other = 0;
    for (size_t i = 0; i < memory[0][0].size(); ++i)
        if (memory[0][0][i] != memory[0][1][i])
            ++(memory[0][0][i] == 0xCC ? planted : other);
    EXPECT_EQ(planted, dlg->m_mapAll.GetCount()) << "every point";
    EXPECT_EQ(other, 0) << "and nothing else";
}

} // namespace
