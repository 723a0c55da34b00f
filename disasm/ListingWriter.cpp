#include "disasm/ListingWriter.h"

#include <capstone/capstone.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "disasm/CodeMap.h"
#include "disasm/InstructionText.h"
#include "disasm/PeImage.h"
#include "disasm/StringRef.h"

namespace {

const size_t kMaxLine = 254;     // the conversion cuts longer lines
const size_t kTextColumn = 34;
const size_t kShownBytes = 11;   // 22 hex digits leave two blanks before column 34
const size_t kMinPeListing = 512; // the tracer takes a listing under 500 bytes for "not PE"

struct CRange {
    uint32_t start;
    uint32_t end;
    uint32_t softHead; // an instruction may reach this many bytes into the range
    const char* label;
};

uint32_t Get32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

bool ByStart(const CRange& a, const CRange& b) { return a.start < b.start || (a.start == b.start && a.end > b.end); }

class CListingBuilder {
public:
    CListingBuilder(const CPeImage& pe, CListingOutput& out) : m_pe(pe), m_out(out) {}
    ~CListingBuilder()
    {
        if (m_insn)
            cs_free(m_insn, 1);
        if (m_handle)
            cs_close(&m_handle);
    }
    bool Open();
    void MapCode(bool straight)
    {
        m_bStraightAsked = straight;
        if (!straight)
            m_map.Build(m_pe, m_handle, m_insn);
    }
    void Header(const std::string& name);
    void NotPe(const std::string& name);
    void Section(const CPeSection& s);
    void Trailer();
    CListingStats m_stats;

private:
    void Note(std::string line);
    void DataLine(uint32_t from, uint32_t to, const char* label);
    void CodeLine(uint32_t rva, const uint8_t* code, uint32_t len, const CInstructionText& t, bool proven = true);
    void FindTables(const CPeSection& s, std::vector<CRange>& ranges);
    void JumpTableAhead(const CPeSection& s, uint32_t pos, const CInstructionText& t, std::vector<CRange>& ranges, size_t from);
    void IndexTableAhead(const CPeSection& s, uint32_t pos, std::vector<CRange>& ranges, size_t from);
    void AddIndexTable(const CPeSection& s, uint32_t table, uint32_t entries, std::vector<CRange>& ranges, size_t from);
    void AddRange(std::vector<CRange>& ranges, size_t from, CRange r);
    const std::string* ThunkImport(uint32_t targetVa) const;
    uint32_t Va(uint32_t rva) const { return m_pe.m_imageBase + rva; }

