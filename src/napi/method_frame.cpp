#include "napi/method_frame.h"

#include "napi/napi_util.h"
#include "util/ohos_log.h"

MethodFrame::MethodFrame(napi_env env, napi_callback_info info, size_t argc, const char *entryLine)
    : env_(env) {
    if (entryLine != nullptr) LOGI("%s", entryLine);
    size_t count = argc < kMaxArgs ? argc : kMaxArgs;
    napi_get_cb_info(env, info, &count, args_.data(), nullptr, nullptr);
    NapiUtil::JsValueToString(env, args_[0], kJsTextBufferSize, texts_[0]);
    if (texts_[0].empty()) texts_[0] = KavoriCloudPlayerNapi::getXComponentId(env, info);
    for (size_t i = 1; i < argc && i < kMaxArgs; ++i) {
        NapiUtil::JsValueToString(env, args_[i], kJsTextBufferSize, texts_[i]);
    }
}

KavoriCloudPlayerNapi *MethodFrame::instance() {
    if (instance_ == nullptr) instance_ = KavoriCloudPlayerNapi::getInstance(texts_[0]);
    return instance_;
}

napi_value JsString(napi_env env, const std::string &text) {
    napi_value result = nullptr;
    napi_create_string_utf8(env, text.c_str(), text.size(), &result);
    return result;
}
