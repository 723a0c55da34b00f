// The archive commands of the main window: save the counts of the loaded
// listing, load an archive together with its target's listing, and replay an
// archive over the current counts in compare mode. Each picks its file in a
// dialog through the one path buffer. A file that ends early ends the command
// with the framework's end-of-file error; nothing here catches it.
#include "app/TracerDlg.h"
#include "archive/HitArchive.h"
#include "archive/NewArchiveFile.h"

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace {

const char kCorrupt[] = "The file is corrupt!";

int Say(CTracerDlg& dlg, const char* text)
{
    dlg.MessageBox(text, "Message Box", MB_SETFOREGROUND);
    return 0;
}

// The initial name of a dialog: kept in `field` (its own earlier choice, else
// `other`, else the target's name in the archive folder) and copied into the
// path buffer. A name that does not fit the buffer is not proposed at all.
void ProposeArchiveName(CTracerDlg& dlg, CString& field, const CString& other, bool bStarWithoutTarget)
{
    if (field.IsEmpty()) {
        if (!other.IsEmpty()) {
            field = other;
        } else if (bStarWithoutTarget && dlg.m_strTargetName.IsEmpty()) {
            field = "*.ar";
        } else {
            CString name = dlg.m_strArchiveDir + dlg.m_strTargetName;
            field = name.Left(name.ReverseFind('.')) + ".ar";
        }
    }
    if (field.GetLength() < MAX_PATH)
        std::memcpy(g_szFileName, field.GetString(), static_cast<size_t>(field.GetLength()) + 1);
    else
        g_szFileName[0] = '\0';
}

// TRUE when the user chose a file; its full path is then in the path buffer.
BOOL ChooseArchive(CTracerDlg& dlg, BOOL bOpen, const char* title)
{
    static const char filter[] = "Arhive files (ar*)\0*.ar*\0";
    CFileDialog dialog(bOpen, NULL, NULL, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, NULL, &dlg);
    dialog.m_ofn.lpstrTitle = title;
    dialog.m_ofn.lpstrFilter = filter;
    dialog.m_ofn.nFilterIndex = 1;
    dialog.m_ofn.lpstrFile = g_szFileName;
    dialog.m_ofn.nMaxFile = MAX_PATH;
    if (dialog.DoModal() != IDOK)
        return FALSE;
    g_szFileName[MAX_PATH - 1] = '\0';
    ::Sleep(10);
    return TRUE;
}

CString FileNameOf(const CString& path)
{
    return path.Mid(path.ReverseFind('\\') + 1);
}

BOOL ListingOpen(const CTracerDlg& dlg)
{
    return dlg.m_pListing != NULL && dlg.m_hListingMapping != INVALID_HANDLE_VALUE;
}

// The mapped view covers the whole file.
DWORD ListingSize(const CTracerDlg& dlg)
{
    DWORD size = ::GetFileSize(dlg.m_hListingFile, NULL);
    return size == INVALID_FILE_SIZE ? 0 : size;
}

// The kind selection and "Singl Step" from the archive into the members, as 0 or 1.
void ReadKindSelection(CArchive& ar, CTracerDlg& dlg)
{
    LONG kinds[6];
    for (LONG& kind : kinds)
        ar >> kind;
    dlg.m_bCallPtr = kinds[0] != 0;
    dlg.m_bCall = kinds[1] != 0;
    dlg.m_bJmpPtr = kinds[2] != 0;
    dlg.m_bJmp = kinds[3] != 0;
    dlg.m_bStrData = kinds[4] != 0;
    dlg.m_bSingleStep = kinds[5] != 0;
}

// The boxes take the members; the list then follows the boxes.
void ShowKindSelection(CTracerDlg& dlg)
{
    dlg.m_chkCallPtr.SetCheck(dlg.m_bCallPtr);
    dlg.m_chkCall.SetCheck(dlg.m_bCall);
    dlg.m_chkJmpPtr.SetCheck(dlg.m_bJmpPtr);
    dlg.m_chkJmp.SetCheck(dlg.m_bJmp);
    dlg.m_chkStrData.SetCheck(dlg.m_bStrData);
    dlg.m_chkSingleStep.SetCheck(dlg.m_bSingleStep);
    dlg.SyncHitList();
}

// An archive of a listing that was generated again, or a damaged one, is
// applied only in part; the user learns it at once.
void ReportSkipped(CTracerDlg& dlg, int nSkipped)
{
    if (nSkipped == 0)
        return;
    CString text;
    text.Format("This archive does not match the listing!\nEntries skipped: %d", nSkipped);
    Say(dlg, text);
}

// Scrolls a replayed row into view (a partly visible row is enough), selects it and redraws it.
void ShowRow(CListCtrl& list, int row)
{
    list.EnsureVisible(row, TRUE);
    list.SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
    list.Update(row);
}

// The hit list drawing a replay as it goes, or, unpaced, only once it is
// over: then, also when a file that ends early cuts the replay short, the
// last replayed row is shown.
class CListDrawing {
public:
    CListDrawing(CListCtrl& list, bool bAsItGoes, const int& lastRow)
        : m_list(list), m_bAsItGoes(bAsItGoes), m_lastRow(lastRow)
    {
        if (!m_bAsItGoes)
            m_list.SetRedraw(FALSE);
    }
    ~CListDrawing()
    {
        if (m_bAsItGoes)
            return;
        m_list.SetRedraw(TRUE);
        if (m_lastRow >= 0)
            ShowRow(m_list, m_lastRow);
        m_list.Invalidate(TRUE);
    }

private:
    CListCtrl& m_list;
    bool m_bAsItGoes;
    const int& m_lastRow;
};

// The pause between the points of a paced replay, during which the window
// repaints and answers. Meanwhile the controls that would start another
// command or change the list are disabled (what a key still sends to them is
// not acted on, OnCommand), and a close or Esc ends the replay at the point
// reached; the caller acts on it once the replay is over.
class CReplayPacing {
public:
    explicit CReplayPacing(CTracerDlg& dlg) : m_dlg(dlg)
    {
        CWnd* controls[] = {&dlg.m_btnMain, &dlg.m_btnCancel, &dlg.m_btnArchive, &dlg.m_btnSave,
                            &dlg.m_btnCompareMode, &dlg.m_btnCreateMode, &dlg.m_btnSkipPoint, &dlg.m_chkCallPtr,
                            &dlg.m_chkCall, &dlg.m_chkJmpPtr, &dlg.m_chkJmp, &dlg.m_chkStrData};
        for (CWnd* control : controls) {
            m_controls.push_back({control, ::IsWindowEnabled(control->m_hWnd)});
            dlg.SetButton(control, FALSE, FALSE, NULL);
        }
        dlg.m_nReplayEnd = 0;
        dlg.m_bReplaying = TRUE;
    }
    ~CReplayPacing()
    {
        m_dlg.m_bReplaying = FALSE;
        for (const auto& [control, enabled] : m_controls)
            m_dlg.SetButton(control, enabled, FALSE, NULL);
    }
    // Waits while handling the window's messages; false when the replay is to end.
    bool Wait(DWORD dwMilliseconds)
    {
        const DWORD start = ::GetTickCount();
        for (;;) {
            MSG msg;
            while (m_dlg.m_nReplayEnd == 0 && ::PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    // Left for the loop that runs the window, which ends.
                    ::PostQuitMessage(static_cast<int>(msg.wParam));
                    return false;
                }
                if (!::IsDialogMessageA(m_dlg.m_hWnd, &msg)) {
                    ::TranslateMessage(&msg);
                    ::DispatchMessageA(&msg);
                }
            }
            if (m_dlg.m_nReplayEnd != 0)
                return false;
            DWORD waited = ::GetTickCount() - start;
            if (waited >= dwMilliseconds)
                return true;
            ::MsgWaitForMultipleObjects(0, NULL, FALSE, dwMilliseconds - waited, QS_ALLINPUT);
        }
    }

private:
    CTracerDlg& m_dlg;
    std::vector<std::pair<CWnd*, BOOL>> m_controls;
};

} // namespace

