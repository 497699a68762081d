// Threads: engine threads queue events; the JS thread of the listener's environment drains them; JS
// threads register listeners and tear registrations down. bridgeMutex guards the fields marked
// below and is never held while calling into JS or into a thread-safe function: a thread that uses
// a registration's `wake` outside the lock counts itself in `inFlight` first, and nothing releases
// `wake` or frees the registration before that count is back to 0.
#include "napi/event_bridge.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "proxy/kavori_player_proxy.h"
#include "util/ohos_log.h"

namespace {

// Events are held by value: queueing allocates nothing once the vectors have grown.
using Batch = std::vector<CallbackContext>;

// Storage the two queues keep once the producers have gone quiet; a flood's larger buffers go back.
constexpr size_t kKeptBatchBytes = 1 << 20;

// One registered listener in its environment.
struct Registration {
    // Immutable once registered.
    napi_env env = nullptr;
    napi_ref listener = nullptr;
    napi_threadsafe_function wake = nullptr;
    // Guarded by bridgeMutex.
    Batch queue;                   // a wake-up is queued or being queued whenever it is not empty
    bool open = true;              // false once the environment stops taking events
    bool released = false;         // our hold on `wake` is given back, or being given back
    int inFlight = 0;              // threads using `wake` outside the lock
    std::condition_variable idle;  // notified whenever inFlight drops
    // JS thread only.
    Batch spare;  // emptied storage, swapped in for the next batch
};

// Constant-initialised and trivially destroyed: engine threads may still post while the process
// exits.
std::mutex bridgeMutex;
Registration *current = nullptr;  // guarded by bridgeMutex

thread_local napi_ref stagedListener = nullptr;

// Takes reg out of service; its queued events go to `dropped`, freed by the caller unlocked.
void CloseLocked(Registration &reg, Batch &dropped) {
    reg.open = false;
    dropped.swap(reg.queue);
    if (current == &reg) current = nullptr;
}

// Waits until no thread but the `own` ones counted by the caller uses reg.wake. Each such use is
// one non-blocking call, so the wait is short.
void AwaitIdleLocked(std::unique_lock<std::mutex> &lock, Registration &reg, int own = 0) {
    reg.idle.wait(lock, [&reg, own] { return reg.inFlight == own; });
}

// Notified under the lock: a waiter may free reg as soon as it has the lock back.
void LeaveLocked(Registration &reg) {
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

// A listener that throws is reported as an uncaught exception; the batch goes on. False when the
// environment can no longer run JS.
bool CallListener(napi_env env, napi_value receiver, napi_value listener,
                  const CallbackContext &event) {
    napi_value argv[4] = {};
    napi_create_int32(env, event.what, &argv[0]);
    napi_create_int32(env, event.param1, &argv[1]);
    napi_create_int32(env, event.param2, &argv[2]);
    size_t argc = 3;
    if (event.obj) {
        napi_create_string_utf8(env, event.obj.get(), NAPI_AUTO_LENGTH, &argv[3]);
        argc = 4;
    }
    if (napi_call_function(env, receiver, listener, argc, argv, nullptr) == napi_ok) return true;
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (!pending) return false;
    napi_value error = nullptr;
    napi_get_and_clear_last_exception(env, &error);
    ReportUncaught(env, error);
    return true;
}

void Deliver(napi_env env, const Registration &reg, Batch &batch) {
    napi_value listener = nullptr;
    napi_value receiver = nullptr;
    if (napi_get_reference_value(env, reg.listener, &listener) != napi_ok || listener == nullptr) {
        return;
    }
    napi_get_undefined(env, &receiver);
    for (const CallbackContext &event : batch) {
        napi_handle_scope scope = nullptr;
        if (napi_open_handle_scope(env, &scope) != napi_ok) return;
        bool goOn = CallListener(env, receiver, listener, event);
        napi_close_handle_scope(env, scope);
        if (!goOn) return;
    }
}

// The wake-up, on the JS thread: swaps the whole batch out, then delivers it unlocked. A null env
// comes from wake-ups left when the thread-safe function is deleted, after FinalizeRegistration has
// freed the registration and its events: nothing to touch then.
void DrainBatch(napi_env env, napi_value, void *context, void *) {
    if (env == nullptr) return;
    auto *reg = static_cast<Registration *>(context);
    Batch batch = std::move(reg->spare);
    {
        std::lock_guard<std::mutex> lock(bridgeMutex);
        batch.swap(reg->queue);
    }
    Deliver(env, *reg, batch);
    batch.clear();  // the texts go here
    // Once the producers have gone quiet, a flood's buffers go back; while they keep up the
    // pace, both buffers keep their size so that queueing does not grow them again.
    Batch idleQueue;
    {
        std::lock_guard<std::mutex> lock(bridgeMutex);
        if (!reg->queue.empty()) {
            reg->spare = std::move(batch);
            return;
        }
        if (reg->queue.capacity() * sizeof(CallbackContext) > kKeptBatchBytes) {
            idleQueue.swap(reg->queue);
        }
    }
    if (batch.capacity() * sizeof(CallbackContext) > kKeptBatchBytes) batch = Batch();
    reg->spare = std::move(batch);
}

// Environment cleanup hook, run before the environment closes `wake` itself: no event reaches a
// gone environment, and no other thread touches it.
void StopRegistration(void *arg) {
    auto *reg = static_cast<Registration *>(arg);
    Batch dropped;
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
void FinalizeRegistration(napi_env env, void *data, void *) {
    std::unique_ptr<Registration> reg(static_cast<Registration *>(data));
    Batch dropped;
    {
        std::unique_lock<std::mutex> lock(bridgeMutex);
        CloseLocked(*reg, dropped);
        AwaitIdleLocked(lock, *reg);  // a replacing thread may still be leaving its release
    }
    napi_remove_env_cleanup_hook(env, StopRegistration, reg.get());
    napi_delete_reference(env, reg->listener);
}

std::unique_ptr<Registration> CreateRegistration(napi_env env, napi_ref listener) {
    auto reg = std::make_unique<Registration>();
    reg->env = env;
    reg->listener = listener;
    napi_value name = nullptr;
    napi_create_string_utf8(env, "KavoriPlayerEvents", NAPI_AUTO_LENGTH, &name);
    // Unbounded queue, one hold (ours); the wake-up does not keep the process alive.
    if (napi_create_threadsafe_function(env, nullptr, nullptr, name, 0, 1, reg.get(),
                                        FinalizeRegistration, reg.get(), DrainBatch,
                                        &reg->wake) != napi_ok) {
        return nullptr;
    }
    napi_unref_threadsafe_function(env, reg->wake);
    napi_add_env_cleanup_hook(env, StopRegistration, reg.get());
    return reg;
}

// Queues under the lock; wakes the JS thread, unlocked, only when the queue was empty.
void Enqueue(CallbackContext &event, Batch &dropped) {
    Registration *reg = nullptr;
    {
        std::unique_lock<std::mutex> lock = LockAsProducer();
        reg = current;
        if (reg == nullptr || !reg->open) return;
        bool wasEmpty = reg->queue.empty();
        reg->queue.push_back(std::move(event));
        if (!wasEmpty) return;
        ++reg->inFlight;
    }
    napi_status status = napi_call_threadsafe_function(reg->wake, reg, napi_tsfn_nonblocking);
    std::unique_lock<std::mutex> lock = LockAsProducer();
    if (status != napi_ok) CloseLocked(*reg, dropped);  // the environment is closing
    LeaveLocked(*reg);
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
    try {
        Enqueue(event, dropped);
    } catch (const std::bad_alloc &) {
        LOGI("napi-->work null");
    }
}

void setCallBackRefMessage(napi_ref const &ref) {
    stagedListener = ref;
}

bool setEnvMessage(napi_env const &env) {
    napi_ref listener = std::exchange(stagedListener, nullptr);
    if (listener == nullptr) return false;
    std::unique_ptr<Registration> reg = CreateRegistration(env, listener);
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
