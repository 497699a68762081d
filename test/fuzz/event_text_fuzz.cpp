// Event texts from arbitrary payloads against references written apart from the module's code:
// UTF-8 is judged by decoding code points, not by byte ranges, and the SEI filter is the plain
// one-pass reading of its rules, checked again by what it keeps. `make fuzz-mutants` checks that
// wrong versions get caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "util/event_text.h"

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

void Check(bool condition) {
    if (!condition) std::abort();
}

// Length of the well-formed sequence that is exactly s[0..n), decoded to a code point; 0 if the
// bytes are no single well-formed sequence.
size_t DecodesAsOne(const unsigned char *s, size_t n) {
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    size_t length = s[0] < 0x80       ? 1
                    : s[0] >> 5 == 6  ? 2
                    : s[0] >> 4 == 14 ? 3
                    : s[0] >> 3 == 30 ? 4
                                      : 0;
    if (length == 0 || length != n) return 0;
    uint32_t cp = length == 1 ? s[0] : s[0] & (0x7F >> length);
    for (size_t i = 1; i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (s[i] & 0x3F);
    }
    bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    return cp >= kSmallest[length] && cp <= 0x10FFFF && !surrogate ? length : 0;
}

// Length of the well-formed sequence starting at text[i], 0 if there is none.
size_t WellFormedAt(const std::string &text, size_t i) {
    const auto *s = reinterpret_cast<const unsigned char *>(text.data()) + i;
    size_t length = 0;
    for (size_t n = 1; n <= 4 && i + n <= text.size() && length == 0; ++n)
        length = DecodesAsOne(s, n);
    return length;
}

bool IsValidUtf8(const std::string &text) {
    for (size_t i = 0; i < text.size();) {
        size_t length = WellFormedAt(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// Whether some continuation bytes make s[0..n) one well-formed sequence (found by trying them).
bool CanComplete(const unsigned char *s, size_t n) {
    unsigned char buffer[4];
    std::memcpy(buffer, s, n);
    for (size_t total = n + 1; total <= 4; ++total) {
        for (int next = 0x80; next <= 0xBF; ++next) {
            buffer[n] = static_cast<unsigned char>(next);
            std::memset(buffer + n + 1, 0x80, total - n - 1);
            if (DecodesAsOne(buffer, total)) return true;
        }
    }
    return false;
}

// The expected re-encoding: well-formed sequences copied, each maximal subpart of an ill-formed
// one (the longest prefix that could still be completed, else one byte) as one U+FFFD.
std::string ReferenceReencode(const std::string &text, size_t &replacements) {
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    std::string out;
    replacements = 0;
    for (size_t i = 0; i < text.size();) {
        size_t length = WellFormedAt(text, i);
        if (length > 0) {
            out.append(text, i, length);
            i += length;
            continue;
        }
        size_t subpart = 1;
        while (subpart < 3 && i + subpart < text.size() && CanComplete(s + i, subpart + 1))
            ++subpart;
        out += kReplacement;
        ++replacements;
        i += subpart;
    }
    return out;
}

size_t CountReplacements(const std::string &text) {
    size_t count = 0;
    for (size_t at = text.find(kReplacement); at != std::string::npos;
         at = text.find(kReplacement, at + 3)) {
        ++count;
    }
    return count;
}

void CheckUtf8(const uint8_t *data, size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);
    input.resize(std::strlen(input.c_str()));  // the text ends at its first NUL
    EventText encoded = ReencodeUtf8(input.c_str());
    Check(encoded != nullptr);
    std::string output(encoded.get());
    Check(IsValidUtf8(output));
    if (IsValidUtf8(input)) Check(output == input);
    size_t replacements = 0;
    std::string expected = ReferenceReencode(input, replacements);
    Check(CountReplacements(output) == CountReplacements(input) + replacements);
    Check(output == expected);
}

// The SEI rules read one byte at a time: stop at NUL, a CR or LF becomes a space unless one was
// just written, printable ASCII is kept, everything else is dropped.
std::string ReferenceSei(const uint8_t *payload, int32_t length) {
    std::string out;
    for (int32_t i = 0; payload != nullptr && i < length && payload[i] != 0; ++i) {
        char c = static_cast<char>(payload[i]);
        if (c == '\r' || c == '\n') {
            if (out.empty() || out.back() != ' ') out += ' ';
        } else if (payload[i] >= 32 && payload[i] <= 126) {
            out += c;
        }
    }
    return out;
}

// A second SEI oracle that shares nothing with the reference: the text is printable ASCII and,
// spaces aside, exactly the payload's graphic bytes (33..126) before its first NUL, in order.
bool KeepsGraphicBytes(const uint8_t *payload, int32_t length, const std::string &text) {
    std::string graphic;
    for (int32_t i = 0; i < length && payload[i] != 0; ++i) {
        if (payload[i] > 32 && payload[i] < 127) graphic += static_cast<char>(payload[i]);
    }
    std::string written;
    for (char c : text) {
        if (c < 32 || c > 126) return false;
        if (c != ' ') written += c;
    }
    return written == graphic;
}

// Both SEI oracles run unless EVENT_TEXT_FUZZ_SEI names one ("reference" or "graphic"):
// fuzz-mutants shows that each alone catches a wrong SEI filter.
bool SeiOracle(const char *name) {
    static const char *only = std::getenv("EVENT_TEXT_FUZZ_SEI");
    return only == nullptr || std::strcmp(only, name) == 0;
}

void CheckSei(const uint8_t *data, size_t size) {
    int32_t length = size > 0 ? static_cast<int32_t>(data[0]) - 8 : 0;  // also negative
    if (length > static_cast<int32_t>(size)) length = static_cast<int32_t>(size);
    EventText text = CleanSeiText(data, length);
    Check(text != nullptr);
    if (SeiOracle("reference")) Check(ReferenceSei(data, length) == text.get());
    if (SeiOracle("graphic")) Check(KeepsGraphicBytes(data, length, text.get()));
    EventText none = CleanSeiText(nullptr, length);
    Check(none != nullptr && none.get()[0] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CheckSei(data, size);
    CheckUtf8(data, size);
    return 0;
}