int CTracerDlg::SaveArchive()
{
    ProposeArchiveName(*this, m_strSavedArchiveName, m_strArchiveName, false);
    if (!ChooseArchive(*this, FALSE, "Save Arhive"))
        return 0;
    CString path = g_szFileName;
    m_strSavedArchiveName = FileNameOf(path);
    RepaintAll();

    // Checked first: without a listing there is nothing to save, and the
    // chosen file is not touched.
    if (!ListingOpen(*this))
        return Say(*this, kCorrupt);
    // An existing archive is held, so that no other open of it succeeds while
    // the new one is written; one that somebody else holds (a load that is
    // reading it) cannot be replaced.
    CFile existing;
    CFileException error;
    if (!existing.Open(path, CFile::modeWrite | CFile::shareExclusive, &error)
        && error.m_cause != CFileException::fileNotFound)
        return Say(*this, kCorrupt);
    CNewArchiveFile fresh;
    if (!fresh.Create(path))
        return Say(*this, kCorrupt);

    HitArchiveHeader header = {m_strTargetName, m_strTargetDir, m_strSavedArchiveName,
                               {m_bCallPtr, m_bCall, m_bJmpPtr, m_bJmp, m_bStrData, m_bSingleStep}};
    CArchive ar(&fresh.m_file, CArchive::store);
    StoreArchiveHeader(ar, header);
    StoreArchiveEntries(ar, m_mapAll, m_pListing);
    ar.Close();
    existing.Close();
    if (!fresh.Place(path))
        return Say(*this, kCorrupt);
    m_bSaved = 1;
    return 1;
}

