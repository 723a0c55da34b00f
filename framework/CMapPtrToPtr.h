// Hash map from a pointer-sized key (the tracer uses 32-bit code addresses and
// thread ids) to a pointer. Open addressing keeps every operation O(1) on
// average up to millions of entries; enumeration follows the hash order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/PlatformTypes.h"

class CMapPtrToPtr {
public:
    // The block size is accepted for the framework's signature; the table grows by doubling.
    explicit CMapPtrToPtr(int nBlockSize = 10);

    int GetCount() const { return static_cast<int>(m_count); }
    int GetSize() const { return GetCount(); }
    bool IsEmpty() const { return m_count == 0; }

    BOOL Lookup(void* key, void*& rValue) const;
    // Adds the key, or replaces the value stored for it.
    void SetAt(void* key, void* newValue);
    BOOL RemoveKey(void* key);
    // A hint that the key is looked up or set soon: starts loading its slot, so
    // that a caller with many keys at hand can overlap their memory accesses.
    void Prefetch(void* key) const;
    void RemoveAll();

    // NULL when the map is empty. Removing keys moves other associations within
    // the table (there are no tombstones), so an enumeration that removes keys
    // as it goes may skip or repeat some: collect the keys first, then remove.
    POSITION GetStartPosition() const;
    // Returns the association at rNextPosition and moves it on; NULL after the last.
    void GetNextAssoc(POSITION& rNextPosition, void*& rKey, void*& rValue) const;

private:
    // A slot holding emptyKey is free; that one key, should it be used, is kept
    // beside the table. Two words a slot keep the table small.
    struct Slot {
        uintptr_t key;
        void* value;
    };
    static constexpr uintptr_t emptyKey = ~uintptr_t(0);

    size_t SlotOf(uintptr_t key) const;
    size_t FindSlot(uintptr_t key) const; // index of the key's slot or of the empty slot ending its probe
    void Grow();
    POSITION PositionFrom(size_t index) const;

    std::vector<Slot> m_slots; // size 0 or a power of two
    size_t m_count = 0;
    unsigned m_shift = 64;
    bool m_bHasEmptyKey = false;
    void* m_pEmptyKeyValue = nullptr;
};
