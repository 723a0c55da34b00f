#include "debugger/DebugEngine.h"

#include <algorithm>
#include <cstring>

#include "debugger/ExceptionName.h"

DebugEvent g_debugEvent;
CONTEXT g_context;
HANDLE g_hProcess;
HANDLE g_hMainThread;
DWORD g_entryAddress;
DWORD g_lastPoint;
BYTE g_savedByte;
int g_bReport;
int g_bPastEntry;
int g_nStopStage;
DWORD g_dwExitCode;
CMapPtrToPtr ThreadMap(10);

DWORD g_dwDebugWaitMs = 10000;
BOOL g_bBytewiseMemory = FALSE;

namespace {

const BYTE kBreakpoint = 0xCC;
const DWORD kPageSize = 4096;
// After an exception has been passed on, the program's handler usually runs
// at once; the next wait is short so that a request is served soon after.
const DWORD kAfterExceptionWaitMs = 100;
// While a point waits for one of several threads to run past it, the threads
// are looked at this often: threads that each stand on a point another one
// waits for would otherwise run on uncounted, with no breakpoint left to
// plant anything again.
const DWORD kPendingWaitMs = 20;

DWORD s_dwTargetId;       // the target's process id, 0 before its creation event
DWORD s_dwMainThreadId;
BOOL s_bInitialBreak;     // the system's initial breakpoint of the target has come
BOOL s_bEntryPlanted;     // the entry breakpoint lives
// Thread id -> the point it took last, while that point waits to be planted
// again until the thread has run past it.
CMapPtrToPtr s_pending(10);
// Thread id -> the point it took last, until it breaks anywhere else: a
// thread back at it meanwhile has run a loop around it, counted once.
CMapPtrToPtr s_last(10);
DWORD s_dwQuitTick;       // when a stop posted WM_QUIT
// Every address the engine has read: bit 8 set while 0xCC stands there, the
// low byte the program's own byte at it.
CMapPtrToPtr s_breakpoints(10);
const uintptr_t kPlanted = 0x100;
// Processes the target started that could not be let go (id -> 1 once their
// initial breakpoint has come).
CMapPtrToPtr s_others(10);

void* Key(DWORD value)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(value));
}

DWORD Address(void* key)
{
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(key));
}

// Calls f(key, value) for every entry of the map.
template <typename F> void EachEntry(const CMapPtrToPtr& map, F f)
{
    void *key, *value;
    for (POSITION pos = map.GetStartPosition(); pos != NULL;) {
        map.GetNextAssoc(pos, key, value);
        f(key, value);
    }
}

void Remember(DWORD address, BYTE own, BOOL planted)
{
    s_breakpoints.SetAt(Key(address), reinterpret_cast<void*>(own | (planted ? kPlanted : 0)));
}

ListingRecord* Record(void* value)
{
    return static_cast<ListingRecord*>(value);
}

} // namespace

CDebugEngine::CDebugEngine(CTraceState& state, CPointMaps& maps, IDebugPlatform& platform)
    : m_state(state), m_maps(maps), m_image(platform), m_sys(m_image)
{
}

void CDebugEngine::ResetValues()
{
    std::memset(&g_debugEvent, 0, sizeof g_debugEvent);
    std::memset(&g_context, 0, sizeof g_context);
    g_hProcess = NULL;
    g_hMainThread = NULL;
    g_entryAddress = 0;
    g_lastPoint = 0;
    g_savedByte = 0;
    g_bReport = 0;
    g_bPastEntry = 0;
    g_nStopStage = 0;
    g_dwExitCode = 0;
    ThreadMap.RemoveAll();
    s_dwTargetId = 0;
    s_dwMainThreadId = 0;
    s_bInitialBreak = FALSE;
    s_bEntryPlanted = FALSE;
    s_pending.RemoveAll();
    s_last.RemoveAll();
    s_breakpoints.RemoveAll();
    s_others.RemoveAll();
    m_state.m_dwExceptionCode = 0;
    m_state.m_pExceptionContext = nullptr;
    m_state.m_dwDebuggeeId = 0;
    m_image.Forget();
    m_state.m_dwImageShift = 0;
    m_state.m_dwFaultAddress = 0;
    m_state.m_bListingOutside = 0;
    m_state.m_dwUnrewoundThread = 0;
    m_state.m_dwUnrewoundAt = 0;
}