int CTracerDlg::LoadArchive()
{
    ProposeArchiveName(*this, m_strArchiveName, m_strSavedArchiveName, true);
    if (!ChooseArchive(*this, TRUE, "Load Arhive"))
        return 0;
    CString path = g_szFileName;
    m_strArchiveName = FileNameOf(path);
    RepaintAll();

    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareExclusive))
        return Say(*this, kCorrupt);
    CArchive ar(&file, CArchive::load);
    if (!ReadArchiveSignature(ar))
        return Say(*this, "It's not an arhive file!");

    // The archive stays open, and so cannot be saved over, during the save
    // question. A save that does not happen keeps the trace: nothing is loaded.
    if (ResetTrace(1, 0) != 1)
        return 0;
    ar >> m_strTargetName >> m_strTargetDir >> m_strSavedArchiveName;
    ReadKindSelection(ar, *this);
    if (!LoadListing(1))
        return 0;
    int nSkipped = RestoreArchiveEntries(ar, m_pListing, ListingSize(*this), m_mapAll);
    ShowKindSelection(*this);
    m_bSaved = 1;
    UpdateData(FALSE);
    ReportSkipped(*this, nSkipped);
    return 1;
}

int CTracerDlg::RunArchive()
{
    ProposeArchiveName(*this, m_strArchiveName, m_strSavedArchiveName, false);
    if (!ChooseArchive(*this, TRUE, "Load Arhive for compare"))
        return 0;
    CString path = g_szFileName;
    m_strArchiveName = FileNameOf(path);
    RepaintAll();

    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareExclusive) || !ListingOpen(*this))
        return Say(*this, kCorrupt);
    CArchive ar(&file, CArchive::load);
    if (!ReadArchiveSignature(ar))
        return Say(*this, "It's not an archive file!");
    CString targetName;
    ar >> targetName;
    if (targetName != m_strTargetName)
        return Say(*this, "This archive belongs to other file!");
    // The next "Run File" starts the target from the archive's folder.
    ar >> m_strTargetDir >> m_strSavedArchiveName;
    ReadKindSelection(ar, *this);
    ShowKindSelection(*this);
    ResetHitCounts();

    // Paced, each replayed row is shown as it changes. At pacing 0 nothing
    // could be watched: the list draws once at the end, with the last
    // replayed row in view and selected, as a paced replay leaves it.
    const int speed = m_nSpeed;
    int lastRow = -1;
    int nSkipped;
    {
        CListDrawing drawing(m_listHits, speed > 0, lastRow);
        std::optional<CReplayPacing> pacing;
        if (speed > 0)
            pacing.emplace(*this);
        nSkipped = ReplayArchiveEntries(ar, m_pListing, ListingSize(*this), m_mapAll, [&](ListingRecord* record) {
            // A record of a kind that is not listed has no row; row -1 would
            // address every row of the list.
            int row = record->row;
            if (row >= 0) {
                ShowCountCells(row, TRUE);
                if (speed > 0)
                    ShowRow(m_listHits, row);
                lastRow = row;
            }
            return speed <= 0 || pacing->Wait(2 * static_cast<DWORD>(speed));
        });
    }
    m_bSaved = 0;
    UpdateData(FALSE);
    ReportSkipped(*this, nSkipped);
    return 1;
}
