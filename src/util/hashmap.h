// String-to-string hash map with chained buckets, and a doubly linked list of strings.
// Single-threaded: a map, iterator or list belongs to one thread at a time.
#ifndef KAVORI_UTIL_HASHMAP_H
#define KAVORI_UTIL_HASHMAP_H

#include "util/kavori_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HashMapEntry {
    char *key;
    char *value;
    struct HashMapEntry *next;
} HashMapEntry;

typedef struct HashMap HashMap;
struct HashMap {
    HashMapEntry *buckets;  // one inline head per bucket; empty when its key is NULL
    int bucketCount;        // 8 at creation, never below
    int size;
    int (*hashCode)(HashMap *map, const char *key);
    int (*equal)(const char *key1, const char *key2);
    void (*put)(HashMap *map, const char *key, const char *value);
    char *(*get)(HashMap *map, const char *key);
    int (*remove)(HashMap *map, const char *key);
    void (*clear)(HashMap *map);
    int (*exists)(HashMap *map, const char *key);
};

typedef struct HashMapIterator {
    HashMap *map;
    HashMapEntry *entry;  // NULL before the first step
    int bucket;           // starts at -1
    int count;            // entries returned so far
} HashMapIterator;

typedef struct ListNode {
    char *data;
    struct ListNode *prev;
    struct ListNode *next;
} ListNode;

KAVORI_EXPORT char *string_copy(const char *text);

KAVORI_EXPORT HashMap *hashmap_create(void);
int default_HashCode(HashMap *map, const char *key);  // not exported: the map's hashCode slot
KAVORI_EXPORT int hashmap_equal(const char *key1, const char *key2);
KAVORI_EXPORT void hashmap_put(HashMap *map, const char *key, const char *value);
KAVORI_EXPORT char *hashmap_get(HashMap *map, const char *key);
KAVORI_EXPORT int hashmap_exists(HashMap *map, const char *key);
KAVORI_EXPORT int hashmap_remove(HashMap *map, const char *key);
KAVORI_EXPORT void hashmap_clear(HashMap *map);
KAVORI_EXPORT void hashmap_delete(HashMap *map);
KAVORI_EXPORT void hashmap_delete_entry(HashMapEntry *entry);
KAVORI_EXPORT void hashmap_reset(HashMap *map, int bucketCount);
KAVORI_EXPORT HashMapIterator *hashmap_iterator(HashMap *map);
KAVORI_EXPORT int hashmap_hasNext(HashMapIterator *iterator);
KAVORI_EXPORT HashMapIterator *hashmap_next(HashMapIterator *iterator);

KAVORI_EXPORT ListNode *list_create(void);
KAVORI_EXPORT ListNode *list_head(ListNode *node);
KAVORI_EXPORT ListNode *list_tail(ListNode *node);
KAVORI_EXPORT ListNode *list_index(ListNode *node, int count);
KAVORI_EXPORT ListNode *list_append(ListNode *list, char *data);
KAVORI_EXPORT ListNode *list_remove(ListNode *list, const char *data);
KAVORI_EXPORT void list_delete(ListNode *list);

#ifdef __cplusplus
}
#endif

#endif
