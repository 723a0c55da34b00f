// The debug thread of a run, seen from the dialog: its start, its procedure
// (the engine on the Win32 debugging interface) and the emergency end of its
// debuggee when the window closes.
#include <windows.h>

#include "app/TracerDlg.h"
#include "debugger/DebugEngine.h"
#include "debugger/Win32DebugPlatform.h"

static UINT DebugThreadProc(LPVOID pParam)
{
    CTracerDlg* dlg = static_cast<CTracerDlg*>(pParam);
    ::SetDebugErrorLevel(0);
    CWin32DebugPlatform platform(dlg->TargetPath(), dlg->m_strCommandLine, dlg->m_hWndDlg, dlg->m_wake);
    CDebugEngine engine(*dlg, *dlg, platform);
    return static_cast<UINT>(engine.Run());
}

int CTracerDlg::StartDebugThread()
{
    // Created suspended, so that the dialog owns the object (its handle stays
    // valid after the thread ends) before the thread can run. Its handle is
    // not inheritable: the debuggee, perhaps a hostile program, gets no
    // handle to the tracer's own thread.
    SECURITY_ATTRIBUTES security = {sizeof security, NULL, FALSE};
    m_pDebugThread = AfxBeginThread(DebugThreadProc, this, THREAD_PRIORITY_ABOVE_NORMAL, 0, CREATE_SUSPENDED, &security);
    if (m_pDebugThread == NULL)
        return 0;
    m_pDebugThread->m_bAutoDelete = FALSE;
    m_pDebugThread->ResumeThread();
    return 1;
}

void CTracerDlg::TerminateDebuggee()
{
    DWORD id = m_dwDebuggeeId;
    if (id == 0)
        return;
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, id);
    if (process != NULL) {
        ::TerminateProcess(process, 0);
        ::CloseHandle(process);
    }
}
