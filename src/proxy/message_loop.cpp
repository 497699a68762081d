// The engine message loop: one per engine player, on that player's message thread. Each engine
// message becomes at most one event, with the player's serial, for the module-wide poster. What
// the engine has already queued is taken without waiting and posted as one batch, which the batch
// slot brackets.
//
// Threads: the loop runs only on engine message threads. The poster, batch and end slots are the
// one thing shared: JS threads fill them, every message reads the poster, so a listener registered
// later is picked up at once, every batch reads the batch slot and every ending loop the end slot.
#include <atomic>
#include <cstdint>
#include <iterator>

#include "kvmp.h"
#include "proxy/kavori_player_proxy.h"
#include "proxy/player_routes.h"
#include "util/engine_events.h"
#include "util/event_text.h"
#include "util/ohos_log.h"

namespace {

// Where a posted number comes from: a constant, or the message's own param1 / param2.
struct Value {
    enum Kind : uint8_t { kConst, kA1, kA2 } kind;
    int32_t constant;
};
constexpr Value K(int32_t v) {
    return {Value::kConst, v};
}
constexpr Value A1{Value::kA1, 0};
constexpr Value A2{Value::kA2, 0};

enum class LogArgs : uint8_t { kNone, kA1, kA1A2 };
enum class Text : uint8_t { kNone, kSei, kCopy, kUtf8 };

struct MessageRow {
    int32_t code;
    const char *logFormat;  // null: the row logs nothing
    LogArgs logArgs;
    bool posts;
    int32_t what;
    Value param1;
    Value param2;
    Text text;
};

constexpr bool kPost = true;
constexpr bool kSkip = false;

// Sorted by code.
constexpr MessageRow kMessageTable[] = {
    {0, "KVP_MSG_FLUSH:\n", LogArgs::kNone, kPost, 0, K(0), K(0), Text::kNone},
    {100, "KVP_MSG_ERROR: %d\n", LogArgs::kA1, kPost, kEngineErrorEvent, K(kEngineErrorMark), A1,
     Text::kNone},
    {200, "KVP_MSG_PREPARED:\n", LogArgs::kNone, kPost, 1, K(0), K(0), Text::kNone},
    {300, "KVP_MSG_COMPLETED:\n", LogArgs::kNone, kPost, 2, K(0), K(0), Text::kNone},
    {400, "KVP_MSG_VIDEO_SIZE_CHANGED: %d, %d\n", LogArgs::kA1A2, kPost, 5, A1, A2, Text::kNone},
    {401, "KVP_MSG_SAR_CHANGED: %d, %d\n", LogArgs::kA1A2, kPost, 10001, A1, A2, Text::kNone},
    {402, "KVP_MSG_VIDEO_RENDERING_START:\n", LogArgs::kNone, kPost, 200, K(3), K(0), Text::kNone},
    {403, "KVP_MSG_AUDIO_RENDERING_START:\n", LogArgs::kNone, kPost, 200, K(10002), K(0),
     Text::kNone},
    {404, "KVP_MSG_VIDEO_ROTATION_CHANGED: %d\n", LogArgs::kA1, kPost, 200, K(10001), A1,
     Text::kNone},
    {405, "KVP_MSG_AUDIO_DECODED_START:\n", LogArgs::kNone, kPost, 200, K(10003), K(0),
     Text::kNone},
    {406, "KVP_MSG_VIDEO_DECODED_START:\n", LogArgs::kNone, kPost, 200, K(10004), K(0),
     Text::kNone},
    {407, "KVP_MSG_OPEN_INPUT:\n", LogArgs::kNone, kPost, 200, K(10005), K(0), Text::kNone},
    {408, "KVP_MSG_FIND_STREAM_INFO:\n", LogArgs::kNone, kPost, 200, K(10006), K(0), Text::kNone},
    {409, "KVP_MSG_COMPONENT_OPEN:\n", LogArgs::kNone, kPost, 200, K(10007), K(0), Text::kNone},
    {410, "KVP_MSG_FRAMECHASING_START:\n", LogArgs::kNone, kPost, 200, K(10010), K(0), Text::kNone},
    {411, "KVP_MSG_FRAMECHASING_END:\n", LogArgs::kNone, kPost, 200, K(10011), K(0), Text::kNone},
    {422, "KVP_MSG_EXT_SEI_NALU:\n", LogArgs::kNone, kPost, 200, K(422), K(0), Text::kSei},
    {428, nullptr, LogArgs::kNone, kPost, 200, K(428), K(0), Text::kCopy},
    {429, "KVP_MSG_AUDIO_INTERRUPT:\n", LogArgs::kNone, kPost, 201, A1, A2, Text::kNone},
    {500, "KVP_MSG_BUFFERING_START:\n", LogArgs::kNone, kPost, 200, K(701), A1, Text::kNone},
    {501, "KVP_MSG_BUFFERING_END:\n", LogArgs::kNone, kPost, 200, K(702), A1, Text::kNone},
    {502, nullptr, LogArgs::kNone, kPost, 3, A1, A2, Text::kNone},
    {503, nullptr, LogArgs::kNone, kSkip, 0, K(0), K(0), Text::kNone},
    {504, nullptr, LogArgs::kNone, kSkip, 0, K(0), K(0), Text::kNone},
    {600, "KVP_MSG_SEEK_COMPLETE:\n", LogArgs::kNone, kPost, 4, K(0), K(0), Text::kNone},
    {700, nullptr, LogArgs::kNone, kSkip, 0, K(0), K(0), Text::kNone},
    {800, nullptr, LogArgs::kNone, kPost, 99, K(0), K(0), Text::kUtf8},
    {900, "KVP_MSG_ACCURATE_SEEK_COMPLETE:\n", LogArgs::kNone, kPost, 200, K(10100), A1,
     Text::kNone},
};

constexpr bool IsSorted() {
    for (size_t i = 1; i < std::size(kMessageTable); ++i) {
        if (kMessageTable[i - 1].code >= kMessageTable[i].code) return false;
    }
    return true;
}
static_assert(IsSorted(), "codes are distinct, and the last is the largest");

// Every code below this has its slot in kRowOf; the table's codes all do.
constexpr int32_t kCodeLimit = 1000;

// The row index of each code, -1 for none: a flood's every message looks its row up.
struct RowIndex {
    int8_t of[kCodeLimit];
};
constexpr RowIndex MakeRowIndex() {
    RowIndex index{};
    for (int32_t code = 0; code < kCodeLimit; ++code) index.of[code] = -1;
    for (size_t i = 0; i < std::size(kMessageTable); ++i) {
        index.of[kMessageTable[i].code] = static_cast<int8_t>(i);
    }
    return index;
}
constexpr RowIndex kRowOf = MakeRowIndex();
static_assert(std::size(kMessageTable) <= 127, "row indices are int8_t");
static_assert(kMessageTable[std::size(kMessageTable) - 1].code < kCodeLimit,
              "every code has its slot in the row index");

const MessageRow *FindRow(int32_t code) {
    if (code < 0 || code >= kCodeLimit || kRowOf.of[code] < 0) return nullptr;
    return &kMessageTable[kRowOf.of[code]];
}

int32_t Resolve(Value value, const EngineMessage &message) {
    switch (value.kind) {
        case Value::kA1:
            return message.param1;
        case Value::kA2:
            return message.param2;
        default:
            return value.constant;
    }
}

void LogRow(const MessageRow &row, const EngineMessage &message) {
    if (row.logFormat == nullptr) return;
    switch (row.logArgs) {
        case LogArgs::kA1:
            LOGI(row.logFormat, message.param1);
            break;
        case LogArgs::kA1A2:
            LOGI(row.logFormat, message.param1, message.param2);
            break;
        default:
            LOGI("%s", row.logFormat);
            break;
    }
}

EventText BuildText(Text kind, const EngineMessage &message) {
    const char *obj = static_cast<const char *>(message.obj);
    switch (kind) {
        case Text::kSei:
            return CleanSeiText(obj, message.param2);
        case Text::kCopy:
            return CopyText(obj);
        case Text::kUtf8:
            return ReencodeUtf8(obj);
        default:
            return nullptr;
    }
}

// Written with release and read with acquire so that a poster's own set-up, done before it is
// installed, is seen by every loop that calls it; the same for the end slot.
std::atomic<MessageLoopCallback> messageLoopCallback{nullptr};
std::atomic<MessageBatchCallback> messageBatchCallback{nullptr};
std::atomic<LoopEndCallback> loopEndCallback{nullptr};

// The event is only queued by the poster; with no poster yet it is dropped.
void Post(uint64_t serial, void *weak, const MessageRow &row, const EngineMessage &message) {
    EventText text = BuildText(row.text, message);
    MessageLoopCallback poster = load_message_loop_callback();
    if (poster == nullptr) return;
    poster(serial, weak, row.what, Resolve(row.param1, message), Resolve(row.param2, message),
           text.release());
}

void Dispatch(uint64_t serial, void *weak, const EngineMessage &message) {
    const MessageRow *row = FindRow(message.what);
    if (row == nullptr) {
        LOGI("unknown KVP_MSG_xxx(%d)\n", message.what);
        return;
    }
    LogRow(*row, message);
    if (row->posts) Post(serial, weak, *row, message);
}

// The loop of mp has posted its last event: its serial goes, and the end slot is told.
void EndLoop(KavoriCloudMediaPlayer *mp) {
    // Before the loop lets go of mp: its address may be reused by the next player.
    uint64_t ended = forget_player_serial(mp);
    LoopEndCallback onEnd = loopEndCallback.load(std::memory_order_acquire);
    if (ended != 0 && onEnd != nullptr) onEnd(ended);
}

// A batch's most messages: enough that a flood pays the hand-over's lock and wake-up once per
// many events, few enough that the first of them does not wait long behind the last.
constexpr int kBatchMessages = 64;

struct Batch {
    KavoriCloudMediaPlayer *mp;
    uint64_t serial;
    void *weak;
    EngineMessage *message;  // taken already when the batch starts
    int got;                 // the last take's result
};

// Posts the batch's message, then up to kBatchMessages in all of what the engine has queued behind
// it; never waits.
void PostTaken(void *arg) {
    Batch &batch = *static_cast<Batch *>(arg);
    for (int taken = 1; batch.got > 0; ++taken) {
        Dispatch(batch.serial, batch.weak, *batch.message);
        msg_free_res(batch.message);
        batch.got = taken < kBatchMessages ? kvmp_get_msg(batch.mp, batch.message, 0) : 0;
    }
}

// Posts message and what is queued behind it as one batch, inside the batch slot when it is set.
// Gives 0 when the loop should wait for the next message, below 0 when the engine has ended.
int PostBatch(KavoriCloudMediaPlayer *mp, uint64_t serial, void *weak, EngineMessage &message) {
    Batch batch{mp, serial, weak, &message, 1};
    MessageBatchCallback run = messageBatchCallback.load(std::memory_order_acquire);
    if (run != nullptr) {
        run(PostTaken, &batch);
    } else {
        PostTaken(&batch);
    }
    return batch.got;
}

void RunLoop(KavoriCloudMediaPlayer *mp) {
    LOGI("napi_proxy-->message_loop_n");
    void *weak = kvmp_get_weak_thiz(mp);
    // Taken before the first message: made here when the creator has not made it yet, so no event
    // of the player goes out without it.
    const uint64_t serial = player_serial_of(mp);
    EngineMessage message{};
    // Blocks only while nothing is queued; a batch's events are all handed over before the loop
    // waits again or ends.
    while (kvmp_get_msg(mp, &message, 1) > 0) {
        if (PostBatch(mp, serial, weak, message) < 0) break;
    }
    EndLoop(mp);
}

}  // namespace

MessageLoopCallback load_message_loop_callback() {
    return messageLoopCallback.load(std::memory_order_acquire);
}

void store_message_loop_callback(MessageLoopCallback callback) {
    messageLoopCallback.store(callback, std::memory_order_release);
}

void store_message_batch_callback(MessageBatchCallback callback) {
    messageBatchCallback.store(callback, std::memory_order_release);
}

void store_loop_end_callback(LoopEndCallback callback) {
    loopEndCallback.store(callback, std::memory_order_release);
}

void KavoriCloudPlayerNapiProxy::message_loop_callback(MessageLoopCallback callback) {
    store_message_loop_callback(callback);
}

int message_loop(void *arg) {
    LOGI("napi_proxy-->message_loop");
    auto *mp = static_cast<KavoriCloudMediaPlayer *>(arg);
    RunLoop(mp);
    kvmp_dec_ref_p(&mp);
    return 0;
}
