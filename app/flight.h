// The geometry of a hop: random steps and the heading that faces them.
#pragma once

#include <cstdint>

// Tenths of a degree per radian, as 1800 / 3.1415926.
inline constexpr double YAW_PER_RADIAN = 572.9578049044296;

// Distance and heading of a hop with north component z and west component
// x; the heading grows from north (2 pi when x is 0 and z > 0) towards west.
void ToPolar(double z, double x, double& distance, double& angle);

// One step from a random draw: the draw as a signed number, modulo 200 with
// its sign, so -199..199.
int HopStep(std::uint32_t draw);

// Heading in tenths of a degree, 0..3600, for a move of north and west.
int HeadingYaw(double north, double west);

// HeadingYaw of a hop of dz north and dx west.
int HopYaw(int dz, int dx);
