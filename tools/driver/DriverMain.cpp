// korvane-driver: operates a running Korvane.exe from outside, as a user
// would, following a script of plain commands (see DriverScript.h and the
// usage text). Exit code 0 when every step passed, 1 at the first step that
// failed, 2 for a script that cannot be read or has a bad line.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/driver/DriverScript.h"
#include "tools/driver/OutsideTracer.h"
#include "tools/driver/TracerSession.h"

using namespace driver;

namespace {

// The lines of a file that are not empty.
std::vector<std::string> FileLines(const std::string& path)
{
    std::vector<std::string> lines = Lines(FileText(path));
    lines.erase(std::remove(lines.begin(), lines.end(), std::string()), lines.end());
    return lines;
}

// A few entries of a list, for messages.
std::string Some(const std::vector<std::string>& items)
{
    std::string text;
    for (size_t i = 0; i < items.size() && i < 5; ++i)
        text += " " + Quote(items[i]);
    if (items.size() > 5)
        text += " and " + std::to_string(items.size() - 5) + " more";
    return text;
}

class Runner {
public:
    void Run(const Command& c)
    {
        m_tracer.StartStep();
        // Each step begins where the earlier ones have left the program, not halfway.
        if (c.verb != "window" && c.verb != "timeout")
            m_tracer.Settle();
        if (c.verb == "expect") {
            std::string why = Check(c);
            if (!why.empty())
                throw Failure(why);
        } else if (c.verb == "wait") {
            Wait(c);
        } else {
            Do(c);
        }
    }

    std::string Describe() const { return m_tracer.Describe(); }

private:
    // The reason the condition does not hold, or "" when it does.
    std::string Check(const Command& c)
    {
        const std::string& what = c.condition;
        const std::vector<std::string>& a = c.args;
        if (what == "closed")
            return m_tracer.Closed() ? "" : "the window is still open: " + Quote(m_tracer.Text(m_tracer.Main()));
        if (what == "box") {
            HWND box = m_tracer.BoxTitled(a[0]);
            if (box == nullptr)
                return "no box titled " + Quote(a[0]) + " is open";
            m_tracer.SetCurrentBox(box);
            return "";
        }
        if (what == "no") {
            std::vector<HWND> boxes = m_tracer.Boxes();
            return boxes.empty() ? "" : "a box is open: " + Quote(m_tracer.Text(boxes[0]));
        }
        if (what == "message" && a.size() == 2) {
            std::string message = m_tracer.Message(m_tracer.CurrentBox());
            return Matches(a[1], message) ? "" : "the box's message reads " + Quote(message) + ", not like " + Quote(a[1]);
        }
        if (what == "message")
            return Same("the box's message", m_tracer.Message(m_tracer.CurrentBox()), a[0]);
        if (what == "line")
            return CheckLine(a[0], a[1]);
        if (what == "same")
            return CheckSame(a[0], a[1]);
        if (what == "title")
            return Same("the title", m_tracer.Text(m_tracer.Main()), a[0]);
        if (what == "text")
            return Same(a[0], m_tracer.Text(m_tracer.Control(a[0])), a[1]);
        if (what == "enabled" || what == "disabled") {
            bool enabled = ::IsWindowEnabled(m_tracer.Control(a[0])) != FALSE;
            return enabled == (what == "enabled") ? "" : Quote(a[0]) + " is " + (enabled ? "enabled" : "disabled");
        }
        if (what == "checked" || what == "unchecked") {
            bool checked = m_tracer.Checked(m_tracer.Control(a[0]));
            return checked == (what == "checked") ? "" : Quote(a[0]) + " is " + (checked ? "checked" : "unchecked");
        }
        if (what == "position")
            return Same(a[0] + "'s position", std::to_string(m_tracer.Position(m_tracer.Control(a[0]))), a[1]);
        if (what == "headings") {
            std::vector<std::string> headings = m_tracer.Headings();
            return headings == a ? "" : "the headings are" + Some(headings);
        }
        if (what == "rows")
            return Same("the number of rows", std::to_string(m_tracer.RowCount()), a[0]);
        if (what == "cell")
            return CheckCell(a[0], a[1], a[2]);
        return CheckColumn(a[0], std::vector<std::string>(a.begin() + 1, a.end()));
    }

    static std::string Same(const std::string& what, const std::string& actual, const std::string& expected)
    {
        return actual == expected ? "" : what + " reads " + Quote(actual) + ", not " + Quote(expected);
    }

