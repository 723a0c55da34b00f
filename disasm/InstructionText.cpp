#include "disasm/InstructionText.h"

#include <cstring>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

bool IsPrefixWord(const char* w, size_t n)
{
    static const char* const words[] = {"rep", "repe", "repz", "repne", "repnz", "lock", "bnd", "notrack",
                                        "data16", "addr16", "addr32", "xacquire", "xrelease"};
    for (const char* p : words)
        if (strlen(p) == n && memcmp(p, w, n) == 0)
            return true;
    return false;
}

// Splits capstone's operand text at the commas that separate operands.
int SplitOperands(const char* s, const char* starts[], const char* ends[], int max)
{
    int n = 0, depth = 0;
    const char* begin = s;
    for (const char* p = s;; ++p) {
        if (*p == '[' || *p == '(' || *p == '{')
            ++depth;
        else if (*p == ']' || *p == ')' || *p == '}')
            --depth;
        else if ((*p == ',' && depth == 0) || *p == 0) {
            if (n == max)
                return -1;
            while (*begin == ' ')
                ++begin;
            starts[n] = begin;
            ends[n] = p;
            ++n;
            if (*p == 0)
                break;
            begin = p + 1;
        }
    }
    if (n == 1 && starts[0] == ends[0])
        return 0;
    return n;
}

// Displacement next to a register: +08, -0C, +1234, +00401230.
void AppendDisplacement(std::string& out, int64_t disp)
{
    uint32_t mag = disp < 0 ? uint32_t(-disp) : uint32_t(disp);
    out += disp < 0 ? '-' : '+';
    AppendHex(out, mag, mag <= 0xFF ? 2 : (mag <= 0xFFFF ? 4 : 8));
}

// Digits for an immediate: the width it is encoded in where capstone reports
// the operand size instead (int 2E, ret 0008, shl eax, 04, enter 0010, 00).
int ImmediateDigits(unsigned id, int index, unsigned size)
{
    switch (id) {
    case X86_INS_RET: case X86_INS_RETF:
        return 4;
    case X86_INS_ENTER:
        return index == 0 ? 4 : 2;
    case X86_INS_INT: case X86_INS_IN: case X86_INS_OUT:
    case X86_INS_ROL: case X86_INS_ROR: case X86_INS_RCL: case X86_INS_RCR:
    case X86_INS_SHL: case X86_INS_SAL: case X86_INS_SHR: case X86_INS_SAR:
    case X86_INS_SHLD: case X86_INS_SHRD:
    case X86_INS_BT: case X86_INS_BTS: case X86_INS_BTR: case X86_INS_BTC:
        return 2;
    default:
        break;
    }
    return size == 1 ? 2 : size == 2 ? 4 : size == 4 ? 8 : 2;
}

} // namespace

void AppendHex(std::string& out, uint32_t v, int n)
{
    char buf[8];
    for (int i = n - 1; i >= 0; --i, v >>= 4)
        buf[i] = kHexDigits[v & 15];
    out.append(buf, size_t(n));
}

