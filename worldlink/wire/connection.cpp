#include "worldlink/wire/wire.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace worldlink {

namespace {

// A frame's two length bytes share the receive buffer with its content.
constexpr int LENGTH_BYTES = 2;

Connection* connection_wrap(TcpLink* link) {
    auto* connection = static_cast<Connection*>(std::malloc(sizeof(Connection)));
    if (!connection) return nullptr;
    connection->link = link;
    connection->reason = 0;
    connection->address = link->address;
    connection->port = link->port;
    connection->recv_unread = 0;
    connection->recv_read_pos = 0;
    connection->recv_write_pos = 0;
    connection->recv_ahead = 0;
    connection->frame_clear = false;
    connection->pending_length = 0;
    connection->send_fill = 0;
    connection->hold_output = false;
    connection->message_start = 0;
    connection->message_left = 0;
    connection->last_send_at = tick_now();
    connection->recv_cipher = nullptr;
    connection->send_cipher = nullptr;
    connection->watch = LinkWatch{nullptr, 0, -1, false};
    connection->recv_buffer = nullptr;
    connection->send_buffer = nullptr;
    connection->recv_capacity = 0;
    connection->send_capacity = 0;
    return connection;
}

// Makes room for `needed` bytes (at most CONNECTION_BUFFER) in a buffer that
// grows by doubling; false when the memory is not there.
bool buffer_reserve(uint8_t** buffer, int* capacity, int needed) {
    if (needed <= *capacity) return true;
    int grown = std::max(*capacity, CONNECTION_BUFFER_START);
    while (grown < needed) grown *= 2;
    grown = std::min(grown, CONNECTION_BUFFER);
    auto* moved = static_cast<uint8_t*>(std::realloc(*buffer, static_cast<size_t>(grown)));
    if (!moved) return false;
    *buffer = moved;
    *capacity = grown;
    return true;
}

// Gives back the room a large frame borrowed, once the buffer is drained.
void buffer_shrink(uint8_t** buffer, int* capacity) {
    if (*capacity <= CONNECTION_BUFFER_START) return;
    auto* moved = static_cast<uint8_t*>(std::realloc(*buffer, CONNECTION_BUFFER_START));
    if (!moved) return;
    *buffer = moved;
    *capacity = CONNECTION_BUFFER_START;
}

// Moves up to `wanted` bytes received ahead into the current frame; how
// many it moved.
int take_ahead(Connection* connection, int wanted) {
    const int taken = std::min(wanted, connection->recv_ahead);
    connection->recv_ahead -= taken;
    connection->recv_unread += taken;
    connection->recv_write_pos += taken;
    return taken;
}

// Brings up to `wanted` more bytes of the current frame, never beyond it.
// One receive fills whatever room the buffer has, so the frames queued
// behind this one come without a call of their own; they wait after the
// frame's end, still as sent, until each is whole and deciphered in turn.
int connection_fill(Connection* connection, int wanted) {
    if (!connection->link) return WIRE_NO_CONNECTION;
    if (connection->recv_write_pos + wanted >= CONNECTION_BUFFER) return WIRE_IN_BUFFER_FULL;
    wanted -= take_ahead(connection, wanted);
    if (wanted == 0) return 0;
    if (!buffer_reserve(&connection->recv_buffer, &connection->recv_capacity, connection->recv_write_pos + wanted)) {
        connection_record(connection, WIRE_OUT_OF_MEMORY);
        return WIRE_OUT_OF_MEMORY;
    }
    int received = 0;
    const int reason = tcp_receive(connection->link, connection->recv_buffer + connection->recv_write_pos,
                                   connection->recv_capacity - connection->recv_write_pos, &received);
    if (reason != 0) {
        connection_record(connection, reason);
        return reason;
    }
    connection->recv_ahead = received;
    take_ahead(connection, wanted);
    if (connection->recv_ahead > 0) watch_owe(connection);
    return 0;
}

void connection_drop_ciphers(Connection* connection) {
    rc4_destroy(connection->recv_cipher);
    rc4_destroy(connection->send_cipher);
    connection->recv_cipher = nullptr;
    connection->send_cipher = nullptr;
}

}  // namespace

int connection_open(uint32_t address, uint16_t port, Connection** out) {
    if (!out) return WIRE_NULL_POINTER;
    *out = nullptr;
    TcpLink* link = nullptr;
    const int reason = tcp_create(address, port, &link);
    if (reason != 0) return reason;
    Connection* connection = connection_wrap(link);
    if (!connection) {
        tcp_destroy(link);
        return WIRE_OUT_OF_MEMORY;
    }
    connection->address = address;
    connection->port = port;
    *out = connection;
    return 0;
}

