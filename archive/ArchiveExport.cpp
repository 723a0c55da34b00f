#include "archive/ArchiveExport.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

void FailInput(const std::string& message)
{
    throw ArchiveInputError{message};
}

std::string Quoted(const std::string& path)
{
    return "[ " + path + " ]";
}

std::vector<char> ReadWholeFile(const std::string& path, const char* what)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        FailInput("cannot open the " + std::string(what) + " " + Quoted(path) + ": " + std::strerror(errno));
    std::vector<char> data;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && data.size() < 0x7FFFFFFF)
        data.insert(data.end(), chunk, chunk + got);
    bool failed = std::ferror(file) != 0 || data.size() >= 0x7FFFFFFF;
    std::fclose(file);
    if (failed)
        FailInput("cannot read the " + std::string(what) + " " + Quoted(path));
    return data;
}

const char* KindName(BYTE kind)
{
    switch (kind) {
    case kindCallPtr: return "Call Ptr";
    case kindCall: return "Call";
    case kindJmpPtr: return "Jmp Ptr";
    case kindJmp: return "Jmp";
    default: return "Str Data";
    }
}

ArchiveListing::ArchiveListing(const std::string& path) : m_path(path), m_view(ReadWholeFile(path, "listing"))
{
    // The tracer takes no shorter file for a listing.
    if (m_view.size() < 500)
        FailInput(Quoted(path) + " is too short for a listing");
    DWORD size = static_cast<DWORD>(m_view.size());
    if (IsConvertedListing(m_view.data(), size)) {
        IndexListing(m_view.data(), size, m_maps);
    } else {
        m_raw = m_view;
        ConvertListing(m_view.data(), size, m_maps);
    }
    for (POSITION pos = m_maps.m_mapAll.GetStartPosition(); pos != NULL;) {
        void *key, *value;
        m_maps.m_mapAll.GetNextAssoc(pos, key, value);
        m_points.push_back({static_cast<ListingRecord*>(value), 0, 0, 0});
    }
    std::sort(m_points.begin(), m_points.end(),
              [](const ArchivePoint& a, const ArchivePoint& b) { return a.record->addr < b.record->addr; });
}

int ArchiveListing::Restore(CArchive& ar, const std::string& archivePath)
{
    for (ArchivePoint& point : m_points)
        point.record->num = point.record->hits = point.record->comp = 0;
    int nSkipped;
    try {
        nSkipped = RestoreArchiveEntries(ar, m_view.data(), static_cast<DWORD>(m_view.size()), m_maps.m_mapAll);
    } catch (const CArchiveException&) {
        FailInput(Quoted(archivePath) + " ends early: the archive is truncated");
    }
    for (ArchivePoint& point : m_points) {
        point.num = point.record->num;
        point.hits = point.record->hits;
        point.comp = point.record->comp;
    }
    return nSkipped;
}

std::vector<std::pair<DWORD, WORD>> ArchiveListing::CodeLengths() const
{
    std::vector<std::pair<DWORD, WORD>> lengths;
    const char* end = m_view.data() + m_view.size();
    for (const char* s = m_view.data() + 1; s < end && end - s > BYTE(*s); s += BYTE(*s) + 1) {
        const ListingRecord* record = reinterpret_cast<const ListingRecord*>(s);
        // Code lines only: a string line carries the address of the line before it, or none.
        if (record->len < listingFieldsLen || std::memcmp(record->mark, "Ok\n", 3) != 0
            || record->kind == kindStrData || !std::isxdigit(static_cast<unsigned char>(record->addrText[0])))
            continue;
        WORD bytes = 0;
        if (!m_raw.empty()) {
            const char* code = &m_raw[static_cast<size_t>(s - m_view.data()) + 11];
            while (bytes < 11 && std::isxdigit(static_cast<unsigned char>(code[2 * bytes]))
                   && std::isxdigit(static_cast<unsigned char>(code[2 * bytes + 1])))
                ++bytes;
        }
        lengths.emplace_back(DWORD(record->addr), bytes);
    }
    std::sort(lengths.begin(), lengths.end());
    for (size_t i = 0; i < lengths.size(); ++i) {
        if (lengths[i].second != 0)
            continue;
        DWORD gap = i + 1 < lengths.size() ? lengths[i + 1].first - lengths[i].first : 0;
        lengths[i].second = static_cast<WORD>(gap >= 1 && gap <= 15 ? gap : 1);
    }
    return lengths;
}

