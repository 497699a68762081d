// Threads: engine threads queue events under bridgeMutex; JS threads register
// listeners, drain batches and tear registrations down. One lock, never held
// while JS runs; the thread-safe function's own lock is taken inside it (no
// callbacks run under it).
#include "napi/event_bridge.h"

#include <atomic>
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
#include "util/spin_mutex.h"

namespace {

// Events are held by value: queueing allocates nothing once the vectors have grown.
using Batch = std::vector<CallbackContext>;

// One registered listener in its environment.
struct Registration {
    // Immutable once registered.
    napi_env env = nullptr;
    napi_ref listener = nullptr;
    napi_threadsafe_function wake = nullptr;
    // Guarded by bridgeMutex.
    Batch queue;            // a wake-up is pending whenever it is not empty
    bool open = true;       // false once the environment stops taking events
    bool released = false;  // our hold on `wake` is given back
    // JS thread only.
    Batch spare;  // emptied storage, swapped in for the next batch
};

// Constant-initialised and trivially destroyed: engine threads may still post while the
// process exits.
SpinMutex bridgeMutex;
Registration *current = nullptr;  // guarded by bridgeMutex

thread_local napi_ref stagedListener = nullptr;

// Takes reg out of service; its queued events go to `dropped`, freed by the
// caller unlocked.
void CloseLocked(Registration &reg, Batch &dropped) {
    reg.open = false;
    dropped.swap(reg.queue);
    if (current == &reg) current = nullptr;
}

// A listener that throws is reported as an uncaught exception; the batch goes
// on. False when the environment can no longer run JS.
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
    napi_fatal_exception(env, error);
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

// The wake-up, on the JS thread: swaps the whole batch out, then delivers it unlocked. A null
// env comes from wake-ups left when the thread-safe function is deleted, after
// FinalizeRegistration has freed the registration and its events: nothing to touch then.
void DrainBatch(napi_env env, napi_value, void *context, void *) {
    if (env == nullptr) return;
    auto *reg = static_cast<Registration *>(context);
    Batch batch = std::move(reg->spare);
    {
        std::lock_guard<SpinMutex> lock(bridgeMutex);
        batch.swap(reg->queue);
    }
    Deliver(env, *reg, batch);
    batch.clear();  // the texts go here
    reg->spare = std::move(batch);
}

// Environment cleanup hook: no event reaches a gone environment, and no engine
// thread touches it.
void StopRegistration(void *arg) {
    auto *reg = static_cast<Registration *>(arg);
    Batch dropped;
    std::lock_guard<SpinMutex> lock(bridgeMutex);
    CloseLocked(*reg, dropped);
    if (!reg->released) napi_release_threadsafe_function(reg->wake, napi_tsfn_abort);
    reg->released = true;
}

// Last step of a registration, on its JS thread, once its wake-ups are all
// delivered or aborted.
void FinalizeRegistration(napi_env env, void *data, void *) {
    std::unique_ptr<Registration> reg(static_cast<Registration *>(data));
    Batch dropped;
    {
        std::lock_guard<SpinMutex> lock(bridgeMutex);
        CloseLocked(*reg, dropped);
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
    // Unbounded queue, one hold (ours); the wake-up does not keep the process
    // alive.
    if (napi_create_threadsafe_function(env, nullptr, nullptr, name, 0, 1, reg.get(),
                                        FinalizeRegistration, reg.get(), DrainBatch,
                                        &reg->wake) != napi_ok) {
        return nullptr;
    }
    napi_unref_threadsafe_function(env, reg->wake);
    napi_add_env_cleanup_hook(env, StopRegistration, reg.get());
    return reg;
}

// Queues under the lock; wakes the JS thread only when the queue was empty.
void Enqueue(CallbackContext &event, Batch &dropped) {
    std::lock_guard<SpinMutex> lock(bridgeMutex);
    Registration *reg = current;
    if (reg == nullptr || !reg->open) return;
    event.env = reg->env;
    event.callbackRef = reg->listener;
    bool wasEmpty = reg->queue.empty();
    reg->queue.push_back(std::move(event));
    if (wasEmpty &&
        napi_call_threadsafe_function(reg->wake, reg, napi_tsfn_nonblocking) != napi_ok) {
        CloseLocked(*reg, dropped);  // the environment is closing
    }
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
    std::lock_guard<SpinMutex> lock(bridgeMutex);
    Registration *old = std::exchange(current, reg.release());
    // Under the lock old cannot be finalized meanwhile; its queued events still
    // reach it.
    if (old != nullptr && !old->released) {
        old->released = true;
        napi_release_threadsafe_function(old->wake, napi_tsfn_release);
    }
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
