#include "worldlink/wire/platform.h"

namespace worldlink {

namespace {

uint32_t (*clock_source)() = system_milliseconds;
uint32_t tick_base = 0;

}  // namespace

uint32_t clock_raw() { return clock_source(); }

void clock_replace(uint32_t (*source)()) { clock_source = source ? source : system_milliseconds; }

void tick_start() { tick_base = clock_raw(); }

uint32_t tick_now() { return clock_raw() - tick_base; }

uint32_t tick_elapsed(uint32_t now, uint32_t then) {
    const auto difference = static_cast<int32_t>(now - then);
    return difference > 0 ? static_cast<uint32_t>(difference) : 0;
}

bool tick_reached(uint32_t now, uint32_t deadline) { return static_cast<int32_t>(now - deadline) >= 0; }

}  // namespace worldlink
