// The engine message loop: one per engine player, on that player's message thread. Each engine
// message becomes at most one event tuple for the module-wide poster.
//
// Threads: runs only on engine message threads. The poster slot is read atomically per message,
// so a listener registered later is picked up at once. serialMutex guards the serial table, which
// creating JS threads fill, method calls read and ending loops empty; nothing else is called under
// it.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <new>
#include <unordered_map>

#include "kvmp.h"
#include "napi/event_bridge.h"
#include "proxy/kavori_player_proxy.h"
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
    {100, "KVP_MSG_ERROR: %d\n", LogArgs::kA1, kPost, 100, K(-10000), A1, Text::kNone},
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
static_assert(IsSorted(), "the message table is looked up by binary search");

const MessageRow *FindRow(int32_t code) {
    const MessageRow *end = std::end(kMessageTable);
    const MessageRow *row =
        std::lower_bound(std::begin(kMessageTable), end, code,
                         [](const MessageRow &r, int32_t c) { return r.code < c; });
    return (row != end && row->code == code) ? row : nullptr;
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

// The event is only queued by the poster; with no poster yet it is dropped.
void Post(void *weak, const MessageRow &row, const EngineMessage &message) {
    EventText text = BuildText(row.text, message);
    MessageLoopCallback poster = load_message_loop_callback();
    if (poster == nullptr) return;
    poster(weak, row.what, Resolve(row.param1, message), Resolve(row.param2, message),
           text.release());
}

void Dispatch(void *weak, const EngineMessage &message) {
    const MessageRow *row = FindRow(message.what);
    if (row == nullptr) {
        LOGI("unknown KVP_MSG_xxx(%d)\n", message.what);
        return;
    }
    LogRow(*row, message);
    if (row->posts) Post(weak, *row, message);
}

// Never destroyed: detached message threads may still end their loops while the process exits.
std::mutex &serialMutex = *new std::mutex;
// Players from creation until their loop ends; guarded by serialMutex. An entry goes before the
// loop drops its reference, so a player's address is never found with an older player's serial.
auto &loopSerials = *new std::unordered_map<const KavoriCloudMediaPlayer *, uint64_t>;
uint64_t lastSerial = 0;  // guarded by serialMutex

thread_local uint64_t postingSerial = 0;

uint64_t ForgetSerial(const KavoriCloudMediaPlayer *mp) {
    std::lock_guard<std::mutex> lock(serialMutex);
    auto it = loopSerials.find(mp);
    if (it == loopSerials.end()) return 0;
    uint64_t serial = it->second;
    loopSerials.erase(it);
    return serial;
}

}  // namespace

uint64_t assign_player_serial(KavoriCloudMediaPlayer *mp) noexcept {
    try {
        std::lock_guard<std::mutex> lock(serialMutex);
        uint64_t serial = lastSerial + 1;
        loopSerials[mp] = serial;
        lastSerial = serial;
        return serial;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

uint64_t player_serial(const KavoriCloudMediaPlayer *mp) {
    std::lock_guard<std::mutex> lock(serialMutex);
    auto it = loopSerials.find(mp);
    return it == loopSerials.end() ? 0 : it->second;
}

uint64_t posting_player_serial() {
    return postingSerial;
}

void message_loop_n(void *arg) {
    auto *mp = static_cast<KavoriCloudMediaPlayer *>(arg);
    LOGI("napi_proxy-->message_loop_n");
    void *weak = kvmp_get_weak_thiz(mp);
    EngineMessage message{};
    bool serialRead = false;
    while (kvmp_get_msg(mp, &message, 1) > 0) {
        // Read once, at the first message: the engine may start the loop before the creator has
        // assigned the serial, but posts nothing before the player is prepared.
        if (!serialRead) {
            postingSerial = player_serial(mp);
            serialRead = true;
        }
        Dispatch(weak, message);
        msg_free_res(&message);
    }
    postingSerial = 0;
    if (uint64_t serial = ForgetSerial(mp)) end_routes(serial);
}
