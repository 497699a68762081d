// napi_run_script as the device's runtime has it: the name exists and runs nothing. Linked into a
// copy of the module in place of the host's (--wrap), so that the suites can run the module as it
// runs there.
#include <node_api.h>

extern "C" napi_status __wrap_napi_run_script(napi_env env, napi_value, napi_value *result) {
    return napi_get_undefined(env, result);
}
