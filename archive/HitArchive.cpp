#include "archive/HitArchive.h"

#include <cstdint>

const char archiveSignature[] = "Archive,ver001";

BOOL ReadArchiveSignature(CArchive& ar)
{
    CString signature;
    ar >> signature;
    return signature == archiveSignature;
}

void ReadArchiveHeader(CArchive& ar, HitArchiveHeader& header)
{
    ar >> header.strTargetName >> header.strTargetDir >> header.strArchiveName;
    for (LONG& kind : header.kinds)
        ar >> kind;
}

void StoreArchiveHeader(CArchive& ar, const HitArchiveHeader& header)
{
    ar << CString(archiveSignature) << header.strTargetName << header.strTargetDir << header.strArchiveName;
    for (LONG kind : header.kinds)
        ar << kind;
}

void StoreArchiveEntries(CArchive& ar, const CMapPtrToPtr& mapAll, const char* view)
{
    ar << static_cast<LONG>(mapAll.GetCount());
    for (POSITION pos = mapAll.GetStartPosition(); pos != NULL;) {
        void* address;
        void* value;
        mapAll.GetNextAssoc(pos, address, value);
        const ListingRecord* record = static_cast<const ListingRecord*>(value);
        ar << static_cast<LONG>(reinterpret_cast<const char*>(record) - view) << record->num << record->hits
           << record->comp;
    }
}

ListingRecord* ArchivePointRecord(char* view, DWORD size, const CMapPtrToPtr& mapAll, LONG offset)
{
    // Byte 0 is the conversion's mark; a point record holds at least its fixed fields.
    if (view == NULL || offset < 1 || static_cast<DWORD>(offset) >= size
        || size - static_cast<DWORD>(offset) <= listingFieldsLen)
        return NULL;
    ListingRecord* record = reinterpret_cast<ListingRecord*>(view + offset);
    void* found = NULL;
    if (!mapAll.Lookup(reinterpret_cast<void*>(static_cast<uintptr_t>(record->addr)), found) || found != record)
        return NULL;
    return record;
}

// The rest of an entry that names no record, or that is not replayed.
static void SkipCounts(CArchive& ar, int nCounts)
{
    LONG ignored;
    for (int i = 0; i < nCounts; ++i)
        ar >> ignored;
}

int RestoreArchiveEntries(CArchive& ar, char* view, DWORD size, const CMapPtrToPtr& mapAll)
{
    LONG nEntries;
    ar >> nEntries;
    int nSkipped = 0;
    for (LONG i = 0; i < nEntries; ++i) {
        LONG offset;
        LONG num;
        ar >> offset >> num;
        ListingRecord* record = ArchivePointRecord(view, size, mapAll, offset);
        if (record == NULL) {
            SkipCounts(ar, 2);
            ++nSkipped;
            continue;
        }
        record->num = num;
        if (num != 0)
            record->savedByte = 0x90;
        LONG count;
        ar >> count;
        record->hits = count;
        ar >> count;
        record->comp = count;
    }
    return nSkipped;
}

int ReplayArchiveEntries(CArchive& ar, char* view, DWORD size, const CMapPtrToPtr& mapAll,
                         const std::function<bool(ListingRecord*)>& replayed)
{
    LONG nEntries;
    ar >> nEntries;
    int nSkipped = 0;
    for (LONG i = 0; i < nEntries; ++i) {
        LONG offset;
        LONG num;
        ar >> offset >> num;
        ListingRecord* record = ArchivePointRecord(view, size, mapAll, offset);
        if (record == NULL || (num == 0 && record->num == 0)) {
            SkipCounts(ar, 2);
            nSkipped += record == NULL;
            continue;
        }
        record->num = num;
        LONG hits;
        ar >> hits;
        record->hits = hits;
        // Wraps as the counts' 32 bits do, rather than overflowing.
        record->comp = static_cast<LONG>(static_cast<DWORD>(record->comp) - static_cast<DWORD>(hits));
        SkipCounts(ar, 1);
        if (!replayed(record))
            break;
    }
    return nSkipped;
}

int TakeArchiveBaseline(CArchive& ar, char* view, DWORD size, CPointMaps& maps)
{
    maps.ResetCounts(FALSE);
    int nSkipped = ReplayArchiveEntries(ar, view, size, maps.m_mapAll, [](ListingRecord*) { return true; });
    maps.ResetCounts(TRUE);
    return nSkipped;
}
