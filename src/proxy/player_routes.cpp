// Threads: see player_routes.h. The tables are never destroyed: detached message threads may still
// end their loops, and post, while the process exits.
#include "proxy/player_routes.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// One routed player.
struct Route {
    EventChannel *channel = nullptr;
    bool owned = false;  // channel's environment ends the player when it ends
    bool holds = false;  // owned and prepared by its owner: keeps that environment alive
    std::string id;      // owned: the id the player is registered under
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

uint64_t find_player_serial(const KavoriCloudMediaPlayer *mp) {
    std::lock_guard<std::mutex> lock(routeMutex);
    auto it = serials.find(mp);
    return it == serials.end() ? 0 : it->second;
}

int64_t route_player(const KavoriCloudMediaPlayer *mp, EventChannel *channel, bool owned,
                     const std::string &id) {
    // Held while the route is written: a loop that ends meanwhile forgets its serial before or
    // after, and in the second case drops the route through its end slot.
    std::lock_guard<std::mutex> lock(routeMutex);
    auto it = serials.find(mp);
    if (it == serials.end()) return 0;
    Route *route = nullptr;
    std::string ownedId;
    try {
        if (owned) ownedId = id;
        route = &routes[it->second];
    } catch (const std::bad_alloc &) {
        return 0;
    }
    if (route->owned && route->channel != channel) return kRouteRefused;
    if (owned && !route->owned) {
        route->owned = true;
        route->id = std::move(ownedId);
    }
    route->channel = channel;
    return static_cast<int64_t>(it->second);
}

EventChannel *route_of(uint64_t serial) {
    if (serial == 0 || routes.empty()) return nullptr;
    auto it = routes.find(serial);
    return it == routes.end() ? nullptr : it->second.channel;
}

EventChannel *owner_of(uint64_t serial) {
    auto it = routes.find(serial);
    return it == routes.end() || !it->second.owned ? nullptr : it->second.channel;
}

bool hold_route(uint64_t serial, const EventChannel *channel) {
    auto it = routes.find(serial);
    if (it == routes.end() || !it->second.owned || it->second.channel != channel) return false;
    return !std::exchange(it->second.holds, true);
}

EventChannel *unhold_route(uint64_t serial) {
    auto it = routes.find(serial);
    if (it == routes.end() || !std::exchange(it->second.holds, false)) return nullptr;
    return it->second.channel;
}

EventChannel *end_route(uint64_t serial) {
    auto it = routes.find(serial);
    if (it == routes.end()) return nullptr;
    EventChannel *held = it->second.holds ? it->second.channel : nullptr;
    routes.erase(it);
    return held;
}

void drop_routes_to(const EventChannel *channel, std::vector<OwnedPlayer> &owned) {
    for (auto it = routes.begin(); it != routes.end();) {
        if (it->second.channel != channel) {
            ++it;
            continue;
        }
        if (it->second.owned) {
            try {
                owned.push_back({std::move(it->second.id), it->first});
            } catch (const std::bad_alloc &) {
                // left to its own release: the module cannot end what it cannot remember
            }
        }
        it = routes.erase(it);
    }
}

size_t route_count() {
    return routes.size();
}