void FormatInstruction(csh handle, const cs_insn& insn, CInstructionText& out)
{
    out.Clear();
    std::string& text = out.text;
    const cs_x86& x86 = insn.detail->x86;
    out.opCount = x86.op_count;

    // Separate prefix words ("rep", "lock", "bnd", ...) from the mnemonic proper.
    const char* mn = insn.mnemonic;
    const char* base = mn;
    for (const char* sp; (sp = strchr(base, ' ')) != nullptr && IsPrefixWord(base, size_t(sp - base));)
        base = sp + 1;
    std::string prefixes(mn, size_t(base - mn));
    while (!prefixes.empty() && prefixes.back() == ' ')
        prefixes.pop_back();

    std::string mnemonic = base;
    if (mnemonic == "lcall")
        mnemonic = "call far";
    else if (mnemonic == "ljmp")
        mnemonic = "jmp far";
    if (mnemonic.compare(0, 4, "call") == 0)
        out.branch = branchCall;
    else if (mnemonic[0] == 'j')
        out.branch = branchJump;

    // A branch keeps its mnemonic first so that it is recognised as one.
    if (out.branch == branchNone && !prefixes.empty()) {
        text = prefixes;
        text += ' ';
    }
    text += mnemonic;

    const char* starts[8];
    const char* ends[8];
    int pieces = SplitOperands(insn.op_str, starts, ends, 8);
    // Direct branches (loop and xbegin too) carry their target as an immediate.
    bool relative = false;
    for (int g = 0; g < insn.detail->groups_count; ++g)
        if (insn.detail->groups[g] == X86_GRP_BRANCH_RELATIVE)
            relative = true;
    if (out.branch != branchNone)
        out.indirect = !relative && !(x86.op_count == 2 && x86.operands[0].type == X86_OP_IMM);

    if (pieces != x86.op_count) {
        if (x86.op_count == 2 && pieces == 1 && x86.operands[0].type == X86_OP_IMM && x86.operands[1].type == X86_OP_IMM) {
            // Far pointer: segment:offset.
            text += ' ';
            AppendHex(text, uint32_t(x86.operands[0].imm), 4);
            text += ':';
            AppendHex(text, uint32_t(x86.operands[1].imm), 8);
        } else if (insn.op_str[0]) {
            // Forms whose text does not follow the operand list: keep capstone's text.
            text += ' ';
            text += insn.op_str;
        }
    } else {
        for (int i = 0; i < x86.op_count; ++i) {
            const cs_x86_op& op = x86.operands[i];
            text += i ? ", " : " ";
            switch (op.type) {
            case X86_OP_IMM: {
                uint32_t v = uint32_t(op.imm);
                if (relative) {
                    AppendHex(text, v, 8);
                    out.target = v;
                    out.hasTarget = true;
                } else {
                    AppendHex(text, v, ImmediateDigits(insn.id, i, op.size));
                    if (out.immCount < 2)
                        out.imms[out.immCount++] = v;
                }
                break;
            }
            case X86_OP_MEM: {
                out.hasMem = true;
                out.memBase = op.mem.base;
                out.memIndex = op.mem.index;
                out.memScale = op.mem.scale;
                out.memDisp = op.mem.disp;
                const char* open = static_cast<const char*>(memchr(starts[i], '[', size_t(ends[i] - starts[i])));
                const char* close = open ? static_cast<const char*>(memchr(open, ']', size_t(ends[i] - open))) : nullptr;
                if (!close) {
                    text.append(starts[i], size_t(ends[i] - starts[i]));
                    break;
                }
                text.append(starts[i], size_t(open - starts[i])); // size and segment as capstone writes them
                text += '[';
                bool any = false;
                if (op.mem.base != X86_REG_INVALID) {
                    text += cs_reg_name(handle, op.mem.base);
                    any = true;
                }
                if (op.mem.index != X86_REG_INVALID) {
                    if (any)
                        text += '+';
                    text += cs_reg_name(handle, op.mem.index);
                    if (op.mem.scale != 1) {
                        text += '*';
                        text += char('0' + op.mem.scale);
                    }
                    any = true;
                }
                if (!any) {
                    uint32_t addr = uint32_t(op.mem.disp);
                    AppendHex(text, addr, 8);
                    // fs and gs have bases of their own; the others are flat.
                    if (op.mem.segment != X86_REG_FS && op.mem.segment != X86_REG_GS) {
                        out.memAbs = addr;
                        out.hasMemAbs = true;
                    }
                } else if (op.mem.disp != 0) {
                    AppendDisplacement(text, op.mem.disp);
                }
                text += ']';
                text.append(close + 1, size_t(ends[i] - close - 1)); // broadcast and mask marks
                break;
            }
            default:
                text.append(starts[i], size_t(ends[i] - starts[i]));
                break;
            }
        }
    }
    if (out.branch != branchNone && !prefixes.empty()) {
        text += " ; ";
        text += prefixes;
    }
}
