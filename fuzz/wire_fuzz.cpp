// Deterministic fuzz driver for the inbound path: random and mutated frames
// go through connection_receive and msg_unpack over a loopback socket pair,
// with and without ciphers. Any crash, sanitizer report or broken invariant
// fails the run. Usage: wire_fuzz [iterations] [seed]
#include "tests/support/socket_pair.h"
#include "worldlink/wire/wire.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace worldlink;

namespace {

struct Random {
    uint64_t state;
    uint64_t next() {
        state += 0x9E3779B97F4A7C15ull;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int bound) { return static_cast<int>(next() % static_cast<uint64_t>(bound)); }
};

bool fail(const char* what, int iteration) {
    std::fprintf(stderr, "wire_fuzz: %s (iteration %d)\n", what, iteration);
    return false;
}

// Frames that look like the key messages or a chat line, then damaged.
std::vector<uint8_t> make_stream(Random& random) {
    std::vector<uint8_t> stream;
    const int frames = 1 + random.below(4);
    for (int f = 0; f < frames; ++f) {
        std::vector<uint8_t> content;
        switch (random.below(4)) {
        case 0:
            content = {0x00, 0x16, 0x00, 0x01, 0x00, 0x02};
            break;
        case 1:
            content = {0x11, 0x00, 0x01, 0x00, 0x02};
            break;
        case 2:
            content = {0x2A, 0x05, 'h', 'e', 'l', 'l', 'o', 0x03, 1, 2, 3};
            break;
        default:
            content.resize(static_cast<size_t>(random.below(600)));
            for (auto& b : content) b = static_cast<uint8_t>(random.next());
        }
        for (int flips = random.below(3); flips > 0 && !content.empty(); --flips)
            content[static_cast<size_t>(random.below(static_cast<int>(content.size())))] = static_cast<uint8_t>(random.next());
        int length = static_cast<int>(content.size());
        if (random.below(8) == 0) length = random.below(65536);
        stream.push_back(static_cast<uint8_t>(length >> 8));
        stream.push_back(static_cast<uint8_t>(length));
        stream.insert(stream.end(), content.begin(), content.end());
    }
    if (random.below(4) == 0) stream.resize(static_cast<size_t>(random.below(static_cast<int>(stream.size()) + 1)));
    return stream;
}

UnpackItem random_item(Random& random, uint8_t& byte, uint16_t& word, int32_t& number, char (&text)[256], int& length,
                       uint8_t (&data)[255]) {
    switch (random.below(9)) {
    case 0: return unpack_byte(&byte);
    case 1: return unpack_word(&word);
    case 2: return unpack_long(&number);
    case 3: return unpack_string(text);
    case 4: return unpack_data(&length, data);
    case 5: return unpack_address(reinterpret_cast<uint32_t*>(&number));
    case 6: return unpack_remaining(&length);
    case 7: return unpack_skip(random.below(40));
    default: return UnpackItem{random.below(20), nullptr, nullptr, 0};
    }
}

bool run_one(Random& random, int iteration) {
    SocketPair ends;
    if (!ends.ok()) return fail("socket pair", iteration);
    Connection* connection = nullptr;
    if (connection_adopt(ends.take(0), &connection) != 0) return fail("adopt", iteration);
    if (random.below(2)) connection_start_ciphers(connection, random.below(70000), random.below(70000));

    const std::vector<uint8_t> stream = make_stream(random);
    if (!send_all(ends.end(1), stream)) return fail("send", iteration);
    // Closing after the stream makes the peer's end arrive behind it.
    if (random.below(3) == 0) ends.close(1);

    bool ok = true;
    for (int step = 0; step < 64 && ok; ++step) {
        const int reason = connection_receive(connection);
        if (reason == WIRE_NOT_YET) {
            if (connection_wait(1, &connection, 1) == nullptr) break;
            continue;
        }
        if (reason != 0) break;
        if (connection->recv_unread != connection->message_left || connection->recv_write_pos > CONNECTION_BUFFER)
            ok = fail("frame counters out of step", iteration);
        uint8_t byte;
        uint16_t word;
        int32_t number;
        char text[256];
        int length;
        uint8_t data[255];
        const UnpackItem a = random_item(random, byte, word, number, text, length, data);
        const UnpackItem b = random_item(random, byte, word, number, text, length, data);
        const UnpackItem c = random_item(random, byte, word, number, text, length, data);
        int left = 0;
        msg_unpack(connection, {a, b, c, unpack_remaining(&left), unpack_stop()});
        if (left < 0) ok = fail("negative remaining count", iteration);
        if (connection_reason(connection) == 0) msg_unpack(connection, {unpack_skip(left), unpack_end()});
        if (connection_reason(connection) != 0) break;
    }
    connection_close(connection);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    // Held across the run so the pairs do not start and stop the socket layer each time.
    const NetworkInUse network;
    const int iterations = argc > 1 ? std::atoi(argv[1]) : 2000;
    Random random{argc > 2 ? std::strtoull(argv[2], nullptr, 0) : 0x5EEDull};
    for (int k = 0; k < iterations; ++k)
        if (!run_one(random, k)) return 1;
    std::printf("wire_fuzz: %d iterations clean\n", iterations);
    return 0;
}
