// Test-only addon for bench/events.js: native producer threads that post events through the
// module's bridge (post_event) or through a bare thread-safe function (one call per event), and
// the floors: the listener called from native code once per event, or once per group from a JS
// loop. The bridge is the addon's own copy of the module's code (hidden in the module), so its
// listener is set through the addon.
#include <node_api.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "napi/event_channel.h"
#include "napi/kavori_player_napi.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::thread> producers;  // JS thread only

// Microseconds of the monotonic clock (the one process.hrtime reads), modulo 2^30.
int32_t StampMicros() {
    auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch());
    return static_cast<int32_t>(us.count() % (1 << 30));
}

struct Run {
    uint32_t producers = 1;
    uint32_t perProducer = 0;
    uint32_t rate = 0;      // events per second per producer; 0 unpaced
    bool isolated = false;  // each event waits for the listener's ack() of the one before
};

// The listener's acks of isolated events, counted over the process's life.
std::mutex ackMutex;
std::condition_variable acked;
uint64_t acks = 0;  // guarded by ackMutex

uint64_t Acks() {
    std::lock_guard<std::mutex> lock(ackMutex);
    return acks;
}

void WaitForAcks(uint64_t count) {
    std::unique_lock<std::mutex> lock(ackMutex);
    acked.wait(lock, [count] { return acks >= count; });
}

// Calls post(seq, stamp) perProducer times. Paced runs (rate set) measure latency and stamp each
// event; unpaced ones measure cost and give 0, as the floor does: a clock read costs the producer
// about as much as its hand-off, and is not the bridge's.
// Isolated runs post an event only once the listener has taken the one before: one event per
// wake-up, as from a player posting a few events a second, without waiting on time.
template <typename Post>
void Produce(const Run &run, Post post) {
    if (run.isolated) {
        uint64_t base = Acks();
        for (uint32_t i = 0; i < run.perProducer; ++i) {
            post(static_cast<int32_t>(i), 0);
            WaitForAcks(base + i + 1);
        }
        return;
    }
    if (run.rate == 0) {
        for (uint32_t i = 0; i < run.perProducer; ++i) post(static_cast<int32_t>(i), 0);
        return;
    }
    auto start = Clock::now();
    for (uint32_t i = 0; i < run.perProducer; ++i) {
        std::this_thread::sleep_until(
            start + std::chrono::nanoseconds(uint64_t{i} * 1000000000 / run.rate));
        post(static_cast<int32_t>(i), StampMicros());
    }
}

Run ReadRun(napi_env env, napi_value *argv) {
    Run run;
    napi_get_value_uint32(env, argv[0], &run.producers);
    napi_get_value_uint32(env, argv[1], &run.perProducer);
    napi_get_value_uint32(env, argv[2], &run.rate);
    napi_get_value_bool(env, argv[3], &run.isolated);  // left false when absent
    return run;
}

// produceBridge(producers, perProducer, rate, isolated): events (3, seq, stamp) through post_event.
napi_value ProduceBridge(napi_env env, napi_callback_info info) {
    size_t argc = 4;
    napi_value argv[4] = {};
    napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
    Run run = ReadRun(env, argv);
    for (uint32_t p = 0; p < run.producers; ++p) {
        producers.emplace_back([run] {
            Produce(run, [](int32_t seq, int32_t stamp) {
                post_event(nullptr, 3, seq, stamp, nullptr);
            });
        });
    }
    return nullptr;
}

struct BareEvent {
    int32_t what, param1, param2;
};

void CallBare(napi_env env, napi_value listener, void *, void *data) {
    std::unique_ptr<BareEvent> event(static_cast<BareEvent *>(data));
    if (env == nullptr) return;
    napi_value argv[3], receiver;
    napi_get_undefined(env, &receiver);
    napi_create_int32(env, event->what, &argv[0]);
    napi_create_int32(env, event->param1, &argv[1]);
    napi_create_int32(env, event->param2, &argv[2]);
    napi_call_function(env, receiver, listener, 3, argv, nullptr);
}

// produceBare(listener, producers, perProducer, rate, isolated): the same events, one thread-safe
// function call each.
napi_value ProduceBare(napi_env env, napi_callback_info info) {
    size_t argc = 5;
    napi_value argv[5] = {};
    napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
    Run run = ReadRun(env, argv + 1);
    napi_value name;
    napi_create_string_utf8(env, "bareEvents", NAPI_AUTO_LENGTH, &name);
    napi_threadsafe_function tsfn = nullptr;
    napi_create_threadsafe_function(env, argv[0], nullptr, name, 0, run.producers, nullptr, nullptr,
                                    nullptr, CallBare, &tsfn);
    for (uint32_t p = 0; p < run.producers; ++p) {
        producers.emplace_back([run, tsfn] {
            Produce(run, [tsfn](int32_t seq, int32_t stamp) {
                napi_call_threadsafe_function(tsfn, new BareEvent{3, seq, stamp},
                                              napi_tsfn_nonblocking);
            });
            napi_release_threadsafe_function(tsfn, napi_tsfn_release);
        });
    }
    return nullptr;
}

