// The debug engine: the debug thread's event loop, the planting and taking of
// breakpoints, the hand-over of hits and exceptions to the window, and the
// stop of a run. It runs on the debug thread only and reaches the system
// through IDebugPlatform, so that a fake debuggee can drive it natively.
//
// The counting rule: a breakpoint taken at a listed point puts the program's
// own byte back, rewinds the thread onto it and reports the hit; that point
// is planted again only once that thread has run past it: when the thread
// takes a breakpoint of another point, is seen standing elsewhere (at another
// thread's breakpoint, or while several threads run), or exits. A point is
// counted at most once between two breakpoints of other points of a thread,
// never more often than it ran, and every breakpoint costs the debuggee a
// single debug event.
//
// Every address the engine keeps, plants, removes or looks up is the listing's;
// CImageBoundary alone turns it into the process's, for an image the system
// has loaded elsewhere than the listing's base.
//
// Only the target's own process is ever planted. The processes it starts
// are let go at once (they then run as if never debugged, and outlive the
// run); while one still reports events, they are passed on untouched.
#pragma once

#include <vector>

#include "debugger/DebugPlatform.h"
#include "debugger/ImageBoundary.h"
#include "debugger/TraceState.h"
#include "framework/CMapPtrToPtr.h"
#include "listing/ListingRecord.h"

// --- the engine values: one set per program, written by the debug thread only ---
extern DebugEvent g_debugEvent;  // the event being handled
extern CONTEXT g_context;        // the one register record of every read and write
extern HANDLE g_hProcess;        // the target's process, from its creation event
extern HANDLE g_hMainThread;     // the target's main thread
extern DWORD g_entryAddress;     // the target's start address
extern DWORD g_lastPoint;        // address of the listed point taken last, by any thread
extern BYTE g_savedByte;         // the program's own byte at the start address, once read
extern int g_bReport;            // the current event is to be reported
extern int g_bPastEntry;         // the entry breakpoint has been taken
extern int g_nStopStage;         // 0 none; 1 quit posted, breakpoints removed; 2 terminated
extern DWORD g_dwExitCode;       // the target's exit code, once it has exited
// Debuggee thread id -> thread handle (the event's handle; not closed here).
extern CMapPtrToPtr ThreadMap;

// How long one wait for a debug event lasts, in milliseconds: requests are
// served at least this often while the debuggee is silent. Tests shorten it.
extern DWORD g_dwDebugWaitMs;
// Plant and remove one byte per memory call instead of a page at a time: the
// reference the page-wise writes are measured and compared against.
extern BOOL g_bBytewiseMemory;

enum { DEBUG_REPORT_COMMAND = 1016, DEBUG_END_COMMAND = 1017 };

class CDebugEngine {
public:
    CDebugEngine(CTraceState& state, CPointMaps& maps, IDebugPlatform& platform);
    CDebugEngine(const CDebugEngine&) = delete;
    CDebugEngine& operator=(const CDebugEngine&) = delete;

    // The debug thread's whole life: launch, the event loop until the target
    // exits or is stopped, then WM_COMMAND 1017. Returns m_bExited.
    int Run();

    // Brings m_armedKinds in line with the wanted kinds: plants the points of
    // a newly wanted kind (saving the program's own byte in each record) and
    // removes those of a kind no longer wanted, one kind at a time.
    void SyncBreakpoints();
    // A breakpoint of the target; returns 1 when the event is to be reported.
    int OnBreakpoint();
    // A single step of the target: the engine never sets the trap flag, so it
    // is the program's own and goes on to the program's handlers.
    void OnSingleStep();
    // Hands a hit or an exception to the window and waits until the window
    // has taken it.
    void ReportEvent();
    // One stage of a stop; 1 to go on with the loop, 0 to leave it.
    int StopDebuggee();

    // The state of one address, for tests: 0xCC planted, else 0.
    BOOL IsPlanted(DWORD address) const;

private:
    void ResetValues();
    BOOL IsPaused() const;
    BOOL IsStopping() const;
    void Dispatch();
    void OnTargetCreated();
    void OnOtherProcessException();
    BOOL IsTargetEvent() const;

    BOOL IsWanted(DWORD address) const;
    BOOL OwnByte(DWORD address, BYTE& own) const;
    void SetEntry(DWORD address, BYTE own, BOOL planted);
    void Sync(const int wanted[5]);
    void PlantKind(int kind);
    void RemoveKind(int kind);
    void RemoveAllBreakpoints();
    void PlantEntry();
    // Writes 0xCC at the sorted addresses, a page at a time; an address whose
    // own byte cannot be read is left alone.
    void Plant(const std::vector<DWORD>& addresses);
    // Writes the own bytes back at the sorted planted addresses.
    void Remove(const std::vector<DWORD>& addresses);
    template <typename F> void ByPage(const std::vector<DWORD>& addresses, int alone, F each);
    BOOL PlantOne(DWORD address);
    void RemoveOne(DWORD address);
    HANDLE EventThread() const;
    // FALSE, writing nothing, when the event's thread's registers cannot be read.
    BOOL Rewind(DWORD address);
    BOOL IsPending(DWORD address) const;
    void ConsumeSkip();
    void ReleasePending(DWORD dwThreadId);
    void ReleaseRunPast(DWORD dwThreadId, BOOL bRunning);
    void CaptureRegisters();
    void DetachOthers();
    BOOL ListingInImage();

    CTraceState& m_state;
    CPointMaps& m_maps;
    CImageBoundary m_image; // the system, seen in the listing's addresses
    IDebugPlatform& m_sys;  // m_image
    DWORD m_dwContinueStatus = 0;
    DWORD m_dwTimeout = 0;
    std::vector<DWORD> m_batch; // reused: an iteration allocates nothing once it has grown
    std::vector<BYTE> m_buffer;
    std::vector<DWORD> m_threads;
};
