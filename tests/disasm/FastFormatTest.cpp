// The fast decoder must say exactly what capstone's decoding says, for every
// form it takes on, and decline what is cut short; whatever it declines goes to
// capstone anyway.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "disasm/InstructionText.h"

namespace {

// Everything the listing takes from a decoded instruction, as one comparable text.
std::string Facts(const CInstructionText& t, unsigned length)
{
    auto ifAny = [](bool has, uint32_t v) { return has ? std::to_string(v) : std::string("-"); };
    std::ostringstream s;
    s << length << ": " << t.text << " | " << t.branch << ' ' << t.indirect << ' ' << t.opCount << " | target "
      << ifAny(t.hasTarget, t.target) << " | abs " << ifAny(t.hasMemAbs, t.memAbs) << " | imms";
    for (int i = 0; i < t.immCount; ++i)
        s << ' ' << t.imms[i];
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
            std::vector<uint8_t> bytes(head);
            bytes.insert(bytes.end(), tail, tail + 8);
            bytes.push_back(0x90);
            const uint8_t* p = bytes.data();
            size_t avail = bytes.size();
            uint64_t address = 0x401000;
            if (unsigned length = FastFormat(p, avail, 0x401000, m_fast)) {
                ++m_taken;
                ASSERT_TRUE(cs_disasm_iter(m_handle, &p, &avail, &address, m_insn)) << testing::PrintToString(bytes);
                FormatInstruction(m_handle, *m_insn, m_slow);
                ASSERT_EQ(Facts(m_fast, length), Facts(m_slow, m_insn->size)) << testing::PrintToString(bytes);
                // Cut short, in a block that the sanitizer guards, it must decline.
                std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + length - 1);
                ASSERT_EQ(FastFormat(cut.data(), cut.size(), 0x401000, m_fast), 0u) << testing::PrintToString(cut);
            }
        }
    }

    csh m_handle = 0;
    cs_insn* m_insn = nullptr;
    CInstructionText m_fast, m_slow;
    size_t m_taken = 0;
};

TEST_F(FastFormatTest, AgreesWithCapstone)
{
    for (int b = 0; b < 0x10000 && !HasFatalFailure(); ++b) // every two-byte start
        Check({uint8_t(b >> 8), uint8_t(b)});
    const size_t twoByteStarts = m_taken;
    for (uint8_t op : {0x01, 0x03, 0x09, 0x0B, 0x11, 0x13, 0x19, 0x1B, 0x21, 0x23, 0x29, 0x2B, 0x31, 0x33, 0x39, 0x3B,
                       0x81, 0x83, 0x85, 0x89, 0x8B, 0x8D, 0xC7, 0xFF})
        for (int modReg = 0; modReg < 24; ++modReg) // mod 0 to 2, every reg, a SIB byte follows
            for (int sib = 0; sib < 256 && !HasFatalFailure(); ++sib)
                Check({op, uint8_t(modReg << 3 | 4), uint8_t(sib)});
    EXPECT_GT(twoByteStarts, 50000u); // the fast path did run
    EXPECT_GT(m_taken - twoByteStarts, 100000u);
}

} // namespace
