// The world link at message level: the dispatcher and one handler per inbound
// type. Handlers read their fields, store them in the instance's attributes
// and fire at most one kind of event. A codec failure ends a handler at once;
// the dispatcher then reports the link's sticky reason and the service pass
// loses the link.
#include "worldlink/library.h"

#include <cstring>

namespace worldlink {

namespace {

constexpr int CELL_SPAN = 1000;  // world units per cell
constexpr int PROP_60_MAX = 999;

using Text = char[256];

int signed_word(uint16_t value) { return static_cast<int16_t>(value); }

void put(Instance* instance, int attribute, int value) { store_int_set(instance->attributes, attribute, value); }

void put_text(Instance* instance, int attribute, const char* text) {
    store_string_set(instance->attributes, attribute, text);
}

// True once the message being read may no longer be touched: an event handler
// destroyed the instance, or closed or replaced its world link.
// Destroying the instance closes its links too, and a closed link is no
// longer marked as being read (world_dispatch marks it).
bool left_behind(const Connection* link) { return !link_busy(link); }

// ---------------------------------------------------------------- avatars

const char* avatar_find(Instance* instance, uint32_t session) { return avatars_name(instance->avatars, session); }

const char* avatar_name_or_empty(Instance* instance, uint32_t session) {
    const char* name = avatar_find(instance, session);
    return name == nullptr ? "" : name;
}

// The session a session message is about, and its name ("" when unknown).
void put_session(Instance* instance, int32_t session) {
    put(instance, ATTR_AVATAR_SESSION, session);
    put_text(instance, ATTR_AVATAR_NAME, avatar_name_or_empty(instance, static_cast<uint32_t>(session)));
}

// Build below 28: session (2), name, x, y, z (4 each), heading (2), type (1),
// second value (1); unread bytes after them are tolerated.
// Build 28 and above: session (4), the same, then a 2-byte value and two
// 4-byte values.
void avatar_add(Instance* instance, Connection* link) {
    uint16_t short_session = 0, yaw = 0, w1 = 0;
    int32_t session = 0, x = 0, y = 0, z = 0, n1 = -1, n2 = -1;
    uint8_t type = 0, extra = 0;
    Text name;
    if (instance->world_build < 28) {
        int left = 0;
        if (msg_unpack(link, {unpack_word(&short_session), unpack_string(name), unpack_long(&x), unpack_long(&y),
                              unpack_long(&z), unpack_word(&yaw), unpack_byte(&type), unpack_byte(&extra),
                              unpack_remaining(&left), unpack_stop()}) != 0)
            return;
        // Older worlds may append fields; they are passed over, and the
        // frame still ends here so the next one is read from its start.
        if (msg_unpack(link, {unpack_skip(left), unpack_end()}) != 0) return;
        session = short_session;
        w1 = 0;
    } else if (msg_unpack(link, {unpack_long(&session), unpack_string(name), unpack_long(&x), unpack_long(&y),
                                 unpack_long(&z), unpack_word(&yaw), unpack_byte(&type), unpack_byte(&extra),
                                 unpack_word(&w1), unpack_long(&n1), unpack_long(&n2), unpack_end()}) != 0) {
        return;
    }
    avatars_put(instance->avatars, static_cast<uint32_t>(session), name);
    if (!event_installed(EVENT_AVATAR_ADD)) return;
    put(instance, ATTR_AVATAR_SESSION, session);
    put_text(instance, ATTR_AVATAR_NAME, name);
    put(instance, ATTR_AVATAR_X, x);
    put(instance, ATTR_AVATAR_Y, y);
    put(instance, ATTR_AVATAR_Z, z);
    put(instance, ATTR_AVATAR_YAW, signed_word(yaw));
    put(instance, ATTR_AVATAR_TYPE, type);
    put(instance, ATTR_AVATAR_EXTRA, extra);
    put(instance, ATTR_AVATAR_W1, w1);
    put(instance, ATTR_AVATAR_N1, n1);
    put(instance, ATTR_AVATAR_N2, n2);
    event_fire(instance, EVENT_AVATAR_ADD);
}

// Session (2).
void avatar_delete(Instance* instance, Connection* link) {
    uint16_t session = 0;
    if (msg_unpack(link, {unpack_word(&session), unpack_end()}) != 0) return;
    uint32_t key = session;
    const bool heard = event_installed(EVENT_AVATAR_DELETE);
    if (heard) {
        if (const char* name = avatar_find(instance, key)) put_text(instance, ATTR_AVATAR_NAME, name);
        put(instance, ATTR_AVATAR_SESSION, session);
    }
    // Forgotten even when nobody listens, or every visitor that ever left
    // would stay in the table for as long as the world link lasts.
    avatars_remove(instance->avatars, key);
    if (heard) event_fire(instance, EVENT_AVATAR_DELETE);
}

// Session (2), x, y, z (4 each), heading (2), type (1), second value (1).
void avatar_change(Instance* instance, Connection* link) {
    uint16_t session = 0, yaw = 0;
    int32_t x = 0, y = 0, z = 0;
    uint8_t type = 0, extra = 0;
    if (msg_unpack(link, {unpack_word(&session), unpack_long(&x), unpack_long(&y), unpack_long(&z),
                          unpack_word(&yaw), unpack_byte(&type), unpack_byte(&extra), unpack_end()}) != 0)
        return;
    if (!event_installed(EVENT_AVATAR_CHANGE)) return;
    put_text(instance, ATTR_AVATAR_NAME, avatar_name_or_empty(instance, session));
    put(instance, ATTR_AVATAR_SESSION, session);
    put(instance, ATTR_AVATAR_X, x);
    put(instance, ATTR_AVATAR_Y, y);
    put(instance, ATTR_AVATAR_Z, z);
    put(instance, ATTR_AVATAR_YAW, signed_word(yaw));
    put(instance, ATTR_AVATAR_TYPE, type);
    put(instance, ATTR_AVATAR_EXTRA, extra);
    event_fire(instance, EVENT_AVATAR_CHANGE);
}

// ---------------------------------------------------------------- chat

// Speaker session (2), text. Lines from sessions never announced are dropped.
void chat(Instance* instance, Connection* link, int chat_type) {
    uint16_t session = 0;
    Text text;
    if (msg_unpack(link, {unpack_word(&session), unpack_string(text), unpack_end()}) != 0) return;
    if (!event_installed(EVENT_CHAT)) return;
    const char* name = avatar_find(instance, session);
    if (name == nullptr) return;
    put_text(instance, ATTR_AVATAR_NAME, name);
    put(instance, ATTR_CHAT_SESSION, session);
    put_text(instance, ATTR_CHAT_MESSAGE, text);
    put(instance, ATTR_CHAT_TYPE, chat_type);
    event_fire(instance, EVENT_CHAT);
}

void chat_0(Instance* instance, Connection* link) { chat(instance, link, 0); }
void chat_1(Instance* instance, Connection* link) { chat(instance, link, 1); }
void chat_2(Instance* instance, Connection* link) { chat(instance, link, 2); }

// ---------------------------------------------------------------- cells and objects

// Number, two 4-byte values, x offset, y, z offset, a 2-byte value (2 each),
// three texts. Offsets are relative to the cell's corner.
struct ObjectRecord {
    int32_t number = 0, n2 = 0, n3 = 0;
    uint16_t x = 0, y = 0, z = 0, w1 = 0;
    Text text_1, text_2, text_3;
};

int object_read(Connection* link, ObjectRecord* record, bool last) {
    UnpackItem finish = last ? unpack_end() : unpack_stop();
    return msg_unpack(link, {unpack_long(&record->number), unpack_long(&record->n2), unpack_long(&record->n3),
                             unpack_word(&record->x), unpack_word(&record->y), unpack_word(&record->z),
                             unpack_word(&record->w1), unpack_string(record->text_1), unpack_string(record->text_2),
                             unpack_string(record->text_3), finish});
}

void object_store(Instance* instance, const ObjectRecord& record, uint16_t cell_x, uint16_t cell_z) {
    put(instance, ATTR_OBJECT_NUMBER, record.number);
    put(instance, ATTR_OBJECT_N2, record.n2);
    put(instance, ATTR_OBJECT_N3, record.n3);
    put(instance, ATTR_OBJECT_X, signed_word(record.x) + CELL_SPAN * signed_word(cell_x));
    put(instance, ATTR_OBJECT_Y, signed_word(record.y));
    put(instance, ATTR_OBJECT_Z, signed_word(record.z) + CELL_SPAN * signed_word(cell_z));
    put(instance, ATTR_OBJECT_W1, signed_word(record.w1));
    put_text(instance, ATTR_OBJECT_TEXT_1, record.text_1);
    put_text(instance, ATTR_OBJECT_TEXT_2, record.text_2);
    put_text(instance, ATTR_OBJECT_TEXT_3, record.text_3);
}

// Cell x, cell z (2 each), a 4-byte value, then object records to the end.
void cell_data(Instance* instance, Connection* link) {
    library.current_instance = instance;
    uint16_t cell_x = 0, cell_z = 0;
    int32_t n1 = 0;
    int left = 0;
    if (msg_unpack(link, {unpack_word(&cell_x), unpack_word(&cell_z), unpack_long(&n1), unpack_remaining(&left),
                          unpack_stop()}) != 0)
        return;
    put(instance, ATTR_CELL_X, signed_word(cell_x));
    put(instance, ATTR_CELL_Z, signed_word(cell_z));
    put(instance, ATTR_CELL_N1, n1);
    put(instance, ATTR_CELL_SIZE, left);
    event_fire(instance, EVENT_CELL_BEGIN);
    while (left > 0) {
        if (left_behind(link)) return;
        ObjectRecord record;
        if (object_read(link, &record, false) != 0 || msg_unpack(link, {unpack_remaining(&left), unpack_stop()}) != 0)
            return;
        object_store(instance, record, cell_x, cell_z);
        event_fire(instance, EVENT_CELL_OBJECT);
    }
    if (left_behind(link)) return;
    if (msg_unpack(link, {unpack_end()}) != 0) return;
    event_fire(instance, EVENT_CELL_END);
}

// Object head: a 2-byte value, a 4-byte value, cell x, cell z (2 each).
struct ObjectHead {
    uint16_t w0 = 0;
    int32_t n1 = 0;
    uint16_t cell_x = 0, cell_z = 0;
};

void object_head_store(Instance* instance, const ObjectHead& head) {
    put(instance, ATTR_OBJECT_W0, head.w0);
    put(instance, ATTR_CELL_N1, head.n1);
    put(instance, ATTR_CELL_X, signed_word(head.cell_x));
    put(instance, ATTR_CELL_Z, signed_word(head.cell_z));
}

int object_head_read(Connection* link, ObjectHead* head) {
    return msg_unpack(link, {unpack_word(&head->w0), unpack_long(&head->n1), unpack_word(&head->cell_x),
                             unpack_word(&head->cell_z), unpack_stop()});
}

// Object head, then one object record.
void object_add(Instance* instance, Connection* link) {
    ObjectHead head;
    ObjectRecord record;
    if (object_head_read(link, &head) != 0 || object_read(link, &record, true) != 0) return;
    if (!event_installed(EVENT_OBJECT_ADD)) return;
    object_head_store(instance, head);
    object_store(instance, record, head.cell_x, head.cell_z);
    event_fire(instance, EVENT_OBJECT_ADD);
}

// Object head, then the object's number (4).
void object_delete(Instance* instance, Connection* link) {
    ObjectHead head;
    int32_t number = 0;
    if (object_head_read(link, &head) != 0 || msg_unpack(link, {unpack_long(&number), unpack_end()}) != 0) return;
    if (!event_installed(EVENT_OBJECT_DELETE)) return;
    object_head_store(instance, head);
    put(instance, ATTR_OBJECT_NUMBER, number);
    event_fire(instance, EVENT_OBJECT_DELETE);
}

// ---------------------------------------------------------------- world state

// Number (4), result (1).
void world_result(Instance* instance, Connection* link) {
    int32_t number = 0;
    uint8_t result = 0;
    if (msg_unpack(link, {unpack_long(&number), unpack_byte(&result), unpack_end()}) != 0) return;
    instance->world_result_reason = result == 0 ? 0 : result + 200;
    put(instance, ATTR_OBJECT_NUMBER, number);
}

void world_flag(Instance* instance, Connection* link, int value) {
    if (msg_unpack(link, {unpack_end()}) != 0) return;
    put(instance, ATTR_WORLD_FLAG, value);
}

void world_flag_clear(Instance* instance, Connection* link) { world_flag(instance, link, 0); }
void world_flag_set(Instance* instance, Connection* link) { world_flag(instance, link, 1); }

// Receive discard (2), send discard (2). The ciphers start even when the
// fields were short: the link is lost then anyway.
void world_key(Instance*, Connection* link) {
    uint16_t receive_discard = 0, send_discard = 0;
    msg_unpack(link, {unpack_word(&receive_discard), unpack_word(&send_discard), unpack_end()});
    connection_start_ciphers(link, receive_discard, send_discard);
}

// Build (1), result (1).
void world_build_result(Instance* instance, Connection* link) {
    uint8_t build = 0, result = 0;
    if (msg_unpack(link, {unpack_byte(&build), unpack_byte(&result), unpack_end()}) != 0) return;
    instance->world_build = build;
    instance->last_world_result = result;
}

// ---------------------------------------------------------------- session messages (session: 4 bytes)

// Session, cell x, cell z (2 each), number (4).
void session_point(Instance* instance, Connection* link, int slot) {
    int32_t session = 0, number = 0;
    uint16_t cell_x = 0, cell_z = 0;
    if (msg_unpack(link, {unpack_long(&session), unpack_word(&cell_x), unpack_word(&cell_z), unpack_long(&number),
                          unpack_end()}) != 0)
        return;
    if (!event_installed(slot)) return;
    put_session(instance, session);
    put(instance, ATTR_CELL_X, signed_word(cell_x));
    put(instance, ATTR_CELL_Z, signed_word(cell_z));
    put(instance, ATTR_OBJECT_NUMBER, number);
    event_fire(instance, slot);
}

void session_point_a(Instance* instance, Connection* link) { session_point(instance, link, EVENT_SESSION_POINT_A); }
void session_point_b(Instance* instance, Connection* link) { session_point(instance, link, EVENT_SESSION_POINT_B); }

// Session, second session.
void session_pair(Instance* instance, Connection* link) {
    int32_t session = 0, other = 0;
    if (msg_unpack(link, {unpack_long(&session), unpack_long(&other), unpack_end()}) != 0) return;
    if (!event_installed(EVENT_SESSION_PAIR)) return;
    put_session(instance, session);
    put(instance, ATTR_PAIR_SESSION, other);
    put_text(instance, ATTR_PAIR_NAME, avatar_name_or_empty(instance, other));
    event_fire(instance, EVENT_SESSION_PAIR);
}

// Session, result (1), IPv4 address (4, as sent).
void session_address_reply(Instance* instance, Connection* link) {
    int32_t session = 0;
    uint8_t result = 0;
    uint32_t address = 0;
    if (msg_unpack(link, {unpack_long(&session), unpack_byte(&result), unpack_address(&address), unpack_end()}) != 0)
        return;
    put(instance, ATTR_AVATAR_SESSION, session);
    put(instance, ATTR_AVATAR_ADDRESS, static_cast<int32_t>(address));
    instance->last_world_result = result;
}

// Session, two texts.
void session_texts(Instance* instance, Connection* link) {
    int32_t session = 0;
    Text first, second;
    if (msg_unpack(link, {unpack_long(&session), unpack_string(first), unpack_string(second), unpack_end()}) != 0)
        return;
    if (!event_installed(EVENT_SESSION_TEXTS)) return;
    put_session(instance, session);
    put_text(instance, ATTR_SESSION_TEXT_1, first);
    put_text(instance, ATTR_SESSION_TEXT_2, second);
    event_fire(instance, EVENT_SESSION_TEXTS);
}

// Session, text, three 4-byte values, a 2-byte value, a flag (1).
void session_record(Instance* instance, Connection* link) {
    int32_t session = 0, n1 = 0, n2 = 0, n3 = 0;
    uint16_t w = 0;
    uint8_t flag = 0;
    Text text;
    if (msg_unpack(link, {unpack_long(&session), unpack_string(text), unpack_long(&n1), unpack_long(&n2),
                          unpack_long(&n3), unpack_word(&w), unpack_byte(&flag), unpack_end()}) != 0)
        return;
    if (!event_installed(EVENT_SESSION_RECORD)) return;
    put_session(instance, session);
    put_text(instance, ATTR_SESSION_RECORD_TEXT, text);
    put(instance, ATTR_SESSION_RECORD_N1, n1);
    put(instance, ATTR_SESSION_RECORD_N2, n2);
    put(instance, ATTR_SESSION_RECORD_N3, n3);
    put(instance, ATTR_SESSION_RECORD_W, signed_word(w));
    put(instance, ATTR_SESSION_RECORD_FLAG, flag);
    event_fire(instance, EVENT_SESSION_RECORD);
}

// ---------------------------------------------------------------- replies with a result byte

// Address (4, as sent), result (1).
void address_result(Instance* instance, Connection* link) {
    uint32_t address = 0;
    uint8_t result = 0;
    if (msg_unpack(link, {unpack_address(&address), unpack_byte(&result), unpack_end()}) != 0) return;
    put(instance, ATTR_ADDRESS_RECORD_ADDRESS, static_cast<int32_t>(address));
    instance->last_world_result = result;
}

// Result (1); on success address (4), two 4-byte values, text.
void address_record(Instance* instance, Connection* link) {
    uint8_t result = 0;
    if (msg_unpack(link, {unpack_byte(&result), unpack_stop()}) != 0) return;
    if (result == 0) {
        uint32_t address = 0;
        int32_t n1 = 0, n2 = 0;
        Text text;
        if (msg_unpack(link, {unpack_address(&address), unpack_long(&n1), unpack_long(&n2), unpack_string(text),
                              unpack_end()}) != 0)
            return;
        put(instance, ATTR_ADDRESS_RECORD_ADDRESS, static_cast<int32_t>(address));
        put(instance, ATTR_ADDRESS_RECORD_N1, n1);
        put(instance, ATTR_ADDRESS_RECORD_N2, n2);
        put_text(instance, ATTR_ADDRESS_RECORD_TEXT, text);
    } else if (msg_unpack(link, {unpack_end()}) != 0) {
        return;
    }
    instance->last_world_result = result;
}

// Name, result (1), number (4).
void entry_name_result(Instance* instance, Connection* link) {
    Text name;
    uint8_t result = 0;
    int32_t number = 0;
    if (msg_unpack(link, {unpack_string(name), unpack_byte(&result), unpack_long(&number), unpack_end()}) != 0) return;
    put_text(instance, ATTR_ENTRY_NAME, name);
    put(instance, ATTR_ENTRY_NUMBER, number);
    instance->last_world_result = result;
}

// Result (1), then one value of 1 or 4 bytes into `attribute`, or none.
void result_with_value(Instance* instance, Connection* link, int width, int attribute) {
    uint8_t result = 0, byte_value = 0;
    int32_t long_value = 0;
    int reason = width == 4   ? msg_unpack(link, {unpack_byte(&result), unpack_long(&long_value), unpack_end()})
                 : width == 1 ? msg_unpack(link, {unpack_byte(&result), unpack_byte(&byte_value), unpack_end()})
                              : msg_unpack(link, {unpack_byte(&result), unpack_end()});
    if (reason != 0) return;
    if (width == 4) put(instance, attribute, long_value);
    if (width == 1) put(instance, attribute, byte_value);
    instance->last_world_result = result;
}

void entry_result(Instance* instance, Connection* link) { result_with_value(instance, link, 4, ATTR_ENTRY_NUMBER); }
void world_ack_31(Instance* instance, Connection* link) {
    result_with_value(instance, link, 1, ATTR_WORLD_RESULT_VALUE);
}
void world_number_ack(Instance* instance, Connection* link) {
    result_with_value(instance, link, 4, ATTR_WORLD_NUMBER);
}
void world_ack(Instance* instance, Connection* link) { result_with_value(instance, link, 0, 0); }

// ---------------------------------------------------------------- entries

// Entries to the end of the frame: number (4), kind (1), name, three texts,
// a byte, three 4-byte values, a 2-byte value, a 4-byte value, a byte.
void entry_list(Instance* instance, Connection* link) {
    library.current_instance = instance;
    int left = 0;
    if (msg_unpack(link, {unpack_remaining(&left), unpack_stop()}) != 0) return;
    while (left > 0) {
        int32_t number = 0, n1 = 0, n2 = 0, n3 = 0, n4 = 0;
        uint8_t kind = 0, b1 = 0, b2 = 0;
        uint16_t w = 0;
        Text name, text_1, text_2, text_3;
        if (msg_unpack(link, {unpack_long(&number), unpack_byte(&kind), unpack_string(name), unpack_string(text_1),
                              unpack_string(text_2), unpack_string(text_3), unpack_byte(&b1), unpack_long(&n1),
                              unpack_long(&n2), unpack_long(&n3), unpack_word(&w), unpack_long(&n4),
                              unpack_byte(&b2), unpack_remaining(&left), unpack_stop()}) != 0)
            return;
        put(instance, ATTR_ENTRY_NUMBER, number);
        put(instance, ATTR_ENTRY_KIND, kind);
        put_text(instance, ATTR_ENTRY_NAME, name);
        put_text(instance, ATTR_ENTRY_TEXT_1, text_1);
        put_text(instance, ATTR_ENTRY_TEXT_2, text_2);
        put_text(instance, ATTR_ENTRY_TEXT_3, text_3);
        put(instance, ATTR_ENTRY_B1, b1);
        put(instance, ATTR_ENTRY_N1, n1);
        put(instance, ATTR_ENTRY_N2, n2);
        put(instance, ATTR_ENTRY_N3, n3);
        put(instance, ATTR_ENTRY_W, w);
        put(instance, ATTR_ENTRY_N4, n4);
        put(instance, ATTR_ENTRY_B2, b2);
        event_fire(instance, EVENT_ENTRY);
        if (left_behind(link)) return;
    }
    msg_unpack(link, {unpack_end()});
}

// Number (4).
void entry_notice(Instance* instance, Connection* link) {
    int32_t number = 0;
    if (msg_unpack(link, {unpack_long(&number), unpack_end()}) != 0) return;
    if (!event_installed(EVENT_ENTRY_NOTICE)) return;
    put(instance, ATTR_ENTRY_NUMBER, number);
    event_fire(instance, EVENT_ENTRY_NOTICE);
}

// ---------------------------------------------------------------- world properties

enum : int { NO_ATTRIBUTE = -1, HEX_DATA = -2 };

// Property tag to attribute; 61 and above are ignored.
constexpr int PROPERTY_TAGS = 61;
constexpr int PROPERTY_ATTRIBUTE[PROPERTY_TAGS] = {
    ATTR_WORLD_PROP_00, ATTR_WORLD_PROP_01, ATTR_WORLD_PROP_02, ATTR_WORLD_OBJECT_PATH, NO_ATTRIBUTE,        // 0-4
    ATTR_WORLD_PROP_05, ATTR_WORLD_PROP_06, ATTR_WORLD_PROP_07, ATTR_WORLD_PROP_08, NO_ATTRIBUTE,            // 5-9
    ATTR_WORLD_PROP_10, ATTR_WORLD_PROP_11, ATTR_WORLD_PROP_12, ATTR_WORLD_PROP_13, ATTR_WORLD_PROP_14,      // 10-14
    ATTR_WORLD_PROP_15, NO_ATTRIBUTE,       ATTR_WORLD_PROP_17, ATTR_WORLD_PROP_18, ATTR_WORLD_PROP_19,      // 15-19
    ATTR_WORLD_PROP_20, ATTR_WORLD_BUILD,   ATTR_WORLD_DATA,    ATTR_WORLD_PROP_23, ATTR_WORLD_PROP_24,      // 20-24
    ATTR_WORLD_PROP_25, ATTR_WORLD_PROP_26, ATTR_WORLD_PROP_27, NO_ATTRIBUTE,       ATTR_WORLD_PROP_29,      // 25-29
    ATTR_WORLD_PROP_30, ATTR_WORLD_PROP_31, ATTR_WORLD_PROP_32, ATTR_WORLD_PROP_33, NO_ATTRIBUTE,            // 30-34
    ATTR_WORLD_PROP_35, ATTR_WORLD_PROP_36, ATTR_WORLD_PROP_37, ATTR_WORLD_PROP_38, ATTR_WORLD_PROP_39,      // 35-39
    ATTR_WORLD_PROP_40, ATTR_WORLD_PROP_41, ATTR_WORLD_PROP_42, ATTR_WORLD_PROP_43, ATTR_WORLD_PROP_44,      // 40-44
    ATTR_WORLD_PROP_45, ATTR_WORLD_PROP_46, ATTR_WORLD_PROP_47, ATTR_WORLD_PROP_48, ATTR_WORLD_PROP_49,      // 45-49
    ATTR_WORLD_PROP_50, ATTR_WORLD_PROP_51, ATTR_WORLD_PROP_52, ATTR_WORLD_PROP_53, ATTR_WORLD_PROP_54,      // 50-54
    ATTR_WORLD_PROP_55, ATTR_WORLD_PROP_56, HEX_DATA,           ATTR_WORLD_PROP_58, ATTR_WORLD_PROP_59,      // 55-59
    ATTR_WORLD_PROP_60,                                                                                       // 60
};

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hexadecimal text to bytes, two digits a byte; a final odd digit is
// ignored. A text with any other character is refused whole (false), so no
// made-up byte ever reaches the attribute.
bool hex_decode(const char* text, uint8_t* out, int* length) {
    int count = static_cast<int>(strlen(text));
    for (int i = 0; i < count; ++i)
        if (hex_digit(text[i]) < 0) return false;
    *length = count / 2;
    for (int i = 0; i < *length; ++i)
        out[i] = static_cast<uint8_t>(hex_digit(text[2 * i]) * 16 + hex_digit(text[2 * i + 1]));
    return true;
}

void property_store(Instance* instance, int tag, const uint8_t* value, int length) {
    if (tag >= PROPERTY_TAGS) return;
    int attribute = PROPERTY_ATTRIBUTE[tag];
    if (attribute == NO_ATTRIBUTE) return;
    if (attribute == ATTR_WORLD_DATA) {
        store_data_set(instance->attributes, ATTR_WORLD_DATA, value, length);
        return;
    }
    char text[256];
    memcpy(text, value, static_cast<size_t>(length));
    text[length] = '\0';
    if (attribute == HEX_DATA) {
        uint8_t bytes[128];
        int count = 0;
        if (hex_decode(text, bytes, &count)) store_data_set(instance->attributes, ATTR_WORLD_DATA, bytes, count);
        return;
    }
    store_set_text(instance->attributes, attribute, text);
}

// Tagged items to the end of the frame: tag (1), value (length byte and
// bytes). Every arrival starts again from the defaults.
void world_properties(Instance* instance, Connection* link) {
    library.current_instance = instance;
    AttributeStore* store = instance->attributes;
    store_world_defaults(store);
    int left = 0;
    if (msg_unpack(link, {unpack_remaining(&left), unpack_stop()}) != 0) return;
    while (left > 0) {
        uint8_t tag = 0;
        int length = 0;
        uint8_t value[255];
        if (msg_unpack(link, {unpack_byte(&tag), unpack_data(&length, value), unpack_remaining(&left), unpack_stop()}) !=
            0)
            return;
        property_store(instance, tag, value, length);
    }
    if (store_int(store, ATTR_WORLD_PROP_60) > PROP_60_MAX) store_int_set(store, ATTR_WORLD_PROP_60, PROP_60_MAX);
    if (!store_int(store, ATTR_WORLD_PROP_14)) {
        store_data_set(store, ATTR_WORLD_DATA, nullptr, 0);
        store_string_set(store, ATTR_WORLD_OBJECT_PATH, nullptr);
    }
    if (msg_unpack(link, {unpack_end()}) != 0) return;

    int build = store_int(store, ATTR_WORLD_BUILD);
    if (build > 0) instance->world_build = build;
    if (instance->world_state != WORLD_IN && instance->world_build > 20)
        msg_pack(link, {pack_begin(MSG_EVENT_MASK), pack_long(static_cast<int32_t>(library.event_mask)), pack_end()});
    instance->world_state = WORLD_IN;
    instance->entered = 1;
    instance->world_failures = 0;
    event_fire(instance, EVENT_WORLD_PROPERTIES);
    if (left_behind(link)) return;
    if (instance->state_pending) send_state(instance);
}

// ---------------------------------------------------------------- dispatch

using Handler = void (*)(Instance*, Connection*);

constexpr int WORLD_TYPES = 38;
constexpr Handler HANDLERS[WORLD_TYPES] = {
    world_result,          // 0
    world_properties,      // 1
    avatar_add,            // 2
    avatar_delete,         // 3
    avatar_change,         // 4
    chat_1,                // 5
    cell_data,             // 6
    object_add,            // 7
    object_delete,         // 8
    nullptr,               // 9: drop
    nullptr,               // 10: drop
    nullptr,               // 11: drop both links
    chat_0,                // 12
    world_flag_clear,      // 13
    nullptr,               // 14: drop
    world_flag_set,        // 15
    nullptr,               // 16: none
    world_key,             // 17
    chat_2,                // 18
    session_point_a,       // 19
    session_point_b,       // 20
    session_pair,          // 21
    session_address_reply, // 22
    session_texts,         // 23
    session_record,        // 24
    address_result,        // 25
    address_record,        // 26
    world_build_result,    // 27
    entry_name_result,     // 28
    entry_result,          // 29
    entry_list,            // 30
    world_ack_31,          // 31
    entry_notice,          // 32
    world_ack,             // 33
    world_number_ack,      // 34
    world_ack,             // 35
    nullptr,               // 36: drop
    world_ack,             // 37
};

// The world's own ways of ending a session, with the reason each reports.
struct WorldDrop {
    int type;
    int reason;
};
constexpr WorldDrop WORLD_DROPS[] = {
    {MSG_WORLD_DROP_466, REASON_EJECTED},
    {MSG_WORLD_DROP_465, REASON_WORLD_DROPPED},
    {MSG_WORLD_DROP_467, REASON_NOT_WELCOME},
    {MSG_WORLD_DROP_489, REASON_WORLD_DROPPED_489},
};

}  // namespace

// Frame content: type (1), then the fields of that type.
int world_dispatch(Instance* instance) {
    Connection* link = instance->world_link;
    int reason = connection_receive(link);
    if (reason != 0) return reason;
    uint8_t type = 0;
    reason = msg_unpack(link, {unpack_byte(&type), unpack_stop()});
    if (reason != 0) return reason;
    instance->last_world_type = type;
    const LinkReading reading(link);
    // 0 means "nothing heard since the link started"; a message at tick 0 still counts.
    uint32_t now = tick_now();
    instance->world_heard_at = now != 0 ? now : 1;

    for (const WorldDrop& drop : WORLD_DROPS) {
        if (drop.type == type) {
            world_link_close(instance, drop.reason);
            return 0;
        }
    }
    if (type == MSG_WORLD_DROP_ALL) {
        both_links_lost(instance);
        return 0;
    }
    Handler handler = type < WORLD_TYPES ? HANDLERS[type] : nullptr;
    if (handler != nullptr) {
        handler(instance, link);
    } else {
        int left = 0;
        if (msg_unpack(link, {unpack_remaining(&left), unpack_stop()}) == 0)
            msg_unpack(link, {unpack_skip(left), unpack_end()});
    }
    // An event handler may have destroyed the instance or left the world: the
    // link read from is then gone, and is no loss to report.
    if (left_behind(link)) return 0;
    return connection_reason(link);
}

}  // namespace worldlink
