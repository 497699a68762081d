// Threads: see event_channel.h.
#include "napi/event_channel.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "napi/environment_lifetime.h"
#include "napi/napi_util.h"
#include "proxy/kavori_player_proxy.h"
#include "proxy/player_routes.h"
#include "util/ohos_log.h"

EventChannel *rawChannel = nullptr;

namespace {

// Events are held by value: queueing allocates nothing once the vectors have grown.
using Batch = std::vector<CallbackContext>;

// Storage each of a channel's two buffers keeps once a flood is over; larger ones go back.
constexpr size_t kKeptBatchBytes = 1 << 20;

// Takes a channel out of service; its queued events go to `dropped`, freed by the caller unlocked.
void CloseLocked(EventChannel &channel, Batch &dropped) {
    channel.open = false;
    channel.listening = false;
    dropped.swap(channel.queue);
    if (rawChannel == &channel) rawChannel = nullptr;
    if (channel.onClose != nullptr) channel.onClose(channel);
    if (channel.routed) environment_ends_locked(channel);
}

// Waits until no thread but the `own` ones counted by the caller uses channel.wake. Each such use
// is one non-blocking call, so the wait is short.
void AwaitIdleLocked(std::unique_lock<std::mutex> &lock, EventChannel &channel, int own = 0) {
    channel.idle.wait(lock, [&channel, own] { return channel.inFlight == own; });
}

// Notified under the lock: a waiter may free the channel as soon as it has the lock back.
void LeaveLocked(EventChannel &channel) {
    --channel.inFlight;
    channel.idle.notify_all();
}

// The producers' way in. Their critical sections are one push_back (tens of nanoseconds), so a
// producer that finds the lock taken gives its core away a few times before it sleeps in the
// kernel, where the holder would have to wake it with a system call. 16 yields outlast such a
// section many times over, also when each yield runs another thread first; a holder still not done
// by then has lost its core, and sleeping costs less than yielding on until it gets one back.
std::unique_lock<std::mutex> LockAsProducer() {
    constexpr int kYieldsBeforeSleep = 16;
    for (int tries = 0; tries < kYieldsBeforeSleep; ++tries) {
        if (channel_mutex().try_lock())
            return std::unique_lock<std::mutex>(channel_mutex(), std::adopt_lock);
        std::this_thread::yield();
    }
    return std::unique_lock<std::mutex>(channel_mutex());
}

// Calls per handle scope. Opening and closing a scope costs about a fifth of a listener call, so
// it is paid once per group; a group holds at most 6 handles a call, which stays small.
constexpr size_t kCallsPerScope = 64;

// A number of the group being delivered, made anew only when it changes: an event's kind, and a
// routed event's serial, repeat in runs.
template <typename T>
class RepeatedNumber {
  public:
    napi_value get(napi_env env, T value) {
        if (made_ != nullptr && value_ == value) return made_;
        value_ = value;
        Make(env, value, &made_);
        return made_;
    }

