// Engine events to JS. One raw listener for the whole module; each event goes to the listener
// that was registered when it was posted. Besides it, each environment may have one routed
// listener, which gets the events of the engine players that environment routed, each with the
// serial of the player that posted it: what the ArkTS package needs to give every player its own
// events. The way in is event_channel.cpp, the raw listener's registration raw_listener.cpp, the
// routed listener's and the routes' routed_listener.cpp.
//
// Threads: the posters run on engine threads (any number at once) and only queue; the listeners
// are called on the JS thread of the environment that registered them, woken through a thread-safe
// function once per batch. setCallBackRefMessage, setEnvMessage and the two routing methods run on
// that JS thread.
#ifndef KAVORI_NAPI_EVENT_BRIDGE_H
#define KAVORI_NAPI_EVENT_BRIDGE_H

#include <napi/native_api.h>

#include <cstdint>

#include "kvmp.h"
#include "util/event_text.h"

// One event from posting to delivery.
struct CallbackContext {
    uint64_t player = 0;  // the posting player's serial, given to a routed listener
    int32_t what = 0;
    int32_t param1 = 0;
    int32_t param2 = 0;
    EventText obj;  // null: the listener gets three arguments, else four
};

// The poster of the message loops: the event of the player with serial `player` (0: none); obj (or
// null) is taken over and released with free().
void post_player_event(uint64_t player, void *weak, int what, int param1, int param2, char *obj);
// post_player_event for no player: the raw listener only.
void post_event(void *weak, int what, int param1, int param2, char *obj);
// Queues one event for the raw listener; without one the event is dropped.
void messageCallBack(int what, int param1, int param2, char *obj);

// Stages the listener (a strong reference) that the next setEnvMessage on this thread registers.
void setCallBackRefMessage(napi_ref const &ref);
// Registers the staged listener of env in place of the current one. A replaced listener is released
// once the events queued for it are delivered. False (staged reference deleted) when env gives no
// thread-safe function.
bool setEnvMessage(napi_env const &env);

// The routing methods, defined on the module's exports beside the method table (not enumerable):
// _setRoutedListener(listener | null) -> boolean, _routeEvents(id, owned?) -> serial, 0 or -1
// (owned by another environment), _routeOwner(id) -> 0 none, 1 this environment, 2 another, and
// for tests _routeCount() -> routes held.
napi_value SetRoutedListener(napi_env env, napi_callback_info info);
napi_value RouteEvents(napi_env env, napi_callback_info info);
napi_value RouteOwner(napi_env env, napi_callback_info info);
napi_value RouteCount(napi_env env, napi_callback_info info);

// On env's JS thread, as env prepares mp: an owned route of env keeps env alive from now until mp's
// loop ends.
void keep_alive_for(napi_env env, KavoriCloudMediaPlayer *mp);

#endif
