// The hit list: one row per point of the ticked kinds. A row's item data is
// its record in the mapped listing; the record's `row` is the row's index
// (-1 when not listed), renewed by every change that moves rows.
#include "app/TracerDlg.h"

enum { colNum, colHits, colComp, colEip, colDisasm };

static ListingRecord* RecordOf(const CListCtrl& list, int row)
{
    return reinterpret_cast<ListingRecord*>(list.GetItemData(row));
}

// -1, 0 or 1, without the overflow of a subtraction.
template <typename T> static int Order(T a, T b)
{
    return (a > b) - (a < b);
}

void CTracerDlg::WriteCounts(int row, const ListingRecord* record, BOOL bWithComp)
{
    const LONG values[] = {record->num, record->hits, record->comp};
    for (int column = colNum; column <= (bWithComp ? colComp : colHits); ++column) {
        CString text;
        text.Format("%d", static_cast<int>(values[column]));
        m_listHits.SetItemText(row, column, text);
    }
}

void CTracerDlg::SetCountCells(int row, const ListingRecord* record)
{
    // A record shows its counts only once a breakpoint or an archive has given it a saved byte.
    if (record->savedByte != 0) {
        WriteCounts(row, record, TRUE);
        return;
    }
    for (int column = colNum; column <= colComp; ++column)
        m_listHits.SetItemText(row, column, "");
}

void CTracerDlg::AddKindRows(CMapPtrToPtr& map)
{
    int n = m_listHits.GetItemCount();
    m_listHits.SetItemCount(n + map.GetCount());
    m_listHits.SetRedraw(FALSE);
    POSITION pos = map.GetStartPosition();
    while (pos != NULL) {
        void* address;
        void* value;
        map.GetNextAssoc(pos, address, value);
        ListingRecord* record = static_cast<ListingRecord*>(value);
        int row = m_listHits.InsertItem(n, "", reinterpret_cast<LPARAM>(record));
        if (row < 0) {
            record->row = -1;
            continue;
        }
        // A new row's cells are empty already; only real counts need writing.
        if (record->savedByte != 0)
            SetCountCells(row, record);
        m_listHits.SetItemText(row, colEip, LPSTR_TEXTCALLBACKA);
        m_listHits.SetItemText(row, colDisasm, LPSTR_TEXTCALLBACKA);
        record->row = row;
        n = row + 1;
    }
    m_listHits.SetRedraw(TRUE);
    m_listHits.EnsureVisible(n - 1, TRUE);
}

void CTracerDlg::RemoveKindRows(CMapPtrToPtr& map)
{
    POSITION pos = map.GetStartPosition();
    while (pos != NULL) {
        void* address;
        void* value;
        map.GetNextAssoc(pos, address, value);
        static_cast<ListingRecord*>(value)->row = -1;
    }
    // The unlisted rows sort behind all others, which keep their order; then
    // they go from the end, where deleting moves no other row.
    m_listHits.SortItems(&CompareHitRows, static_cast<DWORD_PTR>(-1));
    m_listHits.SetRedraw(FALSE);
    for (int last = m_listHits.GetItemCount() - 1; last >= 0 && RecordOf(m_listHits, last)->row == -1; --last)
        m_listHits.DeleteItem(last);
    m_listHits.SetRedraw(TRUE);
    int selected = RenumberRows();
    if (selected >= 0)
        m_listHits.EnsureVisible(selected, FALSE);
}

int CTracerDlg::RenumberRows()
{
    int selected = -1;
    int count = m_listHits.GetItemCount();
    for (int i = 0; i < count; ++i) {
        RecordOf(m_listHits, i)->row = i;
        if (m_listHits.GetItemState(i, LVIS_SELECTED) & LVIS_SELECTED)
            selected = i;
    }
    return selected;
}