// A halt requested while the run is live pauses it; none pauses a run that
// must end because a thread could not be rewound.
BOOL CDebugEngine::IsPaused() const
{
    return m_state.m_bStopRequest && m_state.m_bPauseOnStop && m_state.m_dwUnrewoundThread == 0;
}

BOOL CDebugEngine::IsStopping() const
{
    return m_state.m_dwUnrewoundThread != 0 || (m_state.m_bStopRequest && !m_state.m_bPauseOnStop);
}

int CDebugEngine::Run()
{
    ResetValues();
    if (m_sys.Launch()) {
        m_dwTimeout = g_dwDebugWaitMs;
        for (;;) {
            if (!m_sys.WaitForEvent(g_debugEvent, m_dwTimeout))
                std::memset(&g_debugEvent, 0, sizeof g_debugEvent);
            g_bReport = 0;
            m_state.m_bExited = 0;
            m_state.m_dwExceptionCode = 0;
            m_dwContinueStatus = DBG_CONTINUE;
            m_dwTimeout = g_dwDebugWaitMs;

            Dispatch();
            // Report, exit, halt, re-arm, continue: a halt or a change of the
            // kinds acts on the event at hand, before the debuggee runs on.
            if (g_nStopStage == 0 && g_bReport)
                ReportEvent();
            if (m_state.m_bExited)
                break;
            if (IsPaused()) {
                // Until "Continue ..." withdraws the request or a cancel turns
                // it into a stop, served on this same event. Every wake-up is
                // checked again: one may come before the wait, or change nothing.
                m_state.m_bPaused = 1;
                while (IsPaused())
                    m_sys.WaitForWake();
                m_state.m_bPaused = 0;
            }
            if (IsStopping() && !StopDebuggee())
                break;
            // A debuggee being stopped gets nothing planted again.
            if (m_state.m_bRearm && g_nStopStage == 0)
                SyncBreakpoints();
            if (s_pending.GetCount() != 0 && ThreadMap.GetCount() > 1)
                m_dwTimeout = std::min(m_dwTimeout, kPendingWaitMs);
            if (g_debugEvent.dwDebugEventCode != 0)
                m_sys.ContinueEvent(g_debugEvent.dwProcessId, g_debugEvent.dwThreadId, m_dwContinueStatus);
        }
        // The last event goes on too: a process still debugged would wait for it.
        if (g_debugEvent.dwDebugEventCode != 0)
            m_sys.ContinueEvent(g_debugEvent.dwProcessId, g_debugEvent.dwThreadId, m_dwContinueStatus);
        DetachOthers();
    }
    ThreadMap.RemoveAll();
    m_state.m_dwDebuggeeId = 0;
    m_sys.PostCommand(DEBUG_END_COMMAND);
    return m_state.m_bExited;
}

BOOL CDebugEngine::IsTargetEvent() const
{
    return s_dwTargetId != 0 && g_debugEvent.dwProcessId == s_dwTargetId;
}

