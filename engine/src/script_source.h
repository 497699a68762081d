// "script:" sources: a list of messages replayed at prepare instead of media.
#ifndef KAVORI_ENGINE_SCRIPT_SOURCE_H
#define KAVORI_ENGINE_SCRIPT_SOURCE_H

#include <cstdint>
#include <string>
#include <vector>

#include "message_queue.h"

namespace kavori {

struct ScriptItem {
    int32_t what = 0;
    int32_t param1 = 0;
    int32_t param2 = 0;
    bool has_payload = false;
    std::string payload;  // the bytes before the NUL that the obj gets
    uint64_t count = 1;
};

// Scripts longer than this many messages are refused rather than exhausting
// memory.
constexpr uint64_t kMaxScriptMessages = 20000000;

bool is_script_url(const char *url);
// Parses ITEMS (the text after "script:"); false on malformed input.
bool parse_script(const std::string &items, std::vector<ScriptItem> *out);
void queue_script(const std::vector<ScriptItem> &items, MessageQueue &queue);

}  // namespace kavori

#endif
