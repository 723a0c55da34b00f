// A decoder for the plain 32-bit instructions that make up most of compiled
// code (moves, lea, push/pop, arithmetic with a ModRM byte, direct branches).
// It exists for speed only: tests hold it to FormatInstruction's output for
// every ModRM and SIB form; anything else is left to capstone.
#include "disasm/InstructionText.h"

namespace {

const char* const kReg32[8] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
const int kRegId[8] = {X86_REG_EAX, X86_REG_ECX, X86_REG_EDX, X86_REG_EBX,
                       X86_REG_ESP, X86_REG_EBP, X86_REG_ESI, X86_REG_EDI};
const char* const kJcc[16] = {"jo", "jno", "jb", "jae", "je", "jne", "jbe", "ja",
                              "js", "jns", "jp", "jnp", "jl", "jge", "jle", "jg"};
const char* const kGroup1[8] = {"add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"};

struct CModRm {
    unsigned len = 0;     // ModRM, SIB and displacement bytes
    int reg = 0;          // the reg field
    bool isReg = false;   // mod 3: the r/m operand is a register
    int rm = 0;           // its number when isReg
    int base = -1;        // memory: -1 for none
    int index = -1;
    int scale = 1;
    int32_t disp = 0;
};

uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

bool DecodeModRm(const uint8_t* p, size_t avail, CModRm& m)
{
    if (avail < 1)
        return false;
    int mod = p[0] >> 6, rm = p[0] & 7;
    m.reg = (p[0] >> 3) & 7;
    m.len = 1;
    if (mod == 3) {
        m.isReg = true;
        m.rm = rm;
        return true;
    }
    bool disp32 = mod == 2;
    if (rm == 4) {
        if (avail < 2)
            return false;
        int sib = p[1];
        m.len = 2;
        m.scale = 1 << (sib >> 6);
        int idx = (sib >> 3) & 7;
        m.index = idx == 4 ? -1 : idx;
        int b = sib & 7;
        if (b == 5 && mod == 0)
            disp32 = true;
        else
            m.base = b;
    } else if (rm == 5 && mod == 0) {
        disp32 = true;
    } else {
        m.base = rm;
    }
    if (mod == 1) {
        if (avail < m.len + 1)
            return false;
        m.disp = int8_t(p[m.len]);
        m.len += 1;
    } else if (disp32) {
        if (avail < m.len + 4)
            return false;
        m.disp = int32_t(Le32(p + m.len));
        m.len += 4;
    }
    return true;
}

void AppendRm(const CModRm& m, bool sized, CInstructionText& out)
{
    std::string& text = out.text;
    if (m.isReg) {
        text += kReg32[m.rm];
        return;
    }
    if (sized)
        text += "dword ptr ";
    text += '[';
    bool any = false;
    if (m.base >= 0) {
        text += kReg32[m.base];
        any = true;
    }
    if (m.index >= 0) {
        if (any)
            text += '+';
        text += kReg32[m.index];
        if (m.scale != 1) {
            text += '*';
            text += char('0' + m.scale);
        }
        any = true;
    }
    if (!any) {
        AppendHex(text, uint32_t(m.disp), 8);
        out.memAbs = uint32_t(m.disp);
        out.hasMemAbs = true;
    } else if (m.disp != 0) {
        uint32_t mag = m.disp < 0 ? uint32_t(-int64_t(m.disp)) : uint32_t(m.disp);
        text += m.disp < 0 ? '-' : '+';
        AppendHex(text, mag, mag <= 0xFF ? 2 : (mag <= 0xFFFF ? 4 : 8));
    }
    text += ']';
    out.hasMem = true;
    out.memBase = m.base >= 0 ? kRegId[m.base] : X86_REG_INVALID;
    out.memIndex = m.index >= 0 ? kRegId[m.index] : X86_REG_INVALID;
    out.memScale = m.scale;
    out.memDisp = m.disp;
}

void Imm(CInstructionText& out, uint32_t v, int digits)
{
    AppendHex(out.text, v, digits);
    out.imms[out.immCount++] = v;
}

void Target(CInstructionText& out, uint32_t v)
{
    AppendHex(out.text, v, 8);
    out.target = v;
    out.hasTarget = true;
}

} // namespace

