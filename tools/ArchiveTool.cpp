// archive-tool: reads hit archives outside the window, with the tracer's own
// reader, against the listing the archive names (or --listing FILE):
//   show ARCHIVE            the names, the kinds, one line per point with hits
//   diff A B                hits in A and B per point, by the size of the change
//   export --csv ARCHIVE    one row per point of the listing
//   export --drcov ARCHIVE --module PATH   the hit points as coverage blocks
// Exit code 1 for input it cannot use (after a message), 2 for bad arguments.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "archive/ArchiveExport.h"

namespace {

const char kUsage[] =
    "usage: archive-tool show ARCHIVE [--sort hits|addr|num|comp] [--top N] [--listing FILE]\n"
    "       archive-tool diff A.ar B.ar [--listing FILE]\n"
    "       archive-tool export --csv ARCHIVE [--listing FILE]\n"
    "       archive-tool export --drcov ARCHIVE --module PATH [--listing FILE]\n"
    "The listing is the converted one in the archive's folder, named after the archive's target;\n"
    "--listing may also name a fresh listing of the same target (its code bytes give the drcov sizes).\n";

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

int CheckSkipped(int nSkipped, const ArchiveFile& archive, const ArchiveListing& listing)
{
    if (nSkipped == 0)
        return 0;
    std::fprintf(stderr, "archive-tool: %d entries of %s name no point record of the listing %s; they were skipped\n",
                 nSkipped, Quoted(archive.path).c_str(), Quoted(listing.m_path).c_str());
    return 1;
}

void Show(const ArchiveFile& archive, const ArchiveListing& listing, const Options& options)
{
    const HitArchiveHeader& h = archive.header;
    std::string kinds;
    const char* const names[6] = {"Call Ptr", "Call", "Jmp Ptr", "Jmp", "Str Data", "Singl Step"};
    for (int i = 0; i < 6; ++i)
        if (h.kinds[i] != 0)
            kinds += std::string(kinds.empty() ? "" : ", ") + names[i];
    std::vector<ArchivePoint> hit;
    for (const ArchivePoint& point : listing.m_points)
        if (point.hits != 0)
            hit.push_back(point);
    std::printf("archive  %s\ntarget   %s in %s\nsaved as %s\nkinds    %s\nlisting  %s: %zu points, %zu with hits\n",
                archive.path.c_str(), h.strTargetName.GetString(), h.strTargetDir.GetString(),
                h.strArchiveName.GetString(), kinds.empty() ? "none" : kinds.c_str(), listing.m_path.c_str(),
                listing.m_points.size(), hit.size());
    // The hit list's orders: Hits and Comp descending, Num and the address ascending.
    auto key = [&](const ArchivePoint& p) -> long long {
        return options.sort == "num" ? p.num : options.sort == "comp" ? -static_cast<long long>(p.comp)
                                        : options.sort == "addr" ? 0 : -static_cast<long long>(p.hits);
    };
    std::stable_sort(hit.begin(), hit.end(),
                     [&](const ArchivePoint& a, const ArchivePoint& b) { return key(a) < key(b); });
    if (options.top >= 0 && static_cast<size_t>(options.top) < hit.size())
        hit.resize(static_cast<size_t>(options.top));
    std::printf("address   kind           num       hits       comp  disassembly\n");
    for (const ArchivePoint& p : hit)
        std::printf("%08lX  %-8s %10ld %10ld %10ld  %s\n", static_cast<unsigned long>(p.record->addr),
                    KindName(p.record->kind), static_cast<long>(p.num), static_cast<long>(p.hits),
                    static_cast<long>(p.comp), p.record->text);
}

void Diff(const ArchiveListing& listing, const std::vector<ArchivePoint>& a, const std::vector<ArchivePoint>& b)
{
    struct Change {
        const ArchivePoint* point;
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

int Run(const Options& options)
{
    ArchiveFile first(options.archives[0]);
    ArchiveListing listing(options.listing.empty() ? first.ListingPath() : options.listing);
    int status = CheckSkipped(listing.Restore(first.ar, first.path), first, listing);
    if (options.command == "diff") {
        ArchiveFile second(options.archives[1]);
        if (second.header.strTargetName != first.header.strTargetName)
            FailInput(Quoted(first.path) + " and " + Quoted(second.path) + " belong to different targets (" +
                      first.header.strTargetName.Str() + ", " + second.header.strTargetName.Str() + ")");
        if (options.listing.empty() && second.ListingPath() != first.ListingPath()
            && ReadWholeFile(second.ListingPath(), "listing") != ReadWholeFile(first.ListingPath(), "listing"))
            FailInput(Quoted(first.path) + " and " + Quoted(second.path) +
                      " belong to different listings of their target");
        std::vector<ArchivePoint> a = listing.m_points;
        status |= CheckSkipped(listing.Restore(second.ar, second.path), second, listing);
        Diff(listing, a, listing.m_points);
    } else if (options.command == "show") {
        Show(first, listing, options);
    } else if (options.format == "csv") {
        ExportCsv(listing, stdout);
    } else {
        ExportDrcov(listing, options.module, stdout);
    }
    if (std::fflush(stdout) != 0)
        FailInput("writing the output failed");
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
    } catch (const ArchiveInputError& failure) {
        std::fflush(stdout);
        std::fprintf(stderr, "archive-tool: %s\n", failure.message.c_str());
        return 1;
    } catch (const CFileException& e) {
        std::fprintf(stderr, "archive-tool: %s\n", e.GetErrorMessage().GetString());
        return 1;
    }
}
