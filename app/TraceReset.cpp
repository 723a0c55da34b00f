// The trace reset: the save question (a save that does not happen cancels
// the reset), then the listing closed in the one order that leaves no pointer
// into it behind (maps, handles, list rows, the hit record, and only then the
// view the rows read their text from), and the window back to create mode
// with the user's kind choice kept. A close keeps the listing: only the maps
// are emptied, the end of the process does the rest.
#include "app/TracerDlg.h"

int CTracerDlg::AskToSave()
{
    // Yes means the results are kept: a save that does not happen keeps them
    // here, and whatever asked does not go on.
    if (!m_bSaved && MessageBox("Would you like to save the archive?", "Korvane", MB_YESNO | MB_ICONQUESTION) == IDYES
        && SaveArchive() != 1)
        return 0;
    m_bSaved = 1;
    return 1;
}

int CTracerDlg::ResetTrace(BOOL askSave, BOOL keepListing)
{
    if (askSave && !AskToSave())
        return 0;
    m_bSaved = 1;

    // A debug thread that is still running looks addresses up in the maps and
    // plants by m_armedKinds: both stay until it has ended. Only a close that
    // could not stop the run gets here with one.
    if (!WaitForDebugThreadEnd(0))
        return 1;
    for (int& armed : m_armedKinds)
        armed = 0;
    RemoveAllPoints();
    if (keepListing)
        return 1;

    if (m_hListingMapping != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hListingMapping);
    if (m_hListingFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_hListingFile);
    m_hListingMapping = INVALID_HANDLE_VALUE;
    m_hListingFile = INVALID_HANDLE_VALUE;

    m_listHits.DeleteAllItems();

    if (askSave) {
        m_strSavedArchiveName.Empty();
        m_strArchiveName.Empty();
        m_strTargetName.Empty();
        m_strCommandLine.Empty();
        m_strTargetDir.Empty();
        if (!::SetCurrentDirectoryA(m_strArchiveDir)) {
            CString text;
            text.Format("%s\nThe directory has not found.", m_strArchiveDir.GetString());
            MessageBox(text, "Korvane", MB_ICONEXCLAMATION);
        }
    }

    m_nSpeed = 0;
    m_dwExceptionCode = 0;
    m_bExited = 0;
    m_bStopRequest = 0;
    m_bPauseOnStop = 0;
    m_bRearm = 0;
    m_bSkipPoint = 0;
    m_nHitSeq = 0;
    m_pHitRecord = NULL;
    m_pExceptionContext = NULL;
    ReleaseDebugThread();
    // The rows are gone and no hit record is left: nothing reads the view any
    // more. CloseListing finds the rest released and unmaps it.
    CloseListing();

    SetMode(0, 0);
    UpdateCaptions("dialog");
    UpdateCaptions("mode");
    SetButton(&m_btnSave, FALSE, FALSE, NULL);
    m_btnMain.SetFocus();

    // The command line and the trackbar empty; the kind boxes keep the user's choice.
    m_strArguments.Empty();
    UpdateData(FALSE);
    return 1;
}
