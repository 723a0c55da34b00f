// Real runs under Wine: the real dialog, the real debug thread, the real
// companion disassembler and small targets built with the tests, each of
// which writes its results to a file so that a traced run can be compared
// with an untraced one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "debugger/DebugEngine.h"
#include "tests/app/DialogFixture.h"

namespace {

namespace fs = std::filesystem;

const char* const kTargets[] = {"counts.exe", "threads.exe", "faults.exe", "waiter.exe"};

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

DWORD Hex(const std::string& text, const std::string& name)
{
    size_t at = text.find(name + "=");
    return at == std::string::npos ? 0 : std::stoul(text.substr(at + name.size() + 1), nullptr, 16);
}

class DebugRunTest : public TracerDialogTest {
protected:
    static void SetUpTestSuite()
    {
        // One work folder for the suite: each target's listing is made once.
        std::error_code ignored;
        fs::remove_all(Work(), ignored);
        fs::create_directories(Work() + "\\start\\AR");
        fs::create_directories(Work() + "\\targets");
        ::CopyFileA(RUN_DISASSEMBLER, (Work() + "\\start\\Korvane.dll").c_str(), FALSE);
        for (const char* name : kTargets)
            ::CopyFileA((std::string(RUN_TARGETS "\\") + name).c_str(), (Work() + "\\targets\\" + name).c_str(), FALSE);
    }
    static std::string Work() { return RUN_WORK; }
    static std::string Targets() { return Work() + "\\targets"; }

    void SetUp() override
    {
        g_dwDebugWaitMs = 10000;
        ASSERT_TRUE(::SetCurrentDirectoryA((Work() + "\\start").c_str()));
        TracerDialogTest::SetUp();
    }
    void TearDown() override
    {
        // A run still live (a failed test) is ended before the dialog goes.
        dlg->StopLiveRun();
        dlg->CloseListing();
        TracerDialogTest::TearDown();
    }