    const CPeImage& m_pe;
    CListingOutput& m_out;
    csh m_handle = 0;
    cs_insn* m_insn = nullptr;
    std::string m_line;
    CInstructionText m_text;
    CCodeMap m_map;
    bool m_bStraightAsked = false;
    // A byte table that a movzx read just before the jump table was known.
    uint32_t m_pendingIndexTable = 0;
    uint32_t m_pendingUntil = 0;
};

bool CListingBuilder::Open()
{
    if (cs_open(CS_ARCH_X86, CS_MODE_32, &m_handle) != CS_ERR_OK)
        return false;
    cs_option(m_handle, CS_OPT_DETAIL, CS_OPT_ON);
    m_insn = cs_malloc(m_handle);
    return m_insn != nullptr;
}

// Writes an annotation line: never a code or string line to the conversion.
void CListingBuilder::Note(std::string line)
{
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    if (line.empty() || line[0] == ':' || line[0] == '\'')
        line.insert(0, "; ");
    if (line.size() > 26 && line.compare(23, 4, "Stri") == 0)
        line.insert(23, 1, ' ');
    if (line.size() > kMaxLine)
        line.resize(kMaxLine);
    line += "\r\n";
    m_out.Append(line.data(), line.size());
}

void CListingBuilder::DataLine(uint32_t from, uint32_t to, const char* label)
{
    m_line = "; data ";
    AppendHex(m_line, Va(from), 8);
    m_line += "..";
    AppendHex(m_line, Va(to - 1), 8);
    m_line += " (";
    m_line += label;
    m_line += ", ";
    m_line += std::to_string(to - from);
    m_line += to - from == 1 ? " byte)" : " bytes)";
    Note(m_line);
    ++m_stats.dataRanges;
    m_stats.dataBytes += to - from;
}

// A proven instruction: ':' and its address, the line that becomes a point.
// Bytes that no path reaches keep the same columns for reading, but start
// with ';' and have "; " before the instruction at column 34, so that the
// conversion takes neither the line nor the text after its address for a point.
void CListingBuilder::CodeLine(uint32_t rva, const uint8_t* code, uint32_t len, const CInstructionText& t, bool proven)
{
    static const char hex[] = "0123456789ABCDEF";
    char line[kMaxLine + 2];
    line[0] = proven ? ':' : ';';
    uint32_t va = Va(rva);
    for (int i = 8; i >= 1; --i, va >>= 4)
        line[i] = hex[va & 15];
    memset(line + 9, ' ', kTextColumn - 9);
    size_t shown = std::min<size_t>(len, kShownBytes);
    for (size_t i = 0; i < shown; ++i) {
        line[10 + 2 * i] = hex[code[i] >> 4];
        line[11 + 2 * i] = hex[code[i] & 15];
    }
    size_t at = kTextColumn;
    if (!proven) {
        line[at++] = ';';
        line[at++] = ' ';
    }
    size_t n = std::min(t.text.size(), kMaxLine - at);
    memcpy(line + at, t.text.data(), n);
    size_t lineLen = at + n;
    line[lineLen++] = '\r';
    line[lineLen++] = '\n';
    m_out.Append(line, lineLen);
    ++(proven ? m_stats.instructions : m_stats.unproven);
}

// A call to a `jmp dword ptr [slot]` thunk is a call of the import behind it.
const std::string* CListingBuilder::ThunkImport(uint32_t targetVa) const
{
    if (!m_pe.InImage(targetVa))
        return nullptr;
    const uint8_t* p = m_pe.At(targetVa - m_pe.m_imageBase, 6);
    if (!p || p[0] != 0xFF || p[1] != 0x25)
        return nullptr;
    uint32_t slot = Get32(p + 2);
    return m_pe.ImportAt(slot);
}

void CListingBuilder::Header(const std::string& name)
{
    std::string shown = name.size() > 200 ? "..." + name.substr(name.size() - 197) : name;
    Note(";; Korvane disassembly listing");
    Note("; Program: " + shown);
    std::string line = "; Image base ";
    AppendHex(line, m_pe.m_imageBase, 8);
    line += ", entry point ";
    AppendHex(line, m_pe.m_imageBase + m_pe.m_entryRva, 8);
    line += (m_pe.m_characteristics & 0x2000) ? ", DLL" : ", program";
    line += ", " + std::to_string(m_pe.m_sections.size()) + " sections";
    Note(line);
    for (const CPeSection& s : m_pe.m_sections) {
        line = "; Section " + s.name;
        line.resize(std::max<size_t>(line.size(), 18), ' ');
        line += " at ";
        AppendHex(line, m_pe.m_imageBase + s.rva, 8);
        line += " size ";
        AppendHex(line, s.virtualSize, 8);
        line += " raw ";
        AppendHex(line, s.rawSize, 8);
        line += s.executable ? " code" : " data";
        if (s.executable && s.loadedSize)
            line += m_map.ByControlFlow() ? ", read by control flow"
                    : m_bStraightAsked    ? ", read straight through"
                                          : ", read straight through (no relocations, no unwind data)";
        Note(line);
    }
    size_t total = 0;
    for (const CPeImage::CImportModule& m : m_pe.m_importModules)
        total += m.count;
    Note("; Imports: " + std::to_string(m_pe.m_importModules.size()) + " modules, " + std::to_string(total) + " functions");
    for (const CPeImage::CImportModule& m : m_pe.m_importModules)
        Note(";   " + m.name + ": " + std::to_string(m.count) + (m.delayed ? " functions (delay-loaded)" : " functions"));
    if (!m_pe.m_exports.empty())
        Note("; Exports: " + std::to_string(m_pe.m_exports.size()) + " names");
    for (const std::string& n : m_pe.m_notes)
        Note("; Damaged file: " + n);
}

void CListingBuilder::NotPe(const std::string& name)
{
    std::string shown = name.size() > 200 ? "..." + name.substr(name.size() - 197) : name;
    Note(";; Korvane disassembly listing");
    Note("; Program: " + shown);
    Note("; Not a 32-bit PE file: " + m_pe.m_strProblem);
}

void CListingBuilder::Trailer()
{
    std::string line = "; End of listing: " + std::to_string(m_stats.instructions) + " instructions, " +
                       (m_map.ByControlFlow() ? std::to_string(m_stats.unproven) + " not reached, " : std::string()) +
                       std::to_string(m_stats.dataRanges) + " data ranges, " + std::to_string(m_stats.stringRefs) +
                       " string references";
    Note(line);
    // A program with almost no code still gets a listing the tracer accepts.
    while (m_out.Written() < kMinPeListing)
        Note(";");
}

void CListingBuilder::AddRange(std::vector<CRange>& ranges, size_t from, CRange r)
{
    auto it = std::upper_bound(ranges.begin() + long(from), ranges.end(), r, ByStart);
    ranges.insert(it, r);
}

// Runs of three or more relocated dwords, four bytes apart, cannot all be
// instruction operands: one instruction holds at most two fix-ups, and the
// next one needs an opcode byte first. From the third on they are data; the
// first two may still end an instruction (softHead).
void CListingBuilder::FindTables(const CPeSection& s, std::vector<CRange>& ranges)
{
    const std::vector<uint32_t>& r = m_pe.m_relocs;
    uint64_t end = uint64_t(s.rva) + s.loadedSize;
    auto first = std::lower_bound(r.begin(), r.end(), s.rva);
    for (auto it = first; it != r.end() && *it < end;) {
        auto run = it + 1;
        while (run != r.end() && *run == *(run - 1) + 4 && uint64_t(*run) + 4 <= end)
            ++run;
        size_t count = size_t(run - it);
        if (count >= 3 && uint64_t(*(run - 1)) + 4 <= end) {
            bool code = true;
            for (auto k = it; k != run && code; ++k) {
                const uint8_t* p = m_pe.At(*k, 4);
                uint32_t v = p ? Get32(p) : 0;
                code = m_pe.InImage(v) && m_pe.IsExecutable(v - m_pe.m_imageBase);
            }
            ranges.push_back({*it, *(run - 1) + 4, 8, code ? "jump table" : "address table"});
        }
        it = run;
    }
}

// `jmp dword ptr [reg*4+table]` with the table ahead in this section: its
// entries are code addresses, each one relocated when the file has fix-ups.
void CListingBuilder::JumpTableAhead(const CPeSection& s, uint32_t pos, const CInstructionText& t, std::vector<CRange>& ranges, size_t from)
{
    if (t.branch != branchJump || t.opCount != 1 || !t.hasMem)
        return;
    if (t.memIndex == X86_REG_INVALID || t.memScale != 4 || t.memBase != X86_REG_INVALID)
        return;
    uint32_t table = uint32_t(t.memDisp) - m_pe.m_imageBase;
    if (!m_pe.InImage(uint32_t(t.memDisp)) || table < pos || m_pe.SectionOf(table) != &s)
        return;
    uint32_t n = 0;
    for (; n < 65536; ++n) {
        uint32_t entry = table + n * 4;
        if (uint64_t(entry) + 4 > uint64_t(s.rva) + s.loadedSize)
            break;
        const uint8_t* p = m_pe.At(entry, 4);
        uint32_t v = Get32(p);
        if (!m_pe.InImage(v))
            break;
        // With fix-ups each entry is known to be an address. Without, an entry
        // must at least point near the jump, as the case labels of one function do.
        uint32_t target = v - m_pe.m_imageBase;
        if (m_pe.m_hasRelocTable ? !m_pe.IsRelocated(entry) || !m_pe.IsExecutable(target)
                                 : m_pe.SectionOf(target) != &s || target + 0x10000 < pos || target > pos + 0x10000)
            break;
    }
    if (!n)
        return;
    AddRange(ranges, from, {table, table + n * 4, 0, "jump table"});
    if (m_pendingIndexTable == table + n * 4 && pos <= m_pendingUntil)
        AddIndexTable(s, m_pendingIndexTable, n, ranges, from);
    m_pendingIndexTable = 0;
}

void CListingBuilder::AddIndexTable(const CPeSection& s, uint32_t table, uint32_t entries, std::vector<CRange>& ranges, size_t from)
{
    size_t avail = 0;
    const uint8_t* p = m_pe.Span(table, avail);
    if (!p)
        return;
    avail = std::min<uint64_t>(avail, uint64_t(s.rva) + s.loadedSize - table);
    uint32_t n = 0;
    while (n < avail && n < 65536 && p[n] < entries)
        ++n;
    if (n)
        AddRange(ranges, from, {table, table + n, 0, "jump index table"});
}

// `movzx reg, byte ptr [reg+table]` whose table follows a known jump table:
// the case index bytes, each smaller than the number of jump table entries.
void CListingBuilder::IndexTableAhead(const CPeSection& s, uint32_t pos, std::vector<CRange>& ranges, size_t from)
{
    const cs_x86& x86 = m_insn->detail->x86;
    if (m_insn->id != X86_INS_MOVZX || x86.op_count != 2 || x86.operands[1].type != X86_OP_MEM || x86.operands[1].size != 1)
        return;
    const x86_op_mem& mem = x86.operands[1].mem;
    if (mem.scale != 1 || (mem.base == X86_REG_INVALID) == (mem.index == X86_REG_INVALID))
        return;
    uint32_t table = uint32_t(mem.disp) - m_pe.m_imageBase;
    if (!m_pe.InImage(uint32_t(mem.disp)) || table < pos || m_pe.SectionOf(table) != &s)
        return;
    uint32_t entries = 0;
    for (size_t i = from; i < ranges.size(); ++i)
        if (ranges[i].end == table && strcmp(ranges[i].label, "jump table") == 0)
            entries = (ranges[i].end - ranges[i].start) / 4;
    if (entries) {
        AddIndexTable(s, table, entries, ranges, from);
    } else {
        // The jump table may follow within the next few instructions.
        m_pendingIndexTable = table;
        m_pendingUntil = pos + 32;
    }
}

void CListingBuilder::Section(const CPeSection& s)
{
    if (!s.executable || s.loadedSize == 0)
        return;
    uint32_t start = s.rva;
    uint32_t end = uint32_t(std::min<uint64_t>(uint64_t(s.rva) + s.loadedSize, 0xFFFFFFFFu));
    std::string line = "; Code section " + s.name + " ";
    AppendHex(line, Va(start), 8);
    line += "..";
    AppendHex(line, Va(end - 1), 8);
    Note(line);

    std::vector<CRange> ranges;
    for (const CPeImage::CDataRange& d : m_pe.m_dataRanges) {
        uint64_t a = std::max<uint64_t>(d.rva, start), b = std::min<uint64_t>(uint64_t(d.rva) + d.size, end);
        if (a < b)
            ranges.push_back({uint32_t(a), uint32_t(b), 0, d.label});
    }
    FindTables(s, ranges);
    std::sort(ranges.begin(), ranges.end(), ByStart);

    std::vector<std::pair<uint32_t, const std::string*>> exports;
    for (const auto& x : m_pe.m_exports)
        if (x.first >= start && x.first < end)
            exports.push_back({x.first, &x.second});
    std::sort(exports.begin(), exports.end());
    size_t e = 0;

    const uint8_t* bytes = m_pe.m_data + s.rawOffset; // loadedSize lies within the raw data
    size_t r = 0;
    uint32_t pos = start;
    // Read by control flow, only proven instructions are code; the bytes between
    // them are listed as data, decoded for reading where they decode.
    const bool flow = m_map.ByControlFlow();
    uint32_t nextCode = start; // the first proven instruction after pos
    while (pos < end) {
        while (r < ranges.size() && ranges[r].end <= pos)
            ++r;
        // A proven instruction is listed whatever the rules for data below say.
        const bool reached = flow && m_map.State(pos) == CCodeMap::byteStart;
        const bool unreached = flow && !reached;
        if (flow && nextCode <= pos)
            nextCode = m_map.NextStart(pos + 1, end);
        if (!reached && r < ranges.size() && ranges[r].start <= pos) {
            // Overlapping ranges, and adjoining ones of one kind, become one line.
            uint32_t to = ranges[r].end;
            const char* label = ranges[r].label;
            for (size_t k = r + 1; k < ranges.size(); ++k) {
                if (ranges[k].start > to || (ranges[k].start == to && strcmp(ranges[k].label, label) != 0))
                    break;
                to = std::max(to, ranges[k].end);
            }
            if (flow)
                to = std::min(to, nextCode);
            DataLine(pos, to, label);
            pos = to;
            continue;
        }
        uint32_t limit = r < ranges.size() ? ranges[r].start : end;
        if (unreached)
            limit = std::min(limit, nextCode);
        const uint8_t* p = bytes + (pos - start);

        // Padding between functions: int3 or zero fill.
        uint32_t run = 0;
        if (!reached && (p[0] == 0xCC || p[0] == 0x00)) {
            while (pos + run < limit && p[run] == p[0])
                ++run;
            if (run >= (p[0] == 0xCC ? 2u : 4u)) {
                DataLine(pos, pos + run, p[0] == 0xCC ? "int3 padding" : "zero fill");
                pos += run;
                continue;
            }
        }

        // A constructor or destructor list that the linker put between the
        // functions: -1, relocated function addresses, 0. FF FF starts no instruction.
        if (!reached && p[0] == 0xFF && (pos & 3) == 0 && limit - pos >= 8 && Get32(p) == 0xFFFFFFFFu) {
            uint32_t n = 4;
            while (pos + n + 4 <= limit && Get32(p + n) != 0 &&
                   (m_pe.m_hasRelocTable ? m_pe.IsRelocated(pos + n) : m_pe.IsExecutable(Get32(p + n) - m_pe.m_imageBase)))
                n += 4;
            if (pos + n + 4 <= limit && Get32(p + n) == 0) {
                DataLine(pos, pos + n + 4, "constructor list");
                pos += n + 4;
                continue;
            }
        }

        while (e < exports.size() && exports[e].first < pos)
            ++e;
        if (e < exports.size() && exports[e].first == pos)
            Note("; Exported: " + *exports[e].second);
        if (pos == m_pe.m_entryRva)
            Note("; Program entry point");

        uint32_t len = FastFormat(p, end - pos, Va(pos), m_text);
        bool decoded = len != 0;
        const uint8_t* code = p;
        size_t avail = end - pos;
        uint64_t address = Va(pos);
        if (!decoded && !cs_disasm_iter(m_handle, &code, &avail, &address, m_insn)) {
            // One line for a run of bytes that start no instruction.
            uint32_t bad = 1;
            for (; pos + bad < limit && bad < 256; ++bad) {
                code = p + bad;
                avail = end - pos - bad;
                address = Va(pos + bad);
                if (cs_disasm_iter(m_handle, &code, &avail, &address, m_insn))
                    break;
            }
            DataLine(pos, pos + bad, "not an instruction");
            pos += bad;
            continue;
        }
        if (!decoded)
            len = m_insn->size;
        uint32_t reach = r < ranges.size() ? limit + ranges[r].softHead : end;
        if (unreached)
            reach = std::min(reach, nextCode);
        if (!reached && pos + len > reach) {
            // A real instruction cannot run into known data.
            DataLine(pos, limit, "not an instruction");
            pos = limit;
            continue;
        }
        if (!decoded)
            FormatInstruction(m_handle, *m_insn, m_text);
        CInstructionText& t = m_text;
        if (unreached) {
            // Readable, never a point, and nothing is read from it.
            CodeLine(pos, p, len, t, false);
            pos += len;
            continue;
        }

        // Imports by name; strings the instruction points at.
        const std::string* import = nullptr;
        if (t.hasMemAbs)
            import = m_pe.ImportAt(t.memAbs);
        if (!import && t.branch == branchCall && t.hasTarget)
            import = ThunkImport(t.target);
        if (import) {
            t.text += " ; ";
            t.text += *import;
        }
        CodeLine(pos, p, len, t);

        uint32_t candidates[3];
        int nc = 0;
        if (t.hasMemAbs && !import)
            candidates[nc++] = t.memAbs;
        for (int i = 0; i < t.immCount; ++i)
            candidates[nc++] = t.imms[i];
        for (int i = 0; i < nc; ++i) {
            if (!m_pe.InImage(candidates[i]) || (i && candidates[i] == candidates[0]))
                continue;
            size_t strAvail = 0;
            const uint8_t* str = m_pe.Span(candidates[i] - m_pe.m_imageBase, strAvail);
            size_t strBytes = 0;
            if (str && AppendStringRefLine(str, strAvail, m_line, &strBytes)) {
                m_out.Append(m_line.data(), m_line.size());
                ++m_stats.stringRefs;
                // Text that the code refers to, further on in this section, after the end
                // of a function (ret, padding or a zero): keep it out of the code. Only
                // prose qualifies; a function pointer to code that looks like a short
                // string must not shift the decoding of that function.
                uint32_t strRva = candidates[i] - m_pe.m_imageBase;
                if (strRva > pos + len && uint64_t(strRva) + strBytes <= end && LooksLikeProse(str, strBytes)) {
                    uint8_t before = bytes[strRva - 1 - start];
                    if (before == 0xC3 || before == 0xCC || before == 0x90 || before == 0x00)
                        AddRange(ranges, r, {strRva, uint32_t(strRva + strBytes), 0, "string"});
                }
            }
        }

        JumpTableAhead(s, pos + len, t, ranges, r);
        if (!decoded)
            IndexTableAhead(s, pos + len, ranges, r);
        pos += len;
    }
}

} // namespace

