// The common frame of every JS method: entry line, a fixed number of arguments read as texts,
// the id rule, and the instance of the id. Written once, used by every handler.
#ifndef KAVORI_NAPI_METHOD_FRAME_H
#define KAVORI_NAPI_METHOD_FRAME_H

#include <napi/native_api.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "napi/kavori_player_napi.h"
#include "napi/napi_util.h"
#include "proxy/kavori_player_proxy.h"
#include "util/ohos_log.h"

// The instance of the id the empty id stands for: the caller's XComponent id.
KavoriCloudPlayerNapi *InstanceOfCallersId(napi_env env, napi_callback_info info);

class MethodFrame {
  public:
    static constexpr size_t kMaxArgs = 4;

    // Logs entryLine (none when null), fetches argc arguments and resolves the id.
    MethodFrame(napi_env env, napi_callback_info info, size_t argc, const char *entryLine);
    MethodFrame(const MethodFrame &) = delete;  // the id's view points into the frame
    MethodFrame &operator=(const MethodFrame &) = delete;

    napi_env env() const { return env_; }
    std::string &id();
    // Argument i (1 and up) read as text; missing and non-string arguments read as "".
    const std::string &text(size_t i) { return texts()[i]; }
    char *chars(size_t i) { return &texts()[i][0]; }
    napi_value arg(size_t i) const { return args_[i]; }

    // The id's instance, created on first use of the id.
    KavoriCloudPlayerNapi *instance() {
        if (instance_ == nullptr) instance_ = KavoriCloudPlayerNapi::instanceOf(idView_);
        return instance_;
    }
    KavoriCloudPlayerNapiProxy *proxy() { return instance()->proxy(); }

  private:
    using Texts = std::array<std::string, kMaxArgs>;
    // Built by the first use: a method with the id alone never needs them.
    Texts &texts() {
        if (!texts_) texts_.emplace();
        return *texts_;
    }

    napi_env env_;
    std::array<napi_value, kMaxArgs> args_{};
    // Most methods need the id only to find their instance, so it stays in the buffer it was read
    // into; texts_[0] holds it once id() is asked for, or when the id rule supplies it.
    char idChars_[kJsTextBufferSize];
    std::string_view idView_;
    std::optional<Texts> texts_;
    KavoriCloudPlayerNapi *instance_ = nullptr;
};

// The instance of a method that takes the id alone, found by MethodFrame's rules without building
// one: the entry line (none when null), argument 0 read as the id and compared with the last id
// looked up as it is read, and the caller's id for the empty one.
[[gnu::always_inline]] inline KavoriCloudPlayerNapi *IdOnlyInstance(napi_env env,
                                                                    napi_callback_info info,
                                                                    const char *entryLine) {
    if (entryLine != nullptr) LOGI("%s", entryLine);
    size_t argc = 1;
    napi_value arg = nullptr;
    napi_get_cb_info(env, info, &argc, &arg, nullptr, nullptr);
    char chars[kJsTextBufferSize];
    KavoriCloudPlayerNapi *last = KavoriCloudPlayerNapi::lastInstance();
    bool same = false;
    size_t length = last != nullptr
                        ? ReadJsTextComparing(env, arg, chars, sizeof(chars), last->idWords(),
                                              last->id().size(), last->idLastMask(), same)
                        : ReadJsText(env, arg, chars, sizeof(chars));
    if (same) return last;  // never for the empty text: last's id is not empty
    if (length == 0) return InstanceOfCallersId(env, info);
    return KavoriCloudPlayerNapi::instanceOf(std::string_view(chars, length));
}

// Runs a handler body; a native exception ends as undefined, never crossing into JS.
template <typename Body>
[[gnu::always_inline]] inline napi_value RunMethod(Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return nullptr;
    }
}

napi_value JsString(napi_env env, const std::string &text);

#endif