void CDebugEngine::Dispatch()
{
    DebugEvent& event = g_debugEvent;
    switch (event.dwDebugEventCode) {
    case EXCEPTION_DEBUG_EVENT:
        if (!IsTargetEvent()) {
            OnOtherProcessException();
        } else if (event.dwExceptionCode == EXCEPTION_BREAKPOINT) {
            g_bReport = OnBreakpoint();
        } else if (event.dwExceptionCode == EXCEPTION_SINGLE_STEP) {
            OnSingleStep();
        } else {
            m_state.m_dwExceptionCode = event.dwExceptionCode;
            g_bReport = ExceptionName(event.dwExceptionCode).IsEmpty() ? 0 : 1;
            m_dwContinueStatus = DBG_EXCEPTION_NOT_HANDLED;
            m_dwTimeout = kAfterExceptionWaitMs;
        }
        break;
    case CREATE_THREAD_DEBUG_EVENT:
        if (IsTargetEvent())
            ThreadMap.SetAt(Key(event.dwThreadId), event.hThread);
        break;
    case CREATE_PROCESS_DEBUG_EVENT:
        if (event.hFile != NULL)
            m_sys.CloseFile(event.hFile);
        if (s_dwTargetId == 0)
            OnTargetCreated();
        else if (!m_sys.Detach(event.dwProcessId)) // a process the target started
            s_others.SetAt(Key(event.dwProcessId), NULL);
        break;
    case EXIT_THREAD_DEBUG_EVENT:
        if (IsTargetEvent()) {
            ThreadMap.RemoveKey(Key(event.dwThreadId));
            // It has run past its point for good.
            ConsumeSkip();
            ReleasePending(event.dwThreadId);
            s_last.RemoveKey(Key(event.dwThreadId));
        }
        break;
    case EXIT_PROCESS_DEBUG_EVENT:
        if (IsTargetEvent()) {
            m_state.m_bExited = 1;
            g_dwExitCode = event.dwExitCode;
        } else
            s_others.RemoveKey(Key(event.dwProcessId));
        break;
    case LOAD_DLL_DEBUG_EVENT:
        if (event.hFile != NULL)
            m_sys.CloseFile(event.hFile);
        break;
    case 0: // a time-out: the debuggee runs
        if (s_pending.GetCount() != 0 && g_nStopStage == 0)
            ReleaseRunPast(0, TRUE);
        break;
    default: // DLL unloads, debug strings, RIP events
        break;
    }
}

void CDebugEngine::OnTargetCreated()
{
    const DebugEvent& event = g_debugEvent;
    s_dwTargetId = event.dwProcessId;
    s_dwMainThreadId = event.dwThreadId;
    m_state.m_dwDebuggeeId = event.dwProcessId;
    g_hProcess = event.hProcess;
    g_hMainThread = event.hThread;
    m_image.Place(event.dwProcessId, m_maps.m_dwListingBase, event.dwImageBase);
    m_state.m_dwImageShift = m_image.Shift();
    g_entryAddress = m_image.ToListing(event.dwStartAddress);
    ThreadMap.SetAt(Key(event.dwThreadId), event.hThread);
    // A listing none of whose addresses lies in the process (another program's,
    // or one whose base is not the process's) would plant and count nothing:
    // the run's end says so, rather than showing empty counts without a word.
    m_state.m_bListingOutside = !ListingInImage();
    SyncBreakpoints();
}

BOOL CDebugEngine::ListingInImage()
{
    // The image is mapped whole at its creation: a few readable points show
    // it is there, and a few reads are all it costs.
    const int probes = 16;
    int tried = 0;
    POSITION pos = m_maps.m_mapAll.GetStartPosition();
    while (pos != NULL && tried++ < probes) {
        void* key;
        void* value;
        m_maps.m_mapAll.GetNextAssoc(pos, key, value);
        BYTE code;
        if (m_sys.ReadMemory(g_hProcess, Address(key), &code, 1))
            return TRUE;
    }
    return tried == 0;
}

void CDebugEngine::OnOtherProcessException()
{
    // Its first breakpoint is the system's initial one; every other exception
    // belongs to its own handlers.
    const DebugEvent& event = g_debugEvent;
    void* seen = NULL;
    if (event.dwExceptionCode == EXCEPTION_BREAKPOINT && s_others.Lookup(Key(event.dwProcessId), seen) &&
        seen == NULL) {
        s_others.SetAt(Key(event.dwProcessId), Key(1));
        return;
    }
    m_dwContinueStatus = DBG_EXCEPTION_NOT_HANDLED;
}

void CDebugEngine::DetachOthers()
{
    // Left running: the system would end them with the debug thread.
    EachEntry(s_others, [&](void* key, void*) { m_sys.Detach(Address(key)); });
    s_others.RemoveAll();
}

// --- breakpoints ---

BOOL CDebugEngine::IsPlanted(DWORD address) const
{
    void* value = NULL;
    return s_breakpoints.Lookup(Key(address), value) && (reinterpret_cast<uintptr_t>(value) & kPlanted) != 0;
}

