// Engine players by instance id, and the creating and ending operations.
//
// Threads: JS threads (methods, surface callbacks) and the stop-recording worker reach the
// registry. registryMutex_ guards mediaPlayerMap_ and the entries' descriptors, and serialises
// every change of an entry's player; the only engine call made under it is kvmp_inc_ref. A proxy
// reads its own entry's player without the lock: the reader shows the entry in a ReaderSlot while
// it takes its reference, and whoever takes a player out of an entry waits until no slot shows that
// entry before it drops the registry's reference. Message threads do not touch the registry.
//
// Memory order of the lock-free read. Reader: show the entry in a slot, then load the entry's
// player. Taker: exchange the player for null, then look at every slot. Each side stores, then
// loads what the other stores, so both pairs are seq_cst: any weaker order lets each side miss the
// other's store (the reader keeps a player whose last reference the taker drops). The slot's clear
// is a release, so the reader's kvmp_inc_ref is done before the taker can see the slot free.
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
#include "proxy/player_routes.h"
#include "proxy/registry_read.h"
#include "util/ohos_log.h"

ReaderSlot readerSlots[kReaderSlots];

namespace {

// Called once entry's player is taken out: afterwards no thread is still taking a reference on it
// through the entry. A reader holds its slot for one kvmp_inc_ref only, so a slot showing the entry
// is almost always free again before a yield returns; no spin before it, since the holder may need
// this very core.
void AwaitReaders(const RegistryEntry *entry) {
    for (ReaderSlot &slot : readerSlots) {
        // seq_cst: see the file's opening; it also acquires the reader's inc_ref.
        while (slot.reading.load(std::memory_order_seq_cst) == entry) std::this_thread::yield();
    }
}

std::mutex registryMutex_;
// Guarded by registryMutex_.
std::unordered_map<std::string, RegistryEntry> mediaPlayerMap_;

RegistryEntry *FindEntry(const std::string &id) {
    auto it = mediaPlayerMap_.find(id);
    return it == mediaPlayerMap_.end() ? nullptr : &it->second;
}

// What an entry held, taken out under the lock and given back, outside it, when this goes. The
// player is shut down by then, so nothing reads the duplicates any more.
class TakenOut {
  public:
    TakenOut() = default;
    explicit TakenOut(RegistryEntry *entry)
        : entry_(entry), mp_(entry->mp.exchange(nullptr, std::memory_order_seq_cst)) {
        // seq_cst: see the file's opening (the taker's store before its slot loads).
        fds_.swap(entry->fds);
    }
    ~TakenOut() {
        if (entry_ == nullptr) return;
        AwaitReaders(entry_);
        if (mp_ != nullptr) kvmp_dec_ref_p(&mp_);
        for (int fd : fds_) {
            close(fd);
        }
    }
    TakenOut(TakenOut &&other) noexcept
        : entry_(std::exchange(other.entry_, nullptr)),
          mp_(std::exchange(other.mp_, nullptr)),
          fds_(std::move(other.fds_)) {}
    // Swaps: what this held is given back with other.
    TakenOut &operator=(TakenOut &&other) noexcept {
        std::swap(entry_, other.entry_);
        std::swap(mp_, other.mp_);
        fds_.swap(other.fds_);
        return *this;
    }

    KavoriCloudMediaPlayer *player() const { return mp_; }

  private:
    const RegistryEntry *entry_ = nullptr;
    KavoriCloudMediaPlayer *mp_ = nullptr;
    std::vector<int> fds_;
};

// Takes the id's entry out if it still names mp (another thread may have replaced it).
void Unregister(const std::string &id, KavoriCloudMediaPlayer *mp) {
    LOGI("napi_proxy-->set_media_player");
    TakenOut taken;
    std::lock_guard<std::mutex> lock(registryMutex_);
    RegistryEntry *entry = FindEntry(id);
    if (entry == nullptr || entry->mp.load(std::memory_order_relaxed) != mp) return;
    taken = TakenOut(entry);
}

}  // namespace

KavoriCloudPlayerNapiProxy::KavoriCloudPlayerNapiProxy(std::string &id) : id_(id) {}

