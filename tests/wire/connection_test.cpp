#include "wire_test_support.h"

#include <algorithm>
#include <cstring>

namespace {

using wiretest::Bytes;
using wiretest::LinkedPair;

Bytes frame_header(int length) { return {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)}; }

struct FrameAssembly : ::testing::Test {
    wiretest::FakeClock clock;
    LinkedPair pair;
    Connection* c = pair.connection;

    // Reads a whole frame of `length` bytes and checks its content bytes.
    void expect_frame(const Bytes& content) {
        ASSERT_EQ(pair.receive_frame(), 0);
        EXPECT_EQ(c->message_left, static_cast<int>(content.size()));
        Bytes got(content.size());
        for (auto& b : got) EXPECT_EQ(msg_unpack(c, {unpack_byte(&b), unpack_stop()}), 0);
        EXPECT_EQ(msg_unpack(c, {unpack_end()}), 0);
        EXPECT_EQ(got, content);
    }
};

TEST_F(FrameAssembly, BytesArrivingOneAtATime) {
    const Bytes frame = {0x00, 0x03, 0xA1, 0xA2, 0xA3};
    for (size_t k = 0; k + 1 < frame.size(); ++k) {
        pair.write({frame[k]});
        EXPECT_EQ(connection_receive(c), WIRE_NOT_YET) << "after byte " << k;
    }
    pair.write({frame.back()});
    expect_frame({0xA1, 0xA2, 0xA3});
}

TEST_F(FrameAssembly, EmptyFramesAreConsumedAndNeverFillTheBuffer) {
    Bytes stream;
    for (int k = 0; k < 20000; ++k) stream.insert(stream.end(), {0, 0});
    stream.insert(stream.end(), {0, 1, 0x42});
    pair.write(stream);
    int reason = WIRE_NOT_YET;
    for (int k = 0; k < 20001 && reason == WIRE_NOT_YET; ++k) reason = connection_receive(c);
    ASSERT_EQ(reason, 0);
    uint8_t byte = 0;
    EXPECT_EQ(msg_unpack(c, {unpack_byte(&byte), unpack_end()}), 0);
    EXPECT_EQ(byte, 0x42);
}

TEST_F(FrameAssembly, LargestFrameThatFits) {
    Bytes stream = frame_header(32765);
    stream.resize(2 + 32765, 0x33);
    pair.write(stream);
    ASSERT_EQ(pair.receive_frame(), 0);
    int left = 0;
    EXPECT_EQ(msg_unpack(c, {unpack_remaining(&left), unpack_skip(32765), unpack_end()}), 0);
    EXPECT_EQ(left, 32765);
}

TEST_F(FrameAssembly, TooLongLengthsAreReturnedNotRecorded) {
    for (int length : {32766, 32767, 32768, 32769, 65535}) {
        LinkedPair fresh;
        fresh.write(frame_header(length));
        const int expected = length > CONNECTION_BUFFER ? WIRE_MESSAGE_TOO_LONG : WIRE_IN_BUFFER_FULL;
        EXPECT_EQ(fresh.receive_frame(), expected) << length;
        EXPECT_EQ(connection_reason(fresh.connection), 0) << length;
        EXPECT_EQ(fresh.connection->pending_length, length > CONNECTION_BUFFER ? 0 : length) << length;
    }
}

TEST_F(FrameAssembly, ReceivingAgainKeepsTheUnreadFrame) {
    pair.write({0, 2, 0x10, 0x11, 0, 1, 0x20});
    ASSERT_EQ(pair.receive_frame(), 0);
    uint8_t first = 0;
    ASSERT_EQ(msg_unpack(c, {unpack_byte(&first), unpack_stop()}), 0);
    // The frame is still being read: its last byte must not become a length.
    EXPECT_EQ(connection_receive(c), 0);
    uint8_t second = 0;
    EXPECT_EQ(msg_unpack(c, {unpack_byte(&second), unpack_end()}), 0);
    EXPECT_EQ(second, 0x11);
    expect_frame({0x20});
}

TEST_F(FrameAssembly, PeerCloseIsStickyForEveryLaterCall) {
    close(pair.peer);
    pair.peer = -1;
    EXPECT_EQ(pair.receive_frame(), WIRE_RECEIVE_FAILED);
    EXPECT_EQ(connection_reason(c), WIRE_RECEIVE_FAILED);
    EXPECT_EQ(connection_receive(c), WIRE_RECEIVE_FAILED);
    EXPECT_EQ(msg_pack(c, {pack_begin(32), pack_end()}), WIRE_RECEIVE_FAILED);
    uint8_t byte = 0xFF;
    EXPECT_EQ(msg_unpack(c, {unpack_byte(&byte), unpack_end()}), WIRE_RECEIVE_FAILED);
    EXPECT_EQ(byte, 0);
}

