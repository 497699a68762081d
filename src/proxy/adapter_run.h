// How an adapter makes its engine call: with a reference to the proxy's player for the length of
// the call, and a neutral value and a line when there is none. Shared by the adapters
// (control_adapters.cpp) and the one built into its JS method, the position query.
#ifndef KAVORI_PROXY_ADAPTER_RUN_H
#define KAVORI_PROXY_ADAPTER_RUN_H

#include "kvmp.h"
#include "proxy/engine_ref.h"
#include "proxy/kavori_player_proxy.h"
#include "proxy/registry_read.h"
#include "util/ohos_log.h"

// Runs call on the found player; without one logs "<adapter> mp NULL" (unless adapter is null).
template <typename Call>
void Run(KavoriCloudMediaPlayer *found, const char *adapter, Call &&call) {
    EngineRef mp(found);
    if (!mp) {
        if (adapter != nullptr) {
            LOGE("napi_proxy-->%s mp NULL", adapter);
        }
        return;
    }
    call(mp.get());
}

template <typename Result, typename Call>
Result Ask(KavoriCloudMediaPlayer *found, const char *adapter, Result neutral, Call &&call) {
    Result result = neutral;
    Run(found, adapter, [&](KavoriCloudMediaPlayer *mp) { result = call(mp); });
    return result;
}

// Apps poll the position many times a second: a call between the JS method and its adapter would
// weigh on it, so the adapter is built into the method (control_methods.cpp).
inline int KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_getCurrentPosition() {
    return Ask(own_media_player(), "KavoriCloudMediaPlayer_getCurrentPosition", 0,
               kvmp_get_current_position);
}

#endif
