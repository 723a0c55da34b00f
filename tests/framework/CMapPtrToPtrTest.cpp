#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <unordered_map>
#include <vector>

#include "framework/CMapPtrToPtr.h"

namespace {

void* P(uintptr_t v)
{
    return reinterpret_cast<void*>(v);
}

uintptr_t V(void* p)
{
    return reinterpret_cast<uintptr_t>(p);
}

// Every association in enumeration order; fails the test when a key repeats.
std::vector<std::pair<uintptr_t, uintptr_t>> Enumerate(const CMapPtrToPtr& map)
{
    std::vector<std::pair<uintptr_t, uintptr_t>> entries;
    for (POSITION pos = map.GetStartPosition(); pos;) {
        void* key;
        void* value;
        map.GetNextAssoc(pos, key, value);
        entries.emplace_back(V(key), V(value));
        if (entries.size() > static_cast<size_t>(map.GetCount()) + 1)
            break; // a cycle; reported below
    }
    return entries;
}

void ExpectSameContents(const CMapPtrToPtr& map, const std::map<uintptr_t, uintptr_t>& model)
{
    ASSERT_EQ(map.GetCount(), static_cast<int>(model.size()));
    auto entries = Enumerate(map);
    ASSERT_EQ(entries.size(), model.size());
    std::sort(entries.begin(), entries.end());
    std::vector<std::pair<uintptr_t, uintptr_t>> expected(model.begin(), model.end());
    EXPECT_EQ(entries, expected);
    for (const auto& entry : model) {
        void* value = nullptr;
        ASSERT_TRUE(map.Lookup(P(entry.first), value)) << entry.first;
        EXPECT_EQ(V(value), entry.second);
    }
}

TEST(CMapPtrToPtr, SetAtAddsOrReplaces)
{
    CMapPtrToPtr map(10);
    void* value = P(99);
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_FALSE(map.Lookup(P(1), value));
    EXPECT_EQ(V(value), 99u); // untouched on a miss
    EXPECT_EQ(map.GetStartPosition(), nullptr);

    map.SetAt(P(0x401000), P(1));
    map.SetAt(P(0), P(2)); // address 0 is a key like any other
    map.SetAt(P(0x401000), P(3));
    EXPECT_EQ(map.GetCount(), 2);
    EXPECT_EQ(map.GetSize(), 2);
    ASSERT_TRUE(map.Lookup(P(0x401000), value));
    EXPECT_EQ(V(value), 3u);
    ASSERT_TRUE(map.Lookup(P(0), value));
    EXPECT_EQ(V(value), 2u);
    map.SetAt(P(0), nullptr); // a null value is still an association
    EXPECT_TRUE(map.Lookup(P(0), value));
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(map.GetCount(), 2);
}

TEST(CMapPtrToPtr, TheAllOnesKeyIsAKeyLikeAnyOther)
{
    const uintptr_t ones = ~uintptr_t(0);
    CMapPtrToPtr map;
    void* value = nullptr;
    EXPECT_FALSE(map.Lookup(P(ones), value));
    EXPECT_FALSE(map.RemoveKey(P(ones)));
    map.SetAt(P(ones), P(1));
    EXPECT_EQ(map.GetCount(), 1);
    ExpectSameContents(map, {{ones, 1}});
    map.SetAt(P(ones), P(2));
    for (uintptr_t k = 0; k < 100; ++k)
        map.SetAt(P(k), P(k));
    std::map<uintptr_t, uintptr_t> model;
    for (uintptr_t k = 0; k < 100; ++k)
        model[k] = k;
    model[ones] = 2;
    ExpectSameContents(map, model);
    EXPECT_TRUE(map.RemoveKey(P(ones)));
    model.erase(ones);
    ExpectSameContents(map, model);
    map.SetAt(P(ones), P(3));
    map.RemoveAll();
    EXPECT_FALSE(map.Lookup(P(ones), value));
    EXPECT_EQ(map.GetStartPosition(), nullptr);
}

TEST(CMapPtrToPtr, RemoveKeyAndRemoveAll)
{
    CMapPtrToPtr map;
    std::map<uintptr_t, uintptr_t> model;
    EXPECT_FALSE(map.RemoveKey(P(5)));
    for (uintptr_t k = 0; k < 1000; ++k) {
        map.SetAt(P(0x400000 + 4 * k), P(k + 1));
        model[0x400000 + 4 * k] = k + 1;
    }
    for (uintptr_t k = 0; k < 1000; k += 3) {
        EXPECT_TRUE(map.RemoveKey(P(0x400000 + 4 * k)));
        EXPECT_FALSE(map.RemoveKey(P(0x400000 + 4 * k)));
        model.erase(0x400000 + 4 * k);
    }
    EXPECT_FALSE(map.RemoveKey(P(0x12345)));
    ExpectSameContents(map, model);

    map.RemoveAll();
    EXPECT_EQ(map.GetCount(), 0);
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_EQ(map.GetStartPosition(), nullptr);
    void* value;
    EXPECT_FALSE(map.Lookup(P(0x400004), value));
    EXPECT_FALSE(map.RemoveKey(P(0x400004)));
    // Usable again after emptying, also after emptying one key at a time.
    map.SetAt(P(7), P(8));
    EXPECT_TRUE(map.Lookup(P(7), value));
    EXPECT_TRUE(map.RemoveKey(P(7)));
    EXPECT_EQ(map.GetStartPosition(), nullptr);
    map.SetAt(P(9), P(10));
    ExpectSameContents(map, {{9, 10}});
}

// The table starts with 16 slots and holds up to 8 keys before it grows; the
// keys here are picked by the table's hash so that one probe run wraps from the
// last slot to the first.
unsigned Home16(uintptr_t key)
{
    return static_cast<unsigned>((static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> 60);
}

std::vector<uintptr_t> KeysWithHome(unsigned home, size_t count)
{
    std::vector<uintptr_t> keys;
    for (uintptr_t key = 1; keys.size() < count; ++key)
        if (Home16(key) == home)
            keys.push_back(key);
    return keys;
}

TEST(CMapPtrToPtr, RemoveKeyInsideWrappedProbeRuns)
{
    std::vector<uintptr_t> keys;
    for (uintptr_t k : KeysWithHome(15, 3))
        keys.push_back(k);
    keys.push_back(KeysWithHome(14, 1)[0]);
    keys.push_back(KeysWithHome(0, 1)[0]);
    keys.push_back(KeysWithHome(1, 1)[0]);

    {
        // The precondition: enumeration runs in slot order, so a run that wraps
        // shows the later keys of home 15 before the first one.
        CMapPtrToPtr map;
        map.SetAt(P(keys[0]), P(1));
        map.SetAt(P(keys[1]), P(2));
        map.SetAt(P(keys[2]), P(3));
        auto order = Enumerate(map);
        ASSERT_EQ(order.size(), 3u);
        ASSERT_EQ(order[0].first, keys[1]);
        ASSERT_EQ(order[2].first, keys[0]);
    }

    // Every insertion order of the six keys, every key removed first, then the rest one by one.
    std::vector<size_t> perm = {0, 1, 2, 3, 4, 5};
    int rounds = 0;
    do {
        for (size_t first = 0; first < perm.size(); ++first) {
            CMapPtrToPtr map;
            std::map<uintptr_t, uintptr_t> model;
            for (size_t i : perm) {
                map.SetAt(P(keys[i]), P(i + 100));
                model[keys[i]] = i + 100;
            }
            std::vector<size_t> removal = perm;
            std::rotate(removal.begin(), removal.begin() + static_cast<long>(first), removal.end());
            for (size_t i : removal) {
                ASSERT_TRUE(map.RemoveKey(P(keys[i])));
                model.erase(keys[i]);
                ExpectSameContents(map, model);
                if (HasFailure())
                    return;
            }
            ++rounds;
        }
    } while (std::next_permutation(perm.begin(), perm.end()));
    EXPECT_EQ(rounds, 720 * 6);
}

TEST(CMapPtrToPtr, EnumerationVisitsEveryAssociationOnce)
{
    CMapPtrToPtr map;
    std::map<uintptr_t, uintptr_t> model;
    for (uintptr_t k = 1; k <= 5000; ++k) {
        uintptr_t key = k * 0x10000u; // keys that differ only in high bits
        map.SetAt(P(key), P(k));
        model[key] = k;
    }
    ExpectSameContents(map, model);
    for (uintptr_t k = 1; k <= 5000; k += 2) {
        map.RemoveKey(P(k * 0x10000u));
        model.erase(k * 0x10000u);
    }
    ExpectSameContents(map, model);
}

TEST(CMapPtrToPtr, AgreesWithUnorderedMapOverAMillionOperations)
{
    std::mt19937 rng(4242);
    CMapPtrToPtr map;
    std::unordered_map<uintptr_t, uintptr_t> model;
    // Narrow key ranges keep the map full of hits, removals and long probe runs.
    const uintptr_t ranges[] = {64, 3000, 200000};
    uintptr_t range = ranges[0];
    for (int op = 0; op < 1000000; ++op) {
        if (op % 100000 == 0)
            range = ranges[(op / 100000) % 3];
        // Now and then the all-ones key, which the table keeps aside.
        uintptr_t key = rng() % 1000 == 0 ? ~uintptr_t(0) : 0x400000 + (rng() % range) * 4;
        uintptr_t value = rng();
        unsigned what = rng() % 100;
        if (what < 45) {
            map.SetAt(P(key), P(value));
            model[key] = value;
        } else if (what < 75) {
            BOOL removed = map.RemoveKey(P(key));
            ASSERT_EQ(removed != FALSE, model.erase(key) == 1) << "op " << op;
        } else if (what < 99) {
            void* got = nullptr;
            auto it = model.find(key);
            ASSERT_EQ(map.Lookup(P(key), got) != FALSE, it != model.end()) << "op " << op;
            if (it != model.end()) {
                ASSERT_EQ(V(got), it->second) << "op " << op;
            }
        } else if (rng() % 5000 == 0) {
            map.RemoveAll();
            model.clear();
        }
        ASSERT_EQ(map.GetCount(), static_cast<int>(model.size())) << "op " << op;
        if (op % 50000 == 49999) {
            std::map<uintptr_t, uintptr_t> ordered(model.begin(), model.end());
            ExpectSameContents(map, ordered);
            if (HasFailure())
                return;
        }
    }
}

} // namespace
