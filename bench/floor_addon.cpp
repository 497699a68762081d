// The floors of a JS call into the module: `floor` reads one string argument and returns an int;
// `position` reads the id the same way and returns the engine's position of the player taken by
// `bindPlayer`; `positionRef` does the same holding a reference of its own for the query, as every
// operation of the module must. That last one is what _getCurrentPosition costs without a layer of
// its own. The module hides its registry, so the addon carries a copy of the module's objects,
// built the same way, and offers its methods too: the floors and that copy's _getCurrentPosition
// share one player.
#include <node_api.h>

#include <string>

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

napi_value Init(napi_env env, napi_value exports) {
    const napi_property_descriptor methods[] = {
        {"floor", nullptr, Floor, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"position", nullptr, Position, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"positionRef", nullptr, PositionRef, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"bindPlayer", nullptr, BindPlayer, nullptr, nullptr, nullptr, napi_default, nullptr},
    };
    napi_define_properties(env, exports, sizeof(methods) / sizeof(methods[0]), methods);
    napi_define_properties(env, exports, kModuleMethodCount, kModuleMethods);
    return exports;
}

}  // namespace

NAPI_MODULE(NODE_GYP_MODULE_NAME, Init)
