// The recording methods. _stopRecord answers with a promise and runs the engine's stop on the async
// work pool, so the JS thread never waits for a recording to be finished.
//
// Threads: the handlers and the completion step run on the JS thread; the execute step on a pool
// worker, where it touches only its record and the proxy resolved beforehand on the JS thread.
#include <memory>

#include "napi/kavori_player_napi.h"
#include "napi/method_frame.h"
#include "napi/napi_util.h"
#include "proxy/kavori_player_proxy.h"

namespace {

// Carries one _stopRecord call to the worker and back; owned by its work while queued.
struct RecordCallBackInfo {
    napi_env env = nullptr;
    napi_async_work asyncWork = nullptr;
    napi_deferred deferred = nullptr;
    int result = 0;
    KavoriCloudPlayerNapiProxy *proxy = nullptr;  // instances and proxies live for the process
};

void ExecuteStopRecord(napi_env, void *data) {
    auto *record = static_cast<RecordCallBackInfo *>(data);
    try {
        record->result = record->proxy->KavoriCloudMediaPlayer_stopRecord();
    } catch (...) {
        record->result = 0;
    }
}

void ResolveWithInt(napi_env env, napi_deferred deferred, int value) {
    napi_value result = nullptr;
    napi_create_int32(env, value, &result);
    napi_resolve_deferred(env, deferred, result);
}

// Settles the promise whatever the work's status: it never rejects.
void CompleteStopRecord(napi_env env, napi_status, void *data) {
    std::unique_ptr<RecordCallBackInfo> record(static_cast<RecordCallBackInfo *>(data));
    ResolveWithInt(record->env, record->deferred, record->result);
    napi_delete_async_work(env, record->asyncWork);
}

}  // namespace

napi_value KavoriCloudPlayerNapi::startRecord(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 2, "napi-->startRecord");
        int32_t value = 0;
        if (napi_get_value_int32(env, frame.arg(1), &value) != napi_ok) value = 0;
        return NapiUtil::SetNapiCallInt32(env,
                                          frame.proxy()->KavoriCloudMediaPlayer_startRecord(value));
    });
}

napi_value KavoriCloudPlayerNapi::isRecord(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 1, "napi-->isRecord");
        return NapiUtil::SetNapiCallInt32(env, frame.proxy()->KavoriCloudMediaPlayer_isRecord());
    });
}

napi_value KavoriCloudPlayerNapi::stopRecord(napi_env env, napi_callback_info info) {
    return RunMethod([&]() -> napi_value {
        MethodFrame frame(env, info, 1, "napi-->stopRecord");
        // Resolved here so the worker never touches the instance registry.
        auto record = std::make_unique<RecordCallBackInfo>();
        record->env = env;
        record->proxy = frame.proxy();

        napi_value promise = nullptr;
        if (napi_create_promise(env, &record->deferred, &promise) != napi_ok) {
            ThrowLastNapiError(env);
            return nullptr;
        }
        napi_value resourceName = nullptr;
        if (napi_create_string_latin1(env, "stopRecord", NAPI_AUTO_LENGTH, &resourceName) ==
                napi_ok &&
            napi_create_async_work(env, nullptr, resourceName, ExecuteStopRecord,
                                   CompleteStopRecord, record.get(),
                                   &record->asyncWork) == napi_ok) {
            if (napi_queue_async_work(env, record->asyncWork) == napi_ok) {
                record.release();  // taken back by CompleteStopRecord
                return promise;
            }
            napi_delete_async_work(env, record->asyncWork);
        }
        // Nothing will run the work: settle now rather than leave the promise pending forever.
        ResolveWithInt(env, record->deferred, 0);
        return promise;
    });
}
