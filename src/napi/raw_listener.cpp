// Threads: see raw_listener.h; its channel's note (event_channel.h) says the rest.
#include "napi/raw_listener.h"

#include <mutex>
#include <utility>

#include "napi/event_channel.h"
#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "proxy/kavori_player_proxy.h"
#include "util/ohos_log.h"

namespace {

thread_local napi_ref stagedListener = nullptr;

}  // namespace

void setCallBackRefMessage(napi_ref const &ref) {
    stagedListener = ref;
}

bool setEnvMessage(napi_env const &env) {
    napi_ref listener = std::exchange(stagedListener, nullptr);
    if (listener == nullptr) return false;
    EventChannel *channel = make_channel(env, listener, false, nullptr);
    if (channel == nullptr) {
        napi_delete_reference(env, listener);
        return false;
    }
    std::unique_lock<std::mutex> lock(channel_mutex());
    EventChannel *old = std::exchange(rawChannel, channel);
    if (old != nullptr) release_channel_locked(lock, *old);
    return true;
}

napi_value KavoriCloudPlayerNapi::setMessageListener(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 2, "napi-->msg----setMessageListener");
        napi_valuetype type = napi_undefined;
        if (frame.arg(1) == nullptr || napi_typeof(env, frame.arg(1), &type) != napi_ok ||
            type != napi_function) {
            LOGE("napi-->setMessageListener listener is not a function");
            frame.instance();
            return nullptr;
        }
        napi_ref ref = nullptr;
        if (napi_create_reference(env, frame.arg(1), 1, &ref) != napi_ok) {
            LOGE("napi-->setMessageListener listener reference failed");
            frame.instance();
            return nullptr;
        }
        setCallBackRefMessage(ref);
        if (!setEnvMessage(env)) LOGE("napi-->setMessageListener listener registration failed");
        frame.proxy()->message_loop_callback(post_player_event);
        return nullptr;
    });
}
