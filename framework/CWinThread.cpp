#include "framework/CWinThread.h"

#include <process.h>

CWinThread::~CWinThread()
{
    if (m_hThread != NULL)
        ::CloseHandle(m_hThread);
}

unsigned __stdcall CWinThread::ThreadEntry(void* pThread)
{
    CWinThread* thread = static_cast<CWinThread*>(pThread);
    UINT exitCode = thread->m_pfnThreadProc(thread->m_pThreadParams);
    if (thread->m_bAutoDelete)
        delete thread;
    return exitCode;
}

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority, UINT nStackSize,
                           DWORD dwCreateFlags, LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    CWinThread* thread = new CWinThread(pfnThreadProc, pParam);
    // Always created suspended, so that the object is complete before the thread runs.
    unsigned id = 0;
    uintptr_t handle = ::_beginthreadex(lpSecurityAttrs, nStackSize, &CWinThread::ThreadEntry, thread,
                                        CREATE_SUSPENDED, &id);
    if (handle == 0) {
        delete thread;
        return NULL;
    }
    thread->m_hThread = reinterpret_cast<HANDLE>(handle);
    thread->m_nThreadID = id;
    ::SetThreadPriority(thread->m_hThread, nPriority);
    if ((dwCreateFlags & CREATE_SUSPENDED) == 0)
        ::ResumeThread(thread->m_hThread);
    return thread;
}
