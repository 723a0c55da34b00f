#include "disasm/CodeMap.h"

#include <algorithm>

namespace {

uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

// Valid instructions that compiled user-mode code does not contain, but that
// text and tables decode to often: ins/outs are the letters l, m, n and o.
bool IsOdd(unsigned id)
{
    switch (id) {
    case X86_INS_IN: case X86_INS_OUT: case X86_INS_INSB: case X86_INS_INSW: case X86_INS_INSD:
    case X86_INS_OUTSB: case X86_INS_OUTSW: case X86_INS_OUTSD: case X86_INS_HLT: case X86_INS_ARPL:
    case X86_INS_BOUND: case X86_INS_INTO: case X86_INS_INT1: case X86_INS_LES: case X86_INS_LDS:
    case X86_INS_AAA: case X86_INS_AAS: case X86_INS_DAA: case X86_INS_DAS: case X86_INS_AAM: case X86_INS_AAD:
    case X86_INS_SALC: case X86_INS_CLI: case X86_INS_STI: case X86_INS_LCALL: case X86_INS_LJMP:
    case X86_INS_RETF: case X86_INS_IRET: case X86_INS_IRETD: case X86_INS_XLATB: case X86_INS_INT:
    case X86_INS_ENTER: case X86_INS_PUSHAL: case X86_INS_POPAL:
        return true;
    default:
        return false;
    }
}

// Padding and fill: no path runs into it.
bool IsFill(const uint8_t* p, size_t avail)
{
    return (avail >= 2 && p[0] == 0xCC && p[1] == 0xCC) || (avail >= 4 && Get32(p) == 0);
}

} // namespace

const CCodeMap::CSpan* CCodeMap::SpanOf(uint32_t rva) const
{
    for (const CSpan& s : m_spans)
        if (rva - s.rva < s.size)
            return &s;
    return nullptr;
}

uint32_t CCodeMap::NextStart(uint32_t rva, uint32_t limit) const
{
    const CSpan* s = SpanOf(rva);
    if (!s)
        return limit;
    uint32_t end = std::min<uint32_t>(limit, s->rva + s->size);
    for (; rva < end; ++rva)
        if (s->state[rva - s->rva] == byteStart)
            return rva;
    return limit;
}

void CCodeMap::Mark(CSpan& s, uint32_t from, uint32_t to, uint8_t first, uint8_t rest)
{
    for (uint32_t a = from; a < to; ++a) {
        uint8_t& b = s.state[a - s.rva];
        if (m_bTrial)
            m_undo.push_back({a, b});
        b = a == from ? first : rest;
    }
}

void CCodeMap::MarkData(uint32_t from, uint32_t to)
{
    for (CSpan& s : m_spans) {
        uint64_t a = std::max<uint64_t>(from, s.rva), b = std::min<uint64_t>(to, uint64_t(s.rva) + s.size);
        for (; a < b; ++a)
            s.state[a - s.rva] = byteData;
    }
}

uint32_t CCodeMap::FunctionEnd(uint32_t rva) const
{
    const std::vector<CPeImage::CFunction>& f = m_pe->m_functions;
    auto it = std::upper_bound(f.begin(), f.end(), rva, [](uint32_t a, const CPeImage::CFunction& b) { return a < b.rva; });
    if (it == f.begin())
        return 0;
    --it;
    return rva - it->rva < it->size ? it->rva + it->size : 0;
}

bool CCodeMap::Decode(uint32_t rva, CStep& step)
{
    step = CStep();
    const CSpan* s = SpanOf(rva);
    size_t avail = 0;
    const uint8_t* p = s ? m_pe->Span(rva, avail) : nullptr;
    if (!p)
        return false;
    avail = std::min<size_t>(avail, s->rva + s->size - rva);
    uint32_t va = m_pe->m_imageBase + rva;
    if (uint32_t len = FastFormat(p, avail, va, m_text)) {
        step.len = len;
        const std::string& t = m_text.text;
        step.ends = t.compare(0, 3, "ret") == 0 || t.compare(0, 3, "jmp") == 0;
        step.hasTarget = m_text.hasTarget;
        step.target = m_text.target;
        if (m_text.branch == branchJump && m_text.indirect && m_text.hasMem && m_text.memBase == X86_REG_INVALID &&
            m_text.memIndex != X86_REG_INVALID && m_text.memScale == 4)
            step.table = uint32_t(m_text.memDisp);
        return true;
    }
    const uint8_t* code = p;
    uint64_t address = va;
    if (!cs_disasm_iter(m_handle, &code, &avail, &address, m_insn))
        return false;
    const cs_insn& in = *m_insn;
    const cs_x86& x = in.detail->x86;
    step.len = in.size;
    bool relative = false;
    for (int g = 0; g < in.detail->groups_count; ++g) {
        uint8_t grp = in.detail->groups[g];
        if (grp == X86_GRP_RET || grp == X86_GRP_IRET)
            step.ends = true;
        else if (grp == X86_GRP_BRANCH_RELATIVE)
            relative = true;
        else if (grp == X86_GRP_PRIVILEGE)
            step.odd = true;
    }
    if (in.id == X86_INS_JMP || in.id == X86_INS_LJMP || in.id == X86_INS_HLT || in.id == X86_INS_UD2)
        step.ends = true;
    if (relative && x.op_count >= 1 && x.operands[0].type == X86_OP_IMM) {
        step.hasTarget = true;
        step.target = uint32_t(x.operands[0].imm);
    }
    if (in.id == X86_INS_JMP && x.op_count == 1 && x.operands[0].type == X86_OP_MEM && x.operands[0].mem.base == X86_REG_INVALID &&
        x.operands[0].mem.index != X86_REG_INVALID && x.operands[0].mem.scale == 4)
        step.table = uint32_t(x.operands[0].mem.disp);
    // `add byte ptr [eax], al` is two zero bytes; 16-bit addressing is for real-mode code.
    if (IsOdd(in.id) || (p[0] == 0 && p[1] == 0) || x.addr_size == 2)
        step.odd = true;
    if (in.id != X86_INS_NOP && (x.prefix[1] == X86_PREFIX_ES || x.prefix[1] == X86_PREFIX_SS || x.prefix[1] == X86_PREFIX_DS))
        step.odd = true;
    return true;
}

