// The debug engine's decisions, driven by a scripted fake debuggee: which
// bytes are planted, taken, planted again or left alone, how the program's
// own exceptions and other processes are passed on, and how a stop proceeds.
#include <gtest/gtest.h>

#include <array>
#include <deque>

#include "debugger/DebugEngine.h"
#include "tests/debugger/FakeDebuggee.h"

namespace {

const DWORD kCode = 0x401000, kStart = 0x401000, kNtdll = 0x7BC56490;
const DWORD kMain = FakeDebuggee::kMain;
const int kCallPtr = 0, kCall = 1, kJmpPtr = 2, kJmp = 3, kStrData = 4;

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_bBytewiseMemory = FALSE;
        fake.state = &state;
        // Three pages of code without a single 0xCC; the system's breakpoint in ntdll.
        std::vector<BYTE> code(3 * 4096);
        for (size_t i = 0; i < code.size(); ++i)
            code[i] = static_cast<BYTE>(i * 37 + 11) == 0xCC ? 0x90 : static_cast<BYTE>(i * 37 + 11);
        fake.Map(kCode, code);
        fake.Map(kNtdll, {0xCC, 0xC3});
        fake.onReport = [this] {
            if (state.m_dwExceptionCode != 0) {
                exceptions.push_back(state.m_dwExceptionCode);
                return;
            }
            ListingRecord* record = state.m_pHitRecord;
            record->num = state.m_nHitSeq;
            record->hits += 1;
            DWORD address = record->addr;
            hits.push_back(address);
        };
        for (int kind : {kCallPtr, kCall, kJmpPtr, kJmp, kStrData})
            Want(kind, false);
        // As "Start Process" leaves them: a live run, nothing planted yet.
        for (int& armed : maps.m_armedKinds)
            armed = 0;
        state.m_bStopRequest = 0;
        state.m_bPauseOnStop = 1;
        state.m_bSkipPoint = 0;
        state.m_nHitSeq = 0;
    }

    void Want(int kind, bool wanted)
    {
        std::atomic<int>* flags[] = {&state.m_bCallPtr, &state.m_bCall, &state.m_bJmpPtr, &state.m_bJmp, &state.m_bStrData};
        *flags[kind] = wanted ? 1 : 0;
    }
    // A point record of the listing (the records live outside any file here).
    ListingRecord* Point(BYTE kind, DWORD address)
    {
        storage.emplace_back();
        ListingRecord* record = reinterpret_cast<ListingRecord*>(storage.back().data());
        record->len = 40;
        record->kind = kind;
        record->addr = address;
        record->row = -1;
        maps.EnterPoint(record);
        return record;
    }
    // Creation, a DLL, the system's initial breakpoint: the target's own code is next.
    void Boot(DWORD start = kStart)
    {
        fake.Create(start);
        fake.LoadDll();
        fake.Exec(kMain, {kNtdll});
    }
    int Run()
    {
        CDebugEngine engine(state, maps, fake);
        int exited = engine.Run();
        EXPECT_EQ(fake.faults, std::vector<std::string>()) << "the debuggee ran wrongly";
        EXPECT_EQ(fake.commands.back(), 1017u) << "the run's end is posted last";
        EXPECT_EQ(ThreadMap.GetCount(), 0);
        return exited;
    }
    BYTE Own(DWORD address) { return fake.image[address]; }
    bool Planted(DWORD address) { return fake.memory[address] == 0xCC; }

    CTraceState state;
    CPointMaps maps;
    FakeDebuggee fake;
    std::deque<std::array<char, 64>> storage;
    std::vector<DWORD> hits;
    std::vector<DWORD> exceptions;
};

