// The event kinds and marks the module gives a meaning of its own; every other event it only
// passes on.
#ifndef KAVORI_UTIL_ENGINE_EVENTS_H
#define KAVORI_UTIL_ENGINE_EVENTS_H

#include <cstdint>

// An engine error: what the player was doing has ended, until it is prepared again.
constexpr int32_t kEngineErrorEvent = 100;
// An engine error's first number; the second is the engine's own.
constexpr int32_t kEngineErrorMark = -10000;

#endif
