// Player control methods: each converts its texts, calls one adapter and makes its JS result.
#include <string>

#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "napi/napi_util.h"
#include "napi/routed_listener.h"
#include "proxy/adapter_run.h"
#include "proxy/engine_ref.h"
#include "util/ohos_log.h"

using Proxy = KavoriCloudPlayerNapiProxy;

namespace {

// The id-only methods are built whole into each handler: a call and a closure between the parts
// would weigh on the fastest queries.

// A method whose only argument is the id and whose adapter takes nothing and gives nothing.
template <void (Proxy::*Adapter)()>
[[gnu::always_inline]] inline napi_value Command(napi_env env, napi_callback_info info,
                                                 const char *entryLine) {
    return RunMethod([&]() __attribute__((always_inline))->napi_value {
        (IdOnlyInstance(env, info, entryLine)->proxy()->*Adapter)();
        return nullptr;
    });
}

// A method whose only argument is the id and whose adapter gives an int.
template <int (Proxy::*Adapter)()>
[[gnu::always_inline]] inline napi_value IntQuery(napi_env env, napi_callback_info info,
                                                  const char *entryLine) {
    return RunMethod([&]() __attribute__((always_inline))->napi_value {
        Proxy *proxy = IdOnlyInstance(env, info, entryLine)->proxy();
        return NapiUtil::SetNapiCallInt32(env, (proxy->*Adapter)());
    });
}

// A string argument that passes through an int: only its low 32 bits survive.
long LongViaInt(const std::string &text) {
    return static_cast<int>(static_cast<unsigned long>(NapiUtil::StringToLong(text)));
}

napi_value CodecInfoResult(napi_env env, const char *text) {
    return JsString(env, text != nullptr ? text : "");
}

}  // namespace

napi_value KavoriCloudPlayerNapi::setDataSource(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 2, "napi-->setDataSource");
        LOGI("napi-->setDataSource-->url:%s", frame.text(1).c_str());
        LOGI("napi-->setDataSource end id->%s", frame.id().c_str());
        frame.proxy()->KavoriCloudMediaPlayer_setDataSource(frame.chars(1));
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::setDataSourceFd(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 2, "napi-->setDataSourceFd");
        LOGI("napi-->setDataSourceFd-->fdStr:%s", frame.text(1).c_str());
        LOGI("napi-->setDataSourceFd end id->%s", frame.id().c_str());
        Proxy *proxy = frame.proxy();
        proxy->KavoriCloudMediaPlayer_setDataSourceFd(NapiUtil::StringToInt(frame.text(1)));
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::setDecryptTokenForHLS(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 2, "napi-->setDecryptTokenForHLS");
        LOGI("napi-->setDecryptTokenForHLS end id->%s", frame.id().c_str());
        frame.proxy()->KavoriCloudMediaPlayer_setDecryptTokenForHLS(frame.chars(1));
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::setOption(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 4, "napi-->setOption");
        LOGI("napi-->setOption-->category:%d,key:%s,value:%s", NapiUtil::StringToInt(frame.text(1)),
             frame.text(2).c_str(), frame.text(3).c_str());
        Proxy *proxy = frame.proxy();
        proxy->KavoriCloudMediaPlayer_setOption(NapiUtil::StringToInt(frame.text(1)),
                                                frame.chars(2), frame.chars(3));
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::setOptionLong(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 4, "napi-->setOptionLong");
        LOGI("napi-->setOptionLong-->category:%d,key:%s,value:%s",
             NapiUtil::StringToInt(frame.text(1)), frame.text(2).c_str(), frame.text(3).c_str());
        Proxy *proxy = frame.proxy();
        proxy->KavoriCloudMediaPlayer_setOptionLong(NapiUtil::StringToInt(frame.text(1)),
                                                    frame.chars(2),
                                                    NapiUtil::StringToInt(frame.text(3)));
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::setVolume(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 3, "napi-->setVolume");
        LOGI("napi-->setVolume-->leftVolume:%s,rightVolume:%s", frame.text(1).c_str(),
             frame.text(2).c_str());
        Proxy *proxy = frame.proxy();
        proxy->KavoriCloudMediaPlayer_setVolume(NapiUtil::StringToFloat(frame.text(1)),
                                                NapiUtil::StringToFloat(frame.text(2)));
        return nullptr;
    });
}

