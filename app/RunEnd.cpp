// The end of a run, seen from the window: the debug thread's end message, and
// the thread object, which the dialog owns so that its handle stays valid for
// as long as the window may still wait on it.
#include "debugger/ExceptionReport.h"
#include "app/TracerDlg.h"

// The debug thread posts its end message just before it returns.
static const DWORD releaseWaitMs = 5000;

void CTracerDlg::OnDebugEnd()
{
    ::Sleep(1000);
    ReleaseDebugThread();
    ShowHits();
    m_bPauseOnStop = 0;
    m_bStopRequest = 1;
    // The loop ended without the process-exit event while an exception was pending.
    if (m_bExited == 0 && m_dwExceptionCode != 0)
        MessageBox(FormatRegisterReport(m_dwExceptionCode, m_pExceptionContext, m_dwImageShift, m_dwFaultAddress),
                   "The process has terminated abnormally!", MB_SETFOREGROUND);
    // Said once the run is over, with nothing counted to contradict it.
    if (m_bListingOutside)
        MessageBox(FormatListingOutside(m_strTargetName), "The listing does not fit the program", MB_SETFOREGROUND);
    // The debug thread ended the run: a thread it could not put back onto
    // its breakpoint would have run on from inside the instruction.
    if (m_dwUnrewoundThread != 0)
        MessageBox(FormatUnrewound(m_dwUnrewoundThread, m_dwUnrewoundAt), "The process has terminated abnormally!",
                   MB_SETFOREGROUND | MB_ICONEXCLAMATION);
    ::SetActiveWindow(m_hWnd);

    // After a run the next one is compared with its counts.
    SetMode(1, 1);
    UpdateCaptions("dialog");
    UpdateCaptions("mode");
    SetButton(&m_btnArchive, TRUE, FALSE, NULL);
    SetButton(&m_btnSave, TRUE, FALSE, NULL);
    SetButton(&m_btnSkipPoint, FALSE, FALSE, NULL);
    CButton* boxes[] = {&m_chkCallPtr, &m_chkCall, &m_chkJmpPtr, &m_chkJmp, &m_chkStrData};
    for (CButton* box : boxes)
        SetButton(box, TRUE, FALSE, NULL);
    m_btnCompareMode.SetFocus();
    RepaintAll();
}

int CTracerDlg::WaitForDebugThreadEnd(DWORD dwMilliseconds)
{
    if (m_pDebugThread == NULL)
        return 1;
    HANDLE thread = m_pDebugThread->m_hThread;
    const DWORD slice = 20;
    for (DWORD waited = 0;; waited += slice) {
        if (::WaitForSingleObject(thread, 0) != WAIT_TIMEOUT)
            return 1;
        if (waited >= dwMilliseconds)
            return 0;
        // A thread waiting (on a report that no one will take now, in a
        // pause) checks its requests again.
        ReleaseReport();
        m_wake.Wake();
        ::WaitForSingleObject(thread, slice);
    }
}

void CTracerDlg::ReleaseDebugThread()
{
    if (m_pDebugThread == NULL)
        return;
    // Never delete the object under a thread that still runs; that cannot
    // happen once its end message has come, and every reset comes after it.
    if (WaitForDebugThreadEnd(releaseWaitMs))
        delete m_pDebugThread;
    m_pDebugThread = NULL;
}