unsigned FastFormat(const uint8_t* p, size_t avail, uint32_t va, CInstructionText& out)
{
    if (avail == 0)
        return 0;
    out.Clear();
    std::string& text = out.text;

    uint8_t op = p[0];
    CModRm m;
    switch (op) {
    case 0x50: case 0x51: case 0x52: case 0x53: case 0x54: case 0x55: case 0x56: case 0x57:
        text = "push ";
        text += kReg32[op & 7];
        out.opCount = 1;
        return 1;
    case 0x58: case 0x59: case 0x5A: case 0x5B: case 0x5C: case 0x5D: case 0x5E: case 0x5F:
        text = "pop ";
        text += kReg32[op & 7];
        out.opCount = 1;
        return 1;
    case 0x90: text = "nop"; return 1;
    case 0xC3: text = "ret"; return 1;
    case 0xC9: text = "leave"; return 1;
    case 0xCC: text = "int3"; return 1;
    case 0xC2:
        if (avail < 3)
            return 0;
        text = "ret ";
        Imm(out, uint32_t(p[1] | (p[2] << 8)), 4);
        out.opCount = 1;
        return 3;
    case 0xB8: case 0xB9: case 0xBA: case 0xBB: case 0xBC: case 0xBD: case 0xBE: case 0xBF:
        if (avail < 5)
            return 0;
        text = "mov ";
        text += kReg32[op & 7];
        text += ", ";
        Imm(out, Le32(p + 1), 8);
        out.opCount = 2;
        return 5;
    case 0x68:
        if (avail < 5)
            return 0;
        text = "push ";
        Imm(out, Le32(p + 1), 8);
        out.opCount = 1;
        return 5;
    case 0x6A:
        if (avail < 2)
            return 0;
        text = "push ";
        Imm(out, uint32_t(int32_t(int8_t(p[1]))), 8);
        out.opCount = 1;
        return 2;
    case 0xE8:
    case 0xE9:
        if (avail < 5)
            return 0;
        text = op == 0xE8 ? "call " : "jmp ";
        out.branch = op == 0xE8 ? branchCall : branchJump;
        Target(out, va + 5 + Le32(p + 1));
        out.opCount = 1;
        return 5;
    case 0xEB:
        if (avail < 2)
            return 0;
        text = "jmp ";
        out.branch = branchJump;
        Target(out, va + 2 + uint32_t(int32_t(int8_t(p[1]))));
        out.opCount = 1;
        return 2;
    case 0x0F:
        if (avail < 6 || (p[1] & 0xF0) != 0x80)
            return 0;
        text = kJcc[p[1] & 15];
        text += ' ';
        out.branch = branchJump;
        Target(out, va + 6 + Le32(p + 2));
        out.opCount = 1;
        return 6;
    default:
        break;
    }
    if (op >= 0x70 && op <= 0x7F) {
        if (avail < 2)
            return 0;
        text = kJcc[op & 15];
        text += ' ';
        out.branch = branchJump;
        Target(out, va + 2 + uint32_t(int32_t(int8_t(p[1]))));
        out.opCount = 1;
        return 2;
    }

    // ModRM forms with 32-bit operands.
    const char* name = nullptr;
    bool regFirst = false;
    switch (op) {
    case 0x01: name = "add"; break;
    case 0x09: name = "or"; break;
    case 0x11: name = "adc"; break;
    case 0x19: name = "sbb"; break;
    case 0x21: name = "and"; break;
    case 0x29: name = "sub"; break;
    case 0x31: name = "xor"; break;
    case 0x39: name = "cmp"; break;
    case 0x85: name = "test"; break;
    case 0x89: name = "mov"; break;
    case 0x03: name = "add"; regFirst = true; break;
    case 0x0B: name = "or"; regFirst = true; break;
    case 0x13: name = "adc"; regFirst = true; break;
    case 0x1B: name = "sbb"; regFirst = true; break;
    case 0x23: name = "and"; regFirst = true; break;
    case 0x2B: name = "sub"; regFirst = true; break;
    case 0x33: name = "xor"; regFirst = true; break;
    case 0x3B: name = "cmp"; regFirst = true; break;
    case 0x8B: name = "mov"; regFirst = true; break;
    case 0x8D: name = "lea"; regFirst = true; break;
    case 0x81: case 0x83: case 0xC7: case 0xFF: break;
    default: return 0;
    }
    if (!DecodeModRm(p + 1, avail - 1, m))
        return 0;
    unsigned len = 1 + m.len;
    if (name) {
        if (op == 0x8D && m.isReg)
            return 0; // lea needs a memory operand
        text = name;
        text += ' ';
        if (regFirst) {
            text += kReg32[m.reg];
            text += ", ";
            AppendRm(m, op != 0x8D, out);
        } else {
            AppendRm(m, true, out);
            text += ", ";
            text += kReg32[m.reg];
        }
        out.opCount = 2;
        return len;
    }
    if (op == 0xFF) {
        static const char* const names[8] = {"inc", "dec", "call", nullptr, "jmp", nullptr, "push", nullptr};
        if (!names[m.reg])
            return 0; // far forms and the undefined one
        text = names[m.reg];
        text += ' ';
        if (m.reg == 2 || m.reg == 4) {
            out.branch = m.reg == 2 ? branchCall : branchJump;
            out.indirect = true;
        }
        AppendRm(m, true, out);
        out.opCount = 1;
        return len;
    }
    // Immediate forms: group 1 with imm32 (81) or sign-extended imm8 (83), mov imm32 (C7 /0).
    if (op == 0xC7 && m.reg != 0)
        return 0;
    unsigned immLen = op == 0x83 ? 1 : 4;
    if (avail < len + immLen)
        return 0;
    uint32_t v = op == 0x83 ? uint32_t(int32_t(int8_t(p[len]))) : Le32(p + len);
    text = op == 0xC7 ? "mov" : kGroup1[m.reg];
    text += ' ';
    AppendRm(m, true, out);
    text += ", ";
    Imm(out, v, 8);
    out.opCount = 2;
    return len + immLen;
}
