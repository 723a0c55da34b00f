// Shared fixture code for the Win32 tests that drive the real main dialog:
//  - ScriptedUi: the UI seam that records every message box and file dialog and
//    answers it at once from a script (no test ever blocks on a modal box);
//  - TracerDialogTest: a gtest fixture that opens CTracerDlg modelessly from
//    template 102 and closes it after the test, with helpers to read controls;
//  - ListingBuilder: a small raw listing text, converted in place with
//    ConvertListing into the dialog's point maps.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/TracerDlg.h"

class ScriptedUi : public IUiSeam {
public:
    struct MessageBoxCall {
        HWND owner;
        std::string text;
        std::string caption;
        UINT type;
    };
    struct FileDialogCall {
        BOOL open;
        std::string title;
        std::string filter; // the zero separators shown as '|': "desc|*.x|"
        DWORD flags;
        std::string initialName;
    };

    ScriptedUi() { m_previous = AfxSetUiSeam(this); }
    ~ScriptedUi() override { AfxSetUiSeam(m_previous); }

    // Answers for the next message boxes, in order. Unscripted boxes get the
    // declining answer of their type: IDOK for MB_OK, IDNO for MB_YESNO,
    // IDCANCEL where there is a Cancel button.
    void AnswerMessageBox(int id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_boxAnswers.push_back(id);
    }
    // The next file dialog chooses this full path; unscripted dialogs are cancelled.
    void ChooseFile(const std::string& path)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_fileAnswers.push_back({true, path});
    }
    void CancelFileDialog()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_fileAnswers.push_back({false, std::string()});
    }

    std::vector<MessageBoxCall> MessageBoxes() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_boxes;
    }
    std::vector<FileDialogCall> FileDialogs() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_dialogs;
    }

    int MessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
        if (!m_boxAnswers.empty()) {
            int id = m_boxAnswers.front();
            m_boxAnswers.pop_front();
            return id;
        }
        switch (type & MB_TYPEMASK) {
        case MB_OK:
            return IDOK;
        case MB_YESNO:
            return IDNO;
        case MB_ABORTRETRYIGNORE:
            return IDABORT;
        default:
            return IDCANCEL;
        }
    }

    BOOL FileDialog(BOOL open, OPENFILENAMEA& ofn) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        FileDialogCall call{open, ofn.lpstrTitle ? ofn.lpstrTitle : "", "", ofn.Flags,
                            ofn.lpstrFile ? ofn.lpstrFile : ""};
        for (const char* p = ofn.lpstrFilter; p != nullptr && *p != '\0'; p += std::strlen(p) + 1)
            call.filter += std::string(p) + "|";
        m_dialogs.push_back(call);
        if (m_fileAnswers.empty() || !m_fileAnswers.front().first) {
            if (!m_fileAnswers.empty())
                m_fileAnswers.pop_front();
            return FALSE;
        }
        std::string path = m_fileAnswers.front().second;
        m_fileAnswers.pop_front();
        if (ofn.lpstrFile == nullptr || path.size() + 1 > ofn.nMaxFile)
            return FALSE;
        std::memcpy(ofn.lpstrFile, path.c_str(), path.size() + 1);
        size_t slash = path.rfind('\\');
        ofn.nFileOffset = static_cast<WORD>(slash == std::string::npos ? 0 : slash + 1);
        return TRUE;
    }

private:
    mutable std::mutex m_mutex;
    IUiSeam* m_previous = nullptr;
    std::deque<int> m_boxAnswers;
    std::deque<std::pair<bool, std::string>> m_fileAnswers;
    std::vector<MessageBoxCall> m_boxes;
    std::vector<FileDialogCall> m_dialogs;
};

// Handles everything posted to this thread's windows so far.
inline void PumpMessages()
{
    MSG msg;
    while (::PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
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
    // A click on a heading of the hit list, as the list reports it.
    void ClickHeading(int column)
    {
        NMLISTVIEW click = {};
        click.hdr.hwndFrom = Item(IDC_HIT_LIST);
        click.hdr.idFrom = IDC_HIT_LIST;
        click.hdr.code = LVN_COLUMNCLICK;
        click.iItem = -1;
        click.iSubItem = column;
        ::SendMessageA(dlg->m_hWnd, WM_NOTIFY, IDC_HIT_LIST, reinterpret_cast<LPARAM>(&click));
    }
    int RowCount() const { return dlg->m_listHits.GetItemCount(); }
    ListingRecord* RowRecord(int row) const { return reinterpret_cast<ListingRecord*>(dlg->m_listHits.GetItemData(row)); }
    std::string Cell(int row, int column) const { return dlg->m_listHits.GetItemText(row, column).Str(); }

    ScriptedUi ui;
    std::unique_ptr<CTracerDlg> dlg;
};

// A raw listing in the disassembler's column layout, converted in place.
class ListingBuilder {
public:
    ListingBuilder() : m_text("\r\n") {}

    // A code line: address, code bytes (columns 10-33; "FF..." marks a pointer) and text.
    ListingBuilder& Code(DWORD addr, const std::string& code, const std::string& text)
    {
        char address[16];
        wsprintfA(address, "%08X", static_cast<unsigned>(addr));
        std::string line = std::string(":") + address + " " + code;
        line.resize(34, ' ');
        return Line(line + text);
    }
    // A string-data reference to the code line before it.
    ListingBuilder& Str(const std::string& quoted)
    {
        std::string line(23, ' ');
        line += "StringRef: ";
        line.resize(34, ' ');
        return Line(line + "\"" + quoted + "\"");
    }
    ListingBuilder& Line(const std::string& line)
    {
        m_text += line + "\r\n";
        return *this;
    }

    // Converts the text into the dialog's maps; the records live in this builder.
    void Load(CPointMaps& maps)
    {
        m_view.assign(m_text.begin(), m_text.end());
        ConvertListing(m_view.data(), static_cast<DWORD>(m_view.size()), maps);
    }

private:
    std::string m_text;
    std::vector<char> m_view;
};
