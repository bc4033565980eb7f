// The flock flight: every bird keeps a velocity and, once a tick, steers by
// the birds around it (Reynolds' boids): away from those too close, with
// and towards those in view, after a virtual leader that wanders smoothly
// around the centre, back inside a soft boundary at the flock's radius and
// into an altitude band around the centre's altitude. Speed and turn rate
// are bounded, so no step is ever a jump. Pure logic: the program reads the
// positions from the birds' instances and sends what comes out.
#pragma once

#include "app/neighbour_grid.h"
#include "app/vec3.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// What the settings file may set, in world units.
struct FlockParameters {
    int radius = 2000;     // the soft boundary around the centre
    int speed = 180;       // cruising step per tick
    int separation = 150;  // closer than this, birds push apart
};

// Everything else follows from the parameters and the number of birds.
struct FlockShape {
    FlockShape(const FlockParameters& parameters, std::size_t count);

    double radius;
    double separation;
    double view;          // neighbours in view: alignment and cohesion
    double cruise;
    double minSpeed;
    double maxSpeed;
    double maxClimb;      // vertical speed
    double maxTurn;       // radians per tick, across the ground
    double band;          // altitude half-width around the centre's
    double leaderOrbit;   // how far the leader wanders from the centre
    double leaderWander;  // scale of the leader's random turn per tick
    double flockReach;    // about how far the flock reaches from its middle
};

struct Boid {
    Vec3 position;
    Vec3 velocity;
};

struct FlockLeader {
    Vec3 position;
    double heading = 0;  // radians across the ground, from north towards west
    double turn = 0;     // radians per tick, wandering
};

struct FlockState {
    Vec3 centre;
    FlockLeader leader;
    std::vector<Boid> boids;
    NeighbourGrid grid;       // kept to reuse its memory
    std::vector<Vec3> points; // positions the grid files
};

// The source of random draws: wl_random in the program.
using FlockRandom = std::function<std::uint32_t()>;

// A new flock of count birds around centre: a disc at the centre's altitude,
// a little more than the separation apart, all flying the leader's way at
// cruising speed. One draw: the leader's heading.
void FlockStart(FlockState& flock, const FlockParameters& parameters, Vec3 centre, std::size_t count,
                const FlockRandom& random);

// One tick: every bird steers from the positions and velocities of the
// previous tick, then moves by its new velocity; the leader moves first.
// One draw: the leader's wander.
void FlockSteer(FlockState& flock, const FlockParameters& parameters, const FlockRandom& random);

// A new centre: the flock flies there when it is within a few radii of its
// mean position; farther, the whole flock is moved there as it is, keeping
// its shape. True when it was moved.
bool FlockMoveCentre(FlockState& flock, const FlockParameters& parameters, Vec3 centre);

// The mean position of the birds; the centre when there are none.
Vec3 FlockMean(const FlockState& flock);

// Heading across the ground in the hop's convention (tenths of a degree,
// 0..3600, growing from north towards west) for a velocity.
int FlockYaw(Vec3 velocity);
