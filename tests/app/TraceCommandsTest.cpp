// The command buttons and the trace states, clicked as a user clicks them.
#include "tests/app/DialogFixture.h"

namespace {

namespace fs = std::filesystem;

class TraceCommandsTest : public StartFolderTest {
protected:
    void TearDown() override
    {
        // Every box of the dialog's own is owned by its window.
        for (const ScriptedUi::MessageBoxCall& box : ui.MessageBoxes())
            EXPECT_TRUE(box.owner == dlg->m_hWnd || box.caption == AfxGetAppName()) << box.text;
        StartFolderTest::TearDown();
    }
    std::string Target() const { return dlg->m_strTargetName.Str() + " in " + dlg->m_strTargetDir.Str(); }
    std::string Cwd() const { return fs::current_path().string(); }
    void Attach(std::string name = "prog.exe") { ui.ChooseFile(m_targets + "\\" + name); Click(IDC_MAIN_BUTTON); }
    // "Start Process": prog.exe is no real program, so the run ends at once.
    void RunOnce()
    {
        Click(IDC_MAIN_BUTTON);
        ASSERT_TRUE(WaitFor([&] { return RunEnded(); }));
    }
};

TEST_F(TraceCommandsTest, AttachFileProposesTheTargetAndAttachesTheChosenOneEvenThroughASave)
{
    // Cancelled dialogs change nothing, not even the arguments. A name that an archive left is proposed when it fits
    // the path buffer, else not at all.
    ::SetWindowTextA(Item(IDC_COMMAND_LINE), "-x");
    for (int length : {MAX_PATH - 1, MAX_PATH, 1000}) {
        std::string name = std::string(length - 4, 'a') + ".exe";
        dlg->m_strTargetName = name.c_str();
        Click(IDC_MAIN_BUTTON);
        EXPECT_EQ(ui.FileDialogs().back().initialName + "|" + State(), (length < MAX_PATH ? name : "") + "|" + kIdle);
        EXPECT_LT(std::strlen(g_szFileName), size_t(MAX_PATH));
    }
    const ScriptedUi::FileDialogCall call = ui.FileDialogs().back(); // flags 6: hide read-only, overwrite prompt
    EXPECT_EQ(std::to_string(call.open) + call.title + "|" + call.filter + std::to_string(call.flags & 6) +
                  Text(IDC_COMMAND_LINE), "1Open a file for show|Executable files (exe, com)|*.exe; *.com|6-x");

    // Stored in lower case without its folder, the folder made current; "Str Data" is ticked from the start.
    Attach("PROG.EXE");
    EXPECT_EQ(State() + Target() + " = " + Cwd() + "|" + Text(dlg->m_hWnd) + "|" + Text(IDC_COMMAND_LINE) + Boxes() + Loaded(),
              kAttached + "prog.exe in " + m_targets + " = " + m_targets + "|Korvane - prog.exe      [  ]|ss|4|+++");
    EXPECT_EQ(::GetFocus(), Item(IDC_MAIN_BUTTON));

    // The next attach proposes the target. Yes to the save question of its reset: the save dialog returns its own
    // path in the one path buffer.
    RunOnce();
    Click(IDC_CREATE_MODE);
    ui.AnswerMessageBox(IDYES);
    size_t boxes = ui.MessageBoxes().size(), dialogs = ui.FileDialogs().size();
    ui.ChooseFile(m_targets + "\\prog.exe");
    ui.ChooseFile(m_ar + "older run.ar");
    Click(IDC_MAIN_BUTTON);
    EXPECT_EQ(ui.FileDialogs().at(dialogs).initialName + "|" + Boxes(boxes, 1) + Target() + "|" + Loaded(),
              "prog.exe|" + kSaveQuestion + "prog.exe in " + m_targets + "|ss|4|+++");
}

TEST_F(TraceCommandsTest, AFailedListingLeavesIdleWithTheNewNameAndNothingLoaded)
{
    std::ofstream(m_targets + "\\tool.bin", std::ios::binary) << std::string(600, 'x');
    Attach();
    Click(IDC_CANCEL_BUTTON);
    Attach("tool.bin"); // the new name kept, the title not refreshed, nothing loaded
    EXPECT_EQ(ui.MessageBoxes().at(0).caption + "|" + State() + dlg->m_strTargetName.Str() + "|" + Text(dlg->m_hWnd) + "|" +
                  Loaded(),
              "Could not create DSM file -- restart Korvane!|" + kIdle + "tool.bin|Korvane -       [  ]||0|---");
    // A path the code page cannot spell (a '?' for each character lost): refused, named, nothing reset.
    Attach("t\xE4?l.exe");
    EXPECT_EQ(ui.MessageBoxes().back().text + "|" + dlg->m_strTargetName.Str(),
              "[ " + m_targets + "\\t\xE4?l.exe ]\n  This path cannot be written in the system's code page !|tool.bin");
}

// Every command from its states, each state checked whole. "Attach File" takes prog.exe; its "Start Process" ends at
// the launch (the run's own states are walked with a live target in the debug engine's tests).
TEST_F(TraceCommandsTest, EachCommandLeadsToTheStateOfTheTable)
{
    const int kStartAndEnd = -IDC_MAIN_BUTTON;
    std::ofstream(m_targets + "\\tool.bin", std::ios::binary) << std::string(600, 'x'); // no program: no listing
    for (const char* name : {"prog.exe", "prog.exe", "tool.bin", "prog.exe"})
        ui.ChooseFile(m_targets + "\\" + name);
    const std::pair<int, std::string> steps[] = {
        {IDC_MAIN_BUTTON, kAttached}, {IDC_CANCEL_BUTTON, kDetached}, {IDC_COMPARE_MODE, kDetachedCompare},
        {IDC_COMPARE_MODE, kDetached}, {IDC_CREATE_MODE, kDetachedCompare}, {IDC_CREATE_MODE, kDetached},
        {IDC_MAIN_BUTTON, kAttached}, {kStartAndEnd, kEnded},
        // After a run: the mode buttons flip the captions; "Run File" keeps the mode buttons as they were. Neither
        // the reset nor the failed attach enables BUT03 again; a good attach and a cancel do.
        {IDC_CREATE_MODE, "Attach File+|Attach Process-|Load Archive+|Save Archive+|++-+++++|010|01"},
        {IDC_COMPARE_MODE, kEnded},
        {IDC_MAIN_BUTTON, "Start Process+|Cancel Process+|Run Archive-|Save Archive-|++-+++++|101|00"},
        {IDC_CANCEL_BUTTON, kDetachedCompare},
        {IDC_MAIN_BUTTON, "Start Process+|Cancel Process+|Run Archive-|Save Archive-|++-+++++|101|00"},
        {IDC_CREATE_MODE, "Attach File+|Attach Process-|Load Archive-|Save Archive-|++-+++++|010|00"},
        {IDC_MAIN_BUTTON, "Attach File+|Attach Process-|Load Archive-|Save Archive-|---+++++|010|00"},
        {IDC_MAIN_BUTTON, kAttached}, {IDC_CANCEL_BUTTON, kDetached}};
    for (size_t i = 0; i < std::size(steps); ++i) {
        if (steps[i].first == kStartAndEnd)
            RunOnce();
        else
            Click(steps[i].first);
        // A detached target keeps its listing and rows for the next "Run File".
        const std::string kept = steps[i].second == kDetached || steps[i].second == kDetachedCompare ? "ss|4|+++" : "";
        EXPECT_EQ(State() + (kept.empty() ? "" : Loaded()), steps[i].second + kept) << "step " << i;
    }
}

TEST_F(TraceCommandsTest, RunFileStartsTheSameTargetAgainOrSaysThereIsNone)
{
    Attach();
    ::SendMessageA(Item(IDC_SPEED), TBM_SETPOS, TRUE, 40);
    RunOnce();
    EXPECT_EQ(dlg->m_strCommandLine.Str() + "|" + std::to_string(dlg->m_nSpeed), "prog.exe|40") << "the bare name";
    fs::current_path(m_start);
    Click(IDC_MAIN_BUTTON);
    EXPECT_EQ(Cwd() + "|" + Loaded(), m_targets + "|ss|4|+++") << "the same target, its listing kept";
    ::SetWindowTextA(Item(IDC_COMMAND_LINE), "-v  two words");
    RunOnce();
    EXPECT_EQ(dlg->m_strCommandLine.Str(), "\"prog.exe\" -v  two words") << "with arguments: the name quoted";

    size_t boxes = ui.MessageBoxes().size();
    dlg->m_strTargetName.Empty(); // as an archive may leave it
    Click(IDC_MAIN_BUTTON);
    EXPECT_EQ(Boxes(boxes) + State(), Box("The file does not exist.", "Open File Error", MB_SETFOREGROUND) + kEnded);
}

// Remove All is the trace reset: the user's choice of kinds stays, the arguments and the trackbar empty.
TEST_F(TraceCommandsTest, RemoveAllAsksToSaveOnlyUnsavedResultsThenClears)
{
    for (int id : {IDC_CALL, IDC_STR_DATA, IDC_JMP_PTR})
        Click(id);
    for (int answer : {IDNO, IDYES, 0}) { // 0: nothing unsaved, and the archive folder gone
        SCOPED_TRACE(answer);
        Attach();
        EXPECT_EQ(Loaded(), "cJ|4|+++");
        ::SetWindowTextA(Item(IDC_COMMAND_LINE), "arguments");
        ::SendMessageA(Item(IDC_SPEED), TBM_SETPOS, TRUE, 55);
        if (answer != 0) {
            RunOnce();
            ui.AnswerMessageBox(answer);
            if (answer == IDYES)
                ui.ChooseFile(m_ar + "removed.ar");
        } else {
            Click(IDC_CANCEL_BUTTON);
            Click(IDC_COMPARE_MODE);
            dlg->m_strArchiveDir = (m_start + "\\Gone\\").c_str();
        }
        size_t boxes = ui.MessageBoxes().size(), dialogs = ui.FileDialogs().size();
        Click(IDC_CANCEL_BUTTON);
        // Yes goes on to the save (a box or a dialog of its own); No does not.
        EXPECT_EQ(ui.MessageBoxes().size() - boxes + ui.FileDialogs().size() - dialogs, answer == IDYES ? 2u : 1u);
        const std::string gone = Box(m_start + "\\Gone\\\nThe directory has not found.", "Korvane", MB_ICONEXCLAMATION);
        EXPECT_EQ(Boxes(boxes, 1), answer != 0 ? kSaveQuestion : gone);
        // A folder that is gone leaves the current one as it was.
        std::string reset = State() + Text(dlg->m_hWnd) + "|" + Loaded() + "|" + Cwd() + "|" + Text(IDC_COMMAND_LINE) +
                            "|" + std::to_string(::SendMessageA(Item(IDC_SPEED), TBM_GETPOS, 0, 0)) + "|";
        for (int id : {IDC_CALL_PTR, IDC_CALL, IDC_JMP_PTR, IDC_JMP, IDC_STR_DATA})
            reset += std::to_string(Check(id));
        EXPECT_EQ(reset, kIdle + "Korvane -       [  ]||0|---|" + (answer ? m_start + "\\AR" : m_targets) + "||0|01100");
    }
}

// Yes to the save question, then no save (the dialog cancelled, or the save failing): each command that asked is
// cancelled with it, and the run, its listing and the window stay as they were, still unsaved. No lets the window
// close, the listing still mapped.
TEST_F(TraceCommandsTest, ASaveThatDoesNotHappenCancelsWhatAskedForIt)
{
    Attach();
    RunOnce();
    ui.ChooseFile(m_ar + "kept.ar");
    Click(IDC_SAVE_BUTTON);
    Click(IDC_MAIN_BUTTON); // "Run File"
    RunOnce();
    auto trace = [&] {
        return State() + Text(dlg->m_hWnd) + "|" + Loaded() + "|" + Cwd() + "|" + dlg->m_strTargetName.Str() +
               std::to_string(dlg->m_bSaved) + std::to_string(::IsWindowVisible(dlg->m_hWnd));
    };
    struct Caller { int mode, button; std::string chosen; bool saveFails; }; // button 0: the window's close
    const Caller callers[] = {{0, IDC_CANCEL_BUTTON, "", false}, // "Remove All"
                              {IDC_CREATE_MODE, IDC_MAIN_BUTTON, m_targets + "\\other.exe", true}, // "Attach File"
                              {0, IDC_ARCHIVE_BUTTON, m_ar + "kept.ar", false}, // "Load Archive"
                              {0, 0, "", true}};
    for (const Caller& c : callers) {
        SCOPED_TRACE(c.button);
        if (c.mode != 0)
            Click(c.mode);
        const std::string before = trace();
        size_t boxes = ui.MessageBoxes().size();
        if (!c.chosen.empty())
            ui.ChooseFile(c.chosen);
        ui.AnswerMessageBox(IDYES);
        if (c.saveFails)
            ui.ChooseFile(m_start + "\\Gone\\run.ar");
        else
            ui.CancelFileDialog();
        if (c.button != 0)
            Click(c.button);
        else
            ::SendMessageA(dlg->m_hWnd, WM_CLOSE, 0, 0);
        PumpMessages();
        EXPECT_EQ(Boxes(boxes) + trace(), kSaveQuestion + (c.saveFails ? Box("The file is corrupt!") : "") + before);
    }
    ::SendMessageA(dlg->m_hWnd, WM_CLOSE, 0, 0);
    PumpMessages();
    ASSERT_EQ(std::to_string(::IsWindowVisible(dlg->m_hWnd)) + Loaded(), "0ss|0|+++") << "the dialog ends";
    EXPECT_EQ(RowRecord(0)->text[0], '"') << "read from the view, which stays";
}

// The report of an exception leaves the run paused, also when the user paused it before the report was handled.
// (prog.exe cannot start: its debug thread ends at once, and its end is handled only after the report.)
TEST_F(TraceCommandsTest, AnExceptionReportLeavesTheRunPausedWhicheverCameFirst)
{
    CONTEXT registers = {};
    for (bool pausedFirst : {false, true}) {
        SCOPED_TRACE(pausedFirst);
        if (pausedFirst)
            Click(IDC_CREATE_MODE);
        Attach();
        ::SendMessageA(Item(IDC_MAIN_BUTTON), BM_CLICK, 0, 0); // "Start Process", nothing posted handled
        ASSERT_TRUE(dlg->m_pDebugThread != NULL);
        ASSERT_EQ(::WaitForSingleObject(dlg->m_pDebugThread->m_hThread, 10000), WAIT_OBJECT_0);
        EXPECT_EQ(State(), kRunning) << "started";
        if (pausedFirst)
            ::SendMessageA(Item(IDC_MAIN_BUTTON), BM_CLICK, 0, 0); // "Stop Process"
        size_t boxes = ui.MessageBoxes().size();
        dlg->m_dwExceptionCode = 0xC0000005;
        dlg->m_pExceptionContext = &registers;
        dlg->OnDebugReport();
        EXPECT_EQ(Boxes(boxes).substr(0, 25) + State(), "[STATUS_ACCESS_VIOLATION\n" + kPaused);
        dlg->m_dwExceptionCode = 0; // no box at the run's end
        ASSERT_TRUE(WaitFor([&] { return RunEnded(); }));
    }
}

// At a run's end: a pending exception with the registers (and, where the image lies elsewhere than the listing's
// base, the faulting address as the listing has it), a listing none of whose addresses lies in the program, a thread
// the engine could not rewind.
TEST_F(TraceCommandsTest, RunEndShowsWhatEndedTheRunInItsBox)
{
    Attach();
    CONTEXT context = {};
    DWORD* registers[] = {&context.Eax, &context.Ebx, &context.Ecx, &context.Edx, &context.Esi,
                          &context.Edi, &context.Eip, &context.Esp, &context.Ebp, &context.EFlags};
    for (DWORD i = 0; i < 10; ++i)
        *registers[i] = 0x11111111 * (i + 1);
    const std::string shown = "\nEAX = 11111111\nEBX = 22222222\nECX = 33333333\nEDX = 44444444\nESI  = 55555555"
                              "\nEDI  = 66666666\nEIP  = 77777777\nESP = 88888888\nEBP = 99999999\nEFL = AAAAAAAA";
    const std::string zeros = "\nEAX = 00000000\nEBX = 00000000\nECX = 00000000\nEDX = 00000000\nESI  = 00000000"
                              "\nEDI  = 00000000\nEIP  = 00000000\nESP = 00000000\nEBP = 00000000\nEFL = 00000000";
    const std::string abnormal = "The process has terminated abnormally!";
    struct End { DWORD code; int exited; CONTEXT* registers; DWORD shift; int outside; DWORD unrewound; std::string box; };
    const End ends[] = {
        {0xC0000005, 0, &context, 0, 0, 0, Box("STATUS_ACCESS_VIOLATION" + shown, abnormal)},
        {0xE06D7363, 0, &context, 0, 0, 0, Box(shown, abnormal)},
        {0xC0000094, 0, NULL, 0, 0, 0, Box("STATUS_INTEGER_DIVIDE_BY_ZERO" + zeros, abnormal)},
        {0xC0000005, 1, &context, 0, 0, 0, ""},
        {0xC0000005, 0, &context, 0x76000000, 0, 0,
         Box("STATUS_ACCESS_VIOLATION" + shown + "\nListing address = 00401234", abnormal)},
        {0xC0000005, 1, &context, 0, 1, 0,
         Box("[ prog.exe ]\n  No address of the listing lies in the program: nothing could be traced !",
             "The listing does not fit the program")},
        {0xC0000005, 1, &context, 0, 0, 36,
         Box("Thread 36 could not be rewound after its breakpoint at 00401010: its registers could not be read.\n"
             "The process was ended, since that thread could not go on correctly.", abnormal,
             MB_SETFOREGROUND | MB_ICONEXCLAMATION)}};
    dlg->m_dwFaultAddress = 0x401234;
    dlg->m_dwUnrewoundAt = 0x401010;
    for (const End& end : ends) {
        SCOPED_TRACE(end.box.substr(0, 40));
        size_t boxes = ui.MessageBoxes().size();
        dlg->m_dwExceptionCode = end.code;
        dlg->m_bExited = end.exited;
        dlg->m_pExceptionContext = end.registers;
        dlg->m_dwImageShift = end.shift;
        dlg->m_bListingOutside = end.outside;
        dlg->m_dwUnrewoundThread = end.unrewound;
        dlg->OnDebugEnd();
        EXPECT_EQ(Boxes(boxes) + State(), end.box + kEnded);
    }
    dlg->m_dwUnrewoundThread = 0;
}

} // namespace
