// The fast decoder must say exactly what capstone's decoding says, for every
// form it takes on; whatever it declines goes to capstone anyway.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "disasm/InstructionText.h"

namespace {

class FastFormatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(cs_open(CS_ARCH_X86, CS_MODE_32, &m_handle), CS_ERR_OK);
        cs_option(m_handle, CS_OPT_DETAIL, CS_OPT_ON);
        m_insn = cs_malloc(m_handle);
    }
    void TearDown() override
    {
        cs_free(m_insn, 1);
        cs_close(&m_handle);
    }

    // Compares both decoders on one byte sequence; counts the ones the fast one took.
    void Check(const uint8_t* bytes, size_t n)
    {
        const uint32_t va = 0x00401000;
        unsigned len = FastFormat(bytes, n, va, m_fast);
        if (!len)
            return;
        ++m_taken;
        const uint8_t* p = bytes;
        size_t avail = n;
        uint64_t address = va;
        std::string hex;
        for (size_t i = 0; i < n; ++i)
            hex += "0123456789ABCDEF"[bytes[i] >> 4], hex += "0123456789ABCDEF"[bytes[i] & 15];
        ASSERT_TRUE(cs_disasm_iter(m_handle, &p, &avail, &address, m_insn)) << hex << " -> " << m_fast.text;
        FormatInstruction(m_handle, *m_insn, m_slow);
        ASSERT_EQ(len, m_insn->size) << hex;
        ASSERT_EQ(m_fast.text, m_slow.text) << hex;
        ASSERT_EQ(m_fast.branch, m_slow.branch) << hex;
        ASSERT_EQ(m_fast.indirect, m_slow.indirect) << hex;
        ASSERT_EQ(m_fast.hasTarget, m_slow.hasTarget) << hex;
        if (m_fast.hasTarget) {
            ASSERT_EQ(m_fast.target, m_slow.target) << hex;
        }
        ASSERT_EQ(m_fast.hasMemAbs, m_slow.hasMemAbs) << hex;
        if (m_fast.hasMemAbs) {
            ASSERT_EQ(m_fast.memAbs, m_slow.memAbs) << hex;
        }
        ASSERT_EQ(m_fast.immCount, m_slow.immCount) << hex;
        for (int i = 0; i < m_fast.immCount; ++i)
            ASSERT_EQ(m_fast.imms[i], m_slow.imms[i]) << hex;
        ASSERT_EQ(m_fast.opCount, m_slow.opCount) << hex;
        ASSERT_EQ(m_fast.hasMem, m_slow.hasMem) << hex;
        if (m_fast.hasMem) {
            ASSERT_EQ(m_fast.memBase, m_slow.memBase) << hex;
            ASSERT_EQ(m_fast.memIndex, m_slow.memIndex) << hex;
            if (m_fast.memIndex != X86_REG_INVALID) {
                ASSERT_EQ(m_fast.memScale, m_slow.memScale) << hex;
            }
            ASSERT_EQ(uint32_t(m_fast.memDisp), uint32_t(m_slow.memDisp)) << hex;
        }
    }

    csh m_handle = 0;
    cs_insn* m_insn = nullptr;
    CInstructionText m_fast, m_slow;
    size_t m_taken = 0;
};

// Tails after the first bytes: small positive, negative and address-like values.
const uint8_t kTails[][8] = {
    {0x08, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00},
    {0xF0, 0xFF, 0xFF, 0xFF, 0x80, 0xFF, 0xFF, 0xFF},
    {0x00, 0x20, 0x40, 0x00, 0x34, 0x12, 0x40, 0x00},
    {0x80, 0x00, 0x00, 0x80, 0x7F, 0x00, 0x00, 0x00},
};

TEST_F(FastFormatTest, AgreesWithCapstoneOnEveryTwoByteStart)
{
    for (int b0 = 0; b0 < 256; ++b0)
        for (int b1 = 0; b1 < 256; ++b1)
            for (const auto& tail : kTails) {
                uint8_t bytes[11] = {uint8_t(b0), uint8_t(b1)};
                memcpy(bytes + 2, tail, 8);
                bytes[10] = 0x90;
                Check(bytes, sizeof bytes);
                if (HasFatalFailure())
                    return;
            }
    EXPECT_GT(m_taken, 50000u); // the fast path did run
}

TEST_F(FastFormatTest, AgreesWithCapstoneOnEverySibByte)
{
    const uint8_t opcodes[] = {0x01, 0x03, 0x09, 0x0B, 0x11, 0x13, 0x19, 0x1B, 0x21, 0x23, 0x29, 0x2B, 0x31, 0x33,
                               0x39, 0x3B, 0x81, 0x83, 0x85, 0x89, 0x8B, 0x8D, 0xC7, 0xFF};
    for (uint8_t op : opcodes)
        for (int mod = 0; mod < 3; ++mod)
            for (int reg = 0; reg < 8; ++reg)
                for (int sib = 0; sib < 256; ++sib)
                    for (const auto& tail : kTails) {
                        uint8_t bytes[12] = {op, uint8_t((mod << 6) | (reg << 3) | 4), uint8_t(sib)};
                        memcpy(bytes + 3, tail, 8);
                        bytes[11] = 0x90;
                        Check(bytes, sizeof bytes);
                        if (HasFatalFailure())
                            return;
                    }
    EXPECT_GT(m_taken, 100000u);
}

TEST_F(FastFormatTest, DeclinesWhatIsCutShortOrPrefixed)
{
    const uint8_t cut[][6] = {{0xE8, 0x00, 0x00, 0x00}, {0x8B, 0x84, 0x24}, {0x0F, 0x84, 0x00}, {0xC7, 0x05, 0, 0x20, 0x40, 0}};
    const size_t lens[] = {4, 3, 3, 6};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(FastFormat(cut[i], lens[i], 0x401000, m_fast), 0u) << i;
    const uint8_t prefixed[][3] = {{0x66, 0x89, 0xC0}, {0xF3, 0xC3, 0}, {0x64, 0x8B, 0x00}, {0xF0, 0x01, 0x00}};
    for (const auto& b : prefixed)
        EXPECT_EQ(FastFormat(b, 3, 0x401000, m_fast), 0u);
    const uint8_t invalid[][2] = {{0x8D, 0xC0}, {0xFF, 0xFF}, {0xC7, 0xC8}, {0xFF, 0x18}};
    for (const auto& b : invalid)
        EXPECT_EQ(FastFormat(b, 2, 0x401000, m_fast), 0u);
}

} // namespace
