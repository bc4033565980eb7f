#include "app/flight.h"

#include <cmath>

void ToPolar(double z, double x, double& distance, double& angle) {
    distance = std::sqrt(z * z + x * x);
    if (distance == 0) {
        angle = 0;
    } else if (x > 0) {
        angle = std::acos(z / distance);
    } else {
        angle = 4 * std::acos(0.0) - std::acos(z / distance);
    }
}

int HopStep(std::uint32_t draw) {
    return static_cast<std::int32_t>(draw) % 200;
}

int HeadingYaw(double north, double west) {
    double distance = 0;
    double angle = 0;
    ToPolar(north, west, distance, angle);
    return static_cast<int>(angle * YAW_PER_RADIAN);
}

int HopYaw(int dz, int dx) {
    return HeadingYaw(dz, dx);
}
