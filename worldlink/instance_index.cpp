// The instances by address: wl_instance_set and every liveness test ask this
// index instead of walking the instance list.
#include "worldlink/library.h"

#include <cstdlib>

namespace worldlink {

namespace {

constexpr uint32_t FIRST_CAPACITY = 64;

// Heap addresses share their low bits; Fibonacci hashing spreads the rest.
uint32_t home(const InstanceIndex* index, const Instance* instance) {
    const uint64_t mixed = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(instance)) * 0x9E3779B97F4A7C15u;
    return static_cast<uint32_t>(mixed >> 32) & (index->capacity - 1);
}

uint32_t next(const InstanceIndex* index, uint32_t slot) { return (slot + 1) & (index->capacity - 1); }

// The slot holding the instance, or the free slot where it would go.
uint32_t find(const InstanceIndex* index, const Instance* instance) {
    uint32_t slot = home(index, instance);
    while (index->slots[slot] != nullptr && index->slots[slot] != instance) slot = next(index, slot);
    return slot;
}

bool grow(InstanceIndex* index) {
    const uint32_t capacity = index->capacity > 0 ? 2 * index->capacity : FIRST_CAPACITY;
    auto* slots = static_cast<const Instance**>(std::calloc(capacity, sizeof(const Instance*)));
    if (slots == nullptr) return false;
    InstanceIndex grown{slots, capacity, index->count};
    for (uint32_t k = 0; k < index->capacity; ++k)
        if (index->slots[k] != nullptr) grown.slots[find(&grown, index->slots[k])] = index->slots[k];
    std::free(index->slots);
    *index = grown;
    return true;
}

}  // namespace

bool index_add(InstanceIndex* index, const Instance* instance) {
    if (2 * (index->count + 1) > index->capacity && !grow(index)) return false;
    const uint32_t slot = find(index, instance);
    if (index->slots[slot] == nullptr) {
        index->slots[slot] = instance;
        ++index->count;
    }
    return true;
}

// Closes the gap behind it, so that no probe for a later entry stops short.
void index_remove(InstanceIndex* index, const Instance* instance) {
    if (index->capacity == 0) return;
    uint32_t gap = find(index, instance);
    if (index->slots[gap] == nullptr) return;
    index->slots[gap] = nullptr;
    --index->count;
    for (uint32_t slot = next(index, gap); index->slots[slot] != nullptr; slot = next(index, slot)) {
        const uint32_t wanted = home(index, index->slots[slot]);
        // An entry may fill the gap when the gap lies on its probe path, from
        // its home slot up to where it stands.
        const bool on_path = gap <= slot ? (wanted <= gap || wanted > slot) : (wanted <= gap && wanted > slot);
        if (on_path) {
            index->slots[gap] = index->slots[slot];
            index->slots[slot] = nullptr;
            gap = slot;
        }
    }
}

bool index_has(const InstanceIndex* index, const Instance* instance) {
    if (instance == nullptr || index->capacity == 0) return false;
    return index->slots[find(index, instance)] == instance;
}

void index_release(InstanceIndex* index) {
    std::free(index->slots);
    *index = InstanceIndex{};
}

}  // namespace worldlink
