// The two method tables, the JS constructor and Export.
#include "napi/method_tables.h"

#include <iterator>

#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "napi/napi_util.h"
#include "util/ohos_log.h"

#define KAVORI_METHOD(jsName, handler)                                                            \
    {                                                                                             \
        jsName, nullptr, KavoriCloudPlayerNapi::handler, nullptr, nullptr, nullptr, napi_default, \
            nullptr                                                                               \
    }

// Rows shared by both tables, in their common order.
#define KAVORI_COMMON_METHODS                                                                   \
    KAVORI_METHOD("_setDataSource", setDataSource),                                             \
        KAVORI_METHOD("_setDataSourceFd", setDataSourceFd),                                     \
        KAVORI_METHOD("_setDecryptTokenForHLS", setDecryptTokenForHLS),                         \
        KAVORI_METHOD("_setOption", setOption), KAVORI_METHOD("_setOptionLong", setOptionLong), \
        KAVORI_METHOD("_prepareAsync", prepareAsync), KAVORI_METHOD("_start", start),           \
        KAVORI_METHOD("_stop", stop), KAVORI_METHOD("_pause", pause),                           \
        KAVORI_METHOD("_reset", reset), KAVORI_METHOD("_release", release),                     \
        KAVORI_METHOD("_seekTo", seekTo), KAVORI_METHOD("_isPlaying", isPlaying),               \
        KAVORI_METHOD("_setMessageListener", setMessageListener),                               \
        KAVORI_METHOD("_getDuration", getDuration),                                             \
        KAVORI_METHOD("_getCurrentPosition", getCurrentPosition),                               \
        KAVORI_METHOD("_setPropertyFloat", setPropertyFloat),                                   \
        KAVORI_METHOD("_getPropertyFloat", getPropertyFloat),                                   \
        KAVORI_METHOD("_setPropertyLong", setPropertyLong),                                     \
        KAVORI_METHOD("_getPropertyLong", getPropertyLong),                                     \
        KAVORI_METHOD("_getAudioSessionId", getAudioSessionId),                                 \
        KAVORI_METHOD("_setVolume", setVolume), KAVORI_METHOD("_setLoopCount", setLoopCount),   \
        KAVORI_METHOD("_getLoopCount", getLoopCount),                                           \
        KAVORI_METHOD("_getVideoCodecInfo", getVideoCodecInfo),                                 \
        KAVORI_METHOD("_getAudioCodecInfo", getAudioCodecInfo),                                 \
        KAVORI_METHOD("_setStreamSelected", setStreamSelected),                                 \
        KAVORI_METHOD("_getMediaMeta", getMediaMeta),                                           \
        KAVORI_METHOD("_nativeOpenlog", nativeOpenlog)

const napi_property_descriptor kModuleMethods[] = {
    KAVORI_COMMON_METHODS,
    KAVORI_METHOD("_native_init", native_init),
    KAVORI_METHOD("_native_init_audio", native_init_audio),
    KAVORI_METHOD("_native_setup", native_setup),
    KAVORI_METHOD("_native_setup_audio", native_setup_audio),
};

const napi_property_descriptor kExportMethods[] = {
    KAVORI_COMMON_METHODS,
    KAVORI_METHOD("_native_init", native_init),
    KAVORI_METHOD("_native_setup", native_setup),
    KAVORI_METHOD("_startRecord", startRecord),
    KAVORI_METHOD("_stopRecord", stopRecord),
    KAVORI_METHOD("_isRecord", isRecord),
    KAVORI_METHOD("_addExtSubtitleUrl", addExtSubtitleUrl),
};

const size_t kModuleMethodCount = std::size(kModuleMethods);
const size_t kExportMethodCount = std::size(kExportMethods);
static_assert(std::size(kModuleMethods) == 33, "the module method table has 33 methods");
static_assert(std::size(kExportMethods) == 35, "the export method table has 35 methods");

napi_value KavoriCloudPlayerNapi::JsConstructor(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        LOGI("napi-->JsConstructor");
        size_t argc = 2;
        napi_value args[2] = {nullptr, nullptr};
        napi_value thisArg = nullptr;
        napi_get_cb_info(env, info, &argc, args, &thisArg, nullptr);
        std::string id;
        NapiUtil::JsValueToString(env, args[0], kJsTextBufferSize, id);
        bool isVideo = false;
        napi_get_value_bool(env, args[1], &isVideo);
        LookUpOrCreate(id, isVideo);
        return thisArg;
    });
}

napi_value KavoriCloudPlayerNapi::Export(napi_env env, napi_value exports) {
    LOGI("KavoriCloudPlayerNapi::Export");
    if (napi_define_properties(env, exports, kExportMethodCount, kExportMethods) != napi_ok) {
        ThrowLastNapiError(env);
        return nullptr;
    }
    return exports;
}
