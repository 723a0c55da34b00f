// Shared by the Win32 tests that drive the real main dialog: ScriptedUi, the UI seam that records every message box
// and file dialog and answers it at once from a script (no test blocks on a modal box); TracerDialogTest, CTracerDlg
// opened modelessly; StartFolderTest, with a target and its listing.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/TracerDlg.h"

class ScriptedUi : public IUiSeam {
public:
    struct MessageBoxCall { HWND owner; std::string text, caption; UINT type; };
    // The filter's zero separators are shown as '|': "desc|*.x|".
    struct FileDialogCall { BOOL open; std::string title, filter; DWORD flags; std::string initialName; };
    using Lock = std::lock_guard<std::mutex>;

    ScriptedUi() : m_previous(AfxSetUiSeam(this)) {}
    ~ScriptedUi() override { AfxSetUiSeam(m_previous); }

    // Scripted answers, in order. Unscripted boxes get the declining answer of their type (IDOK, IDNO, IDABORT or
    // IDCANCEL); unscripted file dialogs are cancelled.
    void AnswerMessageBox(int id) { Lock lock(m_mutex); m_boxAnswers.push_back(id); }
    void ChooseFile(const std::string& path) { Lock lock(m_mutex); m_fileAnswers.push_back({true, path}); }
    void CancelFileDialog() { Lock lock(m_mutex); m_fileAnswers.push_back({false, std::string()}); }
    std::vector<MessageBoxCall> MessageBoxes() const { Lock lock(m_mutex); return m_boxes; }
    std::vector<FileDialogCall> FileDialogs() const { Lock lock(m_mutex); return m_dialogs; }

    int MessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override
    {
        Lock lock(m_mutex);
        m_boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
        if (m_nextBox < m_boxAnswers.size())
            return m_boxAnswers[m_nextBox++];
        UINT buttons = type & MB_TYPEMASK;
        return buttons == MB_OK ? IDOK : buttons == MB_YESNO ? IDNO : buttons == MB_ABORTRETRYIGNORE ? IDABORT : IDCANCEL;
    }

    BOOL FileDialog(BOOL open, OPENFILENAMEA& ofn) override
    {
        Lock lock(m_mutex);
        FileDialogCall call{open, ofn.lpstrTitle ? ofn.lpstrTitle : "", "", ofn.Flags, ofn.lpstrFile ? ofn.lpstrFile : ""};
        for (const char* p = ofn.lpstrFilter; p != nullptr && *p != '\0'; p += std::strlen(p) + 1)
            call.filter += std::string(p) + "|";
        m_dialogs.push_back(call);
        std::pair<bool, std::string> answer; // cancelled when unscripted
        if (m_nextFile < m_fileAnswers.size())
            answer = m_fileAnswers[m_nextFile++];
        const std::string& path = answer.second;
        if (!answer.first || ofn.lpstrFile == nullptr || path.size() + 1 > ofn.nMaxFile)
            return FALSE;
        std::memcpy(ofn.lpstrFile, path.c_str(), path.size() + 1);
        return TRUE;
    }

private:
    mutable std::mutex m_mutex;
    IUiSeam* m_previous;
    std::vector<int> m_boxAnswers;
    std::vector<std::pair<bool, std::string>> m_fileAnswers;
    size_t m_nextBox = 0, m_nextFile = 0;
    std::vector<MessageBoxCall> m_boxes;
    std::vector<FileDialogCall> m_dialogs;
};

// KORVANE_TIME_SCALE: how many times longer a slow (emulated) machine takes.
inline DWORD TimeScale()
{
    const char* scale = std::getenv("KORVANE_TIME_SCALE");
    return scale ? DWORD(std::max(1, std::atoi(scale))) : 1;
}

