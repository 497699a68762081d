// The string hash map and list: bucket layout, iteration order, resizing and the printed
// messages, plus a long randomized run against std::map.
#include "util/hashmap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

struct MapDeleter {
    void operator()(HashMap *map) const { hashmap_delete(map); }
};
using MapPtr = std::unique_ptr<HashMap, MapDeleter>;

MapPtr NewMap() {
    MapPtr map(hashmap_create());
    EXPECT_NE(map, nullptr);
    return map;
}

// Entries in iteration order; checks each sits in the bucket the iterator reports.
Pairs Entries(HashMap *map) {
    Pairs pairs;
    HashMapIterator *it = hashmap_iterator(map);
    while (hashmap_hasNext(it)) {
        hashmap_next(it);
        EXPECT_EQ(it->bucket, map->hashCode(map, it->entry->key)) << it->entry->key;
        pairs.emplace_back(it->entry->key, it->entry->value);
    }
    free(it);
    return pairs;
}

void PutAll(HashMap *map, const std::vector<std::string> &keys) {
    for (const std::string &key : keys) map->put(map, key.c_str(), ("v" + key).c_str());
}

// Runs body and gives what it printed to stdout.
template <typename Body>
std::string Printed(Body &&body) {
    testing::internal::CaptureStdout();
    body();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

const std::vector<std::string> kEight = {"k0", "k1", "k2", "k3", "k4", "k5", "k6", "k7"};

TEST(HashMapTest, BucketIndexTable) {
    struct Case {
        const char *key;
        int buckets8, buckets16, buckets32;
    };
    const Case cases[] = {
        {"abc", 2, 2, 18},
        {"", 0, 0, 0},
        {"codec_name", 0, 8, 24},                  // hash above 2^31
        {"\xff\xfe\xfd", 6, 14, 14},               // bytes taken as unsigned
        {"kavori-player-metadata-key", 6, 6, 22},  // the hash wraps
    };
    MapPtr map = NewMap();
    for (const Case &c : cases) {
        map->bucketCount = 8;
        EXPECT_EQ(default_HashCode(map.get(), c.key), c.buckets8) << c.key;
        map->bucketCount = 16;
        EXPECT_EQ(default_HashCode(map.get(), c.key), c.buckets16) << c.key;
        map->bucketCount = 32;
        EXPECT_EQ(default_HashCode(map.get(), c.key), c.buckets32) << c.key;
    }
    map->bucketCount = 8;
}

TEST(HashMapTest, NewMapIsEmptyWithEightBuckets) {
    MapPtr map = NewMap();
    EXPECT_EQ(map->bucketCount, 8);
    EXPECT_EQ(map->size, 0);
    HashMapIterator *it = hashmap_iterator(map.get());
    EXPECT_EQ(hashmap_hasNext(it), 0);
    EXPECT_EQ(hashmap_next(it), it);
    EXPECT_EQ(it->entry, nullptr);
    free(it);
}

TEST(HashMapTest, IterationOrderAndReplace) {
    MapPtr map = NewMap();
    map->put(map.get(), "a", "1");
    map->put(map.get(), "b", "2");
    map->put(map.get(), "abc", "3");
    EXPECT_EQ(Entries(map.get()), (Pairs{{"a", "1"}, {"b", "2"}, {"abc", "3"}}));
    map->put(map.get(), "abc", "4");
    EXPECT_EQ(map->size, 3);
    EXPECT_EQ(Entries(map.get()), (Pairs{{"a", "1"}, {"b", "2"}, {"abc", "4"}}));
    EXPECT_STREQ(map->get(map.get(), "b"), "2");
    EXPECT_EQ(map->exists(map.get(), "abc"), 1);
    EXPECT_EQ(map->exists(map.get(), "ab"), 0);
}

TEST(HashMapTest, MapKeepsItsOwnCopies) {
    MapPtr map = NewMap();
    char key[] = "key";
    char value[] = "value";
    map->put(map.get(), key, value);
    key[0] = 'X';
    value[0] = 'X';
    EXPECT_STREQ(map->get(map.get(), "key"), "value");
}

TEST(HashMapTest, ChainHoldsLaterKeysFirst) {
    MapPtr map = NewMap();
    for (const char *key : {"b", "abc", "ag", "ao"}) map->put(map.get(), key, key);  // bucket 2
    EXPECT_EQ(Entries(map.get()), (Pairs{{"b", "b"}, {"ao", "ao"}, {"ag", "ag"}, {"abc", "abc"}}));
}

TEST(HashMapTest, GrowsBeforeTheNinthPut) {
    MapPtr map = NewMap();
    PutAll(map.get(), kEight);
    EXPECT_EQ(map->bucketCount, 8);
    map->put(map.get(), "k8", "v");
    EXPECT_EQ(map->bucketCount, 16);
    EXPECT_EQ(map->size, 9);
    EXPECT_EQ(Entries(map.get()).size(), 9u);
}

TEST(HashMapTest, ReplacingPutAtFullLoadGrowsToo) {
    MapPtr map = NewMap();
    PutAll(map.get(), kEight);
    map->put(map.get(), "k3", "new");
    EXPECT_EQ(map->bucketCount, 16);
    EXPECT_EQ(map->size, 8);
    EXPECT_STREQ(map->get(map.get(), "k3"), "new");
}

TEST(HashMapTest, NullKeyOrValueStoresNothing) {
    MapPtr map = NewMap();
    PutAll(map.get(), kEight);
    map->put(map.get(), "k0", nullptr);
    map->put(map.get(), nullptr, "v");
    EXPECT_EQ(map->bucketCount, 8);
    EXPECT_EQ(map->size, 8);
    EXPECT_STREQ(map->get(map.get(), "k0"), "vk0");
}

TEST(HashMapTest, ShrinksBelowHalfLoad) {
    MapPtr map = NewMap();
    PutAll(map.get(), kEight);
    map->put(map.get(), "k0", "again");  // 16 buckets, 8 keys
    ASSERT_EQ(map->bucketCount, 16);
    EXPECT_EQ(map->remove(map.get(), "k5"), 1);
    EXPECT_EQ(map->bucketCount, 8);
    EXPECT_EQ(map->size, 7);
    EXPECT_STREQ(map->get(map.get(), "k0"), "again");
    for (const std::string &key : kEight) map->remove(map.get(), key.c_str());
    EXPECT_EQ(map->bucketCount, 8);
    EXPECT_EQ(map->size, 0);
}

TEST(HashMapTest, RemovingAbsentKeys) {
    MapPtr map = NewMap();
    map->put(map.get(), "b", "2");
    hashmap_reset(map.get(), 16);
    ASSERT_EQ(map->bucketCount, 16);
    EXPECT_EQ(map->remove(map.get(), "a"), 0);  // empty bucket: no resize
    EXPECT_EQ(map->bucketCount, 16);
    EXPECT_EQ(map->remove(map.get(), "ao"), 0);  // bucket of "b": may shrink
    EXPECT_EQ(map->bucketCount, 8);
    EXPECT_EQ(Entries(map.get()), (Pairs{{"b", "2"}}));
}

TEST(HashMapTest, RemovalWithinABucket) {
    struct Case {
        const char *removed;
        Pairs left;
    };
    const Case cases[] = {
        {"b", {{"ao", "ao"}, {"ag", "ag"}, {"abc", "abc"}}},  // the chain moves into the head
        {"ag", {{"b", "b"}, {"ao", "ao"}, {"abc", "abc"}}},
        {"abc", {{"b", "b"}, {"ao", "ao"}, {"ag", "ag"}}},
        {"bd", {{"b", "b"}, {"ao", "ao"}, {"ag", "ag"}, {"abc", "abc"}}},
    };
    for (const Case &c : cases) {
        MapPtr map = NewMap();
        for (const char *key : {"b", "abc", "ag", "ao"}) map->put(map.get(), key, key);
        EXPECT_EQ(map->remove(map.get(), c.removed), c.left.size() == 3 ? 1 : 0) << c.removed;
        EXPECT_EQ(map->size, static_cast<int>(c.left.size()));
        EXPECT_EQ(Entries(map.get()), c.left) << c.removed;
    }
}

TEST(HashMapTest, LoneHeadRemovalEmptiesTheBucket) {
    MapPtr map = NewMap();
    map->put(map.get(), "a", "1");
    EXPECT_EQ(map->remove(map.get(), "a"), 1);
    EXPECT_EQ(map->remove(map.get(), "a"), 0);
    EXPECT_EQ(map->size, 0);
    EXPECT_EQ(map->buckets[1].key, nullptr);
    map->put(map.get(), "a", "2");
    EXPECT_EQ(Entries(map.get()), (Pairs{{"a", "2"}}));
}

TEST(HashMapTest, GetOfAbsentKeyPrintsOnlyForAnEmptyBucket) {
    MapPtr map = NewMap();
    map->put(map.get(), "b", "2");
    char *value = reinterpret_cast<char *>(1);
    EXPECT_EQ(Printed([&] { value = map->get(map.get(), "a"); }), "This key a does not exist.\n");
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(Printed([&] { value = map->get(map.get(), "abc"); }), "");
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(Printed([&] { EXPECT_EQ(map->exists(map.get(), "a"), 0); }), "");
}

TEST(HashMapTest, NullArgumentsAreRefused) {
    EXPECT_EQ(string_copy(nullptr), nullptr);
    MapPtr map = NewMap();
    map->put(map.get(), "a", "1");
    std::string printed = Printed([&] {
        EXPECT_EQ(hashmap_get(map.get(), nullptr), nullptr);
        EXPECT_EQ(hashmap_exists(map.get(), nullptr), 0);
        EXPECT_EQ(hashmap_remove(map.get(), nullptr), 0);
    });
    EXPECT_EQ(printed, "");
    EXPECT_EQ(map->size, 1);
    hashmap_delete(nullptr);
    hashmap_delete_entry(nullptr);
    EXPECT_EQ(hashmap_hasNext(nullptr), 0);
    EXPECT_EQ(hashmap_next(nullptr), nullptr);
}

TEST(HashMapTest, ClearReturnsToEightBuckets) {
    MapPtr map = NewMap();
    for (int i = 0; i < 20; ++i) map->put(map.get(), std::to_string(i).c_str(), "v");
    ASSERT_EQ(map->bucketCount, 32);
    map->clear(map.get());
    EXPECT_EQ(map->bucketCount, 8);
    EXPECT_EQ(map->size, 0);
    EXPECT_TRUE(Entries(map.get()).empty());
    map->put(map.get(), "x", "y");
    EXPECT_EQ(Entries(map.get()), (Pairs{{"x", "y"}}));
}

TEST(HashMapTest, ResetBelowEightChangesNothing) {
    MapPtr map = NewMap();
    map->put(map.get(), "a", "1");
    hashmap_reset(map.get(), 4);
    EXPECT_EQ(map->bucketCount, 8);
    EXPECT_EQ(Entries(map.get()), (Pairs{{"a", "1"}}));
}

// A long random run against std::map: contents, size, load bounds and one visit per key.
TEST(HashMapTest, RandomOperationsMatchAModel) {
    std::mt19937 rng(20240607);
    std::vector<std::string> pool = {"", "a", "b", "abc", "ag", "ao", "\xff\xfe\xfd"};
    for (int i = 0; i < 57; ++i) pool.push_back("key" + std::to_string(i * 7919));
    std::map<std::string, std::string> model;
    MapPtr map = NewMap();

    struct Silence {  // gets of absent keys print
        Silence() { testing::internal::CaptureStdout(); }
        ~Silence() {
            fflush(stdout);
            testing::internal::GetCapturedStdout();
        }
    } silence;
    for (int step = 0; step < 20000; ++step) {
        const std::string &key = pool[rng() % pool.size()];
        unsigned op = rng() % 1000;
        if (op < 450) {
            std::string value = std::to_string(rng());
            map->put(map.get(), key.c_str(), value.c_str());
            model[key] = value;
        } else if (op < 800) {
            ASSERT_EQ(map->remove(map.get(), key.c_str()), static_cast<int>(model.erase(key)));
        } else if (op < 997) {
            const char *value = map->get(map.get(), key.c_str());
            auto found = model.find(key);
            ASSERT_EQ(value != nullptr, found != model.end()) << step;
            if (value != nullptr) {
                ASSERT_EQ(found->second, value);
            }
        } else {
            map->clear(map.get());
            model.clear();
        }
        ASSERT_EQ(map->size, static_cast<int>(model.size())) << step;
        ASSERT_GE(map->bucketCount, 8);
        ASSERT_LE(map->size, map->bucketCount);
        if (map->bucketCount > 8) {
            ASSERT_GE(map->size, map->bucketCount / 2) << step;
        }
        if (step % 50 == 0) {
            Pairs pairs = Entries(map.get());
            std::map<std::string, std::string> seen(pairs.begin(), pairs.end());
            ASSERT_EQ(seen.size(), pairs.size()) << "a key was visited twice";
            ASSERT_EQ(seen, model) << step;
        }
    }
}

// Lists: a data-less head from list_create followed by "b" and "c".
struct ListFixture : testing::Test {
    char b[2] = "b";
    char c[2] = "c";
    ListNode *list = nullptr;
    void SetUp() override {
        list = list_create();
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list_append(list, b), list);
        EXPECT_EQ(list_append(list, c), list);
    }
    void TearDown() override { list_delete(list); }
};