TEST_F(EngineTest, APointCountsOnceBetweenBreakpointsOfOtherPoints)
{
    ListingRecord* a = Point('c', kCode + 0x10);
    ListingRecord* b = Point('c', kCode + 0x20);
    ListingRecord* c = Point('c', kCode + 0x30);
    Point('j', kCode + 0x40); // not ticked: never planted
    Want(kCall, true);
    Boot();
    fake.Exec(kMain, {kStart, kCode + 0x10, kCode + 0x20, kCode + 0x10, kCode + 0x20, kCode + 0x10, kCode + 0x20});
    fake.Exec(kMain, {kCode + 0x30, kCode + 0x40, kCode + 0x30, kCode + 0x40, kCode + 0x30}); // c alone in its loop
    fake.Exec(kMain, {kCode + 0x10});
    fake.ExitProcess();
    EXPECT_EQ(Run(), 1);

    EXPECT_EQ(a->hits, 4);
    EXPECT_EQ(b->hits, 3);
    EXPECT_EQ(c->hits, 1);
    EXPECT_EQ(a->num, 8) << "the run-wide number of its latest hit";
    EXPECT_EQ(c->num, 7);
    EXPECT_FALSE(Planted(kCode + 0x40));
    EXPECT_EQ(a->savedByte, Own(kCode + 0x10));
    EXPECT_EQ(state.m_nHitSeq, 8);
    // The system's breakpoint and the entry breakpoint go on; neither is reported.
    EXPECT_EQ(std::count(fake.statuses.begin(), fake.statuses.end(), DBG_EXCEPTION_NOT_HANDLED), 0);
    EXPECT_EQ(hits.size(), 8u);
}

TEST_F(EngineTest, PointsBeforeTheEntryAndAtItAreHitsCountedOnce)
{
    // A TLS callback runs listed code before the system's breakpoint; the start
    // address is a ticked jump, planted before the entry breakpoint is.
    ListingRecord* tls = Point('c', kCode + 0x100);
    ListingRecord* entry = Point('j', kStart);
    Want(kCall, true);
    Want(kJmp, true);
    fake.Create(kStart);
    fake.Exec(kMain, {kCode + 0x100, kCode + 0x104, kNtdll, kStart, kCode + 0x100, kStart});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(tls->hits, 2);
    EXPECT_EQ(entry->hits, 2) << "once at the start, once when run again later";
    EXPECT_EQ(g_savedByte, Own(kStart)) << "the program's byte, not the breakpoint's";
    EXPECT_EQ(g_bPastEntry, 1);
    EXPECT_EQ(hits, (std::vector<DWORD>{kCode + 0x100, kStart, kCode + 0x100, kStart}));

    // With no kind ticked only the entry breakpoint is planted, and a listed
    // start address is still counted once.
    for (int kind : {kCall, kJmp})
        Want(kind, false);
    entry->hits = tls->hits = 0;
    hits.clear();
    fake = FakeDebuggee();
    SetUp();
    Boot();
    fake.Exec(kMain, {kStart, kCode + 0x100, kStart});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(hits, std::vector<DWORD>{kStart});
    EXPECT_EQ(tls->hits, 0);
}

TEST_F(EngineTest, AnAddressOfTwoKindsKeepsItsBreakpointUntilBothAreGone)
{
    // A string-data point takes the address of the call before it; m_mapAll
    // keeps the later record, which is the one counted.
    const DWORD x = kCode + 0x200, other = kCode + 0x10;
    ListingRecord* call = Point('c', x);
    ListingRecord* text = Point('s', x);
    Point('c', other);
    Want(kCall, true);
    Want(kStrData, true);
    int report = 0;
    fake.onReport = [&] {
        state.m_pHitRecord.load()->hits += 1;
        // "Str Data" goes while x is planted, "Call" while x waits to be planted again.
        Want(++report == 1 ? kStrData : kCall, false);
        state.m_bRearm = 1;
    };
    fake.onWait = [&] {
        if (report == 1) {
            EXPECT_TRUE(Planted(x)) << "the call kind keeps it";
        }
    };
    Boot();
    fake.Exec(kMain, {other, x, x, other});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(text->hits, 1);
    EXPECT_EQ(call->hits, 0);
    EXPECT_EQ(call->savedByte, Own(x)) << "the program's byte, never 0xCC";
    EXPECT_EQ(text->savedByte, Own(x));
    EXPECT_FALSE(Planted(x));
    EXPECT_FALSE(Planted(other));
}

