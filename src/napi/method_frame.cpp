#include "napi/method_frame.h"

#include "util/ohos_log.h"

MethodFrame::MethodFrame(napi_env env, napi_callback_info info, size_t argc, const char *entryLine)
    : env_(env) {
    if (entryLine != nullptr) LOGI("%s", entryLine);
    size_t count = argc < kMaxArgs ? argc : kMaxArgs;
    napi_get_cb_info(env, info, &count, args_.data(), nullptr, nullptr);
    idView_ = std::string_view(idChars_, ReadJsText(env, args_[0], idChars_, sizeof(idChars_)));
    if (idView_.empty()) {
        texts()[0] = KavoriCloudPlayerNapi::getXComponentId(env, info);
        idView_ = texts()[0];
    }
    for (size_t i = 1; i < argc && i < kMaxArgs; ++i) {
        NapiUtil::JsValueToString(env, args_[i], kJsTextBufferSize, texts()[i]);
    }
}

KavoriCloudPlayerNapi *InstanceOfCallersId(napi_env env, napi_callback_info info) {
    return KavoriCloudPlayerNapi::instanceOf(KavoriCloudPlayerNapi::getXComponentId(env, info));
}

std::string &MethodFrame::id() {
    if (idView_.data() == idChars_) {  // still in the read buffer
        texts()[0].assign(idView_);
        idView_ = texts()[0];
    }
    return texts()[0];
}

napi_value JsString(napi_env env, const std::string &text) {
    napi_value result = nullptr;
    napi_create_string_utf8(env, text.c_str(), text.size(), &result);
    return result;
}
