#include "listing/ListingRecord.h"

#include <cstring>

int KindIndex(BYTE kind)
{
    switch (kind) {
    case kindCallPtr: return 0;
    case kindCall: return 1;
    case kindJmpPtr: return 2;
    case kindJmp: return 3;
    case kindStrData: return 4;
    default: return -1;
    }
}

CMapPtrToPtr& CPointMaps::KindMap(int index)
{
    CMapPtrToPtr* kindMaps[5] = {&m_mapCallPtr, &m_mapCall, &m_mapJmpPtr, &m_mapJmp, &m_mapStrData};
    return *kindMaps[index];
}

BOOL CPointMaps::EnterPoint(ListingRecord* pRecord)
{
    int index = KindIndex(pRecord->kind);
    if (index < 0)
        return FALSE;
    void* key = reinterpret_cast<void*>(static_cast<uintptr_t>(pRecord->addr));
    KindMap(index).SetAt(key, pRecord);
    m_mapAll.SetAt(key, pRecord);
    return TRUE;
}

void CPointMaps::RemoveAllPoints()
{
    for (int index = 0; index < 5; ++index)
        KindMap(index).RemoveAll();
    m_mapAll.RemoveAll();
    m_dwListingBase = 0;
}

void CPointMaps::ResetCounts(BOOL bCompareMode)
{
    for (POSITION pos = m_mapAll.GetStartPosition(); pos != NULL;) {
        void* key;
        void* value;
        m_mapAll.GetNextAssoc(pos, key, value);
        ListingRecord* record = static_cast<ListingRecord*>(value);
        record->comp = bCompareMode ? record->hits : 0;
        record->num = 0;
        record->hits = 0;
    }
}

BOOL ListingBaseLine(const char* text, DWORD chars, DWORD& base)
{
    static const char head[] = " Image base "; // after the ';'
    const DWORD headLen = sizeof head - 1;
    if (chars < 1 + headLen + 8 || (text[0] != ';' && text[0] != 0) || std::memcmp(text + 1, head, headLen) != 0)
        return FALSE;
    DWORD value = 0;
    for (const char* digit = text + 1 + headLen; digit != text + 1 + headLen + 8; ++digit) {
        char c = *digit;
        int n = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (n < 0)
            return FALSE;
        value = (value << 4) | static_cast<DWORD>(n);
    }
    base = value;
    return TRUE;
}
