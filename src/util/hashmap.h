// String-to-string hash map with chained buckets, and a doubly linked list of strings.
// Single-threaded: a map, iterator or list belongs to one thread at a time.
#ifndef KAVORI_UTIL_HASHMAP_H
#define KAVORI_UTIL_HASHMAP_H

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

char *string_copy(const char *text);

HashMap *hashmap_create(void);
int default_HashCode(HashMap *map, const char *key);
int hashmap_equal(const char *key1, const char *key2);
void hashmap_put(HashMap *map, const char *key, const char *value);
char *hashmap_get(HashMap *map, const char *key);
int hashmap_exists(HashMap *map, const char *key);
int hashmap_remove(HashMap *map, const char *key);
void hashmap_clear(HashMap *map);
void hashmap_delete(HashMap *map);
void hashmap_delete_entry(HashMapEntry *entry);
void hashmap_reset(HashMap *map, int bucketCount);
HashMapIterator *hashmap_iterator(HashMap *map);
int hashmap_hasNext(HashMapIterator *iterator);
HashMapIterator *hashmap_next(HashMapIterator *iterator);

ListNode *list_create(void);
ListNode *list_head(ListNode *node);
ListNode *list_tail(ListNode *node);
ListNode *list_index(ListNode *node, int count);
ListNode *list_append(ListNode *list, char *data);
ListNode *list_remove(ListNode *list, const char *data);
void list_delete(ListNode *list);

#ifdef __cplusplus
}
#endif

#endif