TEST_F(FrameAssembly, WaitReturnsTheFirstConnectionWithInput) {
    LinkedPair other;
    Connection* both[] = {nullptr, pair.connection, other.connection};
    EXPECT_EQ(connection_wait(3, both, 20), nullptr);
    other.write({0});
    pair.write({0});
    EXPECT_EQ(connection_wait(3, both, 2000), pair.connection);
    Connection* none[] = {nullptr, nullptr};
    EXPECT_EQ(connection_wait(2, none, 0), nullptr);
}

TEST(ConnectionNull, NullIsNotOpen) {
    EXPECT_EQ(connection_reason(nullptr), WIRE_NOT_OPEN);
    EXPECT_EQ(connection_receive(nullptr), WIRE_NOT_OPEN);
    EXPECT_EQ(msg_pack(nullptr, {pack_begin(1), pack_end()}), WIRE_NOT_OPEN);
    EXPECT_EQ(msg_unpack(nullptr, {unpack_end()}), WIRE_NOT_OPEN);
    EXPECT_EQ(connection_last_send(nullptr), 0u);
    EXPECT_FALSE(connection_has_cipher(nullptr));
    EXPECT_EQ(connection_handle(nullptr), -1);
    connection_close(nullptr);
    connection_start_ciphers(nullptr, 1, 2);
}

struct BlockedSend : ::testing::Test {
    wiretest::FakeClock clock;
    LinkedPair pair;
    Connection* c = pair.connection;
};

TEST_F(BlockedSend, BytesWaitInTheBufferUntilTheSocketTakesThem) {
    const size_t filler = pair.choke();
    EXPECT_EQ(msg_pack(c, {pack_begin(32), pack_end()}), 0);
    EXPECT_EQ(c->send_fill, 3);
    EXPECT_EQ(pair.read(filler).size(), filler);
    EXPECT_EQ(connection_receive(c), WIRE_NOT_YET);  // flushes first
    EXPECT_EQ(c->send_fill, 0);
    EXPECT_EQ(pair.read(3), (Bytes{0x00, 0x01, 0x20}));
}

TEST_F(BlockedSend, TwentySecondsWithoutProgressIsATimeout) {
    const uint32_t opened = connection_last_send(c);
    pair.choke();
    clock.advance(20000);
    EXPECT_EQ(msg_pack(c, {pack_begin(32), pack_end()}), 0);
    EXPECT_EQ(connection_last_send(c), opened);
    clock.advance(1);
    EXPECT_EQ(connection_flush(c), WIRE_TIMEOUT);
    EXPECT_EQ(connection_reason(c), WIRE_TIMEOUT);
}

TEST_F(BlockedSend, CompletedSendMovesTheIdleClock) {
    clock.advance(500);
    EXPECT_EQ(msg_pack(c, {pack_begin(6), pack_end()}), 0);
    EXPECT_EQ(connection_last_send(c), tick_now());
    clock.advance(500);
    pair.write({0, 1, 0});
    ASSERT_EQ(pair.receive_frame(), 0);
    EXPECT_EQ(tick_elapsed(tick_now(), connection_last_send(c)), 500u) << "receiving must not move it";
}

TEST_F(BlockedSend, PartialSendsKeepTheRestInOrder) {
    const size_t filler = pair.choke();
    uint8_t block[200];
    Bytes expected;
    for (int k = 0; k < 40; ++k) {
        for (uint8_t& b : block) b = static_cast<uint8_t>(k);
        ASSERT_EQ(msg_pack(c, {pack_begin(7), pack_data(sizeof block, block), pack_end()}), 0);
        const Bytes frame{0x00, 202, 7, 200};
        expected.insert(expected.end(), frame.begin(), frame.end());
        expected.insert(expected.end(), std::begin(block), std::end(block));
    }
    // Drain in small bites so the socket keeps taking part of the buffer.
    EXPECT_EQ(pair.read(filler).size(), filler);
    Bytes arrived;
    for (int tries = 0; tries < 2000 && arrived.size() < expected.size(); ++tries) {
        ASSERT_EQ(connection_flush(c), 0);
        const Bytes bite = pair.read(std::min<size_t>(333, expected.size() - arrived.size()));
        arrived.insert(arrived.end(), bite.begin(), bite.end());
    }
    EXPECT_EQ(connection_reason(c), 0);
    EXPECT_EQ(c->send_fill, 0);
    EXPECT_EQ(arrived, expected);
}

}  // namespace
