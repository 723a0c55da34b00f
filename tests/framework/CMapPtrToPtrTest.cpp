#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <unordered_map>
#include <vector>

#include "framework/CMapPtrToPtr.h"

namespace {

typedef std::unordered_map<uintptr_t, uintptr_t> Model;

void* P(uintptr_t v) { return reinterpret_cast<void*>(v); }

// Enumeration visits each of the model's associations once, and Lookup finds each.
void ExpectSameContents(const CMapPtrToPtr& map, const Model& model)
{
    std::map<uintptr_t, uintptr_t> seen, expected(model.begin(), model.end());
    void *key, *value;
    POSITION pos = map.GetStartPosition();
    for (size_t n = 0; pos && n <= model.size(); ++n) {
        map.GetNextAssoc(pos, key, value);
        EXPECT_TRUE(seen.emplace(reinterpret_cast<uintptr_t>(key), reinterpret_cast<uintptr_t>(value)).second) << "repeated";
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(map.GetCount(), static_cast<int>(model.size()));
    for (const auto& entry : model)
        EXPECT_TRUE(map.Lookup(P(entry.first), value) && value == P(entry.second)) << entry.first;
}

// A fresh table has 16 slots; these keys' home slots (by the table's hash) are
// 15, 15, 15, 14, 0 and 1, so their probe runs wrap from the last slot to the first.
TEST(CMapPtrToPtr, RemoveKeyInsideWrappedProbeRuns)
{
    std::vector<uintptr_t> keys;
    for (unsigned home : {15u, 15u, 15u, 14u, 0u, 1u}) {
        uintptr_t key = 1;
        while ((static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> 60 != home || std::count(keys.begin(), keys.end(), key))
            ++key;
        keys.push_back(key);
    }
    CMapPtrToPtr wrapped; // enumeration is in slot order: the second key of home 15 comes first
    for (int i = 0; i < 3; ++i)
        wrapped.SetAt(P(keys[i]), nullptr);
    POSITION pos = wrapped.GetStartPosition();
    void *first, *value;
    wrapped.GetNextAssoc(pos, first, value);
    ASSERT_EQ(first, P(keys[1]));

    // Every insertion order, every key removed first, then the rest in turn.
    std::vector<size_t> perm = {0, 1, 2, 3, 4, 5};
    do {
        for (size_t start = 0; start < 6 && !HasFailure(); ++start) {
            CMapPtrToPtr map;
            Model model;
            for (size_t i : perm)
                map.SetAt(P(keys[i]), P(model[keys[i]] = i + 100));
            for (size_t r = 0; r < 6; ++r) {
                uintptr_t key = keys[perm[(start + r) % 6]];
                ASSERT_TRUE(map.RemoveKey(P(key)) && model.erase(key));
                ExpectSameContents(map, model);
            }
        }
    } while (std::next_permutation(perm.begin(), perm.end()) && !HasFailure());
}

// Narrow key ranges keep the table full of hits, removals and long probe runs;
// key 0, the all-ones key (kept beside the table) and null values come up too.
TEST(CMapPtrToPtr, AgreesWithUnorderedMapOverAMillionOperations)
{
    std::mt19937 rng(4242);
    CMapPtrToPtr map;
    Model model;
    const uintptr_t ranges[] = {64, 3000, 200000};
    for (int op = 0; op < 1000000 && !HasFailure(); ++op) {
        uintptr_t key = rng() % 1000 == 0 ? ~uintptr_t(0) : (rng() % ranges[op / 100000 % 3]) * 4;
        uintptr_t value = rng() % 8 ? rng() : 0;
        unsigned what = rng() % 100;
        void* got = P(1);
        if (what < 45) {
            map.SetAt(P(key), P(model[key] = value));
        } else if (what < 75) {
            ASSERT_EQ(map.RemoveKey(P(key)) != FALSE, model.erase(key) == 1) << "op " << op;
        } else if (what < 99) {
            auto it = model.find(key);
            ASSERT_EQ(map.Lookup(P(key), got) != FALSE, it != model.end()) << "op " << op;
            ASSERT_EQ(got, P(it == model.end() ? 1 : it->second)) << "op " << op; // untouched on a miss
        } else if (rng() % 5000 == 0) {
            map.RemoveAll();
            model.clear();
            ExpectSameContents(map, model);
        }
        ASSERT_EQ(map.GetCount(), static_cast<int>(model.size())) << "op " << op;
        if (op % 50000 == 49999)
            ExpectSameContents(map, model);
    }
}

} // namespace
