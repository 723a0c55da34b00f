// The command buttons, the two mode buttons, "Skip Point" and the closing of
// the window. The captions of BUT01 to BUT04 are the trace's state: every
// handler reads its own button's caption and acts on the exact text; a
// caption it does not know does nothing.
#include "app/TracerDlg.h"

#include <cstring>
#include <vector>

// How long closing the window waits for a live run's debug thread, first after
// the stop request, then once more after the debuggee has been ended.
static const DWORD closeWaitMs = 3000;

static CString Caption(const CWnd& button)
{
    CString text;
    button.GetWindowText(text);
    return text;
}

// The target's directory, where the debuggee starts. "C:" alone would name
// the drive's current directory, not its root.
static BOOL MakeTargetDirCurrent(const CString& dir)
{
    if (dir.GetLength() == 2 && dir[1] == ':')
        return ::SetCurrentDirectoryA(dir + "\\");
    return ::SetCurrentDirectoryA(dir);
}

// The kind check boxes, in the order the handlers switch them.
static void SetKindBoxes(CTracerDlg& dlg, BOOL enable)
{
    CButton* boxes[] = {&dlg.m_chkCall, &dlg.m_chkCallPtr, &dlg.m_chkJmp, &dlg.m_chkJmpPtr, &dlg.m_chkStrData};
    for (CButton* box : boxes)
        dlg.SetButton(box, enable, FALSE, NULL);
}

// A target is ready to start: from "Attach File" in create mode, or from
// "Run File" with the loaded listing and the mode as they are.
static void AttachSteps(CTracerDlg& dlg)
{
    dlg.m_bPauseOnStop = 0;
    dlg.m_bStopRequest = 0;
    // The debuggee is started by its bare name, from its own directory.
    MakeTargetDirCurrent(dlg.m_strTargetDir);
    dlg.UpdateCaptions("dialog");
    dlg.UpdateCaptions("mode");
    dlg.SetButton(&dlg.m_btnMain, TRUE, TRUE, "Start Process");
    dlg.SetButton(&dlg.m_btnCancel, TRUE, FALSE, "Cancel Process");
    dlg.SetButton(&dlg.m_btnArchive, FALSE, FALSE, NULL);
    dlg.SetButton(&dlg.m_btnSave, FALSE, FALSE, NULL);
    dlg.RepaintAll();
}

static void StartRun(CTracerDlg& dlg)
{
    dlg.m_bSaved = 0;
    dlg.m_bPauseOnStop = 1;
    dlg.m_pHitRecord = NULL;
    dlg.m_nHitSeq = 0;
    for (int& armed : dlg.m_armedKinds)
        armed = 0;
    // A skip asked for near the end of an earlier run is no request for this one.
    dlg.m_bSkipPoint = 0;
    dlg.m_bListingOutside = 0;

    dlg.UpdateData(TRUE);
    // The bare name alone; with arguments, the quoted name and the arguments as typed.
    if (!dlg.m_strArguments.IsEmpty())
        dlg.m_strCommandLine.Format("\"%s\" %s", dlg.m_strTargetName.GetString(), dlg.m_strArguments.GetString());
    else
        dlg.m_strCommandLine = dlg.m_strTargetName;
    dlg.ResetHitCounts();

    dlg.SetButton(&dlg.m_btnCompareMode, FALSE, FALSE, NULL);
    dlg.SetButton(&dlg.m_btnCreateMode, FALSE, FALSE, NULL);
    dlg.SetButton(&dlg.m_btnMain, TRUE, TRUE, "Stop Process");
    dlg.SetButton(&dlg.m_btnCancel, TRUE, FALSE, "Cancel Process");
    dlg.SetButton(&dlg.m_btnSkipPoint, TRUE, FALSE, NULL);
    dlg.SetButton(&dlg.m_btnArchive, FALSE, FALSE, NULL);
    dlg.SetButton(&dlg.m_btnSave, FALSE, FALSE, NULL);
    SetKindBoxes(dlg, FALSE);
    dlg.RepaintAll();

    // A run that cannot start ends at once: the window goes to its after-run state.
    if (!dlg.StartDebugThread())
        dlg.OnDebugEnd();
}