KavoriCloudMediaPlayer *KavoriCloudPlayerNapiProxy::get_media_player(std::string id) {
    if (id == id_) return own_media_player();
    std::lock_guard<std::mutex> lock(registryMutex_);
    RegistryEntry *entry = FindEntry(id);
    // relaxed: under registryMutex_, which orders every change.
    KavoriCloudMediaPlayer *mp =
        entry == nullptr ? nullptr : entry->mp.load(std::memory_order_relaxed);
    if (mp != nullptr) kvmp_inc_ref(mp);
    return mp;
}

RegistryEntry *KavoriCloudPlayerNapiProxy::own_entry() {
    std::lock_guard<std::mutex> lock(registryMutex_);
    RegistryEntry *entry = &mediaPlayerMap_[id_];
    // release: pairs with own_media_player's acquire, so a finder sees the node built.
    entry_.store(entry, std::memory_order_release);
    return entry;
}

#ifdef KAVORI_REGISTRY_READ_LOCKED
KavoriCloudMediaPlayer *KavoriCloudPlayerNapiProxy::locked_read(RegistryEntry *entry) {
    std::lock_guard<std::mutex> lock(registryMutex_);
    // relaxed: under registryMutex_, which orders every change.
    KavoriCloudMediaPlayer *mp = entry->mp.load(std::memory_order_relaxed);
    if (mp != nullptr) kvmp_inc_ref(mp);
    return mp;
}
#endif

// A null mp gives back the registered player's reference and duplicates and leaves the entry
// holding null; a non-null mp fills an entry only while it holds no player.
KavoriCloudMediaPlayer *KavoriCloudPlayerNapiProxy::set_media_player(std::string id,
                                                                     KavoriCloudMediaPlayer *mp) {
    LOGI("napi_proxy-->set_media_player");
    TakenOut taken;
    std::lock_guard<std::mutex> lock(registryMutex_);
    RegistryEntry *entry = &mediaPlayerMap_[id];
    if (mp == nullptr) {
        taken = TakenOut(entry);
    } else if (entry->mp.load(std::memory_order_relaxed) == nullptr) {
        kvmp_inc_ref(mp);
        // release: a lock-free reader that finds mp finds it created.
        entry->mp.store(mp, std::memory_order_release);
    }
    return entry->mp.load(std::memory_order_relaxed);
}

// A player still named by the entry is ended with it: once unreachable it would only keep its
// thread and descriptors for good.
void KavoriCloudPlayerNapiProxy::delete_media_player(std::string id) {
    TakenOut taken;
    {
        std::lock_guard<std::mutex> lock(registryMutex_);
        RegistryEntry *entry = FindEntry(id);
        if (entry == nullptr) return;
        taken = TakenOut(entry);
    }
    if (taken.player() != nullptr) kvmp_shutdown(taken.player());
}

// The player is registered before the caller configures it; null when the id already has one or the
// engine made none.
KavoriCloudMediaPlayer *KavoriCloudPlayerNapiProxy::create_player(const char *operation) {
    // relaxed: only skips a repeat of kvmp_global_init, which runs once inside however often it is
    // called and orders itself.
    if (!globalInited_.load(std::memory_order_relaxed)) {
        kvmp_global_init();
        globalInited_.store(true, std::memory_order_relaxed);
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
    // Made before anyone can shut mp down, so before its loop can end: a serial is never made
    // after its player's loop.
    player_serial_of(mp);
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

// The engine frees the player once its message thread has let go too.
void KavoriCloudPlayerNapiProxy::end_player(const char *nullLine, uint64_t serial) {
    EngineRef mp(own_media_player());
    if (!mp) {
        if (nullLine != nullptr) {
            LOGE("%s", nullLine);
        }
        return;
    }
    if (serial != 0 && find_player_serial(mp.get()) != serial) return;
    kvmp_shutdown(mp.get());
    Unregister(id_, mp.get());
}

void KavoriCloudPlayerNapiProxy::KavoriCloudMediaPlayer_release() {
    end_player("napi_proxy-->KavoriCloudMediaPlayer_release mp NULL");
}

void KavoriCloudPlayerNapiProxy::end_media_player() {
    end_player(nullptr);
}

void KavoriCloudPlayerNapiProxy::end_owned_player(uint64_t serial) {
    LOGI("napi_proxy-->end_owned_player");
    end_player(nullptr, serial);
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
    if (entry == nullptr || entry->mp.load(std::memory_order_relaxed) != mp) {  // under the lock
        return false;
    }
    entry->fds.push_back(fd);
    return true;
}