BOOL CDebugEngine::OwnByte(DWORD address, BYTE& own) const
{
    void* value = NULL;
    if (!s_breakpoints.Lookup(Key(address), value))
        return FALSE;
    own = static_cast<BYTE>(reinterpret_cast<uintptr_t>(value));
    return TRUE;
}

BOOL CDebugEngine::IsWanted(DWORD address) const
{
    if (s_bEntryPlanted && address == g_entryAddress)
        return TRUE;
    void* record = NULL;
    for (int kind = 0; kind < 5; ++kind)
        if (m_maps.m_armedKinds[kind] && m_maps.KindMap(kind).Lookup(Key(address), record))
            return TRUE;
    return FALSE;
}

void CDebugEngine::SyncBreakpoints()
{
    // Lowered first: a change of the boxes made meanwhile raises it again.
    m_state.m_bRearm = 0;
    int wanted[5];
    for (int kind = 0; kind < 5; ++kind)
        wanted[kind] = m_state.WantedKind(kind);
    Sync(wanted);
}

void CDebugEngine::Sync(const int wanted[5])
{
    for (;;) {
        int kind = 0;
        while (kind < 5 && (wanted[kind] != 0) == (m_maps.m_armedKinds[kind] != 0))
            ++kind;
        if (kind == 5)
            return;
        m_maps.m_armedKinds[kind] = wanted[kind] != 0;
        if (wanted[kind])
            PlantKind(kind);
        else
            RemoveKind(kind);
    }
}

void CDebugEngine::PlantKind(int kind)
{
    CMapPtrToPtr& map = m_maps.KindMap(kind);
    m_batch.clear();
    EachEntry(map, [&](void* key, void*) {
        DWORD address = Address(key);
        // A point just taken is planted again once its thread has run past
        // it, not under the thread that stands on it.
        if (!IsPlanted(address) && !IsPending(address))
            m_batch.push_back(address);
    });
    std::sort(m_batch.begin(), m_batch.end());
    Plant(m_batch);

    // Each record of the kind, and the one a hit there is counted on, keeps the
    // program's own byte: the list shows counts only once it is set.
    EachEntry(map, [&](void* key, void* value) {
        BYTE own;
        if (!OwnByte(Address(key), own))
            return;
        Record(value)->savedByte = own;
        void* counted = NULL;
        if (m_maps.m_mapAll.Lookup(key, counted))
            Record(counted)->savedByte = own;
    });
}

void CDebugEngine::RemoveKind(int kind)
{
    CMapPtrToPtr& map = m_maps.KindMap(kind);
    m_batch.clear();
    EachEntry(map, [&](void* key, void*) {
        DWORD address = Address(key);
        // A point of a kind still planted keeps its breakpoint.
        if (IsPlanted(address) && !IsWanted(address))
            m_batch.push_back(address);
    });
    std::sort(m_batch.begin(), m_batch.end());
    Remove(m_batch);
}

void CDebugEngine::RemoveAllBreakpoints()
{
    for (int kind = 0; kind < 5; ++kind)
        m_maps.m_armedKinds[kind] = 0;
    s_bEntryPlanted = FALSE;
    s_pending.RemoveAll();
    m_batch.clear();
    EachEntry(s_breakpoints, [&](void* key, void* value) {
        if (reinterpret_cast<uintptr_t>(value) & kPlanted)
            m_batch.push_back(Address(key));
    });
    std::sort(m_batch.begin(), m_batch.end());
    Remove(m_batch);
}

void CDebugEngine::PlantEntry()
{
    DWORD entry = g_entryAddress;
    BYTE own;
    if (IsPlanted(entry) && OwnByte(entry, own)) {
        // A ticked point stands there already: its breakpoint serves as the
        // entry's, and the byte kept is the program's, not 0xCC.
        g_savedByte = own;
        s_bEntryPlanted = TRUE;
    } else if (PlantOne(entry)) {
        OwnByte(entry, g_savedByte);
        s_bEntryPlanted = TRUE;
    }
}

