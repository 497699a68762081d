// Threads: see player_routes.h. The tables are never destroyed: detached message threads may still
// end their loops, and post, while the process exits.
#include "proxy/player_routes.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

// One routed player. A struct, not a bare pointer: a route may come to carry more than where it
// goes.
struct Route {
    EventChannel *channel = nullptr;
};

std::mutex &routeMutex = *new std::mutex;
// Guarded by routeMutex. A serial goes before the loop drops its reference, so a player's address
// is never found with an older player's serial.
auto &serials = *new std::unordered_map<const KavoriCloudMediaPlayer *, uint64_t>;
auto &routes = *new std::unordered_map<uint64_t, Route>;
uint64_t lastSerial = 0;
// routes.size(), written under routeMutex, read without it. Relaxed suffices: a route is set on a
// JS thread before that thread starts the player (prepare), and the engine's own hand-off of the
// message to the loop orders the two; a reader that sees a stale count only skips a route that was
// set or dropped concurrently with the event, which then had no order with it anyway.
std::atomic<size_t> routeCount{0};

void CountRoutesLocked() {
    routeCount.store(routes.size(), std::memory_order_relaxed);
}

}  // namespace

uint64_t player_serial_of(const KavoriCloudMediaPlayer *mp) noexcept {
    try {
        std::lock_guard<std::mutex> lock(routeMutex);
        auto [it, made] = serials.try_emplace(mp, lastSerial + 1);
        if (made) lastSerial = it->second;
        return it->second;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

uint64_t end_player_serial(const KavoriCloudMediaPlayer *mp) {
    std::lock_guard<std::mutex> lock(routeMutex);
    auto it = serials.find(mp);
    if (it == serials.end()) return 0;
    uint64_t serial = it->second;
    serials.erase(it);
    routes.erase(serial);
    CountRoutesLocked();
    return serial;
}

uint64_t route_player(const KavoriCloudMediaPlayer *mp, EventChannel *channel) {
    std::lock_guard<std::mutex> lock(routeMutex);
    // Found only between creation and the loop's end: a route is never left behind an ended loop.
    auto it = serials.find(mp);
    if (it == serials.end()) return 0;
    try {
        routes[it->second].channel = channel;
    } catch (const std::bad_alloc &) {
        return 0;
    }
    CountRoutesLocked();
    return it->second;
}

EventChannel *route_of(uint64_t serial) {
    if (serial == 0 || routeCount.load(std::memory_order_relaxed) == 0) return nullptr;
    std::lock_guard<std::mutex> lock(routeMutex);
    auto it = routes.find(serial);
    return it == routes.end() ? nullptr : it->second.channel;
}

void drop_routes_to(const EventChannel *channel) {
    std::lock_guard<std::mutex> lock(routeMutex);
    for (auto it = routes.begin(); it != routes.end();) {
        it = it->second.channel == channel ? routes.erase(it) : std::next(it);
    }
    CountRoutesLocked();
}

size_t route_count() {
    std::lock_guard<std::mutex> lock(routeMutex);
    return routes.size();
}
