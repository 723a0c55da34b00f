// A worker thread started by AfxBeginThread.
//
// The thread object is deleted, and its handle closed, when the thread
// procedure returns, unless m_bAutoDelete is cleared first (create the thread
// with CREATE_SUSPENDED, clear it, then ResumeThread; the owner then deletes
// the object, which closes the handle, after the thread has ended).
#pragma once

#include <windows.h>

typedef UINT (*AFX_THREADPROC)(LPVOID pParam);

class CWinThread {
public:
    ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    DWORD ResumeThread() { return ::ResumeThread(m_hThread); }
    DWORD SuspendThread() { return ::SuspendThread(m_hThread); }

    HANDLE m_hThread = NULL;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;

private:
    CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam) : m_pfnThreadProc(pfnThreadProc), m_pThreadParams(pParam) {}
    static unsigned __stdcall ThreadEntry(void* pThread);

    AFX_THREADPROC m_pfnThreadProc;
    LPVOID m_pThreadParams;

    friend CWinThread* AfxBeginThread(AFX_THREADPROC, LPVOID, int, UINT, DWORD, LPSECURITY_ATTRIBUTES);
};

// Starts pfnThreadProc(pParam) on a new thread with the given priority
// (THREAD_PRIORITY_...), stack size (0: the default) and security attributes.
// dwCreateFlags CREATE_SUSPENDED leaves it suspended until ResumeThread.
// Returns the thread object, or NULL when the thread could not be created.
CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                           int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                           DWORD dwCreateFlags = 0, LPSECURITY_ATTRIBUTES lpSecurityAttrs = NULL);
