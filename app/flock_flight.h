// The flock flight on the birds: their positions live in their instances,
// as with the hop; the velocities and the leader live here.
#pragma once

#include "app/bird.h"
#include "app/flocking.h"

#include <functional>

class FlockFlight {
public:
    // Places the birds around the centre, facing the way they will fly.
    void Start(BirdList& birds, const FlockParameters& parameters, Vec3 centre);
    // One tick: every bird steers and sends one state change; watch hears
    // each result.
    void Tick(BirdList& birds, const std::function<void(Bird&, int)>& watch);
    // A new centre: near, the flock flies there; far, it is placed there
    // whole. Every bird sends its place either way, so that a new avatar
    // shows at once.
    void MoveCentre(BirdList& birds, Vec3 centre);

private:
    // The birds' places as their instances hold them now.
    void ReadPositions(BirdList& birds);

    FlockParameters parameters;
    FlockState state;
};
