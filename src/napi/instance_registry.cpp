// The per-id instance registry and the id rule shared by every JS method.
//
// Threads: the JS threads of every environment that imported the module (the main one and
// workers); the surface callbacks run on one of them. The stop-recording worker never comes here:
// its proxy is resolved on the JS thread and it reads only the engine player registry.
// registry_mutex() guards kavoriPlayerNapi_, xcomponentId_, destroyResource, gIsVideo and the
// instances' surface records; it is never held while calling into JS or the engine. last_ is an
// atomic slot read without it.
#include <atomic>
#include <cstring>

#include "napi/kavori_player_napi.h"
#include "napi/napi_util.h"
#include "proxy/kavori_player_proxy.h"
#include "util/ohos_log.h"

std::unordered_map<std::string, KavoriCloudPlayerNapi *> KavoriCloudPlayerNapi::kavoriPlayerNapi_;
std::string xcomponentId_;
bool KavoriCloudPlayerNapi::gIsVideo = true;
bool destroyResource = false;

namespace {

// The XComponent id of the call's this, or "" when it has none.
std::string XComponentIdOfThis(napi_env env, napi_callback_info info) {
    napi_value thisArg = nullptr;
    size_t argc = 0;
    if (napi_get_cb_info(env, info, &argc, nullptr, &thisArg, nullptr) != napi_ok) {
        ThrowLastNapiError(env);
        return "";
    }
    napi_value exportInstance = nullptr;
    OH_NativeXComponent *component = nullptr;
    std::string id;
    if (napi_get_named_property(env, thisArg, "__NATIVE_XCOMPONENT_OBJ__", &exportInstance) !=
            napi_ok ||
        napi_unwrap(env, exportInstance, reinterpret_cast<void **>(&component)) != napi_ok ||
        !ReadXComponentId(component, id)) {
        // A throwing getter or Proxy trap is a failed read like any other: its exception must not
        // come out of a method that goes on to act on the empty id.
        bool pending = false;
        napi_value ignored = nullptr;
        if (napi_is_exception_pending(env, &pending) == napi_ok && pending) {
            napi_get_and_clear_last_exception(env, &ignored);
        }
        LOGE("napi-->getXComponentId napi_get_named_property failed!");
        return "";
    }
    LOGI("napi-->KavoriCloudPlayerNapi::getInstance_()->getXComponentId id:%s", id.c_str());
    return id;
}

// The entry of id in one of an instance's surface records, with the lookup's two log lines.
// Takes registry_mutex() itself.
template <typename Handle>
Handle LookUpRecord(const std::unordered_map<std::string, Handle> &records, const std::string &id,
                    const char *line) {
    LOGI("%s", line);
    {
        std::lock_guard<std::mutex> lock(registry_mutex());
        auto found = records.find(id);
        if (found != records.end()) return found->second;
    }
    LOGI("%s null", line);
    return nullptr;
}

}  // namespace

bool ReadXComponentId(OH_NativeXComponent *component, std::string &id) {
    char buffer[OH_XCOMPONENT_ID_LEN_MAX + 1] = {0};
    uint64_t size = sizeof(buffer);
    if (OH_NativeXComponent_GetXComponentId(component, buffer, &size) !=
        OH_NATIVEXCOMPONENT_RESULT_SUCCESS) {
        return false;
    }
    // A platform that fills the whole buffer must not run the read past it.
    id.assign(buffer, strnlen(buffer, sizeof(buffer) - 1));
    return true;
}

std::mutex &registry_mutex() {
    static std::mutex mutex;
    return mutex;
}

KavoriCloudPlayerNapi::KavoriCloudPlayerNapi(std::string &id)
    : proxy_(new KavoriCloudPlayerNapiProxy(id)),
      id_(id),
      idWords_((id.size() + 7) / 8),
      idLastMask_(LastWordMask(id.size())) {
    if (!id.empty()) std::memcpy(idWords_.data(), id.data(), id.size());
    if (gIsVideo) {
        OH_NativeXComponent_Callback *callback = getNXComponentCallback();
        callback->OnSurfaceCreated = onSurfaceCreatedCB;
        callback->OnSurfaceChanged = onSurfaceChangedCB;
        callback->OnSurfaceDestroyed = onSurfaceDestroyedCB;
        callback->DispatchTouchEvent = dispatchTouchEventCB;
    }
}

KavoriCloudPlayerNapi *KavoriCloudPlayerNapi::getInstance(std::string &id) {
    return instanceOf(id);
}

std::atomic<KavoriCloudPlayerNapi *> KavoriCloudPlayerNapi::last_{nullptr};

KavoriCloudPlayerNapi *KavoriCloudPlayerNapi::LookUpLast(std::string_view id) {
    std::string key(id);
    KavoriCloudPlayerNapi *instance = LookUpOrCreate(key);
    // A host may name an instance by an id with a NUL, which no JS text can match (it ends there);
    // an empty text read stands for the caller's id, never for the empty one.
    if (!id.empty() && id.find('\0') == std::string_view::npos)
        last_.store(instance, std::memory_order_release);
    return instance;
}

KavoriCloudPlayerNapi *KavoriCloudPlayerNapi::LookUpOrCreate(std::string &id,
                                                             std::optional<bool> isVideo) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    if (isVideo.has_value()) gIsVideo = *isVideo;
    auto found = kavoriPlayerNapi_.find(id);
    if (found != kavoriPlayerNapi_.end()) return found->second;
    LOGI("napi-->KavoriCloudPlayerNapi::getInstance create object");
    auto *instance = new KavoriCloudPlayerNapi(id);
    kavoriPlayerNapi_.emplace(id, instance);
    return instance;
}

KavoriCloudPlayerNapi *KavoriCloudPlayerNapi::find(const std::string &id) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    auto found = kavoriPlayerNapi_.find(id);
    return found == kavoriPlayerNapi_.end() ? nullptr : found->second;
}

std::string KavoriCloudPlayerNapi::getXComponentId(napi_env env, napi_callback_info info) {
    LOGI("napi-->KavoriCloudPlayerNapi::getInstance_()->getXComponentId");
    {
        std::lock_guard<std::mutex> lock(registry_mutex());
        if (destroyResource && !xcomponentId_.empty()) return xcomponentId_;
    }
    return XComponentIdOfThis(env, info);
}

void setXComponentId(std::string &id) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    xcomponentId_ = id;
}

OH_NativeXComponent *KavoriCloudPlayerNapi::getXComponent(std::string &id) {
    return LookUpRecord(xComponents_, id, "napi-->KavoriCloudPlayerNapi::getXComponent");
}

void *KavoriCloudPlayerNapi::getNativeWindow(std::string &id) {
    return LookUpRecord(nativeWindows_, id, "napi-->KavoriCloudPlayerNapi::getNativeWindow");
}
