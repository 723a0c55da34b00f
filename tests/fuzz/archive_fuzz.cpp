// Any bytes as a hit archive, read through a file as the window reads one,
// against a converted listing: restored, then replayed. Whatever the file
// holds, only the counts and the saved byte of the listing's point records
// may change; every other byte of the listing stays as converted.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/HitArchive.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// Six points in m_mapAll (a string that shares a call's address replaces it there).
std::string ListingText()
{
    const char* const lines[][2] = {
        {":00401000 E8FB000000", "call 00401100"}, {":00401005 6800304000", "push 00403000"},
        {"", "\"hello\""}, {":0040100A FF2504204000", "jmp dword ptr [00402004]"},
        {":00401010 7502", "jne 00401014"}, {":00401012 FF1504204000", "call dword ptr [00402004]"},
        {":00401018 E8E3000000", "call 00401100"}, {"", "\"shared\""},
    };
    std::string text = "\r\n";
    for (const auto& line : lines) {
        // Columns 0 to 33, the string-data mark at column 23, the text from column 34.
        std::string columns = *line[0] ? line[0] : std::string(23, ' ') + "StringRef: ";
        text += columns + std::string(34 - columns.size(), ' ') + line[1] + "\r\n";
    }
    return text;
}

struct Listing {
    std::vector<char> view, original;
    CPointMaps maps;
    std::vector<bool> countByte; // the bytes a restore or replay may write

    explicit Listing(const std::string& text) : view(text.begin(), text.end())
    {
        ConvertListing(view.data(), static_cast<DWORD>(view.size()), maps);
        Require(maps.m_mapAll.GetCount() == 6);
        original = view;
        countByte.assign(view.size(), false);
        for (POSITION pos = maps.m_mapAll.GetStartPosition(); pos != NULL;) {
            void *key, *value;
            maps.m_mapAll.GetNextAssoc(pos, key, value);
            size_t at = static_cast<size_t>(static_cast<char*>(value) - view.data());
            for (size_t i = at + 15; i < at + 32; ++i)
                countByte[i] = true;
        }
    }
    bool IsPoint(const ListingRecord* record) const
    {
        void* found = nullptr;
        return maps.m_mapAll.Lookup(reinterpret_cast<void*>(static_cast<uintptr_t>(record->addr)), found)
               && found == record;
    }
    void CheckOnlyCountsChanged() const
    {
        for (size_t i = 0; i < view.size(); ++i)
            Require(countByte[i] || view[i] == original[i]);
    }
};

// Where each input is written, to be read through CFile (in memory where
// the system offers a folder there); gone at exit.
struct ScratchFile {
    static std::filesystem::path Folder()
    {
        std::error_code error;
        return std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : std::filesystem::temp_directory_path();
    }
    std::string path = (Folder() / ("archive_fuzz." + std::to_string(::getpid()))).string();
    ~ScratchFile() { std::remove(path.c_str()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Listing listing(ListingText());
    static const ScratchFile scratch;
    const std::string& path = scratch.path;
    FILE* out = std::fopen(path.c_str(), "wb");
    Require(out != nullptr && std::fwrite(data, 1, size, out) == size && std::fclose(out) == 0);

    for (int replay = 0; replay < 2; ++replay) {
        std::memcpy(listing.view.data(), listing.original.data(), listing.view.size());
        CFile file;
        Require(file.Open(path.c_str(), CFile::modeRead));
        CArchive ar(&file, CArchive::load);
        int nSkipped = 0;
        try {
            ReadArchiveSignature(ar);
            HitArchiveHeader header;
            ReadArchiveHeader(ar, header);
            char* view = listing.view.data();
            DWORD viewSize = static_cast<DWORD>(listing.view.size());
            if (replay)
                nSkipped = ReplayArchiveEntries(ar, view, viewSize, listing.maps.m_mapAll,
                                                [&](ListingRecord* record) { Require(listing.IsPoint(record)); });
            else
                nSkipped = RestoreArchiveEntries(ar, view, viewSize, listing.maps.m_mapAll);
        } catch (const CArchiveException& e) {
            Require(e.m_cause == CArchiveException::endOfFile);
        }
        // An entry takes 16 bytes, so there are never more skipped entries than that.
        Require(nSkipped >= 0 && static_cast<size_t>(nSkipped) <= size / 16);
        listing.CheckOnlyCountsChanged();
    }
    return 0;
}
