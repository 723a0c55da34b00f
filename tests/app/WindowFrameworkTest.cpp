// The window framework: message tables, data exchange, modal and modeless
// dialogs, the UI seam, file dialogs, list controls and worker threads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/app/DialogFixture.h"

namespace {

// A dialog on the tracer's template with a table of its own.
class ProbeDlg : public CDialog {
public:
    ProbeDlg() : CDialog(IDD_KORVANE_DIALOG) {}

    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_CALL, m_box);
        DDX_Check(pDX, IDC_CALL, m_check);
        DDX_Slider(pDX, IDC_SPEED, m_pos);
        DDX_Text(pDX, IDC_COMMAND_LINE, m_text);
    }
    BOOL OnInitDialog() override
    {
        BOOL result = CDialog::OnInitDialog();
        if (m_postOnInit != 0)
            PostMessage(WM_COMMAND, m_postOnInit, 0);
        if (m_escapeOnInit)
            ::PostMessageA(::GetDlgItem(m_hWnd, IDC_COMMAND_LINE), WM_KEYDOWN, VK_ESCAPE, 0);
        return result;
    }

    void OnMain() { calls.push_back("main"); }
    void OnRange() { calls.push_back("range"); }
    void OnPosted() { calls.push_back("posted"); }
    void OnSpeed(NMHDR* header, LRESULT* pResult)
    {
        calls.push_back("speed " + std::to_string(header->idFrom));
        *pResult = 7;
    }
    void OnClose()
    {
        calls.push_back("close");
        CDialog::OnClose();
    }

    std::vector<std::string> calls;
    CButton m_box;
    int m_check = 0;
    int m_pos = 0;
    CString m_text;
    WPARAM m_postOnInit = 0;
    bool m_escapeOnInit = false;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeDlg, CDialog)
    ON_BN_CLICKED(IDC_MAIN_BUTTON, OnMain)
    ON_CONTROL_RANGE(BN_CLICKED, IDC_CALL_PTR, IDC_STR_DATA, OnRange)
    ON_COMMAND(ID_DEBUG_REPORT, OnPosted)
    ON_NOTIFY(NM_RELEASEDCAPTURE, IDC_SPEED, OnSpeed)
    ON_WM_CLOSE()
END_MESSAGE_MAP()

int CALLBACK Descending(LPARAM a, LPARAM b, LPARAM sign)
{
    return static_cast<int>(sign) * (*reinterpret_cast<int*>(b) - *reinterpret_cast<int*>(a));
}

class FrameworkTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (probe.m_hWnd != NULL)
            probe.DestroyWindow();
        PumpMessages();
    }
    void Open() { ASSERT_TRUE(probe.Create(IDD_KORVANE_DIALOG)); }
    HWND Item(int id) { return ::GetDlgItem(probe.m_hWnd, id); }
    LRESULT Notify(int id, UINT code)
    {
        NMHDR header = {Item(id), static_cast<UINT_PTR>(id), code};
        return ::SendMessageA(probe.m_hWnd, WM_NOTIFY, id, reinterpret_cast<LPARAM>(&header));
    }

    ScriptedUi ui;
    ProbeDlg probe;
};

TEST_F(FrameworkTest, TableRoutesCommandsRangesPostedCommandsAndNotifications)
{
    Open();
    ::SendMessageA(Item(IDC_MAIN_BUTTON), BM_CLICK, 0, 0);
    for (int id = IDC_CALL_PTR; id <= IDC_SINGLE_STEP; ++id) // 1011 lies outside the range
        ::SendMessageA(Item(id), BM_CLICK, 0, 0);
    ::SendMessageA(Item(IDC_SAVE_BUTTON), BM_CLICK, 0, 0); // no entry
    probe.PostMessage(WM_COMMAND, ID_DEBUG_REPORT, 0);
    EXPECT_EQ(probe.calls.size(), 6u) << "the posted command waits for the message loop";
    PumpMessages();
    EXPECT_EQ(Notify(IDC_SPEED, NM_RELEASEDCAPTURE), 7);
    Notify(IDC_SPEED, NM_CLICK);               // other code
    Notify(IDC_HIT_LIST, NM_RELEASEDCAPTURE);  // other control

    std::vector<std::string> expected = {"main", "range", "range", "range", "range", "range", "posted", "speed 1012"};
    EXPECT_EQ(probe.calls, expected);
}