DWORD ArchiveListing::ImageBase(const std::vector<std::pair<DWORD, WORD>>& lengths) const
{
    const char* mark = "; Image base ";
    auto at = std::search(m_raw.begin(), m_raw.end(), mark, mark + std::strlen(mark));
    if (at != m_raw.end()) {
        std::string digits(at + std::strlen(mark), std::min(at + 21, m_raw.end()));
        return static_cast<DWORD>(std::strtoul(digits.c_str(), nullptr, 16));
    }
    return lengths.empty() ? 0 : lengths.front().first & ~DWORD(0xFFFF);
}

ArchiveFile::ArchiveFile(const std::string& p) : path(p)
{
    CFileException error;
    if (!file.Open(path.c_str(), CFile::modeRead, &error))
        FailInput("cannot open the archive " + Quoted(path) + ": " + error.GetErrorMessage().Str());
    try {
        if (!ReadArchiveSignature(ar))
            FailInput(Quoted(path) + " is not a hit archive");
        ReadArchiveHeader(ar, header);
    } catch (const CArchiveException&) {
        FailInput(Quoted(path) + " ends early: the archive is truncated");
    }
}

std::string ArchiveFile::ListingPath() const
{
    CString name = header.strTargetName;
    if (name.IsEmpty() || name.Find('\\') >= 0 || name.Find('/') >= 0 || name.Find(':') >= 0
        || (name.Replace(".exe", ".dsm") == 0 && name.Replace(".com", ".dsm") == 0))
        FailInput("the target of " + Quoted(path) + ", " + Quoted(header.strTargetName.Str()) +
             ", names no listing; give one with --listing FILE");
    size_t slash = path.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + name.Str();
}

// A field as CSV readers expect it: quoted, its quotes doubled, when it holds a comma, a quote or a line end.
static std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

void ExportCsv(const ArchiveListing& listing, FILE* out)
{
    std::fprintf(out, "address,kind,num,hits,comp,disassembly\r\n");
    for (const ArchivePoint& p : listing.m_points)
        std::fprintf(out, "%08lX,%s,%ld,%ld,%ld,%s\r\n", static_cast<unsigned long>(p.record->addr),
                     KindName(p.record->kind), static_cast<long>(p.num), static_cast<long>(p.hits),
                     static_cast<long>(p.comp), CsvField(p.record->text).c_str());
}

// Each block: the offset from the module's base, the size and the module id, little-endian.
void ExportDrcov(const ArchiveListing& listing, const std::string& module, FILE* out)
{
    std::vector<std::pair<DWORD, WORD>> lengths = listing.CodeLengths();
    DWORD base = listing.ImageBase(lengths);
    DWORD end = base;
    for (const auto& length : lengths)
        end = std::max(end, length.first + length.second);
    end = (end + 0xFFF) & ~DWORD(0xFFF);
    std::string blocks;
    for (const ArchivePoint& p : listing.m_points) {
        if (p.hits == 0 || p.record->addr < base)
            continue;
        auto at = std::lower_bound(lengths.begin(), lengths.end(), std::make_pair(DWORD(p.record->addr), WORD(0)));
        WORD size = at != lengths.end() && at->first == p.record->addr ? at->second : 1;
        DWORD start = p.record->addr - base;
        const char entry[8] = {char(start), char(start >> 8), char(start >> 16), char(start >> 24),
                               char(size), char(size >> 8), 0, 0};
        blocks.append(entry, 8);
    }
    std::fprintf(out, "DRCOV VERSION: 2\nDRCOV FLAVOR: drcov\nModule Table: version 2, count 1\n"
                      "Columns: id, base, end, entry, checksum, timestamp, path\n"
                      " 0, 0x%08lX, 0x%08lX, 0x00000000, 0x00000000, 0x00000000, %s\nBB Table: %zu bbs\n",
                 static_cast<unsigned long>(base), static_cast<unsigned long>(end), module.c_str(), blocks.size() / 8);
    std::fwrite(blocks.data(), 1, blocks.size(), out);
}

