// The one application object. Its constructor registers it; the framework's
// WinMain (AfxWinMain.cpp, linked into the program) calls InitInstance, which
// for a dialog application runs the main dialog modally and returns FALSE:
// the program then ends without a message loop of its own.
#pragma once

#include <windows.h>

class CWnd;

class CWinApp {
public:
    // With no name the application's title is the module's file name without extension.
    explicit CWinApp(LPCSTR lpszAppName = NULL);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();

    CWnd* m_pMainWnd = NULL;
    LPCSTR m_pszAppName = NULL; // the title of AfxMessageBox
    HINSTANCE m_hInstance = NULL;

private:
    char m_szModuleTitle[MAX_PATH] = {};
};

// The registered application object, or NULL (test programs have none).
CWinApp* AfxGetApp();
// The application's title; without an application object, the module's file name without extension.
LPCSTR AfxGetAppName();
// The module whose resources the dialogs and icons come from: the program itself.
HINSTANCE AfxGetInstanceHandle();
// The application's main window, or NULL.
CWnd* AfxGetMainWnd();
