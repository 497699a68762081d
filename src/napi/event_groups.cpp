// Threads: see event_groups.h.
#include "napi/event_groups.h"

#include <algorithm>
#include <memory>
#include <new>

#include "napi/event_channel.h"
#include "napi/napi_util.h"

namespace {

// Its value makes the group functions over the shared numbers: [0] is set when a listener is set
// (the group stops before its next event), [1] is where the group stopped, numbers from [2] on,
// three per event (five for routed ones, the serial's high and low words first). A throwing
// listener's exception leaves with the place after it marked, for the module to report it as
// uncaught and go on from there. Strict mode: the listener is called with no receiver.
constexpr char kGroupScript[] = R"JS((function (shared) {
  'use strict';
  function rethrow(e, i) {
    shared[1] = i + 1;
    throw e;
  }
  function raw(listener, count, texts) {
    let i = 0;
    try {
      for (let k = 2; i < count && shared[0] === 0; i++, k += 3) {
        const text = texts === undefined ? undefined : texts[i];
        if (text === undefined) listener(shared[k], shared[k + 1], shared[k + 2]);
        else listener(shared[k], shared[k + 1], shared[k + 2], text);
      }
    } catch (e) {
      rethrow(e, i);
    }
    shared[1] = i;
  }
  function routed(listener, count, texts, textAlways) {
    let i = 0;
    try {
      for (let k = 2; i < count && shared[0] === 0; i++, k += 5) {
        const text = texts === undefined ? undefined : texts[i];
        const serial = shared[k] * 4294967296 + (shared[k + 1] >>> 0);
        if (textAlways || text !== undefined) {
          listener(serial, shared[k + 2], shared[k + 3], shared[k + 4], text);
        } else {
          listener(serial, shared[k + 2], shared[k + 3], shared[k + 4]);
        }
      }
    } catch (e) {
      rethrow(e, i);
    }
    shared[1] = i;
  }
  return [raw, routed];
}))JS";

constexpr size_t kSharedHead = 2;
constexpr size_t kShared = kSharedHead + 5 * kGroupEvents;

// A number of the group being called one by one, made anew only when it changes: an event's kind,
// and a routed event's serial, repeat in runs.
template <typename T>
class RepeatedNumber {
  public:
    napi_value get(napi_env env, T value) {
        if (made_ != nullptr && value_ == value) return made_;
        value_ = value;
        Make(env, value, &made_);
        return made_;
    }

  private:
    static void Make(napi_env env, int32_t v, napi_value *out) { napi_create_int32(env, v, out); }
    static void Make(napi_env env, uint64_t v, napi_value *out) {
        napi_create_int64(env, static_cast<int64_t>(v), out);
    }
    T value_{};
    napi_value made_ = nullptr;
};

// Fills argv with the event's numbers and, when it has one, its text; gives the count.
size_t EventArgs(napi_env env, const CallbackContext &event, RepeatedNumber<int32_t> &kind,
                 napi_value *argv) {
    argv[0] = kind.get(env, event.what);
    napi_create_int32(env, event.param1, &argv[1]);
    napi_create_int32(env, event.param2, &argv[2]);
    if (!event.obj) return 3;
    napi_create_string_utf8(env, event.obj.get(), NAPI_AUTO_LENGTH, &argv[3]);
    return 4;
}

// After a failed call: reports its exception as uncaught. False when there is none: the
// environment can no longer run JS.
bool ReportPending(napi_env env) {
    bool pending = false;
    napi_is_exception_pending(env, &pending);
    if (!pending) return false;
    napi_value error = nullptr;
    napi_get_and_clear_last_exception(env, &error);
    ReportUncaught(env, error);
    return true;
}

// The texts of a group, one own slot per event (undefined without a text). Every slot is defined,
// not set: a hole would be read through Array.prototype and Object.prototype, and setting an index
// would run a setter an app put there, so a polluted prototype could add or swallow a text.
napi_value Texts(napi_env env, napi_value undefined, const CallbackContext *events, size_t count) {
    static constexpr char kIndexNames[kGroupEvents][3] = {
        "0",  "1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "10", "11", "12",
        "13", "14", "15", "16", "17", "18", "19", "20", "21", "22", "23", "24", "25",
        "26", "27", "28", "29", "30", "31", "32", "33", "34", "35", "36", "37", "38",
        "39", "40", "41", "42", "43", "44", "45", "46", "47", "48", "49", "50", "51",
        "52", "53", "54", "55", "56", "57", "58", "59", "60", "61", "62", "63"};
    static_assert(kGroupEvents == 64, "a name for each slot of a group");
    constexpr auto kSlot =
        static_cast<napi_property_attributes>(napi_writable | napi_enumerable | napi_configurable);
    napi_property_descriptor slots[kGroupEvents];
    for (size_t i = 0; i < count; ++i) {
        napi_value text = undefined;
        if (events[i].obj)
            napi_create_string_utf8(env, events[i].obj.get(), NAPI_AUTO_LENGTH, &text);
        slots[i] = {kIndexNames[i], nullptr, nullptr, nullptr, nullptr, text, kSlot, nullptr};
    }
    napi_value texts = nullptr;
    napi_create_array_with_length(env, count, &texts);
    napi_define_properties(env, texts, count, slots);
    return texts;
}

