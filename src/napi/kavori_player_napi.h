// The JS player class: one native instance per id, kept for the life of the process.
//
// Threads: JS threads call the handlers and the surface callbacks; the registry, the saved id
// and the surface flags are guarded by one mutex (registry_mutex()), never held across a call
// into JS or the engine.
#ifndef KAVORI_NAPI_KAVORI_PLAYER_NAPI_H
#define KAVORI_NAPI_KAVORI_PLAYER_NAPI_H

#include <ace/xcomponent/native_interface_xcomponent.h>
#include <napi/native_api.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "util/kavori_export.h"

class KavoriCloudPlayerNapiProxy;

class KavoriCloudPlayerNapi {
  public:
    explicit KavoriCloudPlayerNapi(std::string &id);
    KavoriCloudPlayerNapi(const KavoriCloudPlayerNapi &) = delete;
    KavoriCloudPlayerNapi &operator=(const KavoriCloudPlayerNapi &) = delete;

    // Exported: what a host holding an instance calls (Export, setNativeXComponent).
    KAVORI_EXPORT static KavoriCloudPlayerNapi *getInstance(std::string &id);  // never null
    // getInstance for an id not held in a std::string. Instances are never removed or replaced and
    // their ids never change, so the last answer is kept without the lock: calls on one player in
    // a row skip the lookup.
    static KavoriCloudPlayerNapi *instanceOf(std::string_view id) {
        // acquire, paired with LookUpLast's release: the instance found is seen fully built.
        KavoriCloudPlayerNapi *last = last_.load(std::memory_order_acquire);
        return last != nullptr && last->hasId(id) ? last : LookUpLast(id);
    }
    // The instance of id if one was made, else null: for callers that must not make one.
    static KavoriCloudPlayerNapi *find(const std::string &id);
    // The last answer of instanceOf whose id is not empty and holds no NUL, or null: a caller that
    // compares the id itself while reading it needs no second compare.
    static KavoriCloudPlayerNapi *lastInstance() { return last_.load(std::memory_order_acquire); }
    const std::string &id() const { return id_; }
    // id() as SameBytes compares it.
    const uint64_t *idWords() const { return idWords_.data(); }
    uint64_t idLastMask() const { return idLastMask_; }
    static std::string getXComponentId(napi_env env, napi_callback_info info);
    static napi_value JsConstructor(napi_env env, napi_callback_info info);
    // Defines the export method table on exports; gives exports, or null on failure.
    KAVORI_EXPORT napi_value Export(napi_env env, napi_value exports);

    // Surface binding.
    static OH_NativeXComponent_Callback *getNXComponentCallback();
    KAVORI_EXPORT void setNativeXComponent(OH_NativeXComponent *component);
    void onSurfaceCreated(OH_NativeXComponent *component, void *window);
    void onSurfaceChanged(OH_NativeXComponent *component, void *window);
    void onSurfaceDestroyed(OH_NativeXComponent *component, void *window);
    void dispatchTouchEvent(OH_NativeXComponent *component, void *window);
    void setXComponentAndNativeWindow(std::string &id, OH_NativeXComponent *component,
                                      void *window);
    OH_NativeXComponent *getXComponent(std::string &id);
    void *getNativeWindow(std::string &id);
    // Forgets the surface handles of the id (its surface is gone).
    void dropXComponentAndNativeWindow(std::string &id);

    KavoriCloudPlayerNapiProxy *proxy() const { return proxy_; }

    // Engine set-up methods.
    static napi_value native_init(napi_env env, napi_callback_info info);
    static napi_value native_init_audio(napi_env env, napi_callback_info info);
    static napi_value native_setup(napi_env env, napi_callback_info info);
    static napi_value native_setup_audio(napi_env env, napi_callback_info info);

