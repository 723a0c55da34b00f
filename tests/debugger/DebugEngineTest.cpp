// The debug engine's decisions, driven by a scripted fake debuggee: which
// bytes are planted, taken, planted again or left alone, how the program's
// own exceptions and other processes are passed on, and how a stop proceeds.
#include <gtest/gtest.h>

#include <deque>
#include <set>

#include "debugger/DebugEngine.h"
#include "tests/debugger/FakeDebuggee.h"

namespace {

const DWORD kCode = 0x401000, kStart = kCode, kNtdll = 0x7BC56490, kMain = FakeDebuggee::kMain;
const DWORD kTarget = FakeDebuggee::kTarget, kChild = FakeDebuggee::kChild;
const DWORD A = kCode + 0x10, B = kCode + 0x20, C = kCode + 0x30, Plain = kCode + 0x50;
using Addresses = std::vector<DWORD>;

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { Fresh("c"); }

    // A new debuggee (three pages of code without a single 0xCC, the system's
    // breakpoint in ntdll), as "Start Process" leaves the state, with the kinds
    // wanted (a string of C c J j s); the points stay. Booted: created, a DLL
    // loaded, the system's initial breakpoint taken; its own code is next.
    // The image lies `shift` bytes from the listing's base, 0x400000.
    void Fresh(const std::string& kinds, bool boot = true, DWORD shift = 0)
    {
        fake = FakeDebuggee();
        fake.state = &state;
        std::vector<BYTE> code(3 * 4096);
        for (size_t i = 0; i < code.size(); ++i)
            code[i] = BYTE(i * 37 + 11) == 0xCC ? 0x90 : BYTE(i * 37 + 11);
        fake.Map(kCode + shift, code);
        fake.Map(kNtdll, {0xCC, 0xC3});
        fake.onReport = [this] { Count(); };
        for (char kind : std::string("CcJjs"))
            Want(kind, kinds.find(kind) != std::string::npos);
        for (int& armed : maps.m_armedKinds)
            armed = 0;
        state.m_bStopRequest = state.m_bSkipPoint = state.m_nHitSeq = state.m_bRearm = 0;
        state.m_bPauseOnStop = 1;
        g_bBytewiseMemory = FALSE;
        hits.clear();
        exceptions.clear();
        if (boot) {
            fake.Create(kStart + shift, 0x400000 + shift);
            fake.LoadDll();
            fake.Exec(kMain, {kNtdll});
        }
    }
    // What the window does with a report.
    void Count()
    {
        if (state.m_dwExceptionCode != 0)
            return exceptions.push_back(state.m_dwExceptionCode);
        ListingRecord* record = state.m_pHitRecord;
        record->num = state.m_nHitSeq;
        record->hits += 1;
        hits.push_back(DWORD(record->addr));
    }
    void Want(char kind, int wanted)
    {
        std::atomic<int>* flags[] = {&state.m_bCallPtr, &state.m_bCall, &state.m_bJmpPtr, &state.m_bJmp, &state.m_bStrData};
        *flags[std::string("CcJjs").find(kind)] = wanted;
        state.m_bRearm = 1;
    }
    void Cancel()
    {
        state.m_bPauseOnStop = 0;
        state.m_bStopRequest = 1;
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
    int Run()
    {
        int exited = CDebugEngine(state, maps, fake).Run();
        EXPECT_EQ(fake.faults, std::vector<std::string>()) << "the debuggee ran wrongly";
        EXPECT_EQ(fake.commands.back(), 1017u) << "the run's end is posted last";
        EXPECT_EQ(ThreadMap.GetCount(), 0);
        return exited;
    }
    BYTE Own(DWORD address) { return fake.image[address]; }
    bool Planted(DWORD address) { return fake.memory[address] == 0xCC; }
    int Passed() const { return int(std::count(fake.statuses.begin(), fake.statuses.end(), DBG_EXCEPTION_NOT_HANDLED)); }

    CTraceState state;
    CPointMaps maps;
    FakeDebuggee fake;
    std::deque<ListingRecord> storage;
    Addresses hits, exceptions;
};

// A point counts once between breakpoints of other points; "Skip Point"
// leaves the point shown last unplanted for the rest of the run.
TEST_F(EngineTest, APointCountsOnceBetweenBreakpointsOfOtherPoints)
{
    ListingRecord *a = Point('c', A), *b = Point('c', B), *c = Point('c', C);
    Point('j', Plain); // not ticked: never planted
    fake.Exec(kMain, {kStart, A, B, A, B, A, B, C, Plain, C, Plain, C, A}); // c alone in its loop
    fake.ExitProcess();
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(hits, (Addresses{A, B, A, B, A, B, C, A}));
    EXPECT_EQ(std::to_string(a->num) + " " + std::to_string(c->num) + " " + std::to_string(b->hits), "8 7 3");
    EXPECT_FALSE(Planted(Plain));
    EXPECT_EQ(Passed(), 0) << "the system's breakpoint and the entry breakpoint go on";

    Fresh("c");
    fake.onReport = [&] {
        Count();
        if (hits.size() == 1)
            state.m_bSkipPoint = 1; // pressed while a's hit is shown
    };
    fake.Exec(kMain, {A, B, A, B, A, B});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(hits, (Addresses{A, B})) << "b is alone now: counted once";
    EXPECT_EQ(state.m_bSkipPoint, 0);
    EXPECT_FALSE(Planted(A));
}

TEST_F(EngineTest, PointsBeforeTheEntryAndAtItAreHitsCountedOnce)
{
    // A TLS callback runs listed code before the system's breakpoint; the start
    // address is a ticked jump, planted before the entry breakpoint is.
    Point('c', A);
    Point('j', kStart);
    Fresh("cj", false);
    fake.Create(kStart);
    fake.Exec(kMain, {A, A + 4, kNtdll, kStart, A, kStart});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(hits, (Addresses{A, kStart, A, kStart}));
    EXPECT_EQ(g_savedByte, Own(kStart)) << "the program's byte, not the breakpoint's";
    // The jumps not ticked: the entry breakpoint alone stands at the start
    // address, which is counted once and not planted again after a.
    Fresh("c");
    fake.Exec(kMain, {kStart, A, kStart, A});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(hits, (Addresses{kStart, A}));
}

TEST_F(EngineTest, AnAddressOfTwoKindsKeepsItsBreakpointUntilBothAreGone)
{
    // A string-data point takes the address of the call before it; m_mapAll
    // keeps the later record, which is the one counted.
    const DWORD x = kCode + 0x200;
    ListingRecord *call = Point('c', x), *text = Point('s', x);
    Point('c', A);
    Fresh("cs");
    // "Str Data" goes while x is planted, "Call" while x waits to be planted again.
    fake.onReport = [&] {
        Count();
        Want(hits.size() == 1 ? 's' : 'c', 0);
    };
    fake.onWait = [&] {
        if (hits.size() == 1) {
            EXPECT_TRUE(Planted(x)) << "the call kind keeps it";
        }
    };
    fake.Exec(kMain, {A, x, x, A});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(std::to_string(text->hits) + " " + std::to_string(call->hits), "1 0");
    EXPECT_EQ(call->savedByte, Own(x)) << "the program's byte, never 0xCC";
    EXPECT_EQ(text->savedByte, Own(x));
    EXPECT_FALSE(Planted(x) || Planted(A));
}

TEST_F(EngineTest, BreakpointsInFlightAcrossThreadsAndKindChanges)
{
    ListingRecord *a = Point('c', A), *b = Point('j', B);
    Fresh("cj");
    fake.CreateThread(2);
    fake.CreateThread(3);
    // Thread 2 takes a while thread 3 runs into it: 3's event comes after a's
    // byte is back. Thread 2 exits while a waits to be planted again.
    fake.Exec(2, {A});
    fake.Raise(EXCEPTION_BREAKPOINT, A, 3);
    fake.Exec(3, {A});
    fake.ExitThread(2);
    fake.Exec(3, {B, A, B});
    // The jump kind goes while thread 3 stands on b; its breakpoint at b in flight comes after.
    fake.onReport = [&] {
        Count();
        if (hits.size() == 5)
            Want('j', 0);
    };
    fake.Raise(EXCEPTION_BREAKPOINT, B, 3);
    fake.Exec(3, {B, A, B});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(hits, (Addresses{A, A, B, A, B, B, A}));
    EXPECT_EQ(a->hits + b->hits, 7);
    EXPECT_FALSE(Planted(B)) << "no 0xCC left of a removed kind";
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
    fake.Exec(kMain, {A});
    fake.ExitProcess();
    Run();
    EXPECT_EQ(exceptions, (Addresses{EXCEPTION_BREAKPOINT, EXCEPTION_ACCESS_VIOLATION}));
    EXPECT_EQ(listed->hits, 2) << "planted again at the program's own breakpoint";
    EXPECT_EQ(Passed(), 4);
    EXPECT_FALSE(Planted(Plain));
    EXPECT_EQ(fake.timeouts[7], 100u) << "a short wait after an exception was passed on";
}

TEST_F(EngineTest, ChildProcessesAreLetGoOrPassedOnAndNeverPlanted)
{
    ListingRecord* a = Point('c', A);
    Point('c', B);
    for (BOOL detachable : {TRUE, FALSE}) {
        SCOPED_TRACE(detachable);
        Fresh("c");
        a->hits = 0;
        fake.detachable = detachable;
        fake.CreateChild(); // the same image at the same addresses: a write meant for it would land in the target
        fake.Exec(kMain, {A, B});
        fake.Raise(EXCEPTION_BREAKPOINT, kNtdll, 50, kChild); // its initial breakpoint
        fake.Raise(EXCEPTION_ACCESS_VIOLATION, 0x401234, 50, kChild);
        fake.Raise(EXCEPTION_BREAKPOINT, A, 50, kChild);
        fake.ExitProcess(kChild);
        fake.CreateChild(kChild + 1);
        fake.LoadDll(kChild + 1);
        fake.Exec(kMain, {Plain, A});
        fake.ExitProcess();
        EXPECT_EQ(Run(), 1);
        EXPECT_EQ(a->hits, 2) << "only the target's exit ends the run";
        EXPECT_EQ(exceptions.size(), 0u);
        // Every file handle of a creation or DLL event is closed once.
        EXPECT_EQ(fake.closed.size(), detachable ? 4u : 5u);
        EXPECT_EQ(std::set<HANDLE>(fake.closed.begin(), fake.closed.end()).size(), fake.closed.size());
        if (detachable) {
            EXPECT_EQ(fake.detached, (Addresses{kChild, kChild + 1}));
        } else {
            // Its initial breakpoint goes on, the rest to its own handlers; the one
            // still running is let go at the end rather than ended with the thread.
            EXPECT_EQ(Addresses(fake.statuses.begin() + 6, fake.statuses.begin() + 9),
                      (Addresses{DBG_CONTINUE, DBG_EXCEPTION_NOT_HANDLED, DBG_EXCEPTION_NOT_HANDLED}));
            EXPECT_EQ(fake.detachTries, 3);
        }
    }
}

// "Cancel Process", or the window closed during a run: the debuggee is asked
// to quit, then ended.
TEST_F(EngineTest, ACancelEndsTheDebuggeeInStages)
{
    Point('c', A);
    Point('c', B);
    Point('j', Plain);
    // At a hit: quit posted, every breakpoint out, nothing reported; the
    // debuggee, silent from then on, is ended.
    fake.onReport = [&] {
        Count();
        Cancel();
        Want('j', 1); // a box ticked meanwhile plants nothing any more
    };
    fake.onWait = [&] {
        if (g_nStopStage == 1) {
            EXPECT_EQ(fake.memory, fake.image) << "nothing of the engine's left in the program";
        }
    };
    // The hit is a worker's: the quit goes to the main thread all the same, and
    // the threads' exits after the end do not end the run before the process's.
    fake.CreateThread(2);
    fake.CreateThread(3);
    fake.Exec(2, {A, B, A, B, A});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(hits.size(), 1u);
    EXPECT_EQ(fake.quits, Addresses{kMain});
    EXPECT_EQ(fake.terminated, Addresses{kTarget});

    // A program that obeys WM_QUIT raises events on its way out: it is let go
    // to its own exit, not ended at the first of them.
    Fresh("c");
    fake.onReport = [&] { Cancel(); };
    fake.Exec(kMain, {A, B});
    fake.CreateThread(2);
    fake.ExitThread(2);
    fake.ExitProcess();
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(fake.terminated, Addresses());

    // A stop while an exception is passed on: ended at once, with the faulting
    // thread's registers for the run's end.
    Fresh("c");
    fake.onReport = [&] { Cancel(); };
    fake.Raise(EXCEPTION_ACCESS_VIOLATION, kCode + 0x66);
    fake.Exec(kMain, {A});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(fake.quits, Addresses());
    EXPECT_EQ(fake.terminated, Addresses{kTarget});
    EXPECT_EQ(state.m_pExceptionContext.load(), &g_context);
    EXPECT_EQ(g_context.Eip, kCode + 0x66);

    // One that cannot be ended: the loop is left, without its exit.
    Fresh("c");
    fake.terminable = FALSE;
    Cancel();
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(fake.terminated.size(), 1u);
}

// An image the system put elsewhere than the listing's base: the same counts
// on the same records, the program's bytes read and written only where it
// lies, the exception's registers the process's and its address the
// listing's. A listing none of whose addresses lies in the process (here one
// that does not name its base) plants nothing, and the run says so.
TEST_F(EngineTest, ARelocatedImageCountsAsAtItsOwnBase)
{
    for (DWORD at : {A, B, C, kStart})
        Point(at == B ? 'j' : at == C ? 's' : 'c', at);
    std::vector<Addresses> seen;
    for (DWORD shift : {0u, 0x1350000u, 0u - 0x3F0000u, 0x9D00000u}) {
        SCOPED_TRACE(shift);
        maps.m_dwListingBase = shift == 0x9D00000u ? 0 : 0x400000;
        Fresh("cjs", true, shift);
        DWORD eip = 0, fault = 0; // as the report shows them
        fake.onReport = [&] {
            Count();
            if (state.m_dwExceptionCode != 0) {
                eip = state.m_pExceptionContext.load()->Eip;
                fault = state.m_dwFaultAddress;
            }
        };
        fake.Exec(kMain, {kStart + shift, A + shift, B + shift, A + shift, C + shift, kStart + shift});
        fake.Raise(EXCEPTION_ACCESS_VIOLATION, B + shift + 2);
        fake.Exec(kMain, {B + shift, A + shift});
        fake.ExitProcess();
        EXPECT_EQ(Run(), 1);
        seen.push_back(hits);
        if (maps.m_dwListingBase == 0) {
            EXPECT_EQ(hits, Addresses());
            EXPECT_EQ(state.m_bListingOutside, 1);
            EXPECT_EQ(fake.memory, fake.image);
            continue;
        }
        EXPECT_EQ(state.m_bListingOutside, 0);
        EXPECT_EQ(state.m_dwImageShift, shift);
        EXPECT_EQ(exceptions, Addresses{EXCEPTION_ACCESS_VIOLATION});
        EXPECT_EQ(eip, B + shift + 2) << "the process's registers";
        EXPECT_EQ(fault, B + 2) << "the listing's address";
        EXPECT_EQ(g_savedByte, Own(kStart + shift));
    }
    EXPECT_EQ(seen[0], (Addresses{kStart, A, B, A, C, kStart, B, A}));
    EXPECT_EQ(seen[1], seen[0]);
    EXPECT_EQ(seen[2], seen[0]);
}

// Planting a page at a time leaves the memory that one byte at a time leaves,
// with far fewer calls; a page that cannot be read gets no breakpoint at all.
TEST_F(EngineTest, PageWritesEqualByteWrites)
{
    std::vector<ListingRecord*> points;
    for (DWORD offset = 0x10; offset < 3 * 4096; offset += 0x35)
        points.push_back(Point(offset % 2 ? 'c' : 'j', kCode + offset));
    const DWORD unreadable = (kCode + 4096) / 4096;
    std::map<DWORD, BYTE> planted[2], removed[2];
    int calls[2];
    for (BOOL bytewise : {FALSE, TRUE}) {
        Fresh("cj", false);
        g_bBytewiseMemory = bytewise;
        fake.unreadable.insert(unreadable);
        fake.onWait = [&] {
            if (fake.timeouts.size() == 2) { // the creation's planting is done: a cancel
                planted[bytewise] = fake.memory;
                calls[bytewise] = fake.memoryCalls;
                Cancel();
            } else if (fake.timeouts.size() == 3) {
                removed[bytewise] = fake.memory;
            }
        };
        fake.Create(kStart);
        fake.LoadDll();
        fake.LoadDll();
        Run();
    }
    EXPECT_EQ(planted[0], planted[1]);
    EXPECT_EQ(removed[0], removed[1]);
    EXPECT_EQ(removed[0], fake.image);
    for (ListingRecord* point : points) {
        DWORD address = point->addr;
        bool readable = address / 4096 != unreadable;
        EXPECT_EQ(planted[0][address] == 0xCC, readable) << std::hex << address;
        EXPECT_EQ(point->savedByte, readable ? Own(address) : 0);
    }
    EXPECT_LT(calls[0] * 3, calls[1]);
}

} // namespace
