// Any bytes as a hit archive, read through a file as the window reads one,
// against a converted listing: restored, then replayed. Whatever the file
// holds, only the counts and the saved byte of the listing's point records
// may change; every other byte of the listing stays as converted.
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "tests/archive/ArchiveFile.h"
#include "tests/listing/ListingText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // In memory where the system offers a folder there (a chroot may not).
    namespace fs = std::filesystem;
    static const fs::path folder = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    static const std::string path = (folder / ("archive_fuzz." + std::to_string(::getpid()))).string();
    static Bytes view = PointListing(), original;
    static CPointMaps maps;
    if (original.empty()) {
        ConvertListing(view.data(), static_cast<DWORD>(view.size()), maps);
        original = view;
    }
    for (int replay = 0; replay < 2; ++replay) {
        std::copy(original.begin(), original.end(), view.begin()); // in place: the maps point into it
        int nSkipped = LoadArchive(path, std::string(data, data + size), [&](CArchive& ar) {
            HitArchiveHeader header;
            ReadArchiveSignature(ar);
            ReadArchiveHeader(ar, header);
            DWORD viewSize = static_cast<DWORD>(view.size());
            if (!replay)
                return RestoreArchiveEntries(ar, view.data(), viewSize, maps.m_mapAll);
            return ReplayArchiveEntries(ar, view.data(), viewSize, maps.m_mapAll, [&](ListingRecord* record) {
                void* found = nullptr; // the replayed record is a point of the listing
                Require(maps.m_mapAll.Lookup(Key(record->addr), found) && found == record);
                return true;
            });
        });
        // An entry takes 16 bytes, so there are never more skipped entries than that.
        Require(nSkipped >= -1 && nSkipped <= static_cast<int>(size / 16));
        Require(view == WithCountsOf(original, view, maps));
    }
    std::remove(path.c_str());
    return 0;
}
