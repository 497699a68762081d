// Relays FFmpeg's log lines, with FFmpeg's usual context prefixes, into the module log.
// FFmpeg calls the callback from any thread; the only shared state is the continuation flag.
#include "util/ffmpeg_log.h"

extern "C" {
#include <libavutil/bprint.h>
#include <libavutil/log.h>
}

#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "util/ohos_log.h"

namespace {

// Set when the last relayed piece ended its line: the next piece starts a line with prefixes.
std::atomic<int> g_print_prefix{1};

// The longest message relayed whole, its terminating NUL included.
constexpr size_t kMessageMax = 65536;

const AVClass *ClassOf(void *object) {
    return object ? *static_cast<AVClass **>(object) : nullptr;
}

void WritePrefixes(void *ptr, AVBPrint *parentPrefix, AVBPrint *contextPrefix) {
    const AVClass *avc = ClassOf(ptr);
    if (avc == nullptr) return;
    if (avc->parent_log_context_offset != 0) {
        void *parent =
            *reinterpret_cast<void **>(static_cast<char *>(ptr) + avc->parent_log_context_offset);
        const AVClass *parentClass = ClassOf(parent);
        if (parent != nullptr && parentClass != nullptr) {
            av_bprintf(parentPrefix, "[%s @ %p] ", parentClass->item_name(parent), parent);
        }
    }
    av_bprintf(contextPrefix, "[%s @ %p] ", avc->item_name(ptr), ptr);
}

// text holds the first held - 1 bytes of a message of length bytes. A cut message ends no line.
bool EndsLine(const char *text, size_t length, size_t held) {
    char last = (length != 0 && length < held) ? text[length - 1] : 0;
    return last == '\n' || last == '\r';
}

}  // namespace

void open_custom_ffmpeg_log_print(void) {
    av_log_set_level(AV_LOG_DEBUG);
    av_log_set_callback(av_log_callback);
}

void av_log_callback(void *ptr, int level, const char *fmt, va_list args) {
    (void)level;
    AVBPrint parentPrefix;
    AVBPrint contextPrefix;
    AVBPrint message;
    av_bprint_init(&parentPrefix, 0, AV_BPRINT_SIZE_AUTOMATIC);
    av_bprint_init(&contextPrefix, 0, AV_BPRINT_SIZE_AUTOMATIC);
    // Every part keeps to its inline storage: the engine exports no call that frees a print
    // buffer's heap. A message longer than that is formatted again into a buffer of our own.
    av_bprint_init(&message, 0, AV_BPRINT_SIZE_AUTOMATIC);

    // relaxed: the flag carries nothing but itself, as FFmpeg's own static does.
    if (g_print_prefix.load(std::memory_order_relaxed) && ptr != nullptr) {
        WritePrefixes(ptr, &parentPrefix, &contextPrefix);
    }
    va_list copy;
    va_copy(copy, args);
    av_vbprintf(&message, fmt, copy);
    va_end(copy);
    const char *text = message.str;
    size_t held = message.size;
    std::unique_ptr<char[]> longText;
    if (message.len >= message.size) {
        size_t size = std::min<size_t>(message.len + 1, kMessageMax);
        longText.reset(new (std::nothrow) char[size]);
        if (longText) {
            va_copy(copy, args);
            vsnprintf(longText.get(), size, fmt, copy);
            va_end(copy);
            text = longText.get();
            held = size;
        }
    }
    if (parentPrefix.len != 0 || contextPrefix.len != 0 || message.len != 0) {
        g_print_prefix.store(EndsLine(text, message.len, held) ? 1 : 0, std::memory_order_relaxed);
    }
    __ohos_log_print(0, KAVORI_LOG_TAG, "%s%s%s%s", parentPrefix.str, contextPrefix.str, "", text);
}
