// The debug engine's decisions against a scripted fake debuggee: which bytes are planted, taken, planted
// again or left alone, how the program's own exceptions and other processes are passed on, how a stop goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <future>
#include <random>

#include "debugger/DebugEngine.h"
#include "tests/debugger/FakeDebuggee.h"

namespace {

const DWORD kCode = 0x401000, kStart = kCode, kNtdll = 0x7BC56490, kMain = FakeDebuggee::kMain;
const DWORD kChild = FakeDebuggee::kChild;
const DWORD A = kCode + 0x10, B = kCode + 0x20, C = kCode + 0x30, Plain = kCode + 0x50;
using Addresses = std::vector<DWORD>;

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { Fresh("c"); }

    // A new debuggee as "Start Process" leaves the state, with the kinds wanted (of "CcJjs"); the points
    // stay, their counts cleared. Three pages of code without a 0xCC lie `shift` bytes from the listing's
    // base (a base the system leaves untold at 0). Created, a DLL loaded, the system's breakpoint in ntdll
    // taken: its own code is next.
    void Fresh(const std::string& kinds, DWORD shift = 0)
    {
        fake = FakeDebuggee();
        fake.state = &state;
        std::vector<BYTE> code(3 * 4096);
        for (size_t i = 0; i < code.size(); ++i)
            code[i] = BYTE(i * 37 + 11) == 0xCC ? 0x90 : BYTE(i * 37 + 11);
        fake.Map(kCode + shift, code);
        fake.Map(kNtdll, {0xCC, 0xC3});
        std::atomic<int>* wanted[] = {&state.m_bCallPtr, &state.m_bCall, &state.m_bJmpPtr, &state.m_bJmp,
                                      &state.m_bStrData};
        for (int kind = 0; kind < 5; ++kind)
            *wanted[kind] = kinds.find("CcJjs"[kind]) != std::string::npos;
        std::fill(std::begin(maps.m_armedKinds), std::end(maps.m_armedKinds), 0);
        state.m_bStopRequest = state.m_bSkipPoint = state.m_nHitSeq = state.m_bRearm = 0;
        state.m_bPauseOnStop = 1;
        maps.ResetCounts(FALSE);
        fake.Create(kStart + shift, shift != 0 ? 0x400000 + shift : 0);
        fake.LoadDll();
        fake.Exec(kMain, {kNtdll});
    }
    // A point record of the listing (outside any file here).
    ListingRecord* Point(BYTE kind, DWORD address)
    {
        ListingRecord& record = storage.emplace_back();
        record.kind = kind;
        record.addr = address;
        maps.EnterPoint(&record);
        return &record;
    }
    // How the run ended: the engine's result, then each quit posted, process ended or let go.
    std::string Run()
    {
        const int exited = CDebugEngine(state, maps, fake).Run();
        EXPECT_EQ(fake.faults, std::vector<std::string>()) << "the debuggee ran wrongly";
        EXPECT_EQ(fake.lastCommand, 1017u) << "the run's end is posted last";
        return "exit " + std::to_string(exited) + "; " + fake.told;
    }
    // The main thread runs `steps`, then the program exits.
    std::string RunMain(std::initializer_list<DWORD> steps)
    {
        fake.Exec(kMain, steps);
        fake.ExitProcess();
        return Run();
    }
    bool Planted(DWORD address) { return fake.memory[address] == 0xCC; }
    int Passed() const { return int(std::count(fake.statuses.begin(), fake.statuses.end(), DBG_EXCEPTION_NOT_HANDLED)); }

    CTraceState state;
    CPointMaps maps;
    FakeDebuggee fake;
    std::deque<ListingRecord> storage;
};

