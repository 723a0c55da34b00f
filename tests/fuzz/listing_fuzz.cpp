// Any bytes as a fresh listing: converted, then walked again as the converted
// file it now is; and the same bytes walked as if they had been converted
// before. Every map entry must point at a record inside the buffer that carries
// the entry's address and whose text ends in its zero within the record, and
// the conversion and the re-index must agree.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "listing/ListingRecord.h"

namespace {

typedef std::vector<std::pair<uintptr_t, const void*>> Entries;

Entries Sorted(const CMapPtrToPtr& map)
{
    Entries entries;
    for (POSITION pos = map.GetStartPosition(); pos;) {
        void* key;
        void* value;
        map.GetNextAssoc(pos, key, value);
        entries.emplace_back(reinterpret_cast<uintptr_t>(key), value);
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

std::vector<Entries> CheckMaps(CPointMaps& maps, const char* view, size_t size)
{
    const BYTE kinds[5] = {'C', 'c', 'J', 'j', 's'};
    std::vector<Entries> all;
    std::vector<uintptr_t> kindKeys;
    for (int index = 0; index < 5; ++index) {
        all.push_back(Sorted(maps.KindMap(index)));
        for (const auto& entry : all.back()) {
            const char* rec = static_cast<const char*>(entry.second);
            Require(rec > view && rec + 35 <= view + size);
            const ListingRecord* record = reinterpret_cast<const ListingRecord*>(rec);
            Require(record->len >= 35 && rec + record->len < view + size);
            Require(std::memchr(record->text, 0, record->len - 35 + 1) != nullptr);
            Require(record->kind == kinds[index]);
            Require(record->addr == entry.first);
            kindKeys.push_back(entry.first);
        }
    }
    std::sort(kindKeys.begin(), kindKeys.end());
    kindKeys.erase(std::unique(kindKeys.begin(), kindKeys.end()), kindKeys.end());
    all.push_back(Sorted(maps.m_mapAll));
    Require(all.back().size() == kindKeys.size());
    for (size_t i = 0; i < kindKeys.size(); ++i) {
        const auto& entry = all.back()[i];
        Require(entry.first == kindKeys[i]);
        const ListingRecord* record = static_cast<const ListingRecord*>(entry.second);
        int index = KindIndex(record->kind);
        Require(index >= 0);
        void* value = nullptr;
        Require(maps.KindMap(index).Lookup(reinterpret_cast<void*>(entry.first), value) && value == entry.second);
    }
    return all;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 20))
        return 0;
    // Exact-size copies: the sanitizer sees any byte touched past the end.
    std::unique_ptr<char[]> listing(new char[size]);
    std::memcpy(listing.get(), data, size);
    CPointMaps maps;
    int nConverted = ConvertListing(listing.get(), static_cast<DWORD>(size), maps);
    std::vector<Entries> converted = CheckMaps(maps, listing.get(), size);
    Require(IsConvertedListing(listing.get(), static_cast<DWORD>(size)));

    DWORD convertedBase = maps.m_dwListingBase;
    maps.RemoveAllPoints();
    int nCorrupt = -1;
    int nIndexed = IndexListing(listing.get(), static_cast<DWORD>(size), maps, &nCorrupt);
    Require(nCorrupt == 0 && nIndexed == nConverted && maps.m_dwListingBase == convertedBase);
    Require(CheckMaps(maps, listing.get(), size) == converted);

    std::unique_ptr<char[]> raw(new char[size]);
    std::memcpy(raw.get(), data, size);
    maps.RemoveAllPoints();
    IndexListing(raw.get(), static_cast<DWORD>(size), maps, &nCorrupt);
    CheckMaps(maps, raw.get(), size);
    return 0;
}