// An owned player keeps its environment alive from its prepare on, so its events are not cut off
// between batches.
napi_value KavoriCloudPlayerNapi::prepareAsync(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        KavoriCloudPlayerNapi *instance = IdOnlyInstance(env, info, "napi-->prepareAsync");
        EngineRef mp(instance->proxy()->get_media_player(instance->id()));
        if (mp) keep_alive_for(env, mp.get());
        instance->proxy()->KavoriCloudMediaPlayer_prepareAsync();
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::start(napi_env env, napi_callback_info info) {
    return Command<&Proxy::KavoriCloudMediaPlayer_start>(env, info, "napi-->start");
}

napi_value KavoriCloudPlayerNapi::stop(napi_env env, napi_callback_info info) {
    return Command<&Proxy::KavoriCloudMediaPlayer_stop>(env, info, "napi-->stop");
}

napi_value KavoriCloudPlayerNapi::pause(napi_env env, napi_callback_info info) {
    return Command<&Proxy::KavoriCloudMediaPlayer_pause>(env, info, "napi-->pause");
}

napi_value KavoriCloudPlayerNapi::reset(napi_env env, napi_callback_info info) {
    return Command<&Proxy::KavoriCloudMediaPlayer_reset>(env, info, "napi-->reset");
}

napi_value KavoriCloudPlayerNapi::release(napi_env env, napi_callback_info info) {
    return Command<&Proxy::KavoriCloudMediaPlayer_release>(env, info, "napi-->release");
}

napi_value KavoriCloudPlayerNapi::getDuration(napi_env env, napi_callback_info info) {
    return IntQuery<&Proxy::KavoriCloudMediaPlayer_getDuration>(env, info, "napi-->getDuration");
}

napi_value KavoriCloudPlayerNapi::getCurrentPosition(napi_env env, napi_callback_info info) {
    return IntQuery<&Proxy::KavoriCloudMediaPlayer_getCurrentPosition>(env, info, nullptr);
}

napi_value KavoriCloudPlayerNapi::getAudioSessionId(napi_env env, napi_callback_info info) {
    return IntQuery<&Proxy::KavoriCloudMediaPlayer_getAudioSessionId>(env, info,
                                                                      "napi-->getAudioSessionId");
}

napi_value KavoriCloudPlayerNapi::getLoopCount(napi_env env, napi_callback_info info) {
    return IntQuery<&Proxy::KavoriCloudMediaPlayer_getLoopCount>(env, info, "napi-->getLoopCount");
}

napi_value KavoriCloudPlayerNapi::seekTo(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 2, "napi-->seekTo");
        LOGI("napi-->seekTo-->msec:%d", NapiUtil::StringToInt(frame.text(1)));
        Proxy *proxy = frame.proxy();
        proxy->KavoriCloudMediaPlayer_seekTo(NapiUtil::StringToInt(frame.text(1)));
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::isPlaying(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        Proxy *proxy = IdOnlyInstance(env, info, nullptr)->proxy();
        return NapiUtil::SetNapiCallBool(env, proxy->KavoriCloudMediaPlayer_isPlaying());
    });
}

napi_value KavoriCloudPlayerNapi::setPropertyFloat(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 3, "napi-->setPropertyFloat");
        Proxy *proxy = frame.proxy();
        proxy->KavoriCloudMediaPlayer_setPropertyFloat(NapiUtil::StringToInt(frame.text(1)),
                                                       NapiUtil::StringToFloat(frame.text(2)));
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::getPropertyFloat(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 3, "napi-->getPropertyFloat");
        Proxy *proxy = frame.proxy();
        float value = proxy->KavoriCloudMediaPlayer_getPropertyFloat(
            NapiUtil::StringToInt(frame.text(1)), NapiUtil::StringToFloat(frame.text(2)));
        return JsString(env, std::to_string(value));
    });
}

napi_value KavoriCloudPlayerNapi::setPropertyLong(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 3, "napi-->setPropertyLong");
        Proxy *proxy = frame.proxy();
        proxy->KavoriCloudMediaPlayer_setPropertyLong(NapiUtil::StringToInt(frame.text(1)),
                                                      LongViaInt(frame.text(2)));
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::getPropertyLong(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 3, "napi-->getPropertyLong");
        Proxy *proxy = frame.proxy();
        long value = proxy->KavoriCloudMediaPlayer_getPropertyLong(
            NapiUtil::StringToInt(frame.text(1)), LongViaInt(frame.text(2)));
        return JsString(env, std::to_string(value));
    });
}

napi_value KavoriCloudPlayerNapi::setLoopCount(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 2, "napi-->setLoopCount");
        Proxy *proxy = frame.proxy();
        proxy->KavoriCloudMediaPlayer_setLoopCount(NapiUtil::StringToInt(frame.text(1)));
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::getVideoCodecInfo(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        Proxy *proxy = IdOnlyInstance(env, info, "napi-->getVideoCodecInfo")->proxy();
        const char *text = proxy->KavoriCloudMediaPlayer_getVideoCodecInfo();
        LOGI("napi-->getVideoCodecInfo result:%s", text != nullptr ? text : "");
        return CodecInfoResult(env, text);
    });
}

napi_value KavoriCloudPlayerNapi::getAudioCodecInfo(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        Proxy *proxy = IdOnlyInstance(env, info, "napi-->getAudioCodecInfo")->proxy();
        return CodecInfoResult(env, proxy->KavoriCloudMediaPlayer_getAudioCodecInfo());
    });
}

napi_value KavoriCloudPlayerNapi::setStreamSelected(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 3, "napi-->setStreamSelected");
        Proxy *proxy = frame.proxy();
        proxy->KavoriCloudMediaPlayer_setStreamSelected(NapiUtil::StringToInt(frame.text(1)),
                                                        NapiUtil::StringToBool(frame.text(2)));
        return nullptr;
    });
}

napi_value KavoriCloudPlayerNapi::addExtSubtitleUrl(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 2, "napi-->addExtSubtitleUrl");
        LOGI("napi-->ExtSubtitleUrl-->url:%s", frame.text(1).c_str());
        LOGI("napi-->ExtSubtitleUrl end id->%s", frame.id().c_str());
        frame.proxy()->KavoriCloudMediaPlayer_addExtSubtitleUrl(frame.chars(1));
        return nullptr;
    });
}
