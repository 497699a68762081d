// The floor of a JS call into native code: read one string argument, return an int.
#include <node_api.h>

namespace {

napi_value Floor(napi_env env, napi_callback_info info) {
    size_t argc = 1;
    napi_value arg = nullptr;
    napi_get_cb_info(env, info, &argc, &arg, nullptr, nullptr);
    char text[2048];
    size_t length = 0;
    napi_get_value_string_utf8(env, arg, text, sizeof(text), &length);
    napi_value result = nullptr;
    napi_create_int32(env, static_cast<int32_t>(length), &result);
    return result;
}

napi_value Init(napi_env env, napi_value exports) {
    napi_value fn = nullptr;
    napi_create_function(env, "floor", NAPI_AUTO_LENGTH, Floor, nullptr, &fn);
    napi_set_named_property(env, exports, "floor", fn);
    return exports;
}

}  // namespace

NAPI_MODULE(NODE_GYP_MODULE_NAME, Init)
