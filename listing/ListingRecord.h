// The converted listing: one fixed-layout record per listing line, in place in
// the mapped file. The layout is a file format (listings are kept and reused),
// so every offset is pinned below.
#pragma once

#include <cstddef>

#include "framework/CMapPtrToPtr.h"
#include "framework/PlatformTypes.h"

enum PointKind : BYTE {
    kindNone = 0,
    kindCallPtr = 'C', // call through a pointer (code begins with FF)
    kindCall = 'c',
    kindJmpPtr = 'J', // jump through a pointer (code begins with FF)
    kindJmp = 'j',
    kindStrData = 's', // string-data reference, at the address of the instruction before it
};

#pragma pack(push, 1)
struct ListingRecord {
    BYTE len;          // characters of the line text + 1; the terminating zero is at offset len
    BYTE kind;         // a PointKind letter, or 0
    char addrText[9];  // 8 hex digits as listed, zero-terminated
    DWORD addr;        // little-endian, unaligned
    BYTE savedByte;    // code byte replaced by a planted breakpoint; 0 when none
    LONG row;          // hit list row, -1 when not listed
    LONG num;          // run-wide number of the latest hit
    LONG hits;
    LONG comp;
    char mark[3];      // 'O' 'k' '\n'
    char text[1];      // the line from column 34 on, zero-terminated at offset len
};
#pragma pack(pop)

static_assert(offsetof(ListingRecord, len) == 0, "record layout");
static_assert(offsetof(ListingRecord, kind) == 1, "record layout");
static_assert(offsetof(ListingRecord, addrText) == 2, "record layout");
static_assert(offsetof(ListingRecord, addr) == 11, "record layout");
static_assert(offsetof(ListingRecord, savedByte) == 15, "record layout");
static_assert(offsetof(ListingRecord, row) == 16, "record layout");
static_assert(offsetof(ListingRecord, num) == 20, "record layout");
static_assert(offsetof(ListingRecord, hits) == 24, "record layout");
static_assert(offsetof(ListingRecord, comp) == 28, "record layout");
static_assert(offsetof(ListingRecord, mark) == 32, "record layout");
static_assert(offsetof(ListingRecord, text) == 35, "record layout");
static_assert(sizeof(ListingRecord) == 36, "record layout");

// Index of a kind in the check-box order (Call Ptr, Call, Jmp Ptr, Jmp, Str Data), or -1.
int KindIndex(BYTE kind);

// The armed kinds and the six point maps: one member record of the main dialog.
// The maps hold pointers into the mapped listing and own none of them.
struct CPointMaps {
    int m_armedKinds[6] = {0, 0, 0, 0, 0, 0}; // Call Ptr, Call, Jmp Ptr, Jmp, Str Data, single step
    CMapPtrToPtr m_mapCallPtr{10};
    CMapPtrToPtr m_mapCall{10};
    CMapPtrToPtr m_mapJmpPtr{10};
    CMapPtrToPtr m_mapJmp{10};
    CMapPtrToPtr m_mapStrData{10};
    CMapPtrToPtr m_mapAll{10};
    // The image base the listing's addresses are of (its "; Image base" line);
    // 0 for a listing that does not say, which is then taken as the process's.
    DWORD m_dwListingBase = 0;

    // The kind map of check-box index 0..4.
    CMapPtrToPtr& KindMap(int index);
    // Enters a point record into its kind map and into m_mapAll under its addr,
    // replacing what an earlier record of the same address left there.
    // FALSE (nothing entered) when the record's kind is no point kind.
    BOOL EnterPoint(ListingRecord* pRecord);
    void RemoveAllPoints(); // empties the five kind maps and m_mapAll; forgets the base
    // Before a run of every point: Num and Hits cleared; Comp takes the old
    // Hits in compare mode (the run is compared with them), else cleared.
    void ResetCounts(BOOL bCompareMode);
};

// The mark the conversion leaves in byte 0; the disassembler's listings start otherwise.
const BYTE listingConvertedMark = 0x27;

// Records shorter than this carry no fields beyond len and kind.
const DWORD listingFieldsLen = 35;

// The header line naming the image base, "; Image base 00400000, ...": the
// conversion keeps its text (kind 0, so every walk passes over it) for a
// listing used again to know its base. TRUE with the base when the record
// holding line text (from `text`, `chars` characters) is that line; the ';'
// may already have been turned into the zero kind byte.
BOOL ListingBaseLine(const char* text, DWORD chars, DWORD& base);

// Turns a raw listing (lines ending in CR LF) in place into records and enters
// every point into the maps. Returns the number of point records entered.
int ConvertListing(char* view, DWORD size, CPointMaps& maps);

// Walks a converted listing: resets savedByte and row of each record with a
// kind and enters the point records into the maps (and the kept base); num, hits and comp stay as
// stored. Returns the number of point records entered. Records that no
// conversion could have written are counted in *pnCorrupt when it is given: a
// len reaching past the file (the walk ends there), a kind on a record too short
// for its fields, without its mark or whose text does not end in its zero at
// offset len (left alone, in no map), and a kind that is no point kind (reset,
// in no map). A listing with any of them is damaged.
int IndexListing(char* view, DWORD size, CPointMaps& maps, int* pnCorrupt = nullptr);

// TRUE when the listing has been converted already.
BOOL IsConvertedListing(const char* view, DWORD size);
