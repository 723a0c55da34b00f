// The main window: its template, the idle state it opens in, and the routines
// with which every handler changes captions, enabled states, mode and title.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/app/DialogFixture.h"

namespace {

class MainWindowTest : public TracerDialogTest {};

struct ControlSpec {
    int id;
    const char* className;
    DWORD style;
    int x, y, cx, cy;
};

const ControlSpec templateControls[] = {
    {IDC_MAIN_BUTTON, "Button", 0x50010001, 6, 7, 58, 18},
    {IDC_CANCEL_BUTTON, "Button", 0x50010000, 66, 7, 58, 18},
    {IDC_ARCHIVE_BUTTON, "Button", 0x50010000, 6, 47, 58, 14},
    {IDC_SAVE_BUTTON, "Button", 0x50010000, 6, 64, 58, 14},
    {IDC_HIT_LIST, "SysListView32", 0x5081000D, 131, 7, 182, 158},
    {IDC_CALL_PTR, "Button", 0x50010003, 80, 46, 38, 10},
    {IDC_CALL, "Button", 0x50010003, 80, 59, 27, 10},
    {IDC_JMP_PTR, "Button", 0x50010003, 80, 73, 39, 10},
    {IDC_JMP, "Button", 0x50010003, 80, 87, 29, 10},
    {IDC_STR_DATA, "Button", 0x50010003, 80, 101, 42, 10},
    {IDC_SINGLE_STEP, "Button", 0x50011003, 80, 118, 44, 12},
    {IDC_SPEED, "msctls_trackbar32", 0x50010018, 10, 145, 100, 15},
    {IDC_COMPARE_MODE, "Button", 0x50011003, 6, 27, 58, 12},
    {IDC_CREATE_MODE, "Button", 0x50011003, 66, 27, 58, 12},
    {IDC_COMMAND_LINE, "Edit", 0x50810080, 7, 96, 57, 14},
    {-1, "Static", 0x50020000, 7, 86, 45, 8},
    {IDC_SKIP_POINT, "Button", 0x50010000, 7, 118, 58, 12},
};

TEST_F(MainWindowTest, TemplateHoldsTheSeventeenControlsInOrder)
{
    DWORD style = static_cast<DWORD>(::GetWindowLongA(dlg->m_hWnd, GWL_STYLE));
    EXPECT_EQ(style & 0x10CA00C0, 0x10CA00C0u);
    EXPECT_TRUE(::GetWindowLongA(dlg->m_hWnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    HWND child = ::GetWindow(dlg->m_hWnd, GW_CHILD);
    for (const ControlSpec& spec : templateControls) {
        ASSERT_NE(child, (HWND)NULL) << "control " << spec.id << " missing";
        SCOPED_TRACE(spec.id);
        EXPECT_EQ(::GetDlgCtrlID(child), spec.id);
        char className[64] = {};
        ::GetClassNameA(child, className, sizeof className);
        EXPECT_STRCASEEQ(className, spec.className);
        // The dialog manager draws a control's WS_BORDER as a sunken client edge.
        DWORD actual = static_cast<DWORD>(::GetWindowLongA(child, GWL_STYLE)) & ~WS_DISABLED;
        if (::GetWindowLongA(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)
            actual |= WS_BORDER;
        EXPECT_EQ(actual & spec.style, spec.style);
        // Position and size in dialog units, each converted on its own as the dialog manager does.
        RECT expected = {spec.x, spec.y, spec.cx, spec.cy};
        ::MapDialogRect(dlg->m_hWnd, &expected);
        RECT placed;
        ::GetWindowRect(child, &placed);
        ::MapWindowPoints(NULL, dlg->m_hWnd, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(placed.left, expected.left);
        EXPECT_EQ(placed.top, expected.top);
        EXPECT_EQ(placed.right - placed.left, expected.right);
        EXPECT_EQ(placed.bottom - placed.top, expected.bottom);
        child = ::GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, (HWND)NULL);
}

TEST_F(MainWindowTest, OpensInTheIdleState)
{
    EXPECT_EQ(Text(dlg->m_hWnd), "Korvane -       [  ]");
    struct Expected {
        int id;
        const char* text;
        bool enabled;
        int check;
    } const controls[] = {
        {IDC_MAIN_BUTTON, "Attach File", true, 0},
        {IDC_CANCEL_BUTTON, "Attach Process", false, 0},
        {IDC_ARCHIVE_BUTTON, "Load Archive", true, 0},
        {IDC_SAVE_BUTTON, "Save Archive", false, 0},
        {IDC_COMPARE_MODE, "Compare mode", false, BST_UNCHECKED},
        {IDC_CREATE_MODE, "Create mode", false, BST_CHECKED},
        {IDC_SKIP_POINT, "Skip Point", false, 0},
        {IDC_SINGLE_STEP, "Singl Step", false, BST_UNCHECKED},
        {IDC_CALL_PTR, "Call Ptr", true, BST_UNCHECKED},
        {IDC_CALL, "Call", true, BST_UNCHECKED},
        {IDC_JMP_PTR, "Jmp Ptr", true, BST_UNCHECKED},
        {IDC_JMP, "Jmp", true, BST_UNCHECKED},
        {IDC_STR_DATA, "Str Data", true, BST_CHECKED},
        {IDC_COMMAND_LINE, "", true, 0},
    };
    for (const Expected& c : controls) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(Text(c.id), c.text);
        EXPECT_EQ(Enabled(c.id), c.enabled);
        EXPECT_EQ(Check(c.id), c.check);
    }
    EXPECT_EQ(::SendMessageA(Item(IDC_SPEED), TBM_GETPOS, 0, 0), 0);
    EXPECT_TRUE(Enabled(IDC_SPEED));
    EXPECT_TRUE(Enabled(IDC_HIT_LIST));
    EXPECT_EQ(RowCount(), 0);

    EXPECT_EQ(dlg->m_bCompareMode, 0);
    EXPECT_EQ(dlg->m_hWndDlg, dlg->m_hWnd);
    EXPECT_EQ(dlg->m_bSaved, 1);
    EXPECT_EQ(dlg->m_hListingFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(dlg->m_hListingMapping, INVALID_HANDLE_VALUE);
    EXPECT_EQ(dlg->m_pListing, nullptr);
    EXPECT_EQ(::SendMessageA(dlg->m_hWnd, WM_GETICON, ICON_BIG, 0), reinterpret_cast<LRESULT>(dlg->m_hIcon));
    EXPECT_EQ(::SendMessageA(dlg->m_hWnd, WM_GETICON, ICON_SMALL, 0), reinterpret_cast<LRESULT>(dlg->m_hIcon));
    EXPECT_TRUE(ui.MessageBoxes().empty());
}

TEST_F(MainWindowTest, ColumnsAreAsWideAsTheirSamplesInTheListFont)
{
    HWND list = Item(IDC_HIT_LIST);
    const char* headings[] = {"Num", "Hits", "Comp", "EIP", "Disasm"};
    const char* samples[] = {"00000", "0000", "0000", "00000000000", "0000000000000000000000000000000"};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(headings[i]);
        char heading[32] = {};
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
        column.pszText = heading;
        column.cchTextMax = sizeof heading;
        ASSERT_TRUE(::SendMessageA(list, LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(heading, headings[i]);
        EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
        int width = static_cast<int>(::SendMessageA(list, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(samples[i])));
        EXPECT_GT(width, 0);
        EXPECT_EQ(column.cx, width);
    }
    LVCOLUMNA none = {};
    none.mask = LVCF_WIDTH;
    EXPECT_FALSE(::SendMessageA(list, LVM_GETCOLUMNA, 5, reinterpret_cast<LPARAM>(&none)));
}

// Messages a control received, recorded by a test-side subclass.
struct ControlSpy {
    static std::vector<std::pair<UINT, WPARAM>>& Log()
    {
        static std::vector<std::pair<UINT, WPARAM>> log;
        return log;
    }
    static WNDPROC& Original()
    {
        static WNDPROC original;
        return original;
    }
    static LRESULT CALLBACK Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_ENABLE || message == WM_SETTEXT || message == BM_SETSTATE)
            Log().push_back({message, wParam});
        return ::CallWindowProcA(Original(), hWnd, message, wParam, lParam);
    }
    explicit ControlSpy(HWND hWnd) : m_hWnd(hWnd)
    {
        Log().clear();
        Original() = reinterpret_cast<WNDPROC>(::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
    }
    ~ControlSpy() { ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Original())); }
    HWND m_hWnd;
};

TEST_F(MainWindowTest, SetButtonChangesStyleFocusAndCaptionAndFlashesTheButton)
{
    using Log = std::vector<std::pair<UINT, WPARAM>>;
    {
        ControlSpy spy(Item(IDC_SAVE_BUTTON));
        EXPECT_EQ(dlg->SetButton(&dlg->m_btnSave, TRUE, FALSE, NULL), 1);
        EXPECT_TRUE(Enabled(IDC_SAVE_BUTTON));
        EXPECT_EQ(Text(IDC_SAVE_BUTTON), "Save Archive");
        // The text is written again, the button is drawn pushed and released; no WM_ENABLE.
        EXPECT_EQ(ControlSpy::Log(), (Log{{WM_SETTEXT, 0}, {BM_SETSTATE, TRUE}, {BM_SETSTATE, FALSE}}));
    }
    {
        ControlSpy spy(Item(IDC_MAIN_BUTTON));
        EXPECT_EQ(dlg->SetButton(&dlg->m_btnMain, FALSE, FALSE, "Start Process"), 1);
        EXPECT_FALSE(Enabled(IDC_MAIN_BUTTON));
        EXPECT_EQ(Text(IDC_MAIN_BUTTON), "Start Process");
        EXPECT_EQ(ControlSpy::Log(), (Log{{WM_SETTEXT, 0}, {BM_SETSTATE, TRUE}, {BM_SETSTATE, FALSE}}));
    }
    EXPECT_EQ(dlg->SetButton(&dlg->m_btnCancel, TRUE, TRUE, "Cancel Process"), 1);
    EXPECT_TRUE(Enabled(IDC_CANCEL_BUTTON));
    EXPECT_EQ(::GetFocus(), Item(IDC_CANCEL_BUTTON));
    EXPECT_EQ(Text(IDC_CANCEL_BUTTON), "Cancel Process");
    EXPECT_EQ(::SendMessageA(Item(IDC_CANCEL_BUTTON), BM_GETSTATE, 0, 0) & BST_PUSHED, 0) << "released again";
}

TEST_F(MainWindowTest, UpdateCaptionsSetsTitleAndModeCaptionsOnly)
{
    dlg->m_strTargetName = "calc.exe";
    dlg->m_strArchiveName = "calc.ar";
    EXPECT_EQ(dlg->UpdateCaptions("dialog"), 1);
    EXPECT_EQ(Text(dlg->m_hWnd), "Korvane - calc.exe      [ calc.ar ]");

    // BUT01 and BUT03 keep their enabled states; only BUT02 follows the mode.
    dlg->SetButton(&dlg->m_btnArchive, FALSE, FALSE, NULL);
    dlg->m_bCompareMode = 1;
    EXPECT_EQ(dlg->UpdateCaptions("mode"), 1);
    EXPECT_EQ(Text(IDC_MAIN_BUTTON), "Run File");
    EXPECT_EQ(Text(IDC_CANCEL_BUTTON), "Remove All");
    EXPECT_EQ(Text(IDC_ARCHIVE_BUTTON), "Run Archive");
    EXPECT_TRUE(Enabled(IDC_MAIN_BUTTON));
    EXPECT_TRUE(Enabled(IDC_CANCEL_BUTTON));
    EXPECT_FALSE(Enabled(IDC_ARCHIVE_BUTTON));

    dlg->m_bCompareMode = 0;
    EXPECT_EQ(dlg->UpdateCaptions("mode"), 1);
    EXPECT_EQ(Text(IDC_MAIN_BUTTON), "Attach File");
    EXPECT_EQ(Text(IDC_CANCEL_BUTTON), "Attach Process");
    EXPECT_EQ(Text(IDC_ARCHIVE_BUTTON), "Load Archive");
    EXPECT_FALSE(Enabled(IDC_CANCEL_BUTTON));
    EXPECT_FALSE(Enabled(IDC_ARCHIVE_BUTTON));

    auto snapshot = [&] {
        std::vector<std::string> state = {Text(dlg->m_hWnd)};
        for (const ControlSpec& spec : templateControls)
            if (spec.id != -1)
                state.push_back(Text(spec.id) + (Enabled(spec.id) ? "+" : "-"));
        return state;
    };
    std::vector<std::string> before = snapshot();
    dlg->m_bCompareMode = 1;
    for (const char* what : {"Dialog", "MODE", "", "mode ", "caption", static_cast<const char*>(NULL)})
        EXPECT_EQ(dlg->UpdateCaptions(what), 0) << (what ? what : "NULL");
    EXPECT_EQ(snapshot(), before);
}

TEST_F(MainWindowTest, SetModeSetsFlagOppositeChecksAndBothEnabledStates)
{
    struct Case {
        BOOL compare, enable;
    } const cases[] = {{TRUE, TRUE}, {FALSE, TRUE}, {5, FALSE}, {FALSE, FALSE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.compare << "," << c.enable);
        EXPECT_EQ(dlg->SetMode(c.compare, c.enable), 1);
        int compare = c.compare ? 1 : 0;
        EXPECT_EQ(dlg->m_bCompareMode, compare);
        EXPECT_EQ(Check(IDC_COMPARE_MODE), compare);
        EXPECT_EQ(Check(IDC_CREATE_MODE), 1 - compare);
        EXPECT_EQ(Enabled(IDC_COMPARE_MODE), c.enable != FALSE);
        EXPECT_EQ(Enabled(IDC_CREATE_MODE), c.enable != FALSE);
    }
}

TEST_F(MainWindowTest, TrackbarReleaseTakesThePacingIntoTheDialog)
{
    ::SendMessageA(Item(IDC_SPEED), TBM_SETPOS, TRUE, 37);
    ::SetWindowTextA(Item(IDC_COMMAND_LINE), "-x");
    NMHDR other = {Item(IDC_SPEED), IDC_SPEED, static_cast<UINT>(NM_CLICK)};
    ::SendMessageA(dlg->m_hWnd, WM_NOTIFY, IDC_SPEED, reinterpret_cast<LPARAM>(&other));
    EXPECT_EQ(dlg->m_nSpeed, 0);
    NMHDR released = {Item(IDC_SPEED), IDC_SPEED, static_cast<UINT>(NM_RELEASEDCAPTURE)};
    EXPECT_EQ(::SendMessageA(dlg->m_hWnd, WM_NOTIFY, IDC_SPEED, reinterpret_cast<LPARAM>(&released)), 0);
    EXPECT_EQ(dlg->m_nSpeed, 37);
    EXPECT_EQ(dlg->m_strArguments, "-x") << "every exchanged value is refreshed";
}

TEST_F(MainWindowTest, IconServesTheWindowAndTheDragCursor)
{
    ASSERT_NE(dlg->m_hIcon, (HICON)NULL);
    EXPECT_EQ(::SendMessageA(dlg->m_hWnd, WM_QUERYDRAGICON, 0, 0), reinterpret_cast<LRESULT>(dlg->m_hIcon));
    for (int size : {32, 16}) {
        HICON icon = static_cast<HICON>(::LoadImageA(::GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDR_MAINFRAME),
                                                     IMAGE_ICON, size, size, 0));
        ASSERT_NE(icon, (HICON)NULL) << size;
        ICONINFO info = {};
        ASSERT_TRUE(::GetIconInfo(icon, &info));
        BITMAP bitmap = {};
        ::GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, size);
        ::DeleteObject(info.hbmColor);
        ::DeleteObject(info.hbmMask);
        ::DestroyIcon(icon);
    }
}

TEST_F(MainWindowTest, EscapeEndsTheDialogAtOnceWithoutTheSaveQuestion)
{
    dlg->m_bSaved = 0;
    ::PostMessageA(Item(IDC_COMMAND_LINE), WM_KEYDOWN, VK_ESCAPE, 0);
    MSG msg;
    while (::PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        if (!::IsDialogMessageA(dlg->m_hWnd, &msg))
            ::DispatchMessageA(&msg);
    EXPECT_FALSE(::IsWindowVisible(dlg->m_hWnd));
    EXPECT_TRUE(ui.MessageBoxes().empty());
}

// The start directory decides the archive directory; an AR folder becomes current.
TEST(StartDirectory, ArchiveFolderBecomesCurrentWhenPresentAndNothingIsShownOtherwise)
{
    char original[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, original);
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    std::string base = std::string(temp) + "korvane_start_" + std::to_string(::GetCurrentProcessId());
    std::string withAr = base + "_ar", withoutAr = base + "_plain";
    ::CreateDirectoryA(withAr.c_str(), NULL);
    ::CreateDirectoryA((withAr + "\\AR").c_str(), NULL);
    ::CreateDirectoryA(withoutAr.c_str(), NULL);

    for (const std::string& start : {withAr, withoutAr}) {
        SCOPED_TRACE(start);
        ASSERT_TRUE(::SetCurrentDirectoryA(start.c_str()));
        char full[MAX_PATH] = {};
        ::GetCurrentDirectoryA(MAX_PATH, full);
        ScriptedUi ui;
        std::memset(g_szFileName, 'x', sizeof g_szFileName);
        CTracerDlg dlg;
        ASSERT_TRUE(dlg.Create(IDD_KORVANE_DIALOG));
        EXPECT_EQ(dlg.m_strArchiveDir, std::string(full) + "\\AR\\");
        EXPECT_EQ(g_szFileName[0], 0);
        EXPECT_EQ(g_szFileName[1], 0);
        char now[MAX_PATH] = {};
        ::GetCurrentDirectoryA(MAX_PATH, now);
        EXPECT_STRCASEEQ(now, start == withAr ? (std::string(full) + "\\AR").c_str() : full);
        EXPECT_TRUE(ui.MessageBoxes().empty());
        dlg.DestroyWindow();
    }
    ::SetCurrentDirectoryA(original);
    ::RemoveDirectoryA((withAr + "\\AR").c_str());
    ::RemoveDirectoryA(withAr.c_str());
    ::RemoveDirectoryA(withoutAr.c_str());
}

} // namespace

namespace {

std::vector<UINT>& SentToDialog()
{
    static std::vector<UINT> messages;
    return messages;
}
HWND g_spiedDialog;

LRESULT CALLBACK RecordSent(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->hwnd == g_spiedDialog)
        SentToDialog().push_back(sent->message);
    return ::CallNextHookEx(NULL, code, wParam, lParam);
}

TEST_F(MainWindowTest, MinimizedWindowPaintsItsIconOnAnErasedBackground)
{
    ::ShowWindow(dlg->m_hWnd, SW_MINIMIZE);
    ASSERT_TRUE(::IsIconic(dlg->m_hWnd));
    g_spiedDialog = dlg->m_hWnd;
    SentToDialog().clear();
    HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROC, &RecordSent, NULL, ::GetCurrentThreadId());
    ::InvalidateRect(dlg->m_hWnd, NULL, TRUE);
    ::SendMessageA(dlg->m_hWnd, WM_PAINT, 0, 0);
    ::UnhookWindowsHookEx(hook);
    std::vector<UINT>& sent = SentToDialog();
    EXPECT_NE(std::find(sent.begin(), sent.end(), static_cast<UINT>(WM_ICONERASEBKGND)), sent.end());

    ::ShowWindow(dlg->m_hWnd, SW_RESTORE);
    SentToDialog().clear();
    hook = ::SetWindowsHookExA(WH_CALLWNDPROC, &RecordSent, NULL, ::GetCurrentThreadId());
    ::InvalidateRect(dlg->m_hWnd, NULL, TRUE);
    ::SendMessageA(dlg->m_hWnd, WM_PAINT, 0, 0);
    ::UnhookWindowsHookEx(hook);
    EXPECT_EQ(std::find(sent.begin(), sent.end(), static_cast<UINT>(WM_ICONERASEBKGND)), sent.end())
        << "an open window paints as a dialog does";
}

} // namespace
