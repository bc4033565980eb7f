// The event table, firing, and the subscription mask sent to the worlds.
#include "worldlink/library.h"

#include <cstdlib>

namespace worldlink {

namespace {

// Not cleared by wl_init or wl_term: a handler stays until it is replaced.
wl_event_handler event_table[EVENT_COUNT];

// Which installed slots raise which bits of the subscription mask.
struct MaskRule {
    int slot;
    uint32_t bits;
};
constexpr MaskRule MASK_RULES[] = {
    {EVENT_AVATAR_ADD, 0x01},
    {EVENT_AVATAR_CHANGE, 0x01 | 0x02},
    {EVENT_AVATAR_DELETE, 0x01},
    {EVENT_CHAT, 0x01 | 0x04},
    {EVENT_OBJECT_ADD, 0x08},
    {EVENT_OBJECT_DELETE, 0x08},
    {EVENT_SESSION_POINT_A, 0x01 | 0x10},
    {EVENT_SESSION_POINT_B, 0x01 | 0x20},
    {EVENT_SESSION_PAIR, 0x01 | 0x40},
};
constexpr uint32_t MASK_OWN_BITS = 0x7F;

int send_mask(Instance* instance, uint32_t mask) {
    return msg_pack(instance->world_link,
                    {pack_begin(MSG_EVENT_MASK), pack_long(static_cast<int32_t>(mask)), pack_end()});
}

}  // namespace

bool event_installed(int slot) { return slot >= 0 && slot < EVENT_COUNT && event_table[slot] != nullptr; }

void event_fire(Instance* instance, int slot) {
    if (!event_installed(slot)) return;
    library.current_instance = instance;
    event_table[slot]();
}

uint32_t event_mask_compute(uint32_t stored) {
    uint32_t mask = stored & ~MASK_OWN_BITS;
    for (const auto& rule : MASK_RULES)
        if (event_table[rule.slot] != nullptr) mask |= rule.bits;
    return mask;
}

}  // namespace worldlink

using namespace worldlink;

int wl_event_set(int slot, wl_event_handler handler) {
    if (!library.started) return REASON_NOT_INITIALIZED;
    if (slot < 0 || slot >= EVENT_COUNT) return REASON_INVALID_ATTRIBUTE;
    event_table[slot] = handler;
    library.event_mask_dirty = 1;
    return 0;
}

void worldlink::event_mask_update() {
    const uint32_t mask = event_mask_compute(library.event_mask);
    if (mask == library.event_mask) return;
    library.event_mask = mask;
    // A lost world link can fire EVENT_WORLD_DISCONNECT, whose handler may
    // destroy instances; walk a copy of the list and skip the dead.
    const int count = library.instance_count;
    auto** targets = static_cast<Instance**>(std::malloc(sizeof(Instance*) * (count > 0 ? count : 1)));
    if (targets == nullptr) return;
    int total = 0;
    for (Instance* instance = library.instances; instance != nullptr && total < count; instance = instance->next)
        targets[total++] = instance;
    for (int k = 0; k < total; ++k) {
        Instance* instance = targets[k];
        if (!instance_alive(instance) || instance->world_state != WORLD_IN || instance->world_build < 21) continue;
        if (link_busy(instance->world_link)) continue;
        if (send_mask(instance, mask) != 0) world_link_lost(instance);
    }
    std::free(targets);
}