    // Control methods.
    static napi_value setDataSource(napi_env env, napi_callback_info info);
    static napi_value setDataSourceFd(napi_env env, napi_callback_info info);
    static napi_value setDecryptTokenForHLS(napi_env env, napi_callback_info info);
    static napi_value setOption(napi_env env, napi_callback_info info);
    static napi_value setOptionLong(napi_env env, napi_callback_info info);
    static napi_value prepareAsync(napi_env env, napi_callback_info info);
    static napi_value start(napi_env env, napi_callback_info info);
    static napi_value stop(napi_env env, napi_callback_info info);
    static napi_value pause(napi_env env, napi_callback_info info);
    static napi_value reset(napi_env env, napi_callback_info info);
    static napi_value release(napi_env env, napi_callback_info info);
    static napi_value seekTo(napi_env env, napi_callback_info info);
    static napi_value isPlaying(napi_env env, napi_callback_info info);
    static napi_value getDuration(napi_env env, napi_callback_info info);
    static napi_value getCurrentPosition(napi_env env, napi_callback_info info);
    static napi_value setPropertyFloat(napi_env env, napi_callback_info info);
    static napi_value getPropertyFloat(napi_env env, napi_callback_info info);
    static napi_value setPropertyLong(napi_env env, napi_callback_info info);
    static napi_value getPropertyLong(napi_env env, napi_callback_info info);
    static napi_value getAudioSessionId(napi_env env, napi_callback_info info);
    static napi_value setVolume(napi_env env, napi_callback_info info);
    static napi_value setLoopCount(napi_env env, napi_callback_info info);
    static napi_value getLoopCount(napi_env env, napi_callback_info info);
    static napi_value getVideoCodecInfo(napi_env env, napi_callback_info info);
    static napi_value getAudioCodecInfo(napi_env env, napi_callback_info info);
    static napi_value setStreamSelected(napi_env env, napi_callback_info info);
    static napi_value addExtSubtitleUrl(napi_env env, napi_callback_info info);
    static napi_value getMediaMeta(napi_env env, napi_callback_info info);
    static napi_value nativeOpenlog(napi_env env, napi_callback_info info);
    static napi_value setMessageListener(napi_env env, napi_callback_info info);

    // Recording methods.
    static napi_value startRecord(napi_env env, napi_callback_info info);
    static napi_value stopRecord(napi_env env, napi_callback_info info);
    static napi_value isRecord(napi_env env, napi_callback_info info);

    static bool gIsVideo;  // last isVideo given to the constructor; guarded by registry_mutex()

  private:
    // With isVideo, gIsVideo is set in the same hold of the lock that may construct the instance,
    // so a constructor in another environment cannot swap the flags of the two.
    static KavoriCloudPlayerNapi *LookUpOrCreate(std::string &id,
                                                 std::optional<bool> isVideo = std::nullopt);
    // LookUpOrCreate, kept as the last answer.
    static KavoriCloudPlayerNapi *LookUpLast(std::string_view id);
    // Byte by byte: id was just read in, and a library compare's wide loads over it would wait
    // for those stores.
    bool hasId(std::string_view id) const {
        if (id_.size() != id.size()) return false;
        for (size_t i = 0; i < id.size(); ++i) {
            if (id_[i] != id[i]) return false;
        }
        return true;
    }
    static std::atomic<KavoriCloudPlayerNapi *> last_;  // null until the first lookup

    static OH_NativeXComponent_Callback callback_;
    static std::unordered_map<std::string, KavoriCloudPlayerNapi *> kavoriPlayerNapi_;

    KavoriCloudPlayerNapiProxy *proxy_;
    // Guarded by registry_mutex().
    std::unordered_map<std::string, OH_NativeXComponent *> xComponents_;
    std::unordered_map<std::string, void *> nativeWindows_;
    OH_NativeXComponent *nativeXComponent_ = nullptr;
    std::string id_;
    std::vector<uint64_t> idWords_;  // id_ zero-padded to whole words
    uint64_t idLastMask_;            // LastWordMask of id_'s size
    uint64_t width_ = 0;
    uint64_t height_ = 0;
    OH_NativeXComponent_TouchEvent touchEvent_{};
};

// The id of component into id; false when the platform cannot give it.
bool ReadXComponentId(OH_NativeXComponent *component, std::string &id);

// The four surface callbacks the platform calls on its UI thread (the JS thread).
void onSurfaceCreatedCB(OH_NativeXComponent *component, void *window);
void onSurfaceChangedCB(OH_NativeXComponent *component, void *window);
void onSurfaceDestroyedCB(OH_NativeXComponent *component, void *window);
void dispatchTouchEventCB(OH_NativeXComponent *component, void *window);

// The lock of the instance registry and of everything getInstance and the id rule touch.
std::mutex &registry_mutex();

void setXComponentId(std::string &id);
extern std::string xcomponentId_;  // guarded by registry_mutex()
extern bool destroyResource;       // guarded by registry_mutex()

#endif
