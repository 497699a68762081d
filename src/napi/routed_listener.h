// The routed listeners: each environment may have one, which gets the events of the engine players
// that environment routed, each with the serial of the player that posted it: what the ArkTS
// package needs to give every player its own events.
//
// Threads: the routing methods and keep_alive_for run on the calling environment's JS thread.
#ifndef KAVORI_NAPI_ROUTED_LISTENER_H
#define KAVORI_NAPI_ROUTED_LISTENER_H

#include <napi/native_api.h>

#include "kvmp.h"

// The routing methods, defined on the module's exports beside the method table (not enumerable):
// _setRoutedListener(listener | null) -> boolean, _routeEvents(id, owned?) -> serial, 0 or -1
// (owned by another environment), _routeOwner(id) -> 0 none, 1 this environment, 2 another, and
// for tests _routeCount() -> routes held.
napi_value SetRoutedListener(napi_env env, napi_callback_info info);
napi_value RouteEvents(napi_env env, napi_callback_info info);
napi_value RouteOwner(napi_env env, napi_callback_info info);
napi_value RouteCount(napi_env env, napi_callback_info info);

// On env's JS thread, as env prepares mp: an owned route of env keeps env alive from now on, by the
// keep-alive rule (environment_lifetime.h).
void keep_alive_for(napi_env env, KavoriCloudMediaPlayer *mp);

#endif