// A point counts once between breakpoints of other points; "Skip Point" leaves the point shown last
// unplanted for the rest of the run. The start, a jump not ticked, is a hit of the entry breakpoint alone.
TEST_F(EngineTest, APointCountsOnceBetweenBreakpointsOfOtherPoints)
{
    ListingRecord *a = Point('c', A), *c = Point('c', C);
    Point('c', B);
    ListingRecord* b = Point('s', B); // the record counted at b: its kind is not ticked
    Point('j', Plain);
    Point('j', kStart);
    fake.onReport = [&] {
        if (fake.hits.size() == 8)
            state.m_bSkipPoint = 1; // pressed while c's hit is shown
    };
    EXPECT_EQ(RunMain({kStart, A, B, A, B, A, B, C, Plain, C, Plain, C, A, C, kStart}), "exit 1; "); // c alone
    EXPECT_EQ(fake.hits, (Addresses{kStart, A, B, A, B, A, B, C, A}));
    // a's and c's hit numbers, b's hits; the record counted shows them with the byte it saved
    EXPECT_EQ(Addresses({DWORD(a->num), DWORD(c->num), DWORD(b->hits), b->savedByte}),
              (Addresses{9, 8, 3, fake.image[B]}));
    EXPECT_FALSE(state.m_bSkipPoint || Planted(C) || Planted(Plain) || Planted(kStart));
    EXPECT_EQ(Passed(), 0) << "the system's breakpoint and the entry breakpoint go on";
    EXPECT_EQ(*std::min_element(fake.timeouts.begin(), fake.timeouts.end()), g_dwDebugWaitMs) << "one thread";
}

// A kind unticked keeps the breakpoints of addresses a ticked kind shares and takes the others out a page
// at a time; ticked again while a thread stands on one of its points, it plants that point once the thread
// has run past it. "Skip Point" leaves out the point shown last alone, not another thread's waiting too.
TEST_F(EngineTest, KindsTickedAndUntickedWhileThreadsStandOnPoints)
{
    const DWORD x = Plain + 0x20; // a jump and a call
    Point('c', A);
    for (DWORD jump : {B, Plain, Plain + 0x10, x, Plain + 0x30})
        Point('j', jump);
    Point('c', x);
    Fresh("cj");
    fake.CreateThread(2);
    fake.onReport = [&] {
        state.m_bJmp = fake.hits.size() != 1;
        state.m_bRearm = 1;
        if (fake.hits.size() == 3)
            state.m_bSkipPoint = 1; // a, while the main thread's b waits
    };
    fake.Exec(kMain, {B});
    fake.Exec(2, {x, A});
    RunMain({Plain, Plain + 0x10, B});
    EXPECT_EQ(fake.hits, (Addresses{B, x, A, Plain, Plain + 0x10, B}));
}

// A point taken by a thread is planted again only once that thread has run past it, so no other thread's
// breakpoint makes it count one run twice; while threads run it is looked for, not left out for good.
TEST_F(EngineTest, APointCountsNoMoreOftenThanItRanAcrossThreads)
{
    const ListingRecord *a = Point('c', A), *b = Point('j', B), *c = Point('c', C);
    // Four threads, each in a loop over the three shared points, interleaved at random (the same each time).
    Fresh("cj");
    const DWORD loop[] = {A, Plain, B, C, Plain + 4};
    std::mt19937 random(7);
    int at[6] = {};
    for (DWORD tid = 2; tid <= 5; ++tid)
        fake.CreateThread(tid);
    for (int step = 0; step < 600; ++step) {
        const DWORD tid = 2 + random() % 4;
        fake.Exec(tid, {loop[at[tid]++ % 5]});
    }
    for (DWORD tid = 2; tid <= 5; ++tid)
        fake.ExitThread(tid);
    fake.ExitProcess();
    Run();
    // Never above, nor left out for good while the threads wait on each other's points.
    for (const ListingRecord* point : {a, b, c}) {
        const int counted = point->hits, ran = fake.executed[DWORD(point->addr)];
        EXPECT_TRUE(counted <= ran && counted * 10 >= ran) << counted << " of " << ran << " at " << DWORD(point->addr);
    }

    // Thread 2 takes a and stands elsewhere, silent, when the main thread breaks at b: a goes back in there.
    // Thread 3 takes c and exits: c goes back in. Thread 4 takes a, then the main thread breaks before 4 has
    // run a: it stays out, and 4 runs it once. The main thread loops around c while thread 2's breakpoint
    // puts c back in: counted once, as alone. Last, thread 4's breakpoint at c in flight counts, and c stays
    // out until the main thread, rewound onto it, has run it.
    Fresh("cj");
    for (DWORD tid = 2; tid <= 4; ++tid)
        fake.CreateThread(tid);
    fake.Exec(2, {A, Plain});
    fake.Exec(kMain, {B, A});
    fake.Exec(3, {C});
    fake.ExitThread(3);
    fake.Exec(kMain, {C, B});
    fake.Exec(4, {A});
    fake.Exec(kMain, {C});
    fake.Exec(4, {Plain});
    fake.Exec(kMain, {Plain});
    fake.Exec(2, {B});
    fake.Exec(kMain, {C});
    fake.Raise(EXCEPTION_BREAKPOINT, C, 4);
    fake.Exec(4, {A, Plain});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(fake.hits, (Addresses{A, B, A, C, C, B, A, C, B, C, A}));
}

