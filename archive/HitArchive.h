// Hit archives: the outcome of one trace of one target. After the signature
// come the target's name and folder, the archive's own name and the kind
// selection, then the entry count and one entry per point: the byte offset of
// the point's record in the converted listing, then its num, hits and comp.
// An offset means something only against the listing it was taken from.
#pragma once

#include <functional>

#include "framework/CArchive.h"
#include "listing/ListingRecord.h"

extern const char archiveSignature[]; // "Archive,ver001"

// The fields between the signature and the entry count.
struct HitArchiveHeader {
    CString strTargetName;  // lower case, no folder
    CString strTargetDir;   // no trailing backslash
    CString strArchiveName; // no folder
    LONG kinds[6];          // Call Ptr, Call, Jmp Ptr, Jmp, Str Data, single step
};

// TRUE when the next string is the signature, exactly.
BOOL ReadArchiveSignature(CArchive& ar);
void ReadArchiveHeader(CArchive& ar, HitArchiveHeader& header);
// The signature and the header.
void StoreArchiveHeader(CArchive& ar, const HitArchiveHeader& header);
// The entry count and one entry per association of mapAll, in the map's order.
void StoreArchiveEntries(CArchive& ar, const CMapPtrToPtr& mapAll, const char* view);

// The point record an entry's offset names: inside the view, at the start of
// the record that mapAll holds for the address written there. NULL for any
// other offset (a damaged archive, or one of another listing).
ListingRecord* ArchivePointRecord(char* view, DWORD size, const CMapPtrToPtr& mapAll, LONG offset);

// Both read the entry count and the entries and return how many entries named
// no point record; those change nothing. A count below zero reads no entry.
//
// Restore: each record takes the stored num, hits and comp, and a saved byte
// when num is not 0, so that the hit list shows its counts.
int RestoreArchiveEntries(CArchive& ar, char* view, DWORD size, const CMapPtrToPtr& mapAll);
// Replay, in file order, as if the archived run happened now: an entry whose
// stored num or whose record's own num is not 0 sets the record's num and
// hits and lowers its comp by the stored hits; `replayed` then gets the record,
// and ends the replay there by returning false. The stored comp is not used.
int ReplayArchiveEntries(CArchive& ar, char* view, DWORD size, const CMapPtrToPtr& mapAll,
                         const std::function<bool(ListingRecord*)>& replayed);

// The counts a run compared with an archive starts from, as "Run Archive" and
// then "Run File" leave them for every point: Comp the archived hits (0 where
// the archive has none), Num and Hits 0. Reads the entry count and the
// entries; returns how many entries named no point record.
int TakeArchiveBaseline(CArchive& ar, char* view, DWORD size, CPointMaps& maps);
