// RC4 throughput beside OpenSSL's, and the cost of sending one state change
// (pack, encipher, flush) over a loopback TCP connection.
#include "worldlink/wire/wire.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <openssl/rc4.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

using namespace worldlink;

namespace {

void ours(benchmark::State& state) {
    std::vector<uint8_t> buffer(static_cast<size_t>(state.range(0)), 0x5A);
    Rc4State* rc4 = rc4_create(LINK_KEY, sizeof LINK_KEY);
    for (auto _ : state) {
        rc4_apply(rc4, buffer.data(), static_cast<int>(buffer.size()));
        benchmark::DoNotOptimize(buffer.data());
    }
    rc4_destroy(rc4);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void openssl(benchmark::State& state) {
    std::vector<uint8_t> buffer(static_cast<size_t>(state.range(0)), 0x5A);
    RC4_KEY key;
    RC4_set_key(&key, sizeof LINK_KEY, LINK_KEY);
    for (auto _ : state) {
        RC4(&key, buffer.size(), buffer.data(), buffer.data());
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void ours_byte_at_a_time(benchmark::State& state) {
    std::vector<uint8_t> buffer(static_cast<size_t>(state.range(0)), 0x5A);
    Rc4State* rc4 = rc4_create(LINK_KEY, sizeof LINK_KEY);
    for (auto _ : state) {
        for (auto& b : buffer) b = rc4_byte(rc4, b);
        benchmark::DoNotOptimize(buffer.data());
    }
    rc4_destroy(rc4);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void key_setup_with_discard(benchmark::State& state) {
    for (auto _ : state) {
        Rc4State* rc4 = rc4_create(LINK_KEY, sizeof LINK_KEY);
        rc4_skip(rc4, static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(rc4->S);
        rc4_destroy(rc4);
    }
}

// A client Connection with ciphers running, and the accepted server socket
// whose bytes are drained (and dropped) as they arrive.
struct LoopbackLink {
    Connection* client = nullptr;
    SocketHandle listener = NO_SOCKET;
    SocketHandle server = NO_SOCKET;

    bool open() {
        const uint32_t loopback = htonl(INADDR_LOOPBACK);
        uint16_t port = 0;
        if (tcp_listen(loopback, 0, &listener, &port) != 0) return false;
        if (connection_open(loopback, port, &client) != 0) return false;
        pollfd watch{static_cast<int>(listener), POLLIN, 0};
        for (int tries = 0; tries < 100 && tcp_accept(listener, &server) == WIRE_NOT_YET; ++tries) poll(&watch, 1, 10);
        if (server < 0) return false;
        connection_start_ciphers(client, 0, 1234);
        return true;
    }
    void drain() const {
        static uint8_t sink[65536];
        while (recv(server, sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
    }
    ~LoopbackLink() {
        connection_close(client);
        if (server >= 0) close(server);
        if (listener >= 0) close(listener);
    }
};

void send_state_change(benchmark::State& state) {
    LoopbackLink link;
    if (!link.open()) {
        state.SkipWithError("no loopback connection");
        return;
    }
    int32_t x = 0;
    int64_t sent = 0;
    for (auto _ : state) {
        ++x;
        const int reason = msg_pack(link.client, {pack_begin(8), pack_long(x), pack_long(-x), pack_long(2000), pack_word(1800),
                                                  pack_byte(1), pack_byte(0), pack_end()});
        if (reason != 0) {
            state.SkipWithError("pack failed");
            break;
        }
        sent += 18;
        if ((x & 63) == 0) link.drain();
    }
    state.SetBytesProcessed(sent);
    state.SetItemsProcessed(state.iterations());
}

double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Our RC4 throughput over OpenSSL's: process CPU time, the two taking turns
// on 1 MiB blocks so both see the same machine; the median of 9 turns.
double rc4_ratio() {
    constexpr int TURNS = 9;
    constexpr int BLOCKS = 16;
    std::vector<uint8_t> buffer(1 << 20, 0x5A);
    Rc4State* rc4 = rc4_create(LINK_KEY, sizeof LINK_KEY);
    RC4_KEY key;
    RC4_set_key(&key, sizeof LINK_KEY, LINK_KEY);
    std::vector<double> ratios;
    for (int turn = 0; turn < TURNS; ++turn) {
        const double start = cpu_seconds();
        for (int b = 0; b < BLOCKS; ++b) RC4(&key, buffer.size(), buffer.data(), buffer.data());
        const double middle = cpu_seconds();
        for (int b = 0; b < BLOCKS; ++b) rc4_apply(rc4, buffer.data(), static_cast<int>(buffer.size()));
        const double end = cpu_seconds();
        benchmark::DoNotOptimize(buffer.data());
        ratios.push_back((middle - start) / (end - middle));
    }
    rc4_destroy(rc4);
    std::nth_element(ratios.begin(), ratios.begin() + TURNS / 2, ratios.end());
    return ratios[TURNS / 2];
}

}  // namespace

BENCHMARK(ours)->Name("rc4/ours")->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(openssl)->Name("rc4/openssl")->Arg(64)->Arg(4096)->Arg(1 << 20);
BENCHMARK(ours_byte_at_a_time)->Name("rc4/ours_byte_at_a_time")->Arg(4096);
BENCHMARK(key_setup_with_discard)->Name("rc4/key_setup_and_discard")->Arg(0)->Arg(65535);
BENCHMARK(send_state_change)->Name("connection/send_state_change");

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("rc4_vs_openssl %.2f\n", rc4_ratio());
    return 0;
}