    void Attach(const std::string& name)
    {
        ui.ChooseFile(Targets() + "\\" + name);
        size_t boxes = ui.MessageBoxes().size();
        Click(IDC_MAIN_BUTTON);
        ASSERT_EQ(Text(IDC_MAIN_BUTTON), "Start Process") << name << Boxes(boxes);
    }
    // Ticks exactly these kinds (a string of C c J j s).
    void Tick(const std::string& kinds)
    {
        const std::pair<int, char> boxes[] = {{IDC_CALL_PTR, 'C'}, {IDC_CALL, 'c'}, {IDC_JMP_PTR, 'J'}, {IDC_JMP, 'j'},
                                              {IDC_STR_DATA, 's'}};
        for (auto box : boxes)
            if ((Check(box.first) == BST_CHECKED) != (kinds.find(box.second) != std::string::npos))
                Click(box.first);
    }
    void Start(const std::string& arguments)
    {
        ::SetWindowTextA(Item(IDC_COMMAND_LINE), arguments.c_str());
        Click(IDC_MAIN_BUTTON);
    }
    // Waits for the run's end; every exception box's pause is continued at once.
    void RunToEnd(DWORD ms = 120000)
    {
        ASSERT_TRUE(WaitFor(
            [&] {
                if (Text(IDC_MAIN_BUTTON) == "Continue ..." && Enabled(IDC_MAIN_BUTTON))
                    Click(IDC_MAIN_BUTTON);
                return RunEnded();
            },
            ms));
    }
    // The target run without the tracer, from the same folder: its exit code.
    DWORD Untraced(const std::string& name, const std::string& arguments)
    {
        std::string commandLine = "\"" + name + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!::CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, CREATE_NEW_CONSOLE, NULL,
                              Targets().c_str(), &startup, &process))
            return 0xDEAD;
        ::WaitForSingleObject(process.hProcess, 120000);
        DWORD code = 0xDEAD;
        ::GetExitCodeProcess(process.hProcess, &code);
        ::CloseHandle(process.hProcess);
        ::CloseHandle(process.hThread);
        return code;
    }
    std::string Result(const std::string& file) const { return Read(Targets() + "\\" + file); }
    ListingRecord* Point(DWORD address) const
    {
        void* record = NULL;
        return dlg->m_mapAll.Lookup(reinterpret_cast<void*>(static_cast<uintptr_t>(address)), record)
                   ? static_cast<ListingRecord*>(record) : nullptr;
    }
    // The call sites of a function, in address order.
    std::vector<ListingRecord*> CallsOf(DWORD callee) const
    {
        char text[32];
        std::snprintf(text, sizeof text, "call %08lX", static_cast<unsigned long>(callee));
        std::vector<ListingRecord*> sites;
        POSITION pos = dlg->m_mapCall.GetStartPosition();
        while (pos != NULL) {
            void* key;
            void* value;
            dlg->m_mapCall.GetNextAssoc(pos, key, value);
            ListingRecord* record = static_cast<ListingRecord*>(value);
            if (_stricmp(record->text, text) == 0)
                sites.push_back(record);
        }
        std::sort(sites.begin(), sites.end(), [](auto* a, auto* b) { return a->addr < b->addr; });
        return sites;
    }
    // The boxes shown since `from`, as "caption: first line".
    std::string Boxes(size_t from) const
    {
        std::string shown;
        std::vector<ScriptedUi::MessageBoxCall> boxes = ui.MessageBoxes();
        for (size_t i = from; i < boxes.size(); ++i)
            shown += "[" + boxes[i].caption + ": " + boxes[i].text.substr(0, boxes[i].text.find('\n')) + "]";
        return shown;
    }
    // Back to create mode and "Attach File" (unsaved results are not saved).
    void AttachAnother(const std::string& name)
    {
        if (Text(IDC_MAIN_BUTTON) == "Run File")
            Click(IDC_CREATE_MODE);
        Attach(name);
    }
    // The run's debuggee, for looking at it from outside.
    HANDLE OpenDebuggee(DWORD access)
    {
        DWORD id = 0;
        WaitFor([&] { return (id = dlg->m_dwDebuggeeId) != 0; });
        return ::OpenProcess(access, FALSE, id);
    }
    // Lets the window run for `ms`.
    void Pump(DWORD ms) { WaitFor([] { return false; }, ms); }
    // Nothing is counted for `ms`.
    bool Quiet(DWORD ms)
    {
        int before = dlg->m_nHitSeq;
        Pump(ms);
        return dlg->m_nHitSeq == before;
    }
    // The debug thread has suspended itself (a pause), seen from outside.
    bool DebugThreadSuspended() const
    {
        HANDLE thread = dlg->m_pDebugThread->m_hThread;
        DWORD count = ::SuspendThread(thread);
        ::ResumeThread(thread);
        return count == 1;
    }
};

TEST_F(DebugRunTest, HitsFollowTheCountingRuleAndTheNextRunCountsDown)
{
    Attach("counts.exe");
    Tick("cjs"); // the start address's jump, and every loop's
    Start("counts.txt");
    RunToEnd();
    const std::string results = Result("counts.txt");
    ASSERT_NE(results.find("sum="), std::string::npos);
    EXPECT_EQ(Boxes(0), "");

    // Alternating calls count every pass, and so does a call that shares its
    // loop with the loop's jump; the call in the TLS callback, run before the
    // start address, counts once.
    std::vector<ListingRecord*> alpha = CallsOf(Hex(results, "alpha")), beta = CallsOf(Hex(results, "beta")),
                                gamma = CallsOf(Hex(results, "gamma")), helper = CallsOf(Hex(results, "helper"));
    ASSERT_EQ(alpha.size() + beta.size() + gamma.size() + helper.size(), 4u) << results;
    EXPECT_EQ(alpha[0]->hits, 100);
    EXPECT_EQ(beta[0]->hits, 100);
    EXPECT_EQ(gamma[0]->hits, 50);
    EXPECT_EQ(helper[0]->hits, 1);
    // Num is the run-wide number of the latest hit.
    EXPECT_LT(helper[0]->num, alpha[0]->num);
    EXPECT_LT(alpha[0]->num, beta[0]->num);
    EXPECT_LT(beta[0]->num, gamma[0]->num);
    // The start address is a ticked jump: counted once, not twice.
    ListingRecord* entry = Point(g_entryAddress);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->kind, 'j');
    EXPECT_EQ(entry->hits, 1);
    EXPECT_LT(entry->num, alpha[0]->num);
    EXPECT_GT(entry->num, helper[0]->num);
    // Traced as untraced.
    EXPECT_EQ(g_dwExitCode, Untraced("counts.exe", "plain.txt"));
    EXPECT_EQ(Result("plain.txt"), results);
    // The rows show the records' counts.
    ASSERT_GE(alpha[0]->row, 0);
    EXPECT_EQ(Cell(alpha[0]->row, 0) + "|" + Cell(alpha[0]->row, 1), std::to_string(alpha[0]->num) + "|100");

    // Compare mode: "Run File" runs it again, and Comp counts down from the
    // previous hits, below 0 where this run hits more often. Without the
    // jumps, gamma is alone in its loop: counted once.
    Click(IDC_MAIN_BUTTON);
    Tick("cs");
    Start("counts.txt 130");
    RunToEnd();
    EXPECT_EQ(alpha[0]->hits, 130);
    EXPECT_EQ(alpha[0]->comp, 100 - 130);
    EXPECT_EQ(gamma[0]->hits, 1);
    EXPECT_EQ(gamma[0]->comp, 50 - 1);
    EXPECT_EQ(helper[0]->comp, 0);
    EXPECT_EQ(Cell(alpha[0]->row, 2), "-30");
    EXPECT_EQ(Cell(gamma[0]->row, 2), "49");
}

