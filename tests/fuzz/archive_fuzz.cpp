// Any bytes as a hit archive, read through a file as the window reads one,
// against a converted listing: restored, then replayed. Whatever the file
// holds, only the counts and the saved byte of the listing's point records
// may change; every other byte of the listing stays as converted.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "archive/HitArchive.h"
#include "tests/listing/ListingText.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// Six points in m_mapAll (a string that shares a call's address replaces it there).
Bytes ListingText()
{
    return ToBytes(Listing({CodeLine("00401000", "E8FB000000", "call 00401100"), CodeLine("00401005", "6800304000", "push 00403000"),
                            StrLine("\"hello\""), CodeLine("0040100A", "FF2504204000", "jmp dword ptr [00402004]"),
                            CodeLine("00401010", "7502", "jne 00401014"), CodeLine("00401012", "FF1504204000", "call dword ptr [00402004]"),
                            CodeLine("00401018", "E8E3000000", "call 00401100"), StrLine("\"shared\"")}));
}

// Where each input is written, to be read through CFile (in memory where the
// system offers a folder there); gone at exit.
struct ScratchFile {
    std::string path = ((std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                    : std::filesystem::temp_directory_path()) /
                        ("archive_fuzz." + std::to_string(::getpid()))).string();
    ~ScratchFile() { std::remove(path.c_str()); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ScratchFile scratch;
    static Bytes view = ListingText(), original;
    static CPointMaps maps;
    static std::vector<bool> countByte(view.size()); // the bytes a restore or replay may write
    if (original.empty()) {
        ConvertListing(view.data(), static_cast<DWORD>(view.size()), maps);
        Require(maps.m_mapAll.GetCount() == 6);
        original = view;
        void *key, *value;
        for (POSITION pos = maps.m_mapAll.GetStartPosition(); pos != NULL;) {
            maps.m_mapAll.GetNextAssoc(pos, key, value);
            size_t at = static_cast<size_t>(static_cast<char*>(value) - view.data());
            for (size_t i = at + 15; i < at + 32; ++i)
                countByte[i] = true;
        }
    }
    FILE* out = std::fopen(scratch.path.c_str(), "wb");
    Require(out != nullptr && std::fwrite(data, 1, size, out) == size && std::fclose(out) == 0);

    for (int replay = 0; replay < 2; ++replay) {
        std::copy(original.begin(), original.end(), view.begin()); // in place: the maps point into it
        CFile file;
        Require(file.Open(scratch.path.c_str(), CFile::modeRead));
        CArchive ar(&file, CArchive::load);
        int nSkipped = 0;
        try {
            ReadArchiveSignature(ar);
            HitArchiveHeader header;
            ReadArchiveHeader(ar, header);
            DWORD viewSize = static_cast<DWORD>(view.size());
            if (replay)
                nSkipped = ReplayArchiveEntries(ar, view.data(), viewSize, maps.m_mapAll, [&](ListingRecord* record) {
                    void* found = nullptr; // the replayed record is a point of the listing
                    Require(maps.m_mapAll.Lookup(reinterpret_cast<void*>(uintptr_t(record->addr)), found)
                            && found == record);
                    return true;
                });
            else
                nSkipped = RestoreArchiveEntries(ar, view.data(), viewSize, maps.m_mapAll);
        } catch (const CArchiveException& e) {
            Require(e.m_cause == CArchiveException::endOfFile);
        }
        // An entry takes 16 bytes, so there are never more skipped entries than that.
        Require(nSkipped >= 0 && static_cast<size_t>(nSkipped) <= size / 16);
        for (size_t i = 0; i < view.size(); ++i)
            Require(countByte[i] || view[i] == original[i]);
    }
    return 0;
}
