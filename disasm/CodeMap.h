// Which bytes of the executable sections are proven code: what control flow
// reaches from the starts the image names (entry point, TLS callbacks,
// exports, the functions of its unwind data and their landing pads) and, each
// checked before it is taken, from relocated pointers into code and from
// function prologues that nothing reaches. Only proven instructions become
// points in the listing; a breakpoint planted into data would corrupt the
// traced program.
#pragma once

#include <capstone/capstone.h>

#include <cstdint>
#include <vector>

#include "disasm/InstructionText.h"
#include "disasm/PeImage.h"

class CCodeMap {
public:
    enum : uint8_t { byteUnknown = 0, byteStart = 1, byteInside = 2, byteData = 3 };

    // Walks the image. An image with neither relocations nor unwind data gives
    // too few starts for that: its sections are then read straight through
    // (ByControlFlow() is false) and the map proves nothing.
    void Build(const CPeImage& pe, csh handle, cs_insn* insn);
    bool ByControlFlow() const { return m_bFlow; }
    // The state of the byte at an RVA of an executable section.
    uint8_t State(uint32_t rva) const
    {
        const CSpan* s = SpanOf(rva);
        return s ? s->state[rva - s->rva] : uint8_t(byteUnknown);
    }
    // The first proven instruction at or after rva in its section, or limit.
    uint32_t NextStart(uint32_t rva, uint32_t limit) const;

private:
    struct CSpan {
        uint32_t rva;
        uint32_t size;
        std::vector<uint8_t> state;
    };
    // What one instruction does to the flow.
    struct CStep {
        uint32_t len = 0;
        bool ends = false;     // no fall-through (ret, jmp, hlt, ud2)
        bool hasTarget = false;
        uint32_t target = 0;   // VA of a direct call or jump
        uint32_t table = 0;    // VA of the table of `jmp dword ptr [reg*4+table]`
        bool odd = false;      // valid but not what compilers emit
    };

    const CSpan* SpanOf(uint32_t rva) const;
    CSpan* SpanOf(uint32_t rva) { return const_cast<CSpan*>(static_cast<const CCodeMap*>(this)->SpanOf(rva)); }
    bool Decode(uint32_t rva, CStep& step);
    // Walks everything reachable from start. A trusted walk stops a path where it
    // meets a problem; a trial walk undoes all of it and fails instead.
    bool Walk(uint32_t start, bool trusted);
    void MarkData(uint32_t from, uint32_t to); // before any walk
    void Mark(CSpan& s, uint32_t from, uint32_t to, uint8_t first, uint8_t rest);
    uint32_t FunctionEnd(uint32_t rva) const; // end of the described function holding rva, or 0
    bool LooksLikeFunction(uint32_t rva);
    void JumpTable(uint32_t jumpRva, uint32_t tableVa, bool trusted, std::vector<uint32_t>& todo);

    const CPeImage* m_pe = nullptr;
    csh m_handle = 0;
    cs_insn* m_insn = nullptr;
    CInstructionText m_text;
    std::vector<CSpan> m_spans;
    bool m_bFlow = false;
    bool m_bTrial = false;
    std::vector<std::pair<uint32_t, uint8_t>> m_undo; // a trial walk's writes: RVA, previous state
};
