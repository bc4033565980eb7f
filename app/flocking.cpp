#include "app/flocking.h"

#include "app/flight.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr double PI = std::numbers::pi;
constexpr double FAR_RADII = 3;          // beyond this a new centre moves the flock at once
constexpr std::size_t LAYER_BIRDS = 30;  // a start puts a layer for each so many birds
constexpr std::size_t BAND_LAYERS = 5;   // layers the altitude band holds

// Steering weights, per tick, tuned by the measures of bench/flock_measure
// and of the seeded flights in tests/app/flocking_test.cpp.
constexpr double PUSH_REACH = 1.8;       // separations: the push starts this far out
constexpr double PUSH_WEIGHT = 0.9;      // cruising speeds, per neighbour at contact
constexpr double ALIGN_WEIGHT = 0.3;     // of the difference to the neighbours' mean velocity
constexpr double COHERE_WEIGHT = 0.01;   // of the offset to the neighbours' mean position
constexpr double FOLLOW_WEIGHT = 0.12;   // of the difference to the leader's velocity
constexpr double LEAD_PULL = 0.25;       // cruising speeds towards the leader, a radius beyond the flock
constexpr double BOUNDARY_START = 0.55;  // radii: the boundary's push starts here
constexpr double BOUNDARY_WEIGHT = 1.0;  // cruising speeds at the radius, growing with the square beyond
constexpr double BAND_WEIGHT = 0.1;      // of the distance outside the altitude band
constexpr double CLIMB_DAMPING = 0.15;   // of the vertical speed
constexpr double WANDER_KEEP = 0.9;      // the leader's wandering turn keeps this much a tick
constexpr double HOMING = 0.3;           // of the leader's bearing error, per orbit beyond half of it
constexpr double LEADER_TURN = 0.6;      // of a bird's turn bound: the flock can follow

double Uniform(const FlockRandom& random) {
    return static_cast<double>(random()) / 4294967296.0 * 2 - 1;
}

// Angle across the ground, from north towards west, as ToPolar measures it.
double Bearing(double west, double north) {
    return std::atan2(west, north);
}

double Wrapped(double angle) {
    return std::remainder(angle, 2 * PI);
}

Vec3 Along(double heading, double speed) {
    return {std::sin(heading) * speed, 0, std::cos(heading) * speed};
}

void MoveLeader(FlockLeader& leader, const FlockShape& shape, Vec3 centre, const FlockRandom& random) {
    const double most = shape.maxTurn * LEADER_TURN;
    leader.turn = WANDER_KEEP * leader.turn + (1 - WANDER_KEEP) * Uniform(random) * shape.leaderWander;
    double turn = leader.turn;
    // Home in from half the orbit on, harder the farther out, so that the
    // leader turns back before it leaves the orbit.
    const Vec3 home = centre - leader.position;
    const double out = GroundLength(home) / shape.leaderOrbit - 0.5;
    if (out > 0) {
        turn += Wrapped(Bearing(home.x, home.z) - leader.heading) * HOMING * out;
    }
    leader.heading = Wrapped(leader.heading + std::clamp(turn, -most, most));
    leader.position += Along(leader.heading, shape.cruise);
    leader.position.y = centre.y;
}

// The velocity a bird wants, before its bounds.
Vec3 Steering(const FlockState& flock, const FlockShape& shape, std::size_t i, Vec3 leaderVelocity) {
    const Boid& self = flock.boids[i];
    const double reach = shape.separation * PUSH_REACH;
    Vec3 push;
    Vec3 velocities;
    Vec3 offsets;
    int inView = 0;
    const double reachSquared = reach * reach;
    flock.grid.ForEachNear(i, shape.view, [&](std::size_t j, Vec3 offset) {
        ++inView;
        velocities += flock.boids[j].velocity;
        offsets += offset;
        const double squared = offset.x * offset.x + offset.y * offset.y + offset.z * offset.z;
        if (squared >= reachSquared) {
            return;
        }
        // Birds on one spot part along a direction set by their order.
        const double distance = std::sqrt(squared);
        const Vec3 away = distance > 0 ? offset * (-1 / distance) : Vec3{j < i ? 1.0 : -1.0, 0, 0};
        push += away * ((reach - distance) / reach);
    });
    Vec3 steer = push * (PUSH_WEIGHT * shape.cruise);
    if (inView > 0) {
        steer += (velocities * (1.0 / inView) - self.velocity) * ALIGN_WEIGHT;
        steer += offsets * (COHERE_WEIGHT / inView);
    }
    steer += (leaderVelocity - self.velocity) * FOLLOW_WEIGHT;
    Vec3 toLeader = flock.leader.position - self.position;
    toLeader.y = 0;
    if (const double distance = GroundLength(toLeader); distance > shape.flockReach) {
        const double beyond = std::min((distance - shape.flockReach) / shape.radius, 1.0);
        steer += toLeader * (LEAD_PULL * shape.cruise * beyond / distance);
    }
    Vec3 out = self.position - flock.centre;
    out.y = 0;
    const double inner = shape.radius * BOUNDARY_START;
    if (const double distance = GroundLength(out); distance > inner) {
        const double depth = (distance - inner) / (shape.radius - inner);
        steer += out * (-BOUNDARY_WEIGHT * shape.cruise * std::min(depth * depth, 4.0) / distance);
    }
    const double height = self.position.y - flock.centre.y;
    if (std::abs(height) > shape.band) {
        steer.y -= (height - std::copysign(shape.band, height)) * BAND_WEIGHT;
    }
    steer.y -= self.velocity.y * CLIMB_DAMPING;
    return self.velocity + steer;
}

