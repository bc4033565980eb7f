// The flock flight as logic: steering, its bounds, a whole seeded flight
// judged by the measures a watcher would take, and the neighbour grid.
#include "app/flocking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace {

constexpr double PI = std::numbers::pi;
const FlockParameters PARAMETERS;  // the defaults
const Vec3 CENTRE{1000, 5000, -2000};

// A draw in the middle of the range: the leader does not wander.
std::uint32_t Still() {
    return 0x80000000u;
}

FlockRandom Seeded(std::mt19937& generator) {
    return [&generator] { return static_cast<std::uint32_t>(generator()); };
}

double TurnDegrees(Vec3 before, Vec3 after) {
    const double turn = std::remainder(std::atan2(after.x, after.z) - std::atan2(before.x, before.z), 2 * PI);
    return std::abs(turn) * 180 / PI;
}

Vec3 North(double speed) {
    return {0, 0, speed};
}

// A flock of the given birds, the leader parked at the centre heading north.
FlockState Flock(std::vector<Boid> boids) {
    FlockState flock;
    flock.centre = CENTRE;
    flock.leader = FlockLeader{CENTRE, 0, 0};
    flock.boids = std::move(boids);
    return flock;
}

struct SteeringCase {
    const char* name;
    std::vector<Boid> boids;
    int ticks;
    std::function<void(const FlockState& before, const FlockState& after)> check;
};

void PrintTo(const SteeringCase& c, std::ostream* out) { *out << c.name; }

class Steering : public ::testing::TestWithParam<SteeringCase> {};

TEST_P(Steering, MovesTheBirdsAsAFlockWould) {
    const SteeringCase& c = GetParam();
    const FlockState before = Flock(c.boids);
    FlockState after = before;
    for (int tick = 0; tick < c.ticks; ++tick) {
        FlockSteer(after, PARAMETERS, Still);
    }
    c.check(before, after);
}

const FlockShape SHAPE(PARAMETERS, 1);

INSTANTIATE_TEST_SUITE_P(
    Cases, Steering,
    ::testing::Values(
        SteeringCase{"TwoBirdsTooCloseSeparate",
                     {{CENTRE + Vec3{-25, 0, 0}, North(180)}, {CENTRE + Vec3{25, 0, 0}, North(180)}},
                     3,
                     [](const FlockState&, const FlockState& after) {
                         EXPECT_GT(Length(after.boids[1].position - after.boids[0].position), 150);
                     }},
        SteeringCase{"BirdsOnOneSpotSeparate",
                     {{CENTRE, North(180)}, {CENTRE, North(180)}},
                     3,
                     [](const FlockState&, const FlockState& after) {
                         EXPECT_GT(Length(after.boids[1].position - after.boids[0].position), 100);
                     }},
        SteeringCase{"ABirdOutsideTheRadiusTurnsBack",
                     {{CENTRE + Vec3{0, 0, 2100}, North(250)}},
                     12,
                     [](const FlockState&, const FlockState& after) {
                         EXPECT_LT(after.boids[0].velocity.z, 0) << "still flying out";
                         EXPECT_LT(GroundLength(after.boids[0].position - CENTRE), 2000 + 2 * SHAPE.maxSpeed);
                     }},
        SteeringCase{"ALoneBirdIsPulledTowardsTheLeader",
                     {{CENTRE + Vec3{1500, 0, 0}, North(180)}},
                     1,
                     [](const FlockState& before, const FlockState& after) {
                         // The leader is to the east (x falls eastwards).
                         EXPECT_LT(after.boids[0].velocity.x, before.boids[0].velocity.x);
                     }},
        SteeringCase{"SpeedHasACeiling",
                     {{CENTRE, North(5000)}},
                     1,
                     [](const FlockState&, const FlockState& after) {
                         EXPECT_LE(GroundLength(after.boids[0].velocity), SHAPE.maxSpeed + 1e-9);
                     }},
        SteeringCase{"SpeedHasAFloor",
                     {{CENTRE, North(1)}},
                     1,
                     [](const FlockState&, const FlockState& after) {
                         EXPECT_GE(GroundLength(after.boids[0].velocity), SHAPE.minSpeed - 1e-9);
                     }},
        SteeringCase{"ATurnHasABound",
                     // Far out and flying away: everything asks for a U-turn.
                     {{CENTRE + Vec3{0, 0, 3000}, North(180)}},
                     1,
                     [](const FlockState& before, const FlockState& after) {
                         EXPECT_LE(TurnDegrees(before.boids[0].velocity, after.boids[0].velocity), 20 + 1e-6);
                         EXPECT_GT(TurnDegrees(before.boids[0].velocity, after.boids[0].velocity), 1);
                     }},
        SteeringCase{"AHighBirdComesDownIntoTheBand",
                     {{CENTRE + Vec3{0, 1000, 0}, North(180)}},
                     40,
                     [](const FlockState&, const FlockState& after) {
                         EXPECT_LT(std::abs(after.boids[0].position.y - CENTRE.y), SHAPE.band + SHAPE.maxClimb);
                     }},
        SteeringCase{"ALowBirdClimbsNoFasterThanItsBound",
                     {{CENTRE + Vec3{0, -1000, 0}, North(180)}},
                     1,
                     [](const FlockState&, const FlockState& after) {
                         EXPECT_GT(after.boids[0].velocity.y, 0);
                         EXPECT_LE(after.boids[0].velocity.y, SHAPE.maxClimb + 1e-9);
                     }}),
    [](const ::testing::TestParamInfo<SteeringCase>& info) { return std::string(info.param.name); });

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(std::lround(fraction * static_cast<double>(values.size() - 1)))];
}

