// How long an environment that routes players lives, and what its end takes along: the owned
// players it prepared hold it alive (as an open socket holds a loop) until their engine fails or
// their loop ends, and when it ends, the players it owned end too. The one rule for the holds:
// an owned player holds its environment from the owner's prepare until its loop has posted its
// last event or it posted an engine error, whether or not a routed listener is set. The routed
// channels call these at their steps; they call nothing above them.
//
// Threads: the _locked functions run under channel_mutex(), on the JS thread (prepare, the
// channel's close) or on message threads (events, loop ends). The route table counts the holds.
#ifndef KAVORI_NAPI_ENVIRONMENT_LIFETIME_H
#define KAVORI_NAPI_ENVIRONMENT_LIFETIME_H

#include <cstdint>

#include "kvmp.h"
#include "util/engine_events.h"

struct EventChannel;

// As channel's environment prepares mp: true when this made the environment held.
bool hold_environment_locked(const EventChannel &channel, const KavoriCloudMediaPlayer *mp);
// The engine error of player ends its hold; gives the channel whose last hold it was, or null.
EventChannel *engine_error_locked(uint64_t player);
// An event of player: the channel it lets go, or null. Costs one comparison for any other kind.
inline EventChannel *event_lets_go_locked(uint64_t player, int32_t what) {
    return what == kEngineErrorEvent ? engine_error_locked(player) : nullptr;
}
// The loop of player has posted its last event: its route goes. Gives the channel whose last hold
// it was, or null.
EventChannel *loop_ended_locked(uint64_t player);
// Whether channel's environment is held now.
bool environment_held_locked(const EventChannel &channel);
// Changes whenever an environment goes from held to not held or back (read without the lock).
uint64_t holds_changed();

// Channel stops taking events: at once, its routes go and its owned players are refused to every
// other environment, until end_orphaned_players has ended them.
void environment_ends_locked(const EventChannel &channel);
// On channel's JS thread, unlocked, once it stopped: ends each player its environment owned, by the
// release path, where its id still names it.
void end_orphaned_players(const EventChannel &channel);

#endif