// The wanted velocity within the bounds: ground speed between the least and
// the most, a turn of at most maxTurn from the present heading, a bounded
// climb.
Vec3 Bounded(Vec3 wanted, Vec3 present, const FlockShape& shape) {
    double heading = Bearing(wanted.x, wanted.z);
    if (GroundLength(present) > 0) {
        const double now = Bearing(present.x, present.z);
        const double turn = GroundLength(wanted) > 0 ? Wrapped(heading - now) : 0;
        heading = now + std::clamp(turn, -shape.maxTurn, shape.maxTurn);
    }
    const double speed = std::clamp(GroundLength(wanted), shape.minSpeed, shape.maxSpeed);
    Vec3 velocity = Along(heading, speed);
    velocity.y = std::clamp(wanted.y, -shape.maxClimb, shape.maxClimb);
    return velocity;
}

}  // namespace

FlockShape::FlockShape(const FlockParameters& p, std::size_t count)
    : radius(p.radius),
      separation(p.separation),
      view(2.5 * p.separation),
      cruise(p.speed),
      minSpeed(0.6 * p.speed),
      maxSpeed(1.4 * p.speed),
      maxClimb(0.25 * p.speed),
      maxTurn(20 * PI / 180),
      band(2.0 * p.separation),
      leaderOrbit(0.45 * p.radius),
      leaderWander(40 * PI / 180),
      flockReach(0.5 * p.separation * std::sqrt(static_cast<double>(count))) {}

void FlockStart(FlockState& flock, const FlockParameters& parameters, Vec3 centre, std::size_t count,
                const FlockRandom& random) {
    const FlockShape shape(parameters, count);
    flock.centre = centre;
    flock.leader = FlockLeader{centre, (Uniform(random) + 1) * PI, 0};
    const Vec3 velocity = Along(flock.leader.heading, shape.cruise);
    // Layers across the altitude band, each a sunflower disc: point k at
    // radius step * sqrt(k) and the golden angle from the one before lies
    // about 1.9 steps from its neighbours.
    const double step = shape.separation * PUSH_REACH / 1.9;
    const double golden = PI * (3 - std::sqrt(5.0));
    const std::size_t layers = std::min<std::size_t>(1 + count / LAYER_BIRDS, BAND_LAYERS);
    flock.boids.assign(count, Boid{});
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t layer = k % layers;
        const double index = static_cast<double>(k / layers);
        Vec3 place = Along(golden * index, step * std::sqrt(index + 0.5));
        place.y = (static_cast<double>(layer) - static_cast<double>(layers - 1) / 2) * shape.separation;
        flock.boids[k] = Boid{centre + place, velocity};
    }
}

void FlockSteer(FlockState& flock, const FlockParameters& parameters, const FlockRandom& random) {
    const FlockShape shape(parameters, flock.boids.size());
    MoveLeader(flock.leader, shape, flock.centre, random);
    const Vec3 leaderVelocity = Along(flock.leader.heading, shape.cruise);
    flock.points.resize(flock.boids.size());
    std::transform(flock.boids.begin(), flock.boids.end(), flock.points.begin(),
                   [](const Boid& boid) { return boid.position; });
    flock.grid.Build(flock.points, shape.view);
    std::vector<Vec3> velocities(flock.boids.size());
    for (std::size_t i = 0; i < flock.boids.size(); ++i) {
        velocities[i] = Bounded(Steering(flock, shape, i, leaderVelocity), flock.boids[i].velocity, shape);
    }
    for (std::size_t i = 0; i < flock.boids.size(); ++i) {
        flock.boids[i].velocity = velocities[i];
        flock.boids[i].position += velocities[i];
    }
}

bool FlockMoveCentre(FlockState& flock, const FlockParameters& parameters, Vec3 centre) {
    const Vec3 shift = centre - FlockMean(flock);
    flock.centre = centre;
    if (Length(shift) <= FAR_RADII * parameters.radius) {
        return false;
    }
    for (Boid& boid : flock.boids) {
        boid.position += shift;
    }
    flock.leader.position += shift;
    return true;
}

Vec3 FlockMean(const FlockState& flock) {
    if (flock.boids.empty()) {
        return flock.centre;
    }
    Vec3 sum;
    for (const Boid& boid : flock.boids) {
        sum += boid.position;
    }
    return sum * (1.0 / static_cast<double>(flock.boids.size()));
}

int FlockYaw(Vec3 velocity) {
    return HeadingYaw(velocity.z, velocity.x);
}
