// A loopback server that plays a universe or a world server for one test.
//
// Conventions:
// 1. The peer listens on 127.0.0.1 at an ephemeral port (port()). A background
//    thread accepts every connection (link 0, 1, 2 ... in order of arrival),
//    reads what the client sends, deciphers it and queues it as PeerFrames.
// 2. Step mode: the test alternates library calls (wl_wait(0)) and peer calls
//    (expect, send). Every peer wait is bounded in real time.
// 3. Auto replies: rules installed with on() run on the peer's thread the moment
//    a frame of their type arrives, so a blocking library call (wl_login) gets
//    its answer while it blocks. A rule must not call the library.
// 4. Frames the peer sends are encoded here, independently of the library's
//    codec; after send_key() both directions run through RC4 from LINK_KEY.
// 5. Time inside the library comes from the wire clock: install a FakeClock
//    before wl_init and move it instead of sleeping. A frozen clock never lets
//    wl_wait with a positive time end: pump with wl_wait(0) (see eventually).
#pragma once

#include "tests/support/fake_clock.h"
#include "tests/support/socket_pair.h"
#include "worldlink/messages.h"
#include "worldlink/wire/wire.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace worldlink;

// Fields of a frame the peer sends, encoded as the codec would (big-endian,
// strings as a length byte and the characters).
class Body {
public:
    Body& byte(int value);
    Body& word(int value);
    Body& dword(int32_t value);
    Body& string(const std::string& text);
    Body& data(const std::vector<uint8_t>& bytes);
    // Four bytes as they lie in memory (an IPv4 address in network order).
    Body& address(uint32_t network_order);
    Body& raw(const std::vector<uint8_t>& bytes);
    const std::vector<uint8_t>& bytes() const { return content; }

private:
    std::vector<uint8_t> content;
};

// One frame the client sent: its type and the bytes after the type byte.
struct PeerFrame {
    int link = -1;
    int type = -1;
    std::vector<uint8_t> body;
};

// Reads a PeerFrame's fields in order, from its own copy of the bytes.
// Reading past the end yields zeros, and done() is false from then on.
class FieldReader {
public:
    explicit FieldReader(const PeerFrame& frame) : bytes(frame.body) {}

    uint8_t byte();
    uint16_t word();
    int32_t dword();
    std::string string();
    bool done() const { return !overrun && position == bytes.size(); }

private:
    uint8_t next();
    std::vector<uint8_t> bytes;
    size_t position = 0;
    bool overrun = false;
};

enum class PeerRole { universe, world };

class ScriptedPeer {
public:
    using Action = std::function<void(ScriptedPeer&, const PeerFrame&)>;

    explicit ScriptedPeer(PeerRole role);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    // The listening port, host order. The address is always 127.0.0.1.
    uint16_t port() const { return listen_port; }
    static constexpr const char* host = "127.0.0.1";
    // The listening address and port in network order, as the library holds them.
    uint32_t address_network() const;
    uint16_t port_network() const;

    // Links are numbered in order of arrival; -1 below means the newest.
    int link_count();
    bool wait_links(int count, int timeout_ms = 3000);
    bool closed(int link = -1);
    bool wait_closed(int link = -1, int timeout_ms = 3000);
    void close(int link = -1);

    // Sending. A universe frame is result, type, fields; a world frame is
    // type, fields (result is ignored).
    void send(int link, int type, const Body& body = Body(), int result = 0);
    void send(int type, const Body& body = Body(), int result = 0) { send(-1, type, body, result); }
    // The key message; then both of this link's directions run enciphered.
    // The counts are the client's: what it drops before reading and writing.
    void send_key(int link, int client_receive_discard, int client_send_discard);
    // A whole frame from its content (length added here), or plain stream bytes;
    // both are enciphered once the link has its keys.
    void send_content(int link, const std::vector<uint8_t>& content);
    void send_raw(int link, const std::vector<uint8_t>& bytes);

    // Receiving: frames not taken by a rule, in order of arrival.
    bool next(PeerFrame& frame, int timeout_ms = 3000);
    // The next frame, which must be of this type (a test failure otherwise).
    PeerFrame expect(int type, int timeout_ms = 3000);
    // True when no unread frame is queued or arrives within the time (for
    // "sends nothing").
    bool quiet(int milliseconds = 150);
    // Everything received, rule-handled frames included.
    std::vector<PeerFrame> history();
    int count(int type);
    bool wait_count(int type, int count, int timeout_ms = 3000);

    // Auto replies: the action runs for the next `times` frames of the type
    // (negative: every one). Later rules for the same type come first.
    void on(int type, Action action, int times = -1);
    void clear_rules();
    static Action reply(int type, const Body& body = Body(), int result = 0);
    // Replies to MSG_LOGIN with MSG_LOGIN_REPLY: session and text.
    static Action accept_login(int session, const std::string& text = "");
    static Action refuse_login(int result);

private:
    struct Link {
        Connection* connection = nullptr;
        bool closed = false;
    };
    struct Rule {
        int type;
        Action action;
        int times;
    };

    void serve();
    void accept_pending();
    void receive(int index);
    bool read_frame(Connection* connection, PeerFrame& frame);
    void handle(PeerFrame frame);
    void write_stream(int link, const std::vector<uint8_t>& bytes);
    int resolve(int link);
    bool sealed_type(int type) const;

    NetworkInUse network;  // first: it outlives every socket below
    PeerRole role;
    SocketHandle listener = NO_SOCKET;
    uint16_t listen_port = 0;
    std::recursive_mutex mutex;
    std::condition_variable_any changed;
    std::vector<Link> links;
    std::deque<PeerFrame> pending;
    std::vector<PeerFrame> received;
    std::vector<Rule> rules;
    std::atomic<bool> stopping{false};
    std::thread worker;
};

// Polls the condition until it holds or the real-time limit passes; the
// condition may call the library (for example wl_wait(0)).
bool eventually(const std::function<bool()>& condition, int timeout_ms = 3000);
