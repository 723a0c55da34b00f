// A window: the HWND and the calls the program makes on it. Windows created
// by the framework (dialogs) are subclassed so that their messages reach the
// class's message table; control wrappers only hold the handle.
#pragma once

#include <windows.h>

#include "framework/CString.h"
#include "framework/MessageMap.h"

class CWnd {
public:
    CWnd() = default;
    // A window that outlives its object gets its own procedure back, so no
    // message reaches the dead object; the window itself stays.
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = NULL;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // Binds the wrapper to an existing window (no subclassing); Detach returns the handle.
    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach() { HWND h = m_hWnd; m_hWnd = NULL; return h; }

    void SetWindowText(LPCSTR text);
    void GetWindowText(CString& text) const;
    // Changes GWL_STYLE directly: no WM_ENABLE, no repaint (nFlags: SWP_ flags for a frame update).
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT nFlags = 0);
    DWORD GetStyle() const;
    void SetFocus();
    void Invalidate(BOOL bErase = TRUE);
    void UpdateWindow();
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // WM_SETICON; returns the previous icon.
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    BOOL IsIconic() const;
    void GetClientRect(LPRECT rect) const;
    // The child with that id, as a wrapper owned by the framework (valid while
    // the child lives), or NULL.
    CWnd* GetDlgItem(int nID) const;
    // MessageBoxA owned by this window, through the UI seam (framework/UiSeam.h).
    int MessageBox(LPCSTR text, LPCSTR caption = NULL, UINT type = MB_OK);
    BOOL DestroyWindow();
    // A WM_TIMER for this window every nElapse ms (SetTimer without a procedure).
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse);
    BOOL KillTimer(UINT_PTR nIDEvent);

    // --- message handling (windows the framework created) ---
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_MSGMAP* GetThisMessageMap();

    // Routes one message: the table first, the window's previous procedure otherwise.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // WM_COMMAND: TRUE when an entry of the table handled it.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // WM_NOTIFY: TRUE when an ON_NOTIFY entry handled it; its result in *pResult.
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // The previous window procedure for this message (DefDlgProc for dialogs).
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Default handling of the message being dispatched.
    LRESULT Default();

    // Default handlers that a derived class calls from its own.
    void OnPaint() { Default(); }
    void OnClose() { Default(); }

protected:
    // Routes the window's messages to this object from now on.
    void SubclassCreated(HWND hWnd);
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);

private:
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    WNDPROC m_pfnSuper = NULL;
    MSG m_currentMsg = {};
};

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
