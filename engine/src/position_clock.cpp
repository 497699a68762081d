#include "position_clock.h"

#include <time.h>

#include <algorithm>

namespace kavori {

void PositionClock::publish(const Snapshot &s) {
    std::lock_guard<std::mutex> lock(writer_);
    // Release stores keep the odd count ahead of the fields; acquire loads on the reader's side
    // keep its second count read behind them. No fences: the thread sanitizer cannot see those.
    seq_.fetch_add(1, std::memory_order_relaxed);
    playing_.store(s.playing, std::memory_order_release);
    speed_.store(s.speed, std::memory_order_release);
    anchor_ms_.store(s.anchor_ms, std::memory_order_release);
    wall_ns_.store(s.wall_ns, std::memory_order_release);
    duration_ms_.store(s.duration_ms, std::memory_order_release);
    read_end_ms_.store(s.read_end_ms, std::memory_order_release);
    seq_.fetch_add(1, std::memory_order_release);
}

int PositionClock::position_ms() const {
    Snapshot s;
    uint32_t before = 0;
    do {
        before = seq_.load(std::memory_order_acquire);
        s.playing = playing_.load(std::memory_order_acquire);
        s.speed = speed_.load(std::memory_order_acquire);
        s.anchor_ms = anchor_ms_.load(std::memory_order_acquire);
        s.wall_ns = wall_ns_.load(std::memory_order_acquire);
        s.duration_ms = duration_ms_.load(std::memory_order_acquire);
        s.read_end_ms = read_end_ms_.load(std::memory_order_acquire);
    } while ((before & 1u) != 0 || before != seq_.load(std::memory_order_relaxed));

    int64_t pos = s.anchor_ms;
    if (s.playing && s.speed > 0) {
        // The kernel's tick clock is cheap and fine enough for milliseconds; it lags the fine
        // clock the anchor came from by at most a tick, so it is not let run backwards.
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
        int64_t now_ns = int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
        pos += int64_t(double(std::max<int64_t>(now_ns - s.wall_ns, 0)) * s.speed / 1000000);
        if (s.read_end_ms >= 0) pos = std::min(pos, std::max(s.read_end_ms, s.anchor_ms));
    }
    pos = std::max<int64_t>(pos, 0);
    if (s.duration_ms > 0) pos = std::min(pos, s.duration_ms);
    return int(pos);
}

}  // namespace kavori
