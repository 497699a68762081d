// "_getMediaMeta": the flattened stream metadata of a player as "key:K,value:V;" groups in the
// map's iteration order.
#include <cstdlib>
#include <memory>
#include <string>

#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "util/hashmap.h"
#include "util/ohos_log.h"

namespace {

struct MapDeleter {
    void operator()(HashMap *map) const { hashmap_delete(map); }
};
struct IteratorDeleter {
    void operator()(HashMapIterator *it) const { std::free(it); }
};

std::string MediaMetaText(HashMap *map) {
    std::string text;
    std::unique_ptr<HashMapIterator, IteratorDeleter> it(hashmap_iterator(map));
    while (hashmap_hasNext(it.get())) {
        hashmap_next(it.get());
        const HashMapEntry *entry = it->entry;
        LOGI("napi-->getMediaMeta { key: %s, value: %s, hashcode: %d }\n", entry->key, entry->value,
             it->bucket);
        text.append("key:").append(entry->key).append(",value:").append(entry->value);
        text.append(";");
    }
    return text;
}

}  // namespace

napi_value KavoriCloudPlayerNapi::getMediaMeta(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 1, "napi-->getMediaMeta");
        std::unique_ptr<HashMap, MapDeleter> map(
            frame.proxy()->KavoriCloudMediaPlayer_getMediaMeta());
        return JsString(env, MediaMetaText(map.get()));
    });
}
