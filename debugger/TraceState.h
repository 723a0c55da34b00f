// The fields through which the window's thread and the debug thread talk:
// requests left by the window and polled by the debug loop once per
// iteration, and what the loop hands back for a report. Both threads use them
// at any time, so each is atomic; they read and assign like plain values.
// The main dialog inherits them, so they are its members. A paused debug
// thread, or one waiting for its report to be taken, sleeps on m_wake: the
// requests below change the fields first and then wake it, so any driver of
// a run (the window, or one without a window) pauses, continues and ends it
// with the same calls.
#pragma once

#include <atomic>

#include "debugger/WakeSignal.h"
#include "framework/PlatformTypes.h"
#include "listing/ListingRecord.h"

struct CTraceState {
    // Set by the window's thread.
    std::atomic<int> m_bStopRequest{0}; // halt request
    std::atomic<int> m_bPauseOnStop{0}; // a run is live: a halt pauses it (0: ends the debuggee)
    std::atomic<int> m_bRearm{0};       // bring the planted kinds in line with the wanted ones
    std::atomic<int> m_bSkipPoint{0};   // do not plant the last point taken again
    std::atomic<int> m_nSpeed{0};       // trackbar position; each report waits m_nSpeed x 10 ms
    // The wanted kinds, check boxes 1006 to 1010.
    std::atomic<int> m_bCallPtr{0};
    std::atomic<int> m_bCall{0};
    std::atomic<int> m_bJmpPtr{0};
    std::atomic<int> m_bJmp{0};
    std::atomic<int> m_bStrData{1};

    // Set by the debug thread.
    std::atomic<int> m_bExited{0};             // the debuggee's process has exited
    std::atomic<DWORD> m_dwExceptionCode{0};   // exception of the current event, 0 for none
    std::atomic<CONTEXT*> m_pExceptionContext{nullptr};
    std::atomic<ListingRecord*> m_pHitRecord{nullptr};
    std::atomic<int> m_nHitSeq{0};             // run-wide number of the latest counted hit
    // 1 from the posting of a report until the window has taken it; the debug
    // thread waits for that, and the window lets go exactly that report.
    std::atomic<int> m_bReportPending{0};
    std::atomic<int> m_bPaused{0};             // the debug thread waits in a pause
    std::atomic<DWORD> m_dwDebuggeeId{0};      // process id of the live run's debuggee, 0 when none
    // The target's image base less the listing's, 0 where it lies at the listing's base.
    std::atomic<DWORD> m_dwImageShift{0};
    // The reported exception's address in the listing's terms (the registers are the process's).
    std::atomic<DWORD> m_dwFaultAddress{0};
    // No listed address lies in the target's memory: nothing could be planted.
    std::atomic<int> m_bListingOutside{0};
    // A thread that could not be put back onto its breakpoint (its registers
    // could not be read) and the breakpoint's address: the run was ended for
    // it, since that thread cannot go on correctly. 0 when none.
    std::atomic<DWORD> m_dwUnrewoundThread{0};
    std::atomic<DWORD> m_dwUnrewoundAt{0};

    CWakeSignal m_wake;

    // "Stop Process": the debug thread pauses at the end of its iteration.
    void RequestPause() { m_bStopRequest = 1; }
    // "Continue ...": the stop request withdrawn.
    void RequestContinue()
    {
        m_bStopRequest = 0;
        m_wake.Wake();
    }
    // "Cancel Process", or the end of a live run: the debuggee is stopped,
    // whether the run is paused or not.
    void RequestEnd()
    {
        m_bPauseOnStop = 0;
        m_bStopRequest = 1;
        m_wake.Wake();
    }
    // The report handed over has been taken: the debug thread goes on. Once
    // per report; nothing when none is pending.
    void ReleaseReport()
    {
        if (m_bReportPending.exchange(0))
            m_wake.Wake();
    }

    // The reported hit counted on its record, as the run's driver takes the
    // report: Num becomes the hit's run-wide number, Hits one more and, in
    // compare mode, Comp one less. The record, or NULL when none was reported.
    ListingRecord* CountReportedHit(BOOL bCompareMode)
    {
        ListingRecord* record = m_pHitRecord;
        if (record != nullptr) {
            record->num = m_nHitSeq;
            record->hits += 1;
            if (bCompareMode)
                record->comp -= 1;
        }
        return record;
    }

    // The wanted flag of kind index 0..4 (Call Ptr, Call, Jmp Ptr, Jmp, Str Data).
    int WantedKind(int index) const
    {
        const std::atomic<int>* flags[5] = {&m_bCallPtr, &m_bCall, &m_bJmpPtr, &m_bJmp, &m_bStrData};
        return *flags[index] != 0;
    }
};
