#include "app/neighbour_grid.h"

#include <bit>
#include <cmath>

namespace {

// Cube index of a coordinate; the clamp keeps a far point's index defined.
std::int64_t CubeIndex(double coordinate, double cell) {
    constexpr double LIMIT = 1e15;
    const double index = std::floor(coordinate / cell);
    return static_cast<std::int64_t>(index < -LIMIT ? -LIMIT : (index > LIMIT ? LIMIT : index));
}

}  // namespace

void NeighbourGrid::Build(std::span<const Vec3> all, double cell) {
    points = all;
    cubes.resize(points.size());
    next.assign(points.size(), -1);
    // About two buckets a point keeps the chains short.
    heads.assign(std::bit_ceil(points.size() * 2 + 1), -1);
    for (std::size_t i = 0; i < points.size(); ++i) {
        cubes[i] = {CubeIndex(points[i].x, cell), CubeIndex(points[i].y, cell), CubeIndex(points[i].z, cell)};
        std::int32_t& head = heads[Bucket(cubes[i])];
        next[i] = head;
        head = static_cast<std::int32_t>(i);
    }
}

std::size_t NeighbourGrid::Bucket(const Cube& cube) const {
    // A multiply-xorshift mix of the three indices: neighbouring cubes land
    // in unrelated buckets.
    std::uint64_t h = static_cast<std::uint64_t>(cube.x) * 0x9E3779B97F4A7C15ull;
    h ^= static_cast<std::uint64_t>(cube.y) * 0xC2B2AE3D27D4EB4Full;
    h ^= static_cast<std::uint64_t>(cube.z) * 0x165667B19E3779F9ull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return static_cast<std::size_t>(h) & (heads.size() - 1);
}
