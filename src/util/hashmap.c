// String-to-string hash map with chained buckets, and a doubly linked list of strings.
// Every allocation is checked: when one fails, the map or list keeps its previous state.
#include "util/hashmap.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kMinBuckets = 8 };

char *string_copy(const char *text) {
    if (text == NULL) return NULL;
    size_t length = strlen(text) + 1;
    char *copy = malloc(length);
    if (copy != NULL) memcpy(copy, text, length);
    return copy;
}

// Releases every key, value and chain node; leaves the bucket array allocated.
static void release_entries(HashMap *map) {
    for (int i = 0; i < map->bucketCount; ++i) {
        HashMapEntry *head = &map->buckets[i];
        HashMapEntry *node = head->next;
        while (node != NULL) {
            HashMapEntry *next = node->next;
            hashmap_delete_entry(node);
            node = next;
        }
        free(head->key);
        free(head->value);
        head->key = NULL;
        head->value = NULL;
        head->next = NULL;
    }
    map->size = 0;
}

HashMap *hashmap_create(void) {
    HashMap *map = malloc(sizeof(HashMap));
    if (map == NULL) return NULL;
    map->buckets = calloc(kMinBuckets, sizeof(HashMapEntry));
    if (map->buckets == NULL) {
        free(map);
        return NULL;
    }
    map->bucketCount = kMinBuckets;
    map->size = 0;
    map->hashCode = default_HashCode;
    map->equal = hashmap_equal;
    map->put = hashmap_put;
    map->get = hashmap_get;
    map->remove = hashmap_remove;
    map->clear = hashmap_clear;
    map->exists = hashmap_exists;
    return map;
}

int default_HashCode(HashMap *map, const char *key) {
    if (map == NULL || key == NULL || map->bucketCount <= 0) return 0;
    unsigned int h = 0;
    for (const unsigned char *p = (const unsigned char *)key; *p != '\0'; ++p) {
        h = h * 131u + *p;
    }
    return (int)((h & 0x7FFFFFFFu) % (unsigned int)map->bucketCount);
}

int hashmap_equal(const char *key1, const char *key2) {
    if (key1 == NULL || key2 == NULL) return key1 == key2;
    return strcmp(key1, key2) == 0 ? 1 : 0;
}

// The entry of key, or NULL.
static HashMapEntry *find_entry(HashMap *map, const char *key) {
    HashMapEntry *entry = &map->buckets[map->hashCode(map, key)];
    if (entry->key == NULL) return NULL;
    for (; entry != NULL; entry = entry->next) {
        if (map->equal(entry->key, key)) return entry;
    }
    return NULL;
}

// Stores the two copies, taking them over; 0 when the put cannot be done.
static int put_copies(HashMap *map, char *key, char *value) {
    if (map->size >= map->bucketCount) {
        int before = map->bucketCount;
        if (before <= INT_MAX / 2) hashmap_reset(map, before * 2);
        if (map->bucketCount == before) return 0;  // the load factor would pass 1
    }
    HashMapEntry *head = &map->buckets[map->hashCode(map, key)];
    if (head->key == NULL) {
        head->key = key;
        head->value = value;
        map->size++;
        return 1;
    }
    for (HashMapEntry *entry = head; entry != NULL; entry = entry->next) {
        if (map->equal(entry->key, key)) {
            free(entry->value);
            entry->value = value;
            free(key);
            return 1;
        }
    }
    HashMapEntry *node = malloc(sizeof(HashMapEntry));
    if (node == NULL) return 0;
    node->key = key;
    node->value = value;
    node->next = head->next;
    head->next = node;
    map->size++;
    return 1;
}

void hashmap_put(HashMap *map, const char *key, const char *value) {
    if (map == NULL || key == NULL || value == NULL) return;
    char *keyCopy = string_copy(key);
    char *valueCopy = string_copy(value);
    if (keyCopy == NULL || valueCopy == NULL || !put_copies(map, keyCopy, valueCopy)) {
        free(keyCopy);
        free(valueCopy);
    }
}

char *hashmap_get(HashMap *map, const char *key) {
    if (map == NULL || key == NULL) return NULL;
    HashMapEntry *entry = &map->buckets[map->hashCode(map, key)];
    if (entry->key == NULL) {
        printf("This key %s does not exist.\n", key);
        return NULL;
    }
    for (; entry != NULL; entry = entry->next) {
        if (map->equal(entry->key, key)) return entry->value;
    }
    return NULL;
}

int hashmap_exists(HashMap *map, const char *key) {
    if (map == NULL || key == NULL) return 0;
    return find_entry(map, key) != NULL ? 1 : 0;
}

// Removes key from the non-empty bucket whose head is given; 1 when it was there.
static int remove_from_bucket(HashMap *map, HashMapEntry *head, const char *key) {
    if (map->equal(head->key, key)) {
        free(head->key);
        free(head->value);
        HashMapEntry *first = head->next;
        if (first != NULL) {
            *head = *first;  // the chain moves up, keeping its order
            free(first);
        } else {
            head->key = NULL;
            head->value = NULL;
        }
        map->size--;
        return 1;
    }
    for (HashMapEntry *prev = head; prev->next != NULL; prev = prev->next) {
        HashMapEntry *node = prev->next;
        if (map->equal(node->key, key)) {
            prev->next = node->next;
            hashmap_delete_entry(node);
            map->size--;
            return 1;
        }
    }
    return 0;
}