  private:
    static void Make(napi_env env, int32_t v, napi_value *out) { napi_create_int32(env, v, out); }
    static void Make(napi_env env, uint64_t v, napi_value *out) {
        napi_create_int64(env, static_cast<int64_t>(v), out);
    }
    T value_{};
    napi_value made_ = nullptr;
};

// Fills argv with the event's numbers and, when it has one, its text; gives the count.
size_t EventArgs(napi_env env, const CallbackContext &event, RepeatedNumber<int32_t> &kind,
                 napi_value *argv) {
    argv[0] = kind.get(env, event.what);
    napi_create_int32(env, event.param1, &argv[1]);
    napi_create_int32(env, event.param2, &argv[2]);
    if (!event.obj) return 3;
    napi_create_string_utf8(env, event.obj.get(), NAPI_AUTO_LENGTH, &argv[3]);
    return 4;
}

// A listener that throws is reported as an uncaught exception; the batch goes on. False when the
// environment can no longer run JS.
bool CallListener(napi_env env, napi_value receiver, napi_value listener, size_t argc,
                  const napi_value *argv) {
    if (napi_call_function(env, receiver, listener, argc, argv, nullptr) == napi_ok) return true;
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (!pending) return false;
    napi_value error = nullptr;
    napi_get_and_clear_last_exception(env, &error);
    ReportUncaught(env, error);
    return true;
}

// Delivers batch[from, from + kCallsPerScope) at most, in one handle scope; gives where it stopped,
// or batch.size() when the delivery must end. The listener may replace or remove itself: each event
// goes to the one set when it is called. Its value is read once per group, and again only after a
// replacement.
size_t DeliverGroup(napi_env env, EventChannel &channel, const Batch &batch, size_t from) {
    napi_handle_scope scope = nullptr;
    if (napi_open_handle_scope(env, &scope) != napi_ok) return batch.size();
    napi_value receiver = nullptr;
    napi_get_undefined(env, &receiver);
    napi_value listener = nullptr;
    size_t argcWithoutText = 0;  // what a textless event gets: 3, 4 (the serial), or 5 (its slot)
    unsigned readAt = channel.listenerSets - 1;
    RepeatedNumber<int32_t> kind;
    RepeatedNumber<uint64_t> serial;
    const size_t first = channel.routed ? 1 : 0;
    const size_t end = std::min(batch.size(), from + kCallsPerScope);
    size_t next = from;
    for (; next < end; ++next) {
        const CallbackContext &event = batch[next];
        if (channel.listener == nullptr) {
            next = batch.size();
            break;
        }
        if (readAt != channel.listenerSets) {
            readAt = channel.listenerSets;
            if (napi_get_reference_value(env, channel.listener, &listener) != napi_ok)
                listener = nullptr;
            argcWithoutText = first + (channel.textAlways ? 4 : 3);
        }
        if (listener == nullptr) continue;
        napi_value argv[5];  // the first argc are set below
        if (channel.routed) argv[0] = serial.get(env, event.player);
        size_t argc = first + EventArgs(env, event, kind, argv + first);
        if (argc < argcWithoutText) argv[argc++] = receiver;  // undefined for the missing text
        if (!CallListener(env, receiver, listener, argc, argv)) {
            next = batch.size();
            break;
        }
    }
    napi_close_handle_scope(env, scope);
    return next;
}

void Deliver(napi_env env, EventChannel &channel, const Batch &batch) {
    for (size_t next = 0; next < batch.size();) next = DeliverGroup(env, channel, batch, next);
}

// Once the queue is small again after a delivery, the producers no longer outpace the JS thread
// (they went quiet, or a trickle follows the flood), and a flood's buffers go back: the emptied
// batch's, and the queue's, whose few events move to storage of their size. While the producers
// keep up the pace, the queue refills during each delivery and both buffers keep their size, so
// that queueing does not grow them again.
void GiveBackAfterFlood(EventChannel &channel, Batch &batch) {
    constexpr size_t kKept = kKeptBatchBytes / sizeof(CallbackContext);
    constexpr size_t kSmall = kKept / 8;
    Batch flooded;  // freed unlocked
    {
        std::lock_guard<std::mutex> lock(channel_mutex());
        if (channel.queue.size() > kSmall) {
            channel.spare = std::move(batch);
            return;
        }
        if (channel.queue.capacity() > kKept) {
            try {
                Batch fitted(std::make_move_iterator(channel.queue.begin()),
                             std::make_move_iterator(channel.queue.end()));
                flooded.swap(channel.queue);
                channel.queue.swap(fitted);
            } catch (const std::bad_alloc &) {
                // kept as it is until a later delivery
            }
        }
    }
    if (batch.capacity() > kKept) batch = Batch();
    channel.spare = std::move(batch);
}

// The wake-up, on the JS thread: swaps the whole batch out, then delivers it unlocked. A null env
// comes from wake-ups left when the thread-safe function is deleted, after FinalizeChannel has
// freed the channel and its events: nothing to touch then.
void DrainBatch(napi_env env, napi_value, void *context, void *) {
    if (env == nullptr) return;
    auto *channel = static_cast<EventChannel *>(context);
    Batch batch = std::move(channel->spare);
    {
        std::lock_guard<std::mutex> lock(channel_mutex());
        batch.swap(channel->queue);
    }
    Deliver(env, *channel, batch);
    batch.clear();  // the texts go here
    GiveBackAfterFlood(*channel, batch);
    if (channel->routed) sync_keep_alive(*channel);  // only routes hold an environment
}

void DeleteListener(napi_env env, napi_ref listener) {
    if (listener != nullptr) napi_delete_reference(env, listener);
}

// Environment cleanup hook, run before the environment closes `wake` itself: no event reaches a
// gone environment, and no other thread touches it.
void StopChannel(void *arg) {
    auto *channel = static_cast<EventChannel *>(arg);
    Batch dropped;
    {
        std::unique_lock<std::mutex> lock(channel_mutex());
        CloseLocked(*channel, dropped);
        AwaitIdleLocked(lock, *channel);
    }
    if (channel->routed) end_orphaned_players(*channel);
    {
        std::lock_guard<std::mutex> lock(channel_mutex());
        if (channel->released) return;
        channel->released = true;
    }
    napi_release_threadsafe_function(channel->wake, napi_tsfn_abort);
}

// Last step of a channel, on its JS thread, once its wake-ups are all delivered or aborted.
void FinalizeChannel(napi_env env, void *data, void *) {
    std::unique_ptr<EventChannel> channel(static_cast<EventChannel *>(data));
    Batch dropped;
    {
        std::unique_lock<std::mutex> lock(channel_mutex());
        CloseLocked(*channel, dropped);
        AwaitIdleLocked(lock, *channel);  // a replacing thread may still be leaving its release
    }
    if (channel->routed) end_orphaned_players(*channel);
    napi_remove_env_cleanup_hook(env, StopChannel, channel.get());
    DeleteListener(env, channel->listener);
}

// Queues event; true when the caller must wake the channel's JS thread (the queue was empty), and
// is then counted in inFlight. An event that finds no memory is dropped.
bool QueueLocked(EventChannel &channel, CallbackContext &&event) {
    bool wasEmpty = channel.queue.empty();
    try {
        channel.queue.push_back(std::move(event));
    } catch (const std::bad_alloc &) {
        LOGI("napi-->work null");
        return false;
    }
    if (!wasEmpty) return false;
    ++channel.inFlight;
    return true;
}

// The channel of the player's route, if it has one with a listener.
EventChannel *ListeningRouteLocked(uint64_t player) {
    EventChannel *target = route_of(player);
    return target != nullptr && target->listening ? target : nullptr;
}

// The routed copy of event. The text is copied when the raw listener takes the event too; false
// when that copy fails.
bool RoutedCopy(CallbackContext &event, bool rawTakes, CallbackContext &routed) {
    routed.player = event.player;
    routed.what = event.what;
    routed.param1 = event.param1;
    routed.param2 = event.param2;
    if (!event.obj) return true;
    routed.obj = rawTakes ? CopyText(event.obj.get()) : std::move(event.obj);
    return static_cast<bool>(routed.obj);
}

// A failed wake-up means the environment is closing.
void Woken(EventChannel *channel, napi_status status, Batch &dropped) {
    if (channel == nullptr) return;
    if (status != napi_ok) CloseLocked(*channel, dropped);
    LeaveLocked(*channel);
}

napi_status Wake(EventChannel *channel) {
    if (channel == nullptr) return napi_ok;
    return napi_call_threadsafe_function(channel->wake, channel, napi_tsfn_nonblocking);
}

// A channel that must be woken to let its environment go, counted in inFlight; null when there is
// none, it is closed, or its queue is not empty: a wake-up is then queued or being queued, and the
// batch it delivers ends by looking at the holds.
EventChannel *LetGoLocked(EventChannel *letGo) {
    if (letGo == nullptr || !letGo->open || !letGo->queue.empty()) return nullptr;
    ++letGo->inFlight;
    return letGo;
}

// Queues the events of one player, in order, under one lock; wakes each JS thread, unlocked, at
// most once: when its queue was empty, or when an event let its environment go. The events that a
// closing channel drops are freed by the caller, unlocked.
void Enqueue(CallbackContext *events, size_t count, Batch &dropped, Batch &droppedRouted) {
    EventChannel *raw = nullptr;
    EventChannel *routed = nullptr;
    EventChannel *letGo = nullptr;
    {
        std::unique_lock<std::mutex> lock = LockAsProducer();
        EventChannel *listening =
            rawChannel != nullptr && rawChannel->listening ? rawChannel : nullptr;
        const uint64_t player = events[0].player;
        EventChannel *target = ListeningRouteLocked(player);
        for (CallbackContext *event = events; event != events + count; ++event) {
            if (target != nullptr) {
                CallbackContext routedEvent;
                if (RoutedCopy(*event, listening != nullptr, routedEvent) &&
                    QueueLocked(*target, std::move(routedEvent)))
                    routed = target;
            }
            if (listening != nullptr && QueueLocked(*listening, std::move(*event))) raw = listening;
            // After the event is queued: a channel it queued to is woken for it already.
            if (EventChannel *freed = LetGoLocked(event_lets_go_locked(player, event->what)))
                letGo = freed;
        }
        if (raw == nullptr && routed == nullptr && letGo == nullptr) return;
    }
    napi_status rawStatus = Wake(raw);
    napi_status routedStatus = Wake(routed);
    napi_status letGoStatus = Wake(letGo);
    std::unique_lock<std::mutex> lock = LockAsProducer();
    Woken(raw, rawStatus, dropped);
    Woken(routed, routedStatus, droppedRouted);
    Woken(letGo, letGoStatus, droppedRouted);
}

void Enqueue(CallbackContext *events, size_t count) {
    Batch dropped;  // freed after the lock is given back
    Batch droppedRouted;
    Enqueue(events, count, dropped, droppedRouted);
}

void Post(uint64_t player, int what, int param1, int param2, char *obj) {
    // Freed here unless queued.
    CallbackContext event{player, what, param1, param2, EventText(obj)};
    Enqueue(&event, 1);
}

// The batch the message loop on this thread is posting, if any. Trivial, so reaching it costs no
// guard on the path of every event.
class LoopBatch;
thread_local LoopBatch *openBatch = nullptr;

// The events a message loop's poster calls give during one of its batches, handed over together
// when it ends. Lives on the loop's stack for the batch: nothing to allocate or keep per thread.
class LoopBatch {
  public:
    LoopBatch() { openBatch = this; }
    LoopBatch(const LoopBatch &) = delete;
    LoopBatch &operator=(const LoopBatch &) = delete;
    ~LoopBatch() {
        openBatch = nullptr;
        HandOver();
    }