TEST_F(ListFixture, Index) {
    ListNode *tail = list_tail(list);
    EXPECT_EQ(tail->data, c);
    EXPECT_EQ(list_head(tail), list);
    EXPECT_EQ(list_index(list, 2), tail);
    EXPECT_EQ(list_index(list, 0), list);
    EXPECT_EQ(list_index(tail, -1), tail);  // counts from the given node, never backwards
    ListNode *past = reinterpret_cast<ListNode *>(1);
    EXPECT_EQ(Printed([&] { past = list_index(list, 3); }), "Index Out Of Bounds\n");
    EXPECT_EQ(past, nullptr);
    EXPECT_EQ(Printed([&] { past = list_index(list->next, 2); }), "Index Out Of Bounds\n");
}

TEST_F(ListFixture, RemoveLinksTheNeighbours) {
    char other[2] = "b";  // equal text, other storage
    EXPECT_EQ(list_remove(list_tail(list), other), list);
    EXPECT_EQ(list->next->data, c);
    EXPECT_EQ(list->next->prev, list);
    EXPECT_EQ(list_remove(list, "c"), list);
    EXPECT_EQ(list->next, nullptr);
}

TEST_F(ListFixture, RemoveAbsentOrNullData) {
    ListNode *head = nullptr;
    EXPECT_EQ(Printed([&] { head = list_remove(list, "zz"); }), "node zz is not exist\n");
    EXPECT_EQ(head, list);
    EXPECT_EQ(Printed([&] { head = list_remove(list, nullptr); }), "");  // the data-less head stays
    EXPECT_EQ(head, list);
    EXPECT_EQ(list_index(list, 2)->data, c);
}

TEST(ListTest, RemovingTheHeadOrTheOnlyNode) {
    char a[2] = "a";
    char b[2] = "b";
    ListNode *list = list_append(list_append(nullptr, a), b);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->data, a);
    ListNode *head = list_remove(list->next, "a");
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->data, b);
    EXPECT_EQ(head->prev, nullptr);
    EXPECT_EQ(list_remove(head, "b"), nullptr);
}

}  // namespace
