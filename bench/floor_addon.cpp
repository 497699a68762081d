// The floors of a JS call into the module: `floor` reads one string argument and returns an int;
// `position` reads the id the same way and returns the engine's position of the player taken by
// `bindPlayer`; `positionRef` does the same holding a reference of its own for the query, as every
// operation of the module must. That last one is what _getCurrentPosition costs without a layer of
// its own. The module hides its registry, so the addon carries a copy of the module's objects,
// built the same way, and offers its methods too: the floors and that copy's _getCurrentPosition
// share one player. For bench/life.js and bench/memory.js: a player's life on the engine API alone,
// and the C heap in use.
#include <node_api.h>

#include <condition_variable>
#include <mutex>
#include <string>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "kvmp.h"
#include "napi/method_tables.h"
#include "proxy/kavori_player_proxy.h"

namespace {

KavoriCloudMediaPlayer *bound = nullptr;  // JS thread only; holds one engine reference

// Reads argument 0 as the module reads an id; gives its length in bytes.
size_t ReadId(napi_env env, napi_callback_info info, char (&text)[2048]) {
    size_t argc = 1;
    napi_value arg = nullptr;
    napi_get_cb_info(env, info, &argc, &arg, nullptr, nullptr);
    size_t length = 0;
    napi_get_value_string_utf8(env, arg, text, sizeof(text), &length);
    return length;
}

napi_value Int(napi_env env, int32_t value) {
    napi_value result = nullptr;
    napi_create_int32(env, value, &result);
    return result;
}

napi_value Floor(napi_env env, napi_callback_info info) {
    char text[2048];
    return Int(env, static_cast<int32_t>(ReadId(env, info, text)));
}

napi_value Position(napi_env env, napi_callback_info info) {
    char text[2048];
    ReadId(env, info, text);
    return Int(env, kvmp_get_current_position(bound));
}

napi_value PositionRef(napi_env env, napi_callback_info info) {
    char text[2048];
    ReadId(env, info, text);
    KavoriCloudMediaPlayer *mp = bound;
    kvmp_inc_ref(mp);
    int32_t position = kvmp_get_current_position(mp);
    kvmp_dec_ref_p(&mp);
    return Int(env, position);
}

// bindPlayer(id): takes the module's engine player of id for `position` (null drops it); gives
// whether there is one.
napi_value BindPlayer(napi_env env, napi_callback_info info) {
    char text[2048];
    size_t length = ReadId(env, info, text);
    if (bound != nullptr) kvmp_dec_ref_p(&bound);
    std::string id(text, length);
    if (length > 0) bound = KavoriCloudPlayerNapiProxy(id).get_media_player(id);
    napi_value result = nullptr;
    napi_get_boolean(env, bound != nullptr, &result);
    return result;
}

// The lives of engineLife, shared with their message threads.
struct Lives {
    std::mutex mutex;
    std::condition_variable changed;
    uint32_t prepared = 0;  // PREPARED messages taken
    uint32_t answered = 0;  // PREPARED or ERROR messages taken: a failed prepare ends a life too
    uint32_t threads = 0;   // message threads not yet ended
};

// A message thread as the engine's API asks for one: every message taken and freed until shutdown.
int LifeLoop(void *arg) {
    auto *mp = static_cast<KavoriCloudMediaPlayer *>(arg);
    auto *lives = static_cast<Lives *>(kvmp_get_weak_thiz(mp));
    EngineMessage message{};
    while (kvmp_get_msg(mp, &message, 1) > 0) {
        if (message.what == KVP_MSG_PREPARED || message.what == KVP_MSG_ERROR) {
            std::lock_guard<std::mutex> lock(lives->mutex);
            lives->prepared += message.what == KVP_MSG_PREPARED;
            ++lives->answered;
            lives->changed.notify_all();
        }
        msg_free_res(&message);
    }
    kvmp_dec_ref_p(&mp);
    std::lock_guard<std::mutex> lock(lives->mutex);
    --lives->threads;
    lives->changed.notify_all();
    return 0;
}

// engineLife(n): n players' lives on the engine alone, one after another: create, a "script:200"
// source, prepare, its PREPARED message taken on the player's message thread, shutdown and the
// last reference dropped; returns once every message thread has ended, with the count of those
// prepared (a failed prepare ends its life early).
napi_value EngineLife(napi_env env, napi_callback_info info) {
    size_t argc = 1;
    napi_value arg = nullptr;
    napi_get_cb_info(env, info, &argc, &arg, nullptr, nullptr);
    uint32_t n = 0;
    napi_get_value_uint32(env, arg, &n);
    kvmp_global_init();
    Lives lives;
    for (uint32_t i = 0; i < n; ++i) {
        KavoriCloudMediaPlayer *mp = kvmp_create(LifeLoop);
        if (mp == nullptr) break;
        {
            std::lock_guard<std::mutex> lock(lives.mutex);
            ++lives.threads;
        }
        kvmp_set_weak_thiz(mp, &lives);
        kvmp_set_data_source(mp, "script:200");
        kvmp_prepare_async(mp);
        {
            std::unique_lock<std::mutex> lock(lives.mutex);
            lives.changed.wait(lock, [&] { return lives.answered > i; });
        }
        kvmp_shutdown(mp);
        kvmp_dec_ref_p(&mp);
    }
    std::unique_lock<std::mutex> lock(lives.mutex);
    lives.changed.wait(lock, [&] { return lives.threads == 0; });
    return Int(env, static_cast<int32_t>(lives.prepared));
}

// heapInUse(): bytes the C heap has handed out and not taken back; -1 where it cannot tell.
napi_value HeapInUse(napi_env env, napi_callback_info) {
    double bytes = -1;
#if defined(__GLIBC__)
    bytes = static_cast<double>(mallinfo2().uordblks);
#endif
    napi_value result = nullptr;
    napi_create_double(env, bytes, &result);
    return result;
}

napi_value Init(napi_env env, napi_value exports) {
    const napi_property_descriptor methods[] = {
        {"floor", nullptr, Floor, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"position", nullptr, Position, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"positionRef", nullptr, PositionRef, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"bindPlayer", nullptr, BindPlayer, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"engineLife", nullptr, EngineLife, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"heapInUse", nullptr, HeapInUse, nullptr, nullptr, nullptr, napi_default, nullptr},
    };
    napi_define_properties(env, exports, sizeof(methods) / sizeof(methods[0]), methods);
    napi_define_properties(env, exports, kModuleMethodCount, kModuleMethods);
    return exports;
}

}  // namespace

NAPI_MODULE(NODE_GYP_MODULE_NAME, Init)
