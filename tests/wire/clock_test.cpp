#include "wire_test_support.h"

#include <chrono>

namespace {

TEST(Ticks, ElapsedAndDeadlinesUseTheSignedDifference) {
    EXPECT_EQ(tick_elapsed(1500, 1000), 500u);
    EXPECT_EQ(tick_elapsed(1000, 1000), 0u);
    // A stamp taken after `now` was read is no time at all, not 49 days.
    EXPECT_EQ(tick_elapsed(1000, 1001), 0u);
    EXPECT_EQ(tick_elapsed(0, 0xFFFFFFFFu), 1u);
    EXPECT_EQ(tick_elapsed(100, 0xFFFFFF00u), 356u);

    const uint32_t deadline = 0xFFFFFFF0u + 0x20u;  // wraps to 0x10
    EXPECT_FALSE(tick_reached(0xFFFFFFF0u, deadline));
    EXPECT_FALSE(tick_reached(0x0Fu, deadline));
    EXPECT_TRUE(tick_reached(0x10u, deadline));
    EXPECT_TRUE(tick_reached(0x11u, deadline));
    EXPECT_FALSE(tick_reached(5, 6));
    EXPECT_TRUE(tick_reached(6, 6));
}

TEST(Ticks, TickCountsFromTheBaseThroughAReplacedClock) {
    FakeClock clock(0xFFFFFF00u);
    tick_start();
    EXPECT_EQ(tick_now(), 0u);
    clock.advance(0x180);  // the raw clock wraps past 2^32
    EXPECT_EQ(tick_now(), 0x180u);
}

TEST(Ticks, NullSourceRestoresTheSteadyClock) {
    {
        FakeClock clock(42);
        EXPECT_EQ(clock_raw(), 42u);
    }
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    const auto steady = static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
    EXPECT_LE(tick_elapsed(clock_raw(), steady), 1000u);
}

}  // namespace