TEST_F(EngineTest, TheProgramsOwnExceptionsGoToItsHandlers)
{
    const DWORD ownInt3 = kCode + 0x500, point = kCode + 0x600;
    fake.image[ownInt3] = fake.memory[ownInt3] = 0xCC;
    ListingRecord* listed = Point('c', point);
    Want(kCall, true);
    Boot();
    // A single step of its own (the trap flag), in code of a listed point: passed
    // on, not reported, and nothing planted there.
    fake.Exec(kMain, {point});
    fake.Raise(EXCEPTION_SINGLE_STEP, kCode + 0x50);
    fake.Exec(kMain, {ownInt3});                  // its own INT 3: reported and passed on
    fake.Raise(EXCEPTION_ACCESS_VIOLATION, kCode + 0x60);
    fake.Raise(0xE06D7363, kCode + 0x70);          // a code without a name: passed on, not shown
    fake.Exec(kMain, {point});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(exceptions, (std::vector<DWORD>{EXCEPTION_BREAKPOINT, EXCEPTION_ACCESS_VIOLATION}));
    EXPECT_EQ(listed->hits, 2) << "planted again after the exceptions";
    EXPECT_FALSE(Planted(kCode + 0x50));
    std::vector<DWORD> passed;
    for (DWORD status : fake.statuses)
        passed.push_back(status == DBG_EXCEPTION_NOT_HANDLED);
    // create, dll, initial, point, step, int3, av, unnamed, point
    EXPECT_EQ(passed, (std::vector<DWORD>{0, 0, 0, 0, 1, 1, 1, 1, 0, 0}));
    EXPECT_EQ(fake.timeouts[7], 100u) << "a short wait after an exception was passed on";
}

TEST_F(EngineTest, FileHandlesOfEventsAreClosedOnce)
{
    Boot();
    fake.LoadDll();
    fake.LoadDll();
    fake.CreateChild();
    fake.ExitProcess();
    Run();
    std::vector<HANDLE> expected;
    for (int n = 1; n <= 5; ++n)
        expected.push_back(FakeDebuggee::FileHandle(n));
    EXPECT_EQ(fake.closed, expected);
}

TEST_F(EngineTest, ChildProcessesAreLetGoOrPassedOnAndNeverPlanted)
{
    ListingRecord* a = Point('c', kCode + 0x10);
    Point('c', kCode + 0x20);
    for (BOOL detachable : {TRUE, FALSE}) {
        SCOPED_TRACE(detachable);
        fake = FakeDebuggee();
        SetUp();
        a->hits = 0;
        Want(kCall, true);
        fake.detachable = detachable;
        Boot();
        fake.CreateChild(); // same image, same addresses: writes for it would land in the target
        fake.Exec(kMain, {kCode + 0x10, kCode + 0x20});
        fake.Raise(EXCEPTION_BREAKPOINT, kNtdll, 50, FakeDebuggee::kChild); // its initial breakpoint
        fake.Raise(EXCEPTION_ACCESS_VIOLATION, 0x401234, 50, FakeDebuggee::kChild);
        fake.Raise(EXCEPTION_BREAKPOINT, 0x401000, 50, FakeDebuggee::kChild);
        fake.ExitProcess(FakeDebuggee::kChild);
        fake.CreateChild(FakeDebuggee::kChild + 1);
        fake.Exec(kMain, {kCode + 0x30, kCode + 0x10});
        fake.ExitProcess();
        EXPECT_EQ(Run(), 1) << "only the target's exit ends the run";
        EXPECT_EQ(a->hits, 2);
        EXPECT_EQ(exceptions.size(), 0u);
        if (detachable) {
            EXPECT_EQ(fake.detached, (std::vector<DWORD>{FakeDebuggee::kChild, FakeDebuggee::kChild + 1}));
        } else {
            // Its initial breakpoint goes on, the rest to its own handlers; the one
            // still running is let go at the end rather than ended with the thread.
            std::vector<DWORD> child(fake.statuses.begin() + 6, fake.statuses.begin() + 9);
            EXPECT_EQ(child, (std::vector<DWORD>{DBG_CONTINUE, DBG_EXCEPTION_NOT_HANDLED, DBG_EXCEPTION_NOT_HANDLED}));
            EXPECT_EQ(fake.detachTries, 3);
        }
        exceptions.clear();
    }
}

