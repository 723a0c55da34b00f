// The driver's command language: one command per line, words separated by
// blanks, "double quotes" around words with blanks (\" \\ \n inside), ${NAME}
// replaced by the environment variable NAME, # to the end of the line a
// comment. The whole script is read and checked before any step runs, so a
// mistyped line fails at once with its line number. Pure code: no Win32.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace driver {

// A bad line: its number and what is wrong with it.
struct ScriptError : std::runtime_error {
    ScriptError(int line, const std::string& what) : std::runtime_error(what), line(line) {}
    int line;
};

struct Command {
    int line = 0;
    std::string verb;              // "click", "expect", "wait", ...
    std::string condition;         // expect and wait: "title", "text", "no box", ...
    std::vector<std::string> args; // what follows the verb (and the condition)
};

// Looks up an environment variable; false when it is not set.
using Lookup = std::function<bool(const std::string& name, std::string& value)>;

// Splits a line into words; an empty result for a blank or comment line.
// Throws ScriptError for an open quote, an unknown escape or an unset variable.
std::vector<std::string> SplitWords(const std::string& text, int line, const Lookup& lookup);

// Reads a whole script; throws ScriptError at the first bad line.
std::vector<Command> ParseScript(const std::string& text, const Lookup& lookup);

// Whether TEXT is PATTERN, where each '*' of PATTERN stands for any text.
bool Matches(const std::string& pattern, const std::string& text);

// A text in quotes as a script would write it (a line break as \n), for messages.
std::string Quote(const std::string& text);

// The text of all commands, for the usage message.
const char* CommandSummary();

// A row of the hit list: 1-based, or the first row whose COLUMN cell is VALUE.
struct RowSelector {
    int number = 0; // 0 when chosen by a cell
    std::string column, value;
};
// Throws std::invalid_argument for anything else.
RowSelector ParseRow(const std::string& word);

// A whole non-negative number; throws std::invalid_argument otherwise.
int ParseCount(const std::string& word, const char* what);

} // namespace driver
