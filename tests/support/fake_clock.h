// The library's clock under a test's control: time inside the library moves
// only when the test says, so deadlines are reached without waiting for them.
#pragma once

#include <cstdint>

// Replaces the wire clock for the lifetime of the object; one at a time.
// Install it before wl_init, which takes the library's tick base from it.
class FakeClock {
public:
    explicit FakeClock(uint32_t start = 100000);
    ~FakeClock();
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    // Safe from any thread.
    void advance(uint32_t milliseconds);
};
