// Node-API side of the value conversions, and the one way a failed Node-API call becomes a JS
// error.
#include "napi/napi_util.h"

#include "util/ohos_log.h"

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
