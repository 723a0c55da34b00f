// Stand-ins until the debug engine is built: no run can start yet. "Start
// Process" then ends the run at once, so the window shows its after-run state
// with no run behind it, the same as when a debug thread cannot be created.
// This file goes when the engine brings the real StartDebugThread (whose
// thread object the dialog owns: created with m_bAutoDelete FALSE) and
// TerminateDebuggee.
#include "app/TracerDlg.h"

int CTracerDlg::StartDebugThread()
{
    m_pDebugThread = NULL;
    MessageBox("The process was not started: this build of Korvane has no debug engine yet.", "Korvane",
               MB_ICONEXCLAMATION);
    return 0;
}

void CTracerDlg::TerminateDebuggee()
{
    // No run, no debuggee.
}
