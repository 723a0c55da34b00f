#include "tools/trace/ConsoleRun.h"

#include <algorithm>
#include <cstdio>

#include "debugger/ExceptionReport.h"

namespace {

// How often the progress line is renewed, and the longest wait between looks
// at it while the target is silent.
const DWORD kProgressMs = 500;

} // namespace

CConsoleRun::CConsoleRun(const CString& program, const CString& commandLine, CTraceState& state, BOOL bCompare,
                         DWORD timeoutMs, bool progress)
    : CWin32DebugPlatform(program, commandLine, NULL, state.m_wake, launchDebuggee | launchCallersConsole),
      m_state(state), m_bCompare(bCompare), m_timeoutMs(timeoutMs), m_progress(progress)
{
}

int CConsoleRun::Launch()
{
    m_start = m_lastShown = ::GetTickCount();
    m_bLaunched = CWin32DebugPlatform::Launch();
    return m_bLaunched;
}

BOOL CConsoleRun::WaitForEvent(DebugEvent& event, DWORD dwMilliseconds)
{
    const DWORD slice = m_progress ? kProgressMs : dwMilliseconds;
    for (DWORD waited = 0;;) {
        DWORD now = ::GetTickCount();
        if (m_timeoutMs != 0 && !m_bTimedOut && now - m_start >= m_timeoutMs) {
            // Served on this iteration as a cancel is: a wait that timed out.
            m_bTimedOut = TRUE;
            EndProgress();
            std::fprintf(stderr,
                         "korvane-trace: the time limit of %.3g s has run out: the target is ended as "
                         "\"Cancel Process\" ends it\n",
                         m_timeoutMs / 1000.0);
            m_state.RequestEnd();
            return FALSE;
        }
        DWORD wait = std::min(slice, dwMilliseconds - waited);
        if (m_timeoutMs != 0 && !m_bTimedOut)
            wait = std::min(wait, m_timeoutMs - (now - m_start));
        if (CWin32DebugPlatform::WaitForEvent(event, wait))
            return TRUE;
        waited += ::GetTickCount() - now;
        ShowProgress(FALSE);
        if (waited >= dwMilliseconds)
            return FALSE;
    }
}

void CConsoleRun::PostCommand(UINT nID)
{
    if (nID != DEBUG_REPORT_COMMAND)
        return;
    if (m_state.m_dwExceptionCode != 0) {
        EndProgress();
        std::fprintf(stderr, "korvane-trace: exception in the target, passed on to it:\n%s\n",
                     FormatRegisterReport(m_state.m_dwExceptionCode, m_state.m_pExceptionContext,
                                          m_state.m_dwImageShift, m_state.m_dwFaultAddress)
                         .GetString());
    } else if (ListingRecord* record = m_state.CountReportedHit(m_bCompare)) {
        ++m_nHits;
        if (record->hits == 1)
            ++m_nPointsHit;
        // The clock is read only now and then: a hit costs little more than its events.
        if (m_progress && (m_nHits & 0xFF) == 0)
            ShowProgress(FALSE);
    }
    m_state.ReleaseReport();
}

void CConsoleRun::EndProgress()
{
    if (m_bShown)
        ShowProgress(TRUE);
    m_bShown = FALSE;
}

void CConsoleRun::ShowProgress(BOOL bLast)
{
    DWORD now = ::GetTickCount();
    if (!m_progress || (!bLast && now - m_lastShown < kProgressMs))
        return;
    double seconds = (now - m_lastShown) / 1000.0;
    double rate = seconds > 0 ? (m_nHits - m_nShownHits) / seconds : 0;
    std::fprintf(stderr, "\rkorvane-trace: %ld hits, %.0f hits/s, %ld points hit   %s", m_nHits, rate, m_nPointsHit,
                 bLast ? "\n" : "");
    std::fflush(stderr);
    m_lastShown = now;
    m_nShownHits = m_nHits;
    m_bShown = TRUE;
}
