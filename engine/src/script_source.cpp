// Grammar: ITEM (";" ITEM)*, ITEM = what["," param1["," param2[","
// payload]]]["*" COUNT], payload = "hex:" HEX | "str:" TEXT | "null". Empty
// items are skipped.
#include "script_source.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kavori {

namespace {

bool all_digits(const std::string &s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

bool parse_int32(const std::string &s, int32_t *out) {
    if (s.empty()) {
        *out = 0;
        return true;
    }
    size_t digits = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (!all_digits(s.substr(digits))) return false;
    errno = 0;
    long long v = strtoll(s.c_str(), nullptr, 10);
    if (errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parse_payload(const std::string &s, ScriptItem *item) {
    if (s == "null") return true;
    if (s.compare(0, 4, "str:") == 0) {
        item->has_payload = true;
        item->payload = s.substr(4);
        return true;
    }
    if (s.compare(0, 4, "hex:") != 0 || s.size() % 2 != 0) return false;
    item->has_payload = true;
    for (size_t i = 4; i < s.size(); i += 2) {
        int hi = hex_value(s[i]), lo = hex_value(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        item->payload += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

bool parse_item(std::string text, ScriptItem *item) {
    size_t star = text.rfind('*');
    if (star != std::string::npos && all_digits(text.substr(star + 1))) {
        errno = 0;
        item->count = strtoull(text.c_str() + star + 1, nullptr, 10);
        if (errno != 0 || item->count > kMaxScriptMessages) return false;
        text.resize(star);
    }
    int32_t *numbers[] = {&item->what, &item->param1, &item->param2};
    size_t pos = 0;
    for (int i = 0; i < 3; i++) {
        size_t comma = text.find(',', pos);
        if (!parse_int32(text.substr(pos, comma - pos), numbers[i])) return false;
        if (comma == std::string::npos) return true;
        pos = comma + 1;
    }
    return parse_payload(text.substr(pos), item);
}

}  // namespace

bool is_script_url(const char *url) {
    return url && strncmp(url, "script:", 7) == 0;
}

bool parse_script(const std::string &items, std::vector<ScriptItem> *out) {
    uint64_t total = 0;
    size_t pos = 0;
    while (pos <= items.size()) {
        size_t end = items.find(';', pos);
        if (end == std::string::npos) end = items.size();
        if (end > pos) {
            ScriptItem item;
            if (!parse_item(items.substr(pos, end - pos), &item)) return false;
            total += item.count;
            if (total > kMaxScriptMessages) return false;
            out->push_back(std::move(item));
        }
        pos = end + 1;
    }
    return true;
}

void queue_script(const std::vector<ScriptItem> &items, MessageQueue &queue) {
    for (const ScriptItem &item : items) {
        if (!item.has_payload) {
            queue.post_repeated(item.what, item.param1, item.param2, item.count);
            continue;
        }
        for (uint64_t i = 0; i < item.count; i++) {
            char *obj = static_cast<char *>(malloc(item.payload.size() + 1));
            if (!obj) return;
            memcpy(obj, item.payload.data(), item.payload.size());
            obj[item.payload.size()] = '\0';
            queue.post(item.what, item.param1, item.param2, obj, free);
        }
    }
}

}  // namespace kavori