    std::string CheckCell(const std::string& rowWord, const std::string& column, const std::string& expected)
    {
        RowSelector selector = ParseRow(rowWord);
        int wanted = m_tracer.ColumnIndex(column), row = 0;
        if (selector.number > 0) {
            int count = m_tracer.RowCount();
            if (selector.number > count)
                return "the list has " + std::to_string(count) + " rows, no row " + std::to_string(selector.number);
            row = selector.number - 1;
        } else {
            std::vector<std::string> keys = m_tracer.Column(m_tracer.ColumnIndex(selector.column));
            row = int(std::find(keys.begin(), keys.end(), selector.value) - keys.begin());
            if (row == int(keys.size()))
                return "no row has " + Quote(selector.value) + " under " + selector.column;
        }
        std::vector<std::string> cell = m_tracer.Column(wanted, row, 1);
        return Same("row " + rowWord + " under " + column, cell.empty() ? "" : cell[0], expected);
    }

    static std::string CheckLine(const std::string& path, const std::string& expected)
    {
        std::vector<std::string> lines = Lines(FileText(path));
        if (std::find(lines.begin(), lines.end(), expected) != lines.end())
            return "";
        return Quote(path) + " has no line " + Quote(expected) + "; its lines:" + Some(lines);
    }

    static std::string CheckSame(const std::string& path, const std::string& other)
    {
        std::string text = FileText(path), otherText = FileText(other);
        if (text == otherText)
            return "";
        // The first line that differs says more than the sizes.
        std::vector<std::string> lines = Lines(text), otherLines = Lines(otherText);
        size_t i = 0;
        while (i < lines.size() && i < otherLines.size() && lines[i] == otherLines[i])
            ++i;
        auto at = [i](const std::vector<std::string>& from) { return i < from.size() ? Quote(from[i]) : "its end"; };
        return Quote(path) + " differs from " + Quote(other) + " in line " + std::to_string(i + 1) + ": " +
               at(lines) + " against " + at(otherLines);
    }

    std::string CheckColumn(const std::string& column, const std::vector<std::string>& files)
    {
        int index = m_tracer.ColumnIndex(column);
        std::vector<std::string> cells = m_tracer.Column(index), lines;
        for (const std::string& file : files) {
            std::vector<std::string> more = FileLines(file);
            lines.insert(lines.end(), more.begin(), more.end());
        }
        std::sort(cells.begin(), cells.end());
        std::sort(lines.begin(), lines.end());
        if (cells == lines)
            return "";
        std::vector<std::string> missing, extra;
        std::set_difference(lines.begin(), lines.end(), cells.begin(), cells.end(), std::back_inserter(missing));
        std::set_difference(cells.begin(), cells.end(), lines.begin(), lines.end(), std::back_inserter(extra));
        std::string why = column + " has " + std::to_string(cells.size()) + " cells, the files " +
                          std::to_string(lines.size()) + " lines";
        if (!missing.empty())
            why += "; not in the list:" + Some(missing);
        if (!extra.empty())
            why += "; not in the files:" + Some(extra);
        return why;
    }

    void Wait(const Command& c)
    {
        while (true) {
            std::string why;
            try {
                m_tracer.Settle();
                why = Check(c);
            } catch (const Failure& e) {
                // A window or box that is not there yet may come; a closed window
                // comes back no more (unless its closing is what is awaited).
                if (m_tracer.Remaining() == 0 || (m_tracer.Closed() && c.condition != "closed"))
                    throw;
                why = e.what();
            }
            if (why.empty())
                return;
            if (m_tracer.Remaining() == 0)
                throw Failure(why + " (waited " + std::to_string(m_tracer.Timeout() / 1000) + " s)");
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 15, QS_ALLINPUT);
        }
    }

