#include "tests/support/scripted_peer.h"

#include <chrono>
#include <thread>

namespace {

// Atomic: the peer's thread reads the wire clock too (send time-outs).
std::atomic<uint32_t> fake_now{0};

uint32_t fake_source() { return fake_now.load(); }

}  // namespace

FakeClock::FakeClock(uint32_t start) {
    fake_now.store(start);
    clock_replace(fake_source);
}

FakeClock::~FakeClock() { clock_replace(nullptr); }

void FakeClock::advance(uint32_t milliseconds) { fake_now.fetch_add(milliseconds); }

bool eventually(const std::function<bool()>& condition, int timeout_ms) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
