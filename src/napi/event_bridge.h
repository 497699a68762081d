// Engine events to the JS listener. One listener for the whole module; each event goes to the
// listener that was registered when it was posted.
//
// Threads: post_event and messageCallBack run on engine threads (any number at once) and only
// queue; the listener is called on the JS thread of the environment that registered it, woken
// through a thread-safe function once per batch. setCallBackRefMessage and setEnvMessage run on
// that JS thread.
#ifndef KAVORI_NAPI_EVENT_BRIDGE_H
#define KAVORI_NAPI_EVENT_BRIDGE_H

#include <napi/native_api.h>

#include <cstdint>

#include "util/event_text.h"

// One event from posting to delivery.
struct CallbackContext {
    int32_t what = 0;
    int32_t param1 = 0;
    int32_t param2 = 0;
    EventText obj;  // null: the listener gets three arguments, else four
};

// The poster of the message loops; obj (or null) is taken over and released with free().
void post_event(void *weak, int what, int param1, int param2, char *obj);
// Queues one event for the registered listener; without one the event is dropped.
void messageCallBack(int what, int param1, int param2, char *obj);

// Stages the listener (a strong reference) that the next setEnvMessage on this thread registers.
void setCallBackRefMessage(napi_ref const &ref);
// Registers the staged listener of env in place of the current one. A replaced listener is released
// once the events queued for it are delivered. False (staged reference deleted) when env gives no
// thread-safe function.
bool setEnvMessage(napi_env const &env);

#endif
