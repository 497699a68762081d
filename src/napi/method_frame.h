// The common frame of every JS method: entry line, a fixed number of arguments read as texts,
// the id rule, and the instance of the id. Written once, used by every handler.
#ifndef KAVORI_NAPI_METHOD_FRAME_H
#define KAVORI_NAPI_METHOD_FRAME_H

#include <napi/native_api.h>

#include <array>
#include <string>

#include "napi/kavori_player_napi.h"
#include "proxy/kavori_player_proxy.h"

class MethodFrame {
  public:
    static constexpr size_t kMaxArgs = 4;

    // Logs entryLine (none when null), fetches argc arguments and resolves the id.
    MethodFrame(napi_env env, napi_callback_info info, size_t argc, const char *entryLine);

    napi_env env() const { return env_; }
    const std::string &id() const { return texts_[0]; }
    std::string &id() { return texts_[0]; }
    // Argument i read as text; missing and non-string arguments read as "".
    const std::string &text(size_t i) const { return texts_[i]; }
    char *chars(size_t i) { return &texts_[i][0]; }
    napi_value arg(size_t i) const { return args_[i]; }

    // The id's instance, created on first use of the id.
    KavoriCloudPlayerNapi *instance();
    KavoriCloudPlayerNapiProxy *proxy() { return instance()->proxy(); }

  private:
    napi_env env_;
    std::array<napi_value, kMaxArgs> args_{};
    std::array<std::string, kMaxArgs> texts_;
    KavoriCloudPlayerNapi *instance_ = nullptr;
};

// Runs a handler body; a native exception ends as undefined, never crossing into JS.
template <typename Body>
napi_value RunMethod(Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return nullptr;
    }
}

napi_value JsString(napi_env env, const std::string &text);

#endif
