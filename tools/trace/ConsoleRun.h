// A run driven from the command line: the debug engine on the calling thread
// over the Win32 debugging interface, with the debuggee on the caller's
// console. Every report the engine hands over is taken at once: a hit is
// counted on its record as the window counts it, an exception is listed on
// standard error and passed on to the target as "Continue ..." passes it on.
// The engine's waits are cut into slices, for a time limit that ends the
// target as "Cancel Process" does, and for a progress line on standard error.
#pragma once

#include "debugger/DebugEngine.h"
#include "debugger/Win32DebugPlatform.h"

class CConsoleRun : public CWin32DebugPlatform {
public:
    // timeoutMs 0: none.
    CConsoleRun(const CString& program, const CString& commandLine, CTraceState& state, BOOL bCompare,
                DWORD timeoutMs, bool progress);

    int Launch() override;
    BOOL WaitForEvent(DebugEvent& event, DWORD dwMilliseconds) override;
    void PostCommand(UINT nID) override;

    // The progress line ended, before anything else is said.
    void EndProgress();

    BOOL m_bLaunched = FALSE;
    BOOL m_bTimedOut = FALSE;
    long m_nHits = 0;
    long m_nPointsHit = 0;

private:
    void ShowProgress(BOOL bLast);

    CTraceState& m_state;
    BOOL m_bCompare;
    DWORD m_timeoutMs;
    bool m_progress;
    DWORD m_start = 0, m_lastShown = 0;
    long m_nShownHits = 0;
    BOOL m_bShown = FALSE;
};
