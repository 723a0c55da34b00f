#include "framework/CDialog.h"

#include <commctrl.h>

#include "framework/CWinApp.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

// The list view and the trackbar live in the common controls library.
static void InitCommonControlsOnce()
{
    static bool done = false;
    if (done)
        return;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&icc);
    done = true;
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM /*wParam*/, LPARAM lParam)
{
    // Every message but the first reaches the object through AfxWndProc;
    // DefDlgProc calls this procedure only for its own default handling.
    if (message != WM_INITDIALOG)
        return FALSE;
    CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
    dialog->SubclassCreated(hWnd);
    return dialog->OnInitDialog();
}

INT_PTR CDialog::DoModal()
{
    InitCommonControlsOnce();
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : NULL;
    return ::DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), parent, &DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    InitCommonControlsOnce();
    m_nIDTemplate = nIDTemplate;
    m_pParentWnd = pParentWnd;
    HWND parent = pParentWnd ? pParentWnd->m_hWnd : NULL;
    HWND hWnd = ::CreateDialogParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(nIDTemplate), parent, &DialogProc,
                                     reinterpret_cast<LPARAM>(this));
    return hWnd != NULL;
}

void CDialog::EndDialog(int nResult)
{
    ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange* /*pDX*/) {}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}
