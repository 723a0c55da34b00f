#include "framework/CDataExchange.h"

#include <commctrl.h>

#include "framework/CWnd.h"

static HWND Control(CDataExchange* pDX, int nIDC)
{
    return ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (rControl.m_hWnd == NULL)
        rControl.Attach(Control(pDX, nIDC));
}

void DDX_Check(CDataExchange* pDX, int nIDC, int& value)
{
    HWND control = Control(pDX, nIDC);
    if (pDX->m_bSaveAndValidate)
        value = static_cast<int>(::SendMessageA(control, BM_GETCHECK, 0, 0));
    else
        ::SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void DDX_Slider(CDataExchange* pDX, int nIDC, int& value)
{
    HWND control = Control(pDX, nIDC);
    if (pDX->m_bSaveAndValidate)
        value = static_cast<int>(::SendMessageA(control, TBM_GETPOS, 0, 0));
    else
        ::SendMessageA(control, TBM_SETPOS, TRUE, value);
}

void DDX_Check(CDataExchange* pDX, int nIDC, std::atomic<int>& value)
{
    int plain = value;
    DDX_Check(pDX, nIDC, plain);
    if (pDX->m_bSaveAndValidate)
        value = plain;
}

void DDX_Slider(CDataExchange* pDX, int nIDC, std::atomic<int>& value)
{
    int plain = value;
    DDX_Slider(pDX, nIDC, plain);
    if (pDX->m_bSaveAndValidate)
        value = plain;
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    CWnd control;
    control.Attach(Control(pDX, nIDC));
    if (pDX->m_bSaveAndValidate) {
        control.GetWindowText(value);
    } else {
        CString current;
        control.GetWindowText(current);
        if (current != value)
            control.SetWindowText(value);
    }
}
