// Event texts from arbitrary payloads: the results must stay printable ASCII (SEI) or well-formed
// UTF-8 that round-trips unchanged (re-encoding).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "util/event_text.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckSei(const uint8_t *data, size_t size) {
    int32_t length = size > 0 ? static_cast<int32_t>(data[0]) - 8 : 0;  // also negative
    if (length > static_cast<int32_t>(size)) length = static_cast<int32_t>(size);
    EventText text = CleanSeiText(data, length);
    Check(text != nullptr);
    size_t n = std::strlen(text.get());
    Check(n <= static_cast<size_t>(length > 0 ? length : 0));
    for (size_t i = 0; i < n; ++i) {
        Check(text.get()[i] >= 32 && text.get()[i] <= 126);
        if (i > 0 && text.get()[i] == ' ' && text.get()[i - 1] == ' ') {
            // Breaks fold into one space: a second one needs a space in the payload.
            Check(std::memchr(data, ' ', size) != nullptr);
        }
    }
}

void CheckUtf8(const uint8_t *data, size_t size) {
    std::string input(reinterpret_cast<const char *>(data), size);
    EventText once = ReencodeUtf8(input.c_str());
    Check(once != nullptr);
    EventText twice = ReencodeUtf8(once.get());
    Check(twice != nullptr && std::strcmp(once.get(), twice.get()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CheckSei(data, size);
    CheckUtf8(data, size);
    return 0;
}
