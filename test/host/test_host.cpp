// Test host: plays the platform's part for JS tests. It makes XComponents as the UI framework
// would, fires their surface callbacks on the JS thread (the platform's UI thread), and calls the
// module's exported operations as a host application does.
#include <node_api.h>

#include <cstdint>
#include <limits>
#include <string>

#include "napi/kavori_player_napi.h"
#include "napi/napi_util.h"
#include "xcomponent_host.h"

namespace {

constexpr const char *kXComponentProperty = "__NATIVE_XCOMPONENT_OBJ__";

std::string StringArg(napi_env env, napi_value value) {
    char buffer[2048] = {0};
    size_t length = 0;
    napi_get_value_string_utf8(env, value, buffer, sizeof(buffer), &length);
    return std::string(buffer, length);
}

int64_t IntArg(napi_env env, napi_value value, int64_t fallback) {
    int64_t result = fallback;
    if (napi_get_value_int64(env, value, &result) != napi_ok) return fallback;
    return result;
}

// The component behind an object made by createXComponent, or null.
OH_NativeXComponent *ComponentOf(napi_env env, napi_value holder) {
    napi_value wrapper = nullptr;
    void *component = nullptr;
    if (napi_get_named_property(env, holder, kXComponentProperty, &wrapper) != napi_ok)
        return nullptr;
    if (napi_unwrap(env, wrapper, &component) != napi_ok) return nullptr;
    return static_cast<OH_NativeXComponent *>(component);
}

void *WindowArg(napi_env env, napi_value value) {
    return reinterpret_cast<void *>(static_cast<intptr_t>(IntArg(env, value, 0)));
}

template <size_t N>
void Args(napi_env env, napi_callback_info info, napi_value (&args)[N]) {
    size_t argc = N;
    for (auto &arg : args) arg = nullptr;
    napi_get_cb_info(env, info, &argc, args, nullptr, nullptr);
}

napi_value CreateXComponent(napi_env env, napi_callback_info info) {
    napi_value args[1];
    Args(env, info, args);
    OH_NativeXComponent *component = KavoriXComponent_Create(StringArg(env, args[0]).c_str());
    napi_value wrapper = nullptr;
    napi_value holder = nullptr;
    napi_create_object(env, &wrapper);
    napi_wrap(env, wrapper, component, nullptr, nullptr, nullptr);
    napi_create_object(env, &holder);
    napi_set_named_property(env, holder, kXComponentProperty, wrapper);
    return holder;
}

napi_value Attach(napi_env env, napi_callback_info info) {
    napi_value args[2];
    Args(env, info, args);
    std::string id = StringArg(env, args[0]);
    KavoriCloudPlayerNapi::getInstance(id)->setNativeXComponent(ComponentOf(env, args[1]));
    return nullptr;
}

// Fires event as the UI thread would; JS true when a registered callback ran.
napi_value Fire(napi_env env, OH_NativeXComponent *component, KavoriXComponentEvent event,
                napi_value window) {
    napi_value result = nullptr;
    napi_get_boolean(env, KavoriXComponent_Fire(component, event, WindowArg(env, window)) == 0,
                     &result);
    return result;
}

// (xc, window[, width, height]): the surface is created with that size.
napi_value SurfaceCreated(napi_env env, napi_callback_info info) {
    napi_value args[4];
    Args(env, info, args);
    OH_NativeXComponent *component = ComponentOf(env, args[0]);
    KavoriXComponent_SetSize(component, IntArg(env, args[2], 0), IntArg(env, args[3], 0));
    return Fire(env, component, KAVORI_XC_SURFACE_CREATED, args[1]);
}

template <KavoriXComponentEvent Event>
napi_value FireSurfaceEvent(napi_env env, napi_callback_info info) {
    napi_value args[2];
    Args(env, info, args);
    return Fire(env, ComponentOf(env, args[0]), Event, args[1]);
}

// (xc, window[, x, y]): a touch down at (x, y).
napi_value Touch(napi_env env, napi_callback_info info) {
    napi_value args[4];
    Args(env, info, args);
    OH_NativeXComponent *component = ComponentOf(env, args[0]);
    OH_NativeXComponent_TouchEvent event{};
    event.x = static_cast<float>(IntArg(env, args[2], 0));
    event.y = static_cast<float>(IntArg(env, args[3], 0));
    event.type = OH_NATIVEXCOMPONENT_DOWN;
    event.numPoints = 1;
    KavoriXComponent_SetTouchEvent(component, &event);
    return Fire(env, component, KAVORI_XC_TOUCH, args[1]);
}

// (obj[, id]): Export called on the instance of id, as a host holding that instance would.
napi_value ExportTo(napi_env env, napi_callback_info info) {
    napi_value args[2];
    Args(env, info, args);
    std::string id = StringArg(env, args[1]);
    return KavoriCloudPlayerNapi::getInstance(id)->Export(env, args[0]);
}

// (value): the module's report of value thrown by a listener, on a runtime without
// napi_fatal_exception.
napi_value LogUncaughtOf(napi_env env, napi_callback_info info) {
    napi_value args[1];
    Args(env, info, args);
    LogUncaught(env, args[0]);
    return nullptr;
}

// (): whether plain char is signed in the native code (the build's target decides it).
napi_value CharIsSigned(napi_env env, napi_callback_info) {
    napi_value result;
    napi_get_boolean(env, std::numeric_limits<char>::is_signed, &result);
    return result;
}

}  // namespace

NAPI_MODULE_INIT() {
    napi_property_descriptor methods[] = {
        {"createXComponent", nullptr, CreateXComponent, nullptr, nullptr, nullptr, napi_default,
         nullptr},
        {"attach", nullptr, Attach, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"surfaceCreated", nullptr, SurfaceCreated, nullptr, nullptr, nullptr, napi_default,
         nullptr},
        {"surfaceChanged", nullptr, FireSurfaceEvent<KAVORI_XC_SURFACE_CHANGED>, nullptr, nullptr,
         nullptr, napi_default, nullptr},
        {"surfaceDestroyed", nullptr, FireSurfaceEvent<KAVORI_XC_SURFACE_DESTROYED>, nullptr,
         nullptr, nullptr, napi_default, nullptr},
        {"touch", nullptr, Touch, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"exportTo", nullptr, ExportTo, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"logUncaught", nullptr, LogUncaughtOf, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"charIsSigned", nullptr, CharIsSigned, nullptr, nullptr, nullptr, napi_default, nullptr},
    };
    napi_define_properties(env, exports, sizeof(methods) / sizeof(methods[0]), methods);
    return exports;
}