BOOL CDebugEngine::PlantOne(DWORD address)
{
    BYTE own;
    if (!m_sys.ReadMemory(g_hProcess, address, &own, 1))
        return FALSE;
    if (!m_sys.WriteMemory(g_hProcess, address, &kBreakpoint, 1))
        return FALSE;
    Remember(address, own, TRUE);
    return TRUE;
}

void CDebugEngine::RemoveOne(DWORD address)
{
    BYTE own;
    if (OwnByte(address, own)) {
        m_sys.WriteMemory(g_hProcess, address, &own, 1);
        Remember(address, own, FALSE);
    }
}

// Splits the sorted addresses into runs that share a page. A run of more than
// `alone` addresses is read in one call, from its first to its last address,
// into m_buffer; `each` gets the run and whether that read succeeded.
template <typename F> void CDebugEngine::ByPage(const std::vector<DWORD>& addresses, int alone, F each)
{
    const DWORD* end = addresses.data() + addresses.size();
    for (const DWORD* first = addresses.data(); first != end;) {
        const DWORD* last = first;
        while (last != end && *last / kPageSize == *first / kPageSize)
            ++last;
        DWORD span = *(last - 1) - *first + 1;
        BOOL read = !g_bBytewiseMemory && last - first > alone;
        if (read) {
            m_buffer.resize(span);
            read = m_sys.ReadMemory(g_hProcess, *first, m_buffer.data(), span);
        }
        each(first, last, read, span);
        first = last;
    }
}

// One read and one write per page: the debuggee is stopped, so the bytes
// between the points go back as they were read. A page that cannot be read
// whole is done a byte at a time; an address whose own byte cannot be read
// gets no breakpoint, since it could never be put back.
void CDebugEngine::Plant(const std::vector<DWORD>& addresses)
{
    ByPage(addresses, 1, [this](const DWORD* first, const DWORD* last, BOOL read, DWORD span) {
        if (!read) {
            for (const DWORD* a = first; a != last; ++a)
                PlantOne(*a);
            return;
        }
        for (const DWORD* a = first; a != last; ++a) {
            Remember(*a, m_buffer[*a - *first], FALSE);
            m_buffer[*a - *first] = kBreakpoint;
        }
        BOOL written = m_sys.WriteMemory(g_hProcess, *first, m_buffer.data(), span);
        for (const DWORD* a = first; a != last; ++a) {
            BYTE own = 0;
            OwnByte(*a, own);
            // A page written only in part is set right byte by byte.
            if (written || m_sys.WriteMemory(g_hProcess, *a, &kBreakpoint, 1))
                Remember(*a, own, TRUE);
            else
                m_sys.WriteMemory(g_hProcess, *a, &own, 1);
        }
    });
}

// Two single writes cost no more than a read and a write.
void CDebugEngine::Remove(const std::vector<DWORD>& addresses)
{
    ByPage(addresses, 2, [this](const DWORD* first, const DWORD* last, BOOL read, DWORD span) {
        BOOL written = FALSE;
        if (read) {
            for (const DWORD* a = first; a != last; ++a)
                OwnByte(*a, m_buffer[*a - *first]);
            written = m_sys.WriteMemory(g_hProcess, *first, m_buffer.data(), span);
        }
        for (const DWORD* a = first; a != last; ++a) {
            BYTE own = 0;
            if (!written)
                RemoveOne(*a);
            else if (OwnByte(*a, own))
                Remember(*a, own, FALSE);
        }
    });
}

// --- events of the target ---

HANDLE CDebugEngine::EventThread() const
{
    void* thread = NULL;
    ThreadMap.Lookup(Key(g_debugEvent.dwThreadId), thread);
    return static_cast<HANDLE>(thread);
}

BOOL CDebugEngine::Rewind(DWORD address)
{
    // After an INT 3 the thread stands one byte past it. Registers that could
    // not be read are never written: the record holds another event's.
    HANDLE thread = EventThread();
    if (thread == NULL)
        return FALSE;
    g_context.ContextFlags = CONTEXT_FULL;
    if (!m_sys.GetRegisters(thread, g_context))
        return FALSE;
    g_context.Eip = m_image.ToProcess(address);
    m_sys.SetRegisters(thread, g_context);
    return TRUE;
}

