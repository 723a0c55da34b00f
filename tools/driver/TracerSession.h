// The running tracer as the driver sees it: its window, its controls, its
// boxes and the hit list, read and operated from another process only in ways
// a user could (a click on a disabled control is refused, not delivered).
// Every call that needs the program's answer is bounded by the time limit.
#pragma once

#include <windows.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace driver {

// A step that could not be done or whose check failed.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class TracerSession {
public:
    TracerSession() { SetTimeout(10000); }
    ~TracerSession();
    TracerSession(const TracerSession&) = delete;
    TracerSession& operator=(const TracerSession&) = delete;

    // Time limit of each later wait, click and reply, from the step's start;
    // KORVANE_TIME_SCALE multiplies every limit on a slow (emulated) machine.
    void SetTimeout(DWORD ms);
    DWORD Timeout() const { return m_timeoutMs; }
    // Starts the time limit of one step.
    void StartStep() { m_stepStart = ::GetTickCount(); }
    DWORD Remaining() const;

    // The tracer's main window (the dialog holding the hit list) whose title
    // begins with the prefix; nullptr when there is none yet.
    HWND FindWindowByTitle(const std::string& prefix) const;
    void Attach(HWND main);
    HWND Main() const;
    bool Closed() const { return m_main == nullptr || !::IsWindow(m_main); }

    // A control by short name (BUT01..BUT04, "Command line", list, speed) or exact caption.
    HWND Control(const std::string& name) const;
    std::string Text(HWND hWnd) const;
    bool Checked(HWND control) const;
    int Position(HWND trackbar) const;

    // Boxes and dialogs of the program other than the main window, visible.
    std::vector<HWND> Boxes() const;
    HWND BoxTitled(const std::string& title) const; // nullptr when none
    void SetCurrentBox(HWND box) { m_box = box; }
    HWND CurrentBox() const; // fails when no box is current or it has gone
    std::string Message(HWND box) const;

    // Waits until the program has finished with what it was given: every
    // click sent has been handled or waits in a box the program opened, and
    // whatever it began on its own has ended (it reads its messages again).
    void Settle();

    // A user's click: refused unless the control and its window can take it;
    // returns once the program has handled it, has opened a box, or has closed.
    void Click(HWND control, const std::string& name);
    void TypeText(HWND edit, const std::string& name, const std::string& text);
    void Slide(HWND trackbar, const std::string& name, int position);
    void ChooseFile(const std::string& path);
    void Press(const std::string& button);
    void PressEsc();
    // The hit list scrolled to its first (or last) rows, as its scroll bar does.
    void Scroll(HWND control, const std::string& name, bool toTop);
    void Close();
    // A click on the hit list's column heading, where the user sorts the list.
    void ClickHeading(const std::string& heading);

    std::vector<std::string> Headings() const;
    // The hit list's cells, row by row; at most maxRows rows (-1: all).
    std::vector<std::vector<std::string>> Rows(int maxRows = -1) const;
    // One column's cells from firstRow on, at most maxRows of them (-1: all).
    std::vector<std::string> Column(int column, int firstRow = 0, int maxRows = -1) const;
    int RowCount() const;
    int ColumnIndex(const std::string& heading) const; // fails for an unknown heading

    // What is on the screen, for a failure's report.
    std::string Describe() const;

private:
    LRESULT Ask(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) const;
    void CheckUsable(HWND control, const std::string& name) const;
    // Sends without waiting; then pumps until the program handled the message,
    // a box that was not open before appeared, or the window went away.
    void SendAndWait(HWND hWnd, UINT msg, WPARAM wParam, const std::string& what);
    void WaitUntilGone(HWND box, const std::string& what);
    std::string Heading(HWND header, int index) const;

    HWND m_main = nullptr;
    HWND m_box = nullptr;
    HANDLE m_process = nullptr;
    std::map<ULONG_PTR, std::string> m_pending; // sent, not yet handled: what each was
    DWORD m_timeoutMs = 0;
    DWORD m_stepStart = 0;
};

} // namespace driver
