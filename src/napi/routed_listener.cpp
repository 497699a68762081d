// The routed listeners, one per environment, and the routing of players to them.
//
// Threads: each environment's JS thread sets its listener and routes players; its channel's note
// (event_channel.h) says the rest. routedChannels is guarded by channel_mutex().

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "napi/environment_lifetime.h"
#include "napi/event_channel.h"
#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "proxy/engine_ref.h"
#include "proxy/kavori_player_proxy.h"
#include "proxy/player_routes.h"
#include "util/ohos_log.h"

namespace {

// One per environment that set a listener or routed a player; never destroyed (see
// event_channel.h).
auto &routedChannels = *new std::vector<EventChannel *>;

void ForgetLocked(EventChannel &channel) {
    routedChannels.erase(std::remove(routedChannels.begin(), routedChannels.end(), &channel),
                         routedChannels.end());
}

EventChannel *FindLocked(napi_env env) {
    for (EventChannel *channel : routedChannels) {
        if (channel->env == env) return channel;
    }
    return nullptr;
}

// This environment's routed channel; made on first use when `create`. Null when there is none or
// it cannot be made.
EventChannel *RoutedChannelOf(napi_env env, bool create) {
    {
        std::lock_guard<std::mutex> lock(channel_mutex());
        if (EventChannel *channel = FindLocked(env)) return channel;
        if (!create) return nullptr;
        routedChannels.reserve(routedChannels.size() + 1);  // the push below cannot throw
    }
    EventChannel *channel = make_channel(env, nullptr, true, ForgetLocked);
    if (channel == nullptr) return nullptr;
    std::lock_guard<std::mutex> lock(channel_mutex());
    routedChannels.push_back(channel);
    return channel;
}

napi_value JsBoolean(napi_env env, bool value) {
    napi_value result = nullptr;
    napi_get_boolean(env, value, &result);
    return result;
}

// Whether a listener function declares the text parameter, the fifth. Such a listener gets five
// arguments on every call: a JS engine calls a function fastest with as many arguments as it
// declares.
bool DeclaresText(napi_env env, napi_value listener) {
    napi_value length = nullptr;
    uint32_t declared = 0;
    if (napi_get_named_property(env, listener, "length", &length) != napi_ok) {
        napi_value ignored = nullptr;  // a throwing getter: a listener like any other
        napi_get_and_clear_last_exception(env, &ignored);
        return false;
    }
    return napi_get_value_uint32(env, length, &declared) == napi_ok && declared >= 5;
}

}  // namespace

napi_value SetRoutedListener(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        LOGI("napi-->setRoutedListener");
        size_t argc = 1;
        napi_value arg = nullptr;
        napi_valuetype type = napi_undefined;
        napi_get_cb_info(env, info, &argc, &arg, nullptr, nullptr);
        if (argc < 1 || napi_typeof(env, arg, &type) != napi_ok ||
            (type != napi_function && type != napi_null)) {
            LOGE("napi-->setRoutedListener listener is neither a function nor null");
            return JsBoolean(env, false);
        }
        napi_ref listener = nullptr;
        if (type == napi_function && napi_create_reference(env, arg, 1, &listener) != napi_ok) {
            LOGE("napi-->setRoutedListener listener reference failed");
            return JsBoolean(env, false);
        }
        EventChannel *channel = RoutedChannelOf(env, listener != nullptr);
        if (channel == nullptr) {
            if (listener == nullptr) return JsBoolean(env, true);  // nothing to remove
            napi_delete_reference(env, listener);
            LOGE("napi-->setRoutedListener listener registration failed");
            return JsBoolean(env, false);
        }
        set_channel_listener(*channel, listener, listener != nullptr && DeclaresText(env, arg));
        if (listener != nullptr) store_message_loop_callback(post_player_event);
        return JsBoolean(env, true);
    });
}

// The engine player now registered under the frame's id, with a reference; null when there is
// none. Makes no instance: an unknown id costs nothing.
KavoriCloudMediaPlayer *EnginePlayerOf(MethodFrame &frame) {
    KavoriCloudPlayerNapi *instance = KavoriCloudPlayerNapi::find(frame.id());
    return instance == nullptr ? nullptr : instance->proxy()->get_media_player(frame.id());
}

napi_value RouteEvents(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 2, "napi-->routeEvents");
        bool owned = false;
        if (frame.arg(1) != nullptr) napi_get_value_bool(env, frame.arg(1), &owned);
        EngineRef mp(EnginePlayerOf(frame));
        int64_t serial = 0;
        if (mp) {
            store_loop_end_callback(end_player_route);  // before the route can exist
            EventChannel *channel = RoutedChannelOf(env, true);
            if (channel == nullptr) {
                LOGE("napi-->routeEvents registration failed");
            } else {
                // Under the channels' lock: a channel that closes meanwhile takes no route along.
                std::lock_guard<std::mutex> lock(channel_mutex());
                if (channel->open) serial = route_player(mp.get(), channel, owned, frame.id());
            }
        }
        if (serial == kRouteRefused) LOGE("napi-->routeEvents owned by another environment");
        napi_value result = nullptr;
        napi_create_int64(env, serial, &result);
        return result;
    });
}

napi_value RouteOwner(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 1, nullptr);
        EngineRef mp(EnginePlayerOf(frame));
        int32_t owner = 0;
        if (mp) {
            std::lock_guard<std::mutex> lock(channel_mutex());
            owner = route_owner(find_player_serial(mp.get()), FindLocked(env));
        }
        napi_value result = nullptr;
        napi_create_int32(env, owner, &result);
        return result;
    });
}

void keep_alive_for(napi_env env, KavoriCloudMediaPlayer *mp) {
    EventChannel *channel = nullptr;
    {
        std::lock_guard<std::mutex> lock(channel_mutex());
        EventChannel *own = FindLocked(env);
        if (own == nullptr || !own->open || !hold_environment_locked(*own, mp)) return;
        channel = own;
    }
    sync_keep_alive(*channel);
}

napi_value RouteCount(napi_env env, napi_callback_info) {
    size_t count = 0;
    {
        std::lock_guard<std::mutex> lock(channel_mutex());
        count = route_count();
    }
    napi_value result = nullptr;
    napi_create_uint32(env, static_cast<uint32_t>(count), &result);
    return result;
}
