// Shared helpers of the disassembler tests: test programs, listings, line rules.
#pragma once

#include <capstone/capstone.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disasm/ListingWriter.h"

const std::string kPeDir = DISASM_TEST_PE_DIR; // the programs the build makes from data/*.c

// A capstone handle with instruction details on, and an instruction to decode into
// (the members are set up in their order).
struct CCapstone {
    csh handle = 0;
    bool ok = cs_open(CS_ARCH_X86, CS_MODE_32, &handle) == CS_ERR_OK && cs_option(handle, CS_OPT_DETAIL, CS_OPT_ON) == CS_ERR_OK;
    cs_insn* insn = ok ? cs_malloc(handle) : nullptr;
    ~CCapstone() { cs_free(insn, 1); cs_close(&handle); }
};

// A whole file as bytes, or as text with ReadFile<std::string>.
template <class T = std::vector<uint8_t>>
T ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return T(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string ListingOf(const std::vector<uint8_t>& bytes, const std::string& name, CListingStats* stats = nullptr)
{
    const std::vector<uint8_t> exact(bytes); // a block of their size: the sanitizer sees any read past the end
    CListingOutput out;
    CListingStats s = WriteListing(exact.data(), exact.size(), name, out);
    if (stats)
        *stats = s;
    return out.m_text;
}

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

// The column rules that the tracer's conversion relies on, for every line.
inline void ExpectListingRules(const std::string& text, const std::string& what)
{
    ASSERT_TRUE(text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) << what << ": last line without CR LF";
    bool afterCode = false;
    for (const std::string& line : ListingLines(text)) {
        SCOPED_TRACE(what + ": " + line);
        // Not even the first line may start like a converted listing ('\'').
        ASSERT_TRUE(line.size() <= 254 && line.find_first_of("\r\n") == std::string::npos && line.compare(0, 1, "'") != 0);
        if (IsCodeLine(line)) {
            // Address, a blank, 1 to 11 code bytes, two blanks or more, a lower-case mnemonic at 34.
            size_t hexEnd = line.find(' ', 10);
            ASSERT_TRUE(IsHex(line, 1, 8) && line[9] == ' ' && hexEnd >= 12 && hexEnd <= 32 && hexEnd % 2 == 0);
            ASSERT_TRUE(IsHex(line, 10, hexEnd - 10) && line.find_first_not_of(' ', hexEnd) == 34 && line[34] >= 'a' && line[34] <= 'z');
        } else if (IsStringLine(line)) {
            // It follows its instruction; the quoted text starts at 34 and may end in a cut ("...).
            ASSERT_TRUE(afterCode && line.size() > 35 && line[34] == '"' && (line.back() == '"' || line.compare(line.size() - 4, 4, "\"...") == 0));
        } else {
            ASSERT_NE(line.compare(0, 1, ":"), 0) << "only code lines start with ':'";
            // An instruction that no path reaches: the columns of a code line, "; " before its text.
            if (line.size() > 9 && line[0] == ';' && IsHex(line, 1, 8)) {
                ASSERT_TRUE(line[9] == ' ' && line.size() >= 37 && line.compare(34, 2, "; ") == 0 && IsHex(line, 10, line.find(' ', 10) - 10));
            }
        }
        afterCode = IsCodeLine(line) || (afterCode && IsStringLine(line));
    }
}
