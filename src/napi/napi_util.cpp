// Node-API side of the value conversions, and the one way a failed Node-API call becomes a JS
// error.
#include "napi/napi_util.h"

#include <hilog/log.h>

#include "util/ohos_log.h"

// From API level 12 on. Weak, so that the module loads on level 11, where it is null.
extern "C" napi_status napi_fatal_exception(napi_env env, napi_value err) __attribute__((weak));

void NapiUtil::JsValueToString(const napi_env &env, const napi_value &value, int bufferSize,
                               std::string &result) {
    if (bufferSize < 1 || bufferSize > kJsTextBufferSize) {
        LOGI("%s string too long malloc failed", "JsValueToString");
        return;
    }
    char buffer[kJsTextBufferSize];
    result.assign(buffer, ReadJsText(env, value, buffer, static_cast<size_t>(bufferSize)));
}

napi_value NapiUtil::SetNapiCallBool(napi_env env, bool value) {
    napi_value number = nullptr;
    napi_value result = nullptr;
    napi_create_int32(env, value ? 1 : 0, &number);
    napi_coerce_to_bool(env, number, &result);
    return result;
}

void ThrowLastNapiError(napi_env env) {
    const napi_extended_error_info *info = nullptr;
    napi_get_last_error_info(env, &info);
    // Taken before the next call: asking whether an exception is pending clears the record
    // info points at, and the message with it.
    bool haveInfo = info != nullptr;
    std::string message =
        haveInfo && info->error_message != nullptr ? info->error_message : "empty error message";
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (!pending && haveInfo) napi_throw_error(env, nullptr, message.c_str());
}

void ReportUncaught(napi_env env, napi_value error) {
    if (napi_fatal_exception != nullptr) {
        napi_fatal_exception(env, error);
    } else {
        LogUncaught(env, error);
    }
}

void LogUncaught(napi_env env, napi_value error) {
    napi_value text = nullptr;
    bool isError = false;
    if (napi_is_error(env, error, &isError) == napi_ok && isError) {
        napi_get_named_property(env, error, "stack", &text);
    }
    napi_valuetype type = napi_undefined;
    if (text == nullptr || napi_typeof(env, text, &type) != napi_ok || type != napi_string) {
        text = nullptr;
        napi_coerce_to_string(env, error, &text);
    }
    char buffer[kJsTextBufferSize] = "";
    size_t length = 0;
    if (text != nullptr) napi_get_value_string_utf8(env, text, buffer, sizeof(buffer), &length);
    // A getter or toString that throws leaves its own exception; the listener's one is reported.
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (pending) {
        napi_value ignored = nullptr;
        napi_get_and_clear_last_exception(env, &ignored);
    }
    OH_LOG_Print(LOG_APP, LOG_ERROR, 0, KAVORI_LOG_TAG,
                 "uncaught exception in a listener: %{public}s", buffer);
}