void CTracerDlg::OnMainButton()
{
    CString caption = Caption(m_btnMain);
    if (caption == "Attach File") {
        if (!SelectTarget())
            return;
        SetMode(0, 0);
        AttachSteps(*this);
    } else if (caption == "Run File") {
        if (m_strTargetName.IsEmpty()) {
            MessageBox("The file does not exist.", "Open File Error", MB_SETFOREGROUND);
            return;
        }
        AttachSteps(*this);
    } else if (caption == "Start Process") {
        StartRun(*this);
    } else if (caption == "Stop Process") {
        // The debug thread pauses at the end of its current iteration; no wait here.
        RequestPause();
        SetButton(&m_btnMain, TRUE, TRUE, "Continue ...");
        SetButton(&m_btnCancel, TRUE, FALSE, "Cancel Process");
        SetButton(&m_btnSave, TRUE, FALSE, NULL);
        SetKindBoxes(*this, TRUE);
        RepaintAll();
    } else if (caption == "Continue ...") {
        // The kind boxes need no reading: a change while paused went to the thread already.
        RequestContinue();
        SetButton(&m_btnMain, TRUE, TRUE, "Stop Process");
        SetButton(&m_btnCancel, TRUE, FALSE, "Cancel Process");
        SetKindBoxes(*this, FALSE);
        SetButton(&m_btnSave, FALSE, FALSE, NULL);
        RepaintAll();
    }
}

void CTracerDlg::PauseRun()
{
    if (m_bPauseOnStop && Caption(m_btnMain) == "Stop Process")
        OnMainButton();
}

void CTracerDlg::OnCancelButton()
{
    CString caption = Caption(m_btnCancel);
    if (caption == "Cancel Process") {
        if (!m_bPauseOnStop) {
            // Attached, no run: the target and its listing stay loaded.
            m_bStopRequest = 1;
            UpdateCaptions("mode");
            UpdateCaptions("dialog");
            SetButton(&m_btnArchive, TRUE, FALSE, NULL);
            SetButton(&m_btnCompareMode, TRUE, FALSE, NULL);
            SetButton(&m_btnCreateMode, TRUE, FALSE, NULL);
            m_btnMain.SetFocus();
            RepaintAll();
        } else {
            // A paused thread wakes up, sees a stop without pause and ends the
            // debuggee; the window follows when the thread's end message arrives.
            RequestEnd();
            UpdateCaptions("dialog");
            RepaintAll();
            ::Sleep(1000);
        }
    } else if (caption == "Remove All") {
        ResetTrace(1, 0);
    }
}

void CTracerDlg::OnArchiveButton()
{
    CString caption = Caption(m_btnArchive);
    if (caption == "Load Archive") {
        if (LoadArchive() != 1)
            return;
        m_bStopRequest = 1;
    } else if (caption == "Run Archive") {
        if (RunArchive() != 1)
            return;
        m_bSaved = 0;
        m_bStopRequest = 1;
    } else {
        return;
    }
    // The restored or replayed counts are the baseline of the next comparison.
    SetMode(1, 1);
    UpdateCaptions("dialog");
    UpdateCaptions("mode");
    SetButton(&m_btnSave, TRUE, FALSE, NULL);
    m_btnCompareMode.SetFocus();
    RepaintAll();
    // A close that ended a paced replay acts now, on the window as the replay
    // left it (with the save question). Esc only ends the replay: ending the
    // program too would drop the counts just replayed without a question.
    UINT end = m_nReplayEnd;
    m_nReplayEnd = 0;
    if (end == WM_CLOSE)
        ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
}

void CTracerDlg::OnSaveButton()
{
    if (SaveArchive() != 1)
        return;
    m_bSaved = 1;
    m_strArchiveName = m_strSavedArchiveName;
    UpdateCaptions("dialog");
}

// A click has toggled only the button clicked; the other one follows it, so
// the two always show opposite states and either one flips the mode.
static void ShowMode(CTracerDlg& dlg, int compare)
{
    dlg.m_bCompareMode = compare;
    dlg.m_btnCompareMode.SetCheck(compare);
    dlg.m_btnCreateMode.SetCheck(!compare);
    dlg.UpdateCaptions("mode");
}

void CTracerDlg::OnCompareMode()
{
    UpdateData(TRUE);
    ShowMode(*this, m_btnCompareMode.GetCheck() == BST_CHECKED ? 1 : 0);
}

void CTracerDlg::OnCreateMode()
{
    UpdateData(TRUE);
    ShowMode(*this, m_btnCompareMode.GetCheck() == BST_CHECKED ? 0 : 1);
}

void CTracerDlg::OnSkipPoint()
{
    UpdateData(TRUE);
    if (m_bPauseOnStop)
        m_bSkipPoint = 1;
}

