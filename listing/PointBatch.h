// Both passes meet their points in file order, at addresses spread over maps far
// larger than the caches. Entering a few dozen at a time, after asking for all
// their slots, lets those memory loads run side by side; the order of entering,
// and so which record wins a shared address, stays the file order.
#pragma once

#include "listing/ListingRecord.h"

class CPointBatch {
public:
    explicit CPointBatch(CPointMaps& maps) : m_maps(maps) {}
    CPointBatch(const CPointBatch&) = delete;
    CPointBatch& operator=(const CPointBatch&) = delete;

    // The record's kind must be a point kind.
    void Add(ListingRecord* pRecord)
    {
        m_records[m_nRecords++] = pRecord;
        if (m_nRecords == batchSize)
            Flush();
    }

    // Enters what is pending; the pass calls it once more at its end.
    void Flush()
    {
        for (int i = 0; i < m_nRecords; ++i) {
            void* key = reinterpret_cast<void*>(static_cast<uintptr_t>(m_records[i]->addr));
            m_maps.KindMap(KindIndex(m_records[i]->kind)).Prefetch(key);
            m_maps.m_mapAll.Prefetch(key);
        }
        for (int i = 0; i < m_nRecords; ++i)
            m_maps.EnterPoint(m_records[i]);
        m_nRecords = 0;
    }

private:
    static const int batchSize = 32;
    CPointMaps& m_maps;
    ListingRecord* m_records[batchSize];
    int m_nRecords = 0;
};
