// Threads: see environment_lifetime.h.
#include "napi/environment_lifetime.h"

#include <mutex>
#include <vector>

#include "napi/kavori_player_napi.h"
#include "proxy/kavori_player_proxy.h"
#include "proxy/player_routes.h"

bool hold_environment_locked(const EventChannel &channel, const KavoriCloudMediaPlayer *mp) {
    return hold_route(find_player_serial(mp), &channel);
}

EventChannel *engine_error_locked(uint64_t player) {
    return player == 0 ? nullptr : unhold_route(player);
}

EventChannel *loop_ended_locked(uint64_t player) {
    return end_route(player);
}

bool environment_held_locked(const EventChannel &channel) {
    return holds_environment(&channel);
}

uint64_t holds_changed() {
    return hold_changes();
}

void environment_ends_locked(const EventChannel &channel) {
    orphan_routes_of(&channel);
}

void end_orphaned_players(const EventChannel &channel) {
    std::vector<OwnedPlayer> owned;
    {
        std::lock_guard<std::mutex> lock(channel_mutex());
        take_orphans(&channel, owned);
    }
    for (const OwnedPlayer &player : owned) {
        KavoriCloudPlayerNapi *instance = KavoriCloudPlayerNapi::find(player.id);
        if (instance != nullptr) instance->proxy()->end_owned_player(player.serial);
    }
}