    // Holds the event back; a batch longer than a loop takes in one go is handed over in parts.
    void Add(uint64_t player, int what, int param1, int param2, char *obj) {
        if (count_ == kEvents) HandOver();
        new (&events()[count_]) CallbackContext{player, what, param1, param2, EventText(obj)};
        ++count_;
    }

  private:
    static constexpr size_t kEvents = 64;  // as many as a loop takes in one go
    CallbackContext *events() {
        return std::launder(reinterpret_cast<CallbackContext *>(storage_));
    }
    void HandOver() {
        if (count_ == 0) return;
        CallbackContext *events = this->events();
        Enqueue(events, count_);
        for (size_t i = 0; i < count_; ++i) events[i].~CallbackContext();  // texts none took
        count_ = 0;
    }

    alignas(CallbackContext) unsigned char storage_[kEvents * sizeof(CallbackContext)];
    size_t count_ = 0;
};

// The message loops' batch slot: the batch is handed over when post returns, or throws.
void RunMessageBatch(void (*post)(void *), void *arg) {
    LoopBatch batch;
    post(arg);
}

}  // namespace

EventChannel *make_channel(napi_env env, napi_ref listener, bool routed,
                           void (*onClose)(EventChannel &)) {
    auto channel = std::make_unique<EventChannel>();
    channel->env = env;
    channel->listener = listener;
    channel->listening = listener != nullptr;
    channel->routed = routed;
    channel->onClose = onClose;
    napi_value name = nullptr;
    napi_create_string_utf8(env, "KavoriPlayerEvents", NAPI_AUTO_LENGTH, &name);
    // Unbounded queue, one hold (ours); the wake-up does not keep the process alive.
    if (napi_create_threadsafe_function(env, nullptr, nullptr, name, 0, 1, channel.get(),
                                        FinalizeChannel, channel.get(), DrainBatch,
                                        &channel->wake) != napi_ok) {
        channel->listener = nullptr;  // the caller's still
        return nullptr;
    }
    napi_unref_threadsafe_function(env, channel->wake);
    napi_add_env_cleanup_hook(env, StopChannel, channel.get());
    store_message_batch_callback(RunMessageBatch);  // before a poster can be installed
    return channel.release();
}

