// A listener's way from engine threads to its environment's JS thread: a queue, the thread-safe
// function that wakes the JS thread once per batch, and the delivery of a batch to the listener,
// a group of events per crossing into JS (event_groups.h) and a slice of groups per wake-up, the
// environment's loop running between slices.
// The raw listener (raw_listener.cpp) has one channel at a time for the whole module; the routed
// listener (routed_listener.cpp) one per environment. A routed channel tells
// environment_lifetime.h when an event or a loop's end may let its environment go and when it
// stops; it keeps nothing of the environment's lifetime itself.
//
// Threads: post_player_event runs on engine threads (any number at once) and only queues; a
// channel's batches are delivered on its environment's JS thread. channel_mutex()
// (player_routes.h) guards the
// fields marked below and is never held while calling into JS or into a thread-safe function: a
// thread that uses a channel's `wake` outside the lock counts itself in `inFlight` first, and
// nothing releases `wake` or frees the channel before that count is back to 0 (the channel's own
// JS thread, where it is freed, holds `wake` open by a hold of its own instead while the rest of a
// batch waits for the loop's next turn). It also guards the
// routes (player_routes.cpp), whose serials' lock is taken under it.
#ifndef KAVORI_NAPI_EVENT_CHANNEL_H
#define KAVORI_NAPI_EVENT_CHANNEL_H

#include <napi/native_api.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "kvmp.h"
#include "napi/event_groups.h"
#include "proxy/player_routes.h"
#include "util/event_text.h"

// One event from posting to delivery.
struct CallbackContext {
    uint64_t player = 0;  // the posting player's serial, given to a routed listener
    int32_t what = 0;
    int32_t param1 = 0;
    int32_t param2 = 0;
    EventText obj;  // null: the listener gets three arguments, else four
};

struct EventChannel {
    // Immutable once made.
    napi_env env = nullptr;
    napi_threadsafe_function wake = nullptr;
    bool routed = false;  // events go with the posting player's serial as a first argument
    void (*onClose)(EventChannel &) = nullptr;  // run under channel_mutex() when it stops
    // Guarded by channel_mutex().
    std::vector<CallbackContext> queue;  // a wake-up is queued or being queued while not empty
    bool open = true;                    // false once the environment stops taking events
    bool listening = false;              // open, and a listener is set: events are queued
    bool released = false;               // our hold on `wake` is given back, or being given back
    int inFlight = 0;                    // threads using `wake` outside the lock
    std::condition_variable idle;        // notified whenever inFlight drops
    // JS thread only.
    std::vector<CallbackContext> spare;    // emptied storage, swapped in for the next batch
    std::vector<CallbackContext> pending;  // the batch being delivered, a slice per wake-up
    size_t delivered = 0;                  // pending's events up to here are delivered
    bool resumeHeld = false;               // `wake` acquired until the rest of pending is woken for
    bool restKeepsAlive = false;           // `wake` is ref'd until the rest of pending is delivered
    EventGroups *groups = nullptr;         // its environment's group calls
    napi_ref listener = nullptr;
    bool textAlways = false;  // the listener gets a text argument, undefined when there is none
    bool keepsAlive = false;  // `wake` is ref'd: its environment was held when last looked at
    uint64_t holdsSeen = 0;   // holds_changed() when last looked at
};

// A channel for env's JS thread delivering to listener (owned from here on, may be null); null
// when env gives no thread-safe function. `onClose` runs under channel_mutex() when the channel
// stops taking events, for its owner to forget it.
EventChannel *make_channel(napi_env env, napi_ref listener, bool routed,
                           void (*onClose)(EventChannel &));
// Gives back the hold on `wake` of a channel the caller has just taken out of use (under the lock
// it passes, held again on return), once every event queued for it has its wake-up ahead of the
// release; the channel is freed on its JS thread after its last delivery.
void release_channel_locked(std::unique_lock<std::mutex> &lock, EventChannel &channel);
// Replaces the listener of a channel, on its JS thread; a batch being delivered goes on with the
// new one from the next event on. With textAlways, an event without a text gets undefined in its
// place.
void set_channel_listener(EventChannel &channel, napi_ref listener, bool textAlways = false);

// The loop end slot's holder: the route of the player goes once its last event is queued; a
// channel it held is woken to let go.
void end_player_route(uint64_t player);
// On a routed channel's JS thread: refs `wake` while its environment is held, unrefs it after, as
// a socket holds the loop while it is open.
void sync_keep_alive(EventChannel &channel);

// The poster of the message loops: the event of the player with serial `player` (0: none); obj (or
// null) is taken over and released with free(). Inside a loop's batch (the batch slot this file
// installs) the event is held back and queued with the rest of the batch, in order, under one
// lock and with at most one wake-up per channel.
void post_player_event(uint64_t player, void *weak, int what, int param1, int param2, char *obj);
// post_player_event for no player: the raw listener only.
void post_event(void *weak, int what, int param1, int param2, char *obj);
// Queues one event for the raw listener; without one the event is dropped.
void messageCallBack(int what, int param1, int param2, char *obj);

// The raw listener's channel: set by raw_listener.cpp under channel_mutex(), read by producers.
extern EventChannel *rawChannel;

#endif
