// Hit archives read outside the window, with the tracer's own reader, against
// the converted listing an archive names, and exported as CSV or drcov
// coverage: archive-tool's exports, and korvane-trace's of the archive it has
// just written, come from here and are the same bytes.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "archive/HitArchive.h"
#include "framework/CFile.h"

// Input that cannot be used; its message says which and why.
struct ArchiveInputError {
    std::string message;
};
[[noreturn]] void FailInput(const std::string& message);

// A path as messages show it: "[ path ]".
std::string Quoted(const std::string& path);
// `what` names the file in the messages ("listing", "archive").
std::vector<char> ReadWholeFile(const std::string& path, const char* what);
// "Call Ptr", "Call", "Jmp Ptr", "Jmp" or "Str Data".
const char* KindName(BYTE kind);

// One point of the listing, with the counts an archive gave it.
struct ArchivePoint {
    ListingRecord* record;
    LONG num, hits, comp;
};

// The converted listing in memory (never written back), its points by address,
// and, for a fresh listing converted here, its text with the code bytes.
class ArchiveListing {
public:
    explicit ArchiveListing(const std::string& path);
    // The archive's counts in every point; the archive is read up to its
    // entries. Returns how many entries named no point record.
    int Restore(CArchive& ar, const std::string& archivePath);
    // The code length of the instruction at each address: from the code bytes of
    // a fresh listing, else the distance to the next instruction (1 to 15 bytes;
    // 1 where data or the end follows).
    std::vector<std::pair<DWORD, WORD>> CodeLengths() const;
    // The image base a fresh listing states, else the 64 KB boundary below its code.
    DWORD ImageBase(const std::vector<std::pair<DWORD, WORD>>& lengths) const;

    const std::string m_path;
    std::vector<ArchivePoint> m_points; // by address

private:
    std::vector<char> m_view, m_raw;
    CPointMaps m_maps;
};

// An archive opened and read up to its entries.
struct ArchiveFile {
    explicit ArchiveFile(const std::string& p);
    // The listing beside the archive that the tracer would open for its target.
    std::string ListingPath() const;

    std::string path;
    CFile file;
    CArchive ar{&file, CArchive::load};
    HitArchiveHeader header;
};

// One row per point of the listing, CR LF line ends.
void ExportCsv(const ArchiveListing& listing, FILE* out);
// drcov version 2: a text header with one module (`module` its path), then one
// 8-byte block per hit point.
void ExportDrcov(const ArchiveListing& listing, const std::string& module, FILE* out);