// What a watcher of the world sees, tick by tick, as the program rounds
// the places it sends.
struct Watched {
    std::vector<double> polarization, turns, steps, nearest;
    int outside = 0;
};

Watched FlyAndWatch(std::size_t birds, int ticks, int warmUp, std::mt19937& generator) {
    const FlockRandom random = Seeded(generator);
    FlockState flock;
    FlockStart(flock, PARAMETERS, CENTRE, birds, random);
    const FlockShape shape(PARAMETERS, birds);
    std::vector<Vec3> lastStep(birds);
    Watched watched;
    for (int tick = 0; tick < ticks; ++tick) {
        std::vector<Vec3> before(birds);
        for (std::size_t i = 0; i < birds; ++i) {
            before[i] = flock.boids[i].position;
        }
        FlockSteer(flock, PARAMETERS, random);
        Vec3 headings;
        for (std::size_t i = 0; i < birds; ++i) {
            Vec3& p = flock.boids[i].position;
            p = {std::round(p.x), std::round(p.y), std::round(p.z)};
            const Vec3 step = p - before[i];
            if (tick >= warmUp) {
                watched.steps.push_back(Length(step));
                watched.turns.push_back(TurnDegrees(lastStep[i], step));
                headings += step * (1 / GroundLength(step));
                double nearest = 1e300;
                for (std::size_t j = 0; j < birds; ++j) {
                    if (j != i) {
                        nearest = std::min(nearest, Length(flock.boids[j].position - p));
                    }
                }
                watched.nearest.push_back(nearest);
                Vec3 out = p - CENTRE;
                out.y = 0;
                watched.outside += GroundLength(out) > PARAMETERS.radius + shape.maxSpeed;
            }
            lastStep[i] = step;
        }
        if (tick >= warmUp) {
            watched.polarization.push_back(GroundLength(headings) / static_cast<double>(birds));
        }
    }
    return watched;
}

TEST(FlockFlight, FiftySeededBirdsFlyAsAFlock) {
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        std::mt19937 generator(seed);
        const Watched w = FlyAndWatch(50, 600, 60, generator);
        EXPECT_GE(Percentile(w.polarization, 0.5), 0.8);
        EXPECT_LE(Percentile(w.turns, 0.95), 45);
        EXPECT_LE(Percentile(w.steps, 1), 3 * Percentile(w.steps, 0.5));
        EXPECT_GE(Percentile(w.nearest, 0.05), PARAMETERS.separation);
        EXPECT_EQ(w.outside, 0);
    }
}

TEST(FlockFlight, TheSameDrawsFlyTheSameFlight) {
    std::mt19937 first(7);
    std::mt19937 second(7);
    const Watched a = FlyAndWatch(20, 100, 0, first);
    const Watched b = FlyAndWatch(20, 100, 0, second);
    EXPECT_EQ(a.steps, b.steps);
    EXPECT_EQ(a.turns, b.turns);
}

