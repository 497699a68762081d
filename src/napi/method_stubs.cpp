// Neutral stand-ins for JS methods that are not built yet: each resolves its id and instance and
// gives its neutral result. Removed one by one (targeted edits; others edit this file too).
#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "napi/napi_util.h"

namespace {
napi_value Neutral(napi_env env, napi_callback_info info, size_t argc) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, argc, nullptr);
        frame.instance();
        return nullptr;
    });
}
}  // namespace

// --- event bridge
napi_value KavoriCloudPlayerNapi::setMessageListener(napi_env env, napi_callback_info info) {
    return Neutral(env, info, 2);
}

// --- recording
napi_value KavoriCloudPlayerNapi::startRecord(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 2, nullptr);
        frame.instance();
        return NapiUtil::SetNapiCallInt32(env, 0);
    });
}
napi_value KavoriCloudPlayerNapi::isRecord(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 1, nullptr);
        frame.instance();
        return NapiUtil::SetNapiCallInt32(env, 0);
    });
}
napi_value KavoriCloudPlayerNapi::stopRecord(napi_env env, napi_callback_info info) {
    return Neutral(env, info, 1);
}

// --- surface binding
OH_NativeXComponent_Callback KavoriCloudPlayerNapi::callback_{};
OH_NativeXComponent_Callback *KavoriCloudPlayerNapi::getNXComponentCallback() {
    return &callback_;
}
void KavoriCloudPlayerNapi::setNativeXComponent(OH_NativeXComponent *) {}
void onSurfaceCreatedCB(OH_NativeXComponent *, void *) {}
void onSurfaceChangedCB(OH_NativeXComponent *, void *) {}
void onSurfaceDestroyedCB(OH_NativeXComponent *, void *) {}
void dispatchTouchEventCB(OH_NativeXComponent *, void *) {}
