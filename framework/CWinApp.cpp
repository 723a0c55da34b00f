#include "framework/CWinApp.h"

#include <cstring>

static CWinApp* g_pApp = nullptr;

// The module's file name without directory and extension ("Korvane").
static void ModuleTitle(char* title, size_t size)
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(NULL, path, MAX_PATH);
    const char* name = std::strrchr(path, '\\');
    name = name ? name + 1 : path;
    std::strncpy(title, name, size - 1);
    title[size - 1] = '\0';
    if (char* dot = std::strrchr(title, '.'))
        *dot = '\0';
}

CWinApp::CWinApp(LPCSTR lpszAppName)
{
    g_pApp = this;
    m_hInstance = ::GetModuleHandleA(NULL);
    ModuleTitle(m_szModuleTitle, sizeof m_szModuleTitle);
    m_pszAppName = lpszAppName ? lpszAppName : m_szModuleTitle;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

LPCSTR AfxGetAppName()
{
    if (g_pApp != nullptr)
        return g_pApp->m_pszAppName;
    static char title[MAX_PATH] = {};
    if (title[0] == '\0')
        ModuleTitle(title, sizeof title);
    return title;
}

HINSTANCE AfxGetInstanceHandle()
{
    return g_pApp ? g_pApp->m_hInstance : ::GetModuleHandleA(NULL);
}

CWnd* AfxGetMainWnd()
{
    return g_pApp ? g_pApp->m_pMainWnd : nullptr;
}