TEST_F(EngineTest, BreakpointsInFlightAcrossThreadsAndKindChanges)
{
    const DWORD a = kCode + 0x10, b = kCode + 0x20;
    ListingRecord* ra = Point('c', a);
    ListingRecord* rb = Point('j', b);
    Want(kCall, true);
    Want(kJmp, true);
    Boot();
    fake.CreateThread(2);
    fake.CreateThread(3);
    // Thread 2 takes a; thread 3 had run into a's breakpoint at the same moment:
    // its event comes after a's byte is back. Then thread 2 exits while a waits
    // to be planted again, and thread 3's jump plants it.
    fake.Exec(2, {a});
    fake.Raise(EXCEPTION_BREAKPOINT, a, 3);
    fake.Exec(3, {a});
    fake.ExitThread(2);
    fake.Exec(3, {b, a});
    // The jump kind goes while thread 3 stands on b; its breakpoint arrives after.
    int report = 0;
    fake.onReport = [&] {
        ListingRecord* record = state.m_pHitRecord;
        record->hits += 1;
        if (++report == 5) {
            Want(kJmp, false);
            state.m_bRearm = 1;
        }
    };
    fake.Exec(3, {b});
    fake.Raise(EXCEPTION_BREAKPOINT, b, 3);
    fake.Exec(3, {b, a, b});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(ra->hits, 4) << "thread 3's breakpoint in flight counts too";
    EXPECT_EQ(rb->hits, 3) << "two planted hits, and the one in flight when the kind went";
    EXPECT_FALSE(Planted(b)) << "no 0xCC left of a removed kind";
}

TEST_F(EngineTest, StopPausesOrEndsTheDebuggeeInStages)
{
    ListingRecord* a = Point('c', kCode + 0x10);
    Point('c', kCode + 0x20);
    auto fresh = [&](bool exits) {
        fake = FakeDebuggee();
        SetUp();
        Want(kCall, true);
        Boot();
        fake.Exec(kMain, {kCode + 0x10, kCode + 0x20, kCode + 0x10, kCode + 0x20, kCode + 0x10});
        if (exits)
            fake.ExitProcess();
    };
    auto cancel = [&] {
        state.m_bPauseOnStop = 0;
        state.m_bStopRequest = 1;
    };
    // "Stop Process" at the second hit: the thread suspends itself after the
    // report; "Continue ..." lets it go on.
    fresh(true);
    state.m_bPauseOnStop = 1;
    int report = 0;
    fake.onReport = [&] {
        state.m_pHitRecord.load()->hits += 1;
        if (++report == 2)
            state.m_bStopRequest = 1;
    };
    Run();
    EXPECT_EQ(fake.pauses, 1);
    EXPECT_EQ(a->hits, 3);

    // "Cancel Process" at the second hit: quit posted, every breakpoint out, no
    // further report; the debuggee, silent from then on, is terminated.
    fresh(false);
    report = 0;
    fake.onReport = [&] {
        if (++report == 2)
            cancel();
    };
    fake.onWait = [&] {
        if (g_nStopStage == 1) {
            EXPECT_EQ(fake.memory, fake.image) << "nothing of the engine's left in the program";
        }
    };
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(report, 2);
    EXPECT_EQ(fake.quits, std::vector<DWORD>{kMain});
    EXPECT_EQ(fake.terminated, std::vector<DWORD>{FakeDebuggee::kTarget});
    EXPECT_EQ(fake.memory, fake.image);

    // A program that obeys WM_QUIT raises events on its way out: it is let go
    // to its own exit, not ended at the first of them.
    fresh(false);
    report = 0;
    fake.onReport = [&] {
        if (++report == 2)
            cancel();
    };
    fake.CreateThread(2);
    fake.ExitThread(2);
    fake.Event(UNLOAD_DLL_DEBUG_EVENT, FakeDebuggee::kTarget, kMain, 0, 0, NULL);
    fake.ExitProcess();
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(fake.terminated, std::vector<DWORD>());

    // A stop while an exception is passed on: terminated at once, with the
    // faulting thread's registers for the run's end.
    fake = FakeDebuggee();
    SetUp();
    fake.onReport = cancel;
    Boot();
    fake.Raise(EXCEPTION_ACCESS_VIOLATION, kCode + 0x66);
    fake.Exec(kMain, {kCode + 0x10});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(fake.quits, std::vector<DWORD>());
    EXPECT_EQ(fake.terminated, std::vector<DWORD>{FakeDebuggee::kTarget});
    EXPECT_EQ(state.m_pExceptionContext.load(), &g_context);
    EXPECT_EQ(g_context.Eip, kCode + 0x66);

    // A process that cannot be ended: the loop is left, without its exit.
    fresh(false);
    fake.terminable = FALSE;
    cancel();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(fake.terminated.size(), 1u);
}