TEST_F(FrameworkTest, CloseRunsTheHandlerThenTheDefaultCancel)
{
    Open();
    ASSERT_TRUE(::IsWindowVisible(probe.m_hWnd));
    ::SendMessageA(probe.m_hWnd, WM_CLOSE, 0, 0);
    PumpMessages();
    EXPECT_EQ(probe.calls, std::vector<std::string>{"close"});
    EXPECT_FALSE(::IsWindowVisible(probe.m_hWnd)) << "EndDialog(IDCANCEL) hides a modeless dialog";
}

TEST(DialogObject, AWindowThatOutlivesItsObjectNoLongerReachesIt)
{
    ProbeDlg* probe = new ProbeDlg;
    ASSERT_TRUE(probe->Create(IDD_KORVANE_DIALOG));
    HWND hWnd = probe->m_hWnd;
    delete probe;
    // Handled by the dialog's own procedure now: a click and a close reach no table.
    ::SendMessageA(::GetDlgItem(hWnd, IDC_MAIN_BUTTON), BM_CLICK, 0, 0);
    ::SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("still here"));
    char text[32] = {};
    ::GetWindowTextA(hWnd, text, sizeof text);
    EXPECT_STREQ(text, "still here");
    EXPECT_EQ(::GetWindowLongPtrA(hWnd, GWLP_USERDATA), 0);
    EXPECT_TRUE(::DestroyWindow(hWnd));
    PumpMessages();
}

