// The raw listener: one for the whole module, replaced by each setMessageListener; each event goes
// to the listener that was registered when it was posted.
//
// Threads: setCallBackRefMessage and setEnvMessage run on the registering environment's JS thread.
#ifndef KAVORI_NAPI_RAW_LISTENER_H
#define KAVORI_NAPI_RAW_LISTENER_H

#include <napi/native_api.h>

// Stages the listener (a strong reference) that the next setEnvMessage on this thread registers.
void setCallBackRefMessage(napi_ref const &ref);
// Registers the staged listener of env in place of the current one. A replaced listener is released
// once the events queued for it are delivered. False (staged reference deleted) when env gives no
// thread-safe function.
bool setEnvMessage(napi_env const &env);

#endif
