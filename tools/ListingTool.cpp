// listing-tool: converts or re-indexes a listing file the way the tracer does
// and prints the six point maps, one association per line, sorted by address:
//   NAME ADDR OFFSET   (ADDR 8 upper-case hex digits, OFFSET decimal)
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "listing/ListingRecord.h"

namespace {

// The tracer takes no shorter file for a listing.
const DWORD minListingSize = 500;

void Usage()
{
    std::fprintf(stderr,
                 "usage: listing-tool convert FILE   convert a fresh listing in place\n"
                 "       listing-tool index FILE     re-index a converted listing\n");
}

bool ReadWholeFile(const char* path, std::vector<char>& data)
{
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "listing-tool: cannot open [ %s ]: %s\n", path, std::strerror(errno));
        return false;
    }
    char chunk[65536];
    unsigned long long total = 0; // counted apart from the vector, whose size_t may be 32 bits
    size_t got;
    while (total <= 0xFFFFFFFFull && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        total += got;
        if (total <= 0xFFFFFFFFull)
            data.insert(data.end(), chunk, chunk + got);
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "listing-tool: cannot read [ %s ]\n", path);
        return false;
    }
    if (total > 0xFFFFFFFFull) {
        std::fprintf(stderr, "listing-tool: [ %s ] is larger than 4 GB\n", path);
        return false;
    }
    return true;
}

// The file keeps its size, so it is rewritten in place.
bool WriteWholeFile(const char* path, const std::vector<char>& data)
{
    FILE* file = std::fopen(path, "r+b");
    if (!file) {
        std::fprintf(stderr, "listing-tool: cannot write [ %s ]: %s\n", path, std::strerror(errno));
        return false;
    }
    bool ok = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    ok = (std::fclose(file) == 0) && ok;
    if (!ok)
        std::fprintf(stderr, "listing-tool: writing [ %s ] failed\n", path);
    return ok;
}

void PrintMap(const char* name, CMapPtrToPtr& map, const char* view)
{
    std::vector<std::pair<DWORD, unsigned long>> entries;
    entries.reserve(static_cast<size_t>(map.GetCount()));
    for (POSITION pos = map.GetStartPosition(); pos;) {
        void* key;
        void* value;
        map.GetNextAssoc(pos, key, value);
        entries.emplace_back(static_cast<DWORD>(reinterpret_cast<uintptr_t>(key)),
                             static_cast<unsigned long>(static_cast<const char*>(value) - view));
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries)
        std::printf("%s %08lX %lu\n", name, static_cast<unsigned long>(entry.first), entry.second);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "convert") != 0 && std::strcmp(argv[1], "index") != 0)) {
        Usage();
        return 2;
    }
    bool convert = std::strcmp(argv[1], "convert") == 0;
    const char* path = argv[2];

    std::vector<char> data;
    if (!ReadWholeFile(path, data))
        return 1;
    DWORD size = static_cast<DWORD>(data.size());
    if (size < minListingSize) {
        std::fprintf(stderr, "listing-tool: [ %s ] has %lu bytes, too short for a listing (at least %lu); left unchanged\n",
                     path, static_cast<unsigned long>(size), static_cast<unsigned long>(minListingSize));
        return 1;
    }
    // Converting twice, or walking raw text as records, would damage the file.
    if (convert && IsConvertedListing(data.data(), size)) {
        std::fprintf(stderr, "listing-tool: [ %s ] is converted already; left unchanged\n", path);
        return 1;
    }
    if (!convert && !IsConvertedListing(data.data(), size)) {
        std::fprintf(stderr, "listing-tool: [ %s ] is not a converted listing; left unchanged\n", path);
        return 1;
    }

    std::vector<char> original(data);
    CPointMaps maps;
    int nCorrupt = 0;
    if (convert)
        ConvertListing(data.data(), size, maps);
    else
        IndexListing(data.data(), size, maps, &nCorrupt);
    if (data != original && !WriteWholeFile(path, data))
        return 1;

#ifdef _WIN32
    // The same bytes as the native build: no CR before each LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    PrintMap("CallPtr", maps.m_mapCallPtr, data.data());
    PrintMap("Call", maps.m_mapCall, data.data());
    PrintMap("JmpPtr", maps.m_mapJmpPtr, data.data());
    PrintMap("Jmp", maps.m_mapJmp, data.data());
    PrintMap("StrData", maps.m_mapStrData, data.data());
    PrintMap("All", maps.m_mapAll, data.data());
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "listing-tool: writing the maps failed\n");
        return 1;
    }
    if (nCorrupt) {
        std::fprintf(stderr, "listing-tool: [ %s ] holds %d damaged records; they were skipped\n", path, nCorrupt);
        return 1;
    }
    return 0;
}
