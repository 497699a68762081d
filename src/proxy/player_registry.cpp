// Engine players by instance id, the creating and ending operations, the message-thread entry and
// the process-wide event poster.
//
// Threads: JS threads (methods, surface callbacks) and the stop-recording worker reach the
// registry. registryMutex_ guards mediaPlayerMap_ and the entries' descriptors, and serialises
// every change of an entry's player; the only engine call made under it is kvmp_inc_ref. A proxy
// reads its own entry's player without the lock: the reader shows the entry in a ReaderSlot while
// it takes its reference, and whoever takes a player out of an entry waits until no slot shows that
// entry before it drops the registry's reference. Message threads touch only messageLoopCallback_,
// an atomic slot.
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "proxy/engine_ref.h"
#include "proxy/kavori_player_proxy.h"
#include "proxy/registry_read.h"
#include "util/ohos_log.h"

ReaderSlot readerSlots[kReaderSlots];

namespace {

// Called once entry's player is taken out: afterwards no thread is still taking a reference on it
// through the entry. A reader holds its slot for one kvmp_inc_ref only.
void AwaitReaders(const RegistryEntry *entry) {
    for (ReaderSlot &slot : readerSlots) {
        while (slot.reading.load() == entry) std::this_thread::yield();
    }
}

std::mutex registryMutex_;
// Guarded by registryMutex_.
std::unordered_map<std::string, RegistryEntry> mediaPlayerMap_;

RegistryEntry *FindEntry(const std::string &id) {
    auto it = mediaPlayerMap_.find(id);
    return it == mediaPlayerMap_.end() ? nullptr : &it->second;
}

std::atomic<MessageLoopCallback> messageLoopCallback_{nullptr};

// Gives back what an entry held, outside the lock. The player is shut down by then, so nothing
// reads the duplicates any more.
void Discard(const RegistryEntry *entry, KavoriCloudMediaPlayer *mp, std::vector<int> &fds) {
    AwaitReaders(entry);
    if (mp != nullptr) kvmp_dec_ref_p(&mp);
    for (int fd : fds) {
        close(fd);
    }
    fds.clear();
}

// Takes the id's entry out if it still names mp (another thread may have replaced it).
void Unregister(const std::string &id, KavoriCloudMediaPlayer *mp) {
    LOGI("napi_proxy-->set_media_player");
    KavoriCloudMediaPlayer *dropped = nullptr;
    std::vector<int> fds;
    RegistryEntry *entry = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex_);
        entry = FindEntry(id);
        if (entry == nullptr || entry->mp.load() != mp) {
            return;
        }
        dropped = entry->mp.exchange(nullptr);
        fds.swap(entry->fds);
    }
    Discard(entry, dropped, fds);
}

}  // namespace

MessageLoopCallback load_message_loop_callback() {
    return messageLoopCallback_.load(std::memory_order_acquire);
}

void store_message_loop_callback(MessageLoopCallback callback) {
    messageLoopCallback_.store(callback, std::memory_order_release);
}

KavoriCloudPlayerNapiProxy::KavoriCloudPlayerNapiProxy(std::string &id) : id_(id) {}

KavoriCloudMediaPlayer *KavoriCloudPlayerNapiProxy::get_media_player(std::string id) {
    if (id == id_) return own_media_player();
    std::lock_guard<std::mutex> lock(registryMutex_);
    RegistryEntry *entry = FindEntry(id);
    KavoriCloudMediaPlayer *mp = entry == nullptr ? nullptr : entry->mp.load();
    if (mp != nullptr) kvmp_inc_ref(mp);
    return mp;
}

RegistryEntry *KavoriCloudPlayerNapiProxy::own_entry() {
    std::lock_guard<std::mutex> lock(registryMutex_);
    RegistryEntry *entry = &mediaPlayerMap_[id_];
    entry_.store(entry, std::memory_order_release);
    return entry;
}

#ifdef KAVORI_REGISTRY_READ_LOCKED
KavoriCloudMediaPlayer *KavoriCloudPlayerNapiProxy::locked_read(RegistryEntry *entry) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    KavoriCloudMediaPlayer *mp = entry->mp.load();
    if (mp != nullptr) kvmp_inc_ref(mp);
    return mp;
}
#endif

// A null mp gives back the registered player's reference and duplicates and leaves the entry
// holding null; a non-null mp fills an entry only while it holds no player.
KavoriCloudMediaPlayer *KavoriCloudPlayerNapiProxy::set_media_player(std::string id,
                                                                     KavoriCloudMediaPlayer *mp) {
    LOGI("napi_proxy-->set_media_player");
    KavoriCloudMediaPlayer *dropped = nullptr;
    std::vector<int> fds;
    KavoriCloudMediaPlayer *stored = nullptr;
    RegistryEntry *entry = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex_);
        entry = &mediaPlayerMap_[id];
        if (mp == nullptr) {
            dropped = entry->mp.exchange(nullptr);
            fds.swap(entry->fds);
        } else if (entry->mp.load() == nullptr) {
            kvmp_inc_ref(mp);
            entry->mp.store(mp);
        }
        stored = entry->mp.load();
    }
    Discard(entry, dropped, fds);
    return stored;
}

