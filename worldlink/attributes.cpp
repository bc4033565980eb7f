// The per-instance attribute store and the public attribute calls.
#include "worldlink/library.h"

#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace worldlink {

namespace {

enum Access : bool { RW = false, RO = true };

struct AttributeInfo {
    int number;
    const char* name;
    AttributeType type;
    bool read_only;
    bool has_default;  // the world properties, reset by every world properties message
    int32_t int_default;
    float float_default;
    const char* text_default;
};

constexpr AttributeInfo plain(int number, const char* name, AttributeType type, Access access) {
    return {number, name, type, access, false, 0, 0.0f, nullptr};
}
constexpr AttributeInfo world_number(int number, const char* name, AttributeType type, Access access, int32_t value) {
    return {number, name, type, access, true, value, 0.0f, nullptr};
}
constexpr AttributeInfo world_float(int number, const char* name, Access access, float value) {
    return {number, name, TYPE_FLOAT, access, true, 0, value, nullptr};
}
constexpr AttributeInfo world_text(int number, const char* name, Access access, const char* value) {
    return {number, name, TYPE_STRING, access, true, 0, 0.0f, value};
}
constexpr AttributeInfo world_data(int number, const char* name, Access access) {
    return {number, name, TYPE_DATA, access, true, 0, 0.0f, nullptr};
}

// Where a world names no object location of its own, objects come from here.
constexpr const char* DEFAULT_OBJECT_PATH = "http://objects.localhost/default/";

constexpr AttributeInfo ATTRIBUTE_TYPES[ATTR_COUNT] = {
    plain(ATTR_LOGIN_NAME, "LOGIN_NAME", TYPE_STRING, RW),
    plain(ATTR_SPARE_1, "SPARE_1", TYPE_STRING, RW),
    plain(ATTR_LOGIN_OWNER, "LOGIN_OWNER", TYPE_INT, RW),
    plain(ATTR_LOGIN_PASSWORD, "LOGIN_PASSWORD", TYPE_STRING, RW),
    plain(ATTR_SPARE_4, "SPARE_4", TYPE_INT, RW),
    plain(ATTR_LOGIN_REPLY_TEXT, "LOGIN_REPLY_TEXT", TYPE_STRING, RO),
    plain(ATTR_SPARE_6, "SPARE_6", TYPE_BOOL, RW),
    plain(ATTR_LOGIN_APPLICATION, "LOGIN_APPLICATION", TYPE_STRING, RW),
    plain(ATTR_SPARE_8, "SPARE_8", TYPE_STRING, RW),
    plain(ATTR_UNIVERSE_PROP_00, "UNIVERSE_PROP_00", TYPE_INT, RW),
    plain(ATTR_UNIVERSE_PROP_01, "UNIVERSE_PROP_01", TYPE_INT, RW),
    plain(ATTR_UNIVERSE_PROP_02, "UNIVERSE_PROP_02", TYPE_INT, RW),
    plain(ATTR_UNIVERSE_PROP_03, "UNIVERSE_PROP_03", TYPE_INT, RW),
    plain(ATTR_UNIVERSE_PROP_04, "UNIVERSE_PROP_04", TYPE_STRING, RW),
    plain(ATTR_UNIVERSE_PROP_05, "UNIVERSE_PROP_05", TYPE_BOOL, RO),
    plain(ATTR_UNIVERSE_BUILD, "UNIVERSE_BUILD", TYPE_INT, RW),
    plain(ATTR_UNIVERSE_PROP_07, "UNIVERSE_PROP_07", TYPE_STRING, RW),
    plain(ATTR_UNIVERSE_PROP_08, "UNIVERSE_PROP_08", TYPE_STRING, RW),
    plain(ATTR_UNIVERSE_PROP_09, "UNIVERSE_PROP_09", TYPE_INT, RO),
    plain(ATTR_UNIVERSE_PROP_10, "UNIVERSE_PROP_10", TYPE_BOOL, RO),
    plain(ATTR_UNIVERSE_PROP_11, "UNIVERSE_PROP_11", TYPE_INT, RW),
    plain(ATTR_ACCOUNT_NUMBER, "ACCOUNT_NUMBER", TYPE_INT, RW),
    plain(ATTR_ACCOUNT_PROP_00, "ACCOUNT_PROP_00", TYPE_STRING, RW),
    plain(ATTR_ACCOUNT_PROP_01, "ACCOUNT_PROP_01", TYPE_STRING, RW),
    plain(ATTR_ACCOUNT_PROP_02, "ACCOUNT_PROP_02", TYPE_STRING, RW),
    plain(ATTR_SPARE_25, "SPARE_25", TYPE_INT, RO),
    plain(ATTR_ACCOUNT_PROP_03, "ACCOUNT_PROP_03", TYPE_STRING, RW),
    plain(ATTR_ACCOUNT_PROP_17, "ACCOUNT_PROP_17", TYPE_INT, RO),
    plain(ATTR_ACCOUNT_PROP_18, "ACCOUNT_PROP_18", TYPE_INT, RW),
    plain(ATTR_ACCOUNT_PROP_19, "ACCOUNT_PROP_19", TYPE_BOOL, RW),
    plain(ATTR_ACCOUNT_PROP_20, "ACCOUNT_PROP_20", TYPE_INT, RO),
    plain(ATTR_ACCOUNT_PROP_21, "ACCOUNT_PROP_21", TYPE_INT, RW),
    plain(ATTR_ACCOUNT_PROP_22, "ACCOUNT_PROP_22", TYPE_INT, RO),
    plain(ATTR_ACCOUNT_PROP_23, "ACCOUNT_PROP_23", TYPE_BOOL, RW),
    plain(ATTR_ACCOUNT_PROP_24, "ACCOUNT_PROP_24", TYPE_STRING, RW),
    plain(ATTR_ACCOUNT_PROP_25, "ACCOUNT_PROP_25", TYPE_STRING, RW),
    plain(ATTR_WORLD_NAME, "WORLD_NAME", TYPE_STRING, RW),
    world_text(ATTR_WORLD_PROP_00, "WORLD_PROP_00", RW, ""),
    world_text(ATTR_WORLD_PROP_01, "WORLD_PROP_01", RW, ""),
    world_text(ATTR_WORLD_PROP_02, "WORLD_PROP_02", RW, ""),
    world_text(ATTR_WORLD_OBJECT_PATH, "WORLD_OBJECT_PATH", RW, DEFAULT_OBJECT_PATH),
    world_number(ATTR_WORLD_PROP_05, "WORLD_PROP_05", TYPE_INT, RW, 10080),
    world_text(ATTR_WORLD_PROP_06, "WORLD_PROP_06", RW, ""),
    world_text(ATTR_WORLD_PROP_07, "WORLD_PROP_07", RW, ""),
    world_text(ATTR_WORLD_PROP_08, "WORLD_PROP_08", RW, ""),
    world_text(ATTR_WORLD_PROP_10, "WORLD_PROP_10", RW, ""),
    world_number(ATTR_WORLD_PROP_11, "WORLD_PROP_11", TYPE_INT, RW, 0),
    world_number(ATTR_WORLD_PROP_12, "WORLD_PROP_12", TYPE_INT, RW, 0),
    world_number(ATTR_WORLD_PROP_13, "WORLD_PROP_13", TYPE_INT, RW, 178),
    world_number(ATTR_WORLD_PROP_14, "WORLD_PROP_14", TYPE_BOOL, RO, 0),
    world_number(ATTR_WORLD_PROP_15, "WORLD_PROP_15", TYPE_INT, RW, 0),
    world_number(ATTR_WORLD_PROP_17, "WORLD_PROP_17", TYPE_BOOL, RO, 0),
    world_text(ATTR_WORLD_PROP_18, "WORLD_PROP_18", RW, ""),
    world_number(ATTR_WORLD_PROP_19, "WORLD_PROP_19", TYPE_INT, RO, 0),
    world_text(ATTR_WORLD_PROP_20, "WORLD_PROP_20", RW, ""),
    world_number(ATTR_WORLD_BUILD, "WORLD_BUILD", TYPE_INT, RO, 0),
    world_data(ATTR_WORLD_DATA, "WORLD_DATA", RW),
    world_number(ATTR_WORLD_PROP_23, "WORLD_PROP_23", TYPE_BOOL, RW, 1),
    world_number(ATTR_WORLD_PROP_24, "WORLD_PROP_24", TYPE_INT, RW, 1),
    world_text(ATTR_WORLD_PROP_25, "WORLD_PROP_25", RW, ""),
    world_text(ATTR_WORLD_PROP_26, "WORLD_PROP_26", RW, ""),
    world_number(ATTR_WORLD_PROP_27, "WORLD_PROP_27", TYPE_BOOL, RO, 0),
    world_number(ATTR_WORLD_PROP_29, "WORLD_PROP_29", TYPE_INT, RW, 1500),
    world_number(ATTR_WORLD_PROP_30, "WORLD_PROP_30", TYPE_BOOL, RO, 0),
    world_number(ATTR_WORLD_PROP_31, "WORLD_PROP_31", TYPE_BOOL, RW, 1),
    world_number(ATTR_WORLD_PROP_32, "WORLD_PROP_32", TYPE_BOOL, RW, 1),
    world_number(ATTR_WORLD_PROP_33, "WORLD_PROP_33", TYPE_BOOL, RW, 1),
    world_number(ATTR_WORLD_PROP_39, "WORLD_PROP_39", TYPE_BOOL, RW, 0),
    world_number(ATTR_WORLD_PROP_35, "WORLD_PROP_35", TYPE_BOOL, RW, 1),
    world_text(ATTR_WORLD_PROP_36, "WORLD_PROP_36", RW, ""),
    world_number(ATTR_WORLD_PROP_37, "WORLD_PROP_37", TYPE_BOOL, RO, 0),
    world_text(ATTR_WORLD_PROP_38, "WORLD_PROP_38", RW, "*"),
    world_number(ATTR_WORLD_PROP_40, "WORLD_PROP_40", TYPE_BOOL, RW, 1),
    world_float(ATTR_WORLD_PROP_41, "WORLD_PROP_41", RW, -0.8f),
    world_float(ATTR_WORLD_PROP_42, "WORLD_PROP_42", RW, -0.5f),
    world_float(ATTR_WORLD_PROP_43, "WORLD_PROP_43", RW, -0.2f),
    world_number(ATTR_WORLD_PROP_44, "WORLD_PROP_44", TYPE_INT, RW, 255),
    world_number(ATTR_WORLD_PROP_45, "WORLD_PROP_45", TYPE_INT, RW, 255),
    world_number(ATTR_WORLD_PROP_46, "WORLD_PROP_46", TYPE_INT, RW, 255),
    world_number(ATTR_WORLD_PROP_47, "WORLD_PROP_47", TYPE_INT, RW, 255),
    world_number(ATTR_WORLD_PROP_48, "WORLD_PROP_48", TYPE_INT, RW, 255),
    world_number(ATTR_WORLD_PROP_49, "WORLD_PROP_49", TYPE_INT, RW, 255),
    world_number(ATTR_WORLD_PROP_50, "WORLD_PROP_50", TYPE_BOOL, RW, 0),
    world_number(ATTR_WORLD_PROP_51, "WORLD_PROP_51", TYPE_BOOL, RW, 0),
    world_number(ATTR_WORLD_PROP_52, "WORLD_PROP_52", TYPE_INT, RW, 0),
    world_number(ATTR_WORLD_PROP_53, "WORLD_PROP_53", TYPE_INT, RW, 120),
    world_number(ATTR_WORLD_PROP_54, "WORLD_PROP_54", TYPE_INT, RO, 0),
    world_number(ATTR_WORLD_PROP_55, "WORLD_PROP_55", TYPE_INT, RO, 0),
    world_number(ATTR_WORLD_PROP_56, "WORLD_PROP_56", TYPE_INT, RO, 0),
    world_number(ATTR_WORLD_PROP_58, "WORLD_PROP_58", TYPE_INT, RO, -1),
    world_text(ATTR_WORLD_PROP_59, "WORLD_PROP_59", RW, "*"),
    world_number(ATTR_WORLD_PROP_60, "WORLD_PROP_60", TYPE_INT, RW, 10),
    plain(ATTR_MY_X, "MY_X", TYPE_INT, RW),
    plain(ATTR_MY_Y, "MY_Y", TYPE_INT, RW),
    plain(ATTR_MY_Z, "MY_Z", TYPE_INT, RW),
    plain(ATTR_MY_YAW, "MY_YAW", TYPE_INT, RW),
    plain(ATTR_MY_TYPE, "MY_TYPE", TYPE_INT, RW),
    plain(ATTR_MY_EXTRA, "MY_EXTRA", TYPE_INT, RW),
    plain(ATTR_AVATAR_SESSION, "AVATAR_SESSION", TYPE_INT, RO),
    plain(ATTR_AVATAR_NAME, "AVATAR_NAME", TYPE_STRING, RO),
    plain(ATTR_AVATAR_X, "AVATAR_X", TYPE_INT, RO),
    plain(ATTR_AVATAR_Y, "AVATAR_Y", TYPE_INT, RO),
    plain(ATTR_AVATAR_Z, "AVATAR_Z", TYPE_INT, RO),
    plain(ATTR_AVATAR_YAW, "AVATAR_YAW", TYPE_INT, RO),
    plain(ATTR_AVATAR_TYPE, "AVATAR_TYPE", TYPE_INT, RO),
    plain(ATTR_AVATAR_EXTRA, "AVATAR_EXTRA", TYPE_INT, RO),
    plain(ATTR_AVATAR_ADDRESS, "AVATAR_ADDRESS", TYPE_INT, RO),
    plain(ATTR_AVATAR_W1, "AVATAR_W1", TYPE_INT, RO),
    plain(ATTR_AVATAR_N1, "AVATAR_N1", TYPE_INT, RO),
    plain(ATTR_AVATAR_N2, "AVATAR_N2", TYPE_INT, RO),
    plain(ATTR_CHAT_SESSION, "CHAT_SESSION", TYPE_INT, RO),
    plain(ATTR_CHAT_MESSAGE, "CHAT_MESSAGE", TYPE_STRING, RO),
    plain(ATTR_CELL_X, "CELL_X", TYPE_INT, RO),
    plain(ATTR_CELL_Z, "CELL_Z", TYPE_INT, RO),
    plain(ATTR_CELL_N1, "CELL_N1", TYPE_INT, RO),
    plain(ATTR_CELL_SIZE, "CELL_SIZE", TYPE_INT, RO),
    plain(ATTR_WORLD_NUMBER, "WORLD_NUMBER", TYPE_INT, RW),
    plain(ATTR_OBJECT_NUMBER, "OBJECT_NUMBER", TYPE_INT, RW),
    plain(ATTR_OBJECT_X, "OBJECT_X", TYPE_INT, RW),
    plain(ATTR_OBJECT_Y, "OBJECT_Y", TYPE_INT, RW),
    plain(ATTR_OBJECT_Z, "OBJECT_Z", TYPE_INT, RW),
    plain(ATTR_OBJECT_W1, "OBJECT_W1", TYPE_INT, RW),
    plain(ATTR_OBJECT_TEXT_1, "OBJECT_TEXT_1", TYPE_STRING, RW),
    plain(ATTR_OBJECT_TEXT_2, "OBJECT_TEXT_2", TYPE_STRING, RW),
    plain(ATTR_OBJECT_TEXT_3, "OBJECT_TEXT_3", TYPE_STRING, RW),
    plain(ATTR_SPARE_125, "SPARE_125", TYPE_INT, RW),
    plain(ATTR_SPARE_126, "SPARE_126", TYPE_INT, RW),
    plain(ATTR_SPARE_127, "SPARE_127", TYPE_INT, RW),
    plain(ATTR_OBJECT_N2, "OBJECT_N2", TYPE_INT, RW),
    plain(ATTR_OBJECT_W0, "OBJECT_W0", TYPE_INT, RO),
    plain(ATTR_OBJECT_N3, "OBJECT_N3", TYPE_INT, RW),
    plain(ATTR_WORLD_FLAG, "WORLD_FLAG", TYPE_BOOL, RO),
    plain(ATTR_CHAT_TYPE, "CHAT_TYPE", TYPE_INT, RO),
    plain(ATTR_NAMED_RECORD_NAME, "NAMED_RECORD_NAME", TYPE_STRING, RW),
    plain(ATTR_NAMED_RECORD_S1, "NAMED_RECORD_S1", TYPE_STRING, RW),
    plain(ATTR_NAMED_RECORD_N1, "NAMED_RECORD_N1", TYPE_INT, RW),
    plain(ATTR_NAMED_RECORD_N2, "NAMED_RECORD_N2", TYPE_INT, RW),
    plain(ATTR_NAMED_RECORD_S2, "NAMED_RECORD_S2", TYPE_STRING, RW),
    plain(ATTR_NAMED_RECORD_S3, "NAMED_RECORD_S3", TYPE_STRING, RW),
    plain(ATTR_NAMED_RECORD_N3, "NAMED_RECORD_N3", TYPE_INT, RO),
    plain(ATTR_NAMED_RECORD_N4, "NAMED_RECORD_N4", TYPE_INT, RW),
    plain(ATTR_NAMED_RECORD_N5, "NAMED_RECORD_N5", TYPE_INT, RO),
    plain(ATTR_LIST_NAME, "LIST_NAME", TYPE_STRING, RO),
    plain(ATTR_LIST_STATUS, "LIST_STATUS", TYPE_INT, RO),
    plain(ATTR_LIST_COUNT, "LIST_COUNT", TYPE_INT, RO),
    plain(ATTR_LIST_MORE, "LIST_MORE", TYPE_BOOL, RO),
    plain(ATTR_SPARE_146, "SPARE_146", TYPE_INT, RW),
    plain(ATTR_SPARE_147, "SPARE_147", TYPE_INT, RW),
    plain(ATTR_ADDRESS_RECORD_ADDRESS, "ADDRESS_RECORD_ADDRESS", TYPE_INT, RW),
    plain(ATTR_ADDRESS_RECORD_N1, "ADDRESS_RECORD_N1", TYPE_INT, RW),
    plain(ATTR_ADDRESS_RECORD_N2, "ADDRESS_RECORD_N2", TYPE_INT, RO),
    plain(ATTR_ADDRESS_RECORD_TEXT, "ADDRESS_RECORD_TEXT", TYPE_STRING, RW),
    plain(ATTR_WORLD_DISCONNECT_REASON, "WORLD_DISCONNECT_REASON", TYPE_INT, RO),
    plain(ATTR_SPARE_153, "SPARE_153", TYPE_INT, RW),
    plain(ATTR_NOTICE_N1, "NOTICE_N1", TYPE_INT, RO),
    plain(ATTR_NOTICE_TEXT, "NOTICE_TEXT", TYPE_STRING, RO),
    plain(ATTR_NOTICE_W1, "NOTICE_W1", TYPE_INT, RO),
    plain(ATTR_NOTICE_N2, "NOTICE_N2", TYPE_INT, RW),
    plain(ATTR_NOTICE_W2, "NOTICE_W2", TYPE_INT, RW),
    plain(ATTR_PAIR_SESSION, "PAIR_SESSION", TYPE_INT, RO),
    plain(ATTR_PAIR_NAME, "PAIR_NAME", TYPE_STRING, RO),
    plain(ATTR_SESSION_TEXT_1, "SESSION_TEXT_1", TYPE_STRING, RO),
    plain(ATTR_SESSION_TEXT_2, "SESSION_TEXT_2", TYPE_STRING, RO),
    plain(ATTR_SESSION_RECORD_TEXT, "SESSION_RECORD_TEXT", TYPE_STRING, RW),
    plain(ATTR_SESSION_RECORD_N1, "SESSION_RECORD_N1", TYPE_INT, RW),
    plain(ATTR_SESSION_RECORD_N2, "SESSION_RECORD_N2", TYPE_INT, RW),
    plain(ATTR_SESSION_RECORD_N3, "SESSION_RECORD_N3", TYPE_INT, RW),
    plain(ATTR_SESSION_RECORD_W, "SESSION_RECORD_W", TYPE_INT, RW),
    plain(ATTR_SESSION_RECORD_FLAG, "SESSION_RECORD_FLAG", TYPE_BOOL, RW),
    plain(ATTR_ENTRY_NAME, "ENTRY_NAME", TYPE_STRING, RW),
    plain(ATTR_ENTRY_TEXT_1, "ENTRY_TEXT_1", TYPE_STRING, RW),
    plain(ATTR_ENTRY_TEXT_2, "ENTRY_TEXT_2", TYPE_STRING, RW),
    plain(ATTR_ENTRY_TEXT_3, "ENTRY_TEXT_3", TYPE_STRING, RW),
    plain(ATTR_ENTRY_NUMBER, "ENTRY_NUMBER", TYPE_INT, RW),
    plain(ATTR_ENTRY_KIND, "ENTRY_KIND", TYPE_BOOL, RW),
    plain(ATTR_ENTRY_B1, "ENTRY_B1", TYPE_INT, RO),
    plain(ATTR_ENTRY_N1, "ENTRY_N1", TYPE_INT, RO),
    plain(ATTR_ENTRY_N2, "ENTRY_N2", TYPE_INT, RO),
    plain(ATTR_ENTRY_N3, "ENTRY_N3", TYPE_INT, RO),
    plain(ATTR_ENTRY_W, "ENTRY_W", TYPE_INT, RO),
    plain(ATTR_ENTRY_N4, "ENTRY_N4", TYPE_INT, RO),
    plain(ATTR_ENTRY_B2, "ENTRY_B2", TYPE_INT, RO),
    plain(ATTR_WORLD_RESULT_VALUE, "WORLD_RESULT_VALUE", TYPE_BOOL, RO),
};

constexpr bool table_in_order() {
    for (int k = 0; k < ATTR_COUNT; ++k)
        if (ATTRIBUTE_TYPES[k].number != k) return false;
    return true;
}
static_assert(table_in_order(), "every row of ATTRIBUTE_TYPES sits at its own number");

constexpr bool world_defaults_cover_37_to_91() {
    for (int k = 0; k < ATTR_COUNT; ++k)
        if (ATTRIBUTE_TYPES[k].has_default != (k >= ATTR_WORLD_PROP_00 && k <= ATTR_WORLD_PROP_60)) return false;
    return true;
}
static_assert(world_defaults_cover_37_to_91());

// The "" handed out for every unset string.
constexpr const char* EMPTY_TEXT = "";

bool in_range(int number) { return number >= 0 && number < ATTR_COUNT; }

AttributeType type_of(int number) { return ATTRIBUTE_TYPES[number].type; }

bool is_number(int number) { return type_of(number) == TYPE_INT || type_of(number) == TYPE_BOOL; }

// Replaces a slot's block with a copy of `length` bytes (plus a NUL for text).
// The old block stays when the copy cannot be made.
int slot_replace(AttributeSlot& slot, const void* bytes, size_t length, bool text) {
    void* copy = nullptr;
    if (length > 0) {
        copy = std::malloc(length + (text ? 1 : 0));
        if (copy == nullptr) return REASON_OUT_OF_MEMORY;
        std::memcpy(copy, bytes, length);
        if (text) static_cast<char*>(copy)[length] = '\0';
    }
    std::free(slot.block);
    slot.block = copy;
    slot.length = text ? 0 : static_cast<uint8_t>(length);
    return 0;
}

// The standard decimal-to-integer reading, clamped instead of overflowing.
int32_t text_to_int(const char* text) {
    if (text == nullptr) return 0;
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

AttributeStore* current_store() {
    if (!library.started || library.current_instance == nullptr) return nullptr;
    return library.current_instance->attributes;
}

// The checks every public setter makes, in their fixed order.
int public_set_check(int number) {
    if (!library.started) return REASON_NOT_INITIALIZED;
    if (library.current_instance == nullptr) return REASON_NO_INSTANCE;
    if (store_read_only(number) != 0) return REASON_READ_ONLY;
    return 0;
}

}  // namespace

AttributeStore* store_create() { return static_cast<AttributeStore*>(std::calloc(1, sizeof(AttributeStore))); }

void store_destroy(AttributeStore* store) {
    if (store == nullptr) return;
    for (auto& slot : store->slots) std::free(slot.block);
    std::free(store);
}

int store_int(const AttributeStore* store, int number) {
    if (!in_range(number) || !is_number(number)) return 0;
    return static_cast<int32_t>(store->slots[number].value);
}

float store_float(const AttributeStore* store, int number) {
    if (!in_range(number) || type_of(number) != TYPE_FLOAT) return 0.0f;
    return std::bit_cast<float>(store->slots[number].value);
}

const char* store_string(const AttributeStore* store, int number) {
    if (!in_range(number) || type_of(number) != TYPE_STRING) return nullptr;
    const void* block = store->slots[number].block;
    return block != nullptr ? static_cast<const char*>(block) : EMPTY_TEXT;
}

const uint8_t* store_data(const AttributeStore* store, int number, int* length) {
    if (!in_range(number) || type_of(number) != TYPE_DATA) {
        if (length != nullptr) *length = 0;
        return nullptr;
    }
    if (length != nullptr) *length = store->slots[number].length;
    return static_cast<const uint8_t*>(store->slots[number].block);
}

int store_int_set(AttributeStore* store, int number, int value) {
    if (!in_range(number)) return REASON_INVALID_ATTRIBUTE;
    if (!is_number(number)) return REASON_TYPE_MISMATCH;
    if (type_of(number) == TYPE_BOOL) value = value != 0;
    store->slots[number].value = static_cast<uint32_t>(value);
    return 0;
}

int store_float_set(AttributeStore* store, int number, float value) {
    if (!in_range(number)) return REASON_INVALID_ATTRIBUTE;
    if (type_of(number) != TYPE_FLOAT) return REASON_TYPE_MISMATCH;
    store->slots[number].value = std::bit_cast<uint32_t>(value);
    return 0;
}

int store_string_set(AttributeStore* store, int number, const char* text) {
    if (!in_range(number)) return REASON_INVALID_ATTRIBUTE;
    if (type_of(number) != TYPE_STRING) return REASON_TYPE_MISMATCH;
    const size_t length = text == nullptr ? 0 : strnlen(text, 256);
    if (length > 255) return REASON_STRING_TOO_LONG;
    return slot_replace(store->slots[number], text, length, true);
}

int store_data_set(AttributeStore* store, int number, const uint8_t* bytes, int length) {
    if (!in_range(number)) return REASON_INVALID_ATTRIBUTE;
    if (type_of(number) != TYPE_DATA) return REASON_TYPE_MISMATCH;
    if (length < 0 || length > 255) return REASON_STRING_TOO_LONG;
    if (bytes == nullptr) length = 0;
    return slot_replace(store->slots[number], bytes, static_cast<size_t>(length), false);
}

int store_set_text(AttributeStore* store, int number, const char* text) {
    if (!in_range(number)) return REASON_INVALID_ATTRIBUTE;
    switch (type_of(number)) {
    case TYPE_INT:
        return store_int_set(store, number, text_to_int(text));
    case TYPE_BOOL:
        return store_int_set(store, number, text != nullptr && (text[0] == 'Y' || text[0] == 'y'));
    case TYPE_FLOAT:
        return store_float_set(store, number, text == nullptr ? 0.0f : static_cast<float>(std::strtod(text, nullptr)));
    case TYPE_STRING:
        return store_string_set(store, number, text);
    case TYPE_DATA:
        break;
    }
    return 0;
}

int store_read_only(int number) {
    if (!in_range(number)) return REASON_INVALID_ATTRIBUTE;
    return ATTRIBUTE_TYPES[number].read_only ? 1 : 0;
}

void store_world_defaults(AttributeStore* store) {
    for (const auto& info : ATTRIBUTE_TYPES) {
        if (!info.has_default) continue;
        switch (info.type) {
        case TYPE_INT:
        case TYPE_BOOL:
            store_int_set(store, info.number, info.int_default);
            break;
        case TYPE_FLOAT:
            store_float_set(store, info.number, info.float_default);
            break;
        case TYPE_STRING:
            store_string_set(store, info.number, info.text_default);
            break;
        case TYPE_DATA:
            store_data_set(store, info.number, nullptr, 0);
            break;
        }
    }
}

const char* attribute_name(int number) { return in_range(number) ? ATTRIBUTE_TYPES[number].name : nullptr; }

}  // namespace worldlink

using namespace worldlink;

int wl_int(int attribute) {
    const AttributeStore* store = current_store();
    return store != nullptr ? store_int(store, attribute) : 0;
}

const char* wl_string(int attribute) {
    const AttributeStore* store = current_store();
    return store != nullptr ? store_string(store, attribute) : nullptr;
}

int wl_int_set(int attribute, int value) {
    const int reason = public_set_check(attribute);
    return reason != 0 ? reason : store_int_set(current_store(), attribute, value);
}

int wl_bool_set(int attribute, int value) { return wl_int_set(attribute, value); }

int wl_float_set(int attribute, float value) {
    const int reason = public_set_check(attribute);
    return reason != 0 ? reason : store_float_set(current_store(), attribute, value);
}

int wl_string_set(int attribute, const char* text) {
    const int reason = public_set_check(attribute);
    return reason != 0 ? reason : store_string_set(current_store(), attribute, text);
}
