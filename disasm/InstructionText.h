// Intel-syntax text of one decoded instruction in the listing's style:
// lower-case mnemonics, addresses and displacements as upper-case hex without
// a 0x prefix (`call 00401234`, `mov eax, dword ptr [ebp+08]`), immediates in
// the width of their operand (`push 00000010`, `int 2E`).
#pragma once

#include <capstone/capstone.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Appends v as n upper-case hex digits.
void AppendHex(std::string& out, uint32_t v, int n);

enum BranchKind { branchNone, branchCall, branchJump };

// The instruction's mnemonic and operands. Calls begin with "call" and jumps
// with 'j' whatever their prefixes (prefixes of a branch go into a note at the
// end), and nothing else does. Absolute memory operands and branch targets
// are reported to the caller through targets for annotation.
struct CInstructionText {
    std::string text;
    BranchKind branch = branchNone;
    bool indirect = false;        // call/jmp through a register or memory
    // Values worth a look for imports and strings: the absolute memory
    // address (no base, no index), the immediates and the branch target.
    uint32_t memAbs = 0;
    bool hasMemAbs = false;
    uint32_t imms[2] = {0, 0};
    int immCount = 0;
    uint32_t target = 0;
    bool hasTarget = false;
    // The last memory operand (capstone register ids), for table detection.
    bool hasMem = false;
    int memBase = X86_REG_INVALID;
    int memIndex = X86_REG_INVALID;
    int memScale = 1;
    int64_t memDisp = 0;
    int opCount = 0;

    // Ready for the next instruction; the string keeps its storage.
    void Clear()
    {
        text.clear();
        branch = branchNone;
        indirect = false;
        hasMemAbs = false;
        immCount = 0;
        hasTarget = false;
        hasMem = false;
        opCount = 0;
    }
};

void FormatInstruction(csh handle, const cs_insn& insn, CInstructionText& out);

// The commonest plain 32-bit instructions (no prefixes), decoded without
// capstone for speed. Produces exactly what FormatInstruction makes of the
// same bytes, or returns 0 (then capstone decodes them). Returns the length.
unsigned FastFormat(const uint8_t* p, size_t avail, uint32_t va, CInstructionText& out);
