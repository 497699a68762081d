// Module entry: hands the module record to the Node-API host at load time.
#include <napi/native_api.h>

#include "napi/id_claims.h"
#include "napi/kavori_player_napi.h"
#include "napi/method_tables.h"
#include "napi/routed_listener.h"
#include "util/kavori_export.h"

static napi_value ModuleInit(napi_env env, napi_value exports) {
    static const char kClassName[] = "KavoriCloudPlayerNapi";
    napi_value cls = nullptr;
    napi_define_class(env, kClassName, sizeof(kClassName) - 1, KavoriCloudPlayerNapi::JsConstructor,
                      nullptr, kModuleMethodCount, kModuleMethods, &cls);
    napi_set_named_property(env, exports, "newKavoriPlayerAudio", cls);
    napi_define_properties(env, exports, kModuleMethodCount, kModuleMethods);
    // The ArkTS package's way to per-player events; outside the method table and, like its
    // methods, not enumerable, so code that lists the exports sees what it always saw.
    static const napi_property_descriptor kRouting[] = {
        {"_setRoutedListener", nullptr, SetRoutedListener, nullptr, nullptr, nullptr, napi_default,
         nullptr},
        {"_routeEvents", nullptr, RouteEvents, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"_routeOwner", nullptr, RouteOwner, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"_routeCount", nullptr, RouteCount, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"_claimId", nullptr, ClaimId, nullptr, nullptr, nullptr, napi_default, nullptr},
    };
    napi_define_properties(env, exports, sizeof(kRouting) / sizeof(kRouting[0]), kRouting);
    return exports;
}

static napi_module g_module = {
    1,                          // nm_version
    0,                          // nm_flags
    nullptr,                    // nm_filename
    ModuleInit,                 // nm_register_func
    "kavoriplayer_audio_napi",  // nm_modname
    nullptr,                    // nm_priv
    {nullptr, nullptr, nullptr, nullptr},
};

extern "C" __attribute__((constructor(101))) void RegisterModule(void) {
    napi_module_register(&g_module);
}

#ifdef KAVORI_NODE_HOST
// The module is never unloaded (src/CMakeLists.txt), so its load-time registration runs once. Node
// forgets it when the last environment that loaded the module ends; a later load then finds the
// module by this name.
extern "C" KAVORI_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
    return ModuleInit(env, exports);
}
#endif