// A table of code addresses read by `jmp dword ptr [reg*4+table]`: relocated
// entries when the image has fix-ups, else entries near the jump in its section.
void CCodeMap::JumpTable(uint32_t jumpRva, uint32_t tableVa, bool trusted, std::vector<uint32_t>& todo)
{
    if (!m_pe->InImage(tableVa))
        return;
    const uint32_t table = tableVa - m_pe->m_imageBase;
    const CPeSection* home = m_pe->SectionOf(jumpRva);
    for (uint32_t n = 0; n < 65536; ++n) {
        uint32_t entry = table + n * 4;
        const uint8_t* p = m_pe->At(entry, 4);
        CSpan* s = SpanOf(entry);
        if (!p || (s && (uint64_t(entry) + 4 > uint64_t(s->rva) + s->size || s->state[entry - s->rva] == byteStart || s->state[entry - s->rva] == byteInside)))
            break;
        uint32_t v = Get32(p);
        if (!m_pe->InImage(v) || !SpanOf(v - m_pe->m_imageBase))
            break;
        uint32_t target = v - m_pe->m_imageBase;
        if (m_pe->m_hasRelocTable ? !m_pe->IsRelocated(entry)
                                  : m_pe->SectionOf(target) != home || target + 0x10000 < jumpRva || target > jumpRva + 0x10000)
            break;
        if (s) {
            bool known = false;
            for (uint32_t k = 0; k < 4; ++k)
                known |= s->state[entry + k - s->rva] != byteUnknown;
            if (!known || trusted)
                Mark(*s, entry, entry + 4, byteData, byteData);
        }
        todo.push_back(target);
    }
}

bool CCodeMap::Walk(uint32_t start, bool trusted)
{
    m_bTrial = !trusted;
    m_undo.clear();
    std::vector<uint32_t> todo{start};
    bool failed = false;
    while (!todo.empty() && !failed) {
        uint32_t rva = todo.back();
        todo.pop_back();
        const uint32_t functionEnd = FunctionEnd(rva);
        for (CStep step;;) {
            CSpan* s = SpanOf(rva);
            if (!s) {
                failed = !trusted;
                break;
            }
            uint8_t st = s->state[rva - s->rva];
            if (st == byteStart)
                break;
            size_t avail = 0;
            const uint8_t* p = m_pe->Span(rva, avail);
            bool ok = st == byteUnknown && p && !IsFill(p, std::min<size_t>(avail, s->rva + s->size - rva)) &&
                      Decode(rva, step) && uint64_t(rva) + step.len <= uint64_t(s->rva) + s->size && (trusted || !step.odd);
            for (uint32_t k = 1; ok && k < step.len; ++k)
                ok = s->state[rva + k - s->rva] == byteUnknown;
            if (!ok) {
                failed = !trusted;
                break;
            }
            Mark(*s, rva, rva + step.len, byteStart, byteInside);
            if (step.hasTarget) {
                uint32_t target = step.target - m_pe->m_imageBase;
                if (m_pe->InImage(step.target) && SpanOf(target))
                    todo.push_back(target);
                else if (!trusted && !m_pe->ImportAt(step.target)) {
                    failed = true;
                    break;
                }
            }
            if (step.table)
                JumpTable(rva, step.table, trusted, todo);
            if (step.ends)
                break;
            rva += step.len;
            // Falling out of the function that the unwind data describes: what
            // follows is another function's start, or data (an exception table).
            if (functionEnd && rva >= functionEnd)
                break;
        }
    }
    if (failed) {
        for (auto it = m_undo.rbegin(); it != m_undo.rend(); ++it)
            SpanOf(it->first)->state[it->first - SpanOf(it->first)->rva] = it->second;
    }
    m_undo.clear();
    m_bTrial = false;
    return !failed;
}