// The whole loop: a run saved as an archive, a compared run, the archive
// replayed over it; then the archive loaded back whole.
TEST_F(DebugRunTest, ARunSavedComparedAndReplayed)
{
    const std::string archive = Work() + "\\start\\AR\\first.ar";
    ::DeleteFileA(archive.c_str());
    Attach("counts.exe");
    Tick("cs");
    Start("loop.txt 100");
    RunToEnd();
    const DWORD alphaAt = Hex(Result("loop.txt"), "alpha");
    std::vector<ListingRecord*> alpha = CallsOf(alphaAt);
    ASSERT_EQ(alpha.size(), 1u);
    ui.ChooseFile(archive);
    Click(IDC_SAVE_BUTTON);
    ASSERT_EQ(Read(archive).substr(0, 15), "\x0e" "Archive,ver001");

    Click(IDC_MAIN_BUTTON); // "Run File"
    Start("loop.txt 130");
    RunToEnd();
    EXPECT_EQ(alpha[0]->hits, 130);
    EXPECT_EQ(alpha[0]->comp, 100 - 130);

    // The replay counts as if the archived run had just happened after this one.
    ui.ChooseFile(archive);
    Click(IDC_ARCHIVE_BUTTON); // "Run Archive"
    EXPECT_EQ(alpha[0]->hits, 100);
    EXPECT_EQ(alpha[0]->comp, 130 - 100);
    EXPECT_EQ(Cell(alpha[0]->row, 1) + "|" + Cell(alpha[0]->row, 2), "100|30");
    ExpectState(kEnded, "after the replay");

    // Loaded back after "Remove All": the first run's counts, as saved.
    Click(IDC_CANCEL_BUTTON); // "Remove All"; the replay's question answered No
    ui.ChooseFile(archive);
    Click(IDC_ARCHIVE_BUTTON); // "Load Archive"
    alpha = CallsOf(alphaAt);
    ASSERT_EQ(alpha.size(), 1u);
    EXPECT_EQ(alpha[0]->hits, 100);
    EXPECT_EQ(alpha[0]->comp, 0) << "a run in create mode leaves no comparison";
    EXPECT_EQ(Cell(alpha[0]->row, 1), "100");
    ExpectState(kEnded, "after the load");
}

// Every target, traced with all five kinds at full speed, writes what it
// writes untraced and exits with the same code. The program's own exceptions
// reach its own handlers; the named ones are shown on the way.
TEST_F(DebugRunTest, EveryTargetBehavesAsUntraced)
{
    struct Case { const char* target; const char* arguments; const char* boxes; };
    const Case cases[] = {
        {"counts.exe", "out.txt", ""},
        {"threads.exe", "out.txt", ""},
        {"faults.exe", "out.txt handled", "[Korvane - Exception Breakpoint!: STATUS_ACCESS_VIOLATION]"},
        {"faults.exe", "out.txt unnamed", ""},
        {"faults.exe", "out.txt int3", "[Korvane - Exception Breakpoint!: STATUS_BREAKPOINT]"},
        {"faults.exe", "out.txt trap", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.target) + " " + c.arguments);
        AttachAnother(c.target);
        Tick("CcJjs");
        ::DeleteFileA((Targets() + "\\out.txt").c_str());
        size_t boxes = ui.MessageBoxes().size();
        Start(c.arguments);
        RunToEnd();
        std::string traced = Result("out.txt");
        EXPECT_FALSE(traced.empty());
        EXPECT_EQ(Boxes(boxes), c.boxes);
        DWORD tracedCode = g_dwExitCode;
        EXPECT_EQ(tracedCode, Untraced(c.target, c.arguments));
        EXPECT_EQ(Result("out.txt"), traced);
    }
}

