#include "util/event_text.h"

#include <cstring>

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

EventText Allocate(size_t size) {
    return EventText(static_cast<char *>(std::malloc(size)));
}

// Length of the well-formed sequence starting at s[0] (at most n bytes), or 0 when ill-formed;
// `consumed` then is the length of its maximal subpart (at least 1), which becomes one U+FFFD.
size_t WellFormedLength(const unsigned char *s, size_t n, size_t &consumed) {
    unsigned char b = s[0];
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (b < 0x80) {
        consumed = 1;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0) low = 0xA0;   // no overlong forms
        if (b == 0xED) high = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0) low = 0x90;   // no overlong forms
        if (b == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        consumed = 1;
        return 0;
    }
    size_t i = 1;
    if (i < n && s[i] >= low && s[i] <= high) {
        for (++i; i < length && i < n && s[i] >= 0x80 && s[i] <= 0xBF; ++i) {
        }
    }
    consumed = i;
    return i == length ? length : 0;
}

// Runs over the text once; with out == null it only measures.
size_t Reencode(const unsigned char *s, size_t n, char *out) {
    size_t written = 0;
    for (size_t i = 0; i < n;) {
        size_t consumed = 0;
        size_t length = WellFormedLength(s + i, n - i, consumed);
        const char *piece = length ? reinterpret_cast<const char *>(s + i) : kReplacement;
        size_t pieceLength = length ? length : sizeof(kReplacement) - 1;
        if (out != nullptr) std::memcpy(out + written, piece, pieceLength);
        written += pieceLength;
        i += consumed;
    }
    return written;
}

}  // namespace

EventText CleanSeiText(const void *payload, int32_t length) {
    size_t n = (payload != nullptr && length > 0) ? static_cast<size_t>(length) : 0;
    EventText text = Allocate(n + 1);
    if (!text) return text;
    const auto *in = static_cast<const unsigned char *>(payload);
    char *out = text.get();
    size_t written = 0;
    for (size_t i = 0; i < n && in[i] != 0; ++i) {
        unsigned char c = in[i];
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < n && in[i + 1] == '\n') ++i;
            if (written == 0 || out[written - 1] != ' ') out[written++] = ' ';
        } else if (c >= 32 && c <= 126) {
            out[written++] = static_cast<char>(c);
        }
    }
    out[written] = '\0';
    return text;
}

EventText ReencodeUtf8(const char *text) {
    if (text == nullptr) return nullptr;
    const auto *in = reinterpret_cast<const unsigned char *>(text);
    size_t n = std::strlen(text);
    size_t size = Reencode(in, n, nullptr);
    EventText result = Allocate(size + 1);
    if (!result) return result;
    Reencode(in, n, result.get());
    result.get()[size] = '\0';
    return result;
}

EventText CopyText(const char *text) {
    if (text == nullptr) return nullptr;
    size_t size = std::strlen(text) + 1;
    EventText copy = Allocate(size);
    if (copy) std::memcpy(copy.get(), text, size);
    return copy;
}
