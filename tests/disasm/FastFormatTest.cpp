// The fast decoder must say exactly what capstone's decoding says, for every
// form it takes on; whatever it declines goes to capstone anyway.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <vector>

#include "disasm/InstructionText.h"

namespace {

std::string Hex(const uint8_t* p, size_t n)
{
    std::string hex;
    for (size_t i = 0; i < n; ++i)
        AppendHex(hex, p[i], 2);
    return hex;
}

// Everything the listing takes from a decoded instruction, as one comparable text.
std::string Facts(const CInstructionText& t)
{
    std::ostringstream s;
    s << t.text << " | " << t.branch << ' ' << t.indirect << ' ' << t.opCount << " | imms";
    for (int i = 0; i < t.immCount; ++i)
        s << ' ' << t.imms[i];
    if (t.hasTarget)
        s << " | target " << t.target;
    if (t.hasMemAbs)
        s << " | abs " << t.memAbs;
    if (t.hasMem)
        s << " | mem " << t.memBase << ' ' << t.memIndex << '*' << (t.memIndex != X86_REG_INVALID ? t.memScale : 0) << '+' << uint32_t(t.memDisp);
    return s.str();
}

class FastFormatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(cs_open(CS_ARCH_X86, CS_MODE_32, &m_handle), CS_ERR_OK);
        cs_option(m_handle, CS_OPT_DETAIL, CS_OPT_ON);
        m_insn = cs_malloc(m_handle);
    }
    void TearDown() override { cs_free(m_insn, 1), cs_close(&m_handle); }

    // Both decoders on the first bytes followed by each tail (small positive, negative
    // and address-like values) and a nop; counts the cases the fast one took.
    void Check(std::initializer_list<uint8_t> head)
    {
        static const uint8_t kTails[][8] = {{0x08, 0, 0, 0, 0x10, 0, 0, 0}, {0xF0, 0xFF, 0xFF, 0xFF, 0x80, 0xFF, 0xFF, 0xFF},
                                            {0, 0x20, 0x40, 0, 0x34, 0x12, 0x40, 0}, {0x80, 0, 0, 0x80, 0x7F, 0, 0, 0}};
        for (const auto& tail : kTails) {
            uint8_t bytes[16];
            const size_t n = head.size() + 9;
            std::copy(head.begin(), head.end(), bytes);
            memcpy(bytes + head.size(), tail, 8), bytes[n - 1] = 0x90;
            unsigned len = FastFormat(bytes, n, 0x401000, m_fast);
            if (!len)
                continue;
            ++m_taken;
            const uint8_t* p = bytes;
            size_t avail = n;
            uint64_t address = 0x401000;
            ASSERT_TRUE(cs_disasm_iter(m_handle, &p, &avail, &address, m_insn)) << Hex(bytes, n) << " -> " << m_fast.text;
            FormatInstruction(m_handle, *m_insn, m_slow);
            ASSERT_EQ(len, m_insn->size) << Hex(bytes, n);
            ASSERT_EQ(Facts(m_fast), Facts(m_slow)) << Hex(bytes, n);
        }
    }

    csh m_handle = 0;
    cs_insn* m_insn = nullptr;
    CInstructionText m_fast, m_slow;
    size_t m_taken = 0;
};

TEST_F(FastFormatTest, AgreesWithCapstoneOnEveryTwoByteStart)
{
    for (int b = 0; b < 0x10000 && !HasFatalFailure(); ++b)
        Check({uint8_t(b >> 8), uint8_t(b)});
    EXPECT_GT(m_taken, 50000u); // the fast path did run
}

TEST_F(FastFormatTest, AgreesWithCapstoneOnEverySibByte)
{
    for (uint8_t op : {0x01, 0x03, 0x09, 0x0B, 0x11, 0x13, 0x19, 0x1B, 0x21, 0x23, 0x29, 0x2B, 0x31, 0x33, 0x39, 0x3B,
                       0x81, 0x83, 0x85, 0x89, 0x8B, 0x8D, 0xC7, 0xFF})
        for (int modReg = 0; modReg < 24; ++modReg) // mod 0 to 2, every reg, SIB follows
            for (int sib = 0; sib < 256 && !HasFatalFailure(); ++sib)
                Check({op, uint8_t(modReg << 3 | 4), uint8_t(sib)});
    EXPECT_GT(m_taken, 100000u);
}

TEST_F(FastFormatTest, DeclinesWhatIsCutShortPrefixedOrInvalid)
{
    const std::vector<uint8_t> cases[] = {
        {0xE8, 0, 0, 0}, {0x8B, 0x84, 0x24}, {0x0F, 0x84, 0}, {0xC7, 0x05, 0, 0x20, 0x40, 0},     // cut short
        {0x66, 0x89, 0xC0}, {0xF3, 0xC3, 0}, {0x64, 0x8B, 0x00}, {0xF0, 0x01, 0x00},           // prefixed
        {0x8D, 0xC0}, {0xFF, 0xFF}, {0xC7, 0xC8}, {0xFF, 0x18}};                                 // invalid
    for (const auto& b : cases)
        EXPECT_EQ(FastFormat(b.data(), b.size(), 0x401000, m_fast), 0u) << Hex(b.data(), b.size());
}

} // namespace
