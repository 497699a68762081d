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

// The rest: under the event channel's lock.
// Routes mp's events to channel, in place of any earlier route; gives the serial, 0 when mp's loop
// has ended (nothing routed then).
uint64_t route_player(const KavoriCloudMediaPlayer *mp, EventChannel *channel);
// The channel the events of serial go to, or null.
EventChannel *route_of(uint64_t serial);
// Drops the route of serial, whose loop has ended.
void end_route(uint64_t serial);
// Drops every route to channel, which stops taking events.
void drop_routes_to(const EventChannel *channel);
// Routes held now, for tests: every ended player and environment gives its routes back.
size_t route_count();

#endif
