// The command buttons and the trace states: the real dialog, clicked as a
// user clicks it, in a start folder of its own (with AR\) and a target folder
// whose target has a listing ready in AR\, newer than the target, so that no
// disassembler runs. Every state is checked whole, control by control.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/app/DialogFixture.h"

namespace {

enum class State { Idle, Attached, Running, Paused, Cancelling, Ended, Detached };

// What the window shows of the trace's state.
struct Look {
    std::string main;
    bool mainOn;
    std::string cancel;
    bool cancelOn;
    std::string archive;
    bool archiveOn;
    bool saveOn;
    int compareChecked; // "Compare mode" down; "Create mode" shows the opposite
    bool modeOn;        // both mode buttons
    bool skipOn;
    bool kindsOn; // the five kind check boxes
    int pauseOnStop;
    int stopRequest;
};

// The state table, with "as before" entries at the value the usual road gives
// them; a test changes a field where its road differs.
Look Expected(State state, bool compare)
{
    const char* mainMode = compare ? "Run File" : "Attach File";
    const char* cancelMode = compare ? "Remove All" : "Attach Process";
    const char* archiveMode = compare ? "Run Archive" : "Load Archive";
    int c = compare ? 1 : 0;
    switch (state) {
    case State::Idle:
        return {"Attach File", true, "Attach Process", false, "Load Archive", true, false, 0, false, false, true, 0, 0};
    case State::Attached:
        return {"Start Process", true, "Cancel Process", true, archiveMode, false, false, c, false, false, true, 0, 0};
    case State::Running:
        return {"Stop Process", true, "Cancel Process", true, archiveMode, false, false, c, false, true, false, 1, 0};
    case State::Paused:
        return {"Continue ...", true, "Cancel Process", true, archiveMode, false, true, c, false, true, true, 1, 1};
    case State::Cancelling:
        return {"Continue ...", true, "Cancel Process", true, archiveMode, false, true, c, false, true, true, 0, 1};
    case State::Ended:
        return {"Run File", true, "Remove All", true, "Run Archive", true, true, 1, true, false, true, 0, 1};
    case State::Detached:
        return {mainMode, true, cancelMode, compare, archiveMode, true, false, c, true, false, true, 0, 1};
    }
    return {};
}

// A listing in the disassembler's columns: two string-data points, one of each
// other kind, and lines that are no points, over 500 bytes in all.
std::string RawListing()
{
    auto code = [](const char* addr, const char* bytes, const char* text) {
        std::string line = std::string(":") + addr + " " + bytes;
        line.resize(34, ' ');
        return line + text + "\r\n";
    };
    auto str = [](const char* quoted) {
        std::string line(23, ' ');
        line += "StringRef: ";
        line.resize(34, ' ');
        return line + "\"" + quoted + "\"\r\n";
    };
    std::string text = "Disassembly of prog.exe\r\n\r\n";
    text += code("00401000", "E8FB000000", "call 00401100");
    text += code("00401005", "FF1500204000", "call dword ptr [00402000]");
    text += code("0040100B", "6800304000", "push 00403000");
    text += str("hello");
    text += code("00401010", "EB05", "jmp 00401017");
    text += code("00401012", "FF2504204000", "jmp dword ptr [00402004]");
    text += code("00401018", "6810304000", "push 00403010");
    text += str("world");
    while (text.size() < 700)
        text += "; a line of the listing that is no point at all, only text\r\n";
    return text;
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

void RemoveTree(const std::string& dir)
{
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = dir + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                ::DeleteFileA(path.c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(dir.c_str());
}

std::string CurrentDirectory()
{
    char dir[MAX_PATH] = {};
    ::GetCurrentDirectoryA(sizeof dir, dir);
    return dir;
}

// Runs a step at the first message box whose text starts with `prefix`, then
// lets the scripted seam answer it: a way to look at the window while a
// command is still in its box.
class BoxHook : public IUiSeam {
public:
    BoxHook(ScriptedUi& ui, std::string prefix, std::function<void()> step)
        : m_ui(ui), m_prefix(std::move(prefix)), m_step(std::move(step))
    {
        m_previous = AfxSetUiSeam(this);
    }
    ~BoxHook() override { AfxSetUiSeam(m_previous); }
    int MessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override
    {
        if (m_step && std::string(text).compare(0, m_prefix.size(), m_prefix) == 0) {
            std::function<void()> step;
            step.swap(m_step);
            step();
        }
        return m_ui.MessageBox(owner, text, caption, type);
    }
    BOOL FileDialog(BOOL open, OPENFILENAMEA& ofn) override { return m_ui.FileDialog(open, ofn); }

private:
    ScriptedUi& m_ui;
    std::string m_prefix;
    std::function<void()> m_step;
    IUiSeam* m_previous;
};

class TraceCommandsTest : public TracerDialogTest {
protected:
    void SetUp() override
    {
        static int serial = 0;
        char temp[MAX_PATH] = {};
        ::GetTempPathA(sizeof temp, temp);
        m_savedDir = CurrentDirectory();
        m_start = std::string(temp) + "korvane-commands-" + std::to_string(::GetCurrentProcessId()) + "-" +
                  std::to_string(++serial);
        m_targets = m_start + "\\Targets";
        ASSERT_TRUE(::CreateDirectoryA(m_start.c_str(), NULL));
        ASSERT_TRUE(::CreateDirectoryA((m_start + "\\AR").c_str(), NULL));
        ASSERT_TRUE(::CreateDirectoryA(m_targets.c_str(), NULL));
        ASSERT_TRUE(PrepareTarget("prog.exe"));
        // The dialog takes its start folder from the current directory.
        ASSERT_TRUE(::SetCurrentDirectoryA(m_start.c_str()));
        TracerDialogTest::SetUp();
    }
    void TearDown() override
    {
        if (dlg->m_hWnd != NULL)
            dlg->CloseListing();
        TracerDialogTest::TearDown();
        ::SetCurrentDirectoryA(m_savedDir.c_str());
        RemoveTree(m_start);
    }

    // A target and its raw listing in AR\, an hour newer than the target.
    bool PrepareTarget(const std::string& name)
    {
        std::string target = m_targets + "\\" + name;
        std::string listing = m_start + "\\AR\\" + name.substr(0, name.size() - 4) + ".dsm";
        if (!WriteFile(target, "MZ" + std::string(600, '\0')) || !WriteFile(listing, RawListing()))
            return false;
        HANDLE file = ::CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        FILETIME written;
        BOOL ok = ::GetFileTime(file, NULL, NULL, &written);
        ::CloseHandle(file);
        ULARGE_INTEGER later;
        later.LowPart = written.dwLowDateTime;
        later.HighPart = written.dwHighDateTime;
        later.QuadPart += 36000000000ull;
        written.dwLowDateTime = later.LowPart;
        written.dwHighDateTime = later.HighPart;
        file = ::CreateFileA(listing.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        ok = ok && ::SetFileTime(file, NULL, NULL, &written);
        ::CloseHandle(file);
        return ok != FALSE;
    }

    Look Actual() const
    {
        return {Text(IDC_MAIN_BUTTON),   Enabled(IDC_MAIN_BUTTON),    Text(IDC_CANCEL_BUTTON),
                Enabled(IDC_CANCEL_BUTTON), Text(IDC_ARCHIVE_BUTTON), Enabled(IDC_ARCHIVE_BUTTON),
                Enabled(IDC_SAVE_BUTTON),  Check(IDC_COMPARE_MODE),   Enabled(IDC_COMPARE_MODE),
                Enabled(IDC_SKIP_POINT),   Enabled(IDC_CALL),         dlg->m_bPauseOnStop,
                dlg->m_bStopRequest};
    }

    // Every control against the state, all mismatches reported at once.
    void ExpectLook(const Look& want, const char* where)
    {
        SCOPED_TRACE(where);
        Look is = Actual();
        EXPECT_EQ(is.main, want.main) << "BUT01";
        EXPECT_EQ(is.mainOn, want.mainOn) << "BUT01 enabled";
        EXPECT_EQ(is.cancel, want.cancel) << "BUT02";
        EXPECT_EQ(is.cancelOn, want.cancelOn) << "BUT02 enabled";
        EXPECT_EQ(is.archive, want.archive) << "BUT03";
        EXPECT_EQ(is.archiveOn, want.archiveOn) << "BUT03 enabled";
        EXPECT_EQ(Text(IDC_SAVE_BUTTON), "Save Archive");
        EXPECT_EQ(is.saveOn, want.saveOn) << "BUT04 enabled";
        EXPECT_EQ(is.compareChecked, want.compareChecked) << "Compare mode down";
        EXPECT_EQ(Check(IDC_CREATE_MODE), 1 - want.compareChecked) << "Create mode down";
        EXPECT_EQ(dlg->m_bCompareMode, want.compareChecked) << "m_bCompareMode";
        EXPECT_EQ(is.modeOn, want.modeOn) << "Compare mode enabled";
        EXPECT_EQ(Enabled(IDC_CREATE_MODE), want.modeOn) << "Create mode enabled";
        EXPECT_EQ(is.skipOn, want.skipOn) << "Skip Point enabled";
        for (int id : {IDC_CALL_PTR, IDC_CALL, IDC_JMP_PTR, IDC_JMP, IDC_STR_DATA})
            EXPECT_EQ(Enabled(id), want.kindsOn) << "kind box " << id;
        EXPECT_FALSE(Enabled(IDC_SINGLE_STEP));
        for (int id : {IDC_SPEED, IDC_COMMAND_LINE, IDC_HIT_LIST})
            EXPECT_TRUE(Enabled(id)) << id;
        EXPECT_EQ(is.pauseOnStop, want.pauseOnStop) << "m_bPauseOnStop";
        EXPECT_EQ(is.stopRequest, want.stopRequest) << "m_bStopRequest";
    }
    void ExpectState(State state, bool compare, const char* where) { ExpectLook(Expected(state, compare), where); }

    bool Focused(int id) const { return ::GetFocus() == Item(id); }
    std::string Title() const { return Text(dlg->m_hWnd); }

    // "Attach File" with the prepared target chosen.
    void Attach(const std::string& name = "prog.exe")
    {
        ui.ChooseFile(m_targets + "\\" + name);
        Click(IDC_MAIN_BUTTON);
    }
    // Attached, then "Start Process": with no debug engine the run ends at once.
    void RunOnce()
    {
        Click(IDC_MAIN_BUTTON);
        ASSERT_EQ(Text(IDC_MAIN_BUTTON), "Run File");
    }

    std::string m_savedDir, m_start, m_targets;
};

TEST_F(TraceCommandsTest, AttachFileShowsTheOpenDialogAndAttachesTheChosenTarget)
{
    ExpectState(State::Idle, false, "at start-up");

    // Cancelled: nothing changes, not even the typed arguments.
    ::SetWindowTextA(Item(IDC_COMMAND_LINE), "-x");
    ui.CancelFileDialog();
    Click(IDC_MAIN_BUTTON);
    ASSERT_EQ(ui.FileDialogs().size(), 1u);
    ScriptedUi::FileDialogCall call = ui.FileDialogs()[0];
    EXPECT_TRUE(call.open);
    EXPECT_EQ(call.title, "Open a file for show");
    EXPECT_EQ(call.filter, "Executable files (exe, com)|*.exe; *.com|");
    EXPECT_EQ(call.flags & (OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER),
              static_cast<DWORD>(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_EXPLORER));
    EXPECT_EQ(call.initialName, "");
    ExpectState(State::Idle, false, "after a cancelled dialog");
    EXPECT_EQ(Text(IDC_COMMAND_LINE), "-x");

    // Chosen, in upper case: stored lower case without its folder, the folder made current.
    ui.ChooseFile(m_targets + "\\PROG.EXE");
    Click(IDC_MAIN_BUTTON);
    ExpectState(State::Attached, false, "after the attach");
    EXPECT_TRUE(Focused(IDC_MAIN_BUTTON));
    EXPECT_EQ(dlg->m_strTargetName.Str(), "prog.exe");
    EXPECT_EQ(dlg->m_strTargetDir.Str(), m_targets);
    EXPECT_EQ(CurrentDirectory(), m_targets);
    EXPECT_EQ(Title(), "Korvane - prog.exe      [  ]");
    EXPECT_EQ(Text(IDC_COMMAND_LINE), "") << "the attach resets the trace";
    EXPECT_TRUE(ui.MessageBoxes().empty());
    // "Str Data" is ticked from the start: its two points are listed.
    ASSERT_EQ(RowCount(), 2);
    for (int row = 0; row < RowCount(); ++row)
        EXPECT_EQ(RowRecord(row)->kind, 's');

    // The next attach proposes the current target.
    Click(IDC_CANCEL_BUTTON);
    ui.CancelFileDialog();
    Click(IDC_MAIN_BUTTON);
    EXPECT_EQ(ui.FileDialogs().back().initialName, "prog.exe");
}

// The folder of this test program, where the build leaves attach_target.exe;
// the tracer's own folder (Korvane.dll) is ..\..\dist from there.
std::string ProgramDir()
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(NULL, path, sizeof path);
    std::string dir = path;
    return dir.substr(0, dir.rfind('\\'));
}

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST_F(TraceCommandsTest, AttachingARealTargetHasTheCompanionDisassemblerWriteItsListing)
{
    ASSERT_TRUE(::CopyFileA((ProgramDir() + "\\..\\..\\dist\\Korvane.dll").c_str(),
                            (m_start + "\\Korvane.dll").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileA((ProgramDir() + "\\attach_target.exe").c_str(),
                            (m_targets + "\\Attach_Target.exe").c_str(), FALSE));

    Attach("Attach_Target.exe");
    EXPECT_TRUE(ui.MessageBoxes().empty());
    ExpectState(State::Attached, false, "attached");
    EXPECT_TRUE(FileExists(m_start + "\\AR\\attach_target.dsm"));
    EXPECT_FALSE(FileExists(m_targets + "\\temp.bat"));
    EXPECT_FALSE(FileExists(m_targets + "\\temp.exe"));

    // The string-data points, among them the target's own text.
    int strings = RowCount();
    ASSERT_GT(strings, 0);
    bool found = false;
    for (int row = 0; row < strings; ++row) {
        EXPECT_EQ(RowRecord(row)->kind, 's');
        found = found || std::string(RowRecord(row)->text).find("Korvane attach target") != std::string::npos;
    }
    EXPECT_TRUE(found);

    // "Call" adds exactly the call points.
    Click(IDC_CALL);
    int calls = dlg->m_mapCall.GetCount();
    ASSERT_GT(calls, 0);
    EXPECT_EQ(RowCount(), strings + calls);
    int callRows = 0;
    for (int row = 0; row < RowCount(); ++row)
        callRows += RowRecord(row)->kind == 'c';
    EXPECT_EQ(callRows, calls);
}

TEST_F(TraceCommandsTest, AFailedListingLeavesIdleWithTheNewNameAndNothingLoaded)
{
    ASSERT_TRUE(WriteFile(m_targets + "\\tool.bin", std::string(600, 'x')));
    Attach();
    Click(IDC_CANCEL_BUTTON);
    Attach("tool.bin");
    ASSERT_EQ(ui.MessageBoxes().size(), 1u);
    EXPECT_EQ(ui.MessageBoxes()[0].caption, "Could not create DSM file -- restart Korvane!");
    ExpectState(State::Idle, false, "after the failed listing");
    EXPECT_EQ(dlg->m_strTargetName.Str(), "tool.bin");
    EXPECT_EQ(RowCount(), 0);
    EXPECT_EQ(dlg->m_mapAll.GetCount(), 0);
    EXPECT_EQ(dlg->m_pListing, (char*)NULL);
    EXPECT_EQ(dlg->m_hListingFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(dlg->m_hListingMapping, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Title(), "Korvane -       [  ]") << "the title is not refreshed";

    // Attached through "Run File" (BUT03 disabled), flipped to create mode:
    // neither the reset nor the failed attach enables BUT03 again...
    Attach();
    RunOnce();
    Click(IDC_MAIN_BUTTON);
    Click(IDC_CREATE_MODE);
    Attach("tool.bin");
    Look idle = Expected(State::Idle, false);
    idle.archiveOn = false;
    ExpectLook(idle, "after the failed attach from Run File");
    // ...a good attach and "Cancel Process" do.
    Attach();
    Click(IDC_CANCEL_BUTTON);
    ExpectState(State::Detached, false, "detached");
}

TEST_F(TraceCommandsTest, StartProcessWalksThroughTheRunStatesAndEndsInCompareMode)
{
    Attach();
    ::SetWindowTextA(Item(IDC_COMMAND_LINE), "-v  two words");
    ::SendMessageA(Item(IDC_SPEED), TBM_SETPOS, TRUE, 40);

    // With no debug engine the run cannot start; its box comes while the
    // window is Running, and the run's buttons work from there.
    BoxHook hook(ui, "The process was not started", [&] {
        ExpectState(State::Running, false, "running");
        EXPECT_TRUE(Focused(IDC_MAIN_BUTTON));
        Click(IDC_SKIP_POINT);
        EXPECT_EQ(dlg->m_bSkipPoint, 1);
        Click(IDC_MAIN_BUTTON);
        ExpectState(State::Paused, false, "paused");
        Click(IDC_MAIN_BUTTON);
        ExpectState(State::Running, false, "continued");
        Click(IDC_MAIN_BUTTON);
        Click(IDC_CANCEL_BUTTON);
        ExpectState(State::Cancelling, false, "cancelling");
    });
    Click(IDC_MAIN_BUTTON);

    ExpectState(State::Ended, true, "after the run");
    EXPECT_TRUE(Focused(IDC_COMPARE_MODE));
    EXPECT_EQ(dlg->m_strCommandLine.Str(), "\"prog.exe\" -v  two words");
    EXPECT_EQ(dlg->m_nSpeed, 40);
    EXPECT_EQ(dlg->m_bSaved, 0);
    EXPECT_EQ(dlg->m_pDebugThread, (CWinThread*)NULL);
    ASSERT_EQ(ui.MessageBoxes().size(), 1u);
    EXPECT_EQ(ui.MessageBoxes()[0].type, static_cast<UINT>(MB_ICONEXCLAMATION));
}

TEST_F(TraceCommandsTest, RunFileReattachesTheSameTargetOrSaysThereIsNone)
{
    Attach();
    RunOnce();
    ::SetCurrentDirectoryA(m_start.c_str());
    size_t dialogs = ui.FileDialogs().size();

    Click(IDC_MAIN_BUTTON);
    Look attached = Expected(State::Attached, true);
    attached.modeOn = true; // the mode buttons stay as they were
    ExpectLook(attached, "after Run File");
    EXPECT_EQ(CurrentDirectory(), m_targets);
    EXPECT_EQ(RowCount(), 2) << "the listing stays loaded";
    EXPECT_EQ(ui.FileDialogs().size(), dialogs) << "no file is chosen";
    // Without arguments the command line is the bare name, unquoted.
    Click(IDC_MAIN_BUTTON);
    EXPECT_EQ(dlg->m_strCommandLine.Str(), "prog.exe");

    // Without a target name (as an archive may leave it).
    dlg->m_strTargetName.Empty();
    Click(IDC_MAIN_BUTTON);
    ASSERT_EQ(ui.MessageBoxes().size(), 3u);
    ScriptedUi::MessageBoxCall box = ui.MessageBoxes().back();
    EXPECT_EQ(box.text, "The file does not exist.");
    EXPECT_EQ(box.caption, "Open File Error");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_SETFOREGROUND));
    ExpectState(State::Ended, true, "after Run File without a target");
}

TEST_F(TraceCommandsTest, CancelBeforeARunDetachesAndKeepsTheTargetLoaded)
{
    // From "Attach File": create mode.
    Attach();
    Click(IDC_CANCEL_BUTTON);
    ExpectState(State::Detached, false, "detached in create mode");
    EXPECT_TRUE(Focused(IDC_MAIN_BUTTON));
    EXPECT_EQ(RowCount(), 2);
    EXPECT_EQ(dlg->m_strTargetName.Str(), "prog.exe");
    EXPECT_NE(dlg->m_pListing, (char*)NULL);

    // The next attach withdraws the stop request.
    Attach();
    ExpectState(State::Attached, false, "attached again");

    // From "Run File": compare mode, "Remove All" enabled.
    RunOnce();
    Click(IDC_MAIN_BUTTON);
    Click(IDC_CANCEL_BUTTON);
    ExpectState(State::Detached, true, "detached in compare mode");
    EXPECT_EQ(RowCount(), 2);
}

TEST_F(TraceCommandsTest, EitherModeButtonFlipsTheModeAndTheCaptions)
{
    Attach();
    Click(IDC_CANCEL_BUTTON);

    // Detached: every click flips, whichever button it is.
    const struct {
        int button;
        bool compare;
    } clicks[] = {{IDC_COMPARE_MODE, true}, {IDC_COMPARE_MODE, false}, {IDC_CREATE_MODE, true},
                  {IDC_CREATE_MODE, false}};
    for (const auto& click : clicks) {
        Click(click.button);
        ExpectState(State::Detached, click.compare, click.button == IDC_COMPARE_MODE ? "Compare mode" : "Create mode");
    }

    // Ended: to create mode and back.
    Attach();
    RunOnce();
    Click(IDC_CREATE_MODE);
    Look ended = Expected(State::Ended, false);
    ended.main = "Attach File";
    ended.cancel = "Attach Process";
    ended.cancelOn = false;
    ended.archive = "Load Archive";
    ended.compareChecked = 0;
    ExpectLook(ended, "ended, flipped to create mode");
    Click(IDC_COMPARE_MODE);
    ExpectState(State::Ended, true, "ended, back in compare mode");

    // Attached through "Run File": the mode captions replace the run's, BUT03 stays disabled.
    Click(IDC_MAIN_BUTTON);
    Click(IDC_CREATE_MODE);
    Look flipped = Expected(State::Idle, false);
    flipped.archiveOn = false;
    flipped.modeOn = true;
    ExpectLook(flipped, "attached through Run File, flipped");
    EXPECT_EQ(RowCount(), 2);
}

TEST_F(TraceCommandsTest, RemoveAllAsksToSaveOnlyUnsavedResultsAndAlwaysClears)
{
    const struct {
        bool run;   // "Start Process" leaves unsaved results
        int answer; // to the save question
    } cases[] = {{true, IDNO}, {true, IDYES}, {false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.run ? (c.answer == IDYES ? "unsaved, Yes" : "unsaved, No") : "nothing unsaved");
        Attach();
        if (c.run) {
            RunOnce();
        } else {
            Click(IDC_CANCEL_BUTTON);
            Click(IDC_COMPARE_MODE);
        }
        ASSERT_EQ(Text(IDC_CANCEL_BUTTON), "Remove All");
        size_t boxes = ui.MessageBoxes().size();
        size_t dialogs = ui.FileDialogs().size();
        if (c.answer != 0)
            ui.AnswerMessageBox(c.answer);
        Click(IDC_CANCEL_BUTTON);

        std::vector<ScriptedUi::MessageBoxCall> shown = ui.MessageBoxes();
        size_t asked = shown.size() - boxes;
        if (!c.run) {
            EXPECT_EQ(asked, 0u);
        } else {
            ASSERT_GE(asked, 1u);
            EXPECT_EQ(shown[boxes].text, "Would you like to save the archive?");
            EXPECT_EQ(shown[boxes].caption, "Korvane");
            EXPECT_EQ(shown[boxes].type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
            // Yes goes on to the save (a box or a dialog of its own); No does not.
            size_t saveSteps = asked - 1 + (ui.FileDialogs().size() - dialogs);
            EXPECT_EQ(saveSteps, c.answer == IDYES ? 1u : 0u);
        }
        ExpectState(State::Idle, false, "after Remove All");
        EXPECT_EQ(RowCount(), 0);
        EXPECT_EQ(dlg->m_mapAll.GetCount(), 0);
        EXPECT_EQ(dlg->m_pListing, (char*)NULL);
        EXPECT_EQ(dlg->m_hListingFile, INVALID_HANDLE_VALUE);
        EXPECT_EQ(dlg->m_bSaved, 1);
        EXPECT_TRUE(dlg->m_strTargetName.IsEmpty());
        EXPECT_TRUE(dlg->m_strTargetDir.IsEmpty());
        EXPECT_TRUE(dlg->m_strCommandLine.IsEmpty());
        EXPECT_EQ(Title(), "Korvane -       [  ]");
        EXPECT_EQ(CurrentDirectory(), m_start + "\\AR");
    }
}

TEST_F(TraceCommandsTest, ResetKeepsTheKindChoiceAndEmptiesArgumentsAndPacing)
{
    Click(IDC_CALL);
    Click(IDC_STR_DATA);
    Click(IDC_JMP_PTR);
    Attach();
    EXPECT_EQ(RowCount(), 2) << "one call, one jump through a pointer";
    ::SetWindowTextA(Item(IDC_COMMAND_LINE), "arguments");
    ::SendMessageA(Item(IDC_SPEED), TBM_SETPOS, TRUE, 55);
    RunOnce();
    ASSERT_EQ(dlg->m_nSpeed, 55);

    Click(IDC_CANCEL_BUTTON);
    ExpectState(State::Idle, false, "after Remove All");
    EXPECT_EQ(Text(IDC_COMMAND_LINE), "");
    EXPECT_EQ(::SendMessageA(Item(IDC_SPEED), TBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(dlg->m_nSpeed, 0);
    EXPECT_EQ(Check(IDC_CALL), 1);
    EXPECT_EQ(Check(IDC_JMP_PTR), 1);
    EXPECT_EQ(Check(IDC_STR_DATA), 0);
    EXPECT_EQ(Check(IDC_CALL_PTR), 0);
    EXPECT_EQ(Check(IDC_JMP), 0);
    EXPECT_EQ(Check(IDC_SINGLE_STEP), 0);
    for (int armed : dlg->m_armedKinds)
        EXPECT_EQ(armed, 0);

    // The kept choice lists the same kinds at the next attach.
    Attach();
    EXPECT_EQ(RowCount(), 2);
}

TEST_F(TraceCommandsTest, AMissingArchiveFolderIsReportedAndTheResetCompletes)
{
    Attach();
    Click(IDC_CANCEL_BUTTON);
    Click(IDC_COMPARE_MODE);
    dlg->m_strArchiveDir = (m_start + "\\Gone\\").c_str();
    Click(IDC_CANCEL_BUTTON);

    ASSERT_EQ(ui.MessageBoxes().size(), 1u);
    EXPECT_EQ(ui.MessageBoxes()[0].text, m_start + "\\Gone\\\nThe directory has not found.");
    EXPECT_EQ(ui.MessageBoxes()[0].caption, "Korvane");
    EXPECT_EQ(ui.MessageBoxes()[0].type, static_cast<UINT>(MB_ICONEXCLAMATION));
    ExpectState(State::Idle, false, "after the reset");
    EXPECT_EQ(CurrentDirectory(), m_targets) << "the previous directory stays";
}

TEST_F(TraceCommandsTest, ALongTargetNameIsNeverCopiedPastThePathBuffer)
{
    // Names as an archive may leave them: one that fits is proposed whole, a
    // longer one not at all.
    for (int length : {MAX_PATH - 1, MAX_PATH, 1000}) {
        SCOPED_TRACE(length);
        std::string name(static_cast<size_t>(length - 4), 'a');
        name += ".exe";
        dlg->m_strTargetName = name.c_str();
        ui.CancelFileDialog();
        Click(IDC_MAIN_BUTTON);
        std::string proposed = ui.FileDialogs().back().initialName;
        EXPECT_EQ(proposed, length < MAX_PATH ? name : "");
        EXPECT_LT(std::strlen(g_szFileName), static_cast<size_t>(MAX_PATH));
        ExpectState(State::Idle, false, "after the cancelled dialog");
    }
}

TEST_F(TraceCommandsTest, TheChosenTargetSurvivesTheSaveThatItsResetOffers)
{
    Attach();
    RunOnce();
    Click(IDC_CREATE_MODE);
    // Yes to the save question: the save dialog proposes and returns its own
    // path in the program's one path buffer, after the target was chosen there.
    ui.AnswerMessageBox(IDYES);
    BoxHook hook(ui, "Would you like to save", [] { std::strcpy(g_szFileName, "C:\\Archives\\older run.ar"); });
    Attach();
    ExpectState(State::Attached, false, "attached");
    EXPECT_EQ(dlg->m_strTargetName.Str(), "prog.exe");
    EXPECT_EQ(dlg->m_strTargetDir.Str(), m_targets);
    EXPECT_EQ(RowCount(), 2);
}

TEST_F(TraceCommandsTest, ClosingAsksOnlyForUnsavedResultsAndKeepsTheListingMapped)
{
    for (bool run : {false, true}) {
        SCOPED_TRACE(run ? "after a run" : "attached");
        Attach();
        if (run)
            RunOnce();
        size_t boxes = ui.MessageBoxes().size();
        ::SendMessageA(dlg->m_hWnd, WM_CLOSE, 0, 0);
        PumpMessages();
        EXPECT_FALSE(::IsWindowVisible(dlg->m_hWnd)) << "the dialog ends";
        std::vector<ScriptedUi::MessageBoxCall> shown = ui.MessageBoxes();
        ASSERT_EQ(shown.size(), boxes + (run ? 1 : 0));
        if (run) {
            EXPECT_EQ(shown.back().text, "Would you like to save the archive?");
        }
        EXPECT_EQ(dlg->m_bSaved, 1);
        EXPECT_EQ(dlg->m_mapAll.GetCount(), 0);
        // The rows still read their text from the view.
        EXPECT_EQ(RowCount(), 2);
        ASSERT_NE(dlg->m_pListing, (char*)NULL);
        std::string text = RowRecord(0)->text;
        EXPECT_TRUE(text == "\"hello\"" || text == "\"world\"") << text;
        if (!run) {
            ::ShowWindow(dlg->m_hWnd, SW_SHOW);
            Click(IDC_CANCEL_BUTTON);
        }
    }
}

// A stand-in for the debug thread as the window sees it: it reads the maps on
// every turn, pauses itself on a stop request with pause, and ends on one
// without; a silent one waits for an event of its debuggee that never comes.
struct FakeRun {
    CTracerDlg* dlg;
    HANDLE debuggeeEvent;
    bool silent;
    int mapsAtEnd = -1;
};

UINT FakeDebugThread(LPVOID param)
{
    FakeRun* run = static_cast<FakeRun*>(param);
    for (;;) {
        if (run->dlg->m_bStopRequest && run->dlg->m_bPauseOnStop)
            ::SuspendThread(::GetCurrentThread());
        else if (run->dlg->m_bStopRequest && !run->silent)
            break;
        if (::WaitForSingleObject(run->debuggeeEvent, run->silent ? INFINITE : 5) == WAIT_OBJECT_0)
            break;
    }
    run->mapsAtEnd = run->dlg->m_mapAll.GetCount();
    return 0;
}

void StartFakeRun(CTracerDlg& dlg, FakeRun& run, bool paused)
{
    dlg.m_bPauseOnStop = 1;
    dlg.m_bStopRequest = paused ? 1 : 0;
    CWinThread* thread = AfxBeginThread(&FakeDebugThread, &run, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, (CWinThread*)NULL);
    thread->m_bAutoDelete = FALSE;
    dlg.m_pDebugThread = thread;
    thread->ResumeThread();
}

TEST_F(TraceCommandsTest, ClosingDuringARunStopsTheDebugThreadBeforeTheMapsGo)
{
    Attach();
    int points = dlg->m_mapAll.GetCount();
    ASSERT_GT(points, 0);

    FakeRun run{dlg.get(), ::CreateEventA(NULL, TRUE, FALSE, NULL), false};
    StartFakeRun(*dlg, run, true);
    ::SendMessageA(dlg->m_hWnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.mapsAtEnd, points) << "the thread ended before the maps were emptied";
    EXPECT_EQ(dlg->m_mapAll.GetCount(), 0);
    EXPECT_EQ(dlg->m_bPauseOnStop, 0);
    dlg->ReleaseDebugThread();
    ::CloseHandle(run.debuggeeEvent);
}

TEST_F(TraceCommandsTest, ADebugThreadThatWillNotEndKeepsItsMapsAtTheClose)
{
    Attach();
    int points = dlg->m_mapAll.GetCount();

    // Blocked as in a wait for a debug event; no engine is there to end the debuggee.
    FakeRun run{dlg.get(), ::CreateEventA(NULL, TRUE, FALSE, NULL), true};
    StartFakeRun(*dlg, run, false);
    ::SendMessageA(dlg->m_hWnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(dlg->m_mapAll.GetCount(), points);
    EXPECT_EQ(dlg->m_bSaved, 1);

    ::SetEvent(run.debuggeeEvent);
    EXPECT_TRUE(dlg->WaitForDebugThreadEnd(5000));
    EXPECT_EQ(run.mapsAtEnd, points);
    dlg->ReleaseDebugThread();
    EXPECT_EQ(dlg->m_pDebugThread, (CWinThread*)NULL);
    ::CloseHandle(run.debuggeeEvent);
}

TEST_F(TraceCommandsTest, RunEndShowsAPendingExceptionWithTheRegisters)
{
    Attach();
    CONTEXT context = {};
    context.Eax = 0x1;
    context.Ebx = 0x22;
    context.Ecx = 0x333;
    context.Edx = 0x4444;
    context.Esi = 0x55555;
    context.Edi = 0x666666;
    context.Eip = 0x00401005;
    context.Esp = 0x0012FF00;
    context.Ebp = 0xABCDEF01;
    context.EFlags = 0x246;

    const std::string registers = "\nEAX = 00000001\nEBX = 00000022\nECX = 00000333\nEDX = 00004444"
                                  "\nESI  = 00055555\nEDI  = 00666666\nEIP  = 00401005"
                                  "\nESP = 0012FF00\nEBP = ABCDEF01\nEFL = 00000246";
    const std::string zeros = "\nEAX = 00000000\nEBX = 00000000\nECX = 00000000\nEDX = 00000000"
                              "\nESI  = 00000000\nEDI  = 00000000\nEIP  = 00000000"
                              "\nESP = 00000000\nEBP = 00000000\nEFL = 00000000";
    const struct {
        DWORD code;
        int exited;
        CONTEXT* registers;    // NULL: none captured, which shows zeros
        const char* firstLine; // NULL: no box
    } ends[] = {{0xC0000005, 0, &context, "STATUS_ACCESS_VIOLATION"},
                {0xE06D7363, 0, &context, ""},
                {0xC0000094, 0, NULL, "STATUS_INTEGER_DIVIDE_BY_ZERO"},
                {0xC0000005, 1, &context, NULL},
                {0, 0, &context, NULL}};
    for (const auto& end : ends) {
        SCOPED_TRACE(end.code);
        size_t boxes = ui.MessageBoxes().size();
        dlg->m_dwExceptionCode = end.code;
        dlg->m_bExited = end.exited;
        dlg->m_pExceptionContext = end.registers;
        dlg->OnDebugEnd();
        std::vector<ScriptedUi::MessageBoxCall> shown = ui.MessageBoxes();
        if (end.firstLine == NULL) {
            EXPECT_EQ(shown.size(), boxes);
        } else {
            ASSERT_EQ(shown.size(), boxes + 1);
            EXPECT_EQ(shown.back().text, end.firstLine + (end.registers ? registers : zeros));
            EXPECT_EQ(shown.back().caption, "The process has terminated abnormally!");
            EXPECT_EQ(shown.back().type, static_cast<UINT>(MB_SETFOREGROUND));
            EXPECT_EQ(shown.back().owner, dlg->m_hWnd);
        }
        ExpectState(State::Ended, true, "after the run end");
    }
}

} // namespace
