// Re-index of a listing converted earlier: the records are walked by their len
// bytes only, and nothing outside a record that passes the checks is touched,
// since the file on disk may have been damaged or replaced. A point's text is
// read up to its zero by the list, its sort and the tools: one whose zero is
// missing would lead them past the record, and past the view at its end.
#include <cstring>

#include "listing/ListingRecord.h"
#include "listing/PointBatch.h"

int IndexListing(char* view, DWORD size, CPointMaps& maps, int* pnCorrupt)
{
    int nPoints = 0;
    int nCorrupt = 0;
    if (pnCorrupt)
        *pnCorrupt = 0;
    if (!view)
        return 0;
    BYTE* const base = reinterpret_cast<BYTE*>(view);
    BYTE* const end = base + size;
    CPointBatch batch(maps);
    maps.m_dwListingBase = 0;
    bool baseFound = false;
    for (BYTE* rec = base + 1; rec < end;) {
        DWORD len = rec[0];
        if (end - rec <= static_cast<ptrdiff_t>(len)) {
            // Its zero would lie past the file: nothing after it can be trusted.
            ++nCorrupt;
            break;
        }
        BYTE* next = rec + len + 1;
        // An empty record (the last byte of a converted file) has no kind byte.
        if (len == 0 || rec[1] == kindNone) {
            DWORD listedBase;
            if (!baseFound && len > 0 && ListingBaseLine(reinterpret_cast<const char*>(rec + 1), len - 1, listedBase)) {
                maps.m_dwListingBase = listedBase;
                baseFound = true;
            }
            rec = next;
            continue;
        }
        if (len < listingFieldsLen || std::memcmp(rec + 32, "Ok\n", 3) != 0 || rec[len] != 0) {
            ++nCorrupt;
            rec = next;
            continue;
        }
        ListingRecord* pRecord = reinterpret_cast<ListingRecord*>(rec);
        pRecord->savedByte = 0;
        pRecord->row = -1;
        if (KindIndex(pRecord->kind) >= 0) {
            batch.Add(pRecord);
            ++nPoints;
        } else {
            ++nCorrupt;
        }
        rec = next;
    }
    batch.Flush();
    if (pnCorrupt)
        *pnCorrupt = nCorrupt;
    return nPoints;
}