// The debug thread looks addresses up in the point maps and uses the dialog
// while it runs, so a live run ends before the close empties them or the
// dialog ends: a stop without pause, the thread woken and waited for; a
// debuggee that stays silent is ended so that the thread's wait returns.
int CTracerDlg::StopLiveRun()
{
    if (m_pDebugThread == NULL)
        return 1;
    int ended = WaitForDebugThreadEnd(0);
    if (!ended) {
        RequestEnd();
        ended = WaitForDebugThreadEnd(closeWaitMs);
        if (!ended) {
            TerminateDebuggee();
            ended = WaitForDebugThreadEnd(closeWaitMs);
        }
    }
    // The stopped run's report and end messages belong to no run any more;
    // left in the queue, the save question's modal loop would hand them out.
    std::vector<MSG> others;
    MSG msg;
    while (::PeekMessageA(&msg, m_hWnd, WM_COMMAND, WM_COMMAND, PM_REMOVE))
        if (msg.wParam != ID_DEBUG_REPORT && msg.wParam != ID_DEBUG_END)
            others.push_back(msg);
    for (const MSG& other : others)
        ::PostMessageA(other.hwnd, other.message, other.wParam, other.lParam);
    return ended;
}

void CTracerDlg::OnClose()
{
    if (m_bReplaying) {
        m_nReplayEnd = WM_CLOSE;
        return;
    }
    // Asked before the run is stopped, with the run paused, so that the
    // counts hold still: a save that does not happen keeps the window open
    // and the run as it was, to be continued or saved again.
    PauseRun();
    if (!AskToSave())
        return;
    // A thread that would not end keeps its maps: ResetTrace leaves them to it,
    // and the end of the process releases them.
    StopLiveRun();
    ResetTrace(1, 1);
    CDialog::OnClose();
}

BOOL CTracerDlg::OnCommand(WPARAM wParam, LPARAM lParam)
{
    // During a paced replay keys still reach the disabled buttons, and Enter
    // and Esc the dialog: no command starts, and Esc ends the replay.
    if (m_bReplaying) {
        if (LOWORD(wParam) == IDCANCEL)
            m_nReplayEnd = WM_COMMAND;
        return TRUE;
    }
    return CDialog::OnCommand(wParam, lParam);
}

void CTracerDlg::OnCancel()
{
    StopLiveRun();
    CDialog::OnCancel();
}

int CTracerDlg::SelectTarget()
{
    static const char filter[] = "Executable files (exe, com)\0*.exe; *.com\0";

    // The proposal goes into the one path buffer only when it fits; a longer
    // name (possible from an archive) is no file the dialog could open anyway.
    if (m_strTargetName.GetLength() < MAX_PATH)
        std::memcpy(g_szFileName, m_strTargetName.GetString(), m_strTargetName.GetLength() + 1);
    else
        g_szFileName[0] = '\0';

    CFileDialog dialog(TRUE, NULL, NULL, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, NULL, this);
    dialog.m_ofn.lpstrTitle = "Open a file for show";
    dialog.m_ofn.lpstrFilter = filter;
    dialog.m_ofn.nFilterIndex = 1;
    dialog.m_ofn.lpstrFile = g_szFileName;
    dialog.m_ofn.nMaxFile = MAX_PATH;
    if (dialog.DoModal() != IDOK)
        return 0;

    // Taken now: the save question of the reset may open the save dialog,
    // which returns its own path in the same buffer.
    g_szFileName[MAX_PATH - 1] = '\0';
    CString path = g_szFileName;
    // The dialog gives a path the code page cannot spell in its short form; a
    // volume without short names leaves '?' (never part of a file name) where
    // a character was lost, and no call could open that path.
    if (path.Find('?') >= 0) {
        CString text;
        text.Format("[ %s ]\n  This path cannot be written in the system's code page !", path.GetString());
        MessageBox(text, "Open File Error", MB_SETFOREGROUND);
        return 0;
    }
    ::Sleep(10);
    // A save that does not happen keeps the previous trace, and the new target is not taken.
    if (ResetTrace(1, 0) != 1)
        return 0;

    int slash = path.ReverseFind('\\');
    m_strTargetName = path.Mid(slash + 1);
    m_strTargetName.MakeLower();
    m_strTargetDir = path.Left(slash);
    MakeTargetDirCurrent(m_strTargetDir);
    RepaintAll();
    return LoadListing(0) != 0 ? 1 : 0;
}
