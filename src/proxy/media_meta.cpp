// Flattens the engine's metadata tree (one child per stream) into a HashMap keyed by bare key
// names, so a key carried by several streams keeps the last stream's value.
//
// Threads: the JS thread only. The tree is engine-owned and read without an engine lock.
#include "proxy/media_meta.h"

#include <cstring>

#include "proxy/engine_ref.h"
#include "proxy/kavori_player_proxy.h"
#include "util/ohos_log.h"

namespace {

const char *const kCodecKeys[] = {
    "codec_name",         "codec_profile", "codec_level",      "codec_long_name",
    "codec_pixel_format", "bitrate",       "codec_profile_id",
};
const char *const kVideoKeys[] = {
    "width", "height", "fps_num", "tbr_num", "tbr_den", "sar_num", "sar_den",
};
const char *const kAudioKeys[] = {"sample_rate", "channel_layout"};

// The map's put slot ignores null values, so a key a stream lacks keeps any earlier value.
template <size_t N>
void PutKeys(HashMap *map, KavoriCloudMediaMeta *node, const char *const (&keys)[N]) {
    for (const char *key : keys) map->put(map, key, getFromMediaMetaByKey(node, key));
}

void PutStream(HashMap *map, KavoriCloudMediaMeta *node) {
    // "type" twice: the second put stores the same value, but a full map grows first, and that
    // growth orders _getMediaMeta's groups differently when no later put would grow it. Callers
    // that compare or store the text rely on that order.
    map->put(map, "type", getFromMediaMetaByKey(node, "type"));
    map->put(map, "type", getFromMediaMetaByKey(node, "type"));
    map->put(map, "language", getFromMediaMetaByKey(node, "language"));
    const char *type = kvmeta_get_string_l(node, "type");
    if (type != nullptr) putCodecMetaByType(type, map, node);
}

}  // namespace

const char *getFromMediaMetaByKey(KavoriCloudMediaMeta *node, const char *key) {
    return kvmeta_get_string_l(node, key);
}

void putCodecMetaByType(const char *type, HashMap *map, KavoriCloudMediaMeta *node) {
    PutKeys(map, node, kCodecKeys);
    if (std::strcmp(type, "video") == 0) {
        PutKeys(map, node, kVideoKeys);
    } else if (std::strcmp(type, "audio") == 0) {
        PutKeys(map, node, kAudioKeys);
    }
}

HashMap *KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_getMediaMeta() {
    EngineRef mp(get_media_player(id_));
    HashMap *map = hashmap_create();
    if (!mp) {
        LOGE("napi_proxy-->KavoriCloudMediaPlayer_getMediaMeta mp NULL");
        return map;
    }
    KavoriCloudMediaMeta *meta = kvmp_get_meta_l(mp.get());
    if (meta == nullptr) {
        LOGE("napi_proxy-->KavoriCloudMediaPlayer_getMediaMeta meta NULL");
        return map;
    }
    if (map == nullptr) return nullptr;  // out of memory
    size_t count = kvmeta_get_children_count_l(meta);
    for (size_t index = 0; index < count; ++index) {
        KavoriCloudMediaMeta *node = kvmeta_get_child_l(meta, index);
        if (node != nullptr) PutStream(map, node);
    }
    return map;
}
