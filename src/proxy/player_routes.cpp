// Threads: see player_routes.h. The tables are never destroyed: detached message threads may still
// end their loops, and post, while the process exits.
#include "proxy/player_routes.h"

#include <atomic>
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
    EventChannel *channel = nullptr;  // null once its owner has ended
    bool owned = false;               // channel's environment ends the player when it ends
    bool holds = false;  // owned and prepared by its owner: keeps that environment alive
    std::string id;      // owned: the id the player is registered under
    // The ended owner whose environment is still to end the player; compared, never followed.
    const EventChannel *orphanOf = nullptr;
};

std::mutex &routeMutex = *new std::mutex;
// Guarded by routeMutex. A serial goes before the loop drops its reference, so a player's address
// is never found with an older player's serial.
auto &serials = *new std::unordered_map<const KavoriCloudMediaPlayer *, uint64_t>;
uint64_t lastSerial = 0;
// Guarded by the event channel's lock.
auto &routes = *new std::unordered_map<uint64_t, Route>;
// The holds of each held channel; a channel with none has no entry. Guarded by the event
// channel's lock.
auto &holdCounts = *new std::unordered_map<const EventChannel *, int>;
// Written under the event channel's lock; relaxed: whoever must act on a change is woken after it
// through a thread-safe function, whose own lock carries the new value.
std::atomic<uint64_t> holdChanges{0};

// Takes one hold of channel away; gives channel when it was the last.
EventChannel *Unhold(Route &route) {
    if (!std::exchange(route.holds, false)) return nullptr;
    auto it = holdCounts.find(route.channel);
    if (it == holdCounts.end() || --it->second > 0) return nullptr;
    holdCounts.erase(it);
    holdChanges.fetch_add(1, std::memory_order_relaxed);
    return route.channel;
}

}  // namespace

std::mutex &channel_mutex() {
    static std::mutex &mutex = *new std::mutex;  // never destroyed: see the header
    return mutex;
}

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

int route_owner(uint64_t serial, const EventChannel *channel) {
    auto it = routes.find(serial);
    if (it == routes.end() || !it->second.owned) return 0;
    return it->second.channel != nullptr && it->second.channel == channel ? 1 : 2;
}

bool hold_route(uint64_t serial, const EventChannel *channel) {
    auto it = routes.find(serial);
    if (it == routes.end() || !it->second.owned || it->second.channel != channel ||
        it->second.holds)
        return false;
    int *count = nullptr;
    try {
        count = &holdCounts[channel];
    } catch (const std::bad_alloc &) {
        return false;  // not held: the environment may end between batches, as before prepare
    }
    it->second.holds = true;
    if (++*count > 1) return false;
    holdChanges.fetch_add(1, std::memory_order_relaxed);
    return true;
}

EventChannel *unhold_route(uint64_t serial) {
    auto it = routes.find(serial);
    return it == routes.end() ? nullptr : Unhold(it->second);
}

EventChannel *end_route(uint64_t serial) {
    auto it = routes.find(serial);
    if (it == routes.end()) return nullptr;
    EventChannel *letGo = Unhold(it->second);
    routes.erase(it);
    return letGo;
}

void orphan_routes_of(const EventChannel *channel) {
    if (holdCounts.erase(channel) > 0) holdChanges.fetch_add(1, std::memory_order_relaxed);
    for (auto it = routes.begin(); it != routes.end();) {
        Route &route = it->second;
        if (route.channel != channel) {
            ++it;
            continue;
        }
        if (!route.owned) {
            it = routes.erase(it);
            continue;
        }
        route.channel = nullptr;
        route.holds = false;
        route.orphanOf = channel;
        ++it;
    }
}

bool holds_environment(const EventChannel *channel) {
    return holdCounts.count(channel) > 0;
}

uint64_t hold_changes() {
    return holdChanges.load(std::memory_order_relaxed);
}

void take_orphans(const EventChannel *channel, std::vector<OwnedPlayer> &owned) {
    for (auto &[serial, route] : routes) {
        if (route.orphanOf != channel) continue;
        try {
            owned.push_back({route.id, serial});
        } catch (const std::bad_alloc &) {
            // left to its own release: the module cannot end what it cannot remember
        }
        route.orphanOf = nullptr;
    }
}

size_t route_count() {
    return routes.size();
}
