// Test-only addon for bench/events.js: native producer threads that post events through the
// module's bridge (post_event) or through a bare thread-safe function (one call per event), and
// the floor: the listener called in a tight loop on the JS thread. The bridge is the addon's own
// copy of the module's code (hidden in the module), so its listener is set through the addon.
#include <node_api.h>

#include <chrono>
#include <cstdint>
#include <memory>
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
    uint32_t rate = 0;  // events per second per producer; 0 unpaced
};

// Calls post(seq, stamp) perProducer times. Paced runs (rate set) measure latency and stamp each
// event; unpaced ones measure cost and give 0, as the floor does: a clock read costs the producer
// about as much as its hand-off, and is not the bridge's.
template <typename Post>
void Produce(const Run &run, Post post) {
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
    return run;
}

// produceBridge(producers, perProducer, rate): events (3, seq, stamp) through post_event.
napi_value ProduceBridge(napi_env env, napi_callback_info info) {
    size_t argc = 3;
    napi_value argv[3] = {};
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

// produceBare(listener, producers, perProducer, rate): the same events, one thread-safe
// function call each.
napi_value ProduceBare(napi_env env, napi_callback_info info) {
    size_t argc = 4;
    napi_value argv[4] = {};
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

// join(): waits for the producer threads of the last runs.
napi_value Join(napi_env, napi_callback_info) {
    for (auto &t : producers) t.join();
    producers.clear();
    return nullptr;
}

// measuredPassStarts(): does nothing. bench/callgrind_counts.sh dumps callgrind's counts when it is
// entered, which splits a run's warm-up from its measured pass.
napi_value MeasuredPassStarts(napi_env, napi_callback_info) {
    return nullptr;
}

}  // namespace

NAPI_MODULE_INIT() {
    const napi_property_descriptor methods[] = {
        {"produceBridge", nullptr, ProduceBridge, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"produceBare", nullptr, ProduceBare, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"floor", nullptr, Floor, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"join", nullptr, Join, nullptr, nullptr, nullptr, napi_default, nullptr},
        {"measuredPassStarts", nullptr, MeasuredPassStarts, nullptr, nullptr, nullptr, napi_default,
         nullptr},
        {"_setMessageListener", nullptr, KavoriCloudPlayerNapi::setMessageListener, nullptr,
         nullptr, nullptr, napi_default, nullptr},
    };
    napi_define_properties(env, exports, sizeof(methods) / sizeof(methods[0]), methods);
    return exports;
}
