// Threads: see player_routes.h. The tables are never destroyed: detached message threads may still
// end their loops, and post, while the process exits.
#include "proxy/player_routes.h"

#include <cstdint>
#include <iterator>
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
uint64_t lastSerial = 0;
// Guarded by the event channel's lock.
auto &routes = *new std::unordered_map<uint64_t, Route>;

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

uint64_t forget_player_serial(const KavoriCloudMediaPlayer *mp) {
    std::lock_guard<std::mutex> lock(routeMutex);
    auto it = serials.find(mp);
    if (it == serials.end()) return 0;
    uint64_t serial = it->second;
    serials.erase(it);
    return serial;
}

uint64_t route_player(const KavoriCloudMediaPlayer *mp, EventChannel *channel) {
    // Held while the route is written: a loop that ends meanwhile forgets its serial before or
    // after, and in the second case drops the route through its end slot.
    std::lock_guard<std::mutex> lock(routeMutex);
    auto it = serials.find(mp);
    if (it == serials.end()) return 0;
    try {
        routes[it->second].channel = channel;
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return it->second;
}

EventChannel *route_of(uint64_t serial) {
    if (serial == 0 || routes.empty()) return nullptr;
    auto it = routes.find(serial);
    return it == routes.end() ? nullptr : it->second.channel;
}

void end_route(uint64_t serial) {
    routes.erase(serial);
}

void drop_routes_to(const EventChannel *channel) {
    for (auto it = routes.begin(); it != routes.end();) {
        it = it->second.channel == channel ? routes.erase(it) : std::next(it);
    }
}

size_t route_count() {
    return routes.size();
}
