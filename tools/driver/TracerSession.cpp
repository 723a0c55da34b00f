#include "tools/driver/TracerSession.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <set>

#include "resources/resource.h"
#include "tools/driver/DriverScript.h"

namespace driver {

namespace {

const size_t remoteTextMax = 4096;

// The file dialog's name field: an Edit inside the ComboBox inside this ComboBoxEx32.
const int fileNameCombo = 1148;
// A message box's text is the static control with this id.
const int boxTextId = 0xFFFF;
// How often a wait looks again at the program's windows.
const DWORD pollMs = 15;

struct ShortName {
    const char* name;
    int id;
};
const ShortName shortNames[] = {
    {"BUT01", IDC_MAIN_BUTTON}, {"BUT02", IDC_CANCEL_BUTTON}, {"BUT03", IDC_ARCHIVE_BUTTON},
    {"BUT04", IDC_SAVE_BUTTON}, {"Command line", IDC_COMMAND_LINE}, {"list", IDC_HIT_LIST},
    {"speed", IDC_SPEED},
};

std::string ClassOf(HWND hWnd)
{
    char name[64] = {};
    ::GetClassNameA(hWnd, name, sizeof name);
    return name;
}

BOOL CALLBACK Collect(HWND hWnd, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(hWnd);
    return TRUE;
}

// Every top-level window, or every descendant of a window.
std::vector<HWND> Windows(HWND parent = nullptr)
{
    std::vector<HWND> found;
    if (parent == nullptr)
        ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
    else
        ::EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Messages sent without waiting; their serial numbers once the program has handled them.
std::set<ULONG_PTR> handledSends;
ULONG_PTR nextSend = 1;

void CALLBACK OnSendHandled(HWND, UINT, ULONG_PTR serial, LRESULT)
{
    handledSends.insert(serial);
}

// Runs the driver's own queue (where the handled-send callbacks arrive) for a moment.
void Pump(DWORD ms)
{
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageA(&msg);
}

// Memory inside the tracer's process, for messages that carry pointers.
class RemoteBlock {
public:
    RemoteBlock(HANDLE process, size_t size) : m_process(process)
    {
        m_base = static_cast<char*>(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
        if (m_base == nullptr)
            throw Failure("cannot reserve memory in the tracer's process (error " + std::to_string(::GetLastError()) + ")");
    }
    ~RemoteBlock() { ::VirtualFreeEx(m_process, m_base, 0, MEM_RELEASE); }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    char* At(size_t offset) const { return m_base + offset; }
    void Write(size_t offset, const void* data, size_t size) const
    {
        SIZE_T done = 0;
        if (!::WriteProcessMemory(m_process, m_base + offset, data, size, &done) || done != size)
            throw Failure("cannot write into the tracer's process");
    }
    void Read(size_t offset, void* data, size_t size) const
    {
        SIZE_T done = 0;
        if (!::ReadProcessMemory(m_process, m_base + offset, data, size, &done) || done != size)
            throw Failure("cannot read from the tracer's process");
    }
    // A text a control writes through an item structure (HDITEMA, LVITEMA):
    // the item at 0, its buffer at 256, the text read back after `ask`.
    template <typename Item, typename Ask> std::string Text(Item item, Ask ask) const
    {
        item.pszText = At(256);
        item.cchTextMax = static_cast<int>(remoteTextMax);
        Write(0, &item, sizeof item);
        Write(256, "", 1);
        ask(reinterpret_cast<LPARAM>(At(0)));
        char text[remoteTextMax] = {};
        Read(256, text, sizeof text - 1);
        return text;
    }

private:
    HANDLE m_process;
    char* m_base;
};

} // namespace

TracerSession::~TracerSession()
{
    if (m_process != nullptr)
        ::CloseHandle(m_process);
}

void TracerSession::SetTimeout(DWORD ms)
{
    const char* scale = getenv("KORVANE_TIME_SCALE");
    const long factor = scale ? std::max(1L, strtol(scale, nullptr, 10)) : 1;
    m_timeoutMs = DWORD(std::min<unsigned long long>(ms * (unsigned long long)factor, 0x7FFFFFFF));
}

DWORD TracerSession::Remaining() const
{
    DWORD spent = ::GetTickCount() - m_stepStart;
    return spent >= m_timeoutMs ? 0 : m_timeoutMs - spent;
}

HWND TracerSession::FindWindowByTitle(const std::string& prefix) const
{
    for (HWND hWnd : Windows())
        if (::IsWindowVisible(hWnd) && ClassOf(hWnd) == "#32770" && ::GetDlgItem(hWnd, IDC_HIT_LIST) != nullptr &&
            Text(hWnd).compare(0, prefix.size(), prefix) == 0)
            return hWnd;
    return nullptr;
}

void TracerSession::Attach(HWND main)
{
    DWORD pid = 0;
    ::GetWindowThreadProcessId(main, &pid);
    HANDLE process = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                                   FALSE, pid);
    if (process == nullptr)
        throw Failure("cannot open the tracer's process " + std::to_string(pid) + " (error " +
                      std::to_string(::GetLastError()) + ")");
    if (m_process != nullptr)
        ::CloseHandle(m_process);
    m_process = process;
    m_main = main;
    m_box = nullptr;
}

HWND TracerSession::Main() const
{
    if (m_main == nullptr)
        throw Failure("no tracer window yet: the script starts with 'window TITLE'");
    if (!::IsWindow(m_main))
        throw Failure("the tracer's window has gone");
    return m_main;
}

LRESULT TracerSession::Ask(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) const
{
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutA(hWnd, msg, wParam, lParam, SMTO_NORMAL, std::max<DWORD>(Remaining(), 1), &result))
        throw Failure("the tracer did not answer within the time limit (" + std::to_string(m_timeoutMs / 1000) + " s)");
    return static_cast<LRESULT>(result);
}

HWND TracerSession::Control(const std::string& name) const
{
    HWND main = Main();
    for (const ShortName& entry : shortNames)
        if (::lstrcmpiA(entry.name, name.c_str()) == 0)
            return ::GetDlgItem(main, entry.id);
    std::vector<HWND> found;
    std::string captions;
    for (HWND child = ::GetWindow(main, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
        std::string text = Text(child);
        if (text == name)
            found.push_back(child);
        if (!text.empty() && ClassOf(child) == "Button")
            captions += (captions.empty() ? "" : ", ") + Quote(text);
    }
    if (found.size() == 1)
        return found[0];
    if (found.empty())
        throw Failure("no control is named or captioned " + Quote(name) + "; buttons now read " + captions +
                      "; short names: BUT01 to BUT04, \"Command line\", list, speed");
    throw Failure("more than one control is captioned " + Quote(name) + ": use a short name");
}

std::string TracerSession::Text(HWND hWnd) const
{
    char text[remoteTextMax] = {};
    // An edit field of another process keeps its text to itself: it is asked.
    // Captions are read from the window, with no message to the program.
    if (ClassOf(hWnd) == "Edit")
        Ask(hWnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    else
        ::GetWindowTextA(hWnd, text, sizeof text);
    return text;
}

bool TracerSession::Checked(HWND control) const
{
    return Ask(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int TracerSession::Position(HWND trackbar) const
{
    return static_cast<int>(Ask(trackbar, TBM_GETPOS, 0, 0));
}

std::vector<HWND> TracerSession::Boxes() const
{
    DWORD tracer = 0;
    ::GetWindowThreadProcessId(Main(), &tracer);
    std::vector<HWND> boxes;
    for (HWND hWnd : Windows()) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hWnd, &pid);
        if (pid == tracer && hWnd != m_main && ::IsWindowVisible(hWnd) && ClassOf(hWnd) == "#32770")
            boxes.push_back(hWnd);
    }
    return boxes;
}

HWND TracerSession::BoxTitled(const std::string& title) const
{
    for (HWND box : Boxes())
        if (Text(box) == title && ::IsWindowEnabled(box))
            return box;
    return nullptr;
}

HWND TracerSession::CurrentBox() const
{
    if (m_box == nullptr)
        throw Failure("no box is open for this step: wait for it first with 'wait box TITLE'");
    if (!::IsWindow(m_box) || !::IsWindowVisible(m_box))
        throw Failure("the box has closed already");
    return m_box;
}

std::string TracerSession::Message(HWND box) const
{
    HWND text = ::GetDlgItem(box, boxTextId);
    if (text == nullptr)
        throw Failure("the box " + Quote(Text(box)) + " shows no message (is it a file dialog?)");
    return Text(text);
}

void TracerSession::CheckUsable(HWND control, const std::string& name) const
{
    HWND top = ::GetAncestor(control, GA_ROOT);
    if (!::IsWindowVisible(control))
        throw Failure(Quote(name) + " is hidden: a user cannot reach it");
    if (!::IsWindowEnabled(control))
        throw Failure(Quote(name) + " is disabled: a user cannot click it");
    if (!::IsWindowEnabled(top)) {
        std::string open;
        for (HWND box : Boxes())
            if (box != top)
                open += " " + Quote(Text(box));
        throw Failure(Quote(name) + " cannot be reached: its window waits for the box" + open);
    }
}

void TracerSession::SendAndWait(HWND hWnd, UINT msg, WPARAM wParam, const std::string& what)
{
    std::vector<HWND> before = Boxes();
    ULONG_PTR serial = nextSend++;
    if (!::SendMessageCallbackA(hWnd, msg, wParam, 0, OnSendHandled, serial))
        throw Failure(what + ": the message could not be sent (error " + std::to_string(::GetLastError()) + ")");
    // Until handled, later steps settle on it (see Settle).
    m_pending[serial] = what;
    while (true) {
        Pump(0);
        if (handledSends.count(serial) != 0 || Closed())
            return;
        for (HWND box : Boxes())
            if (std::find(before.begin(), before.end(), box) == before.end())
                return;
        if (Remaining() == 0)
            throw Failure(what + " was not handled within the time limit (" + std::to_string(m_timeoutMs / 1000) + " s)");
        Pump(pollMs);
    }
}

void TracerSession::Settle()
{
    if (m_main == nullptr)
        return;
    while (true) {
        Pump(0);
        for (auto it = m_pending.begin(); it != m_pending.end();)
            it = handledSends.count(it->first) != 0 ? m_pending.erase(it) : std::next(it);
        if (Closed()) {
            m_pending.clear();
            return;
        }
        // A handler waiting in a box waits for the user: its window holds still.
        if (m_pending.empty() || !Boxes().empty())
            break;
        if (Remaining() == 0)
            throw Failure("the program is still busy with " + m_pending.begin()->second + " after the time limit (" +
                          std::to_string(m_timeoutMs / 1000) + " s)");
        Pump(pollMs);
    }
    // A message sent now is read only once the program's current handler
    // (one it began itself, such as the end of a run) has returned.
    DWORD_PTR ignored;
    if (!::SendMessageTimeoutA(m_main, WM_NULL, 0, 0, SMTO_NORMAL, std::max<DWORD>(Remaining(), 1), &ignored) &&
        !Closed())
        throw Failure("the program stayed busy for the whole time limit (" + std::to_string(m_timeoutMs / 1000) + " s)");
}

void TracerSession::WaitUntilGone(HWND box, const std::string& what)
{
    // Until destroyed, not merely hidden: a box hides at its button, then its
    // modal loop still answers sent messages, so a later step's settling would
    // pass before the handler that showed the box has gone on.
    while (::IsWindow(box)) {
        if (Remaining() == 0) {
            if (!::IsWindowVisible(box))
                return; // hidden for good: kept by its program, not open
            throw Failure(what + ": the box " + Quote(Text(box)) + " is still open after the time limit");
        }
        Pump(pollMs);
    }
}

void TracerSession::Click(HWND control, const std::string& name)
{
    CheckUsable(control, name);
    SendAndWait(control, BM_CLICK, 0, "the click on " + Quote(name));
}

void TracerSession::TypeText(HWND edit, const std::string& name, const std::string& text)
{
    CheckUsable(edit, name);
    if (ClassOf(edit) != "Edit")
        throw Failure(Quote(name) + " is no edit field");
    if (!Ask(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())))
        throw Failure(Quote(name) + " did not take the text");
}

void TracerSession::Slide(HWND trackbar, const std::string& name, int position)
{
    CheckUsable(trackbar, name);
    int low = static_cast<int>(Ask(trackbar, TBM_GETRANGEMIN, 0, 0));
    int high = static_cast<int>(Ask(trackbar, TBM_GETRANGEMAX, 0, 0));
    if (position < low || position > high)
        throw Failure(Quote(name) + " goes from " + std::to_string(low) + " to " + std::to_string(high) + ", not to " +
                      std::to_string(position));
    RemoteBlock block(m_process, 2 * sizeof(RECT));
    RECT thumb, channel;
    Ask(trackbar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(block.At(0)));
    Ask(trackbar, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(block.At(sizeof(RECT))));
    block.Read(0, &thumb, sizeof thumb);
    block.Read(sizeof(RECT), &channel, sizeof channel);

    // The mouse takes the thumb and moves it along the channel; the position
    // grows with x, so the spot for the wanted one is found by halving.
    int y = (thumb.top + thumb.bottom) / 2;
    Ask(trackbar, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((thumb.left + thumb.right) / 2, y));
    int left = channel.left - 1, right = channel.right + 1, x = left;
    while (left <= right) {
        x = (left + right) / 2;
        Ask(trackbar, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
        int now = Position(trackbar);
        if (now == position)
            break;
        if (now < position)
            left = x + 1;
        else
            right = x - 1;
    }
    // Letting go is what tells the program (NM_RELEASEDCAPTURE).
    Ask(trackbar, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    int reached = Position(trackbar);
    if (reached != position)
        throw Failure("the thumb of " + Quote(name) + " stopped at " + std::to_string(reached) + ", not at " +
                      std::to_string(position));
}

void TracerSession::ChooseFile(const std::string& path)
{
    HWND dialog = CurrentBox();
    HWND named = nullptr;
    for (HWND child : Windows(dialog))
        if (::GetDlgCtrlID(child) == fileNameCombo && ClassOf(child) == "ComboBoxEx32")
            named = child;
    HWND combo = named ? ::FindWindowExA(named, nullptr, "ComboBox", nullptr) : nullptr;
    HWND edit = combo ? ::FindWindowExA(combo, nullptr, "Edit", nullptr) : nullptr;
    if (edit == nullptr)
        throw Failure("the box " + Quote(Text(dialog)) + " is no file dialog: it has no file name field");
    TypeText(edit, "the file name field", path);
    HWND ok = ::GetDlgItem(dialog, IDOK);
    if (ok == nullptr)
        throw Failure("the file dialog has no OK button");
    std::vector<HWND> before = Boxes();
    Click(ok, "the file dialog's OK");
    // A dialog that stays has refused the name; it says why in a box of its own.
    if (::IsWindow(dialog) && ::IsWindowVisible(dialog)) {
        for (HWND box : Boxes())
            if (std::find(before.begin(), before.end(), box) == before.end() && ::GetDlgItem(box, boxTextId))
                throw Failure("the file dialog did not take " + Quote(path) + ": " + Quote(Message(box)));
    }
    WaitUntilGone(dialog, "the file dialog");
    m_box = nullptr;
}

void TracerSession::Press(const std::string& button)
{
    HWND box = CurrentBox();
    int id = button == "OK" ? IDOK : button == "Yes" ? IDYES : button == "No" ? IDNO : IDCANCEL;
    HWND control = ::GetDlgItem(box, id);
    if (control == nullptr)
        throw Failure("the box " + Quote(Text(box)) + " has no " + button + " button");
    Click(control, button);
    WaitUntilGone(box, "pressing " + button);
    m_box = nullptr;
}

void TracerSession::PressEsc()
{
    HWND target = m_box && ::IsWindow(m_box) && ::IsWindowVisible(m_box) ? m_box : Main();
    // The keys go where the user's keys would: to the control with the focus.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND focus = target;
    if (::GetGUIThreadInfo(::GetWindowThreadProcessId(target, nullptr), &info) && info.hwndFocus != nullptr &&
        ::GetAncestor(info.hwndFocus, GA_ROOT) == target)
        focus = info.hwndFocus;
    // Posted, as keys are: the dialog's own loop turns Esc into its Cancel command.
    if (!::PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001) ||
        !::PostMessageA(focus, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001)))
        throw Failure("Esc could not be sent (error " + std::to_string(::GetLastError()) + ")");
}

void TracerSession::Scroll(HWND control, const std::string& name, bool toTop)
{
    CheckUsable(control, name);
    if (ClassOf(control) != "SysListView32")
        throw Failure(Quote(name) + " is not the hit list: only the list scrolls");
    // Clicks on the scroll bar beside its thumb, a page each, until the list stops moving.
    int top = static_cast<int>(Ask(control, LVM_GETTOPINDEX, 0, 0));
    for (int before = -1; top != before;) {
        before = top;
        Ask(control, WM_VSCROLL, toTop ? SB_PAGEUP : SB_PAGEDOWN, 0);
        Ask(control, WM_VSCROLL, SB_ENDSCROLL, 0);
        top = static_cast<int>(Ask(control, LVM_GETTOPINDEX, 0, 0));
    }
}

void TracerSession::Close()
{
    HWND main = Main();
    if (!::IsWindowEnabled(main))
        throw Failure("the window cannot be closed while it waits for a box");
    SendAndWait(main, WM_SYSCOMMAND, SC_CLOSE, "closing the window");
}

void TracerSession::ClickHeading(const std::string& heading)
{
    HWND list = Control("list");
    CheckUsable(list, "the hit list");
    HWND header = reinterpret_cast<HWND>(Ask(list, LVM_GETHEADER, 0, 0));
    int index = ColumnIndex(heading);
    RemoteBlock block(m_process, sizeof(RECT));
    RECT item;
    if (!Ask(header, HDM_GETITEMRECT, index, reinterpret_cast<LPARAM>(block.At(0))))
        throw Failure("the heading " + Quote(heading) + " has no place on the screen");
    block.Read(0, &item, sizeof item);
    // Pressed and let go on the heading: the list tells the program on letting go.
    LPARAM middle = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    Ask(header, WM_LBUTTONDOWN, MK_LBUTTON, middle);
    Ask(header, WM_LBUTTONUP, 0, middle);
}

std::string TracerSession::Heading(HWND header, int index) const
{
    // The item structure and its text buffer, both in the tracer's process.
    RemoteBlock block(m_process, 256 + remoteTextMax);
    HDITEMA item = {};
    item.mask = HDI_TEXT;
    return block.Text(item, [&](LPARAM remote) { Ask(header, HDM_GETITEMA, index, remote); });
}

std::vector<std::string> TracerSession::Headings() const
{
    HWND header = reinterpret_cast<HWND>(Ask(Control("list"), LVM_GETHEADER, 0, 0));
    int count = static_cast<int>(Ask(header, HDM_GETITEMCOUNT, 0, 0));
    std::vector<std::string> headings;
    for (int i = 0; i < count; ++i)
        headings.push_back(Heading(header, i));
    return headings;
}

int TracerSession::RowCount() const
{
    return static_cast<int>(Ask(Control("list"), LVM_GETITEMCOUNT, 0, 0));
}

std::vector<std::string> TracerSession::Column(int column, int firstRow, int maxRows) const
{
    HWND list = Control("list");
    int end = RowCount();
    if (maxRows >= 0 && maxRows < end - firstRow)
        end = firstRow + maxRows;
    // One block for all cells: one text at a time, read back after each ask.
    RemoteBlock block(m_process, 256 + remoteTextMax);
    std::vector<std::string> cells;
    for (int row = firstRow; row < end; ++row) {
        LVITEMA item = {};
        item.iSubItem = column;
        cells.push_back(block.Text(item, [&](LPARAM remote) { Ask(list, LVM_GETITEMTEXTA, row, remote); }));
    }
    return cells;
}

std::vector<std::vector<std::string>> TracerSession::Rows(int maxRows) const
{
    // Column by column: every cross-process ask is slow, so the callers that
    // need one column ask for that one alone.
    std::vector<std::vector<std::string>> rows;
    for (size_t column = 0, columns = Headings().size(); column < columns; ++column) {
        std::vector<std::string> cells = Column(int(column), 0, maxRows);
        rows.resize(cells.size());
        for (size_t row = 0; row < cells.size(); ++row)
            rows[row].push_back(cells[row]);
    }
    return rows;
}

int TracerSession::ColumnIndex(const std::string& heading) const
{
    std::vector<std::string> headings = Headings();
    for (size_t i = 0; i < headings.size(); ++i)
        if (headings[i] == heading)
            return static_cast<int>(i);
    std::string known;
    for (const std::string& h : headings)
        known += " " + h;
    throw Failure("the hit list has no column " + Quote(heading) + "; its columns:" + known);
}

std::string TracerSession::Describe() const
{
    if (m_main == nullptr)
        return "no tracer window was found";
    if (!::IsWindow(m_main))
        return "the tracer's window has gone";
    std::string text = "window " + Quote(Text(m_main)) + (::IsWindowEnabled(m_main) ? "" : " (waiting for a box)");
    for (HWND box : Boxes()) {
        text += "\nbox " + Quote(Text(box));
        if (HWND message = ::GetDlgItem(box, boxTextId))
            text += ": " + Quote(Text(message));
    }
    return text;
}

} // namespace driver