int hashmap_remove(HashMap *map, const char *key) {
    if (map == NULL || key == NULL) return 0;
    HashMapEntry *head = &map->buckets[map->hashCode(map, key)];
    if (head->key == NULL) return 0;
    int removed = remove_from_bucket(map, head, key);
    if (map->size < map->bucketCount / 2) hashmap_reset(map, map->bucketCount / 2);
    return removed;
}

void hashmap_clear(HashMap *map) {
    if (map == NULL) return;
    release_entries(map);
    if (map->bucketCount == kMinBuckets) return;
    // Shrinking cannot lose entries any more; if it fails the empty larger array stays.
    HashMapEntry *buckets = calloc(kMinBuckets, sizeof(HashMapEntry));
    if (buckets == NULL) return;
    free(map->buckets);
    map->buckets = buckets;
    map->bucketCount = kMinBuckets;
}

void hashmap_delete(HashMap *map) {
    if (map == NULL) return;
    release_entries(map);
    free(map->buckets);
    free(map);
}

void hashmap_delete_entry(HashMapEntry *entry) {
    if (entry == NULL) return;
    free(entry->key);
    free(entry->value);
    free(entry);
}

// Re-inserts every pair, in iteration order and through the put slot, into a fresh bucket
// array; the old entries are released only once all pairs made it, so a failed allocation
// leaves the map as it was.
void hashmap_reset(HashMap *map, int bucketCount) {
    if (map == NULL || bucketCount < kMinBuckets) return;
    HashMap rebuilt = *map;
    rebuilt.buckets = calloc((size_t)bucketCount, sizeof(HashMapEntry));
    if (rebuilt.buckets == NULL) return;
    rebuilt.bucketCount = bucketCount;
    rebuilt.size = 0;

    HashMapIterator it = {map, NULL, -1, 0};
    while (hashmap_hasNext(&it)) {
        hashmap_next(&it);
        int before = rebuilt.size;
        rebuilt.put(&rebuilt, it.entry->key, it.entry->value);
        if (rebuilt.size != before + 1) {
            release_entries(&rebuilt);
            free(rebuilt.buckets);
            return;
        }
    }
    release_entries(map);
    free(map->buckets);
    map->buckets = rebuilt.buckets;
    map->bucketCount = rebuilt.bucketCount;
    map->size = rebuilt.size;
}

HashMapIterator *hashmap_iterator(HashMap *map) {
    HashMapIterator *it = malloc(sizeof(HashMapIterator));
    if (it == NULL) return NULL;
    it->map = map;
    it->entry = NULL;
    it->bucket = -1;
    it->count = 0;
    return it;
}

int hashmap_hasNext(HashMapIterator *iterator) {
    if (iterator == NULL || iterator->map == NULL) return 0;
    return iterator->count < iterator->map->size ? 1 : 0;
}

HashMapIterator *hashmap_next(HashMapIterator *iterator) {
    if (!hashmap_hasNext(iterator)) return iterator;
    if (iterator->entry != NULL && iterator->entry->next != NULL) {
        iterator->entry = iterator->entry->next;
        iterator->count++;
        return iterator;
    }
    HashMap *map = iterator->map;
    while (++iterator->bucket < map->bucketCount) {
        HashMapEntry *head = &map->buckets[iterator->bucket];
        if (head->key != NULL) {
            iterator->entry = head;
            iterator->count++;
            return iterator;
        }
    }
    return iterator;
}

ListNode *list_create(void) {
    return calloc(1, sizeof(ListNode));
}

ListNode *list_head(ListNode *node) {
    while (node != NULL && node->prev != NULL) node = node->prev;
    return node;
}

ListNode *list_tail(ListNode *node) {
    while (node != NULL && node->next != NULL) node = node->next;
    return node;
}

ListNode *list_index(ListNode *node, int count) {
    for (int i = 0; i < count; ++i) {
        node = node != NULL ? node->next : NULL;
        if (node == NULL) {
            printf("Index Out Of Bounds\n");
            return NULL;
        }
    }
    return node;
}

ListNode *list_append(ListNode *list, char *data) {
    ListNode *node = calloc(1, sizeof(ListNode));
    if (node == NULL) return list;
    node->data = data;
    if (list == NULL) return node;  // an empty list becomes the new node
    ListNode *tail = list_tail(list);
    node->prev = tail;
    tail->next = node;
    return list;
}

ListNode *list_remove(ListNode *list, const char *data) {
    ListNode *head = list_head(list);
    if (data == NULL) return head;
    for (ListNode *node = head; node != NULL; node = node->next) {
        if (node->data == NULL || strcmp(node->data, data) != 0) continue;
        if (node->prev != NULL) node->prev->next = node->next;
        if (node->next != NULL) node->next->prev = node->prev;
        if (node == head) head = node->next;
        free(node);
        return head;
    }
    printf("node %s is not exist\n", data);
    return head;
}

void list_delete(ListNode *list) {
    ListNode *node = list_head(list);
    while (node != NULL) {
        ListNode *next = node->next;
        free(node);
        node = next;
    }
}
