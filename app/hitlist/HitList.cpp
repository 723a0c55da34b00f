// The hit list: one row per point of the ticked kinds. The list holds no rows
// of its own (owner data): the dialog keeps the listed records in display
// order and answers every cell when the list asks, so adding, removing,
// sorting and resetting cost work on a vector and one redraw of what is on
// screen, however long the list. Each listed record's `row` is its index
// (-1 when not listed), renewed by every change that moves rows.
#include "app/TracerDlg.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

enum { colNum, colHits, colComp, colEip, colDisasm };

// -1, 0 or 1, without the overflow of a subtraction.
template <typename T> static int Order(T a, T b)
{
    return (a > b) - (a < b);
}

// The order of CompareHitRows by Disasm (lstrcmpiA: the thread's locale, case
// ignored) from one sort key per row, compared as bytes: a comparison of two
// texts converts both to Unicode first, and a sort makes n log n of them.
// False, rows untouched, when a key cannot be made.
static bool SortByText(std::vector<CTracerDlg::HitRow>& rows)
{
    const LCID locale = ::GetThreadLocale();
    std::vector<BYTE> keys, key(256);
    std::vector<UINT> starts; // row i's key is keys[starts[i]] up to starts[i + 1]
    starts.reserve(rows.size() + 1);
    // Room for about a key per row (two bytes a character and a few more): the
    // keys rarely outgrow it, and a sort takes little memory beyond them.
    size_t room = 0;
    for (const CTracerDlg::HitRow& row : rows)
        room += 2 * std::strlen(row.record->text) + 6;
    keys.reserve(room);
    for (const CTracerDlg::HitRow& row : rows) {
        int size;
        while ((size = ::LCMapStringA(locale, LCMAP_SORTKEY | NORM_IGNORECASE, row.record->text, -1,
                                      reinterpret_cast<LPSTR>(key.data()), static_cast<int>(key.size()))) == 0 &&
               ::GetLastError() == ERROR_INSUFFICIENT_BUFFER)
            key.resize(key.size() * 2);
        if (size == 0)
            return false;
        starts.push_back(static_cast<UINT>(keys.size()));
        keys.insert(keys.end(), key.begin(), key.begin() + size);
    }
    starts.push_back(static_cast<UINT>(keys.size()));

    std::vector<UINT> order(rows.size());
    for (UINT i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](UINT a, UINT b) {
        const UINT lengthA = starts[a + 1] - starts[a], lengthB = starts[b + 1] - starts[b];
        const int c = std::memcmp(&keys[starts[a]], &keys[starts[b]], std::min(lengthA, lengthB));
        return c < 0 || (c == 0 && lengthA < lengthB);
    });
    // Freed before the rows are copied, to keep the sort's peak low.
    std::vector<BYTE>().swap(keys);
    std::vector<UINT>().swap(starts);
    std::vector<CTracerDlg::HitRow> sorted;
    sorted.reserve(rows.size());
    for (UINT i : order)
        sorted.push_back(rows[i]);
    rows.swap(sorted);
    return true;
}

ListingRecord* CTracerDlg::RowRecord(int row) const
{
    return row >= 0 && static_cast<size_t>(row) < m_hitRows.size() ? m_hitRows[row].record : NULL;
}

void CTracerDlg::ShowCountCells(int row, BOOL bWithComp)
{
    m_hitRows[row].shows |= bWithComp ? showCounts | showComp : showCounts;
}

void CTracerDlg::ShowRowCount()
{
    // The list keeps its scroll position; each change scrolls as it needs.
    m_listHits.SetItemCountEx(static_cast<int>(m_hitRows.size()), LVSICF_NOSCROLL);
}

