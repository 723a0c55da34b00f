// archive-tool: reads hit archives outside the window, with the tracer's own
// reader, against the listing the archive names (or --listing FILE):
//   show ARCHIVE            the names, the kinds, one line per point with hits
//   diff A B                hits in A and B per point, by the size of the change
//   export --csv ARCHIVE    one row per point of the listing
//   export --drcov ARCHIVE --module PATH   the hit points as coverage blocks
// Exit code 1 for input it cannot use (after a message), 2 for bad arguments.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "archive/HitArchive.h"

namespace {

const char kUsage[] =
    "usage: archive-tool show ARCHIVE [--sort hits|addr|num|comp] [--top N] [--listing FILE]\n"
    "       archive-tool diff A.ar B.ar [--listing FILE]\n"
    "       archive-tool export --csv ARCHIVE [--listing FILE]\n"
    "       archive-tool export --drcov ARCHIVE --module PATH [--listing FILE]\n"
    "The listing is the converted one in the archive's folder, named after the archive's target;\n"
    "--listing may also name a fresh listing of the same target (its code bytes give the drcov sizes).\n";

// Input the tool cannot use: the message is printed and the exit code is 1.
struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message)
{
    throw Failure{message};
}

std::string Quoted(const std::string& path)
{
    return "[ " + path + " ]";
}

struct Options {
    std::string command, format, sort = "hits", listing, module;
    std::vector<std::string> archives;
    long top = -1;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    if (argc < 2)
        return false;
    options.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc)
                return false;
            into = argv[++i];
            return true;
        };
        if (arg == "--listing" || arg == "--module" || arg == "--sort" || arg == "--top") {
            std::string text;
            if (!value(text))
                return false;
            if (arg == "--listing")
                options.listing = text;
            else if (arg == "--module")
                options.module = text;
            else if (arg == "--sort")
                options.sort = text;
            else {
                char* end = nullptr;
                options.top = std::strtol(text.c_str(), &end, 10);
                if (text.empty() || *end != '\0' || options.top < 0)
                    return false;
            }
        } else if (arg == "--csv" || arg == "--drcov") {
            options.format = arg.substr(2);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return false;
        } else {
            options.archives.push_back(arg);
        }
    }
    const std::string& c = options.command;
    bool showOnly = options.sort != "hits" || options.top >= 0;
    if (options.sort != "hits" && options.sort != "addr" && options.sort != "num" && options.sort != "comp")
        return false;
    if (c == "show")
        return options.archives.size() == 1 && options.format.empty() && options.module.empty();
    if (c == "diff")
        return options.archives.size() == 2 && options.format.empty() && options.module.empty() && !showOnly;
    if (c == "export")
        return options.archives.size() == 1 && !showOnly
               && ((options.format == "csv" && options.module.empty())
                   || (options.format == "drcov" && !options.module.empty()));
    return false;
}

std::vector<char> ReadWholeFile(const std::string& path, const char* what)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        Fail("cannot open the " + std::string(what) + " " + Quoted(path) + ": " + std::strerror(errno));
    std::vector<char> data;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && data.size() < 0x7FFFFFFF)
        data.insert(data.end(), chunk, chunk + got);
    bool failed = std::ferror(file) != 0 || data.size() >= 0x7FFFFFFF;
    std::fclose(file);
    if (failed)
        Fail("cannot read the " + std::string(what) + " " + Quoted(path));
    return data;
}

// One point of the listing, with the counts an archive gave it.
struct Point {
    ListingRecord* record;
    LONG num, hits, comp;
};

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

// The converted listing in memory (never written back), its points by address,
// and, for a fresh listing converted here, its text with the code bytes.
class Listing {
public:
    Listing(const std::string& path) : m_path(path), m_view(ReadWholeFile(path, "listing"))
    {
        // The tracer takes no shorter file for a listing.
        if (m_view.size() < 500)
            Fail(Quoted(path) + " is too short for a listing");
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
                  [](const Point& a, const Point& b) { return a.record->addr < b.record->addr; });
    }

    // The archive's counts in every point; the archive is read up to its
    // entries. Returns how many entries named no point record.
    int Restore(CArchive& ar, const std::string& archivePath)
    {
        for (Point& point : m_points)
            point.record->num = point.record->hits = point.record->comp = 0;
        int nSkipped;
        try {
            nSkipped = RestoreArchiveEntries(ar, m_view.data(), static_cast<DWORD>(m_view.size()), m_maps.m_mapAll);
        } catch (const CArchiveException&) {
            Fail(Quoted(archivePath) + " ends early: the archive is truncated");
        }
        for (Point& point : m_points) {
            point.num = point.record->num;
            point.hits = point.record->hits;
            point.comp = point.record->comp;
        }
        return nSkipped;
    }

    // The code length of the instruction at each address: from the code bytes of
    // a fresh listing, else the distance to the next instruction (1 to 15 bytes;
    // 1 where data or the end follows).
    std::vector<std::pair<DWORD, WORD>> CodeLengths() const
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

    // The image base a fresh listing states, else the 64 KB boundary below its code.
    DWORD ImageBase(const std::vector<std::pair<DWORD, WORD>>& lengths) const
    {
        const char* mark = "; Image base ";
        auto at = std::search(m_raw.begin(), m_raw.end(), mark, mark + std::strlen(mark));
        if (at != m_raw.end()) {
            std::string digits(at + std::strlen(mark), std::min(at + 21, m_raw.end()));
            return static_cast<DWORD>(std::strtoul(digits.c_str(), nullptr, 16));
        }
        return lengths.empty() ? 0 : lengths.front().first & ~DWORD(0xFFFF);
    }

    const std::string m_path;
    std::vector<Point> m_points;

