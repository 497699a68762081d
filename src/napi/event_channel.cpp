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

// Events per slice of a batch: a wake-up delivers one, then lets its environment's loop run
// (timers, I/O) before the next. A fixed count: 64 crossings into JS, a few milliseconds with
// listeners that do little.
constexpr size_t kSliceEvents = 64 * kGroupEvents;

EventGroups::Shape ShapeOf(const EventChannel &channel) {
    if (!channel.routed) return EventGroups::Shape::kRaw;
    return channel.textAlways ? EventGroups::Shape::kRoutedTextAlways : EventGroups::Shape::kRouted;
}

// Delivers batch[from, end) up to a group, in one handle scope; gives where it stopped, or
// batch.size() when the delivery must end. The listener may replace or remove itself: each event
// goes to the one set when it is called, as the group stops after a replacement.
size_t DeliverGroup(napi_env env, EventChannel &channel, const Batch &batch, size_t from,
                    size_t end) {
    if (channel.listener == nullptr) return batch.size();
    napi_handle_scope scope = nullptr;
    if (napi_open_handle_scope(env, &scope) != napi_ok) return batch.size();
    const size_t count = std::min(end - from, kGroupEvents);
    size_t next = from + count;  // a listener that cannot be read misses its events
    napi_value listener = nullptr;
    if (napi_get_reference_value(env, channel.listener, &listener) == napi_ok &&
        listener != nullptr) {
        size_t called = channel.groups->Call(ShapeOf(channel), listener, &batch[from], count);
        next = called == EventGroups::kEnded ? batch.size() : from + called;
    }
    napi_close_handle_scope(env, scope);
    return next;
}

void DeliverSlice(napi_env env, EventChannel &channel) {
    const Batch &batch = channel.pending;
    const size_t end = std::min(batch.size(), channel.delivered + kSliceEvents);
    size_t next = channel.delivered;
    while (next < end) next = DeliverGroup(env, channel, batch, next, end);
    channel.delivered = std::min(next, batch.size());
}

// Has the channel woken again for the rest of its batch once the loop has had its turn, holding
// `wake` open until then (a replaced channel's release would otherwise close it with events left).
// The JS thread needs no count in inFlight for that: the channel is freed on this thread only.
// False when it cannot wait: `wake` is closing, or the runtime queues no async work.
bool WaitForLoop(EventChannel &channel) {
    if (channel.resumeHeld) return true;
    if (napi_acquire_threadsafe_function(channel.wake) != napi_ok) return false;
    if (!channel.groups->ResumeLater(&channel)) {
        napi_release_threadsafe_function(channel.wake, napi_tsfn_release);
        return false;
    }
    channel.resumeHeld = true;
    return true;
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

// Delivers the next slice of the batch being delivered or, when there is none, of the queue, taken
// as the next batch, unlocked. True when a later wake-up owes events: the rest of the batch, or
// queued ones whose wake-up a slice of an older batch took (producers wake the channel only when
// its queue was empty).
bool DeliverNextSlice(napi_env env, EventChannel &channel) {
    const bool older = channel.delivered < channel.pending.size();
    if (!older) {
        Batch batch = std::move(channel.spare);
        {
            std::lock_guard<std::mutex> lock(channel_mutex());
            batch.swap(channel.queue);
        }
        channel.pending = std::move(batch);
        channel.delivered = 0;
    }
    DeliverSlice(env, channel);
    if (channel.delivered < channel.pending.size()) return true;
    Batch batch = std::move(channel.pending);
    channel.pending.clear();
    channel.delivered = 0;
    batch.clear();  // the texts go here
    GiveBackAfterFlood(channel, batch);
    if (!older) return false;
    std::lock_guard<std::mutex> lock(channel_mutex());
    return !channel.queue.empty();
}

// The wake-up, on the JS thread: a slice, then the loop's turn before the next one. A null env
// comes from wake-ups left when the thread-safe function is deleted, after FinalizeChannel has
// freed the channel and its events: nothing to touch then.
void DrainBatch(napi_env env, napi_value, void *context, void *) {
    if (env == nullptr) return;
    auto *channel = static_cast<EventChannel *>(context);
    if (DeliverNextSlice(env, *channel) && !WaitForLoop(*channel)) {
        while (DeliverNextSlice(env, *channel)) {
        }
    }
    if (channel->restKeepsAlive && !channel->resumeHeld) {
        channel->restKeepsAlive = false;
        if (!channel->keepsAlive) napi_unref_threadsafe_function(env, channel->wake);
    }
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
    channel->groups->Forget(channel.get());
    channel->groups->Release();
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
    channel->groups = EventGroups::Of(env);
    if (channel->groups == nullptr) {
        channel->listener = nullptr;  // the caller's still
        return nullptr;
    }
    napi_value name = nullptr;
    napi_create_string_utf8(env, "KavoriPlayerEvents", NAPI_AUTO_LENGTH, &name);
    // Unbounded queue, one hold (ours); the wake-up does not keep the process alive.
    if (napi_create_threadsafe_function(env, nullptr, nullptr, name, 0, 1, channel.get(),
                                        FinalizeChannel, channel.get(), DrainBatch,
                                        &channel->wake) != napi_ok) {
        channel->listener = nullptr;  // the caller's still
        channel->groups->Release();
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
    channel.groups->ListenerSet();
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
    } else if (!channel.restKeepsAlive) {  // else once the batch's rest is delivered
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

void resume_channel(EventChannel &channel) {
    channel.resumeHeld = false;
    // A batch begun is delivered whole, as when a wake-up delivered all of it: the loop waits for
    // its rest even where nothing else keeps it running.
    if (!channel.keepsAlive) napi_ref_threadsafe_function(channel.env, channel.wake);
    channel.restKeepsAlive = true;
    // Fails only while the environment ends, which drops the events anyway.
    napi_call_threadsafe_function(channel.wake, &channel, napi_tsfn_nonblocking);
    napi_release_threadsafe_function(channel.wake, napi_tsfn_release);
}
