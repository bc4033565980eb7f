#include "worldlink/wire/wire.h"

#include <cstring>

namespace worldlink {

namespace {

constexpr int MAX_STRING = 255;

void put_word(Connection* connection, uint32_t value) {
    connection_put_byte(connection, static_cast<uint8_t>(value >> 8));
    connection_put_byte(connection, static_cast<uint8_t>(value));
}

void put_long(Connection* connection, uint32_t value) {
    put_word(connection, value >> 16);
    put_word(connection, value);
}

void put_bytes(Connection* connection, const void* bytes, int count) {
    const auto* b = static_cast<const uint8_t*>(bytes);
    for (int k = 0; k < count; ++k) connection_put_byte(connection, b[k]);
}

void put_string(Connection* connection, const char* text) {
    if (!text) text = "";
    const size_t length = strnlen(text, MAX_STRING + 1);
    if (length > MAX_STRING) {
        connection_record(connection, WIRE_STRING_TOO_LONG);
        return;
    }
    connection_put_byte(connection, static_cast<uint8_t>(length));
    put_bytes(connection, text, static_cast<int>(length));
}

void put_data(Connection* connection, int length, const void* bytes) {
    if (length < 0 || length > MAX_STRING) {
        connection_record(connection, WIRE_STRING_TOO_LONG);
        return;
    }
    if (!bytes && length > 0) {
        connection_record(connection, WIRE_NULL_POINTER);
        return;
    }
    connection_put_byte(connection, static_cast<uint8_t>(length));
    put_bytes(connection, bytes, length);
}

// Completes the message begun at message_start: seal, length, stream
// cipher, then hand everything pending to the transport.
int finish_message(Connection* connection, bool sealed) {
    if (connection->reason != 0) return connection->reason;
    const int length = connection->send_fill - connection->message_start - 2;
    uint8_t* frame = connection->send_buffer + connection->message_start;
    if (length >= 1) {
        if (sealed && !connection->send_cipher) {
            Rc4State* seal = rc4_create(LINK_KEY, sizeof LINK_KEY);
            if (!seal) {
                // Sending the login in clear is never an option.
                connection_record(connection, WIRE_OUT_OF_MEMORY);
                return connection->reason;
            }
            rc4_apply(seal, frame + 3, length - 1);
            rc4_destroy(seal);
        }
        frame[0] = static_cast<uint8_t>(length >> 8);
        frame[1] = static_cast<uint8_t>(length);
        if (connection->send_cipher) rc4_apply(connection->send_cipher, frame, length + 2);
    }
    if (!connection->hold_output || connection->send_fill >= CONNECTION_BUFFER / 2) connection_flush(connection);
    return connection->reason;
}

uint32_t read_word(Connection* connection) {
    const uint32_t high = connection_read_byte(connection);
    return high << 8 | connection_read_byte(connection);
}

void read_bytes(Connection* connection, uint8_t* out, int count) {
    for (int k = 0; k < count; ++k) out[k] = connection_read_byte(connection);
}

// A failed read leaves zeros in the item's output, never a half-read value.
void clear_output(const UnpackItem& item) {
    switch (item.code) {
    case FIELD_BYTE:
        if (item.out) *static_cast<uint8_t*>(item.out) = 0;
        break;
    case FIELD_WORD:
        if (item.out) *static_cast<uint16_t*>(item.out) = 0;
        break;
    case FIELD_LONG:
    case FIELD_ADDRESS:
        if (item.out) std::memset(item.out, 0, 4);
        break;
    case FIELD_STRING:
        if (item.out) std::memset(item.out, 0, MAX_STRING + 1);
        break;
    case FIELD_DATA:
        if (item.out) *static_cast<int*>(item.out) = 0;
        if (item.out2) std::memset(item.out2, 0, MAX_STRING);
        break;
    case FIELD_REMAINING:
        if (item.out) *static_cast<int*>(item.out) = 0;
        break;
    default:
        break;
    }
}

void read_item(Connection* connection, const UnpackItem& item) {
    switch (item.code) {
    case FIELD_BYTE: {
        const uint8_t value = connection_read_byte(connection);
        if (item.out) *static_cast<uint8_t*>(item.out) = value;
        break;
    }
    case FIELD_WORD: {
        const auto value = static_cast<uint16_t>(read_word(connection));
        if (item.out) *static_cast<uint16_t*>(item.out) = value;
        break;
    }
    case FIELD_LONG: {
        const uint32_t high = read_word(connection);
        const auto value = static_cast<int32_t>(high << 16 | read_word(connection));
        if (item.out) *static_cast<int32_t*>(item.out) = value;
        break;
    }
    case FIELD_ADDRESS: {
        uint8_t bytes[4];
        read_bytes(connection, bytes, 4);
        if (item.out) std::memcpy(item.out, bytes, 4);
        break;
    }
    case FIELD_STRING: {
        uint8_t text[MAX_STRING + 1];
        const int length = connection_read_byte(connection);
        read_bytes(connection, text, length);
        text[length] = 0;
        if (item.out) std::memcpy(item.out, text, static_cast<size_t>(length) + 1);
        break;
    }
    case FIELD_DATA: {
        uint8_t bytes[MAX_STRING];
        const int length = connection_read_byte(connection);
        read_bytes(connection, bytes, length);
        if (item.out) *static_cast<int*>(item.out) = length;
        if (item.out2) std::memcpy(item.out2, bytes, static_cast<size_t>(length));
        break;
    }
    case FIELD_REMAINING:
        if (item.out) *static_cast<int*>(item.out) = connection->message_left;
        break;
    case FIELD_SKIP:
        for (int k = 0; k < item.count && connection->reason == 0; ++k) connection_read_byte(connection);
        break;
    default:
        break;
    }
}

}  // namespace

int msg_pack(Connection* connection, std::initializer_list<PackItem> items) {
    if (!connection) return WIRE_NOT_OPEN;
    bool sealed = false;
    for (const PackItem& item : items) {
        switch (item.code) {
        case FIELD_BEGIN_SEALED:
        case FIELD_BEGIN:
            sealed = item.code == FIELD_BEGIN_SEALED;
            if (connection->reason == 0) connection->message_start = connection->send_fill;
            put_word(connection, 0);
            connection_put_byte(connection, static_cast<uint8_t>(item.value));
            break;
        case FIELD_BYTE:
            connection_put_byte(connection, static_cast<uint8_t>(item.value));
            break;
        case FIELD_WORD:
            put_word(connection, static_cast<uint32_t>(item.value));
            break;
        case FIELD_LONG:
            put_long(connection, static_cast<uint32_t>(item.value));
            break;
        case FIELD_ADDRESS:
            put_bytes(connection, &item.value, 4);
            break;
        case FIELD_BYTE_STRING:
            connection_put_byte(connection, static_cast<uint8_t>(item.value));
            put_string(connection, static_cast<const char*>(item.pointer));
            break;
        case FIELD_STRING:
            put_string(connection, static_cast<const char*>(item.pointer));
            break;
        case FIELD_DATA:
            put_data(connection, item.value, item.pointer);
            break;
        case FIELD_STOP:
            return connection->reason;
        case FIELD_END:
            return finish_message(connection, sealed);
        default:
            break;
        }
    }
    return connection->reason;
}

int msg_unpack(Connection* connection, std::initializer_list<UnpackItem> items) {
    if (!connection) return WIRE_NOT_OPEN;
    for (const UnpackItem& item : items) {
        if (item.code == FIELD_STOP) return connection->reason;
        if (item.code == FIELD_END) {
            connection_frame_done(connection);
            if (connection->message_left != 0) connection_record(connection, WIRE_BAD_LENGTH);
            return connection->reason;
        }
        if (connection->reason == 0) read_item(connection, item);
        if (connection->reason != 0) clear_output(item);
    }
    return connection->reason;
}

}  // namespace worldlink