TEST_F(FrameworkTest, DataExchangeMovesValuesBothWaysAndBindsOnce)
{
    probe.m_check = 1;
    probe.m_pos = 42;
    probe.m_text = "a b \"c\"";
    Open(); // OnInitDialog writes the fields into the controls
    EXPECT_EQ(::SendMessageA(Item(IDC_CALL), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(::SendMessageA(Item(IDC_SPEED), TBM_GETPOS, 0, 0), 42);
    char text[64] = {};
    ::GetWindowTextA(Item(IDC_COMMAND_LINE), text, sizeof text);
    EXPECT_STREQ(text, "a b \"c\"");
    EXPECT_EQ(probe.m_box.m_hWnd, Item(IDC_CALL));

    ::SendMessageA(Item(IDC_CALL), BM_SETCHECK, BST_UNCHECKED, 0);
    ::SendMessageA(Item(IDC_SPEED), TBM_SETPOS, TRUE, 100);
    ::SetWindowTextA(Item(IDC_COMMAND_LINE), "");
    probe.m_box.m_hWnd = Item(IDC_JMP); // bound already: left alone
    EXPECT_TRUE(probe.UpdateData(TRUE));
    EXPECT_EQ(probe.m_check, 0);
    EXPECT_EQ(probe.m_pos, 100);
    EXPECT_TRUE(probe.m_text.IsEmpty());
    EXPECT_EQ(probe.m_box.m_hWnd, Item(IDC_JMP));
}

TEST_F(FrameworkTest, ModalDialogEndsWithOkEscapeOrClose)
{
    probe.m_postOnInit = IDOK;
    probe.m_pos = 5;
    EXPECT_EQ(probe.DoModal(), IDOK);
    EXPECT_EQ(probe.m_pos, 5) << "OnOK took the controls into the fields";
    EXPECT_EQ(probe.m_hWnd, (HWND)NULL) << "the object is unbound when its window is gone";

    ProbeDlg escape;
    escape.m_escapeOnInit = true;
    EXPECT_EQ(escape.DoModal(), IDCANCEL);
    EXPECT_TRUE(escape.calls.empty()) << "Esc does not go through WM_CLOSE";

    struct Closer : ProbeDlg {
        BOOL OnInitDialog() override
        {
            ProbeDlg::OnInitDialog();
            PostMessage(WM_CLOSE);
            return TRUE;
        }
    } closer;
    EXPECT_EQ(closer.DoModal(), IDCANCEL);
    EXPECT_EQ(closer.calls, std::vector<std::string>{"close"});
}

TEST_F(FrameworkTest, MessageBoxesPassThroughTheSeamWithOwnerCaptionAndStyle)
{
    Open();
    ui.AnswerMessageBox(IDYES);
    EXPECT_EQ(probe.MessageBox("text", "caption", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(AfxMessageBox("plain"), IDOK);
    AfxMessageBox("question", MB_YESNO);
    AfxMessageBox("own icon", MB_OK | MB_ICONSTOP);
    EXPECT_EQ(AfxShowMessageBox(probe.m_hWnd, "raw", "Raw", MB_SETFOREGROUND), IDOK);

    std::vector<ScriptedUi::MessageBoxCall> boxes = ui.MessageBoxes();
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(boxes[0].owner, probe.m_hWnd);
    EXPECT_EQ(boxes[0].text, "text");
    EXPECT_EQ(boxes[0].caption, "caption");
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    // The framework's box: the application's title, an icon when none is given.
    EXPECT_EQ(boxes[1].caption, "window_framework_tests");
    EXPECT_EQ(boxes[1].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(boxes[2].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(boxes[3].type, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(boxes[4].type, static_cast<UINT>(MB_SETFOREGROUND));
}

TEST(FileDialog, SeamGetsTitleFilterFlagsAndNameAndReturnsThePath)
{
    ScriptedUi ui;
    CFileDialog open(TRUE, NULL, "proposed.ar", OFN_HIDEREADONLY, "Arhive files (ar*)|*.ar*||");
    open.m_ofn.lpstrTitle = "Load";
    ui.ChooseFile("C:\\dir\\sub\\chosen.ar");
    EXPECT_EQ(open.DoModal(), IDOK);
    EXPECT_EQ(open.GetPathName(), "C:\\dir\\sub\\chosen.ar");
    EXPECT_EQ(open.GetFileName(), "chosen.ar");

    // A caller's own buffer and zero-separated filter, as the tracer passes them.
    char buffer[MAX_PATH] = "start.exe";
    static const char filter[] = "Executable files (exe, com)\0*.exe; *.com\0";
    CFileDialog save(FALSE);
    save.m_ofn.lpstrFile = buffer;
    save.m_ofn.nMaxFile = MAX_PATH;
    save.m_ofn.lpstrFilter = filter;
    save.m_ofn.Flags |= 0x6;
    EXPECT_EQ(save.DoModal(), IDCANCEL); // unscripted: cancelled
    EXPECT_STREQ(buffer, "start.exe");
    ui.ChooseFile("plain.exe");
    EXPECT_EQ(save.DoModal(), IDOK);
    EXPECT_STREQ(buffer, "plain.exe");
    EXPECT_EQ(save.GetFileName(), "plain.exe");

    std::vector<ScriptedUi::FileDialogCall> calls = ui.FileDialogs();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[0].open);
    EXPECT_EQ(calls[0].title, "Load");
    EXPECT_EQ(calls[0].filter, "Arhive files (ar*)|*.ar*|");
    EXPECT_EQ(calls[0].flags, static_cast<DWORD>(OFN_HIDEREADONLY | OFN_EXPLORER));
    EXPECT_EQ(calls[0].initialName, "proposed.ar");
    EXPECT_FALSE(calls[1].open);
    EXPECT_EQ(calls[1].filter, "Executable files (exe, com)|*.exe; *.com|");
    EXPECT_EQ(calls[1].flags, static_cast<DWORD>(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER));
    EXPECT_EQ(calls[1].initialName, "start.exe");
}

TEST_F(FrameworkTest, ListControlTextsDataSortingAndWrappers)
{
    Open();
    CListCtrl list;
    list.Attach(Item(IDC_HIT_LIST));
    EXPECT_EQ(list.InsertColumn(0, "A", LVCFMT_LEFT, 50), 0);
    EXPECT_EQ(list.InsertColumn(1, "B"), 1);
    std::string longText(700, 'x');
    static int values[] = {30, 10, 20};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(list.InsertItem(i, "row", reinterpret_cast<LPARAM>(&values[i])), i);
        list.SetItemText(i, 1, i == 1 ? longText.c_str() : "short");
    }
    EXPECT_EQ(list.GetItemCount(), 3);
    EXPECT_EQ(list.GetItemText(1, 1).Str(), longText);
    EXPECT_EQ(list.GetItemText(0, 0).Str(), "row");

    EXPECT_TRUE(list.SortItems(&Descending, 1));
    EXPECT_EQ(list.GetItemData(0), reinterpret_cast<DWORD_PTR>(&values[0]));
    EXPECT_EQ(list.GetItemData(2), reinterpret_cast<DWORD_PTR>(&values[1]));
    EXPECT_EQ(list.GetItemText(2, 1).Str(), longText) << "texts move with their rows";

    list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(list.GetItemState(1, LVIS_SELECTED), static_cast<UINT>(LVIS_SELECTED));
    EXPECT_EQ(list.GetItemState(0, LVIS_SELECTED), 0u);
    EXPECT_TRUE(list.DeleteItem(2));
    EXPECT_EQ(list.GetItemCount(), 2);
    EXPECT_TRUE(list.DeleteAllItems());
    EXPECT_EQ(list.GetItemCount(), 0);

    CWnd* button = probe.GetDlgItem(IDC_MAIN_BUTTON);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->m_hWnd, Item(IDC_MAIN_BUTTON));
    EXPECT_EQ(probe.GetDlgItem(IDC_MAIN_BUTTON), button);
    EXPECT_EQ(probe.GetDlgItem(4242), nullptr);
}

struct ThreadProbe {
    HANDLE started;
    DWORD threadId;
};

UINT ProbeThread(LPVOID param)
{
    ThreadProbe* probe = static_cast<ThreadProbe*>(param);
    probe->threadId = ::GetCurrentThreadId();
    ::SetEvent(probe->started);
    return 1234;
}

TEST(WorkerThread, SuspendedThreadRunsAfterResumeWithItsPriorityAndResult)
{
    ThreadProbe probe = {::CreateEventA(NULL, TRUE, FALSE, NULL), 0};
    SECURITY_ATTRIBUTES security = {sizeof security, NULL, TRUE};
    CWinThread* thread = AfxBeginThread(&ProbeThread, &probe, THREAD_PRIORITY_ABOVE_NORMAL, 0, CREATE_SUSPENDED, &security);
    ASSERT_NE(thread, nullptr);
    thread->m_bAutoDelete = FALSE;
    EXPECT_EQ(::WaitForSingleObject(probe.started, 100), static_cast<DWORD>(WAIT_TIMEOUT)) << "created suspended";
    EXPECT_EQ(::GetThreadPriority(thread->m_hThread), THREAD_PRIORITY_ABOVE_NORMAL);
    EXPECT_EQ(thread->ResumeThread(), 1u);
    ASSERT_EQ(::WaitForSingleObject(thread->m_hThread, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    ::GetExitCodeThread(thread->m_hThread, &code);
    EXPECT_EQ(code, 1234u);
    EXPECT_EQ(probe.threadId, thread->m_nThreadID);
    delete thread;

    // The default: running at once, deleted by itself when its procedure returns.
    ::ResetEvent(probe.started);
    ASSERT_NE(AfxBeginThread(&ProbeThread, &probe), nullptr);
    EXPECT_EQ(::WaitForSingleObject(probe.started, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    ::CloseHandle(probe.started);
}

} // namespace