TEST_F(DebugRunTest, AnExceptionIsShownWithTheRegistersAndThePauseHoldsUntilContinue)
{
    Attach("faults.exe");
    Tick("cs");
    Start("out.txt handled");
    ASSERT_TRUE(WaitFor([&] { return !ui.MessageBoxes().empty(); }));
    ScriptedUi::MessageBoxCall box = ui.MessageBoxes().at(0);
    EXPECT_EQ(box.caption, "Korvane - Exception Breakpoint!");
    EXPECT_EQ(box.type, UINT(MB_ICONEXCLAMATION | MB_SYSTEMMODAL));
    EXPECT_EQ(box.owner, dlg->m_hWnd);
    ExpectState(kPaused, "paused by the report");
    EXPECT_TRUE(Quiet(500)) << "the debuggee waits";
    Click(IDC_MAIN_BUTTON); // "Continue ..."
    RunToEnd();
    std::string results = Result("out.txt");
    EXPECT_NE(results.find("handled=1"), std::string::npos) << "its handler ran: " << results;
    // The faulting thread's registers: EIP is where the program saw its fault.
    char eip[32];
    std::snprintf(eip, sizeof eip, "\nEIP  = %08lX\n", static_cast<unsigned long>(Hex(results, "fault")));
    EXPECT_NE(box.text.find(eip), std::string::npos) << box.text;
    EXPECT_EQ(box.text.find("STATUS_ACCESS_VIOLATION\nEAX = "), 0u);

    // Unhandled: shown at its first and at its last chance; then the system
    // ends the program with the exception's code, which is no abnormal end.
    AttachAnother("faults.exe");
    size_t boxes = ui.MessageBoxes().size();
    Start("out.txt unhandled");
    RunToEnd();
    EXPECT_EQ(Boxes(boxes), "[Korvane - Exception Breakpoint!: STATUS_ACCESS_VIOLATION]"
                            "[Korvane - Exception Breakpoint!: STATUS_ACCESS_VIOLATION]");
    EXPECT_EQ(g_dwExitCode, 0xC0000005);

    // A target that cannot be started: the launch's box, and the window back.
    // (A name of its own: the system looks for a bare name in the test
    // program's folder first, where faults.exe is.)
    const std::string vanishing = Targets() + "\\vanishing.exe";
    ASSERT_TRUE(::CopyFileA((Targets() + "\\faults.exe").c_str(), vanishing.c_str(), FALSE));
    AttachAnother("vanishing.exe");
    ASSERT_TRUE(::DeleteFileA(vanishing.c_str()));
    boxes = ui.MessageBoxes().size();
    Start("two words");
    RunToEnd();
    EXPECT_EQ(Boxes(boxes), "[Could not create the debug process: [ \"vanishing.exe\" two words ]]");
    EXPECT_EQ(ThreadMap.GetCount(), 0);
    ExpectState(kEnded, "after a launch that failed");
}

