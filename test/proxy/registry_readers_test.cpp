// The engine player registry's lock-free read with more readers at once than it has reader slots.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "proxy/engine_ref.h"
#include "proxy/kavori_player_proxy.h"
#include "proxy/registry_read.h"

namespace {

constexpr int kReaders = 96;  // more than the registry's 64 slots

// Starts kReaders threads that each call read(proxy) until it gives false, all released at once.
template <typename Read>
std::vector<std::thread> StartReaders(std::atomic<int> &started, Read read) {
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i) {
        readers.emplace_back([&started, read] {
            started.fetch_add(1, std::memory_order_relaxed);
            while (started.load(std::memory_order_relaxed) < kReaders) std::this_thread::yield();
            while (read()) {
            }
        });
    }
    return readers;
}

TEST(RegistryReaders, MoreReadersThanSlotsEachGetThePlayer) {
    std::string id = "readers-all";
    KavoriCloudPlayerNapiProxy proxy(id);
    proxy.KavoriCloudMediaPlayer_native_setup_audio();
    EngineRef registered(proxy.get_media_player(id));
    ASSERT_TRUE(registered);
    constexpr int kReads = 2000;
    std::atomic<int> started{0};
    std::atomic<int> wrong{0};
    std::atomic<int> done{0};
    auto readers = StartReaders(started, [&] {
        thread_local int reads = 0;
        EngineRef mp(proxy.get_media_player(id));
        if (mp.get() != registered.get()) wrong.fetch_add(1, std::memory_order_relaxed);
        if (++reads < kReads) return true;
        done.fetch_add(1, std::memory_order_relaxed);
        return false;
    });
    for (std::thread &t : readers) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(done.load(), kReaders);
    proxy.KavoriCloudMediaPlayer_release();
}

// The release waits for the readers that show the entry, and none of them is kept waiting.
TEST(RegistryReaders, ReleaseAmidMoreReadersThanSlotsEnds) {
    std::string id = "readers-release";
    KavoriCloudPlayerNapiProxy proxy(id);
    proxy.KavoriCloudMediaPlayer_native_setup_audio();
    std::atomic<int> started{0};
    std::atomic<int> gone{0};
    auto readers = StartReaders(started, [&] {
        EngineRef mp(proxy.get_media_player(id));
        if (mp) return true;
        gone.fetch_add(1, std::memory_order_relaxed);
        return false;
    });
    while (started.load(std::memory_order_relaxed) < kReaders) std::this_thread::yield();
    proxy.KavoriCloudMediaPlayer_release();
    for (std::thread &t : readers) t.join();
    EXPECT_EQ(gone.load(), kReaders);
}

// Every slot held by another entry: a reader must keep searching, neither give up nor read
// unshown, until one comes free, and then read the player.
TEST(RegistryReaders, ReaderWaitsForAFreeSlot) {
    std::string id = "readers-full";
    KavoriCloudPlayerNapiProxy proxy(id);
    proxy.KavoriCloudMediaPlayer_native_setup_audio();
    EngineRef registered(proxy.get_media_player(id));
    ASSERT_TRUE(registered);
    RegistryEntry other;
    for (ReaderSlot &slot : readerSlots) {
        const RegistryEntry *none = nullptr;
        // Tolerates no other reader: this test runs alone in its process.
        ASSERT_TRUE(slot.reading.compare_exchange_strong(none, &other));
    }
    std::atomic<bool> done{false};
    std::atomic<bool> searching{false};
    std::atomic<KavoriCloudMediaPlayer *> got{nullptr};
    clockid_t cpu{};
    std::thread reader([&] {
        pthread_getcpuclockid(pthread_self(), &cpu);
        searching.store(true, std::memory_order_release);
        got.store(proxy.get_media_player(id), std::memory_order_relaxed);
        done.store(true, std::memory_order_release);
    });
    while (!searching.load(std::memory_order_acquire)) std::this_thread::yield();
    // Until the reader has spent 20 ms of its own CPU time searching (thousands of rounds over
    // the slots), or has given up. A clock read that fails leaves `used` at 0: the thread ended.
    for (;;) {
        timespec used{};
        clock_gettime(cpu, &used);
        if (done.load(std::memory_order_acquire) || used.tv_sec > 0 || used.tv_nsec > 20000000)
            break;
        std::this_thread::yield();
    }
    bool doneWhileFull = done.load(std::memory_order_acquire);
    readerSlots[kReaderSlots / 2].reading.store(nullptr, std::memory_order_release);
    reader.join();
    for (ReaderSlot &slot : readerSlots) slot.reading.store(nullptr, std::memory_order_release);
    EngineRef read(got.load(std::memory_order_relaxed));
    EXPECT_FALSE(doneWhileFull);
    EXPECT_EQ(read.get(), registered.get());
    proxy.KavoriCloudMediaPlayer_release();
}

}  // namespace
