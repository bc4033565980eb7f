// wl_random: a 32-bit Mersenne Twister (MT19937) with the library's own seeding.
#include "worldlink/library.h"

namespace worldlink {

namespace {

constexpr int WORDS = 624;
constexpr int OFFSET = 397;
constexpr uint32_t MATRIX = 0x9908B0DFu;
constexpr uint32_t UPPER = 0x80000000u;
constexpr uint32_t LOWER = 0x7FFFFFFFu;

uint32_t words[WORDS];
// Starts at 1 and is never touched by seeding: the first draws after wl_init
// temper the seeded words 1, 2, 3 ... directly.
int draw_index = 1;

void regenerate() {
    for (int k = 0; k < WORDS; ++k) {
        const uint32_t y = (words[k] & UPPER) | (words[(k + 1) % WORDS] & LOWER);
        words[k] = words[(k + OFFSET) % WORDS] ^ (y >> 1) ^ ((y & 1u) != 0 ? MATRIX : 0u);
    }
}

}  // namespace

void random_seed(uint32_t seed) {
    words[0] = seed;
    for (int k = 1; k < WORDS; ++k) words[k] = words[k - 1] * 69069u;
}

}  // namespace worldlink

using namespace worldlink;

uint32_t wl_random() {
    if (draw_index >= WORDS) {
        regenerate();
        draw_index = 0;
    }
    uint32_t y = words[draw_index++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
}