void CTracerDlg::AddKindRows(CMapPtrToPtr& map)
{
    m_hitRows.reserve(m_hitRows.size() + map.GetCount());
    POSITION pos = map.GetStartPosition();
    while (pos != NULL) {
        void* address;
        void* value;
        map.GetNextAssoc(pos, address, value);
        ListingRecord* record = static_cast<ListingRecord*>(value);
        record->row = static_cast<LONG>(m_hitRows.size());
        // A record shows its counts only once a breakpoint or an archive has given it a saved byte.
        m_hitRows.push_back({record, static_cast<BYTE>(record->savedByte != 0 ? showCounts | showComp : 0)});
    }
    ShowRowCount();
    m_listHits.EnsureVisible(static_cast<int>(m_hitRows.size()) - 1, TRUE);
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
    // The unlisted rows sort behind all others, which keep their order.
    int selected = SortHitRows(-1);
    if (selected >= 0)
        m_listHits.EnsureVisible(selected, FALSE);
}

int CTracerDlg::SortHitRows(int key)
{
    // The list keeps selection and focus by index: they are taken off the
    // rows here and put back on the rows of the same records once sorted.
    // (By the indices the list knows: a removed kind's records have row -1 already.)
    std::vector<ListingRecord*> selected;
    UINT count = m_listHits.GetSelectedCount();
    for (int i = -1; selected.size() < count && (i = m_listHits.GetNextItem(i, LVNI_SELECTED)) >= 0;) {
        selected.push_back(RowRecord(i));
        m_listHits.SetItemState(i, 0, LVIS_SELECTED);
    }
    const int focusedRow = m_listHits.GetNextItem(-1, LVNI_FOCUSED);
    ListingRecord* focused = RowRecord(focusedRow);
    if (focused != NULL)
        m_listHits.SetItemState(focusedRow, 0, LVIS_FOCUSED);

    if (key != colDisasm || !SortByText(m_hitRows))
        std::stable_sort(m_hitRows.begin(), m_hitRows.end(), [key](const HitRow& a, const HitRow& b) {
            return CompareHitRows(reinterpret_cast<LPARAM>(a.record), reinterpret_cast<LPARAM>(b.record), key) < 0;
        });
    while (!m_hitRows.empty() && m_hitRows.back().record->row == -1)
        m_hitRows.pop_back();
    for (size_t i = 0; i < m_hitRows.size(); ++i)
        m_hitRows[i].record->row = static_cast<LONG>(i);
    ShowRowCount();

    int last = -1;
    for (const ListingRecord* record : selected)
        if (record != NULL && record->row >= 0) {
            m_listHits.SetItemState(record->row, LVIS_SELECTED, LVIS_SELECTED);
            last = std::max(last, static_cast<int>(record->row));
        }
    if (focused != NULL && focused->row >= 0)
        m_listHits.SetItemState(focused->row, LVIS_FOCUSED, LVIS_FOCUSED);
    return last;
}

void CTracerDlg::ClearHitRows()
{
    for (const HitRow& entry : m_hitRows)
        entry.record->row = -1;
    m_hitRows.clear();
    m_hitRows.shrink_to_fit();
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
    if (m_hitRows.empty())
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
    for (HitRow& entry : m_hitRows) {
        ListingRecord* record = entry.record;
        record->num = 0;
        // In compare mode the run is compared with the hits the row shows; an
        // empty cell (counts left in the file by an earlier session) compares with 0.
        const bool hitsShown = (entry.shows & showCounts) != 0;
        record->comp = m_bCompareMode && hitsShown ? record->hits : 0;
        entry.shows = m_bCompareMode && hitsShown ? showComp : 0;
        record->hits = 0;
    }
    m_listHits.Invalidate(TRUE);
    return static_cast<int>(m_hitRows.size());
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

int CTracerDlg::FindRow(const NMLVFINDITEMA& find) const
{
    // Typing in the list finds a row by its Num cell, as a list that holds
    // its texts finds it by its first column.
    const LVFINDINFOA& info = find.lvfi;
    if ((info.flags & (LVFI_STRING | LVFI_PARTIAL)) == 0 || info.psz == NULL)
        return -1;
    const int length = lstrlenA(info.psz), count = static_cast<int>(m_hitRows.size());
    const int start = find.iStart >= 0 && find.iStart < count ? find.iStart : 0;
    const int end = (info.flags & LVFI_WRAP) ? start + count : count;
    for (int i = start; i < end; ++i) {
        const HitRow& entry = m_hitRows[i % count];
        char num[16] = "";
        if (entry.shows & showCounts)
            std::snprintf(num, sizeof num, "%d", static_cast<int>(entry.record->num));
        const int numLength = lstrlenA(num);
        if ((info.flags & LVFI_PARTIAL) ? numLength >= length : numLength == length)
            if (::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, num, length, info.psz, length) == CSTR_EQUAL)
                return i % count;
    }
    return -1;
}

