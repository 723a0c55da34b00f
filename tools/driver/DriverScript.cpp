#include "tools/driver/DriverScript.h"

#include <cctype>

namespace driver {

namespace {

struct Form {
    const char* name;
    int minArgs, maxArgs; // maxArgs -1: no limit
    const char* usage;
};

const int any = -1;

const Form verbs[] = {
    {"window", 1, 1, "window TITLE          wait for the tracer's window whose title begins with TITLE"},
    {"timeout", 1, 1, "timeout SECONDS       time limit of every later wait and click (default 10)"},
    {"click", 1, 1, "click CONTROL         click an enabled button, until handled or a box opens"},
    {"tick", 1, 1, "tick CONTROL          click a check box that is not ticked"},
    {"untick", 1, 1, "untick CONTROL        click a check box that is ticked"},
    {"type", 2, 2, "type CONTROL TEXT     replace the text of an enabled edit field"},
    {"slide", 2, 2, "slide CONTROL N       drag the trackbar's thumb to position N"},
    {"file", 1, 1, "file PATH             type PATH into the open file dialog and press its OK"},
    {"press", 1, 1, "press BUTTON          press OK, Yes, No or Cancel in the open box"},
    {"esc", 0, 0, "esc                   press Esc in the open box, else in the window"},
    {"close", 0, 0, "close                 close the window as its close button does"},
    {"sort", 1, 1, "sort HEADING          click a column heading of the hit list"},
    {"scroll", 2, 2, "scroll list top       scroll the hit list to its first rows (or bottom: its last)"},
    {"run", 1, 2, "run PROGRAM [ARGS]    run PROGRAM by itself, not traced, in its folder, to its end"},
    {"replace", 2, 2, "replace FILE FROM     write FILE anew with the bytes of FROM, as a rebuild would"},
    {"print", 1, 2, "print title | print message | print text CONTROL | print rows [COUNT]"},
    {"expect", 1, any, "expect CONDITION      fail unless CONDITION holds now"},
    {"wait", 1, any, "wait CONDITION        wait until CONDITION holds, within the time limit"},
};

const Form conditions[] = {
    {"title", 1, 1, "title TEXT            the window's title"},
    {"text", 2, 2, "text CONTROL TEXT     a control's caption or contents"},
    {"enabled", 1, 1, "enabled CONTROL"},
    {"disabled", 1, 1, "disabled CONTROL"},
    {"checked", 1, 1, "checked CONTROL"},
    {"unchecked", 1, 1, "unchecked CONTROL"},
    {"position", 2, 2, "position CONTROL N    the trackbar's position"},
    {"headings", 1, any, "headings NAME...      the hit list's column headings, in order"},
    {"rows", 1, 1, "rows N                the hit list's number of rows"},
    {"cell", 3, 3, "cell ROW COLUMN TEXT  ROW is a number from 1 or COLUMN=VALUE (the first such row)"},
    {"column", 2, any, "column COLUMN FILE... the column's cells are the lines of the files, in any order"},
    {"box", 1, 1, "box TITLE             a box or file dialog titled TITLE is open (it becomes the open box)"},
    {"no", 1, 1, "no box                no box or dialog is open"},
    {"message", 1, 2, "message [like] TEXT   the open box's message; after like, * in TEXT stands for any text"},
    {"closed", 0, 0, "closed                the window has gone"},
    {"line", 2, 2, "line FILE TEXT        one of the file's lines is TEXT"},
    {"same", 2, 2, "same FILE FILE        the two files hold the same bytes"},
};

template <size_t N> const Form* Find(const Form (&forms)[N], const std::string& name)
{
    for (const Form& form : forms)
        if (name == form.name)
            return &form;
    return nullptr;
}

void CheckCount(const Form& form, size_t count, int line)
{
    if (static_cast<int>(count) < form.minArgs || (form.maxArgs != any && static_cast<int>(count) > form.maxArgs))
        throw ScriptError(line, std::string("wrong number of words; usage: ") + form.usage);
}

// Checks that need no window: numbers, button names, row selectors.
void CheckArguments(const Command& c)
{
    try {
        if (c.verb == "timeout")
            ParseCount(c.args[0], "a time limit in seconds");
        else if (c.verb == "slide" || c.condition == "position")
            ParseCount(c.args[1], "a trackbar position");
        else if (c.condition == "rows")
            ParseCount(c.args[0], "a number of rows");
        else if (c.condition == "cell")
            ParseRow(c.args[0]);
        else if (c.condition == "no" && c.args[0] != "box")
            throw std::invalid_argument("'no' is followed by 'box'");
        else if (c.condition == "message" && c.args.size() == 2 && c.args[0] != "like")
            throw std::invalid_argument("two words after 'message' are 'like' and the pattern");
        else if (c.verb == "scroll" && c.args[1] != "top" && c.args[1] != "bottom")
            throw std::invalid_argument("a scroll bar goes to its top or bottom, not '" + c.args[1] + "'");
        else if (c.verb == "press" && c.args[0] != "OK" && c.args[0] != "Yes" && c.args[0] != "No" &&
                 c.args[0] != "Cancel")
            throw std::invalid_argument("the button is OK, Yes, No or Cancel, not '" + c.args[0] + "'");
        else if (c.verb == "print") {
            const std::string& what = c.args[0];
            bool ok = ((what == "title" || what == "message") && c.args.size() == 1) || (what == "text" && c.args.size() == 2) ||
                      what == "rows";
            if (!ok)
                throw std::invalid_argument("usage: print title | print message | print text CONTROL | print rows [COUNT]");
            if (what == "rows" && c.args.size() == 2)
                ParseCount(c.args[1], "a number of rows");
        }
    } catch (const std::invalid_argument& e) {
        throw ScriptError(c.line, e.what());
    }
}

} // namespace

int ParseCount(const std::string& word, const char* what)
{
    if (word.empty() || word.size() > 9)
        throw std::invalid_argument(std::string("expected ") + what + ", not '" + word + "'");
    for (char ch : word)
        if (!std::isdigit(static_cast<unsigned char>(ch)))
            throw std::invalid_argument(std::string("expected ") + what + ", not '" + word + "'");
    return std::stoi(word);
}

RowSelector ParseRow(const std::string& word)
{
    RowSelector row;
    size_t eq = word.find('=');
    if (eq == std::string::npos) {
        row.number = ParseCount(word, "a row number from 1 or COLUMN=VALUE");
        if (row.number == 0)
            throw std::invalid_argument("rows are numbered from 1");
    } else {
        row.column = word.substr(0, eq);
        row.value = word.substr(eq + 1);
        if (row.column.empty())
            throw std::invalid_argument("'" + word + "' names no column before '='");
    }
    return row;
}

std::vector<std::string> SplitWords(const std::string& text, int line, const Lookup& lookup)
{
    std::vector<std::string> words;
    size_t i = 0, n = text.size();
    while (true) {
        while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r'))
            ++i;
        if (i == n || text[i] == '#')
            return words;
        std::string word;
        bool quoted = false;
        // A word runs to the next blank outside quotes: a"b c"d is one word.
        while (i < n && (quoted || (text[i] != ' ' && text[i] != '\t' && text[i] != '\r'))) {
            char ch = text[i];
            if (ch == '"') {
                quoted = !quoted;
                ++i;
            } else if (ch == '\\' && quoted) {
                if (i + 1 == n)
                    throw ScriptError(line, "a backslash ends the line inside quotes");
                char next = text[i + 1];
                if (next == 'n')
                    word += '\n';
                else if (next == '"' || next == '\\')
                    word += next;
                else
                    throw ScriptError(line, std::string("unknown escape \\") + next +
                                                " inside quotes (\\\" \\\\ \\n are known; a path's backslash is \\\\)");
                i += 2;
            } else if (ch == '$' && i + 1 < n && text[i + 1] == '{') {
                size_t close = text.find('}', i + 2);
                if (close == std::string::npos)
                    throw ScriptError(line, "'${' without its '}'");
                std::string name = text.substr(i + 2, close - i - 2), value;
                if (name.empty() || !lookup(name, value))
                    throw ScriptError(line, "the variable ${" + name + "} is not set");
                word += value;
                i = close + 1;
            } else {
                word += ch;
                ++i;
            }
        }
        if (quoted)
            throw ScriptError(line, "a quote is not closed");
        words.push_back(word);
    }
}

std::vector<Command> ParseScript(const std::string& text, const Lookup& lookup)
{
    std::vector<Command> commands;
    int line = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        ++line;
        std::vector<std::string> words = SplitWords(text.substr(start, end - start), line, lookup);
        start = end + 1;
        if (words.empty())
            continue;
        Command c;
        c.line = line;
        c.verb = words[0];
        const Form* verb = Find(verbs, c.verb);
        if (verb == nullptr)
            throw ScriptError(line, "unknown command '" + c.verb + "'");
        words.erase(words.begin());
        CheckCount(*verb, words.size(), line);
        if (c.verb == "expect" || c.verb == "wait") {
            c.condition = words[0];
            const Form* condition = Find(conditions, c.condition);
            if (condition == nullptr)
                throw ScriptError(line, "unknown condition '" + c.condition + "' after '" + c.verb + "'");
            words.erase(words.begin());
            CheckCount(*condition, words.size(), line);
        }
        c.args = words;
        CheckArguments(c);
        commands.push_back(c);
    }
    return commands;
}

bool Matches(const std::string& pattern, const std::string& text)
{
    // The last '*' seen takes one more character each time the rest fails.
    size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::string Quote(const std::string& text)
{
    std::string quoted = "\"";
    for (char ch : text)
        quoted += ch == '\n' ? std::string("\\n") : std::string(1, ch);
    return quoted + "\"";
}

const char* CommandSummary()
{
    static std::string text;
    if (text.empty()) {
        text = "Commands:\n";
        for (const Form& form : verbs)
            text += "  " + std::string(form.usage) + "\n";
        text += "Conditions of expect and wait:\n";
        for (const Form& form : conditions)
            text += "  " + std::string(form.usage) + "\n";
        text += "CONTROL: BUT01 to BUT04, \"Command line\", list, speed, or a control's exact caption.\n";
    }
    return text.c_str();
}

} // namespace driver
