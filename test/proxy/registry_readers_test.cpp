// The engine player registry's lock-free read with more readers at once than it has reader slots.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "proxy/engine_ref.h"
#include "proxy/kavori_player_proxy.h"

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

}  // namespace
