// Any bytes as a fresh listing: converted, then walked again as the converted
// file it now is; and the same bytes walked as if they had been converted
// before. Every map entry must point at a record inside the buffer that carries
// the entry's address and whose text ends in its zero within the record, and
// the conversion and the re-index must agree, the re-index changing no byte.
#include <cstdint>

#include "tests/listing/ListingText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 20))
        return 0;
    // Exact-size copies: the sanitizer sees any byte touched past the end.
    Bytes listing(data, data + size), raw = listing;
    CPointMaps maps;
    int nConverted = ConvertListing(listing.data(), static_cast<DWORD>(size), maps);
    Require(MapsFault(maps, listing).empty());
    const Snapshot converted = SnapshotOf(maps, listing);
    Require(IsConvertedListing(listing.data(), static_cast<DWORD>(size)));

    const DWORD convertedBase = maps.m_dwListingBase;
    const Bytes before = listing; // walked again, it keeps every byte
    maps.RemoveAllPoints();
    int nCorrupt = -1;
    int nIndexed = IndexListing(listing.data(), static_cast<DWORD>(size), maps, &nCorrupt);
    Require(nCorrupt == 0 && nIndexed == nConverted && maps.m_dwListingBase == convertedBase);
    Require(MapsFault(maps, listing).empty() && SnapshotOf(maps, listing) == converted && listing == before);

    maps.RemoveAllPoints();
    IndexListing(raw.data(), static_cast<DWORD>(size), maps, &nCorrupt);
    Require(MapsFault(maps, raw).empty());
    return 0;
}
