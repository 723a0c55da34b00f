// One forward pass that turns the listing text into records in place. A record
// begins on the byte before its line text (the LF of the previous line, or byte 1
// for the first line), so every field lands on bytes the line already owns.
#include <cstring>

#include "listing/ListingRecord.h"
#include "listing/PointBatch.h"

namespace {

// The longest line that ends normally has 254 characters (len 255, the most a
// byte holds); a longer one is cut after this many characters.
const DWORD maxLineScan = 255;
const DWORD cutLineChars = 127;

bool IsBlank(BYTE c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexDigit(BYTE c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The address as the listing wrote it: blanks, then hex digits up to the first
// other character. The text is zero-terminated within the record.
DWORD ParseAddress(const BYTE* text)
{
    while (IsBlank(*text))
        ++text;
    DWORD value = 0;
    for (int digit; (digit = HexDigit(*text)) >= 0; ++text)
        value = (value << 4) | static_cast<DWORD>(digit);
    return value;
}

// Length of the record that begins at rec: the index of its terminating zero.
// The zero takes the place of the CR of a CR LF found among the first 255
// positions; a line without one there is cut after 127 characters. When the
// file ends before those positions could all be looked at (a last line without
// CR LF, or the single LF after the last CR LF), the record is ended at the last
// byte of the file: that byte becomes its zero (for the lone LF the record is
// empty, len 0, and the zero is the len byte itself). No byte past the file is
// ever read.
DWORD RecordLength(const BYTE* rec, const BYTE* end)
{
    const BYTE* text = rec + 1;
    // A CR at text + i (i < 255) counts only with its LF inside the file.
    bool wholeWindow = end - text > static_cast<ptrdiff_t>(maxLineScan);
    const BYTE* crLimit = wholeWindow ? text + maxLineScan : end - 1;
    for (const BYTE* from = text; from < crLimit;) {
        const BYTE* cr = static_cast<const BYTE*>(std::memchr(from, '\r', static_cast<size_t>(crLimit - from)));
        if (!cr)
            break;
        if (cr[1] == '\n')
            return static_cast<DWORD>(cr - rec);
        from = cr + 1;
    }
    if (wholeWindow)
        return cutLineChars + 1;
    return static_cast<DWORD>(end - 1 - rec);
}

// Columns 1-8 of a code line: the address as eight hexadecimal digits. A line
// beginning ":0" is one whatever follows, as it always was; an image based at
// 0x10000000 or above lists its addresses with another first digit.
bool IsCodeLine(const BYTE* rec)
{
    if (rec[1] != ':')
        return false;
    if (rec[2] == '0')
        return true;
    for (int i = 2; i < 10; ++i)
        if (HexDigit(rec[i]) < 0)
            return false;
    return true;
}

void PutDword(BYTE* at, DWORD value)
{
    at[0] = static_cast<BYTE>(value);
    at[1] = static_cast<BYTE>(value >> 8);
    at[2] = static_cast<BYTE>(value >> 16);
    at[3] = static_cast<BYTE>(value >> 24);
}

} // namespace

int ConvertListing(char* view, DWORD size, CPointMaps& maps)
{
    if (!view || size == 0)
        return 0;
    BYTE* const base = reinterpret_cast<BYTE*>(view);
    BYTE* const end = base + size;
    base[0] = listingConvertedMark;
    maps.m_dwListingBase = 0;
    bool baseFound = false;

    int nPoints = 0;
    CPointBatch batch(maps);
    BYTE* prev = base + 1; // the first record refers to itself
    for (BYTE* rec = base + 1; rec < end; prev = rec, rec += rec[0] + 1) {
        DWORD len = RecordLength(rec, end);
        rec[0] = static_cast<BYTE>(len);
        rec[len] = 0;
        if (len == 0)
            continue;

        bool isStr = len >= listingFieldsLen && std::memcmp(rec + 24, "Stri", 4) == 0;
        bool isCode = len >= listingFieldsLen && IsCodeLine(rec);
        if (!isStr && !isCode) {
            DWORD listedBase;
            if (len > 0 && ListingBaseLine(reinterpret_cast<const char*>(rec + 1), len - 1, listedBase)) {
                rec[1] = kindNone; // the ';': the line is kept as a record of no kind
                if (!baseFound)
                    maps.m_dwListingBase = listedBase;
                baseFound = true;
                continue;
            }
            std::memset(rec + 1, 0, len - 1);
            continue;
        }

        bool viaPointer = rec[11] == 'F' && rec[12] == 'F';
        rec[1] = isStr ? kindStrData : kindNone;
        std::memset(rec + 10, 0, 25);
        PutDword(rec + 11, ParseAddress(rec + 2));
        PutDword(rec + 16, 0xFFFFFFFFu);
        rec[32] = 'O';
        rec[33] = 'k';
        rec[34] = '\n';

        // The text is zero-terminated inside the record, so the comparisons stop there.
        const char* text = reinterpret_cast<const char*>(rec + 35);
        BYTE kind;
        if (text[0] == 'c' && text[1] == 'a' && text[2] == 'l' && text[3] == 'l') {
            kind = viaPointer ? kindCallPtr : kindCall;
        } else if (text[0] == 'j') {
            kind = viaPointer ? kindJmpPtr : kindJmp;
        } else if (isStr && text[0] == '"') {
            kind = kindStrData;
            // The string belongs to the instruction on the line before. A record
            // too short for fields (an empty or short line) has no address: the
            // string then gets address 0 and an empty address text, as after any
            // other line that is no point.
            if (prev != rec) {
                // Fields carry their mark; a kept base line has none.
                if (prev[0] >= listingFieldsLen && std::memcmp(prev + 32, "Ok\n", 3) == 0) {
                    const BYTE* zero = static_cast<const BYTE*>(std::memchr(prev + 2, 0, 8));
                    size_t n = zero ? static_cast<size_t>(zero - (prev + 2)) : 8;
                    std::memcpy(rec + 2, prev + 2, n);
                    rec[2 + n] = 0;
                    std::memcpy(rec + 11, prev + 11, 4);
                } else {
                    rec[2] = 0;
                    PutDword(rec + 11, 0);
                }
            }
        } else {
            rec[1] = kindNone;
            continue;
        }
        rec[1] = kind;
        batch.Add(reinterpret_cast<ListingRecord*>(rec));
        ++nPoints;
    }
    batch.Flush();
    return nPoints;
}

BOOL IsConvertedListing(const char* view, DWORD size)
{
    return view && size > 0 && static_cast<BYTE>(view[0]) == listingConvertedMark;
}
