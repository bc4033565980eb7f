#include "tests/support/scripted_peer.h"

#include <gtest/gtest.h>

#include "worldlink/wire/platform.h"

#include <chrono>
#include <thread>

using Lock = std::unique_lock<std::recursive_mutex>;

ScriptedPeer::ScriptedPeer(PeerRole peer_role) : role(peer_role) {
    uint16_t bound = 0;
    const int reason = tcp_listen(net_order32(LOOPBACK_ADDRESS), 0, &listener, &bound);
    if (reason != 0) {
        ADD_FAILURE() << "the scripted peer cannot listen: " << reason;
        listener = NO_SOCKET;
        return;
    }
    listen_port = net_order16(bound);
    worker = std::thread([this] { serve(); });
}

ScriptedPeer::~ScriptedPeer() {
    stopping = true;
    if (worker.joinable()) worker.join();
    for (auto& link : links) connection_close(link.connection);
    if (listener != NO_SOCKET) socket_close(listener);
}

uint32_t ScriptedPeer::address_network() const { return net_order32(LOOPBACK_ADDRESS); }

uint16_t ScriptedPeer::port_network() const { return net_order16(listen_port); }

void ScriptedPeer::serve() {
    std::vector<SocketHandle> watched;
    while (!stopping) {
        watched.clear();
        {
            Lock lock(mutex);
            accept_pending();
            for (int k = 0; k < static_cast<int>(links.size()); ++k)
                if (!links[k].closed) receive(k);
            watched.push_back(listener);
            for (const auto& link : links)
                if (!link.closed) watched.push_back(connection_handle(link.connection));
        }
        socket_wait(watched.data(), static_cast<int>(watched.size()), 2);
    }
}

void ScriptedPeer::accept_pending() {
    for (int guard = 0; guard < 16; ++guard) {
        SocketHandle handle = NO_SOCKET;
        if (tcp_accept(listener, &handle) != 0) return;
        Connection* connection = nullptr;
        if (connection_adopt(handle, &connection) != 0) continue;
        links.push_back({connection, false});
        changed.notify_all();
    }
}

void ScriptedPeer::receive(int index) {
    // Bounded, so one chatty link cannot hold the lock for long.
    for (int guard = 0; guard < 64 && !links[index].closed; ++guard) {
        Connection* connection = links[index].connection;
        int reason = connection_reason(connection);
        if (reason == 0) reason = connection_receive(connection);
        if (reason == WIRE_NOT_YET) return;
        PeerFrame frame;
        if (reason != 0 || !read_frame(connection, frame)) {
            connection_close(connection);
            links[index] = {nullptr, true};
            changed.notify_all();
            return;
        }
        frame.link = index;
        handle(std::move(frame));
    }
}

bool ScriptedPeer::sealed_type(int type) const {
    if (role == PeerRole::universe) return type == MSG_LOGIN;
    return type == MSG_WORLD_LOGIN_V1 || type == MSG_WORLD_LOGIN_V2 || type == MSG_WORLD_LOGIN_V3 ||
           type == MSG_WORLD_LOGIN_V4;
}

bool ScriptedPeer::read_frame(Connection* connection, PeerFrame& frame) {
    uint8_t type = 0;
    int left = 0;
    if (msg_unpack(connection, {unpack_byte(&type), unpack_remaining(&left), unpack_stop()}) != 0) return false;
    // A login sent before the key message has its fields sealed.
    if (sealed_type(type) && connection->recv_cipher == nullptr) connection_unseal(connection);
    frame.type = type;
    frame.body.resize(left);
    for (auto& byte : frame.body)
        if (msg_unpack(connection, {unpack_byte(&byte), unpack_stop()}) != 0) return false;
    return msg_unpack(connection, {unpack_end()}) == 0;
}

void ScriptedPeer::handle(PeerFrame frame) {
    received.push_back(frame);
    for (auto rule = rules.rbegin(); rule != rules.rend(); ++rule) {
        if (rule->type != frame.type || rule->times == 0) continue;
        if (rule->times > 0) --rule->times;
        const Action action = rule->action;  // the action may change the rules
        action(*this, frame);
        changed.notify_all();
        return;
    }
    pending.push_back(std::move(frame));
    changed.notify_all();
}

int ScriptedPeer::resolve(int link) {
    const int index = link < 0 ? static_cast<int>(links.size()) - 1 : link;
    if (index < 0 || index >= static_cast<int>(links.size())) {
        ADD_FAILURE() << "the scripted peer has no link " << link;
        return -1;
    }
    return index;
}

int ScriptedPeer::link_count() {
    Lock lock(mutex);
    return static_cast<int>(links.size());
}

bool ScriptedPeer::wait_links(int count, int timeout_ms) {
    Lock lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                            [&] { return static_cast<int>(links.size()) >= count; });
}

