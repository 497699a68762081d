// Engine player serials and the routes of routed players: which environment's channel gets the
// events of which player.
//
// Threads: creating JS threads and message loops make serials, ending loops forget them. Routes
// are read and changed only under the event channel's lock, held by the caller: producers read
// them on message threads, JS threads set them, a closing channel and an ended loop (through the
// loop's end slot, which the channel installs) drop them. routeMutex guards the serials; it is
// taken under the channel's lock, never the reverse, and nothing is called under it.
#ifndef KAVORI_PROXY_PLAYER_ROUTES_H
#define KAVORI_PROXY_PLAYER_ROUTES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kvmp.h"

// Where a routed player's events go; defined by the event channel, opaque here.
struct EventChannel;

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
// An owned route already held by another channel: routing it elsewhere is refused.
constexpr int64_t kRouteRefused = -1;

// The rest: under the event channel's lock.
// Routes mp's events to channel, in place of any earlier route; `owned` makes channel the route's
// owner (id: what mp is registered under), and a route once owned stays so. Gives the serial, 0
// when mp's loop has ended (nothing routed then), kRouteRefused when another channel owns it.
int64_t route_player(const KavoriCloudMediaPlayer *mp, EventChannel *channel, bool owned,
                     const std::string &id);
// The channel the events of serial go to, or null.
EventChannel *route_of(uint64_t serial);
// The channel that owns the route of serial, or null.
EventChannel *owner_of(uint64_t serial);
// Marks the route of serial, owned by channel, as keeping its environment alive; true when it did
// not before.
bool hold_route(uint64_t serial, const EventChannel *channel);
// Unmarks the route of serial as keeping its environment alive; gives the channel it kept alive, or
// null.
EventChannel *unhold_route(uint64_t serial);
// Drops the route of serial, whose loop has ended; gives the channel it kept alive, or null.
EventChannel *end_route(uint64_t serial);
// Drops every route to channel, which stops taking events; the players it owned go to `owned`.
void drop_routes_to(const EventChannel *channel, std::vector<OwnedPlayer> &owned);
// Routes held now, for tests: every ended player and environment gives its routes back.
size_t route_count();

#endif
