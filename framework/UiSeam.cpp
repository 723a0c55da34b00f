#include "framework/UiSeam.h"

#include "framework/CWinApp.h"
#include "framework/CWnd.h"

static IUiSeam* g_pSeam = nullptr;

IUiSeam* AfxSetUiSeam(IUiSeam* seam)
{
    IUiSeam* previous = g_pSeam;
    g_pSeam = seam;
    return previous;
}

int AfxShowMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (g_pSeam != nullptr)
        return g_pSeam->MessageBox(owner, text, caption, type);
    return ::MessageBoxA(owner, text, caption, type);
}

BOOL AfxShowFileDialog(BOOL open, OPENFILENAMEA& ofn)
{
    if (g_pSeam != nullptr)
        return g_pSeam->FileDialog(open, ofn);
    return open ? ::GetOpenFileNameA(&ofn) : ::GetSaveFileNameA(&ofn);
}

int AfxMessageBox(LPCSTR text, UINT nType, UINT /*nIDHelp*/)
{
    if ((nType & MB_ICONMASK) == 0) {
        switch (nType & MB_TYPEMASK) {
        case MB_OK:
        case MB_OKCANCEL:
            nType |= MB_ICONEXCLAMATION;
            break;
        case MB_YESNO:
        case MB_YESNOCANCEL:
            nType |= MB_ICONQUESTION;
            break;
        default:
            break;
        }
    }
    CWnd* main = AfxGetMainWnd();
    return AfxShowMessageBox(main ? main->m_hWnd : NULL, text, AfxGetAppName(), nType);
}