bool CListingOutput::Flush()
{
    if (m_file && !m_text.empty()) {
        if (!m_bFailed && fwrite(m_text.data(), 1, m_text.size(), m_file) != m_text.size())
            m_bFailed = true;
        m_text.clear();
    }
    return !m_bFailed;
}

CListingStats WriteListing(const uint8_t* data, size_t size, const std::string& name, CListingOutput& out, bool straight)
{
    CPeImage pe;
    bool isPe = pe.Parse(data, size);
    CListingBuilder builder(pe, out);
    if (!isPe) {
        builder.NotPe(name);
        return CListingStats();
    }
    if (!builder.Open()) {
        const char msg[] = ";; Korvane disassembly listing\r\n; The decoder could not be started\r\n";
        out.Append(msg, sizeof msg - 1);
        return CListingStats();
    }
    builder.MapCode(straight);
    builder.Header(name);
    std::vector<const CPeSection*> order;
    for (const CPeSection& s : pe.m_sections)
        order.push_back(&s);
    std::stable_sort(order.begin(), order.end(), [](const CPeSection* a, const CPeSection* b) { return a->rva < b->rva; });
    for (const CPeSection* s : order)
        builder.Section(*s);
    builder.Trailer();
    builder.m_stats.isPe = true;
    return builder.m_stats;
}
