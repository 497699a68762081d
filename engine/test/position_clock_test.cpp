// The lock-free position read never mixes two snapshots.
#include "position_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using kavori::PositionClock;

TEST(PositionClock, StandsStillUnlessPlayingAndClampsToDuration) {
    PositionClock clock;
    EXPECT_EQ(clock.position_ms(), 0);
    clock.publish({false, 1, 1500, 0, 1000});
    EXPECT_EQ(clock.position_ms(), 1000);
    clock.publish({false, 1, -5, 0, 0});
    EXPECT_EQ(clock.position_ms(), 0);
    clock.publish({true, 0, 300, 0, 0});  // speed 0: unpaced, the anchor is the position
    EXPECT_EQ(clock.position_ms(), 300);
    clock.publish({true, 1, 200, 0, 0});  // playing since the clock's epoch: far ahead
    EXPECT_GT(clock.position_ms(), 200);
}

TEST(PositionClock, HoldsAtTheEndOfTheMediaRead) {
    PositionClock clock;
    // Playing since the clock's epoch, but only media up to 900 ms was read.
    clock.publish({true, 1, 200, 0, 0, 900});
    EXPECT_EQ(clock.position_ms(), 900);
    // A seek past the data read: the position is the target until data comes.
    clock.publish({true, 1, 1200, 0, 0, 900});
    EXPECT_EQ(clock.position_ms(), 1200);
    // The rest is read: no end but the duration.
    clock.publish({true, 1, 200, 0, 5000, -1});
    EXPECT_EQ(clock.position_ms(), 5000);
}

TEST(PositionClock, ReadersNeverSeeATornSnapshot) {
    // Either snapshot alone reads 1000 or 700; a mix of the two reads 1500.
    const PositionClock::Snapshot a{false, 1, 1500, 0, 1000};
    const PositionClock::Snapshot b{false, 1, 700, 0, 2000};
    PositionClock clock;
    clock.publish(a);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 200000; ++i) clock.publish(i % 2 ? a : b);
        done = true;
    });
    int torn = 0;
    while (!done) {
        int pos = clock.position_ms();
        if (pos != 1000 && pos != 700) ++torn;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

}  // namespace
