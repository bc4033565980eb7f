// The avatars tables. Every instance of a flock is told of every other bird,
// so names are stored once for all instances and each table holds only
// pointers to them, in one array that grows and shrinks with its content.
#include "worldlink/library.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace worldlink {

namespace {

constexpr int SMALLEST_CAPACITY = 8;

// The key of a shared name: the session, then the name's characters.
struct NameKey {
    uint32_t session;
    char text[AVATAR_NAME_MAX];
};

NameKey name_key(uint32_t session, const char* text, int length) {
    NameKey key{session, {}};
    std::memcpy(key.text, text, static_cast<size_t>(length));
    return key;
}

int key_length(int text_length) { return static_cast<int>(offsetof(NameKey, text)) + text_length; }

AvatarName* record_of(TableEntry* entry) { return static_cast<AvatarName*>(table_value(entry)); }

TableEntry* name_hold(uint32_t session, const char* text, int length) {
    const NameKey key = name_key(session, text, length);
    int found = 0;
    TableEntry* entry = table_add(library.avatar_names, &key, key_length(length), sizeof(AvatarName), &found);
    if (entry == nullptr) return nullptr;
    AvatarName* record = record_of(entry);
    if (found == 0) {
        std::memcpy(record->text, text, static_cast<size_t>(length));
        record->text[length] = '\0';
        record->session = session;
        record->references = 0;
    }
    ++record->references;
    return entry;
}

void name_release(TableEntry* entry) {
    AvatarName* record = record_of(entry);
    if (--record->references > 0) return;
    const int length = static_cast<int>(std::strlen(record->text));
    const NameKey key = name_key(record->session, record->text, length);
    table_remove(library.avatar_names, &key, key_length(length));
}

uint32_t session_of(TableEntry* entry) { return record_of(entry)->session; }

// Fibonacci hashing: the top bits of the product, as many as the capacity needs.
int home_of(const AvatarTable* avatars, uint32_t session) {
    const int bits = std::countr_zero(static_cast<unsigned>(avatars->capacity));
    return static_cast<int>(session * 0x9E3779B1u >> (32 - bits));
}

int mask_of(const AvatarTable* avatars) { return avatars->capacity - 1; }

uint16_t mark_of(uint32_t session) { return static_cast<uint16_t>(session % 0xFFFF + 1); }

void slot_fill(AvatarTable* avatars, int slot, TableEntry* entry) {
    avatars->slots[slot] = entry;
    avatars->marks[slot] = mark_of(session_of(entry));
}

// The slot holding the session, or the free slot where it would go.
int slot_of(const AvatarTable* avatars, uint32_t session) {
    const uint16_t mark = mark_of(session);
    int slot = home_of(avatars, session);
    while (avatars->marks[slot] != 0 && (avatars->marks[slot] != mark || session_of(avatars->slots[slot]) != session))
        slot = (slot + 1) & mask_of(avatars);
    return slot;
}

// Moves every entry into an array of `capacity` slots (0: none at all).
bool resize(AvatarTable* avatars, int capacity) {
    TableEntry** slots = nullptr;
    if (capacity > 0) {
        slots = static_cast<TableEntry**>(
            std::calloc(static_cast<size_t>(capacity), sizeof(TableEntry*) + sizeof(uint16_t)));
        if (slots == nullptr) return false;
    }
    TableEntry** old_slots = avatars->slots;
    const int old_capacity = avatars->capacity;
    avatars->slots = slots;
    avatars->marks = slots == nullptr ? nullptr : reinterpret_cast<uint16_t*>(slots + capacity);
    avatars->capacity = capacity;
    for (int k = 0; k < old_capacity; ++k)
        if (old_slots[k] != nullptr) slot_fill(avatars, slot_of(avatars, session_of(old_slots[k])), old_slots[k]);
    std::free(old_slots);
    return true;
}

// Empties a slot and pulls later entries of its run back over it, so every
// entry stays reachable from its home slot without markers for the gone.
void slot_vacate(AvatarTable* avatars, int hole) {
    const int mask = mask_of(avatars);
    for (int next = (hole + 1) & mask; avatars->marks[next] != 0; next = (next + 1) & mask) {
        const int home = home_of(avatars, session_of(avatars->slots[next]));
        // The entry may fill the hole when its home is not within (hole, next].
        if (((next - home) & mask) >= ((next - hole) & mask)) {
            avatars->slots[hole] = avatars->slots[next];
            avatars->marks[hole] = avatars->marks[next];
            hole = next;
        }
    }
    avatars->slots[hole] = nullptr;
    avatars->marks[hole] = 0;
}

}  // namespace

AvatarTable* avatars_create() { return new (std::nothrow) AvatarTable{}; }

void avatars_destroy(AvatarTable* avatars) {
    if (avatars == nullptr) return;
    avatars_clear(avatars);
    delete avatars;
}

void avatars_clear(AvatarTable* avatars) {
    for (int k = 0; k < avatars->capacity; ++k)
        if (avatars->slots[k] != nullptr) name_release(avatars->slots[k]);
    std::free(avatars->slots);
    *avatars = AvatarTable{};
}

TableEntry* table_find(AvatarTable* avatars, const void* key, int key_length) {
    if (avatars == nullptr || key == nullptr || key_length != sizeof(uint32_t) || avatars->count == 0)
        return nullptr;
    uint32_t session = 0;
    std::memcpy(&session, key, sizeof session);
    return avatars->slots[slot_of(avatars, session)];
}

const char* avatars_name(AvatarTable* avatars, uint32_t session) {
    TableEntry* entry = table_find(avatars, &session, sizeof session);
    return entry == nullptr ? nullptr : record_of(entry)->text;
}

int avatars_put(AvatarTable* avatars, uint32_t session, const char* name) {
    const int length = static_cast<int>(std::min(std::strlen(name), static_cast<size_t>(AVATAR_NAME_MAX)));
    if (const char* known = avatars_name(avatars, session);
        known != nullptr && std::strncmp(known, name, static_cast<size_t>(length)) == 0 && known[length] == '\0')
        return 0;
    // Grown before anything is held, so a failure leaves the table as it was.
    if ((avatars->count + 1) * 4 > avatars->capacity * 3 &&
        !resize(avatars, std::max(avatars->capacity * 2, SMALLEST_CAPACITY)))
        return REASON_OUT_OF_MEMORY;
    TableEntry* entry = name_hold(session, name, length);
    if (entry == nullptr) return REASON_OUT_OF_MEMORY;
    const int slot = slot_of(avatars, session);
    if (avatars->slots[slot] != nullptr)
        name_release(avatars->slots[slot]);
    else
        ++avatars->count;
    slot_fill(avatars, slot, entry);
    return 0;
}

void avatars_remove(AvatarTable* avatars, uint32_t session) {
    if (avatars->count == 0) return;
    const int slot = slot_of(avatars, session);
    if (avatars->slots[slot] == nullptr) return;
    name_release(avatars->slots[slot]);
    slot_vacate(avatars, slot);
    --avatars->count;
    if (avatars->count == 0)
        resize(avatars, 0);
    else if (avatars->capacity > SMALLEST_CAPACITY && avatars->count * 8 < avatars->capacity)
        resize(avatars, avatars->capacity / 2);
}

}  // namespace worldlink
