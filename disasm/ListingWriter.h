// The text listing of a program file: header lines, then one code line per
// instruction of every executable section, with string-reference and data
// annotations. Every line ends in CR LF and holds at most 254 characters.
//
// Column layout of a code line (the tracer's conversion relies on it):
//   0      ':'
//   1-8    address, 8 upper-case hex digits
//   10-33  instruction bytes in hex (at most 11 shown), blank-padded
//   34-    mnemonic and operands; calls start with "call", jumps with 'j'
// A string-reference line has "Stri" at columns 23-26 and a '"' at column 34.
// No other line starts with ":0" or has "Stri" at columns 23-26. Bytes that
// are not proven code keep the columns of a code line for reading but start
// with ';' and hold "; " at column 34: no point whichever way a line is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Collects listing text and hands it to a file in large pieces (the listing is
// redirected into a file by cmd, so small writes would be slow).
class CListingOutput {
public:
    explicit CListingOutput(FILE* file = nullptr) : m_file(file) {}
    ~CListingOutput() { Flush(); }
    CListingOutput(const CListingOutput&) = delete;
    CListingOutput& operator=(const CListingOutput&) = delete;

    void Append(const char* text, size_t n)
    {
        m_text.append(text, n);
        m_written += n;
        if (m_file && m_text.size() >= kChunk)
            Flush();
    }
    bool Flush();                    // false once a write to the file failed
    size_t Written() const { return m_written; }

    std::string m_text;              // everything, when there is no file
private:
    static const size_t kChunk = 1 << 20;
    FILE* m_file;
    size_t m_written = 0;
    bool m_bFailed = false;
};

struct CListingStats {
    bool isPe = false;
    size_t instructions = 0;  // code lines: proven instructions
    size_t unproven = 0;      // instructions decoded where no path reaches, listed as data
    size_t dataRanges = 0;
    size_t dataBytes = 0;
    size_t stringRefs = 0;
};

// Writes the listing of the program file held in data[0..size). name is the
// file name shown in the header. A file that is not a 32-bit x86 PE gets a
// short header only (well under 500 bytes); a PE listing is never that short.
// straight: read every code section straight through, whatever the image holds.
CListingStats WriteListing(const uint8_t* data, size_t size, const std::string& name, CListingOutput& out, bool straight = false);