// The execute of a wait: the point is its completion, on the JS thread in a later turn of the loop.
void NothingToDo(napi_env, void *) {}

bool IsFunction(napi_env env, napi_value value) {
    napi_valuetype type = napi_undefined;
    return value != nullptr && napi_typeof(env, value, &type) == napi_ok && type == napi_function;
}

// A function of the environment, referenced; null when there is none (a throwing getter too).
napi_ref FunctionRef(napi_env env, napi_value value) {
    napi_ref ref = nullptr;
    if (IsFunction(env, value)) napi_create_reference(env, value, 1, &ref);
    return ref;
}

void ClearPending(napi_env env) {
    napi_value ignored = nullptr;
    bool pending = false;
    if (napi_is_exception_pending(env, &pending) == napi_ok && pending)
        napi_get_and_clear_last_exception(env, &ignored);
}

void DeleteRef(napi_env env, napi_ref &ref) {
    if (ref != nullptr) napi_delete_reference(env, ref);
    ref = nullptr;
}

}  // namespace

EventGroups *EventGroups::Of(napi_env env) {
    void *data = nullptr;
    if (napi_get_instance_data(env, &data) == napi_ok && data != nullptr) {
        auto *groups = static_cast<EventGroups *>(data);
        ++groups->users_;
        return groups;
    }
    std::unique_ptr<EventGroups> groups(new (std::nothrow) EventGroups(env));
    if (groups == nullptr || napi_set_instance_data(env, groups.get(), nullptr, nullptr) != napi_ok)
        return nullptr;
    if (napi_add_env_cleanup_hook(env, Teardown, groups.get()) != napi_ok) {
        napi_set_instance_data(env, nullptr, nullptr, nullptr);
        return nullptr;
    }
    groups->Make();
    ++groups->users_;
    return groups.release();
}

void EventGroups::Release() {
    if (--users_ == 0) delete this;
}

void EventGroups::Make() {
    napi_handle_scope scope = nullptr;
    if (napi_open_handle_scope(env_, &scope) != napi_ok) return;
    napi_value global = nullptr;
    napi_get_global(env_, &global);
    napi_value source = nullptr;
    napi_value factory = nullptr;
    napi_value buffer = nullptr;
    napi_value numbers = nullptr;
    napi_value made = nullptr;
    void *data = nullptr;
    napi_create_string_utf8(env_, kGroupScript, NAPI_AUTO_LENGTH, &source);
    if (napi_run_script(env_, source, &factory) != napi_ok || !IsFunction(env_, factory) ||
        napi_create_arraybuffer(env_, kShared * sizeof(int32_t), &data, &buffer) != napi_ok ||
        napi_create_typedarray(env_, napi_int32_array, kShared, buffer, 0, &numbers) != napi_ok ||
        napi_call_function(env_, global, factory, 1, &numbers, &made) != napi_ok) {
        ClearPending(env_);  // calls one by one
    } else {
        napi_value raw = nullptr;
        napi_value routed = nullptr;
        napi_get_element(env_, made, 0, &raw);
        napi_get_element(env_, made, 1, &routed);
        if (IsFunction(env_, raw) && IsFunction(env_, routed)) {
            raw_ = FunctionRef(env_, raw);
            routed_ = FunctionRef(env_, routed);
            napi_create_reference(env_, numbers, 1, &numbers_);
            shared_ = static_cast<int32_t *>(data);
        }
    }
    napi_close_handle_scope(env_, scope);
}

void EventGroups::DropRefs() {
    DeleteRef(env_, raw_);
    DeleteRef(env_, routed_);
    DeleteRef(env_, numbers_);
    shared_ = nullptr;
}

void EventGroups::Teardown(void *arg) {
    auto *groups = static_cast<EventGroups *>(arg);
    groups->DropRefs();
    groups->waiting_.clear();
    groups->tornDown_ = true;
    // A wait still queued ends as cancelled, or runs and finds nothing to resume.
    if (groups->later_ != nullptr) napi_cancel_async_work(groups->env_, groups->later_);
    napi_set_instance_data(groups->env_, nullptr, nullptr, nullptr);
    groups->Release();
}

size_t EventGroups::Call(Shape shape, napi_value listener, const CallbackContext *events,
                         size_t count) {
    // A lone event, the usual wake-up of a player that posts a few a second, goes straight to the
    // listener: the group function would add a call of its own, rarely compiled at that pace.
    size_t called = shared_ != nullptr && count > 1 ? CallGroup(shape, listener, events, count)
                                                    : CallEach(shape, listener, events, count);
    return called == 0 ? kEnded : called;  // never 0: the caller always moves on
}

