// Engine set-up methods: create or set up the engine player of an id.
#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "proxy/kavori_player_proxy.h"
#include "util/ohos_log.h"

napi_value KavoriCloudPlayerNapi::native_init(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 1, "napi-->native_init");
        LOGI("napi-->native_init id->%s", frame.id().c_str());
        setXComponentId(frame.id());
        OH_NativeXComponent *component = frame.instance()->getXComponent(frame.id());
        void *window = frame.instance()->getNativeWindow(frame.id());
        frame.proxy()->KavoriCloudMediaPlayer_native_init(component, window);
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::native_init_audio(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 1, "napi-->native_init_audio");
        LOGI("napi-->native_init_audio id->%s", frame.id().c_str());
        setXComponentId(frame.id());
        OH_NativeXComponent *component = frame.instance()->getXComponent(frame.id());
        frame.proxy()->KavoriCloudMediaPlayer_native_init_audio(component);
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::native_setup(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 1, "napi-->native_setup");
        frame.proxy()->KavoriCloudMediaPlayer_native_setup();
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::native_setup_audio(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        // native_setup's lines: log readers find both set-ups, with their ids, by one text.
        MethodFrame frame(env, info, 1, "napi-->native_setup");
        LOGI("napi-->native_setup id->%s", frame.id().c_str());
        frame.proxy()->KavoriCloudMediaPlayer_native_setup_audio();
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::nativeOpenlog(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 1, "napi-->nativeOpenlog");
        frame.proxy()->KavoriCloudMediaPlayer_native_openlog();
        return nullptr;
    });
}
