#include "worldlink/wire/wire.h"

#include <chrono>

namespace {

uint32_t steady_milliseconds() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    return static_cast<uint32_t>(ms);
}

uint32_t (*clock_source)() = steady_milliseconds;
uint32_t tick_base = 0;

}  // namespace

uint32_t clock_raw() { return clock_source(); }

void clock_replace(uint32_t (*source)()) { clock_source = source ? source : steady_milliseconds; }

void tick_start() { tick_base = clock_raw(); }

uint32_t tick_now() { return clock_raw() - tick_base; }

uint32_t tick_elapsed(uint32_t now, uint32_t then) {
    const auto difference = static_cast<int32_t>(now - then);
    return difference > 0 ? static_cast<uint32_t>(difference) : 0;
}

bool tick_reached(uint32_t now, uint32_t deadline) { return static_cast<int32_t>(now - deadline) >= 0; }