TEST_F(EngineTest, ALaunchThatFailsEndsTheRunAtOnce)
{
    fake.launches = 0;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(fake.commands, std::vector<UINT>{1017});
    EXPECT_TRUE(fake.timeouts.empty());
}

TEST_F(EngineTest, SkipPointLeavesTheLastPointUnplantedForTheRun)
{
    ListingRecord* a = Point('c', kCode + 0x10);
    ListingRecord* b = Point('c', kCode + 0x20);
    Want(kCall, true);
    state.m_bPauseOnStop = 1;
    int report = 0;
    fake.onReport = [&] {
        state.m_pHitRecord.load()->hits += 1;
        if (++report == 1)
            state.m_bSkipPoint = 1; // pressed while a's hit is shown
    };
    Boot();
    fake.Exec(kMain, {kCode + 0x10, kCode + 0x20, kCode + 0x10, kCode + 0x20, kCode + 0x10, kCode + 0x20});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(a->hits, 1);
    EXPECT_EQ(b->hits, 1) << "b is alone now: counted once";
    EXPECT_EQ(state.m_bSkipPoint, 0);
    EXPECT_FALSE(Planted(kCode + 0x10));
}

// Planting a page at a time leaves the memory that one byte at a time leaves,
// with fewer calls; a page that cannot be read gets no breakpoint at all.
TEST_F(EngineTest, PageWritesEqualByteWrites)
{
    std::vector<ListingRecord*> points;
    for (DWORD offset = 0x10; offset < 3 * 4096; offset += 0x35)
        points.push_back(Point(offset % 2 ? 'c' : 'j', kCode + offset));
    std::map<DWORD, BYTE> planted[2], removed[2];
    int calls[2];
    for (BOOL bytewise : {FALSE, TRUE}) {
        fake = FakeDebuggee();
        SetUp();
        Want(kCall, true);
        Want(kJmp, true);
        g_bBytewiseMemory = bytewise;
        fake.unreadable.insert((kCode + 4096) / 4096);
        fake.onWait = [&] {
            if (fake.timeouts.size() == 2) { // after the creation's planting
                planted[bytewise] = fake.memory;
                calls[bytewise] = fake.memoryCalls;
                state.m_bPauseOnStop = 0;
                state.m_bStopRequest = 1;
            } else if (fake.timeouts.size() == 3) {
                removed[bytewise] = fake.memory;
            }
        };
        fake.Create(kStart);
        fake.LoadDll();
        fake.LoadDll();
        Run();
    }
    g_bBytewiseMemory = FALSE;
    EXPECT_EQ(planted[0], planted[1]);
    EXPECT_EQ(removed[0], removed[1]);
    EXPECT_EQ(removed[0], fake.image);
    for (ListingRecord* point : points) {
        DWORD address = point->addr;
        bool readable = address / 4096 != (kCode + 4096) / 4096;
        EXPECT_EQ(planted[0][address] == 0xCC, readable) << std::hex << address;
        EXPECT_EQ(point->savedByte, readable ? Own(address) : 0);
    }
    EXPECT_LE(calls[0], 2 * 3 + 2 * 78) << "a read and a write per readable page, two per point elsewhere";
    EXPECT_LT(calls[0] * 3, calls[1]);
}

} // namespace
