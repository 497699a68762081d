// Neutral stand-ins for JS methods that are not built yet: each resolves its id and instance and
// gives its neutral result. Removed one by one (targeted edits; others edit this file too).
#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "napi/napi_util.h"

namespace {
napi_value Neutral(napi_env env, napi_callback_info info, size_t argc) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, argc, nullptr);
        frame.instance();
        return nullptr;
    });
}
}  // namespace

// --- event bridge
napi_value KavoriCloudPlayerNapi::setMessageListener(napi_env env, napi_callback_info info) {
    return Neutral(env, info, 2);
}