void CTracerDlg::SyncHitList()
{
    m_bRearm = 1;
    UpdateData(TRUE);
    CButton* boxes[] = {&m_chkCall, &m_chkCallPtr, &m_chkJmp, &m_chkJmpPtr, &m_chkStrData};
    for (CButton* box : boxes)
        SetButton(box, FALSE, FALSE, NULL);
    RepaintAll();

    // The list keeps its own record of the kinds it shows; m_armedKinds is the
    // debug engine's record of what is planted, which a stopped run empties
    // while the rows stay. An empty list shows no kind, whatever came before
    // (a reset deletes every row).
    if (m_listHits.GetItemCount() == 0)
        for (int& listed : m_listedKinds)
            listed = 0;
    const int wanted[5] = {m_bCallPtr, m_bCall, m_bJmpPtr, m_bJmp, m_bStrData};
    for (int kind = 0; kind < 5; ++kind) {
        int want = wanted[kind] != 0;
        if (want == m_listedKinds[kind])
            continue;
        m_listedKinds[kind] = want;
        if (want)
            AddKindRows(KindMap(kind));
        else
            RemoveKindRows(KindMap(kind));
    }
    // During a run the debug thread plants and removes breakpoints to match
    // the wanted kinds, and lowers m_bRearm when done.
    if (!m_bPauseOnStop)
        m_bRearm = 0;

    for (CButton* box : boxes)
        SetButton(box, TRUE, FALSE, NULL);
    RepaintAll();
}

int CTracerDlg::ResetHitCounts()
{
    int count = m_listHits.GetItemCount();
    // Drawn once at the end: a cell drawn as it changes costs four times as much.
    m_listHits.SetRedraw(FALSE);
    for (int i = 0; i < count; ++i) {
        ListingRecord* record = RecordOf(m_listHits, i);
        record->num = 0;
        m_listHits.SetItemText(i, colNum, "");
        if (m_bCompareMode) {
            // The run is compared with the counts the row shows; an empty cell
            // (counts left in the file by an earlier session) compares with 0.
            CString hits = m_listHits.GetItemText(i, colHits);
            m_listHits.SetItemText(i, colComp, hits);
            record->comp = hits.IsEmpty() ? 0 : record->hits;
        } else {
            m_listHits.SetItemText(i, colComp, "");
            record->comp = 0;
        }
        record->hits = 0;
        m_listHits.SetItemText(i, colHits, "");
    }
    m_listHits.SetRedraw(TRUE);
    m_listHits.Invalidate(TRUE);
    return count;
}

int CALLBACK CTracerDlg::CompareHitRows(LPARAM a, LPARAM b, LPARAM key)
{
    const ListingRecord* ra = reinterpret_cast<const ListingRecord*>(a);
    const ListingRecord* rb = reinterpret_cast<const ListingRecord*>(b);
    switch (static_cast<int>(key)) {
    case colNum:
        return Order(ra->num, rb->num);
    case colHits:
        return Order(rb->hits, ra->hits);
    case colComp:
        return Order(rb->comp, ra->comp);
    case colEip:
        return Order(ra->addr, rb->addr);
    case colDisasm:
        return ::lstrcmpiA(ra->text, rb->text);
    case -1:
        // Listed rows (row >= 0) give 0, unlisted ones (-1) give 255.
        return static_cast<int>(static_cast<DWORD>(ra->row) >> 24) - static_cast<int>(static_cast<DWORD>(rb->row) >> 24);
    default:
        return 0;
    }
}

void CTracerDlg::OnListNotify(NMHDR* pNMHDR)
{
    if (pNMHDR->code == LVN_GETDISPINFOA) {
        // The address and the disassembly are read from the mapped listing, never copied.
        NMLVDISPINFOA* info = reinterpret_cast<NMLVDISPINFOA*>(pNMHDR);
        if ((info->item.mask & LVIF_TEXT) == 0)
            return;
        if (info->item.iSubItem == colEip)
            info->item.pszText = RecordOf(m_listHits, info->item.iItem)->addrText;
        else if (info->item.iSubItem == colDisasm)
            info->item.pszText = RecordOf(m_listHits, info->item.iItem)->text;
    } else if (pNMHDR->code == LVN_COLUMNCLICK) {
        NMLISTVIEW* click = reinterpret_cast<NMLISTVIEW*>(pNMHDR);
        m_listHits.SortItems(&CompareHitRows, static_cast<DWORD_PTR>(click->iSubItem));
        int row = RenumberRows();
        const ListingRecord* hit = m_pHitRecord;
        if (row < 0)
            row = (hit != NULL && hit->row >= 0) ? hit->row : 0;
        m_listHits.EnsureVisible(row, FALSE);
    }
}

void CTracerDlg::OnSpeedReleased(NMHDR* /*pNMHDR*/, LRESULT* pResult)
{
    UpdateData(TRUE);
    *pResult = 0;
}
