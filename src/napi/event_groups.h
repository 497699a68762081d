// One crossing into JS per group of events: a small JS function, made once per environment, reads
// a group's numbers from a typed array it shares with the module and calls the listener once per
// event, with the arguments a call per event would give and no receiver. Where the host's
// napi_run_script gives no function (the device's does nothing), each event is one call as before.
// Also the way a long batch lets its environment's loop run: a channel with events left waits for
// a later turn of the loop, then wakes itself again. The wait is an async work whose execute does
// nothing: its completion comes back on the JS thread after timers and I/O have had their turn, and
// no JS timer is involved, so whatever the app did to its own timers, the rest of a flood comes.
//
// Threads: everything here runs on its environment's JS thread. The state lives as long as the
// environment (its instance data, given back by a cleanup hook) or a channel that still uses it.
#ifndef KAVORI_NAPI_EVENT_GROUPS_H
#define KAVORI_NAPI_EVENT_GROUPS_H

#include <napi/native_api.h>

#include <cstddef>
#include <cstdint>
#include <vector>

struct CallbackContext;
struct EventChannel;

// Events per crossing into JS.
constexpr size_t kGroupEvents = 64;

class EventGroups {
  public:
    // The listener's arguments: (what, param1, param2[, text]); routed ones with the serial first,
    // and with `textAlways` a text slot on every call (undefined when there is none).
    enum class Shape { kRaw, kRouted, kRoutedTextAlways };
    // What Call gives when delivery must end: the environment can no longer run JS.
    static constexpr size_t kEnded = SIZE_MAX;

    // env's state, made on its first use, for a new user, who gives it back with Release(); null
    // only when env has no room for it.
    static EventGroups *Of(napi_env env);
    void Release();

    // Calls listener for events[0, count) (count <= kGroupEvents), inside the caller's handle
    // scope; gives how many were called for. A listener that throws is reported as an uncaught
    // exception and the group goes on; after an event whose listener set a listener of this
    // environment, the call returns, so that the next event goes to the one set then.
    size_t Call(Shape shape, napi_value listener, const CallbackContext *events, size_t count);
    // A listener of this environment was set or removed: a group being called stops after the
    // current event.
    void ListenerSet();

    // Has resume_channel(*channel) run once the loop has had its turn; false when the environment
    // has no way to wait for that.
    bool ResumeLater(EventChannel *channel);
    // channel is gone: nothing resumes it.
    void Forget(EventChannel *channel);

  private:
    explicit EventGroups(napi_env env) : env_(env) {}
    void Make();
    void DropRefs();
    size_t CallEach(Shape shape, napi_value listener, const CallbackContext *events, size_t count);
    size_t CallGroup(Shape shape, napi_value listener, const CallbackContext *events, size_t count);
    static void Resume(napi_env env, napi_status status, void *data);
    static void Teardown(void *arg);

    napi_env env_;
    int users_ = 1;           // the environment, until its cleanup hook, and each channel
    napi_ref raw_ = nullptr;  // the group functions; null where no script runs
    napi_ref routed_ = nullptr;
    napi_ref numbers_ = nullptr;       // the Int32Array shared with them
    int32_t *shared_ = nullptr;        // its elements: stop mark, where the group stopped, numbers
    bool stop_ = false;                // the stop mark of calls one by one
    napi_async_work later_ = nullptr;  // queued while channels wait, a user of its own until done
    bool tornDown_ = false;            // the environment's cleanup hook has run
    std::vector<EventChannel *> waiting_;
};

// Wakes channel again, from Resume, for the rest of its batch (event_channel.cpp).
void resume_channel(EventChannel &channel);

#endif
