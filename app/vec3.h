// A point or a velocity in world units: x grows towards the west, y is the
// altitude, z grows towards the north.
#pragma once

#include <cmath>

struct Vec3 {
    double x = 0;
    double y = 0;
    double z = 0;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, double k) { return {a.x * k, a.y * k, a.z * k}; }
inline Vec3& operator+=(Vec3& a, Vec3 b) { return a = a + b; }

inline double Length(Vec3 a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }
// Length across the ground, altitude aside.
inline double GroundLength(Vec3 a) { return std::sqrt(a.x * a.x + a.z * a.z); }
