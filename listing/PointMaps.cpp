#include "listing/ListingRecord.h"

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
}