// The usual first instructions of a compiled function, for starts that only a
// pointer in the code suggests (such a pointer may as well name a string).
bool CCodeMap::LooksLikeFunction(uint32_t rva)
{
    const uint8_t* p = m_pe->At(rva, 3);
    if (!p)
        return false;
    if (p[0] >= 0x50 && p[0] <= 0x57 && p[0] != 0x54)
        return true; // push reg
    if ((p[0] == 0x83 || p[0] == 0x81) && p[1] == 0xEC)
        return true; // sub esp, n
    if (p[0] == 0x8B && (p[1] == 0xFF || ((p[1] & 0xC7) == 0x44 && p[2] == 0x24)))
        return true; // mov edi, edi; mov reg, [esp+n]
    if (p[0] == 0xFF && p[1] == 0x25)
        return true; // jmp dword ptr [import]
    return p[0] == 0xE9 || p[0] == 0x6A || p[0] == 0x68 || (p[0] == 0x31 && p[1] == 0xC0) || (p[0] == 0x33 && p[1] == 0xC0);
}

void CCodeMap::Build(const CPeImage& pe, csh handle, cs_insn* insn)
{
    m_pe = &pe;
    m_handle = handle;
    m_insn = insn;
    m_spans.clear();
    m_bFlow = pe.m_hasRelocTable || pe.m_hasUnwindData;
    if (!m_bFlow)
        return;
    // A span never wraps past 4 GB, so every end computed from it holds.
    for (const CPeSection& s : pe.m_sections)
        if (s.executable && s.loadedSize && !SpanOf(s.rva)) {
            uint32_t size = std::min<uint32_t>(s.loadedSize, 0xFFFFFFFFu - s.rva);
            if (size)
                m_spans.push_back({s.rva, size, std::vector<uint8_t>(size, byteUnknown)});
        }

    // Known data first: the directories, the exception tables, and runs of three
    // or more relocated dwords (from the third on: the first two may end an instruction).
    for (const CPeImage::CDataRange& d : pe.m_dataRanges)
        MarkData(d.rva, uint32_t(std::min<uint64_t>(uint64_t(d.rva) + d.size, 0xFFFFFFFFu)));
    const std::vector<uint32_t>& r = pe.m_relocs;
    for (size_t i = 2; i < r.size(); ++i)
        if (r[i] == r[i - 1] + 4 && r[i - 1] == r[i - 2] + 4)
            MarkData(r[i], r[i] + 4);
    // MinGW's constructor and destructor lists: -1, relocated addresses, 0.
    for (size_t i = 0, j; i < r.size(); i = j) {
        for (j = i + 1; j < r.size() && r[j] == r[j - 1] + 4;)
            ++j;
        const uint8_t* head = pe.At(r[i] - 4, 4);
        const uint8_t* tail = pe.At(r[j - 1] + 4, 4);
        if (head && tail && Get32(head) == 0xFFFFFFFFu && Get32(tail) == 0)
            MarkData(r[i] - 4, r[j - 1] + 8);
    }

    // The starts the image names.
    if (pe.m_entryRva)
        Walk(pe.m_entryRva, true);
    for (uint32_t t : pe.m_tlsCallbacks)
        Walk(t, true);
    for (const auto& x : pe.m_exports)
        Walk(x.first, true);
    for (const CPeImage::CFunction& f : pe.m_functions)
        Walk(f.rva, true);
    for (uint32_t pad : pe.m_landingPads)
        Walk(pad, true);

    // Relocated pointers into code, each tried: from data (function tables,
    // vtables, case labels) as they are; from an instruction only where the
    // target starts like a function. Not into the middle of a described function
    // from code: that is a label, not a function.
    std::vector<std::pair<uint32_t, bool>> candidates; // target, pointed at from data
    for (uint32_t site : r) {
        const uint8_t* p = pe.At(site, 4);
        uint32_t v = p ? Get32(p) : 0;
        if (!pe.InImage(v) || !SpanOf(v - pe.m_imageBase))
            continue;
        uint8_t st = State(site);
        bool fromData = !SpanOf(site) || st == byteData;
        if (!fromData && st == byteUnknown)
            continue; // the pointer itself lies in unproven bytes
        candidates.push_back({v - pe.m_imageBase, fromData});
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    for (const auto& c : candidates) {
        if (State(c.first) != byteUnknown)
            continue;
        bool inside = FunctionEnd(c.first) != 0; // its start was walked already
        if (c.second || (!inside && LooksLikeFunction(c.first)))
            Walk(c.first, false);
    }

    // Functions that nothing names, outside the described ones: the frame setup
    // `push ebp; mov ebp, esp`, tried like the pointers above.
    for (CSpan& s : m_spans)
        for (uint32_t off = 0; off + 3 <= s.size; ++off) {
            const uint32_t a = s.rva + off;
            if (s.state[off] != byteUnknown)
                continue;
            const uint8_t* p = pe.At(a, 3);
            if (p && p[0] == 0x55 && ((p[1] == 0x89 && p[2] == 0xE5) || (p[1] == 0x8B && p[2] == 0xEC)) && !FunctionEnd(a))
                Walk(a, false);
        }
}