bool ScriptedPeer::closed(int link) {
    Lock lock(mutex);
    const int index = resolve(link);
    return index < 0 || links[index].closed;
}

bool ScriptedPeer::wait_closed(int link, int timeout_ms) {
    Lock lock(mutex);
    const int index = resolve(link);
    if (index < 0) return false;
    return changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return links[index].closed; });
}

void ScriptedPeer::close(int link) {
    Lock lock(mutex);
    const int index = resolve(link);
    if (index < 0 || links[index].closed) return;
    connection_close(links[index].connection);
    links[index] = {nullptr, true};
    changed.notify_all();
}

void ScriptedPeer::write_stream(int link, const std::vector<uint8_t>& bytes) {
    Lock lock(mutex);
    const int index = resolve(link);
    if (index < 0 || links[index].closed) return;
    Connection* connection = links[index].connection;
    if (connection->send_fill + static_cast<int>(bytes.size()) > CONNECTION_BUFFER) {
        ADD_FAILURE() << "the scripted peer's send buffer is full";
        return;
    }
    const int start = connection->send_fill;
    for (uint8_t byte : bytes) connection_put_byte(connection, byte);
    if (connection->send_cipher != nullptr && connection->send_fill > start)
        rc4_apply(connection->send_cipher, connection->send_buffer + start, connection->send_fill - start);
    connection_flush(connection);
}

void ScriptedPeer::send_content(int link, const std::vector<uint8_t>& content) {
    std::vector<uint8_t> frame{static_cast<uint8_t>(content.size() >> 8), static_cast<uint8_t>(content.size())};
    frame.insert(frame.end(), content.begin(), content.end());
    write_stream(link, frame);
}

void ScriptedPeer::send_raw(int link, const std::vector<uint8_t>& bytes) { write_stream(link, bytes); }

void ScriptedPeer::send(int link, int type, const Body& body, int result) {
    std::vector<uint8_t> content;
    if (role == PeerRole::universe) content.push_back(static_cast<uint8_t>(result));
    content.push_back(static_cast<uint8_t>(type));
    content.insert(content.end(), body.bytes().begin(), body.bytes().end());
    send_content(link, content);
}

void ScriptedPeer::send_key(int link, int client_receive_discard, int client_send_discard) {
    Lock lock(mutex);
    const int index = resolve(link);
    if (index < 0 || links[index].closed) return;
    const int type = role == PeerRole::universe ? int{MSG_UNIVERSE_KEY} : int{MSG_WORLD_KEY};
    send(index, type, Body().word(client_receive_discard).word(client_send_discard));
    // What the client sends, this end receives: the counts cross over.
    connection_start_ciphers(links[index].connection, client_send_discard, client_receive_discard);
}

bool ScriptedPeer::next(PeerFrame& frame, int timeout_ms) {
    Lock lock(mutex);
    if (!changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return !pending.empty(); }))
        return false;
    frame = std::move(pending.front());
    pending.pop_front();
    return true;
}

PeerFrame ScriptedPeer::expect(int type, int timeout_ms) {
    PeerFrame frame;
    if (!next(frame, timeout_ms)) {
        ADD_FAILURE() << "no frame arrived; expected type " << type;
        return frame;
    }
    if (frame.type != type) ADD_FAILURE() << "expected a frame of type " << type << ", got type " << frame.type;
    return frame;
}

bool ScriptedPeer::quiet(int milliseconds) {
    Lock lock(mutex);
    return !changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return !pending.empty(); });
}

std::vector<PeerFrame> ScriptedPeer::history() {
    Lock lock(mutex);
    return received;
}

int ScriptedPeer::count(int type) {
    Lock lock(mutex);
    int total = 0;
    for (const auto& frame : received) total += frame.type == type;
    return total;
}

bool ScriptedPeer::wait_count(int type, int wanted, int timeout_ms) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    Lock lock(mutex);
    return changed.wait_until(lock, limit, [&] { return count(type) >= wanted; });
}

void ScriptedPeer::on(int type, Action action, int times) {
    Lock lock(mutex);
    rules.push_back({type, std::move(action), times});
}

void ScriptedPeer::clear_rules() {
    Lock lock(mutex);
    rules.clear();
}

ScriptedPeer::Action ScriptedPeer::reply(int type, const Body& body, int result) {
    return [type, body, result](ScriptedPeer& peer, const PeerFrame& frame) { peer.send(frame.link, type, body, result); };
}

ScriptedPeer::Action ScriptedPeer::accept_login(int session, const std::string& text) {
    return reply(MSG_LOGIN_REPLY, Body().word(session).string(text));
}

ScriptedPeer::Action ScriptedPeer::refuse_login(int result) { return reply(MSG_LOGIN_REPLY, Body(), result); }

bool eventually(const std::function<bool()>& condition, int timeout_ms) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
