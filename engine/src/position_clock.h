// The playback clock as readers see it: apps poll the position far more often than playback
// changes it, so reads take no lock. Writers (the media source under its lock, the player when
// it swaps sources) publish whole snapshots; a sequence count lets readers retry a torn one.
#ifndef KAVORI_ENGINE_POSITION_CLOCK_H
#define KAVORI_ENGINE_POSITION_CLOCK_H

#include <atomic>
#include <cstdint>
#include <mutex>

namespace kavori {

class PositionClock {
  public:
    struct Snapshot {
        bool playing = false;
        double speed = 1;         // multiple of real time; 0 or less: the clock stands still
        int64_t anchor_ms = 0;    // media time at wall_ns
        int64_t wall_ns = 0;      // CLOCK_MONOTONIC
        int64_t duration_ms = 0;  // 0 when unknown
        // The end of the media read so far: the clock holds there while a read waits for data.
        // -1: no such end (the rest is read, or nothing is paced).
        int64_t read_end_ms = -1;
    };

    void publish(const Snapshot &s);
    // Media time now, clamped to [0, read end] and [0, duration]; any thread, never blocks.
    int position_ms() const;

  private:
    std::mutex writer_;  // writers are rare; it keeps two of them from interleaving
    std::atomic<uint32_t> seq_{0};
    std::atomic<bool> playing_{false};
    std::atomic<double> speed_{1};
    std::atomic<int64_t> anchor_ms_{0};
    std::atomic<int64_t> wall_ns_{0};
    std::atomic<int64_t> duration_ms_{0};
    std::atomic<int64_t> read_end_ms_{-1};
};

}  // namespace kavori

#endif
