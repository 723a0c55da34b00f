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
#include "tests/disasm/ListingRules.h"

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

// The listing of bytes, checked for the line rules and for the length by which
// the tracer tells a PE's listing (500 bytes or more) from a short note.
inline std::string ListingOf(const std::vector<uint8_t>& bytes, const std::string& name, CListingStats* stats = nullptr)
{
    const std::vector<uint8_t> exact(bytes); // a block of their size: the sanitizer sees any read past the end
    CListingOutput out;
    const CListingStats s = WriteListing(exact.data(), exact.size(), name, out);
    EXPECT_EQ(BrokenListingRule(out.m_text), "") << name;
    EXPECT_EQ(out.m_text.size() >= 500, s.isPe) << name;
    if (stats)
        *stats = s;
    return out.m_text;
}
