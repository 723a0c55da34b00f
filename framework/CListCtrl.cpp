#include "framework/CListCtrl.h"

#include <string>

int CListCtrl::InsertColumn(int nCol, LPCSTR heading, int nFormat, int nWidth, int nSubItem)
{
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT | LVCF_FMT;
    column.fmt = nFormat;
    column.pszText = const_cast<LPSTR>(heading);
    if (nWidth != -1) {
        column.mask |= LVCF_WIDTH;
        column.cx = nWidth;
    }
    if (nSubItem != -1) {
        column.mask |= LVCF_SUBITEM;
        column.iSubItem = nSubItem;
    }
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_INSERTCOLUMNA, nCol, reinterpret_cast<LPARAM>(&column)));
}

int CListCtrl::GetStringWidth(LPCSTR text) const
{
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(text)));
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const
{
    // LVM_GETITEMTEXTA returns the length copied; grow until the text fits.
    std::string buffer(256, '\0');
    for (;;) {
        LVITEMA item = {};
        item.iSubItem = nSubItem;
        item.pszText = &buffer[0];
        item.cchTextMax = static_cast<int>(buffer.size());
        int length = static_cast<int>(::SendMessageA(m_hWnd, LVM_GETITEMTEXTA, nItem, reinterpret_cast<LPARAM>(&item)));
        if (length < static_cast<int>(buffer.size()) - 1)
            return CString(item.pszText, length);
        buffer.resize(buffer.size() * 2);
    }
}

UINT CListCtrl::GetItemState(int nItem, UINT mask) const
{
    return static_cast<UINT>(::SendMessageA(m_hWnd, LVM_GETITEMSTATE, nItem, mask));
}

BOOL CListCtrl::SetItemState(int nItem, UINT state, UINT mask)
{
    LVITEMA item = {};
    item.state = state;
    item.stateMask = mask;
    return static_cast<BOOL>(::SendMessageA(m_hWnd, LVM_SETITEMSTATE, nItem, reinterpret_cast<LPARAM>(&item)));
}

int CListCtrl::GetNextItem(int nItem, int nFlags) const
{
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_GETNEXTITEM, nItem, MAKELPARAM(nFlags, 0)));
}

UINT CListCtrl::GetSelectedCount() const
{
    return static_cast<UINT>(::SendMessageA(m_hWnd, LVM_GETSELECTEDCOUNT, 0, 0));
}

int CListCtrl::GetItemCount() const
{
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_GETITEMCOUNT, 0, 0));
}

void CListCtrl::SetItemCountEx(int nItems, DWORD dwFlags)
{
    ::SendMessageA(m_hWnd, LVM_SETITEMCOUNT, nItems, dwFlags);
}

BOOL CListCtrl::DeleteAllItems()
{
    return static_cast<BOOL>(::SendMessageA(m_hWnd, LVM_DELETEALLITEMS, 0, 0));
}

BOOL CListCtrl::EnsureVisible(int nItem, BOOL bPartialOK)
{
    return static_cast<BOOL>(::SendMessageA(m_hWnd, LVM_ENSUREVISIBLE, nItem, bPartialOK));
}

BOOL CListCtrl::RedrawItems(int nFirst, int nLast)
{
    return static_cast<BOOL>(::SendMessageA(m_hWnd, LVM_REDRAWITEMS, nFirst, nLast));
}

int CListCtrl::GetTopIndex() const
{
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_GETTOPINDEX, 0, 0));
}

int CListCtrl::GetCountPerPage() const
{
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_GETCOUNTPERPAGE, 0, 0));
}

BOOL CListCtrl::Update(int nItem)
{
    return static_cast<BOOL>(::SendMessageA(m_hWnd, LVM_UPDATE, nItem, 0));
}

void CListCtrl::SetRedraw(BOOL bRedraw)
{
    ::SendMessageA(m_hWnd, WM_SETREDRAW, bRedraw, 0);
}
