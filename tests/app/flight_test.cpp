#include "app/flight.h"

#include <gtest/gtest.h>

namespace {

TEST(Flight, StepsKeepTheSignOfTheDraw) {
    EXPECT_EQ(HopStep(static_cast<std::uint32_t>(-1367)), -167);
    EXPECT_EQ(HopStep(1367), 167);
    EXPECT_EQ(HopStep(0), 0);
    EXPECT_EQ(HopStep(199), 199);
    EXPECT_EQ(HopStep(200), 0);
    EXPECT_EQ(HopStep(0x80000000u), -48);
    EXPECT_EQ(HopStep(0xFFFFFFFFu), -1);
    EXPECT_EQ(HopStep(0x7FFFFFFFu), 47);
}

TEST(Flight, HeadingsGrowFromNorthTowardsWest) {
    const struct {
        int dz, dx, yaw;
    } cases[] = {
        {0, 0, 0},         {5, 0, 3600},      {-5, 0, 1800},      {0, 199, 900},
        {0, -199, 2700},   {100, 100, 450},   {100, -100, 3150},  {-100, 100, 1350},
        {-100, -100, 2250}, {199, 1, 2},      {-199, -199, 2250},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HopYaw(c.dz, c.dx), c.yaw) << "dz=" << c.dz << " dx=" << c.dx;
    }
}

}  // namespace
