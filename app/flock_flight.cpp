#include "app/flock_flight.h"

#include "worldlink/worldlink.h"

#include <climits>
#include <cmath>

namespace {

// A coordinate as the world takes it: rounded, and kept within the int range.
int WorldUnit(double coordinate) {
    if (!(coordinate > INT_MIN)) {
        return INT_MIN;
    }
    if (!(coordinate < INT_MAX)) {
        return INT_MAX;
    }
    return static_cast<int>(std::lround(coordinate));
}

std::uint32_t LibraryDraw() {
    return wl_random();
}

int Send(Bird& bird, const Boid& boid) {
    return bird.Fly(WorldUnit(boid.position.x), WorldUnit(boid.position.y), WorldUnit(boid.position.z),
                    FlockYaw(boid.velocity));
}

}  // namespace

void FlockFlight::Start(BirdList& birds, const FlockParameters& flockParameters, Vec3 centre) {
    parameters = flockParameters;
    FlockStart(state, parameters, centre, birds.Count(), LibraryDraw);
    std::size_t i = 0;
    for (Bird& bird : birds) {
        Send(bird, state.boids[i++]);
    }
}

void FlockFlight::Tick(BirdList& birds, const std::function<void(Bird&, int)>& watch) {
    ReadPositions(birds);
    FlockSteer(state, parameters, LibraryDraw);
    std::size_t i = 0;
    for (Bird& bird : birds) {
        watch(bird, Send(bird, state.boids[i++]));
    }
}

void FlockFlight::MoveCentre(BirdList& birds, Vec3 centre) {
    ReadPositions(birds);
    FlockMoveCentre(state, parameters, centre);
    std::size_t i = 0;
    for (Bird& bird : birds) {
        Send(bird, state.boids[i++]);
    }
}

void FlockFlight::ReadPositions(BirdList& birds) {
    state.boids.resize(birds.Count());
    std::size_t i = 0;
    for (Bird& bird : birds) {
        state.boids[i++].position = bird.Position();
    }
}