private:
    std::vector<char> m_view, m_raw;
    CPointMaps m_maps;
};

// An archive opened and read up to its entries.
struct ArchiveFile {
    explicit ArchiveFile(const std::string& p) : path(p)
    {
        CFileException error;
        if (!file.Open(path.c_str(), CFile::modeRead, &error))
            Fail("cannot open the archive " + Quoted(path) + ": " + error.GetErrorMessage().Str());
        try {
            if (!ReadArchiveSignature(ar))
                Fail(Quoted(path) + " is not a hit archive");
            ReadArchiveHeader(ar, header);
        } catch (const CArchiveException&) {
            Fail(Quoted(path) + " ends early: the archive is truncated");
        }
    }
    // The listing beside the archive that the tracer would open for its target.
    std::string ListingPath() const
    {
        CString name = header.strTargetName;
        if (name.IsEmpty() || name.Find('\\') >= 0 || name.Find('/') >= 0 || name.Find(':') >= 0
            || (name.Replace(".exe", ".dsm") == 0 && name.Replace(".com", ".dsm") == 0))
            Fail("the target of " + Quoted(path) + ", " + Quoted(header.strTargetName.Str()) +
                 ", names no listing; give one with --listing FILE");
        size_t slash = path.find_last_of("\\/");
        return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + name.Str();
    }

    std::string path;
    CFile file;
    CArchive ar{&file, CArchive::load};
    HitArchiveHeader header;
};

int CheckSkipped(int nSkipped, const ArchiveFile& archive, const Listing& listing)
{
    if (nSkipped == 0)
        return 0;
    std::fprintf(stderr, "archive-tool: %d entries of %s name no point record of the listing %s; they were skipped\n",
                 nSkipped, Quoted(archive.path).c_str(), Quoted(listing.m_path).c_str());
    return 1;
}

void Show(const ArchiveFile& archive, const Listing& listing, const Options& options)
{
    const HitArchiveHeader& h = archive.header;
    std::string kinds;
    const char* const names[6] = {"Call Ptr", "Call", "Jmp Ptr", "Jmp", "Str Data", "Singl Step"};
    for (int i = 0; i < 6; ++i)
        if (h.kinds[i] != 0)
            kinds += std::string(kinds.empty() ? "" : ", ") + names[i];
    std::vector<Point> hit;
    for (const Point& point : listing.m_points)
        if (point.hits != 0)
            hit.push_back(point);
    std::printf("archive  %s\ntarget   %s in %s\nsaved as %s\nkinds    %s\nlisting  %s: %zu points, %zu with hits\n",
                archive.path.c_str(), h.strTargetName.GetString(), h.strTargetDir.GetString(),
                h.strArchiveName.GetString(), kinds.empty() ? "none" : kinds.c_str(), listing.m_path.c_str(),
                listing.m_points.size(), hit.size());
    // The hit list's orders: Hits and Comp descending, Num and the address ascending.
    auto key = [&](const Point& p) -> long long {
        return options.sort == "num" ? p.num : options.sort == "comp" ? -static_cast<long long>(p.comp)
                                        : options.sort == "addr" ? 0 : -static_cast<long long>(p.hits);
    };
    std::stable_sort(hit.begin(), hit.end(), [&](const Point& a, const Point& b) { return key(a) < key(b); });
    if (options.top >= 0 && static_cast<size_t>(options.top) < hit.size())
        hit.resize(static_cast<size_t>(options.top));
    std::printf("address   kind           num       hits       comp  disassembly\n");
    for (const Point& p : hit)
        std::printf("%08lX  %-8s %10ld %10ld %10ld  %s\n", static_cast<unsigned long>(p.record->addr),
                    KindName(p.record->kind), static_cast<long>(p.num), static_cast<long>(p.hits),
                    static_cast<long>(p.comp), p.record->text);
}

