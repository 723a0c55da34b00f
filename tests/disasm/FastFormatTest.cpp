// The fast decoder must say exactly what capstone's decoding says, for every
// form it takes on, and decline what is cut short; whatever it declines goes to
// capstone anyway.
#include <sstream>

#include "disasm/InstructionText.h"
#include "tests/disasm/DisasmTestSupport.h"

namespace {

// Everything the listing takes from a decoded instruction, as one comparable text.
std::string Facts(const CInstructionText& t, unsigned length)
{
    auto ifAny = [](bool has, uint32_t v) { return has ? std::to_string(v) : std::string("-"); };
    std::ostringstream s;
    s << length << ": " << t.text << " | " << t.branch << ' ' << t.indirect << ' ' << t.opCount << " | target " << ifAny(t.hasTarget, t.target)
      << " | abs " << ifAny(t.hasMemAbs, t.memAbs) << " | imms " << ifAny(t.immCount > 0, t.imms[0]) << ' ' << ifAny(t.immCount > 1, t.imms[1]);
    if (t.hasMem)
        s << " | mem " << t.memBase << ' ' << t.memIndex << '*' << (t.memIndex != X86_REG_INVALID ? t.memScale : 0) << '+' << uint32_t(t.memDisp);
    return s.str();
}

TEST(FastFormat, AgreesWithCapstoneAndDeclinesWhatIsCutShort)
{
    CCapstone cs;
    ASSERT_TRUE(cs.ok);
    CInstructionText fast, slow;
    size_t taken = 0;
    // Both decoders on the first bytes followed by each tail: small positive,
    // negative and address-like values, and a nop.
    const uint8_t tails[][9] = {{0x08, 0, 0, 0, 0x10, 0, 0, 0, 0x90}, {0xF0, 0xFF, 0xFF, 0xFF, 0x80, 0xFF, 0xFF, 0xFF, 0x90},
                                {0, 0x20, 0x40, 0, 0x34, 0x12, 0x40, 0, 0x90}, {0x80, 0, 0, 0x80, 0x7F, 0, 0, 0, 0x90}};
    auto check = [&](std::initializer_list<uint8_t> head) {
        for (const auto& tail : tails) {
            std::vector<uint8_t> bytes(head);
            bytes.insert(bytes.end(), tail, tail + 9);
            const uint8_t* p = bytes.data();
            size_t avail = bytes.size();
            uint64_t address = 0x401000;
            if (unsigned length = FastFormat(p, avail, 0x401000, fast)) {
                ++taken;
                ASSERT_TRUE(cs_disasm_iter(cs.handle, &p, &avail, &address, cs.insn)) << testing::PrintToString(bytes);
                FormatInstruction(cs.handle, *cs.insn, slow);
                ASSERT_EQ(Facts(fast, length), Facts(slow, cs.insn->size)) << testing::PrintToString(bytes);
                // Cut short, in a block that the sanitizer guards, it must decline.
                std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + length - 1);
                ASSERT_EQ(FastFormat(cut.data(), cut.size(), 0x401000, fast), 0u) << testing::PrintToString(cut);
            }
        }
    };
    for (int b = 0; b < 0x10000 && !HasFatalFailure(); ++b) // every two-byte start
        check({uint8_t(b >> 8), uint8_t(b)});
    const size_t twoByteStarts = taken;
    for (uint8_t op : {0x01, 0x03, 0x09, 0x0B, 0x11, 0x13, 0x19, 0x1B, 0x21, 0x23, 0x29, 0x2B, 0x31, 0x33, 0x39, 0x3B,
                       0x81, 0x83, 0x85, 0x89, 0x8B, 0x8D, 0xC7, 0xFF})
        for (int modReg = 0; modReg < 24; ++modReg) // mod 0 to 2, every reg, a SIB byte follows
            for (int sib = 0; sib < 256 && !HasFatalFailure(); ++sib)
                check({op, uint8_t(modReg << 3 | 4), uint8_t(sib)});
    // The fast path did run.
    EXPECT_TRUE(twoByteStarts > 50000 && taken - twoByteStarts > 100000) << twoByteStarts << " and " << taken - twoByteStarts << " taken";
}

} // namespace