TEST_F(EngineTest, TheProgramsOwnExceptionsGoToItsHandlers)
{
    // Its own INT 3, at an address the listing has as a point of a kind not ticked.
    const DWORD ownInt3 = kCode + 0x500;
    fake.image[ownInt3] = fake.memory[ownInt3] = 0xCC;
    Point('J', ownInt3);
    ListingRecord* listed = Point('c', A);
    fake.Exec(kMain, {A});
    fake.Raise(EXCEPTION_SINGLE_STEP, Plain); // the trap flag, its own: passed on, not shown
    fake.Exec(kMain, {ownInt3});             // its own INT 3: shown and passed on
    fake.Raise(EXCEPTION_ACCESS_VIOLATION, kCode + 0x60);
    fake.Raise(0xE06D7363, kCode + 0x70); // a code without a name: passed on, not shown
    RunMain({A});
    EXPECT_EQ(fake.exceptions, (Addresses{EXCEPTION_BREAKPOINT, EXCEPTION_ACCESS_VIOLATION}));
    EXPECT_EQ(listed->hits, 2) << "planted again at the program's own breakpoint";
    EXPECT_EQ(Passed(), 4);
    EXPECT_FALSE(Planted(Plain));
    EXPECT_EQ(fake.timeouts[7], 100u) << "a short wait after an exception was passed on";
}

// A process the target starts is let go at once (the real runs show it runs on untraced); one that cannot
// be let go has its events passed on untouched, nothing planted, and is let go at the run's end rather
// than ended with the debug thread.
TEST_F(EngineTest, ChildProcessesAreLetGoOrPassedOnAndNeverPlanted)
{
    ListingRecord* a = Point('c', A);
    Point('c', B);
    fake.CreateChild(); // the same image at the same addresses: a write meant for it would land in the target
    fake.Exec(kMain, {A, B});
    fake.Raise(EXCEPTION_BREAKPOINT, kNtdll, 50, kChild); // its initial breakpoint
    fake.Raise(EXCEPTION_ACCESS_VIOLATION, 0x401234, 50, kChild);
    fake.Raise(EXCEPTION_BREAKPOINT, A, 50, kChild);
    fake.ExitProcess(kChild);
    fake.CreateChild(kChild + 1);
    fake.LoadDll(kChild + 1);
    EXPECT_EQ(RunMain({Plain, A}), "exit 1; let go 200; let go 201; let go 201; ");
    EXPECT_EQ(a->hits, 2) << "only the target's exit ends the run";
    EXPECT_EQ(fake.exceptions, Addresses());
    // Its initial breakpoint goes on, the rest to its own handlers.
    EXPECT_EQ(Addresses(fake.statuses.begin() + 6, fake.statuses.begin() + 9),
              (Addresses{DBG_CONTINUE, DBG_EXCEPTION_NOT_HANDLED, DBG_EXCEPTION_NOT_HANDLED}));
    // Every file handle of a creation or DLL event is closed once.
    EXPECT_EQ(std::set<HANDLE>(fake.closed.begin(), fake.closed.end()).size(), 5u);
    EXPECT_EQ(fake.closed.size(), 5u);
}