// floor(listener, n): n listener calls from here, one handle scope each.
napi_value Floor(napi_env env, napi_callback_info info) {
    size_t argc = 2;
    napi_value argv[2] = {};
    napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
    uint32_t n = 0;
    napi_get_value_uint32(env, argv[1], &n);
    napi_value receiver;
    napi_get_undefined(env, &receiver);
    for (uint32_t i = 0; i < n; ++i) {
        napi_handle_scope scope;
        napi_open_handle_scope(env, &scope);
        napi_value args[3];
        napi_create_int32(env, 3, &args[0]);
        napi_create_int32(env, static_cast<int32_t>(i), &args[1]);
        napi_create_int32(env, 0, &args[2]);
        napi_call_function(env, receiver, argv[0], 3, args, nullptr);
        napi_close_handle_scope(env, scope);
    }
    return nullptr;
}

// ack(): the listener has taken an isolated event.
napi_value Ack(napi_env, napi_callback_info) {
    {
        std::lock_guard<std::mutex> lock(ackMutex);
        ++acks;
    }
    acked.notify_all();
    return nullptr;
}

// groupFloor(deliver, listener, n): what group delivery cannot do with less, for n events
// (3, seq, 0): per group of up to 64, the numbers written into one Int32Array and one call
// deliver(listener, numbers, count) under one handle scope, deliver being a JS loop that calls the
// listener with each event's numbers.
napi_value GroupFloor(napi_env env, napi_callback_info info) {
    constexpr uint32_t kGroup = 64;
    size_t argc = 3;
    napi_value argv[3] = {};
    napi_get_cb_info(env, info, &argc, argv, nullptr, nullptr);
    uint32_t n = 0;
    napi_get_value_uint32(env, argv[2], &n);
    void *data = nullptr;
    napi_value buffer, numbers, receiver;
    napi_create_arraybuffer(env, kGroup * 3 * sizeof(int32_t), &data, &buffer);
    napi_create_typedarray(env, napi_int32_array, kGroup * 3, buffer, 0, &numbers);
    napi_get_undefined(env, &receiver);
    auto *slots = static_cast<int32_t *>(data);
    for (uint32_t done = 0; done < n;) {
        uint32_t count = std::min(kGroup, n - done);
        for (uint32_t i = 0; i < count; ++i) {
            slots[3 * i] = 3;
            slots[3 * i + 1] = static_cast<int32_t>(done + i);
            slots[3 * i + 2] = 0;
        }
        napi_handle_scope scope;
        napi_open_handle_scope(env, &scope);
        napi_value args[3] = {argv[1], numbers, nullptr};
        napi_create_uint32(env, count, &args[2]);
        napi_call_function(env, receiver, argv[0], 3, args, nullptr);
        napi_close_handle_scope(env, scope);
        done += count;
    }
    return nullptr;
}

// join(): waits for the producer threads of the last runs.
napi_value Join(napi_env, napi_callback_info) {
    for (auto &t : producers) t.join();
    producers.clear();
    return nullptr;
}

// measuredPassStarts(), measuredPassEnds(): do nothing. bench/callgrind_counts.sh dumps callgrind's
// counts when either is entered, which splits a run's warm-up from its measured pass, and that
// pass from what follows it where a run marks its end.
napi_value MeasuredPassStarts(napi_env, napi_callback_info) {
    return nullptr;
}

napi_value MeasuredPassEnds(napi_env, napi_callback_info) {
    return nullptr;
}

}  // namespace

NAPI_MODULE_INIT() {
    const napi_property_descriptor methods[] = {
        {"produceBridge", nullptr, ProduceBridge, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"produceBare", nullptr, ProduceBare, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"floor", nullptr, Floor, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"groupFloor", nullptr, GroupFloor, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"ack", nullptr, Ack, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"join", nullptr, Join, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"measuredPassStarts", nullptr, MeasuredPassStarts, nullptr, nullptr, nullptr, napi_default,
         nullptr},
        {"measuredPassEnds", nullptr, MeasuredPassEnds, nullptr, nullptr, nullptr, napi_default,
         nullptr},
        {"_setMessageListener", nullptr, KavoriCloudPlayerNapi::setMessageListener, nullptr,
         nullptr, nullptr, napi_default, nullptr},
    };
    napi_define_properties(env, exports, sizeof(methods) / sizeof(methods[0]), methods);
    return exports;
}
