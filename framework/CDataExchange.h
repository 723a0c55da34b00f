// Dialog data exchange: moves values between a dialog's fields and its
// controls, in the direction UpdateData asks for. No validation.
#pragma once

#include <windows.h>

#include <atomic>

#include "framework/CString.h"

class CWnd;

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate; // TRUE: controls -> fields; FALSE: fields -> controls
    CWnd* m_pDlgWnd;
};

// Binds a wrapper to the dialog's control; a wrapper already bound is left alone.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
// Check state of a check box (BM_GETCHECK / BM_SETCHECK).
void DDX_Check(CDataExchange* pDX, int nIDC, int& value);
// Position of a trackbar (TBM_GETPOS / TBM_SETPOS with redraw).
void DDX_Slider(CDataExchange* pDX, int nIDC, int& value);
// The same for a value that another thread reads as well.
void DDX_Check(CDataExchange* pDX, int nIDC, std::atomic<int>& value);
void DDX_Slider(CDataExchange* pDX, int nIDC, std::atomic<int>& value);
// Text of a control; written only when it differs, so an unchanged edit keeps its caret.
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
