// The application object and the main dialog, which owns every piece of the
// trace's state: the controls, the user's choices, the point maps of the
// mapped listing, the listing's handles and the fields through which the
// window and the debug thread talk (polled fields and a wake-up, CTraceState).
#pragma once

#include <vector>

#include "debugger/TraceState.h"
#include "framework/Afx.h"
#include "listing/ListingGeneration.h"
#include "listing/ListingRecord.h"
#include "resources/resource.h"

// The program's one path buffer: the start directory at start-up, then the
// initial name and the returned path of every file dialog.
extern char g_szFileName[MAX_PATH];

class CTracerApp : public CWinApp {
public:
    // Runs the main dialog modally; FALSE, so the program ends when it closes.
    BOOL InitInstance() override;
};

class CTracerDlg : public CDialog, public CTargetListing, public CTraceState {
public:
    enum { IDD = IDD_KORVANE_DIALOG };

    explicit CTracerDlg(CWnd* pParent = NULL);
    ~CTracerDlg() override;

    // --- control wrappers, bound by DoDataExchange ---
    CButton m_chkStrData;
    CButton m_chkJmp;
    CButton m_chkJmpPtr;
    CButton m_chkCall;
    CButton m_chkCallPtr;
    CButton m_btnSkipPoint;
    CEdit m_editCommandLine;
    CButton m_btnCreateMode;
    CButton m_chkSingleStep;
    CButton m_btnCompareMode;
    CListCtrl m_listHits;
    CButton m_btnSave;      // BUT04
    CButton m_btnArchive;   // BUT03
    CButton m_btnCancel;    // BUT02
    CButton m_btnMain;      // BUT01

    // --- values (the listing's names, handles and view, m_armedKinds and the
    // six point maps come from CTargetListing; the
    // fields shared with the debug thread, the wanted kinds and the trackbar's
    // m_nSpeed among them, from CTraceState) ---
    int m_bSingleStep = 0;
    int m_bCompareMode = 0;      // set by InitMainWindow
    int m_bSaved = 1;            // 0: the save question is due
    HWND m_hWndDlg = NULL;       // where the debug thread posts its commands
    // The dialog owns it: StartDebugThread creates it with m_bAutoDelete FALSE,
    // so that it outlives the thread; ReleaseDebugThread deletes it.
    CWinThread* m_pDebugThread = NULL;
    CString m_strCommandLine;
    CString m_strArchiveName;
    CString m_strSavedArchiveName;
    CString m_strTargetDir;      // no trailing backslash
    // The target's full path: the one file a run starts.
    CString TargetPath() const { return m_strTargetDir + "\\" + m_strTargetName; }
    CString m_strArguments;
    HICON m_hIcon = NULL;

    // The kinds whose rows the hit list holds (Call Ptr, Call, Jmp Ptr, Jmp,
    // Str Data). Kept apart from m_armedKinds, which records what the debug
    // engine has planted: a stopped run removes every breakpoint while the
    // rows stay, and the list must not add them a second time.
    int m_listedKinds[5] = {0, 0, 0, 0, 0};

    // --- start-up and the routines every handler changes the window with ---
    BOOL OnInitDialog() override;
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;
    int InitMainWindow();
    // Enables or disables by style (no WM_ENABLE), optionally focuses, sets the
    // caption (NULL: rewrites the current one) and flashes the button. Returns 1.
    int SetButton(CWnd* control, BOOL enable, BOOL focus, const char* caption);
    // "dialog": the window title; "mode": the mode captions. 1, or 0 for any other text.
    int UpdateCaptions(const char* what);
    int SetMode(BOOL compare, BOOL enable);
    int RepaintAll();
    void OnPaint();
    HCURSOR OnQueryDragIcon();