// The run's states with a live target that runs until it is stopped.
TEST_F(DebugRunTest, StopContinueSkipAndCancelALiveRun)
{
    g_dwDebugWaitMs = 300;
    Attach("waiter.exe");
    Tick("cs");
    Start("spin");
    ExpectState(kRunning, "started");
    ASSERT_TRUE(WaitFor([&] { return dlg->m_nHitSeq > 20; }));
    Click(IDC_MAIN_BUTTON);
    ExpectState(kPaused, "stopped");
    EXPECT_TRUE(Quiet(500));
    Click(IDC_MAIN_BUTTON);
    ExpectState(kRunning, "continued");
    ASSERT_TRUE(WaitFor([&] { return dlg->m_nHitSeq > 40; }));

    // "Skip Point": the point shown last is not counted again; its partner,
    // alone now, once more at most.
    Click(IDC_MAIN_BUTTON);
    ASSERT_TRUE(WaitFor([&] { return Quiet(100); }));
    ListingRecord* skipped = dlg->m_pHitRecord;
    Click(IDC_SKIP_POINT);
    ExpectState(kPaused, "a skip changes no state");
    int hits = skipped->hits, seq = dlg->m_nHitSeq;
    Click(IDC_MAIN_BUTTON);
    Pump(700);
    EXPECT_EQ(skipped->hits, hits);
    EXPECT_LE(dlg->m_nHitSeq, seq + 1);

    // A kind ticked while paused is planted when the run goes on, and one
    // unticked leaves the program's own bytes behind.
    Click(IDC_MAIN_BUTTON);
    Tick("cjs");
    Click(IDC_MAIN_BUTTON);
    ASSERT_TRUE(WaitFor([&] { return dlg->m_nHitSeq > seq + 20; }));
    Click(IDC_MAIN_BUTTON);
    ASSERT_TRUE(WaitFor([&] { return Quiet(100); }));
    Tick("cs");
    Click(IDC_MAIN_BUTTON);
    EXPECT_TRUE(Quiet(500)) << "nothing is planted in the loop any more";
    HANDLE debuggee = OpenDebuggee(PROCESS_VM_READ | SYNCHRONIZE);
    ASSERT_NE(debuggee, nullptr);
    POSITION pos = dlg->m_mapJmp.GetStartPosition();
    int jumps = 0;
    while (pos != NULL) {
        void* key;
        void* value;
        dlg->m_mapJmp.GetNextAssoc(pos, key, value);
        ListingRecord* jump = static_cast<ListingRecord*>(value);
        BYTE there = 0;
        SIZE_T read = 0;
        ::ReadProcessMemory(debuggee, key, &there, 1, &read);
        EXPECT_EQ(there, jump->savedByte) << jump->text;
        EXPECT_NE(there, 0xCC) << jump->text;
        jumps += jump->hits > 0;
    }
    EXPECT_GT(jumps, 0);

    // "Cancel Process": the debuggee ends, the window goes to Ended.
    Click(IDC_CANCEL_BUTTON);
    RunToEnd(20000);
    ExpectState(kEnded, "cancelled");
    EXPECT_EQ(::WaitForSingleObject(debuggee, 5000), WAIT_OBJECT_0);
    ::CloseHandle(debuggee);
}

// A debuggee without events: a pause takes one wait at most; a cancel posts
// WM_QUIT, which a message loop obeys, and ends one that does not listen.
TEST_F(DebugRunTest, ASilentDebuggeeIsPausedAndEnded)
{
    g_dwDebugWaitMs = 300;
    Attach("waiter.exe");
    Tick("cs");
    for (const char* mode : {"sleep", "loop"}) {
        SCOPED_TRACE(mode);
        if (Text(IDC_MAIN_BUTTON) == "Run File")
            Click(IDC_MAIN_BUTTON);
        Start(mode);
        HANDLE debuggee = OpenDebuggee(SYNCHRONIZE);
        Pump(500);
        Click(IDC_MAIN_BUTTON);
        EXPECT_TRUE(WaitFor([&] { return DebugThreadSuspended(); }, 3000));
        Click(IDC_MAIN_BUTTON);
        EXPECT_FALSE(DebugThreadSuspended()) << "waiting for events again";
        Click(IDC_CANCEL_BUTTON);
        RunToEnd(10000);
        EXPECT_EQ(::WaitForSingleObject(debuggee, 5000), WAIT_OBJECT_0);
        ::CloseHandle(debuggee);
        // The message loop quits by itself (its own exit code); the sleeper is ended.
        EXPECT_EQ(g_dwExitCode, std::string(mode) == "loop" ? 5u : 0u);
        EXPECT_EQ(Boxes(0), "");
    }
}