// --- points taken, waiting for their threads to run past them ---

BOOL CDebugEngine::IsPending(DWORD address) const
{
    BOOL pending = FALSE;
    EachEntry(s_pending, [&](void*, void* value) { pending |= Address(value) == address; });
    return pending;
}

// "Skip Point": the point taken last is not planted again, whichever threads
// still wait on it.
void CDebugEngine::ConsumeSkip()
{
    if (!m_state.m_bSkipPoint)
        return;
    m_state.m_bSkipPoint = 0;
    m_threads.clear();
    EachEntry(s_pending, [&](void* key, void* value) {
        if (Address(value) == g_lastPoint)
            m_threads.push_back(Address(key));
    });
    for (DWORD thread : m_threads)
        s_pending.RemoveKey(Key(thread));
}

// The thread has run past the point it took: the point goes back in, unless
// another thread rewound onto it has yet to run it (it would take it a second
// time for one execution), or its kind is gone meanwhile.
void CDebugEngine::ReleasePending(DWORD dwThreadId)
{
    void* value = NULL;
    if (!s_pending.Lookup(Key(dwThreadId), value))
        return;
    s_pending.RemoveKey(Key(dwThreadId));
    DWORD point = Address(value);
    BYTE own;
    if (g_nStopStage != 0 || IsPending(point) || IsPlanted(point) || !IsWanted(point) || !OwnByte(point, own))
        return;
    if (m_sys.WriteMemory(g_hProcess, point, &kBreakpoint, 1))
        Remember(point, own, TRUE);
}

// Other threads that took a point stand elsewhere now: they have run it. One
// that still stands on it has not (or is about to run it again, which the
// point then counts rightly). A thread that is seen nowhere keeps its point.
// While the debuggee runs, each thread is held while it is looked at.
void CDebugEngine::ReleaseRunPast(DWORD dwThreadId, BOOL bRunning)
{
    m_threads.clear();
    EachEntry(s_pending, [&](void* key, void* value) {
        void* handle = NULL;
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_FULL;
        if (Address(key) == dwThreadId || !ThreadMap.Lookup(key, handle))
            return;
        BOOL read = bRunning ? m_sys.GetRunningRegisters(static_cast<HANDLE>(handle), context)
                             : m_sys.GetRegisters(static_cast<HANDLE>(handle), context);
        if (read && context.Eip != m_image.ToProcess(Address(value)))
            m_threads.push_back(Address(key));
    });
    for (DWORD thread : m_threads)
        ReleasePending(thread);
}

void CDebugEngine::CaptureRegisters()
{
    m_state.m_dwFaultAddress = g_debugEvent.dwExceptionAddress;
    HANDLE thread = EventThread();
    if (thread == NULL)
        return;
    g_context.ContextFlags = CONTEXT_FULL;
    m_sys.GetRegisters(thread, g_context);
    m_state.m_pExceptionContext = &g_context;
}