// "Cancel Process", or the window closed during a run: the debuggee is asked to quit, then ended.
TEST_F(EngineTest, ACancelEndsTheDebuggeeInStages)
{
    Point('c', A);
    Point('c', B);
    Point('j', Plain);
    // At a worker's hit: the quit goes to the main thread all the same, every breakpoint out, nothing more
    // reported, a box ticked meanwhile plants nothing; the debuggee, silent from then on, is ended, and one
    // that cannot be ended leaves the loop without its exit.
    fake.onReport = [&] {
        state.RequestEnd();
        state.m_bJmp = state.m_bRearm = 1;
    };
    fake.CreateThread(2);
    fake.Exec(2, {A, B, A, B, A});
    fake.terminable = FALSE;
    EXPECT_EQ(Run(), "exit 0; quit 1; end 100; ");
    EXPECT_EQ(fake.memory, fake.image) << "nothing of the engine's left in the program";
    EXPECT_EQ(fake.hits.size(), 1u);

    // A thread whose registers cannot be read after a breakpoint cannot be rewound: no register written,
    // nothing counted, the run ended at once even with a pause requested, saying which thread it was; the
    // threads' exits after the end do not end the run before the process's.
    Fresh("c");
    fake.CreateThread(2);
    fake.unreadableThread = 2;
    fake.onWait = [&] { state.m_bStopRequest = fake.hits.size() == 1; };
    fake.Exec(kMain, {A});
    fake.Exec(2, {B});
    EXPECT_EQ(RunMain({A, B, A}), "exit 1; end 100; ");
    EXPECT_EQ(fake.hits, Addresses{A});
    // no pause; the thread, and where it stood
    EXPECT_EQ(Addresses({DWORD(fake.pauses), state.m_dwUnrewoundThread, state.m_dwUnrewoundAt}), (Addresses{0, 2, B}));

    // A program that obeys WM_QUIT raises events on its way out: it is let go to its own exit, not ended at
    // the first of them (nor for the thread the run before could not rewind).
    Fresh("c");
    fake.onReport = [&] { state.RequestEnd(); };
    fake.Exec(kMain, {A, B});
    fake.CreateThread(2);
    fake.ExitThread(2);
    fake.ExitProcess();
    EXPECT_EQ(Run(), "exit 1; quit 1; ");

    // A stop while an exception is passed on: ended at once, the faulting thread's registers kept.
    Fresh("c");
    fake.onReport = [&] { state.RequestEnd(); };
    fake.Raise(EXCEPTION_ACCESS_VIOLATION, kCode + 0x66);
    fake.Exec(kMain, {A});
    EXPECT_EQ(Run(), "exit 1; end 100; ");
    EXPECT_EQ(state.m_pExceptionContext.load(), &g_context);
    EXPECT_EQ(g_context.Eip, kCode + 0x66);
}

