// The read of a proxy's own engine player, built into each adapter: every JS method makes it, and
// a call between the two parts would weigh on the fastest queries. player_registry.cpp says how the
// registry is guarded and defines the reader slots.
#ifndef KAVORI_PROXY_REGISTRY_READ_H
#define KAVORI_PROXY_REGISTRY_READ_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "kvmp.h"
#include "proxy/kavori_player_proxy.h"

// Entries are emptied, never erased: a proxy keeps a pointer to its own (map nodes stay put while
// the map grows), so the calls of every JS method skip the hashing.
struct RegistryEntry {
    // Holds the registry's reference when not null; changed under registryMutex_ only.
    std::atomic<KavoriCloudMediaPlayer *> mp{nullptr};
    std::vector<int> fds;  // duplicates mp reads as pipe: sources; registryMutex_
};

// Entries being read without the lock, one per slot. A reader starts its search for a free slot at
// one hashed from where its stack lies, so threads mostly start apart and a thread mostly finds the
// same slot (and cache line) again; two threads may still hash alike, and then the later one takes
// the next free slot. The slots only have to be many enough that a free one is always near: a
// reader holds one for a single kvmp_inc_ref, so only more readers at once than slots search a
// whole round in vain, and those yield after each such round to let the holders finish.
struct alignas(64) ReaderSlot {
    std::atomic<const RegistryEntry *> reading{nullptr};
};
constexpr size_t kReaderSlots = 64;
extern ReaderSlot readerSlots[kReaderSlots];

// Shows an entry in a free slot for as long as it lives, and clears the slot even
// when the reference taken meanwhile throws: a slot left showing an entry would have the next
// release of its player wait forever.
class ReadingShown {
  public:
    explicit ReadingShown(const RegistryEntry *entry) {
        char here = 0;
        // 64 KiB pieces of the stack, mixed so that stacks a power of two apart spread out.
        uint64_t piece = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&here) >> 16);
        size_t i = static_cast<size_t>((piece * 0x9E3779B97F4A7C15ull) >> 58) % kReaderSlots;
        for (size_t tried = 1;; i = (i + 1) % kReaderSlots, ++tried) {
            const RegistryEntry *none = nullptr;
            // seq_cst on success: see player_registry.cpp's opening; a failed load needs no order.
            if (readerSlots[i].reading.compare_exchange_strong(
                    none, entry, std::memory_order_seq_cst, std::memory_order_relaxed))
                break;
            if (tried % kReaderSlots == 0) std::this_thread::yield();
        }
        slot_ = &readerSlots[i];
    }
    // release: the reference taken meanwhile is done before the slot shows free.
    ~ReadingShown() { slot_->reading.store(nullptr, std::memory_order_release); }
    ReadingShown(const ReadingShown &) = delete;
    ReadingShown &operator=(const ReadingShown &) = delete;

  private:
    ReaderSlot *slot_;
};

// The path of every JS method. The read of the entry's player and the reference it takes are one
// step for whoever takes the player out: either under the lock (KAVORI_REGISTRY_READ_LOCKED, the
// build bench/ab_registry_read.sh compares) or, by default, shown in a reader slot.
inline KavoriCloudMediaPlayer *KavoriCloudPlayerNapiProxy::own_media_player() {
    // acquire/release: the entry is a map node made under registryMutex_; whoever finds the pointer
    // must see the node built.
    RegistryEntry *entry = entry_.load(std::memory_order_acquire);
    if (entry == nullptr) entry = own_entry();
#ifdef KAVORI_REGISTRY_READ_LOCKED
    return locked_read(entry);
#else
    ReadingShown shown(entry);  // seen by AwaitReaders before mp can be dropped
    // seq_cst: see player_registry.cpp's opening (the reader's load after its slot store).
    KavoriCloudMediaPlayer *mp = entry->mp.load(std::memory_order_seq_cst);
    if (mp != nullptr) kvmp_inc_ref(mp);
    return mp;
#endif
}

#endif
