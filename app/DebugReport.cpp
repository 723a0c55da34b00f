// The debug thread's report, on the window's thread: a hit is counted and
// shown and the thread let go at once; an exception is shown with the
// faulting thread's registers and the run stays paused.
#include "app/ExceptionReport.h"
#include "app/TracerDlg.h"

enum { colNum, colHits, colComp };
enum { followTimer = 1, followMs = 100 };

void CTracerDlg::OnDebugReport()
{
    DWORD code = m_dwExceptionCode;
    if (code != 0) {
        MessageBox(FormatRegisterReport(code, m_pExceptionContext), "Korvane - Exception Breakpoint!",
                   MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
        // As if the user had pressed the main button: "Stop Process" pauses,
        // and the thread waits for "Continue ..." or "Cancel Process".
        OnMainButton();
        return;
    }

    ListingRecord* record = m_pHitRecord;
    if (record != NULL) {
        record->num = m_nHitSeq;
        record->hits += 1;
        if (m_bCompareMode)
            record->comp -= 1;
        // A point of a kind that is not listed is counted, but has no row to show it.
        int row = record->row;
        if (row >= 0) {
            CString text;
            text.Format("%d", static_cast<int>(record->num));
            m_listHits.SetItemText(row, colNum, text);
            text.Format("%d", static_cast<int>(record->hits));
            m_listHits.SetItemText(row, colHits, text);
            if (m_bCompareMode) {
                text.Format("%d", static_cast<int>(record->comp));
                m_listHits.SetItemText(row, colComp, text);
            }
            if (!m_bFollowPending) {
                m_bFollowPending = TRUE;
                SetTimer(followTimer, followMs);
            }
        }
    }
    ResumeReportingThread();
}

void CTracerDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent == followTimer)
        FollowLatestHit();
}

void CTracerDlg::FollowLatestHit()
{
    KillTimer(followTimer);
    m_bFollowPending = FALSE;
    const ListingRecord* record = m_pHitRecord;
    if (record == NULL || record->row < 0)
        return;
    m_listHits.EnsureVisible(record->row, TRUE);
    m_listHits.SetItemState(record->row, LVIS_SELECTED, LVIS_SELECTED);
}

void CTracerDlg::ResumeReportingThread()
{
    if (m_pDebugThread == NULL)
        return;
    // The report may come before the thread has suspended itself: it is resumed
    // once it has, unless it ended or someone else let it go first. It is
    // about to: the first tries only yield, so that a hit costs no timer tick.
    HANDLE thread = m_pDebugThread->m_hThread;
    for (int tries = 0; m_bReportPending && ::WaitForSingleObject(thread, 0) == WAIT_TIMEOUT; ++tries) {
        if (::ResumeThread(thread) == 1)
            return;
        ::Sleep(tries < 100 ? 0 : 1);
    }
}