// Pacing 50 holds each report back half a second; a target that exits at
// once ends the run at once.
TEST_F(DebugRunTest, PacingDelaysEachReport)
{
    g_dwDebugWaitMs = 300;
    Attach("waiter.exe");
    Tick("cs");
    ::SendMessageA(Item(IDC_SPEED), TBM_SETPOS, TRUE, 50);
    Start("spin");
    ASSERT_TRUE(WaitFor([&] { return dlg->m_nHitSeq >= 1; }));
    DWORD first = ::GetTickCount();
    ASSERT_TRUE(WaitFor([&] { return dlg->m_nHitSeq >= 4; }));
    EXPECT_GE(::GetTickCount() - first, 3 * 500u);
    Click(IDC_CANCEL_BUTTON);
    RunToEnd(10000);

    Click(IDC_MAIN_BUTTON);
    ::SendMessageA(Item(IDC_SPEED), TBM_SETPOS, TRUE, 0);
    Start("none");
    RunToEnd(10000);
    EXPECT_EQ(g_dwExitCode, 4u);
}

// Closing the window or pressing Esc during a live run stops the run first:
// the debug thread ends and the debuggee with it.
TEST_F(DebugRunTest, ClosingOrEscDuringALiveRunEndsItFirst)
{
    for (bool esc : {false, true}) {
        SCOPED_TRACE(esc ? "Esc" : "close");
        if (esc) {
            // A closed tracer leaves its listing to the end of its process.
            dlg->CloseListing();
            ::SetCurrentDirectoryA((Work() + "\\start").c_str());
            dlg.reset(new CTracerDlg);
            ASSERT_TRUE(dlg->Create(IDD_KORVANE_DIALOG));
        }
        Attach("waiter.exe");
        Tick("cs");
        Start("spin");
        ASSERT_TRUE(WaitFor([&] { return dlg->m_nHitSeq > 10; }));
        HANDLE debuggee = OpenDebuggee(SYNCHRONIZE);
        HANDLE thread = dlg->m_pDebugThread->m_hThread;
        HANDLE watch = NULL;
        ::DuplicateHandle(::GetCurrentProcess(), thread, ::GetCurrentProcess(), &watch, SYNCHRONIZE, FALSE, 0);
        if (esc)
            ::SendMessageA(dlg->m_hWnd, WM_COMMAND, IDCANCEL, 0);
        else
            ::SendMessageA(dlg->m_hWnd, WM_CLOSE, 0, 0);
        PumpMessages();
        EXPECT_FALSE(::IsWindowVisible(dlg->m_hWnd)) << "the dialog ends";
        EXPECT_EQ(::WaitForSingleObject(watch, 0), WAIT_OBJECT_0) << "the debug thread ended before";
        EXPECT_EQ(::WaitForSingleObject(debuggee, 5000), WAIT_OBJECT_0);
        ::CloseHandle(watch);
        ::CloseHandle(debuggee);
        dlg->DestroyWindow();
    }
}

// The target's children are never planted and run on as if untraced, also
// after the run: the same image at the same addresses, so a breakpoint meant
// for the target but written into the child would break it.
TEST_F(DebugRunTest, ChildrenRunOnUntracedAndOutliveTheRun)
{
    for (const char* file : {"parent.txt", "child.txt"})
        ::DeleteFileA((Targets() + "\\" + file).c_str());
    Untraced("waiter.exe", "parent");
    ASSERT_TRUE(WaitFor([&] { return !Result("child.txt").empty(); }, 20000));
    const std::string parent = Result("parent.txt"), child = Result("child.txt");
    for (const char* file : {"parent.txt", "child.txt"})
        ::DeleteFileA((Targets() + "\\" + file).c_str());

    Attach("waiter.exe");
    Tick("cs");
    Start("parent");
    RunToEnd();
    EXPECT_EQ(Result("parent.txt"), parent);
    EXPECT_EQ(g_dwExitCode, 0u);
    EXPECT_TRUE(Result("child.txt").empty()) << "the child is still at work";
    EXPECT_TRUE(WaitFor([&] { return !Result("child.txt").empty(); }, 20000));
    EXPECT_EQ(Result("child.txt"), child);
    // Only the parent's own calls were counted.
    POSITION pos = dlg->m_mapCall.GetStartPosition();
    int most = 0;
    while (pos != NULL) {
        void* key;
        void* value;
        dlg->m_mapCall.GetNextAssoc(pos, key, value);
        most = std::max(most, static_cast<int>(static_cast<ListingRecord*>(value)->hits));
    }
    EXPECT_EQ(most, 300);
}

} // namespace