TEST(FlockFlight, AStartSpreadsTheBirdsApartAllFlyingOneWay) {
    std::mt19937 generator(3);
    FlockState flock;
    FlockStart(flock, PARAMETERS, CENTRE, 200, Seeded(generator));
    ASSERT_EQ(flock.boids.size(), 200u);
    for (std::size_t i = 0; i < flock.boids.size(); ++i) {
        EXPECT_EQ(flock.boids[i].velocity.x, flock.boids[0].velocity.x);
        EXPECT_EQ(flock.boids[i].velocity.z, flock.boids[0].velocity.z);
        for (std::size_t j = 0; j < i; ++j) {
            ASSERT_GE(Length(flock.boids[i].position - flock.boids[j].position), PARAMETERS.separation) << i << " " << j;
        }
        Vec3 out = flock.boids[i].position - CENTRE;
        out.y = 0;
        EXPECT_LT(GroundLength(out), PARAMETERS.radius);
    }
}

TEST(FlockFlight, ANewCentreNearIsFlownToAndOneFarMovesTheFlockWhole) {
    std::mt19937 generator(5);
    FlockState flock;
    FlockStart(flock, PARAMETERS, CENTRE, 10, Seeded(generator));
    const FlockState before = flock;

    EXPECT_FALSE(FlockMoveCentre(flock, PARAMETERS, CENTRE + Vec3{0, 0, 3000}));
    EXPECT_EQ(flock.centre.z, CENTRE.z + 3000);
    EXPECT_EQ(flock.boids[4].position.z, before.boids[4].position.z);

    const Vec3 far = CENTRE + Vec3{-50000, 100, 0};
    EXPECT_TRUE(FlockMoveCentre(flock, PARAMETERS, far));
    EXPECT_NEAR(Length(FlockMean(flock) - far), 0, 1e-6);
    for (std::size_t i = 1; i < flock.boids.size(); ++i) {
        const Vec3 kept = (flock.boids[i].position - flock.boids[0].position) -
                          (before.boids[i].position - before.boids[0].position);
        EXPECT_NEAR(Length(kept), 0, 1e-6);
    }
}

// Every pair within the radius, by looking at all of them.
std::set<std::pair<std::size_t, std::size_t>> BruteForce(const std::vector<Vec3>& points, double radius) {
    std::set<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t i = 0; i < points.size(); ++i) {
        for (std::size_t j = 0; j < points.size(); ++j) {
            const Vec3 d = points[j] - points[i];
            if (i != j && d.x * d.x + d.y * d.y + d.z * d.z <= radius * radius) {
                pairs.insert({i, j});
            }
        }
    }
    return pairs;
}

TEST(NeighbourGrid, FindsTheSameNeighboursAsLookingAtEveryPair) {
    const struct {
        const char* name;
        double spread;  // points uniform in a cube this wide
        Vec3 offset;
        double cell, radius;
    } cases[] = {
        {"sparse", 20000, {0, 0, 0}, 600, 600},
        {"dense", 1500, {0, 0, 0}, 600, 600},
        {"radius below the cell", 3000, {0, 0, 0}, 600, 250},
        {"negative and far out", 3000, {-2.0e9, -1.0e6, 2.0e9}, 600, 600},
        {"small cells", 400, {0, 0, 0}, 7, 7},
    };
    std::mt19937 generator(11);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::uniform_real_distribution<double> coordinate(0, c.spread);
        std::vector<Vec3> points(400);
        for (Vec3& p : points) {
            p = c.offset + Vec3{coordinate(generator), coordinate(generator), coordinate(generator)};
        }
        points[7] = points[3];  // two on one spot
        NeighbourGrid grid;
        grid.Build(points, c.cell);
        std::set<std::pair<std::size_t, std::size_t>> found;
        for (std::size_t i = 0; i < points.size(); ++i) {
            grid.ForEachNear(i, c.radius, [&](std::size_t j, Vec3 offset) {
                EXPECT_TRUE(found.insert({i, j}).second) << "twice: " << i << " " << j;
                EXPECT_EQ(Length(offset - (points[j] - points[i])), 0);
            });
        }
        EXPECT_EQ(found, BruteForce(points, c.radius));
    }
}

}  // namespace
