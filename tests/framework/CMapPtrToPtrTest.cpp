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
    void *key, *value, *found;
    POSITION pos = map.GetStartPosition();
    for (size_t n = 0; pos && n <= model.size(); ++n) {
        map.GetNextAssoc(pos, key, value);
        EXPECT_TRUE(seen.emplace(uintptr_t(key), uintptr_t(value)).second) << "repeated";
        EXPECT_TRUE(map.Lookup(key, found) && found == value) << key;
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(map.GetCount(), static_cast<int>(model.size()));
}

// First tables of a few keys, filled to their load limit and emptied a key at
// a time in every order chance gives: probe runs that wrap from the last slot
// to the first come up often, and each removal keeps every other key found.
// Then a million operations over narrow key ranges, which keep the table full
// of hits, removals and long probe runs; key 0, the all-ones key (kept beside
// the table) and null values come up too.
TEST(CMapPtrToPtr, AgreesWithAnUnorderedMap)
{
    std::mt19937 rng(17);
    for (int round = 0; round < 20000 && !HasFailure(); ++round) {
        CMapPtrToPtr map;
        Model model;
        std::vector<uintptr_t> keys;
        for (int i = 0, n = 3 + int(rng() % 6); i < n; ++i) {
            keys.push_back(uintptr_t(rng()) * 4 + 4);
            map.SetAt(P(keys.back()), P(model[keys.back()] = uintptr_t(i)));
        }
        std::shuffle(keys.begin(), keys.end(), rng);
        for (uintptr_t key : keys) {
            ASSERT_EQ(map.RemoveKey(P(key)) != FALSE, model.erase(key) == 1) << round;
            ExpectSameContents(map, model);
        }
    }

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
        }
        if (op % 50000 == 49999)
            ExpectSameContents(map, model);
    }
}

} // namespace