    // --- hit list ---
    // A row of the list: its record, and which count cells show numbers (they
    // are emptied and filled at other times than the numbers change).
    enum { showCounts = 1, showComp = 2 }; // Num and Hits; Comp
    struct HitRow {
        ListingRecord* record;
        BYTE shows;
    };
    std::vector<HitRow> m_hitRows; // in display order
    // The record of a row, or NULL.
    ListingRecord* RowRecord(int row) const;
    void SyncHitList();
    int ResetHitCounts();
    // LVM_SORTITEMS callback: a and b are two rows' records, key the column (-1: removal order).
    static int CALLBACK CompareHitRows(LPARAM a, LPARAM b, LPARAM key);
    // TRUE when it answered the notification in *pResult.
    BOOL OnListNotify(NMHDR* pNMHDR, LRESULT* pResult);
    // LVN_ODFINDITEM: the row found, or -1.
    int FindRow(const NMLVFINDITEMA& find) const;
    void OnSpeedReleased(NMHDR* pNMHDR, LRESULT* pResult);

    // --- command buttons and the trace state ---
    void OnMainButton();
    void OnCancelButton();
    void OnArchiveButton();
    void OnSaveButton();
    void OnCompareMode();
    void OnCreateMode();
    void OnSkipPoint();
    void OnClose();
    int SelectTarget();
    // 1 when nothing unsaved stands in the way any more: nothing was unsaved,
    // the user gave it up, or it was saved; 0 when the save was cancelled or
    // failed, and what asked must not go on.
    int AskToSave();
    // 1 done, 0 cancelled by the save question (nothing changed).
    int ResetTrace(BOOL askSave, BOOL keepListing);
    // A running run pauses as "Stop Process" pauses it; a paused one, or one
    // being cancelled, stays as it is.
    void PauseRun();

    // --- listing (OpenListing, LoadListing, CloseListing: CTargetListing) ---
    HWND ListingOwner() const override { return m_hWnd; }
    // A listing loaded for an attach (forArchive 0) is listed at once.
    void OnListingLoaded(int forArchive) override;
    // The hit list's rows and m_pHitRecord point into the view.
    void ForgetListing() override;

    // Esc: a live run is stopped first, as for a close.
    void OnCancel() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    // Ends a live run before the window closes: a stop without pause, the
    // thread waited for (its debuggee ended if it stays silent), and its
    // reports still queued dropped. 1 when no debug thread runs any more.
    int StopLiveRun();

    // --- commands posted by the debug thread ---
    void OnDebugReport();
    void OnDebugEnd();
    // Lets the debug thread go on once its report has been taken.
    void ResumeReportingThread();
    // Writes the counts of the records hit since the last time into their
    // rows, and scrolls the latest hit's row into view and selects it.
    void ShowHits();
    // The row's Num and Hits (and Comp, if asked) show their numbers from now
    // on; the caller redraws the row.
    void ShowCountCells(int row, BOOL bWithComp);
    void OnTimer(UINT_PTR nIDEvent);
    std::vector<ListingRecord*> m_shownHits; // hit, not yet shown

    // --- the debug thread, seen from the window ---
    int StartDebugThread(); // 1 when the thread runs
    // Ends the live run's debuggee, so that a debug thread waiting for its events wakes up.
    void TerminateDebuggee();
    // 1 when no debug thread runs (none, or it ended within dwMilliseconds);
    // one that waits meanwhile (a report, a pause) is woken, so that it runs on to its end.
    int WaitForDebugThreadEnd(DWORD dwMilliseconds);
    // Deletes the object of the ended debug thread; m_pDebugThread becomes NULL.
    void ReleaseDebugThread();

    // --- archives: 1 done, 0 cancelled or failed (after a message) ---
    int SaveArchive();
    int LoadArchive();
    int RunArchive();
    // A paced replay lets the window answer between its points. Meanwhile a
    // close or Esc only ends it, leaving its message here (WM_CLOSE, or
    // WM_COMMAND for Esc) to be posted again once the replay is over.
    BOOL m_bReplaying = FALSE;
    UINT m_nReplayEnd = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override;

private:
    void AddKindRows(CMapPtrToPtr& map);
    void RemoveKindRows(CMapPtrToPtr& map);
    // Stable sort by a CompareHitRows key, unlisted rows (key -1) dropped from
    // the end; selection and focus stay with their records. Returns the last
    // selected row, or -1.
    int SortHitRows(int key);
    // The list's row count from m_hitRows.
    void ShowRowCount();
    // Empties m_hitRows; its records become unlisted.
    void ClearHitRows();

    DECLARE_MESSAGE_MAP()
};
