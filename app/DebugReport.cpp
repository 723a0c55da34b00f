// The debug thread's report, on the window's thread: a hit is counted and
// the thread let go at once; an exception is shown with the faulting thread's
// registers and the run stays paused. The hits' rows are brought up to date
// at most every showMs: a fast run reaches thousands of hits a second, and
// writing cells or scrolling for each would cost more than the hit itself.
#include "debugger/ExceptionReport.h"
#include "app/TracerDlg.h"

#include <algorithm>

enum { showTimer = 1, showMs = 100 };

void CTracerDlg::OnDebugReport()
{
    DWORD code = m_dwExceptionCode;
    if (code != 0) {
        ShowHits(); // the list as it stands when the run pauses
        MessageBox(FormatRegisterReport(code, m_pExceptionContext, m_dwImageShift, m_dwFaultAddress), "Korvane - Exception Breakpoint!",
                   MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
        // The run stays paused, and the thread waits for "Continue ..." or
        // "Cancel Process": a running run pauses as "Stop Process" pauses it;
        // one the user paused before the report came stays as it is. The
        // report itself is let go only now, so the pause is asked for first.
        PauseRun();
        ResumeReportingThread();
        return;
    }

    ListingRecord* record = CountReportedHit(m_bCompareMode);
    if (record != NULL) {
        // A point of a kind that is not listed is counted, but has no row to show it.
        if (record->row >= 0) {
            if (m_shownHits.empty() || m_shownHits.back() != record)
                m_shownHits.push_back(record);
            if (m_shownHits.size() == 1)
                SetTimer(showTimer, showMs);
        }
    }
    ResumeReportingThread();
}

void CTracerDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == showTimer)
        ShowHits();
}

void CTracerDlg::ShowHits()
{
    KillTimer(showTimer);
    std::vector<ListingRecord*> records;
    records.swap(m_shownHits);
    std::sort(records.begin(), records.end());
    records.erase(std::unique(records.begin(), records.end()), records.end());
    for (const ListingRecord* record : records)
        if (record->row >= 0) {
            ShowCountCells(record->row, m_bCompareMode);
            m_listHits.RedrawItems(record->row, record->row);
        }
    // The latest hit's row in view and selected.
    const ListingRecord* latest = m_pHitRecord;
    if (!records.empty() && latest != NULL && latest->row >= 0) {
        m_listHits.EnsureVisible(latest->row, TRUE);
        m_listHits.SetItemState(latest->row, LVIS_SELECTED, LVIS_SELECTED);
    }
}

void CTracerDlg::ResumeReportingThread()
{
    // Whether the thread already waits or is about to, the wake-up is kept;
    // a report let go already (the run stopped meanwhile) is not let go twice.
    ReleaseReport();
}