void release_channel_locked(std::unique_lock<std::mutex> &lock, EventChannel &channel) {
    if (channel.released) return;
    channel.released = true;
    ++channel.inFlight;  // its environment may be ending meanwhile: it waits for the release
    // Once no producer is still queueing its wake-up, every event queued for it has one ahead of
    // the release, so all of them still reach it.
    AwaitIdleLocked(lock, channel, 1);
    lock.unlock();
    napi_release_threadsafe_function(channel.wake, napi_tsfn_release);
    lock.lock();
    LeaveLocked(channel);
}

void set_channel_listener(EventChannel &channel, napi_ref listener, bool textAlways) {
    napi_ref old = std::exchange(channel.listener, listener);
    channel.textAlways = textAlways;
    ++channel.listenerSets;
    {
        std::lock_guard<std::mutex> lock(channel_mutex());
        channel.listening = channel.open && listener != nullptr;
    }
    DeleteListener(channel.env, old);
}

void post_player_event(uint64_t player, void *, int what, int param1, int param2, char *obj) {
    LOGI("napi-->post_event-->what:%d", what);
    if (LoopBatch *batch = openBatch) return batch->Add(player, what, param1, param2, obj);
    Post(player, what, param1, param2, obj);
}

void end_player_route(uint64_t player) {
    EventChannel *letGo = nullptr;
    {
        std::lock_guard<std::mutex> lock(channel_mutex());
        // The last hold gone: the JS thread lets go at this wake-up.
        letGo = LetGoLocked(loop_ended_locked(player));
        if (letGo == nullptr) return;
    }
    napi_status status = Wake(letGo);
    Batch dropped;  // freed after the lock is given back
    std::unique_lock<std::mutex> lock = LockAsProducer();
    Woken(letGo, status, dropped);
}

void sync_keep_alive(EventChannel &channel) {
    // Most batches change nothing: no lock then. The thread that lets an environment go wakes it
    // after the change, through the thread-safe function's own lock, so the mark read here is never
    // older than the wake-up that must act on it.
    if (holds_changed() == channel.holdsSeen) return;
    bool keep = false;
    {
        std::lock_guard<std::mutex> lock(channel_mutex());
        if (!channel.open) return;  // its environment is ending: the wake-up is going away
        channel.holdsSeen = holds_changed();
        keep = environment_held_locked(channel);
    }
    if (keep == channel.keepsAlive) return;
    if (keep) {
        napi_ref_threadsafe_function(channel.env, channel.wake);
    } else {
        napi_unref_threadsafe_function(channel.env, channel.wake);
    }
    channel.keepsAlive = keep;
}

void post_event(void *weak, int what, int param1, int param2, char *obj) {
    post_player_event(0, weak, what, param1, param2, obj);
}

void messageCallBack(int what, int param1, int param2, char *obj) {
    Post(0, what, param1, param2, obj);
}