int CDebugEngine::OnBreakpoint()
{
    const DWORD at = g_debugEvent.dwExceptionAddress;
    const DWORD thread = g_debugEvent.dwThreadId;

    // Points taken earlier go back in once the threads that took them have run
    // past them: this thread has, breaking anywhere else.
    ConsumeSkip();
    void* last = NULL;
    if (s_last.Lookup(Key(thread), last) && Address(last) != at) {
        ReleasePending(thread);
        s_last.RemoveKey(Key(thread));
    }
    if (s_pending.GetCount() != 0)
        ReleaseRunPast(thread, FALSE);

    void* record = NULL;
    BOOL listed = m_maps.m_mapAll.Lookup(Key(at), record);
    const BOOL planted = IsPlanted(at);
    if (planted) {
        RemoveOne(at);
        if (s_bEntryPlanted && at == g_entryAddress) {
            s_bEntryPlanted = FALSE;
            g_bPastEntry = 1;
        }
    } else {
        // Not planted now. A listed point whose breakpoint was taken away after
        // the thread had run into it (its kind removed, or another thread took
        // it first) still holds the program's own byte; an INT 3 that is really
        // there is not the engine's.
        BYTE there = kBreakpoint;
        if (!listed || !m_sys.ReadMemory(g_hProcess, at, &there, 1) || there == kBreakpoint) {
            if (!s_bInitialBreak) {
                // The system's initial breakpoint: the target's own code is next.
                s_bInitialBreak = TRUE;
                PlantEntry();
                return 0;
            }
            // The program's own breakpoint, for its own handlers, as when untraced.
            m_state.m_dwExceptionCode = EXCEPTION_BREAKPOINT;
            m_dwContinueStatus = DBG_EXCEPTION_NOT_HANDLED;
            m_dwTimeout = kAfterExceptionWaitMs;
            return ExceptionName(EXCEPTION_BREAKPOINT).IsEmpty() ? 0 : 1;
        }
    }

    // The thread runs the program's own instruction next. One that cannot be
    // rewound would run on from inside it: the run ends, and says why.
    if (!Rewind(at)) {
        m_state.m_dwUnrewoundAt = at;
        m_state.m_dwUnrewoundThread = thread;
        return 0;
    }
    if (!listed)
        return 0; // the entry breakpoint alone
    s_pending.SetAt(Key(thread), Key(at));
    // Back at the point it took last, with no breakpoint elsewhere between
    // (the point went back in for the other threads): a loop around one
    // point counts once, as when a single thread leaves it out meanwhile.
    if (planted && s_last.Lookup(Key(thread), last))
        return 0;
    s_last.SetAt(Key(thread), Key(at));
    g_lastPoint = at;
    return 1;
}

void CDebugEngine::OnSingleStep()
{
    m_dwContinueStatus = DBG_EXCEPTION_NOT_HANDLED;
}

void CDebugEngine::ReportEvent()
{
    if (m_state.m_dwExceptionCode != 0) {
        CaptureRegisters();
    } else {
        void* record = NULL;
        if (!m_maps.m_mapAll.Lookup(Key(g_lastPoint), record))
            return;
        m_state.m_pHitRecord = Record(record);
        ++m_state.m_nHitSeq;
    }
    int speed = m_state.m_nSpeed;
    if (speed > 0)
        m_sys.Sleep(static_cast<DWORD>(speed) * 10);
    // The window reads the record, the count and the registers while this
    // thread waits: the next event would overwrite them.
    m_state.m_bReportPending = 1;
    m_sys.PostCommand(DEBUG_REPORT_COMMAND);
    while (m_state.m_bReportPending)
        m_sys.WaitForWake();
}

int CDebugEngine::StopDebuggee()
{
    // An exception being passed on: the registers for the run's end, and no
    // second chance to quit by itself.
    if (m_state.m_dwExceptionCode != 0) {
        ++g_nStopStage;
        CaptureRegisters();
    } else if (m_state.m_dwUnrewoundThread != 0 && g_nStopStage == 0) {
        // A thread past a breakpoint it was not rewound from must not run on:
        // ended at once, with no chance to quit by itself.
        g_nStopStage = 1;
    }
    if (g_nStopStage == 0) {
        // A message loop on that thread can end the program by itself; meanwhile
        // nothing is counted and nothing of the engine's stays in its code.
        m_sys.PostQuit(s_dwTargetId, s_dwMainThreadId);
        RemoveAllBreakpoints();
        s_dwQuitTick = m_sys.TickCount();
        g_nStopStage = 1;
        return 1;
    }
    if (g_nStopStage == 1) {
        // A program that quits raises events on its way out (threads ending,
        // DLLs unloading): it is ended once it falls silent for a wait, or
        // after one wait's time at most, not at its first such event.
        if (m_state.m_dwExceptionCode == 0 && m_state.m_dwUnrewoundThread == 0 && g_debugEvent.dwDebugEventCode != 0 &&
            m_sys.TickCount() - s_dwQuitTick < g_dwDebugWaitMs)
            return 1;
        if (!m_sys.Terminate(s_dwTargetId))
            return 0;
        g_nStopStage = 2;
        return 1;
    }
    // Ended: its threads' exits come, then its own, which is let go so that
    // the system closes its handles; a silent wait means there is no more.
    return g_debugEvent.dwDebugEventCode != 0;
}
