// Conversions between JS values and the plain values handed to the engine adapters.
#ifndef KAVORI_NAPI_NAPI_UTIL_H
#define KAVORI_NAPI_NAPI_UTIL_H

#include <napi/native_api.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

class NapiUtil {
  public:
    // Reads a JS string through a buffer of bufferSize (1..2048) bytes, cut at its first NUL;
    // anything that is not a string reads as the empty text. Outside that size the output is left
    // unchanged.
    static void JsValueToString(const napi_env &env, const napi_value &value, int bufferSize,
                                std::string &result);
    static napi_value SetNapiCallInt32(const napi_env &env, int value) {
        napi_value result = nullptr;
        napi_create_int32(env, value, &result);
        return result;
    }
    static napi_value SetNapiCallBool(napi_env env, bool value);

    // Pure; safe on any thread. Int and Long saturate; Float gives 0 without a leading number.
    static int StringToInt(std::string value);
    static long StringToLong(std::string value);
    static float StringToFloat(std::string value);
    static bool StringToBool(std::string value);
};

// Throws the last Node-API error as a JS error unless an exception is already pending.
void ThrowLastNapiError(napi_env env);

// Reports error, thrown by JS code the module called, as an uncaught exception of env. Runtimes
// before API level 12 lack the call for that; there it goes to hilog as LogUncaught writes it.
void ReportUncaught(napi_env env, napi_value error);
// One hilog error line with the error's stack (else its text), whether or not logging is on: the
// app's developer needs to see it. Leaves no exception pending.
void LogUncaught(napi_env env, napi_value error);

constexpr int kJsTextBufferSize = 2048;

// The bytes of the last word of a size-byte text (size > 0) that belong to it.
constexpr uint64_t LastWordMask(size_t size) {
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
                  "the last word's mask takes low bytes");
    size_t rest = size % 8;
    return rest == 0 ? ~uint64_t{0} : (uint64_t{1} << (8 * rest)) - 1;
}

// Whether the size bytes at text are those of words, zero-padded to whole words, lastMask being
// LastWordMask(size): a word at a time, since an id is compared on every call. text has room for
// size rounded up to whole words.
inline bool SameBytes(const char *text, const uint64_t *words, size_t size, uint64_t lastMask) {
    if (size == 0) return true;
    size_t last = (size - 1) / 8;
    for (size_t i = 0; i < last; ++i) {
        uint64_t word;
        std::memcpy(&word, text + 8 * i, 8);
        if (word != words[i]) return false;
    }
    uint64_t word;
    std::memcpy(&word, text + 8 * last, 8);  // bytes past size are masked off
    return ((word ^ words[last]) & lastMask) == 0;
}

// JsValueToString's reading into buffer (bufferSize bytes, 1..2048), compared with the wantSize
// bytes of want (words and mask as SameBytes takes them, holding no NUL; bufferSize then a
// multiple of 8) unless want is null. Gives the text's length; same tells whether the text is
// want's.
inline size_t ReadJsTextComparing(napi_env env, napi_value value, char *buffer, size_t bufferSize,
                                  const uint64_t *want, size_t wantSize, uint64_t wantLastMask,
                                  bool &same) {
    size_t length = 0;
    napi_get_value_string_utf8(env, value, buffer, bufferSize, &length);
    // The caller's id again, read whole: want holds no NUL, so bytes equal to want's are no NUL
    // either. A text cut at a NUL or at the buffer's end is left to the scan below.
    same = want != nullptr && length == wantSize && SameBytes(buffer, want, wantSize, wantLastMask);
    if (same) return wantSize;
    // A JS string may hold a NUL; the text ends there. The cap keeps the scan inside what a
    // runtime that reports the untruncated length has written (nothing for a non-string).
    size_t limit = std::min(length, bufferSize - 1);
    // Byte by byte: only a new id comes here, and ids are short.
    size_t end = 0;
    while (end < limit && buffer[end] != '\0') ++end;
    return end;
}

// JsValueToString's reading into buffer (bufferSize bytes, 1..2048); gives the text's length.
inline size_t ReadJsText(napi_env env, napi_value value, char *buffer, size_t bufferSize) {
    bool same = false;
    return ReadJsTextComparing(env, value, buffer, bufferSize, nullptr, 0, 0, same);
}

#endif
