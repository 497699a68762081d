// Binds XComponent surfaces to the player instances: the callback table, its registration, and the
// four callbacks that record, forget or read what the engine needs of a surface.
//
// Threads: the platform fires the callbacks on its UI thread, the JS thread. The surface records
// and destroyResource are shared with the JS methods of every environment, workers' included, so
// they are touched under registry_mutex(), never held across a platform, proxy or JS call.
#include <mutex>
#include <string>

#include "napi/kavori_player_napi.h"
#include "proxy/kavori_player_proxy.h"
#include "util/ohos_log.h"

OH_NativeXComponent_Callback KavoriCloudPlayerNapi::callback_{};

namespace {

void SetDestroyResource(bool destroyed) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    destroyResource = destroyed;
}

}  // namespace

OH_NativeXComponent_Callback *KavoriCloudPlayerNapi::getNXComponentCallback() {
    LOGI("KavoriCloudPlayerNapi::getNXComponentCallback");
    return &callback_;
}

void KavoriCloudPlayerNapi::setNativeXComponent(OH_NativeXComponent *component) {
    LOGI("KavoriCloudPlayerNapi::setNativeXComponent");
    {
        std::lock_guard<std::mutex> lock(registry_mutex());
        nativeXComponent_ = component;
    }
    OH_NativeXComponent_RegisterCallback(component, &callback_);
}

void KavoriCloudPlayerNapi::setXComponentAndNativeWindow(std::string &id,
                                                         OH_NativeXComponent *component,
                                                         void *window) {
    LOGI("napi-->KavoriCloudPlayerNapi::SetXComponentAndNativeWindow");
    std::lock_guard<std::mutex> lock(registry_mutex());
    xComponents_[id] = component;
    nativeWindows_[id] = window;
}

void KavoriCloudPlayerNapi::dropXComponentAndNativeWindow(std::string &id) {
    std::lock_guard<std::mutex> lock(registry_mutex());
    xComponents_.erase(id);
    nativeWindows_.erase(id);
}

void KavoriCloudPlayerNapi::onSurfaceCreated(OH_NativeXComponent *component, void *window) {
    LOGI("napi-->OnSurfaceCreated");
    uint64_t width = 0;
    uint64_t height = 0;
    if (OH_NativeXComponent_GetXComponentSize(component, window, &width, &height) !=
        OH_NATIVEXCOMPONENT_RESULT_SUCCESS) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(registry_mutex());
        width_ = width;
        height_ = height;
    }
    LOGI("napi-->OnSurfaceCreated-->success");
}

void KavoriCloudPlayerNapi::onSurfaceChanged(OH_NativeXComponent *, void *) {
    LOGI("napi-->OnSurfaceChanged");
}

void KavoriCloudPlayerNapi::onSurfaceDestroyed(OH_NativeXComponent *, void *) {
    LOGI("napi-->OnSurfaceDestroyed");
}

void KavoriCloudPlayerNapi::dispatchTouchEvent(OH_NativeXComponent *component, void *window) {
    LOGI("napi-->DispatchTouchEvent");
    OH_NativeXComponent_TouchEvent event{};
    if (OH_NativeXComponent_GetTouchEvent(component, window, &event) !=
        OH_NATIVEXCOMPONENT_RESULT_SUCCESS) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(registry_mutex());
        touchEvent_ = event;
    }
    LOGI("napi-->DispatchTouchEvent-->success");
}

// The callbacks are called by the platform's C code: nothing may be thrown out of them.

void onSurfaceCreatedCB(OH_NativeXComponent *component, void *window) {
    try {
        SetDestroyResource(false);
        LOGI("napi-->OnSurfaceCreatedCB");
        std::string id;
        if (!ReadXComponentId(component, id)) return;
        LOGI("napi-->OnSurfaceCreatedCB-->success");
        KavoriCloudPlayerNapi *instance = KavoriCloudPlayerNapi::getInstance(id);
        instance->onSurfaceCreated(component, window);
        instance->setXComponentAndNativeWindow(id, component, window);
    } catch (...) {
    }
}

void onSurfaceChangedCB(OH_NativeXComponent *component, void *window) {
    try {
        LOGI("napi-->OnSurfaceChangedCB");
        std::string id;
        if (!ReadXComponentId(component, id)) return;
        KavoriCloudPlayerNapi::getInstance(id)->onSurfaceChanged(component, window);
    } catch (...) {
    }
}

// Ends the id's engine player for good and forgets the surface handles, so a later _native_init
// cannot hand the engine a window that no longer exists.
void onSurfaceDestroyedCB(OH_NativeXComponent *component, void *window) {
    try {
        SetDestroyResource(true);
        LOGI("napi-->OnSurfaceDestroyedCB");
        std::string id;
        if (!ReadXComponentId(component, id)) return;
        KavoriCloudPlayerNapi *instance = KavoriCloudPlayerNapi::getInstance(id);
        instance->proxy()->end_media_player();
        instance->dropXComponentAndNativeWindow(id);
        instance->onSurfaceDestroyed(component, window);
    } catch (...) {
    }
}

void dispatchTouchEventCB(OH_NativeXComponent *component, void *window) {
    try {
        LOGI("napi-->DispatchTouchEventCB");
        std::string id;
        if (!ReadXComponentId(component, id)) return;
        KavoriCloudPlayerNapi::getInstance(id)->dispatchTouchEvent(component, window);
    } catch (...) {
    }
}
