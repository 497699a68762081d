// napi_queue_async_work as a runtime that refuses every async work: a channel cannot wait for a
// later turn of the loop and delivers a whole batch at once. Linked into a copy of the module in
// place of the host's (--wrap), so that the suites can see that road give back what it holds.
#include <node_api.h>

extern "C" napi_status __wrap_napi_queue_async_work(napi_env, napi_async_work) {
    return napi_generic_failure;
}
