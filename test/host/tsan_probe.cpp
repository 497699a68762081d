// Proof that ThreadSanitizer sees races under JS method frames with the project's suppressions:
// racy() and locked() each bump one counter from the JS thread and from a thread they start;
// only locked() guards it. Built in the ThreadSanitizer build only.
#include <node_api.h>

#include <mutex>
#include <thread>

namespace {

constexpr int kRounds = 10000;
int racyCounter = 0;
int lockedCounter = 0;
std::mutex lockedMutex;

void BumpRacy() {
    for (int i = 0; i < kRounds; ++i) ++racyCounter;
}

void BumpLocked() {
    for (int i = 0; i < kRounds; ++i) {
        std::lock_guard<std::mutex> hold(lockedMutex);
        ++lockedCounter;
    }
}

template <void (*Bump)(), int *Counter>
napi_value Run(napi_env env, napi_callback_info) {
    std::thread other(Bump);
    Bump();
    other.join();
    napi_value result = nullptr;
    napi_create_int32(env, *Counter, &result);
    return result;
}

}  // namespace

NAPI_MODULE_INIT() {
    napi_property_descriptor methods[] = {
        {"racy", nullptr, Run<BumpRacy, &racyCounter>, nullptr, nullptr, nullptr, napi_default,
         nullptr},
        {"locked", nullptr, Run<BumpLocked, &lockedCounter>, nullptr, nullptr, nullptr,
         napi_default, nullptr},
    };
    napi_define_properties(env, exports, sizeof(methods) / sizeof(methods[0]), methods);
    return exports;
}