size_t EventGroups::CallGroup(Shape shape, napi_value listener, const CallbackContext *events,
                              size_t count) {
    const bool routed = shape != Shape::kRaw;
    int32_t *n = shared_ + kSharedHead;
    bool anyText = false;
    for (size_t i = 0; i < count; ++i) {
        const CallbackContext &event = events[i];
        if (routed) {
            *n++ = static_cast<int32_t>(event.player >> 32);
            *n++ = static_cast<int32_t>(event.player & 0xffffffffu);
        }
        n[0] = event.what;
        n[1] = event.param1;
        n[2] = event.param2;
        n += 3;
        anyText = anyText || static_cast<bool>(event.obj);
    }
    napi_value receiver = nullptr;
    napi_get_undefined(env_, &receiver);
    napi_value argv[4] = {listener, nullptr, receiver, nullptr};
    napi_create_uint32(env_, static_cast<uint32_t>(count), &argv[1]);
    if (anyText) argv[2] = Texts(env_, receiver, events, count);
    napi_get_boolean(env_, shape == Shape::kRoutedTextAlways, &argv[3]);
    napi_value group = nullptr;
    napi_get_reference_value(env_, routed ? routed_ : raw_, &group);
    shared_[0] = 0;
    shared_[1] = 0;
    if (napi_call_function(env_, receiver, group, routed ? 4 : 3, argv, nullptr) == napi_ok ||
        ReportPending(env_)) {
        return static_cast<size_t>(shared_[1]);  // 0 when the group function itself failed
    }
    return kEnded;
}

size_t EventGroups::CallEach(Shape shape, napi_value listener, const CallbackContext *events,
                             size_t count) {
    napi_value receiver = nullptr;
    napi_get_undefined(env_, &receiver);
    const size_t first = shape == Shape::kRaw ? 0 : 1;
    // what a textless event gets: 3, 4 (the serial), or 5 (its text slot)
    const size_t argcWithoutText = first + (shape == Shape::kRoutedTextAlways ? 4 : 3);
    RepeatedNumber<int32_t> kind;
    RepeatedNumber<uint64_t> serial;
    stop_ = false;
    size_t called = 0;
    while (called < count) {
        const CallbackContext &event = events[called++];
        napi_value argv[5];  // the first argc are set below
        if (first != 0) argv[0] = serial.get(env_, event.player);
        size_t argc = first + EventArgs(env_, event, kind, argv + first);
        if (argc < argcWithoutText) argv[argc++] = receiver;  // undefined for the missing text
        if (napi_call_function(env_, receiver, listener, argc, argv, nullptr) != napi_ok &&
            !ReportPending(env_)) {
            return kEnded;
        }
        if (stop_) break;
    }
    return called;
}

void EventGroups::ListenerSet() {
    stop_ = true;
    if (shared_ != nullptr) shared_[0] = 1;
}

bool EventGroups::ResumeLater(EventChannel *channel) {
    if (tornDown_) return false;
    try {
        waiting_.push_back(channel);
    } catch (const std::bad_alloc &) {
        return false;
    }
    if (later_ != nullptr) return true;
    napi_handle_scope scope = nullptr;
    if (napi_open_handle_scope(env_, &scope) != napi_ok) {
        waiting_.pop_back();
        return false;
    }
    napi_value name = nullptr;
    napi_create_string_utf8(env_, "KavoriPlayerEventsLater", NAPI_AUTO_LENGTH, &name);
    if (napi_create_async_work(env_, nullptr, name, NothingToDo, Resume, this, &later_) !=
        napi_ok) {
        later_ = nullptr;
    } else if (napi_queue_async_work(env_, later_) != napi_ok) {
        napi_delete_async_work(env_, later_);
        later_ = nullptr;
    }
    napi_close_handle_scope(env_, scope);
    if (later_ == nullptr) {
        ClearPending(env_);
        waiting_.pop_back();
        return false;
    }
    ++users_;  // until Resume: the environment may end before the work is done
    return true;
}

void EventGroups::Forget(EventChannel *channel) {
    waiting_.erase(std::remove(waiting_.begin(), waiting_.end(), channel), waiting_.end());
}

void EventGroups::Resume(napi_env env, napi_status status, void *data) {
    auto *groups = static_cast<EventGroups *>(data);
    napi_delete_async_work(env, groups->later_);
    groups->later_ = nullptr;
    std::vector<EventChannel *> waiting;
    waiting.swap(groups->waiting_);
    if (status == napi_ok && !groups->tornDown_) {
        for (EventChannel *channel : waiting) resume_channel(*channel);
    }
    groups->Release();
}
