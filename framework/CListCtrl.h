// A list-view control (report style), driven through its LVM_ messages.
// Texts are ANSI; LPSTR_TEXTCALLBACKA may be passed as a subitem text.
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

    // Inserts a row with the text of column 0 and its item data in one message;
    // returns its index or -1.
    int InsertItem(int nItem, LPCSTR text, LPARAM data);
    BOOL SetItemText(int nItem, int nSubItem, LPCSTR text);
    CString GetItemText(int nItem, int nSubItem) const;
    BOOL SetItemData(int nItem, DWORD_PTR data);
    DWORD_PTR GetItemData(int nItem) const;
    UINT GetItemState(int nItem, UINT mask) const;
    BOOL SetItemState(int nItem, UINT state, UINT mask);

    int GetItemCount() const;
    // LVM_SETITEMCOUNT: room for that many rows.
    void SetItemCount(int nItems);
    BOOL DeleteItem(int nItem);
    BOOL DeleteAllItems();
    // LVM_SORTITEMS: pfnCompare gets the item data of two rows and data.
    BOOL SortItems(PFNLVCOMPARE pfnCompare, DWORD_PTR data);

    BOOL EnsureVisible(int nItem, BOOL bPartialOK);
    BOOL RedrawItems(int nFirst, int nLast);
    // The first row on screen, and how many rows the list shows whole.
    int GetTopIndex() const;
    int GetCountPerPage() const;
    BOOL Update(int nItem);
    // WM_SETREDRAW: no drawing while many rows change.
    void SetRedraw(BOOL bRedraw);
};