int connection_adopt(SocketHandle handle, Connection** out) {
    if (!out) return WIRE_NULL_POINTER;
    *out = nullptr;
    TcpLink* link = nullptr;
    const int reason = tcp_adopt(handle, &link);
    if (reason != 0) return reason;
    Connection* connection = connection_wrap(link);
    if (!connection) {
        tcp_destroy(link);
        return WIRE_OUT_OF_MEMORY;
    }
    *out = connection;
    return 0;
}

void connection_close(Connection* connection) {
    if (!connection) return;
    watch_forget(connection);
    tcp_destroy(connection->link);
    connection_drop_ciphers(connection);
    std::free(connection->recv_buffer);
    std::free(connection->send_buffer);
    std::free(connection);
}

int connection_reason(const Connection* connection) { return connection ? connection->reason : WIRE_NOT_OPEN; }

uint32_t connection_connect_deadline(const Connection* connection) { return tcp_connect_deadline(connection->link); }

uint32_t connection_last_send(const Connection* connection) { return connection ? connection->last_send_at : 0; }

bool connection_has_cipher(const Connection* connection) { return connection && connection->send_cipher; }

bool connection_connecting(const Connection* connection) {
    return connection && connection->link && connection->link->connecting;
}

int connection_connected(Connection* connection) {
    if (!connection) return WIRE_NOT_OPEN;
    if (connection->reason != 0) return connection->reason;
    const bool connecting = connection_connecting(connection);
    const int reason = tcp_connected(connection->link);
    if (reason != 0 && reason != WIRE_NOT_YET) connection_record(connection, reason);
    if (reason == 0 && connecting) watch_connected(connection);
    return reason;
}

SocketHandle connection_handle(const Connection* connection) {
    return connection && connection->link ? connection->link->handle : NO_SOCKET;
}

void connection_record(Connection* connection, int reason) {
    if (!connection || connection->reason != 0) return;
    connection->reason = reason;
    watch_owe(connection);
}

uint8_t connection_read_byte(Connection* connection) {
    if (connection->reason != 0) return 0;
    if (connection->recv_unread == 0) {
        connection_record(connection, WIRE_STREAM_EMPTY);
        return 0;
    }
    if (connection->recv_read_pos >= CONNECTION_BUFFER) {
        connection_record(connection, WIRE_PROTOCOL_ERROR);
        return 0;
    }
    --connection->recv_unread;
    --connection->message_left;
    const uint8_t byte = connection->recv_buffer[connection->recv_read_pos++];
    return connection->recv_cipher && !connection->frame_clear ? rc4_byte(connection->recv_cipher, byte) : byte;
}

void connection_put_byte(Connection* connection, uint8_t byte) {
    if (connection->reason != 0) return;
    if (connection->send_fill >= CONNECTION_BUFFER) {
        connection_record(connection, WIRE_OUT_BUFFER_FULL);
        return;
    }
    if (!buffer_reserve(&connection->send_buffer, &connection->send_capacity, connection->send_fill + 1)) {
        connection_record(connection, WIRE_OUT_OF_MEMORY);
        return;
    }
    connection->send_buffer[connection->send_fill++] = byte;
}

int connection_receive(Connection* connection) {
    if (!connection) return WIRE_NOT_OPEN;
    if (connection->reason != 0) return connection->reason;
    if (connection_connecting(connection)) {
        const int reason = connection_connected(connection);
        if (reason != 0) return reason;
    }
    if (connection->send_fill > 0) {
        const int reason = connection_flush(connection);
        if (reason != 0) return reason;
    }
    // A frame handed over and not yet ended by the codec is still the
    // current one; reading its content as the next length would derail the
    // stream.
    if (connection->pending_length == 0 && connection->message_left > 0) return 0;
    if (connection->pending_length == 0) {
        if (connection->recv_unread < LENGTH_BYTES) {
            const int reason = connection_fill(connection, LENGTH_BYTES - connection->recv_unread);
            if (reason != 0) return reason;
            if (connection->recv_unread < LENGTH_BYTES) return WIRE_NOT_YET;
        }
        const int high = connection_read_byte(connection);
        const int low = connection_read_byte(connection);
        if (connection->reason != 0) return connection->reason;
        connection->message_left = 0;
        connection->pending_length = static_cast<uint16_t>(high * 256 + low);
        if (connection->pending_length == 0) {
            // Nothing of an empty frame stays behind, so a run of them can
            // never creep up to the end of the buffer.
            connection_frame_done(connection);
            return WIRE_NOT_YET;
        }
        if (connection->pending_length > CONNECTION_BUFFER) {
            connection->pending_length = 0;
            return WIRE_MESSAGE_TOO_LONG;
        }
    }
    if (connection->recv_unread < connection->pending_length) {
        const int reason = connection_fill(connection, connection->pending_length - connection->recv_unread);
        if (reason != 0) return reason;
        if (connection->recv_unread < connection->pending_length) return WIRE_NOT_YET;
    }
    connection->message_left = connection->pending_length;
    connection->pending_length = 0;
    // The keystream runs over every byte of a frame in order, so the whole
    // content can be deciphered at once rather than byte by byte as read.
    if (connection->recv_cipher) {
        rc4_apply(connection->recv_cipher, connection->recv_buffer + connection->recv_read_pos, connection->message_left);
        connection->frame_clear = true;
    }
    return 0;
}

