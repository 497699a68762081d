// Node-API side of the value conversions, and the one way a failed Node-API call becomes a JS
// error.
#include "napi/napi_util.h"

#include <algorithm>

#include "util/ohos_log.h"

void NapiUtil::JsValueToString(const napi_env &env, const napi_value &value, int bufferSize,
                               std::string &result) {
    if (bufferSize < 1 || bufferSize > kJsTextBufferSize) {
        LOGI("%s string too long malloc failed", "JsValueToString");
        return;
    }
    // On the stack: every JS call reads its id through here. A string read writes its own
    // terminator, so only the first byte needs clearing for values that are not strings.
    char buffer[kJsTextBufferSize];
    buffer[0] = '\0';
    size_t length = 0;
    napi_get_value_string_utf8(env, value, buffer, static_cast<size_t>(bufferSize), &length);
    // A JS string may hold a NUL; the text ends there. The cap keeps the scan inside what a
    // runtime that reports the untruncated length has written.
    size_t limit = std::min(length, static_cast<size_t>(bufferSize) - 1);
    size_t end = 0;
    while (end < limit && buffer[end] != '\0') ++end;
    result.assign(buffer, end);
}

napi_value NapiUtil::SetNapiCallInt32(const napi_env &env, int value) {
    napi_value result = nullptr;
    napi_create_int32(env, value, &result);
    return result;
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
