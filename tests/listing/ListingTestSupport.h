// The listing tests' conversion check, over the shared builders.
#pragma once

#include <gtest/gtest.h>

#include "tests/listing/ListingText.h"

// A raw listing converted in a buffer of its exact size, checked for what every
// conversion leaves: sound maps, and each record carrying its fields (row -1) and
// mark, or cleared after len.
struct Converted {
    explicit Converted(const std::string& raw) : view(ToBytes(raw))
    {
        nPoints = ConvertListing(view.data(), static_cast<DWORD>(view.size()), maps);
        EXPECT_EQ(MapsFault(maps, view), "");
        for (long at = 1; at < static_cast<long>(view.size()); at += BYTE(view[at]) + 1) { // len, then its zero
            offsets.push_back(at);
            const ListingRecord* rec = Record(offsets.size() - 1);
            layout += (at > 1 ? " " : "") + std::to_string(rec->len) + (rec->len && rec->kind ? std::string(1, rec->kind) : "");
            bool fields = rec->len >= 35 && std::memcmp(rec->mark, "Ok\n", 3) == 0 && rec->row == -1;
            DWORD base;
            bool baseLine = rec->len > 0 && rec->kind == 0 && ListingBaseLine(&view[at] + 1, rec->len - 1u, base);
            EXPECT_TRUE(fields || baseLine || std::all_of(&view[at] + 1, &view[at] + 1 + rec->len, [](char ch) { return ch == 0; })) << at;
        }
    }
    const ListingRecord* Record(size_t index) const { return reinterpret_cast<const ListingRecord*>(&view[offsets.at(index)]); }
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
