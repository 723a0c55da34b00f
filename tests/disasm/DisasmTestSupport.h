// Shared helpers of the disassembler tests: test programs, listings, line rules.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "disasm/ListingWriter.h"

// The test programs that the build compiles from data/*.c.
inline std::string PeDir() { return DISASM_TEST_PE_DIR; }
inline std::string SourceDir() { return DISASM_TEST_SOURCE_DIR; }

inline std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The listing of bytes held in a heap block of exactly their size, so that the
// sanitizer reports any read past the end.
inline std::string ListingOf(const std::vector<uint8_t>& bytes, const std::string& name = "test.exe",
                             CListingStats* stats = nullptr)
{
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    CListingOutput out;
    CListingStats s = WriteListing(exact.get(), bytes.size(), name, out);
    if (stats)
        *stats = s;
    return out.m_text;
}

// Splits at CR LF; a last line without CR LF is reported as a failure.
inline std::vector<std::string> ListingLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "last line does not end in CR LF: " << text.substr(pos);
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

inline bool IsCodeLine(const std::string& line) { return line.size() >= 34 && line[0] == ':'; }
inline bool IsStringLine(const std::string& line) { return line.size() >= 27 && line.compare(23, 4, "Stri") == 0; }

inline bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// The column rules that the tracer's conversion relies on, for every line.
inline void ExpectListingRules(const std::string& text, const std::string& what)
{
    std::vector<std::string> lines = ListingLines(text);
    bool afterCode = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        SCOPED_TRACE(what + " line " + std::to_string(i + 1) + ": " + line);
        ASSERT_LE(line.size(), 254u);
        ASSERT_EQ(line.find('\r'), std::string::npos);
        ASSERT_EQ(line.find('\n'), std::string::npos);
        ASSERT_FALSE(!line.empty() && line[0] == '\'');
        if (IsCodeLine(line)) {
            for (int c = 1; c <= 8; ++c)
                ASSERT_TRUE(IsUpperHex(line[c]));
            ASSERT_EQ(line[9], ' ');
            size_t hexEnd = 10;
            while (hexEnd < 34 && line[hexEnd] != ' ')
                ++hexEnd;
            ASSERT_EQ((hexEnd - 10) % 2, 0u);
            ASSERT_GE(hexEnd - 10, 2u);
            ASSERT_LE(hexEnd, 32u); // at least two blanks before the text
            for (size_t c = 10; c < hexEnd; ++c)
                ASSERT_TRUE(IsUpperHex(line[c]));
            for (size_t c = hexEnd; c < 34; ++c)
                ASSERT_EQ(line[c], ' ');
            ASSERT_TRUE(line.size() > 34 && line[34] >= 'a' && line[34] <= 'z');
            afterCode = true;
        } else if (IsStringLine(line)) {
            ASSERT_TRUE(afterCode) << "a string line must follow its instruction";
            ASSERT_NE(line.compare(0, 2, ":0"), 0);
            ASSERT_EQ(line[34], '"');
            ASSERT_TRUE(line.back() == '"' || line.compare(line.size() - 4, 4, "\"...") == 0);
        } else {
            ASSERT_NE(line.compare(0, 2, ":0"), 0);
            ASSERT_TRUE(line.empty() || line[0] != ':');
            afterCode = false;
        }
    }
}
