// The column rules of a listing that the tracer's conversion relies on, shared
// by the disassembler's tests and its fuzz target (so without GoogleTest).
#pragma once

#include <algorithm>
#include <string>
#include <vector>

inline std::vector<std::string> ListingLines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t pos = 0, end; pos < text.size(); pos = end + 2) {
        end = std::min(text.find("\r\n", pos), text.size());
        lines.push_back(text.substr(pos, end - pos));
    }
    return lines;
}

inline bool IsCodeLine(const std::string& line) { return line.size() >= 34 && line[0] == ':'; }
inline bool IsStringLine(const std::string& line) { return line.size() >= 27 && line.compare(23, 4, "Stri") == 0; }
inline bool IsHex(const std::string& s, size_t from, size_t n) { return s.find_first_not_of("0123456789ABCDEF", from) >= from + n; }

// "" when every line keeps the rules; else the first line that does not, with the rule.
inline std::string BrokenListingRule(const std::string& text)
{
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        return "last line without CR LF";
    bool afterCode = false;
    for (const std::string& line : ListingLines(text)) {
        // Not even the first line may start like a converted listing ('\'').
        if (line.size() > 254 || line.find_first_of("\r\n") != std::string::npos || line.compare(0, 1, "'") == 0)
            return "too long, a lone CR or LF, or a converted listing's mark: " + line;
        if (IsCodeLine(line)) {
            // Address, a blank, 1 to 11 code bytes, two blanks or more, a lower-case mnemonic at 34.
            size_t hexEnd = line.find(' ', 10);
            if (!IsHex(line, 1, 8) || line[9] != ' ' || hexEnd < 12 || hexEnd > 32 || hexEnd % 2 || !IsHex(line, 10, hexEnd - 10) ||
                line.find_first_not_of(' ', hexEnd) != 34 || line[34] < 'a' || line[34] > 'z')
                return "a code line out of its columns: " + line;
        } else if (IsStringLine(line)) {
            // It follows its instruction; the quoted text starts at 34 and may end in a cut ("...).
            if (!afterCode || line.size() <= 35 || line[34] != '"' || (line.back() != '"' && line.compare(line.size() - 4, 4, "\"...") != 0))
                return "a string line out of place: " + line;
        } else if (line.compare(0, 1, ":") == 0) {
            return "only code lines start with ':': " + line;
        } else if (line.size() > 9 && line[0] == ';' && IsHex(line, 1, 8)) {
            // An instruction that no path reaches: the columns of a code line, "; " before
            // its text, where even a conversion that took it for code finds no kind.
            if (line[9] != ' ' || line.size() < 37 || line.compare(34, 2, "; ") != 0 || !IsHex(line, 10, line.find(' ', 10) - 10))
                return "an unreached instruction out of its columns: " + line;
        }
        afterCode = IsCodeLine(line) || (afterCode && IsStringLine(line));
    }
    return "";
}
