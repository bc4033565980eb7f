// Points near each other, found through a uniform grid of cubes: building it
// and asking for the neighbours of one point take time in proportion to the
// points and to those near it, never to all pairs.
#pragma once

#include "app/vec3.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class NeighbourGrid {
public:
    // Files every point under its cube of side cell (> 0). The points must
    // stay in place while the grid is asked.
    void Build(std::span<const Vec3> points, double cell);

    // Calls visit(j, offset) for every point j other than i that lies within
    // radius (at most the cell side) of point i; offset is point j - point i.
    template <class Visit>
    void ForEachNear(std::size_t i, double radius, Visit&& visit) const {
        const Cube home = cubes[i];
        const double limit = radius * radius;
        for (std::int64_t dx = -1; dx <= 1; ++dx) {
            for (std::int64_t dy = -1; dy <= 1; ++dy) {
                for (std::int64_t dz = -1; dz <= 1; ++dz) {
                    const Cube cube{home.x + dx, home.y + dy, home.z + dz};
                    for (std::int32_t j = heads[Bucket(cube)]; j >= 0; j = next[j]) {
                        const std::size_t other = static_cast<std::size_t>(j);
                        if (other == i || !(cubes[other] == cube)) {
                            continue;
                        }
                        const Vec3 offset = points[other] - points[i];
                        if (offset.x * offset.x + offset.y * offset.y + offset.z * offset.z <= limit) {
                            visit(other, offset);
                        }
                    }
                }
            }
        }
    }

private:
    struct Cube {
        std::int64_t x, y, z;
        bool operator==(const Cube&) const = default;
    };

    std::size_t Bucket(const Cube& cube) const;

    std::span<const Vec3> points;
    std::vector<Cube> cubes;          // per point
    std::vector<std::int32_t> heads;  // per bucket: first point, or -1
    std::vector<std::int32_t> next;   // per point: next in its bucket, or -1
};
