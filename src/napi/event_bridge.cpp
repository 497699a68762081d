// Threads: engine threads queue events; the JS thread of the listener's environment drains them; JS
// threads register listeners, route players and tear registrations down; an ending message loop
// forgets its route. bridgeMutex guards the fields marked below and is never held while calling
// into JS or into a thread-safe function: a thread that uses a registration's `wake` outside the
// lock counts itself in `inFlight` first, and nothing releases `wake` or frees the registration
// before that count is back to 0.
#include "napi/event_bridge.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "proxy/engine_ref.h"
#include "proxy/kavori_player_proxy.h"
#include "util/ohos_log.h"

namespace {

// Events are held by value: queueing allocates nothing once the vectors have grown.
using Batch = std::vector<CallbackContext>;

// An event for a routed listener, with the serial of the player that posted it.
struct RoutedEvent {
    uint64_t player = 0;
    CallbackContext event;
};
using RoutedBatch = std::vector<RoutedEvent>;

// Storage each of a listener's two buffers keeps once a flood is over; larger ones go back.
constexpr size_t kKeptBatchBytes = 1 << 20;

// A listener's way to its environment: a queue and the thread-safe function that drains it.
template <typename Event>
struct Channel {
    // Immutable once registered.
    napi_env env = nullptr;
    napi_threadsafe_function wake = nullptr;
    // Guarded by bridgeMutex.
    std::vector<Event> queue;      // a wake-up is queued or being queued whenever it is not empty
    bool open = true;              // false once the environment stops taking events
    bool released = false;         // our hold on `wake` is given back, or being given back
    int inFlight = 0;              // threads using `wake` outside the lock
    std::condition_variable idle;  // notified whenever inFlight drops
    // JS thread only.
    std::vector<Event> spare;  // emptied storage, swapped in for the next batch
};

// One registered raw listener in its environment.
struct Registration : Channel<CallbackContext> {
    napi_ref listener = nullptr;  // immutable once registered
};

// The routed listener of one environment; lives as long as the environment.
struct RoutedRegistration : Channel<RoutedEvent> {
    bool listening = false;  // guarded by bridgeMutex: a listener is set, events are queued
    // JS thread only.
    napi_ref listener = nullptr;  // replaced by _setRoutedListener
    unsigned listenerSets = 0;    // counts the replacements, so a delivery reads the listener anew
};

// Never destroyed: engine threads may still post while the process exits, and under some C
// libraries ~mutex is not a no-op.
std::mutex &bridgeMutex = *new std::mutex;
// Guarded by bridgeMutex.
Registration *current = nullptr;
auto &routedRegistrations = *new std::vector<RoutedRegistration *>;      // one per environment
auto &routes = *new std::unordered_map<uint64_t, RoutedRegistration *>;  // player serial -> where

thread_local napi_ref stagedListener = nullptr;

// Takes reg out of service; its queued events go to `dropped`, freed by the caller unlocked.
void CloseLocked(Registration &reg, Batch &dropped) {
    reg.open = false;
    dropped.swap(reg.queue);
    if (current == &reg) current = nullptr;
}

void CloseLocked(RoutedRegistration &reg, RoutedBatch &dropped) {
    reg.open = false;
    reg.listening = false;
    dropped.swap(reg.queue);
    auto &regs = routedRegistrations;
    regs.erase(std::remove(regs.begin(), regs.end(), &reg), regs.end());
    for (auto it = routes.begin(); it != routes.end();) {
        it = it->second == &reg ? routes.erase(it) : std::next(it);
    }
}

// Waits until no thread but the `own` ones counted by the caller uses reg.wake. Each such use is
// one non-blocking call, so the wait is short.
template <typename Event>
void AwaitIdleLocked(std::unique_lock<std::mutex> &lock, Channel<Event> &reg, int own = 0) {
    reg.idle.wait(lock, [&reg, own] { return reg.inFlight == own; });
}

// Notified under the lock: a waiter may free reg as soon as it has the lock back.
template <typename Event>
void LeaveLocked(Channel<Event> &reg) {
    --reg.inFlight;
    reg.idle.notify_all();
}

// The producers' way in. Their critical sections are one push_back, so a producer that finds the
// lock taken gives its core away a few times before it sleeps in the kernel, where the holder
// would have to wake it with a system call.
std::unique_lock<std::mutex> LockAsProducer() {
    for (int tries = 0; tries < 16; ++tries) {
        if (bridgeMutex.try_lock())
            return std::unique_lock<std::mutex>(bridgeMutex, std::adopt_lock);
        std::this_thread::yield();
    }
    return std::unique_lock<std::mutex>(bridgeMutex);
}

// Fills argv with the event's numbers and, when it has one, its text; gives the count.
size_t EventArgs(napi_env env, const CallbackContext &event, napi_value *argv) {
    napi_create_int32(env, event.what, &argv[0]);
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

void Deliver(napi_env env, Registration &reg, Batch &batch) {
    napi_value listener = nullptr;
    napi_value receiver = nullptr;
    if (napi_get_reference_value(env, reg.listener, &listener) != napi_ok || listener == nullptr) {
        return;
    }
    napi_get_undefined(env, &receiver);
    for (const CallbackContext &event : batch) {
        napi_handle_scope scope = nullptr;
        if (napi_open_handle_scope(env, &scope) != napi_ok) return;
        napi_value argv[4] = {};
        size_t argc = EventArgs(env, event, argv);
        bool goOn = CallListener(env, receiver, listener, argc, argv);
        napi_close_handle_scope(env, scope);
        if (!goOn) return;
    }
}

// The listener may replace or remove itself: each event goes to the one set when it is called.
// The listener's value is read once per batch, and again only after a replacement.
void Deliver(napi_env env, RoutedRegistration &reg, RoutedBatch &batch) {
    napi_value receiver = nullptr;
    napi_get_undefined(env, &receiver);
    napi_value listener = nullptr;
    unsigned readAt = reg.listenerSets - 1;
    for (const RoutedEvent &routed : batch) {
        if (reg.listener == nullptr) return;
        if (readAt != reg.listenerSets) {
            readAt = reg.listenerSets;
            if (napi_get_reference_value(env, reg.listener, &listener) != napi_ok)
                listener = nullptr;
        }
        if (listener == nullptr) continue;
        napi_handle_scope scope = nullptr;
        if (napi_open_handle_scope(env, &scope) != napi_ok) return;
        napi_value argv[5] = {};
        napi_create_int64(env, static_cast<int64_t>(routed.player), &argv[0]);
        size_t argc = 1 + EventArgs(env, routed.event, argv + 1);
        bool goOn = CallListener(env, receiver, listener, argc, argv);
        napi_close_handle_scope(env, scope);
        if (!goOn) return;
    }
}

// Once the queue is small again after a delivery, the producers no longer outpace the JS thread
// (they went quiet, or a trickle follows the flood), and a flood's buffers go back: the emptied
// batch's, and the queue's, whose few events move to storage of their size. While the producers
// keep up the pace, the queue refills during each delivery and both buffers keep their size, so
// that queueing does not grow them again.
template <typename Event>
void GiveBackAfterFlood(Channel<Event> &reg, std::vector<Event> &batch) {
    constexpr size_t kKept = kKeptBatchBytes / sizeof(Event);
    constexpr size_t kSmall = kKept / 8;
    std::vector<Event> flooded;  // freed unlocked
    {
        std::lock_guard<std::mutex> lock(bridgeMutex);
        if (reg.queue.size() > kSmall) {
            reg.spare = std::move(batch);
            return;
        }
        if (reg.queue.capacity() > kKept) {
            try {
                std::vector<Event> fitted(std::make_move_iterator(reg.queue.begin()),
                                          std::make_move_iterator(reg.queue.end()));
                flooded.swap(reg.queue);
                reg.queue.swap(fitted);
            } catch (const std::bad_alloc &) {
                // kept as it is until a later delivery
            }
        }
    }
    if (batch.capacity() > kKept) batch = std::vector<Event>();
    reg.spare = std::move(batch);
}

// The wake-up, on the JS thread: swaps the whole batch out, then delivers it unlocked. A null env
// comes from wake-ups left when the thread-safe function is deleted, after FinalizeRegistration has
// freed the registration and its events: nothing to touch then.
template <typename Reg>
void DrainBatch(napi_env env, napi_value, void *context, void *) {
    if (env == nullptr) return;
    auto *reg = static_cast<Reg *>(context);
    auto batch = std::move(reg->spare);
    {
        std::lock_guard<std::mutex> lock(bridgeMutex);
        batch.swap(reg->queue);
    }
    Deliver(env, *reg, batch);
    batch.clear();  // the texts go here
    GiveBackAfterFlood(*reg, batch);
}

void DeleteListener(napi_env env, napi_ref listener) {
    if (listener != nullptr) napi_delete_reference(env, listener);
}

// Environment cleanup hook, run before the environment closes `wake` itself: no event reaches a
// gone environment, and no other thread touches it.
template <typename Reg>
void StopRegistration(void *arg) {
    auto *reg = static_cast<Reg *>(arg);
    decltype(reg->queue) dropped;
    {
        std::unique_lock<std::mutex> lock(bridgeMutex);
        CloseLocked(*reg, dropped);
        AwaitIdleLocked(lock, *reg);
        if (reg->released) return;
        reg->released = true;
    }
    napi_release_threadsafe_function(reg->wake, napi_tsfn_abort);
}

// Last step of a registration, on its JS thread, once its wake-ups are all delivered or aborted.
template <typename Reg>
void FinalizeRegistration(napi_env env, void *data, void *) {
    std::unique_ptr<Reg> reg(static_cast<Reg *>(data));
    decltype(reg->queue) dropped;
    {
        std::unique_lock<std::mutex> lock(bridgeMutex);
        CloseLocked(*reg, dropped);
        AwaitIdleLocked(lock, *reg);  // a replacing thread may still be leaving its release
    }
    napi_remove_env_cleanup_hook(env, StopRegistration<Reg>, reg.get());
    DeleteListener(env, reg->listener);
}

template <typename Reg>
std::unique_ptr<Reg> CreateRegistration(napi_env env, napi_ref listener) {
    auto reg = std::make_unique<Reg>();
    reg->env = env;
    reg->listener = listener;
    napi_value name = nullptr;
    napi_create_string_utf8(env, "KavoriPlayerEvents", NAPI_AUTO_LENGTH, &name);
    // Unbounded queue, one hold (ours); the wake-up does not keep the process alive.
    if (napi_create_threadsafe_function(env, nullptr, nullptr, name, 0, 1, reg.get(),
                                        FinalizeRegistration<Reg>, reg.get(), DrainBatch<Reg>,
                                        &reg->wake) != napi_ok) {
        return nullptr;
    }
    napi_unref_threadsafe_function(env, reg->wake);
    napi_add_env_cleanup_hook(env, StopRegistration<Reg>, reg.get());
    return reg;
}

// Queues event for reg; true when the caller must wake reg's JS thread (the queue was empty), and
// is then counted in reg.inFlight. An event that finds no memory is dropped.
template <typename Event>
bool QueueLocked(Channel<Event> &reg, Event &&event) {
    bool wasEmpty = reg.queue.empty();
    try {
        reg.queue.push_back(std::move(event));
    } catch (const std::bad_alloc &) {
        LOGI("napi-->work null");
        return false;
    }
    if (!wasEmpty) return false;
    ++reg.inFlight;
    return true;
}

// The routed copy of event for the player's route, if it has one with a listener. The text is
// copied when the raw listener takes the event too; no routed event when that copy fails.
bool RouteLocked(uint64_t player, CallbackContext &event, bool rawTakes, RoutedEvent &routed,
                 RoutedRegistration *&target) {
    if (player == 0 || routes.empty()) return false;
    auto it = routes.find(player);
    if (it == routes.end() || !it->second->listening) return false;
    routed.player = player;
    routed.event.what = event.what;
    routed.event.param1 = event.param1;
    routed.event.param2 = event.param2;
    if (event.obj) {
        routed.event.obj = rawTakes ? CopyText(event.obj.get()) : std::move(event.obj);
        if (!routed.event.obj) return false;
    }
    target = it->second;
    return true;
}

// Queues under the lock; wakes a JS thread, unlocked, only when its queue was empty.
void Enqueue(CallbackContext &event, uint64_t player, Batch &dropped, RoutedBatch &droppedRouted) {
    Registration *raw = nullptr;
    RoutedRegistration *routed = nullptr;
    {
        std::unique_lock<std::mutex> lock = LockAsProducer();
        Registration *reg = current != nullptr && current->open ? current : nullptr;
        RoutedEvent routedEvent;
        RoutedRegistration *target = nullptr;
        if (RouteLocked(player, event, reg != nullptr, routedEvent, target) &&
            QueueLocked(*target, std::move(routedEvent))) {
            routed = target;
        }
        if (reg != nullptr && QueueLocked(*reg, std::move(event))) raw = reg;
        if (raw == nullptr && routed == nullptr) return;
    }
    napi_status rawStatus = napi_ok;
    napi_status routedStatus = napi_ok;
    if (raw != nullptr)
        rawStatus = napi_call_threadsafe_function(raw->wake, raw, napi_tsfn_nonblocking);
    if (routed != nullptr) {
        routedStatus = napi_call_threadsafe_function(routed->wake, routed, napi_tsfn_nonblocking);
    }
    std::unique_lock<std::mutex> lock = LockAsProducer();
    // A failed wake-up means the environment is closing.
    if (raw != nullptr) {
        if (rawStatus != napi_ok) CloseLocked(*raw, dropped);
        LeaveLocked(*raw);
    }
    if (routed != nullptr) {
        if (routedStatus != napi_ok) CloseLocked(*routed, droppedRouted);
        LeaveLocked(*routed);
    }
}

// This environment's routed registration; made on first use when `create`. Null when there is none
// or it cannot be made.
RoutedRegistration *RoutedRegistrationOf(napi_env env, bool create) {
    {
        std::lock_guard<std::mutex> lock(bridgeMutex);
        for (RoutedRegistration *reg : routedRegistrations) {
            if (reg->env == env) return reg;
        }
        if (!create) return nullptr;
        routedRegistrations.reserve(routedRegistrations.size() + 1);  // the push below cannot throw
    }
    std::unique_ptr<RoutedRegistration> reg = CreateRegistration<RoutedRegistration>(env, nullptr);
    if (!reg) return nullptr;
    std::lock_guard<std::mutex> lock(bridgeMutex);
    routedRegistrations.push_back(reg.get());
    return reg.release();
}

napi_value JsBoolean(napi_env env, bool value) {
    napi_value result = nullptr;
    napi_get_boolean(env, value, &result);
    return result;
}

}  // namespace

void post_event(void *, int what, int param1, int param2, char *obj) {
    LOGI("napi-->post_event-->what:%d", what);
    messageCallBack(what, param1, param2, obj);
}

void messageCallBack(int what, int param1, int param2, char *obj) {
    CallbackContext event;  // freed here unless queued
    event.what = what;
    event.param1 = param1;
    event.param2 = param2;
    event.obj.reset(obj);
    Batch dropped;  // freed after the lock is given back
    RoutedBatch droppedRouted;
    Enqueue(event, posting_player_serial(), dropped, droppedRouted);
}

void setCallBackRefMessage(napi_ref const &ref) {
    stagedListener = ref;
}

bool setEnvMessage(napi_env const &env) {
    napi_ref listener = std::exchange(stagedListener, nullptr);
    if (listener == nullptr) return false;
    std::unique_ptr<Registration> reg = CreateRegistration<Registration>(env, listener);
    if (!reg) {
        napi_delete_reference(env, listener);
        return false;
    }
    Registration *old = nullptr;
    {
        std::unique_lock<std::mutex> lock(bridgeMutex);
        old = std::exchange(current, reg.release());
        if (old == nullptr || old->released) return true;
        old->released = true;
        ++old->inFlight;  // old's environment may be ending meanwhile: it waits for the release
        // Once no producer is still queueing its wake-up, every event queued for old has one ahead
        // of the release, so all of them still reach it.
        AwaitIdleLocked(lock, *old, 1);
    }
    napi_release_threadsafe_function(old->wake, napi_tsfn_release);
    std::lock_guard<std::mutex> lock(bridgeMutex);
    LeaveLocked(*old);
    return true;
}

napi_value KavoriCloudPlayerNapi::setMessageListener(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 2, "napi-->msg----setMessageListener");
        napi_valuetype type = napi_undefined;
        if (frame.arg(1) == nullptr || napi_typeof(env, frame.arg(1), &type) != napi_ok ||
            type != napi_function) {
            LOGE("napi-->setMessageListener listener is not a function");
            frame.instance();
            return nullptr;
        }
        napi_ref ref = nullptr;
        if (napi_create_reference(env, frame.arg(1), 1, &ref) != napi_ok) {
            LOGE("napi-->setMessageListener listener reference failed");
            frame.instance();
            return nullptr;
        }
        setCallBackRefMessage(ref);
        if (!setEnvMessage(env)) LOGE("napi-->setMessageListener listener registration failed");
        frame.proxy()->message_loop_callback(post_event);
        return nullptr;
    });
}