    void Do(const Command& c)
    {
        const std::vector<std::string>& a = c.args;
        if (c.verb == "window") {
            HWND main;
            while ((main = m_tracer.FindWindowByTitle(a[0])) == nullptr) {
                if (m_tracer.Remaining() == 0)
                    throw Failure("no tracer window titled " + Quote(a[0] + "...") + " appeared within the time limit");
                ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 15, QS_ALLINPUT);
            }
            m_tracer.Attach(main);
        } else if (c.verb == "timeout") {
            m_tracer.SetTimeout(static_cast<DWORD>(ParseCount(a[0], "seconds")) * 1000);
        } else if (c.verb == "click") {
            m_tracer.Click(m_tracer.Control(a[0]), a[0]);
        } else if (c.verb == "tick" || c.verb == "untick") {
            HWND box = m_tracer.Control(a[0]);
            if (m_tracer.Checked(box) != (c.verb == "tick"))
                m_tracer.Click(box, a[0]);
            if (m_tracer.Checked(box) != (c.verb == "tick"))
                throw Failure(Quote(a[0]) + " did not change when clicked");
        } else if (c.verb == "type") {
            m_tracer.TypeText(m_tracer.Control(a[0]), a[0], a[1]);
        } else if (c.verb == "slide") {
            m_tracer.Slide(m_tracer.Control(a[0]), a[0], ParseCount(a[1], "a position"));
        } else if (c.verb == "file") {
            m_tracer.ChooseFile(a[0]);
        } else if (c.verb == "press") {
            m_tracer.Press(a[0]);
        } else if (c.verb == "scroll") {
            m_tracer.Scroll(m_tracer.Control(a[0]), a[0], a[1] == "top");
        } else if (c.verb == "esc") {
            m_tracer.PressEsc();
        } else if (c.verb == "close") {
            m_tracer.Close();
        } else if (c.verb == "sort") {
            m_tracer.ClickHeading(a[0]);
        } else if (c.verb == "run") {
            RunProgram(a[0], a.size() == 2 ? a[1] : "", m_tracer.Remaining());
        } else if (c.verb == "replace") {
            ReplaceFile(a[0], a[1]);
        } else if (c.verb == "print") {
            Print(a);
        }
    }

    void Print(const std::vector<std::string>& a)
    {
        if (a[0] == "title") {
            std::printf("%s\n", m_tracer.Text(m_tracer.Main()).c_str());
        } else if (a[0] == "message") {
            std::printf("%s\n", m_tracer.Message(m_tracer.CurrentBox()).c_str());
        } else if (a[0] == "text") {
            std::printf("%s\n", m_tracer.Text(m_tracer.Control(a[1])).c_str());
        } else {
            // A table: the headings, then the rows, each column as wide as its widest cell.
            std::vector<std::vector<std::string>> table = m_tracer.Rows(a.size() == 2 ? ParseCount(a[1], "rows") : -1);
            table.insert(table.begin(), m_tracer.Headings());
            std::vector<size_t> widths(table[0].size(), 0);
            for (const auto& row : table)
                for (size_t i = 0; i < row.size(); ++i)
                    widths[i] = std::max(widths[i], row[i].size());
            for (const auto& row : table) {
                std::string line;
                for (size_t i = 0; i < row.size(); ++i)
                    line += row[i] + std::string(i + 1 < row.size() ? widths[i] - row[i].size() + 2 : 0, ' ');
                std::printf("%s\n", line.c_str());
            }
        }
        std::fflush(stdout);
    }

    TracerSession m_tracer;
};

int Usage()
{
    std::fprintf(stderr,
                 "usage: korvane-driver [-v] SCRIPT|-\n"
                 "Operates a running Korvane.exe as a user would, one command per line of SCRIPT\n"
                 "(- for standard input). -v echoes each step. Words are separated by blanks;\n"
                 "\"quotes\" hold blanks (\\\" \\\\ \\n inside); ${NAME} is the environment variable;\n"
                 "# starts a comment.\n%s",
                 CommandSummary());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    bool verbose = argc == 3 && std::strcmp(argv[1], "-v") == 0;
    if (argc != 2 + (verbose ? 1 : 0))
        return Usage();
    const char* path = argv[argc - 1];
    std::string name = std::strcmp(path, "-") == 0 ? "stdin" : path;

    std::string text;
    try {
        text = FileText(path);
    } catch (const Failure&) {
        std::fprintf(stderr, "korvane-driver: cannot read %s\n", name.c_str());
        return 2;
    }
    std::vector<Command> commands;
    try {
        commands = ParseScript(text, [](const std::string& var, std::string& value) {
            const char* found = std::getenv(var.c_str());
            if (found == nullptr)
                return false;
            value = found;
            return true;
        });
    } catch (const ScriptError& e) {
        std::fprintf(stderr, "korvane-driver: %s:%d: %s\n", name.c_str(), e.line, e.what());
        return 2;
    }

    Runner runner;
    for (const Command& c : commands) {
        if (verbose) {
            std::printf("%s:%d: %s%s%s", name.c_str(), c.line, c.verb.c_str(), c.condition.empty() ? "" : " ",
                        c.condition.c_str());
            for (const std::string& arg : c.args)
                std::printf(" %s", Quote(arg).c_str());
            std::printf("\n");
            std::fflush(stdout);
        }
        try {
            runner.Run(c);
        } catch (const std::exception& e) {
            std::fflush(stdout);
            std::fprintf(stderr, "korvane-driver: %s:%d: %s failed: %s\nOn the screen: %s\n", name.c_str(), c.line,
                         c.verb.c_str(), e.what(), runner.Describe().c_str());
            return 1;
        }
    }
    return 0;
}
