// Listing text builders and the soundness of the point maps, shared by the
// listing and archive tests and the fuzz targets (so without GoogleTest).
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "listing/ListingRecord.h"

// A code line: ":" address, the code field from column 10, the text from column 34.
inline std::string CodeLine(const std::string& addr, const std::string& code, const std::string& text)
{
    return (":" + addr + " " + code + std::string(34, ' ')).substr(0, 34) + text;
}

// A string-data line: "Stri" at columns 23-26; cols holds columns 1 on.
inline std::string StrLine(const std::string& text, const std::string& cols = "")
{
    return (" " + cols + std::string(23, ' ')).substr(0, 23) + "StringRef: " + text;
}

// An empty first line (its CR LF become the mark and the first len byte), then the lines.
inline std::string Listing(const std::vector<std::string>& lines, bool finalCrLf = true)
{
    std::string text = "\r\n";
    for (const std::string& line : lines)
        text += line + "\r\n";
    return finalCrLf ? text : text.substr(0, text.size() - 2);
}

// A vector holds exactly the file's bytes, so the sanitizer reports any access past the end.
typedef std::vector<char> Bytes;
inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline void* Key(DWORD addr) { return reinterpret_cast<void*>(static_cast<uintptr_t>(addr)); }

// Four points, as archives name them: a call, a string after a push, a jump
// through a pointer, and a string that takes the address of a call (m_mapAll
// keeps the string).
inline Bytes PointListing()
{
    return ToBytes(Listing({CodeLine("00401000", "E8FB000000", "call 00401100"),
                            CodeLine("00401005", "6800304000", "push 00403000"), StrLine("\"hello\""),
                            CodeLine("0040100A", "FF2504204000", "jmp dword ptr [00402004]"),
                            CodeLine("00401010", "E8EB000000", "call 00401100"), StrLine("\"shared\"")}));
}

// The fuzz targets' check: a broken rule ends the run where the fuzzer reports it.
inline void Require(bool condition)
{
    if (!condition)
        std::abort();
}

// (address, record offset) of every association, by address: the five kind maps, then m_mapAll.
typedef std::vector<std::vector<std::pair<DWORD, long>>> Snapshot;
inline Snapshot SnapshotOf(CPointMaps& maps, const Bytes& view)
{
    Snapshot all(6);
    void *key, *value;
    for (int index = 0; index < 6; ++index) {
        CMapPtrToPtr& map = index < 5 ? maps.KindMap(index) : maps.m_mapAll;
        for (POSITION pos = map.GetStartPosition(); pos;) {
            map.GetNextAssoc(pos, key, value);
            all[index].emplace_back(DWORD(reinterpret_cast<uintptr_t>(key)), static_cast<const char*>(value) - view.data());
        }
        std::sort(all[index].begin(), all[index].end());
    }
    return all;
}

// The listing as converted, with the counts and saved byte of each point record
// of m_mapAll as `view` holds them: all that reading an archive may change.
inline Bytes WithCountsOf(const Bytes& converted, const Bytes& view, CPointMaps& maps)
{
    Bytes expected = converted;
    const Snapshot all = SnapshotOf(maps, view);
    for (const auto& [addr, at] : all[5])
        std::copy_n(view.begin() + at + 15, 17, expected.begin() + at + 15);
    return expected;
}

// "" when every entry is a record inside the view whose fields and text (to
// its zero) fit, whose addr is the key and whose kind is its map's, and
// m_mapAll and the kind maps hold the same addresses, m_mapAll each with the
// record its kind map holds; else the first entry that is not.
inline std::string MapsFault(CPointMaps& maps, const Bytes& view)
{
    const long size = long(view.size());
    const Snapshot all = SnapshotOf(maps, view);
    for (int index = 0; index < 6; ++index)
        for (const auto& [addr, at] : all[index]) {
            const std::string entry = "map " + std::to_string(index) + ", record at " + std::to_string(at);
            if (at < 1 || at + 35 > size)
                return entry + ": outside the file";
            const ListingRecord* rec = reinterpret_cast<const ListingRecord*>(&view[at]);
            if (rec->len < 35 || at + rec->len >= size || !std::memchr(rec->text, 0, rec->len - 34u))
                return entry + ": its text runs past it";
            // The kind by its letter: the maps' own order is what is checked.
            const int kind = KindIndex(rec->kind);
            if (rec->addr != addr || kind < 0 || (index < 5 && rec->kind != BYTE("CcJjs"[index])))
                return entry + ": another address or kind";
            void* value = nullptr;
            CMapPtrToPtr& other = index < 5 ? maps.m_mapAll : maps.KindMap(kind);
            if (!other.Lookup(Key(addr), value) || (index == 5 && value != rec))
                return entry + ": not in the other maps";
        }
    return "";
}