// A player still named by the entry is ended with it: once unreachable it would only keep its
// thread and descriptors for good.
void KavoriCloudPlayerNapiProxy::delete_media_player(std::string id) {
    KavoriCloudMediaPlayer *dropped = nullptr;
    std::vector<int> fds;
    RegistryEntry *entry = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex_);
        entry = FindEntry(id);
        if (entry == nullptr) {
            return;
        }
        dropped = entry->mp.exchange(nullptr);
        fds.swap(entry->fds);
    }
    if (dropped != nullptr) {
        kvmp_shutdown(dropped);
    }
    Discard(entry, dropped, fds);
}

void KavoriCloudPlayerNapiProxy::message_loop_callback(MessageLoopCallback callback) {
    store_message_loop_callback(callback);
}

// The player is registered before the caller configures it; null when the id already has one or the
// engine made none.
KavoriCloudMediaPlayer *KavoriCloudPlayerNapiProxy::create_player(const char *operation) {
    if (!globalInited_.load()) {
        kvmp_global_init();
        globalInited_.store(true);
    }
    if (EngineRef existing{own_media_player()}) {
        LOGE("napi_proxy-->%s player exists", operation);
        return nullptr;
    }
    KavoriCloudMediaPlayer *mp = kvmp_create(message_loop);
    if (mp == nullptr) {
        LOGE("napi_proxy-->%s create failed", operation);
        return nullptr;
    }
    assign_player_serial(mp);
    if (set_media_player(id_, mp) != mp) {
        // A racing creator registered first.
        LOGE("napi_proxy-->%s player exists", operation);
        kvmp_shutdown(mp);
        kvmp_dec_ref_p(&mp);
    }
    return mp;
}

void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_native_init(void *xcomponent,
                                                                    void *window) {
    // native_setup's line: log readers find every set-up that makes a player by one text.
    LOGI("napi_proxy-->KavoriCloudMediaPlayer_native_setup");
    EngineRef mp(create_player("KavoriCloudMediaPlayer_native_init"));
    if (mp) {
        kvmp_set_surface(mp.get(), window);
        kvmp_set_weak_thiz(mp.get(), xcomponent);
    }
}

void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_native_init_audio(void *xcomponent) {
    LOGI("napi_proxy-->KavoriCloudMediaPlayer_native_init_audio");
    EngineRef mp(create_player("KavoriCloudMediaPlayer_native_init_audio"));
    if (mp) {
        kvmp_set_weak_thiz(mp.get(), xcomponent);
    }
}

void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_native_setup_audio() {
    // native_setup's line: log readers find every set-up that makes a player by one text.
    LOGI("napi_proxy-->KavoriCloudMediaPlayer_native_setup");
    EngineRef mp(create_player("KavoriCloudMediaPlayer_native_setup_audio"));
    if (mp) {
        kvmp_set_inject_opaque(mp.get(), kvmp_get_weak_thiz(mp.get()));
    }
}

void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_native_setup() {
    LOGI("napi_proxy-->KavoriCloudMediaPlayer_native_setup");
    EngineRef mp(own_media_player());
    if (!mp) {
        LOGE("napi_proxy-->KavoriCloudMediaPlayer_native_setup mp NULL");
        return;
    }
    kvmp_set_inject_opaque(mp.get(), kvmp_get_weak_thiz(mp.get()));
}

int message_loop(void *arg) {
    LOGI("napi_proxy-->message_loop");
    message_loop_n(arg);
    auto *mp = static_cast<KavoriCloudMediaPlayer *>(arg);
    kvmp_dec_ref_p(&mp);
    return 0;
}

// The engine frees the player once its message thread has let go too.
void KavoriCloudPlayerNapiProxy::end_player(const char *nullLine) {
    EngineRef mp(own_media_player());
    if (!mp) {
        if (nullLine != nullptr) {
            LOGE("%s", nullLine);
        }
        return;
    }
    kvmp_shutdown(mp.get());
    Unregister(id_, mp.get());
}

void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_release() {
    end_player("napi_proxy-->KavoriCloudMediaPlayer_release mp NULL");
}

void KavoriCloudPlayerNapiProxy::end_media_player() {
    end_player(nullptr);
}

void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_reset() {
    EngineRef mp(own_media_player());
    if (!mp) {
        LOGE("napi_proxy-->KavoriCloudMediaPlayer_reset mp NULL");
        return;
    }
    kvmp_set_surface(mp.get(), nullptr);
    kvmp_set_weak_thiz(mp.get(), nullptr);
    KavoriCloudMediaPlayer_release();
    LOGI("napi_proxy-->KavoriCloudMediaPlayer_reset");
}

bool KavoriCloudPlayerNapiProxy::keep_duplicate(KavoriCloudMediaPlayer *mp, int fd) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    RegistryEntry *entry = FindEntry(id_);
    if (entry == nullptr || entry->mp.load() != mp) {
        return false;
    }
    entry->fds.push_back(fd);
    return true;
}
