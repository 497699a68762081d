// Text-to-value conversions of JS arguments. Pure, so they live apart from the Node-API code.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <limits>

#include "napi/napi_util.h"

namespace {

// atol's reading, saturated at the limits of T instead of overflowing.
template <typename T>
T ParseSaturated(const std::string &text) {
    errno = 0;
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > std::numeric_limits<T>::max()) return std::numeric_limits<T>::max();
    if (value < std::numeric_limits<T>::min()) return std::numeric_limits<T>::min();
    return static_cast<T>(value);
}

}  // namespace

int NapiUtil::StringToInt(std::string value) {
    return ParseSaturated<int>(value);
}

long NapiUtil::StringToLong(std::string value) {
    return ParseSaturated<long>(value);
}

float NapiUtil::StringToFloat(std::string value) {
    return std::strtof(value.c_str(), nullptr);
}

bool NapiUtil::StringToBool(std::string value) {
    return value == "true";
}