void Diff(const Listing& listing, const std::vector<Point>& a, const std::vector<Point>& b)
{
    struct Change {
        const Point* point;
        long long hitsA, hitsB;
    };
    std::vector<Change> changes;
    size_t onlyA = 0, onlyB = 0, both = 0;
    for (size_t i = 0; i < listing.m_points.size(); ++i) {
        if (a[i].hits == 0 && b[i].hits == 0)
            continue;
        (b[i].hits == 0 ? onlyA : a[i].hits == 0 ? onlyB : both) += 1;
        changes.push_back({&a[i], a[i].hits, b[i].hits});
    }
    std::stable_sort(changes.begin(), changes.end(), [](const Change& x, const Change& y) {
        return std::llabs(x.hitsB - x.hitsA) > std::llabs(y.hitsB - y.hitsA);
    });
    std::printf("address   kind              A          B        B-A  disassembly\n");
    for (const Change& c : changes)
        std::printf("%08lX  %-8s %10lld %10lld %+10lld  %s\n", static_cast<unsigned long>(c.point->record->addr),
                    KindName(c.point->record->kind), c.hitsA, c.hitsB, c.hitsB - c.hitsA, c.point->record->text);
    std::printf("points hit only in A: %zu, only in B: %zu, in both: %zu\n", onlyA, onlyB, both);
}

// A field as CSV readers expect it: quoted, its quotes doubled, when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

void ExportCsv(const Listing& listing)
{
    std::printf("address,kind,num,hits,comp,disassembly\r\n");
    for (const Point& p : listing.m_points)
        std::printf("%08lX,%s,%ld,%ld,%ld,%s\r\n", static_cast<unsigned long>(p.record->addr), KindName(p.record->kind),
                    static_cast<long>(p.num), static_cast<long>(p.hits), static_cast<long>(p.comp),
                    CsvField(p.record->text).c_str());
}

// drcov version 2: a text header with one module, then one 8-byte block per
// hit point (offset from the module's base, size, module id), little-endian.
void ExportDrcov(const Listing& listing, const std::string& module)
{
    std::vector<std::pair<DWORD, WORD>> lengths = listing.CodeLengths();
    DWORD base = listing.ImageBase(lengths);
    DWORD end = base;
    for (const auto& length : lengths)
        end = std::max(end, length.first + length.second);
    end = (end + 0xFFF) & ~DWORD(0xFFF);
    std::string blocks;
    for (const Point& p : listing.m_points) {
        if (p.hits == 0 || p.record->addr < base)
            continue;
        auto at = std::lower_bound(lengths.begin(), lengths.end(), std::make_pair(DWORD(p.record->addr), WORD(0)));
        WORD size = at != lengths.end() && at->first == p.record->addr ? at->second : 1;
        DWORD start = p.record->addr - base;
        const char entry[8] = {char(start), char(start >> 8), char(start >> 16), char(start >> 24),
                               char(size), char(size >> 8), 0, 0};
        blocks.append(entry, 8);
    }
    std::printf("DRCOV VERSION: 2\nDRCOV FLAVOR: drcov\nModule Table: version 2, count 1\n"
                "Columns: id, base, end, entry, checksum, timestamp, path\n"
                " 0, 0x%08lX, 0x%08lX, 0x00000000, 0x00000000, 0x00000000, %s\nBB Table: %zu bbs\n",
                static_cast<unsigned long>(base), static_cast<unsigned long>(end), module.c_str(), blocks.size() / 8);
    std::fwrite(blocks.data(), 1, blocks.size(), stdout);
}

int Run(const Options& options)
{
    ArchiveFile first(options.archives[0]);
    Listing listing(options.listing.empty() ? first.ListingPath() : options.listing);
    int status = CheckSkipped(listing.Restore(first.ar, first.path), first, listing);
    if (options.command == "diff") {
        ArchiveFile second(options.archives[1]);
        if (second.header.strTargetName != first.header.strTargetName)
            Fail(Quoted(first.path) + " and " + Quoted(second.path) + " belong to different targets (" +
                 first.header.strTargetName.Str() + ", " + second.header.strTargetName.Str() + ")");
        if (options.listing.empty() && second.ListingPath() != first.ListingPath()
            && ReadWholeFile(second.ListingPath(), "listing") != ReadWholeFile(first.ListingPath(), "listing"))
            Fail(Quoted(first.path) + " and " + Quoted(second.path) + " belong to different listings of their target");
        std::vector<Point> a = listing.m_points;
        status |= CheckSkipped(listing.Restore(second.ar, second.path), second, listing);
        Diff(listing, a, listing.m_points);
    } else if (options.command == "show") {
        Show(first, listing, options);
    } else if (options.format == "csv") {
        ExportCsv(listing);
    } else {
        ExportDrcov(listing, options.module);
    }
    if (std::fflush(stdout) != 0)
        Fail("writing the output failed");
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
#ifdef _WIN32
    // The same bytes as the native build: no CR before each LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    try {
        return Run(options);
    } catch (const Failure& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "archive-tool: %s\n", failure.message.c_str());
        return 1;
    } catch (const CFileException& e) {
        std::fprintf(stderr, "archive-tool: %s\n", e.GetErrorMessage().GetString());
        return 1;
    }
}
