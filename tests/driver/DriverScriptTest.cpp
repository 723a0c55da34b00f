// The driver's script reader: words, variables, and every bad line caught with its line number before any step runs.
#include <gtest/gtest.h>

#include <map>

#include "tools/driver/DriverScript.h"

namespace {

using driver::Command;
using driver::ParseScript;
using driver::ScriptError;

bool Env(const std::string& name, std::string& value)
{
    static const std::map<std::string, std::string> vars = {{"TARGET", "Z:\\a b\\sample.exe"}, {"EMPTY", ""}};
    auto found = vars.find(name);
    if (found != vars.end())
        value = found->second;
    return found != vars.end();
}

std::string Joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words)
        text += "[" + word + "]";
    return text;
}

// "line: message" of the error a script raises, or "" when it reads.
std::string ErrorOf(const std::string& script)
{
    try {
        ParseScript(script, Env);
    } catch (const ScriptError& e) {
        return std::to_string(e.line) + ": " + e.what();
    }
    return "";
}

TEST(DriverScript, SplitsWordsAsTyped)
{
    const struct { const char* line; const char* words; } cases[] = {
        {"  click   BUT01\t", "[click][BUT01]"}, {"# only a comment", ""}, {"", ""},
        {"click \"Attach File\"  # the first step", "[click][Attach File]"},
        {"type x \"a \\\"b c\\\" \\\\ d\\n\"", "[type][x][a \"b c\" \\ d\n]"},
        {"cell EIP=\"0040 1000\" Hits", "[cell][EIP=0040 1000][Hits]"}, {"type x \"\"\r", "[type][x][]"},
        {"file \"${TARGET}\" ${EMPTY}", "[file][Z:\\a b\\sample.exe][]"},
        {"a\"#\"b c$d ${TARGET}x", "[a#b][c$d][Z:\\a b\\sample.exex]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Joined(driver::SplitWords(c.line, 1, Env)), c.words) << c.line;
}

TEST(DriverScript, ReadsCommandsWithTheirLines)
{
    std::string seen;
    for (const Command& c : ParseScript("# steps\n\nwindow \"Korvane - \"\r\n  wait no box\n"
                                        "expect cell EIP=00401000 Hits 3\nprint rows 5\npress Yes", Env))
        seen += std::to_string(c.line) + " " + c.verb + "/" + c.condition + Joined(c.args) + "; ";
    EXPECT_EQ(seen, "3 window/[Korvane - ]; 4 wait/no[box]; 5 expect/cell[EIP=00401000][Hits][3]; "
                    "6 print/[rows][5]; 7 press/[Yes]; ");
}

TEST(DriverScript, RejectsABadLineWithItsNumberBeforeAnyStep)
{
    const struct { const char* script; const char* error; } cases[] = {
        {"window K\n\nclik BUT01", "3: unknown command 'clik'"}, {"wait no boxes", "1: 'no' is followed by 'box'"},
        {"expect colour BUT01", "1: unknown condition 'colour' after 'expect'"},
        {"wait", "1: wrong number of words; usage: wait CONDITION        wait until CONDITION holds, within the time limit"},
        {"expect closed now", "1: wrong number of words; usage: closed                the window has gone"},
        {"timeout ten", "1: expected a time limit in seconds, not 'ten'"}, {"file ${TARGET", "1: '${' without its '}'"},
        {"wait rows 12345678901", "1: expected a number of rows, not '12345678901'"},
        {"expect cell 0 EIP 1", "1: rows are numbered from 1"}, {"click \"Attach File", "1: a quote is not closed"},
        {"expect cell =5 EIP 1", "1: '=5' names no column before '='"},
        {"expect cell first EIP 1", "1: expected a row number from 1 or COLUMN=VALUE, not 'first'"},
        {"press yes", "1: the button is OK, Yes, No or Cancel, not 'yes'"},
        {"scroll list up", "1: a scroll bar goes to its top or bottom, not 'up'"},
        {"expect message likes \"*\"", "1: two words after 'message' are 'like' and the pattern"},
        {"print text", "1: usage: print title | print message | print text CONTROL | print rows [COUNT]"},
        {"type x \"C:\\dir\"", "1: unknown escape \\d inside quotes (\\\" \\\\ \\n are known; a path's backslash is \\\\)"},
        {"type x \"a\\", "1: a backslash ends the line inside quotes"},
        {"file ${NOPE}", "1: the variable ${NOPE} is not set"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorOf(c.script), c.error) << c.script;
    EXPECT_EQ(ErrorOf("print rows\nprint rows 3\nprint message\nexpect headings Num Hits\nexpect column EIP a b c\n"
                      "expect message like \"a*\"\nexpect message like\nrun p\nrun p \"a b\"\nsort Hits\nscroll list top"),
              "");
}

TEST(DriverScript, MatchesAStarWithAnyText)
{
    const struct { const char* pattern; const char* text; bool matches; } cases[] = {
        {"", "", true}, {"", "a", false}, {"*", "any\ntext", true}, {"ab*", "abcd", true}, {"*cd", "abdc", false},
        {"a*c*e", "abcde", true}, {"*a*", "bbb", false},
        // A star takes lines too, and gives back what the rest needs.
        {"EAX = *\nECX = 0\n*", "EAX = 1\nEBX = 2\nECX = 0\nEDX = 3", true},
        {"EAX = *\nECX = 0\n*", "EAX = 1\nECX = 01\nEDX = 3", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(driver::Matches(c.pattern, c.text), c.matches) << c.pattern << " / " << c.text;
}

} // namespace
