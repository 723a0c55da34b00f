// A dialog built from a template resource, modal (DoModal) or modeless (Create).
// Its window procedure is DefDlgProc, subclassed so that the message table
// sees every message; what the table does not handle goes on to DefDlgProc.
// Defaults: IDOK -> OnOK (UpdateData(TRUE), EndDialog(IDOK)); IDCANCEL
// (Esc, WM_CLOSE through DefDlgProc) -> OnCancel (EndDialog(IDCANCEL)).
#pragma once

#include "framework/CDataExchange.h"
#include "framework/CWnd.h"

class CDialog : public CWnd {
public:
    CDialog(UINT nIDTemplate, CWnd* pParentWnd = NULL);

    // Runs the dialog modally (DialogBoxParamA); returns the EndDialog result, -1 on failure.
    virtual INT_PTR DoModal();
    // Creates the dialog modeless (tests); the template's WS_VISIBLE shows it.
    BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = NULL);
    void EndDialog(int nResult);

    // TRUE: controls -> fields; FALSE: fields -> controls. Always returns TRUE.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // Runs UpdateData(FALSE); returns TRUE so that the system sets the focus.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

protected:
    virtual void DoDataExchange(CDataExchange* pDX);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};
