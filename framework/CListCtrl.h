// A list-view control (report style), driven through its LVM_ messages.
// Texts are ANSI.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/CString.h"
#include "framework/CWnd.h"

class CListCtrl : public CWnd {
public:
    // nSubItem -1: the column gets no LVCF_SUBITEM. Returns the column's index or -1.
    int InsertColumn(int nCol, LPCSTR heading, int nFormat = LVCFMT_LEFT, int nWidth = -1, int nSubItem = -1);
    // Width in pixels of the text in the list's font (LVM_GETSTRINGWIDTHA).
    int GetStringWidth(LPCSTR text) const;

    // An owner-data list asks its parent for every cell (LVN_GETDISPINFO).
    CString GetItemText(int nItem, int nSubItem) const;
    UINT GetItemState(int nItem, UINT mask) const;
    BOOL SetItemState(int nItem, UINT state, UINT mask);
    // LVM_GETNEXTITEM: the next row after nItem (-1: from the start) with the LVNI_ flags, or -1.
    int GetNextItem(int nItem, int nFlags) const;
    UINT GetSelectedCount() const;

    int GetItemCount() const;
    // LVM_SETITEMCOUNT of an owner-data list: it has that many rows (LVSICF_ flags).
    void SetItemCountEx(int nItems, DWORD dwFlags);
    BOOL DeleteAllItems();

    BOOL EnsureVisible(int nItem, BOOL bPartialOK);
    BOOL RedrawItems(int nFirst, int nLast);
    // The first row on screen, and how many rows the list shows whole.
    int GetTopIndex() const;
    int GetCountPerPage() const;
    BOOL Update(int nItem);
    // WM_SETREDRAW: no drawing while many rows change.
    void SetRedraw(BOOL bRedraw);
};
