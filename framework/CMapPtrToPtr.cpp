#include "framework/CMapPtrToPtr.h"

CMapPtrToPtr::CMapPtrToPtr(int /*nBlockSize*/) {}

size_t CMapPtrToPtr::SlotOf(uintptr_t key) const
{
    // Fibonacci hashing: code addresses are dense and aligned, the multiply spreads them.
    return static_cast<size_t>((static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> m_shift);
}

size_t CMapPtrToPtr::FindSlot(uintptr_t key) const
{
    size_t mask = m_slots.size() - 1;
    size_t i = SlotOf(key);
    while (m_slots[i].key != emptyKey && m_slots[i].key != key)
        i = (i + 1) & mask;
    return i;
}

BOOL CMapPtrToPtr::Lookup(void* key, void*& rValue) const
{
    uintptr_t k = reinterpret_cast<uintptr_t>(key);
    if (k == emptyKey) {
        if (!m_bHasEmptyKey)
            return FALSE;
        rValue = m_pEmptyKeyValue;
        return TRUE;
    }
    if (m_slots.empty())
        return FALSE;
    const Slot& slot = m_slots[FindSlot(k)];
    if (slot.key == emptyKey)
        return FALSE;
    rValue = slot.value;
    return TRUE;
}

void CMapPtrToPtr::SetAt(void* key, void* newValue)
{
    uintptr_t k = reinterpret_cast<uintptr_t>(key);
    if (k == emptyKey) {
        if (!m_bHasEmptyKey)
            ++m_count;
        m_bHasEmptyKey = true;
        m_pEmptyKeyValue = newValue;
        return;
    }
    // Keep the load at most one half so that probes stay short.
    if ((m_count + 1) * 2 > m_slots.size())
        Grow();
    Slot& slot = m_slots[FindSlot(k)];
    if (slot.key == emptyKey) {
        slot.key = k;
        ++m_count;
    }
    slot.value = newValue;
}

void CMapPtrToPtr::Prefetch(void* key) const
{
#ifdef __GNUC__
    if (!m_slots.empty())
        __builtin_prefetch(&m_slots[SlotOf(reinterpret_cast<uintptr_t>(key))], 1);
#else
    (void)key;
#endif
}

BOOL CMapPtrToPtr::RemoveKey(void* key)
{
    uintptr_t k = reinterpret_cast<uintptr_t>(key);
    if (k == emptyKey) {
        if (!m_bHasEmptyKey)
            return FALSE;
        m_bHasEmptyKey = false;
        m_pEmptyKeyValue = nullptr;
        --m_count;
        return TRUE;
    }
    if (m_slots.empty())
        return FALSE;
    size_t mask = m_slots.size() - 1;
    size_t hole = FindSlot(k);
    if (m_slots[hole].key == emptyKey)
        return FALSE;
    // Backward-shift deletion: pull later members of the probe run into the
    // hole so that no tombstones are needed.
    for (size_t i = (hole + 1) & mask; m_slots[i].key != emptyKey; i = (i + 1) & mask) {
        size_t home = SlotOf(m_slots[i].key);
        bool movable = (i > hole) ? (home <= hole || home > i) : (home <= hole && home > i);
        if (movable) {
            m_slots[hole] = m_slots[i];
            hole = i;
        }
    }
    m_slots[hole] = Slot{emptyKey, nullptr};
    --m_count;
    return TRUE;
}

void CMapPtrToPtr::RemoveAll()
{
    std::vector<Slot>().swap(m_slots);
    m_count = 0;
    m_shift = 64;
    m_bHasEmptyKey = false;
    m_pEmptyKeyValue = nullptr;
}

void CMapPtrToPtr::Grow()
{
    size_t size = m_slots.empty() ? 16 : m_slots.size() * 2;
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(size, Slot{emptyKey, nullptr});
    unsigned bits = 0;
    while ((size_t(1) << bits) < size)
        ++bits;
    m_shift = 64 - bits;
    // The new homes are scattered over the table: ask for a few ahead.
    const size_t ahead = 16;
    for (size_t i = 0; i < old.size(); ++i) {
        if (i + ahead < old.size() && old[i + ahead].key != emptyKey)
            Prefetch(reinterpret_cast<void*>(old[i + ahead].key));
        if (old[i].key != emptyKey)
            m_slots[FindSlot(old[i].key)] = old[i];
    }
}

// Positions 1 to size are the table's slots; size + 1 is the key kept aside.
POSITION CMapPtrToPtr::PositionFrom(size_t index) const
{
    for (; index < m_slots.size(); ++index)
        if (m_slots[index].key != emptyKey)
            return reinterpret_cast<POSITION>(index + 1);
    if (index == m_slots.size() && m_bHasEmptyKey)
        return reinterpret_cast<POSITION>(index + 1);
    return nullptr;
}

POSITION CMapPtrToPtr::GetStartPosition() const
{
    return m_count ? PositionFrom(0) : nullptr;
}

void CMapPtrToPtr::GetNextAssoc(POSITION& rNextPosition, void*& rKey, void*& rValue) const
{
    size_t index = reinterpret_cast<size_t>(rNextPosition) - 1;
    if (index == m_slots.size()) {
        rKey = reinterpret_cast<void*>(emptyKey);
        rValue = m_pEmptyKeyValue;
        rNextPosition = nullptr;
        return;
    }
    const Slot& slot = m_slots[index];
    rKey = reinterpret_cast<void*>(slot.key);
    rValue = slot.value;
    rNextPosition = PositionFrom(index + 1);
}
