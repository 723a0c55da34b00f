// A button control: push button, check box or push-like check box.
#pragma once

#include "framework/CWnd.h"

class CButton : public CWnd {
public:
    int GetCheck() const { return static_cast<int>(::SendMessageA(m_hWnd, BM_GETCHECK, 0, 0)); }
    void SetCheck(int nCheck) { ::SendMessageA(m_hWnd, BM_SETCHECK, static_cast<WPARAM>(nCheck), 0); }
    // BM_SETSTATE: drawn pushed (TRUE) or released (FALSE).
    void SetState(BOOL bHighlight) { ::SendMessageA(m_hWnd, BM_SETSTATE, static_cast<WPARAM>(bHighlight), 0); }
};
