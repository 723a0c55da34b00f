// Listing text builders and checks shared by the listing tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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
inline const ListingRecord* RecordAt(const Bytes& view, long at) { return reinterpret_cast<const ListingRecord*>(&view[at]); }

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
            all[index].emplace_back(static_cast<DWORD>(reinterpret_cast<uintptr_t>(key)),
                                    static_cast<const char*>(value) - view.data());
        }
        std::sort(all[index].begin(), all[index].end());
    }
    return all;
}

// Every entry is a record inside the view whose fields fit, whose addr is the key
// and whose kind is its map's; m_mapAll and the kind maps hold the same addresses,
// m_mapAll each with the record its kind map holds.
inline void ExpectMapsSound(CPointMaps& maps, const Bytes& view)
{
    Snapshot all = SnapshotOf(maps, view);
    for (int index = 0; index < 6; ++index) {
        for (const auto& entry : all[index]) {
            ASSERT_TRUE(entry.second >= 1 && entry.second + 35 <= static_cast<long>(view.size())) << entry.second;
            const ListingRecord* rec = RecordAt(view, entry.second);
            ASSERT_LT(entry.second + rec->len, static_cast<long>(view.size()));
            EXPECT_EQ(+rec->addr, entry.first);
            ASSERT_TRUE(KindIndex(rec->kind) >= 0 && (index == 5 || rec->kind == "CcJjs"[index])) << index;
            CMapPtrToPtr& other = index < 5 ? maps.m_mapAll : maps.KindMap(KindIndex(rec->kind));
            void* value = nullptr;
            EXPECT_TRUE(other.Lookup(Key(entry.first), value) && (index < 5 || value == rec)) << index;
        }
    }
}

// A raw listing converted in a buffer of its exact size, checked for what every
// conversion leaves: sound maps, and each record carrying its fields (row -1) and
// mark, or cleared after len.
struct Converted {
    explicit Converted(const std::string& raw) : view(ToBytes(raw))
    {
        nPoints = ConvertListing(view.data(), static_cast<DWORD>(view.size()), maps);
        ExpectMapsSound(maps, view);
        for (long at = 1; at < static_cast<long>(view.size()); at += RecordAt(view, at)->len + 1) {
            const ListingRecord* rec = RecordAt(view, at);
            offsets.push_back(at);
            layout += (at > 1 ? " " : "") + std::to_string(rec->len) + (rec->len && rec->kind ? std::string(1, rec->kind) : "");
            bool fields = rec->len >= 35 && std::memcmp(rec->mark, "Ok\n", 3) == 0 && rec->row == -1;
            DWORD base;
            bool baseLine = rec->len > 0 && rec->kind == 0 && ListingBaseLine(&view[at] + 1, rec->len - 1u, base);
            EXPECT_TRUE(fields || baseLine || std::all_of(&view[at] + 1, &view[at] + 1 + rec->len, [](char ch) { return ch == 0; })) << at;
        }
    }
    const ListingRecord* Record(size_t index) const { return RecordAt(view, offsets.at(index)); }
    long Entry(CMapPtrToPtr& map, DWORD addr) const // offset of the record entered for addr, or -1
    {
        void* value = nullptr;
        return map.Lookup(Key(addr), value) ? static_cast<const char*>(value) - view.data() : -1;
    }

    Bytes view;
    CPointMaps maps;
    int nPoints = 0;
    std::vector<long> offsets;
    std::string layout; // len and kind of each record, as "35 48c 0"
};
