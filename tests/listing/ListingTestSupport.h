// Listing text builders and checks shared by the listing tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "listing/ListingRecord.h"

// A code line: ":" address (columns 1-8), a blank, the code field (columns 10-33), the text from column 34.
inline std::string CodeLine(const std::string& addr, const std::string& code, const std::string& text)
{
    std::string line = ":" + addr + " " + code;
    line.resize(34, ' ');
    return line + text;
}

// A string-data reference line: "Stri" at columns 23-26 and the text from column 34.
inline std::string StrLine(const std::string& text, const std::string& cols1to8 = "        ")
{
    std::string line = " " + cols1to8;
    line.resize(23, ' ');
    line += "StringRef: ";
    return line + text;
}

// The raw file: an empty first line (its CR LF become the mark and the first
// record's len byte), then the lines, each ending in CR LF unless told otherwise.
inline std::string Listing(const std::vector<std::string>& lines, bool finalCrLf = true)
{
    std::string text = "\r\n";
    for (size_t i = 0; i < lines.size(); ++i) {
        text += lines[i];
        if (i + 1 < lines.size() || finalCrLf)
            text += "\r\n";
    }
    return text;
}

// Exactly the file's bytes on the heap and not one more, so that the sanitizer
// reports any access past the end.
class ExactBuffer {
public:
    explicit ExactBuffer(const std::string& bytes) : m_size(bytes.size()), m_data(new char[bytes.size() ? bytes.size() : 1])
    {
        if (m_size)
            std::memcpy(m_data.get(), bytes.data(), m_size);
    }
    char* data() { return m_data.get(); }
    DWORD size() const { return static_cast<DWORD>(m_size); }
    std::string str() const { return std::string(m_data.get(), m_size); }

private:
    size_t m_size;
    std::unique_ptr<char[]> m_data;
};

inline const ListingRecord* RecordAt(const char* view, size_t offset)
{
    return reinterpret_cast<const ListingRecord*>(view + offset);
}

// Offsets of the records of a converted file, walked by their len bytes.
inline std::vector<size_t> RecordOffsets(const char* view, DWORD size)
{
    std::vector<size_t> offsets;
    for (size_t at = 1; at < size; at += static_cast<unsigned char>(view[at]) + 1)
        offsets.push_back(at);
    return offsets;
}

inline std::string RecordText(const char* view, size_t offset)
{
    const ListingRecord* rec = RecordAt(view, offset);
    return std::string(view + offset + 35, rec->len - 35);
}

// (address, record offset) of every association, by address.
typedef std::vector<std::pair<DWORD, long>> MapSnapshot;

inline MapSnapshot Snapshot(CMapPtrToPtr& map, const char* view)
{
    MapSnapshot entries;
    for (POSITION pos = map.GetStartPosition(); pos;) {
        void* key;
        void* value;
        map.GetNextAssoc(pos, key, value);
        entries.emplace_back(static_cast<DWORD>(reinterpret_cast<uintptr_t>(key)),
                             static_cast<long>(static_cast<const char*>(value) - view));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

inline std::vector<MapSnapshot> SnapshotAll(CPointMaps& maps, const char* view)
{
    std::vector<MapSnapshot> all;
    for (int index = 0; index < 5; ++index)
        all.push_back(Snapshot(maps.KindMap(index), view));
    all.push_back(Snapshot(maps.m_mapAll, view));
    return all;
}

// Every entry points at a record inside the view whose fields fit, whose addr is
// the key and whose kind is the map's; m_mapAll holds exactly the kind maps'
// addresses, each with a record that its kind map holds too.
inline void ExpectMapsSound(CPointMaps& maps, const char* view, DWORD size)
{
    const char kinds[5] = {'C', 'c', 'J', 'j', 's'};
    MapSnapshot unionOfKinds;
    for (int index = 0; index < 5; ++index) {
        for (const auto& entry : Snapshot(maps.KindMap(index), view)) {
            ASSERT_GE(entry.second, 1);
            ASSERT_LE(static_cast<unsigned long>(entry.second) + 35, size);
            const ListingRecord* rec = RecordAt(view, static_cast<size_t>(entry.second));
            ASSERT_LT(static_cast<unsigned long>(entry.second) + rec->len, size);
            EXPECT_EQ(+rec->addr, entry.first);
            EXPECT_EQ(rec->kind, static_cast<BYTE>(kinds[index]));
            unionOfKinds.emplace_back(entry.first, 0);
        }
    }
    std::sort(unionOfKinds.begin(), unionOfKinds.end());
    unionOfKinds.erase(std::unique(unionOfKinds.begin(), unionOfKinds.end()), unionOfKinds.end());
    MapSnapshot all = Snapshot(maps.m_mapAll, view);
    ASSERT_EQ(all.size(), unionOfKinds.size());
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].first, unionOfKinds[i].first);
        const ListingRecord* rec = RecordAt(view, static_cast<size_t>(all[i].second));
        int index = KindIndex(rec->kind);
        ASSERT_GE(index, 0);
        void* value = nullptr;
        ASSERT_TRUE(maps.KindMap(index).Lookup(reinterpret_cast<void*>(static_cast<uintptr_t>(all[i].first)), value));
        EXPECT_EQ(value, rec);
    }
}
