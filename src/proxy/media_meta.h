// Flattening of the engine's per-stream metadata into one HashMap.
#ifndef KAVORI_PROXY_MEDIA_META_H
#define KAVORI_PROXY_MEDIA_META_H

#include "kvmp.h"
#include "util/hashmap.h"

// The engine's own text for key (not a copy), or null when the node has none.
const char *getFromMediaMetaByKey(KavoriCloudMediaMeta *node, const char *key);
// Stores the codec keys of node, then its video or audio keys as type says.
void putCodecMetaByType(const char *type, HashMap *map, KavoriCloudMediaMeta *node);

#endif