BOOL CTracerDlg::OnListNotify(NMHDR* pNMHDR, LRESULT* pResult)
{
    if (pNMHDR->code == LVN_ODFINDITEMA || pNMHDR->code == LVN_ODFINDITEMW) {
        NMLVFINDITEMA find = *reinterpret_cast<NMLVFINDITEMA*>(pNMHDR);
        // Wide from a list that speaks Unicode to every parent: the typed text in the code page.
        char text[MAX_PATH] = "";
        if (pNMHDR->code == LVN_ODFINDITEMW) {
            const LPCWSTR wide = reinterpret_cast<NMLVFINDITEMW*>(pNMHDR)->lvfi.psz;
            if (wide != NULL && (find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) != 0)
                ::WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text - 1, NULL, NULL);
            find.lvfi.psz = text;
        }
        *pResult = FindRow(find);
        return TRUE;
    }
    if (pNMHDR->code == LVN_GETDISPINFOA) {
        NMLVDISPINFOA* info = reinterpret_cast<NMLVDISPINFOA*>(pNMHDR);
        LVITEMA& item = info->item;
        const ListingRecord* record = RowRecord(item.iItem);
        if ((item.mask & LVIF_TEXT) == 0 || record == NULL)
            return FALSE;
        const BYTE shows = m_hitRows[item.iItem].shows;
        switch (item.iSubItem) {
        case colNum:
        case colHits:
        case colComp: {
            // Written into the list's own buffer: the numbers are not kept as text.
            const LONG values[] = {record->num, record->hits, record->comp};
            const bool shown = (shows & (item.iSubItem == colComp ? showComp : showCounts)) != 0;
            if (item.pszText == NULL || item.cchTextMax <= 0)
                break;
            if (shown)
                std::snprintf(item.pszText, static_cast<size_t>(item.cchTextMax), "%d", static_cast<int>(values[item.iSubItem]));
            else
                item.pszText[0] = '\0';
            break;
        }
        // The address and the disassembly are read from the mapped listing, never copied.
        case colEip:
            item.pszText = const_cast<char*>(record->addrText);
            break;
        case colDisasm:
            item.pszText = const_cast<char*>(record->text);
            break;
        }
    } else if (pNMHDR->code == LVN_DELETEALLITEMS) {
        // The trace reset empties the list; its records go with the listing.
        ClearHitRows();
    } else if (pNMHDR->code == LVN_COLUMNCLICK) {
        NMLISTVIEW* click = reinterpret_cast<NMLISTVIEW*>(pNMHDR);
        int row = SortHitRows(click->iSubItem);
        const ListingRecord* hit = m_pHitRecord;
        if (row < 0)
            row = (hit != NULL && hit->row >= 0) ? hit->row : 0;
        m_listHits.EnsureVisible(row, FALSE);
    }
    return FALSE;
}

void CTracerDlg::OnSpeedReleased(NMHDR* /*pNMHDR*/, LRESULT* pResult)
{
    UpdateData(TRUE);
    *pResult = 0;
}

void CTracerDlg::OnListingLoaded(int forArchive)
{
    // An archive load lists the points itself, once it has restored the counts.
    if (forArchive == 0)
        SyncHitList();
}

void CTracerDlg::ForgetListing()
{
    if (m_listHits.m_hWnd != NULL)
        m_listHits.DeleteAllItems();
    for (int& listed : m_listedKinds)
        listed = 0;
    m_pHitRecord = NULL;
    m_shownHits.clear();
}
