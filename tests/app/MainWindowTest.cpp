// The main window: its template, the idle state it opens in, and the routines
// with which every handler changes captions, enabled states, mode and title.
#include <gtest/gtest.h>

#include "tests/app/DialogFixture.h"

namespace {

const struct ControlTemplate { int id; const char* className; DWORD style; int x, y, cx, cy; } templateControls[] = {
    {IDC_MAIN_BUTTON, "Button", 0x50010001, 6, 7, 58, 18},         {IDC_CANCEL_BUTTON, "Button", 0x50010000, 66, 7, 58, 18},
    {IDC_ARCHIVE_BUTTON, "Button", 0x50010000, 6, 47, 58, 14},     {IDC_SAVE_BUTTON, "Button", 0x50010000, 6, 64, 58, 14},
    {IDC_HIT_LIST, "SysListView32", 0x5081000D, 131, 7, 182, 158}, {IDC_CALL_PTR, "Button", 0x50010003, 80, 46, 38, 10},
    {IDC_CALL, "Button", 0x50010003, 80, 59, 27, 10},              {IDC_JMP_PTR, "Button", 0x50010003, 80, 73, 39, 10},
    {IDC_JMP, "Button", 0x50010003, 80, 87, 29, 10},               {IDC_STR_DATA, "Button", 0x50010003, 80, 101, 42, 10},
    {IDC_SINGLE_STEP, "Button", 0x50011003, 80, 118, 44, 12},      {IDC_SPEED, "msctls_trackbar32", 0x50010018, 10, 145, 100, 15},
    {IDC_COMPARE_MODE, "Button", 0x50011003, 6, 27, 58, 12},       {IDC_CREATE_MODE, "Button", 0x50011003, 66, 27, 58, 12},
    {IDC_COMMAND_LINE, "Edit", 0x50810080, 7, 96, 57, 14},         {-1, "Static", 0x50020000, 7, 86, 45, 8},
    {IDC_SKIP_POINT, "Button", 0x50010000, 7, 118, 58, 12},
};

// The enabling, text and button state messages sent to the spied window while the hook is set.
std::vector<std::pair<UINT, WPARAM>> g_sent;
HWND g_spied;
LRESULT CALLBACK RecordSent(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    UINT m = sent->message;
    if (code == HC_ACTION && sent->hwnd == g_spied && (m == WM_ENABLE || m == WM_SETTEXT || m == BM_SETSTATE))
        g_sent.push_back({m, sent->wParam});
    return ::CallNextHookEx(NULL, code, wParam, lParam);
}

class MainWindowTest : public TracerDialogTest {
protected:
    // A control as the user sees it: "caption, on|off[, checked]".
    std::string State(int id) const
    {
        return Text(id) + (Enabled(id) ? ", on" : ", off") + (Check(id) == BST_CHECKED ? ", checked" : "");
    }
};

TEST_F(MainWindowTest, TemplateHoldsTheSeventeenControlsInOrder)
{
    EXPECT_EQ(::GetWindowLongA(dlg->m_hWnd, GWL_STYLE) & 0x10CA00C0, 0x10CA00C0);
    EXPECT_TRUE(::GetWindowLongA(dlg->m_hWnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    HWND child = ::GetWindow(dlg->m_hWnd, GW_CHILD);
    for (const ControlTemplate& expected : templateControls) {
        SCOPED_TRACE(expected.id);
        ASSERT_NE(child, (HWND)NULL);
        EXPECT_EQ(::GetDlgCtrlID(child), expected.id);
        char className[64] = {};
        ::GetClassNameA(child, className, sizeof className);
        EXPECT_STRCASEEQ(className, expected.className);
        // The dialog manager draws a control's WS_BORDER as a sunken client edge.
        DWORD style = static_cast<DWORD>(::GetWindowLongA(child, GWL_STYLE)) & ~WS_DISABLED;
        if (::GetWindowLongA(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)
            style |= WS_BORDER;
        EXPECT_EQ(style & expected.style, expected.style);
        // Position and size in dialog units, each converted on its own as the dialog manager does.
        RECT units = {expected.x, expected.y, expected.cx, expected.cy}, placed;
        ::MapDialogRect(dlg->m_hWnd, &units);
        ::GetWindowRect(child, &placed);
        ::MapWindowPoints(NULL, dlg->m_hWnd, reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(std::vector<LONG>({placed.left, placed.top, placed.right - placed.left, placed.bottom - placed.top}),
                  std::vector<LONG>({units.left, units.top, units.right, units.bottom}));
        child = ::GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, (HWND)NULL);
}

TEST_F(MainWindowTest, OpensInTheIdleState)
{
    EXPECT_EQ(Text(dlg->m_hWnd), "Korvane -       [  ]");
    const std::pair<int, const char*> controls[] = {
        {IDC_MAIN_BUTTON, "Attach File, on"},      {IDC_CANCEL_BUTTON, "Attach Process, off"},
        {IDC_ARCHIVE_BUTTON, "Load Archive, on"},  {IDC_SAVE_BUTTON, "Save Archive, off"},
        {IDC_COMPARE_MODE, "Compare mode, off"},   {IDC_CREATE_MODE, "Create mode, off, checked"},
        {IDC_SKIP_POINT, "Skip Point, off"},       {IDC_SINGLE_STEP, "Singl Step, off"},
        {IDC_CALL_PTR, "Call Ptr, on"},            {IDC_CALL, "Call, on"},
        {IDC_JMP_PTR, "Jmp Ptr, on"},              {IDC_JMP, "Jmp, on"},
        {IDC_STR_DATA, "Str Data, on, checked"},   {IDC_COMMAND_LINE, ", on"},
        {IDC_SPEED, "Slider1, on"},                {IDC_HIT_LIST, "List1, on"},
    };
    for (const auto& control : controls)
        EXPECT_EQ(State(control.first), control.second) << control.first;
    EXPECT_EQ(::SendMessageA(Item(IDC_SPEED), TBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(RowCount(), 0);
    EXPECT_EQ(dlg->m_bCompareMode, 0);
    EXPECT_EQ(dlg->m_bSaved, 1);
    EXPECT_EQ(dlg->m_hWndDlg, dlg->m_hWnd);
    EXPECT_EQ(dlg->m_hListingFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(dlg->m_hListingMapping, INVALID_HANDLE_VALUE);
    EXPECT_EQ(dlg->m_pListing, nullptr);
    EXPECT_TRUE(ui.MessageBoxes().empty());
}

TEST_F(MainWindowTest, ColumnsAreAsWideAsTheirSamplesInTheListFont)
{
    const char* headings[] = {"Num", "Hits", "Comp", "EIP", "Disasm"};
    const char* samples[] = {"00000", "0000", "0000", "00000000000", "0000000000000000000000000000000"};
    for (int i = 0; i < 5; ++i) {
        char heading[32] = {};
        LVCOLUMNA column = {LVCF_TEXT | LVCF_FMT | LVCF_WIDTH, 0, 0, heading, sizeof heading, 0, 0, 0};
        ASSERT_TRUE(::SendMessageA(Item(IDC_HIT_LIST), LVM_GETCOLUMNA, i, reinterpret_cast<LPARAM>(&column))) << i;
        EXPECT_STREQ(heading, headings[i]);
        EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
        EXPECT_EQ(column.cx, dlg->m_listHits.GetStringWidth(samples[i])) << headings[i];
    }
}

TEST_F(MainWindowTest, SetButtonSetsStyleFocusAndCaptionWithoutWmEnableAndFlashesTheButton)
{
    const struct { CButton* button; int id; BOOL enable, focus; const char *caption, *state; } cases[] = {
        {&dlg->m_btnSave, IDC_SAVE_BUTTON, TRUE, FALSE, NULL, "Save Archive, on"},
        {&dlg->m_btnMain, IDC_MAIN_BUTTON, FALSE, FALSE, "Start Process", "Start Process, off"},
        {&dlg->m_btnCancel, IDC_CANCEL_BUTTON, TRUE, TRUE, "Cancel Process", "Cancel Process, on"},
    };
    for (const auto& c : cases) {
        g_spied = Item(c.id);
        g_sent.clear();
        HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROC, &RecordSent, NULL, ::GetCurrentThreadId());
        EXPECT_EQ(dlg->SetButton(c.button, c.enable, c.focus, c.caption), 1);
        ::UnhookWindowsHookEx(hook);
        // The caption is written even when kept; the button is drawn pushed and released.
        EXPECT_EQ(g_sent, (std::vector<std::pair<UINT, WPARAM>>{{WM_SETTEXT, 0}, {BM_SETSTATE, TRUE}, {BM_SETSTATE, FALSE}}));
        EXPECT_EQ(State(c.id), c.state);
        EXPECT_TRUE(!c.focus || ::GetFocus() == Item(c.id)) << "focused";
    }
}

TEST_F(MainWindowTest, UpdateCaptionsSetsTitleOrModeCaptionsAndNothingForOtherTexts)
{
    dlg->m_strTargetName = "calc.exe";
    dlg->m_strArchiveName = "calc.ar";
    EXPECT_EQ(dlg->UpdateCaptions("dialog"), 1);
    EXPECT_EQ(Text(dlg->m_hWnd), "Korvane - calc.exe      [ calc.ar ]");
    // Only BUT02's enabled state follows the mode.
    dlg->SetButton(&dlg->m_btnArchive, FALSE, FALSE, NULL);
    auto buttons = [&] { return Text(dlg->m_hWnd) + "; " + State(IDC_MAIN_BUTTON) + "; " + State(IDC_CANCEL_BUTTON) + "; " + State(IDC_ARCHIVE_BUTTON); };
    for (int compare : {1, 0}) {
        dlg->m_bCompareMode = compare;
        EXPECT_EQ(dlg->UpdateCaptions("mode"), 1);
        EXPECT_EQ(buttons(), compare ? "Korvane - calc.exe      [ calc.ar ]; Run File, on; Remove All, on; Run Archive, off"
                                     : "Korvane - calc.exe      [ calc.ar ]; Attach File, on; Attach Process, off; Load Archive, off");
    }
    std::string before = buttons();
    dlg->m_strTargetName = "other.exe"; // shown only if one of these texts were taken for "dialog"
    dlg->m_bCompareMode = 1;
    for (const char* what : {"Dialog", "MODE", "", "mode ", "caption", static_cast<const char*>(NULL)})
        EXPECT_EQ(dlg->UpdateCaptions(what), 0) << (what ? what : "NULL");
    EXPECT_EQ(buttons(), before);
}

TEST_F(MainWindowTest, SetModeSetsFlagOppositeChecksAndBothEnabledStates)
{
    const BOOL cases[][2] = {{TRUE, TRUE}, {FALSE, TRUE}, {5, FALSE}, {FALSE, FALSE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c[0] << "," << c[1]);
        EXPECT_EQ(dlg->SetMode(c[0], c[1]), 1);
        EXPECT_EQ(dlg->m_bCompareMode, c[0] ? 1 : 0);
        const char* on = c[1] ? ", on" : ", off";
        EXPECT_EQ(State(IDC_COMPARE_MODE), std::string("Compare mode") + on + (c[0] ? ", checked" : ""));
        EXPECT_EQ(State(IDC_CREATE_MODE), std::string("Create mode") + on + (c[0] ? "" : ", checked"));
    }
}

} // namespace