// An image the system put elsewhere than the listing's base: the same counts on the same records, bytes
// read and written only where it lies, an exception's registers the process's and its address the
// listing's. A listing none of whose addresses lies in the process (here one that names no base) plants
// nothing, and the run says so.
TEST_F(EngineTest, ARelocatedImageCountsAsAtItsOwnBase)
{
    for (DWORD at : {A, B, C, kStart})
        Point(at == B ? 'j' : at == C ? 's' : 'c', at);
    for (DWORD shift : {0u, 0x1350000u, 0u - 0x3F0000u, 0x9D00000u}) {
        SCOPED_TRACE(shift);
        const bool outside = shift == 0x9D00000u;
        maps.m_dwListingBase = outside ? 0 : 0x400000;
        Fresh("cjs", shift);
        fake.Exec(kMain, {kStart + shift, A + shift, B + shift, A + shift, C + shift, kStart + shift});
        fake.CreateThread(2);
        fake.Exec(2, {C + shift}); // it stands on c while the main thread breaks at b
        fake.Raise(EXCEPTION_ACCESS_VIOLATION, B + shift + 2);
        fake.Exec(kMain, {B + shift, A + shift});
        fake.Exec(2, {Plain + shift});
        fake.ExitProcess();
        EXPECT_EQ(Run(), "exit 1; ");
        EXPECT_EQ(state.m_bListingOutside, int(outside));
        EXPECT_EQ(fake.hits, outside ? Addresses() : (Addresses{kStart, A, B, A, C, kStart, C, B, A}));
        if (outside) {
            EXPECT_EQ(fake.memory, fake.image);
            continue;
        }
        EXPECT_EQ(fake.exceptions, Addresses{EXCEPTION_ACCESS_VIOLATION});
        // The shift; the registers shown, the process's; the fault's address, the listing's; the start's own byte.
        EXPECT_EQ(Addresses({state.m_dwImageShift, fake.shownEip, state.m_dwFaultAddress, g_savedByte}),
                  (Addresses{shift, B + shift + 2, B + 2, fake.image[kStart + shift]}));
    }
}

// The window on a thread of its own: thousands of pauses, each continued at once or once the debug thread
// waits, then a cancel at a random moment. Every pause ends, and the run; a lost wake-up fails the test
// after a bounded wait instead of hanging it.
TEST_F(EngineTest, PauseContinueAndCancelFromAnotherThreadNeverHang)
{
    using namespace std::chrono;
    Point('c', A);
    Point('c', B);
    fake.window = true;
    for (int loop = 0; loop < 3000; ++loop) // more hits than rounds
        fake.Exec(kMain, {A, Plain, B});
    std::future<std::string> run = std::async(std::launch::async, [&] { return Run(); });
    std::mt19937 random(std::random_device{}());
    const int cancelAt = 2000 + int(random() % 2000);
    std::string hung; // what never came within its bound, and in which round
    int round = 0;
    // Until `done`, taking every report as the window does.
    auto expect = [&](const std::function<bool()>& done, const std::string& what) {
        for (auto end = steady_clock::now() + seconds(10); hung.empty() && !done(); std::this_thread::yield()) {
            if (state.m_bReportPending)
                state.ReleaseReport();
            if (steady_clock::now() > end)
                hung = what + ", round " + std::to_string(round);
        }
    };
    for (; round <= cancelAt && hung.empty(); ++round) {
        expect([&] { return state.m_nHitSeq > round; }, "the run never went on");
        state.RequestPause();
        if (random() % 2)
            expect([&] { return state.m_bPaused != 0; }, "the run never paused");
        for (unsigned spin = random() % 2 ? 0 : random() % 64; spin > 0; --spin)
            std::this_thread::yield();
        (round == cancelAt) ? state.RequestEnd() : state.RequestContinue();
        expect([&] { return state.m_bPaused == 0; }, "a pause never ended");
    }
    expect([&] { return run.wait_for(seconds(0)) == std::future_status::ready; }, "the cancel never ended the run");
    EXPECT_EQ(hung, "");
    // A hung engine is woken until it ends, so that the test fails rather than hangs.
    for (auto end = steady_clock::now() + seconds(10); run.wait_for(milliseconds(1)) != std::future_status::ready;) {
        state.RequestEnd();
        state.ReleaseReport();
        if (steady_clock::now() > end)
            std::abort();
    }
    EXPECT_EQ(run.get(), "exit 1; quit 1; end 100; ");
}

} // namespace