napi_value SetRoutedListener(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        LOGI("napi-->setRoutedListener");
        size_t argc = 1;
        napi_value arg = nullptr;
        napi_valuetype type = napi_undefined;
        napi_get_cb_info(env, info, &argc, &arg, nullptr, nullptr);
        if (argc < 1 || napi_typeof(env, arg, &type) != napi_ok ||
            (type != napi_function && type != napi_null)) {
            LOGE("napi-->setRoutedListener listener is neither a function nor null");
            return JsBoolean(env, false);
        }
        napi_ref listener = nullptr;
        if (type == napi_function && napi_create_reference(env, arg, 1, &listener) != napi_ok) {
            LOGE("napi-->setRoutedListener listener reference failed");
            return JsBoolean(env, false);
        }
        RoutedRegistration *reg = RoutedRegistrationOf(env, listener != nullptr);
        if (reg == nullptr) {
            if (listener == nullptr) return JsBoolean(env, true);  // nothing to remove
            napi_delete_reference(env, listener);
            LOGE("napi-->setRoutedListener listener registration failed");
            return JsBoolean(env, false);
        }
        napi_ref old = std::exchange(reg->listener, listener);
        ++reg->listenerSets;
        {
            std::lock_guard<std::mutex> lock(bridgeMutex);
            reg->listening = listener != nullptr;
        }
        DeleteListener(env, old);
        if (listener != nullptr) store_message_loop_callback(post_event);
        return JsBoolean(env, true);
    });
}

napi_value RouteEvents(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 1, "napi-->routeEvents");
        EngineRef mp(frame.proxy()->get_media_player(frame.id()));
        uint64_t serial = mp ? player_serial(mp.get()) : 0;
        if (serial != 0) {
            RoutedRegistration *reg = RoutedRegistrationOf(env, true);
            if (reg == nullptr) {
                LOGE("napi-->routeEvents registration failed");
                serial = 0;
            } else {
                {
                    std::lock_guard<std::mutex> lock(bridgeMutex);
                    routes[serial] = reg;
                }
                // The loop may have ended (and forgotten its route) since the serial was read.
                if (player_serial(mp.get()) != serial) end_routes(serial);
            }
        }
        napi_value result = nullptr;
        napi_create_int64(env, static_cast<int64_t>(serial), &result);
        return result;
    });
}

void end_routes(uint64_t player) {
    std::lock_guard<std::mutex> lock(bridgeMutex);
    routes.erase(player);
}
