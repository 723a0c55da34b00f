#include "app/TracerDlg.h"

CTracerApp theApp;

BOOL CTracerApp::InitInstance()
{
    CTracerDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = NULL;
    // FALSE: the program ends here instead of running a message loop.
    return FALSE;
}
