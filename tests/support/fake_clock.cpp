#include "tests/support/fake_clock.h"

#include "worldlink/wire/wire.h"

#include <atomic>

using namespace worldlink;

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