// Handles everything posted to this thread's windows so far.
inline void PumpMessages()
{
    MSG msg;
    while (::PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
}

// The states as the window shows them whole: BUT01 to BUT04 with + or - for enabled; enabled or not, the two mode
// buttons, "Skip Point" and the five kind boxes; the checks of "Compare mode" and "Create mode", and m_bCompareMode;
// m_bPauseOnStop and m_bStopRequest.
inline const std::string kIdle = "Attach File+|Attach Process-|Load Archive+|Save Archive-|---+++++|010|00";
inline const std::string kAttached = "Start Process+|Cancel Process+|Load Archive-|Save Archive-|---+++++|010|00";
inline const std::string kRunning = "Stop Process+|Cancel Process+|Load Archive-|Save Archive-|--+-----|010|10";
inline const std::string kPaused = "Continue ...+|Cancel Process+|Load Archive-|Save Archive+|--++++++|010|11";
inline const std::string kEnded = "Run File+|Remove All+|Run Archive+|Save Archive+|++-+++++|101|01";
inline const std::string kDetached = "Attach File+|Attach Process-|Load Archive+|Save Archive-|++-+++++|010|01";
inline const std::string kDetachedCompare = "Run File+|Remove All+|Run Archive+|Save Archive-|++-+++++|101|01";

// A message box as the tests spell it.
inline std::string Box(const std::string& text, const std::string& caption = "Message Box", UINT type = MB_SETFOREGROUND)
{
    return "[" + text + "|" + caption + "|" + std::to_string(type) + "]";
}
inline const std::string kSaveQuestion = Box("Would you like to save the archive?", "Korvane", MB_YESNO | MB_ICONQUESTION);

inline std::string FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TracerDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dlg.reset(new CTracerDlg);
        ASSERT_TRUE(dlg->Create(IDD_KORVANE_DIALOG));
        PumpMessages();
    }
    void TearDown() override
    {
        if (dlg->m_hWnd != NULL)
            dlg->DestroyWindow();
        PumpMessages();
    }

    HWND Item(int id) const { return ::GetDlgItem(dlg->m_hWnd, id); }
    std::string Text(HWND hWnd) const
    {
        char text[512] = {};
        ::GetWindowTextA(hWnd, text, sizeof text);
        return text;
    }
    std::string Text(int id) const { return Text(Item(id)); }
    bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
    int Check(int id) const { return static_cast<int>(::SendMessageA(Item(id), BM_GETCHECK, 0, 0)); }
    // A user's click: only on an enabled control (Wine would deliver it to a disabled one).
    void Click(int id)
    {
        ASSERT_TRUE(Enabled(id)) << "control " << id << " is disabled";
        ::SendMessageA(Item(id), BM_CLICK, 0, 0);
        PumpMessages();
    }
    // The window's state, spelled as kIdle and the other states above.
    std::string State() const
    {
        std::string is;
        for (int id : {IDC_MAIN_BUTTON, IDC_CANCEL_BUTTON, IDC_ARCHIVE_BUTTON, IDC_SAVE_BUTTON})
            is += Text(id) + (Enabled(id) ? "+|" : "-|");
        for (int id : {IDC_COMPARE_MODE, IDC_CREATE_MODE, IDC_SKIP_POINT, IDC_CALL_PTR, IDC_CALL, IDC_JMP_PTR, IDC_JMP,
                       IDC_STR_DATA})
            is += Enabled(id) ? '+' : '-';
        for (int flag : std::initializer_list<int>{-1, Check(IDC_COMPARE_MODE), Check(IDC_CREATE_MODE), dlg->m_bCompareMode, -1,
                         dlg->m_bPauseOnStop, dlg->m_bStopRequest})
            is += flag < 0 ? '|' : char('0' + flag);
        return is;
    }
    // Pumps the window's messages until `done` holds; false after `ms` times KORVANE_TIME_SCALE.
    bool WaitFor(const std::function<bool()>& done, DWORD ms = 60000)
    {
        ms *= TimeScale();
        for (DWORD start = ::GetTickCount(); !done(); ::Sleep(2)) {
            PumpMessages();
            if (::GetTickCount() - start > ms)
                return false;
        }
        return true;
    }
    // The debug thread has ended and the window has taken its end message.
    bool RunEnded() const { return dlg->m_pDebugThread == NULL && dlg->m_bPauseOnStop == 0; }
    // The message boxes shown since the first `from`, at most `count`.
    std::string Boxes(size_t from = 0, size_t count = 99) const
    {
        std::vector<ScriptedUi::MessageBoxCall> boxes = ui.MessageBoxes();
        std::string shown;
        for (size_t i = from; i < boxes.size() && i < from + count; ++i)
            shown += Box(boxes[i].text, boxes[i].caption, boxes[i].type);
        return shown;
    }
    int RowCount() const { return dlg->m_listHits.GetItemCount(); }
    ListingRecord* RowRecord(int row) const { return dlg->RowRecord(row); }
    std::string Cell(int row, int column) const { return dlg->m_listHits.GetItemText(row, column).Str(); }
    // The kinds of the listed rows, the number of points, and + for each of the listing's view, file and mapping that
    // is open.
    std::string Loaded() const
    {
        std::string rows;
        for (int row = 0; row < RowCount(); ++row)
            rows += char(RowRecord(row)->kind);
        return rows + "|" + std::to_string(dlg->m_mapAll.GetCount()) + "|" + (dlg->m_pListing ? '+' : '-') +
               (dlg->m_hListingFile != INVALID_HANDLE_VALUE ? '+' : '-') +
               (dlg->m_hListingMapping != INVALID_HANDLE_VALUE ? '+' : '-');
    }

    ScriptedUi ui;
    std::unique_ptr<CTracerDlg> dlg;
};

// A start folder of its own (the dialog takes its folders from the current one), whose AR folder holds the listing of
// prog.exe, newer than prog.exe beside it, so that no disassembler runs: a call, a string after a push, a jump
// through a pointer and another string, padded past the 500 bytes under which a listing is taken for no PE's.
class StartFolderTest : public TracerDialogTest {
protected:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        m_targets = (fs::temp_directory_path() / "korvane-").string() + std::to_string(::GetCurrentProcessId());
        m_start = m_targets + "\\Start";
        m_ar = m_start + "\\AR\\";
        fs::create_directories(m_ar);
        std::ofstream(m_ar + "prog.dsm", std::ios::binary) << ProgListing();
        std::ofstream(m_targets + "\\prog.exe", std::ios::binary) << "MZ" << std::string(600, '\0');
        fs::last_write_time(m_ar + "prog.dsm", fs::last_write_time(m_targets + "\\prog.exe") + std::chrono::hours(1));
        fs::current_path(m_start);
        TracerDialogTest::SetUp();
    }
    void TearDown() override
    {
        dlg->CloseListing();
        TracerDialogTest::TearDown();
        std::filesystem::current_path(std::filesystem::temp_directory_path());
        std::error_code ignored;
        std::filesystem::remove_all(m_targets, ignored);
    }

    static std::string ProgListing()
    {
        auto line = [](std::string at, const char* text) { return at.append(34 - at.size(), ' ') + text + "\r\n"; };
        std::string ref = std::string(23, ' ') + "StringRef: ", text = "Disassembly of prog.exe\r\n\r\n";
        text += line(":00401000 E8FB000000", "call 00401100") + line(":00401005 6800304000", "push 00403000") +
                line(ref, "\"hello\"") + line(":0040100A FF2504204000", "jmp dword ptr [00402004]") +
                line(":00401010 6810304000", "push 00403010") + line(ref, "\"world\"");
        while (text.size() < 700)
            text += "; a line of the listing that is no point at all, only text\r\n";
        return text;
    }

    std::string m_targets, m_start, m_ar; // m_ar ends in its backslash
};
