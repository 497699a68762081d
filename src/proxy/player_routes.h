// Engine player serials and the routes of routed players: which environment's channel gets the
// events of which player.
//
// Threads: creating JS threads and message loops make serials, ending loops forget them. Routes
// are read and changed only under the event channel's lock, held by the caller: producers read
// them on message threads, JS threads set them, a closing channel and an ended loop (through the
// loop's end slot, which the channel installs) drop them; the count of holds goes with them.
// routeMutex guards the serials; it is taken under the channel's lock, never the reverse, and
// nothing is called under it.
#ifndef KAVORI_PROXY_PLAYER_ROUTES_H
#define KAVORI_PROXY_PLAYER_ROUTES_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "kvmp.h"

// Where a routed player's events go; defined by the event channel, opaque here.
struct EventChannel;

// The event channels' lock, which guards the routes too. Never destroyed: engine threads may still
// post while the process exits.
std::mutex &channel_mutex();

// A player's serial: positive, never reused, so that an event of an ended player is told apart from
// one of its successor under the same id. Made by whichever comes first, the creator or the
// player's message loop, so that no event can be posted before it exists; it lasts until the loop
// has posted its last event. 0 only when memory runs out (the player's events are then not routed).
uint64_t player_serial_of(const KavoriCloudMediaPlayer *mp) noexcept;
// Forgets mp's serial once its loop has posted its last event; gives it (0: it had none).
uint64_t forget_player_serial(const KavoriCloudMediaPlayer *mp);
// mp's serial, 0 once its loop has ended; never makes one.
uint64_t find_player_serial(const KavoriCloudMediaPlayer *mp);

// A route's owner: the environment of its channel. When that environment ends, the module ends the
// player under `id` if its serial is still `serial`.
struct OwnedPlayer {
    std::string id;
    uint64_t serial = 0;
};
// An owned route already held by another channel, or by an environment that has ended and has not
// ended the player yet: routing it elsewhere is refused.
constexpr int64_t kRouteRefused = -1;

// The rest: under the event channel's lock.
// Routes mp's events to channel, in place of any earlier route; `owned` makes channel the route's
// owner (id: what mp is registered under), and a route once owned stays so. Gives the serial, 0
// when mp's loop has ended (nothing routed then), kRouteRefused when another channel owns it.
int64_t route_player(const KavoriCloudMediaPlayer *mp, EventChannel *channel, bool owned,
                     const std::string &id);
// The channel the events of serial go to, or null.
EventChannel *route_of(uint64_t serial);
// Who owns the route of serial, as channel sees it: 0 nobody, 1 channel, 2 another environment
// (one that has ended included, until its player's loop ends).
int route_owner(uint64_t serial, const EventChannel *channel);

// Keep-alive holds. An owned route prepared by its owner holds the owner's environment; the table
// counts the holds of each channel, and only these four change the count. Each gives whether the
// channel's environment went from not held to held (hold_route), or the channel whose last hold
// it took away (the others; null when holds remain or there were none).
bool hold_route(uint64_t serial, const EventChannel *channel);
EventChannel *unhold_route(uint64_t serial);
// Drops the route of serial, whose loop has ended.
EventChannel *end_route(uint64_t serial);
// Channel stops taking events: its routes go, except the owned ones, which stay refused to every
// other environment until their players are ended (take_orphans), and its holds with them.
void orphan_routes_of(const EventChannel *channel);
// True while an owned route holds channel's environment.
bool holds_environment(const EventChannel *channel);
// Changes each time an environment goes from held to not held or back; read without the lock, so
// that a batch's end can see that nothing needs a look.
uint64_t hold_changes();

// Moves the owned players of a channel that stopped to `owned`, to be ended by its environment.
void take_orphans(const EventChannel *channel, std::vector<OwnedPlayer> &owned);
// Routes held now, for tests: every ended player and environment gives its routes back.
size_t route_count();

#endif
