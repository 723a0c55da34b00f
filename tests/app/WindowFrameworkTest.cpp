// The window framework where the dialog's own tests would miss a fault: the bounds of a control range, a window that
// outlives its object, a suspended worker thread and a chosen path the code page cannot spell. (A modal run is every
// end-to-end scenario's.)
#include "tests/app/DialogFixture.h"

namespace {

// The kind boxes and "Singl Step" (the range's ends) sync the list; during a run that raises m_bRearm.
TEST_F(TracerDialogTest, ARangeTakesBothItsEndsAndOnlyItsCode)
{
    dlg->m_bPauseOnStop = 1;
    for (int id = IDC_CALL_PTR - 1; id <= IDC_SINGLE_STEP + 1; ++id)
        for (WORD code : {BN_SETFOCUS, BN_CLICKED}) {
            dlg->m_bRearm = 0;
            ::SendMessageA(dlg->m_hWnd, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(Item(id)));
            EXPECT_EQ(dlg->m_bRearm, code == BN_CLICKED && id >= IDC_CALL_PTR && id <= IDC_SINGLE_STEP) << id << " " << code;
        }
}

// A path named in another script (Japanese here, on a Western code page) comes back in its short form, which opens
// the same file.
TEST(WindowFramework, APathOutsideTheCodePageIsGivenInAFormThatOpens)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder = std::wstring(temp) + L"korvane \x65E5\x672C\x8A9E", file = folder + L"\\prog.exe";
    ::CreateDirectoryW(folder.c_str(), NULL);
    HANDLE made = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    ::CloseHandle(made);
    const std::string path = AfxCodePagePath(file);
    HANDLE opened = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_TRUE(opened != INVALID_HANDLE_VALUE && path.find('?') == std::string::npos) << path;
    ::CloseHandle(opened);
    ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

TEST(WindowFramework, AWindowThatOutlivesItsObjectNoLongerReachesIt)
{
    ScriptedUi ui;
    CTracerDlg* dlg = new CTracerDlg;
    ASSERT_TRUE(dlg->Create(IDD_KORVANE_DIALOG));
    HWND hWnd = dlg->m_hWnd;
    delete dlg;
    // Now handled by the dialog's own procedure: a click and a close reach no table.
    ::SendMessageA(::GetDlgItem(hWnd, IDC_CALL), BM_CLICK, 0, 0);
    ::SendMessageA(hWnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(::GetWindowLongPtrA(hWnd, GWLP_USERDATA), 0);
    EXPECT_TRUE(::DestroyWindow(hWnd));
    EXPECT_TRUE(ui.MessageBoxes().empty());
}

LONG g_threadRuns;
TEST(WindowFramework, ASuspendedThreadWaitsForResumeAndKeepsItsPriority)
{
    CWinThread* thread = AfxBeginThread([](LPVOID) -> UINT { return ::InterlockedIncrement(&g_threadRuns) + 1233; }, nullptr,
                                        THREAD_PRIORITY_ABOVE_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    ::Sleep(100);
    EXPECT_EQ(g_threadRuns, 0);
    EXPECT_EQ(::GetThreadPriority(thread->m_hThread), THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(thread->ResumeThread(), 1u);
    ASSERT_EQ(::WaitForSingleObject(thread->m_hThread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    EXPECT_TRUE(::GetExitCodeThread(thread->m_hThread, &code) && code == 1234) << code;
    delete thread;
}

} // namespace