int connection_flush(Connection* connection) {
    if (!connection) return WIRE_NOT_OPEN;
    // After a failure the buffer may end in half a message: never send it.
    if (connection->reason != 0) return connection->reason;
    if (connection->send_fill == 0) return 0;
    if (!connection->link) return WIRE_NO_CONNECTION;
    if (connection_connecting(connection)) {
        // Bytes packed before the connect ends wait for it, as on a full socket.
        const int reason = connection_connected(connection);
        if (reason == WIRE_NOT_YET) watch_owe(connection);
        if (reason != 0) return reason == WIRE_NOT_YET ? 0 : reason;
    }
    int taken = 0;
    const int reason = tcp_send(connection->link, connection->send_buffer, connection->send_fill, &taken);
    if (reason == WIRE_NOT_YET) {
        // A non-blocking socket may take part of the buffer under load; keep
        // the rest for the next flush rather than dropping a healthy link.
        if (taken > 0) {
            connection->send_fill -= taken;
            std::memmove(connection->send_buffer, connection->send_buffer + taken, static_cast<size_t>(connection->send_fill));
        }
        watch_owe(connection);
        return 0;
    }
    if (reason != 0) {
        connection_record(connection, reason);
        return reason;
    }
    connection->last_send_at = tick_now();
    connection->send_fill = 0;
    buffer_shrink(&connection->send_buffer, &connection->send_capacity);
    return 0;
}

void connection_frame_done(Connection* connection) {
    // The next frame starts at the front, so the frame limits count from there.
    if (connection->recv_ahead > 0)
        std::memmove(connection->recv_buffer, connection->recv_buffer + connection->recv_write_pos,
                     static_cast<size_t>(connection->recv_ahead));
    connection->recv_read_pos = 0;
    connection->recv_write_pos = 0;
    connection->frame_clear = false;
    if (connection->recv_ahead <= CONNECTION_BUFFER_START)
        buffer_shrink(&connection->recv_buffer, &connection->recv_capacity);
}

Connection* connection_wait(int count, Connection* const* connections, int timeout_ms) {
    if (count <= 0 || !connections) return nullptr;
    // Bytes already received are input that no socket announces again.
    for (int k = 0; k < count; ++k)
        if (connections[k] && connections[k]->recv_ahead > 0) return connections[k];
    auto* links = static_cast<TcpLink**>(std::malloc(sizeof(TcpLink*) * static_cast<size_t>(count)));
    if (!links) return nullptr;
    for (int k = 0; k < count; ++k) links[k] = connections[k] ? connections[k]->link : nullptr;
    const TcpLink* ready = tcp_wait(count, links, timeout_ms);
    std::free(links);
    if (!ready) return nullptr;
    for (int k = 0; k < count; ++k)
        if (connections[k] && connections[k]->link == ready) return connections[k];
    return nullptr;
}

void connection_start_ciphers(Connection* connection, int receive_discard, int send_discard) {
    if (!connection) return;
    connection_drop_ciphers(connection);
    Rc4State* receive = rc4_create(LINK_KEY, sizeof LINK_KEY);
    Rc4State* send = rc4_create(LINK_KEY, sizeof LINK_KEY);
    if (!receive || !send) {
        // Half a cipher would garble one direction silently; fail the link.
        rc4_destroy(receive);
        rc4_destroy(send);
        connection_record(connection, WIRE_OUT_OF_MEMORY);
        return;
    }
    rc4_skip(receive, receive_discard);
    rc4_skip(send, send_discard);
    connection->recv_cipher = receive;
    connection->send_cipher = send;
}

void connection_unseal(Connection* connection) {
    if (!connection || connection->reason != 0 || connection->recv_unread <= 0) return;
    Rc4State* seal = rc4_create(LINK_KEY, sizeof LINK_KEY);
    if (!seal) {
        connection_record(connection, WIRE_OUT_OF_MEMORY);
        return;
    }
    rc4_apply(seal, connection->recv_buffer + connection->recv_read_pos, connection->recv_unread);
    rc4_destroy(seal);
}

}  // namespace worldlink
