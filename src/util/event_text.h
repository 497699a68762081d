// Texts carried by engine events: each is a fresh malloc'ed, NUL-terminated array that the
// event poster takes over and releases with free(). Pure functions, safe on any thread.
#ifndef KAVORI_UTIL_EVENT_TEXT_H
#define KAVORI_UTIL_EVENT_TEXT_H

#include <cstdint>
#include <cstdlib>
#include <memory>

struct FreeDeleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
using EventText = std::unique_ptr<char, FreeDeleter>;

// SEI payload of `length` bytes as one printable ASCII line: reading stops at a NUL, CR, LF and
// CRLF become one space (none right after a space), other bytes outside 32..126 are dropped.
// A null payload or a negative length gives the empty text. Null only when memory runs out.
EventText CleanSeiText(const void *payload, int32_t length);

// The text up to its NUL, re-encoded as well-formed UTF-8. Each maximal subpart of an ill-formed
// sequence (Unicode's recommended practice) becomes one U+FFFD, so well-formed text is unchanged.
// Null for a null text or when memory runs out.
EventText ReencodeUtf8(const char *text);

// Copy of the text up to its NUL; null for a null text or when memory runs out.
EventText CopyText(const char *text);

#endif
