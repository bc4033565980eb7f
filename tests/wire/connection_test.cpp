#include "wire_test_support.h"

#include <algorithm>

namespace {

using wiretest::Bytes;
using wiretest::framed;
using wiretest::LinkedPair;
using wiretest::receive_frame;

struct ConnectionTest : wiretest::PairTest {
    // Receives a whole frame and checks its content bytes.
    void expect_frame(const Bytes& content) {
        ASSERT_EQ(receive_frame(c), 0);
        expect_frame_content(content);
    }
    // Reads the received frame to its end and checks its content bytes.
    void expect_frame_content(const Bytes& content) {
        EXPECT_EQ(c->message_left, static_cast<int>(content.size()));
        Bytes got(content.size());
        for (auto& b : got) EXPECT_EQ(msg_unpack(c, {unpack_byte(&b), unpack_stop()}), 0);
        EXPECT_EQ(msg_unpack(c, {unpack_end()}), 0);
        EXPECT_EQ(got, content);
    }
};

TEST_F(ConnectionTest, BytesArrivingOneAtATime) {
    const Bytes frame = {0x00, 0x03, 0xA1, 0xA2, 0xA3};
    for (size_t k = 0; k + 1 < frame.size(); ++k) {
        pair.write({frame[k]});
        EXPECT_EQ(connection_receive(c), WIRE_NOT_YET) << "after byte " << k;
    }
    pair.write({frame.back()});
    expect_frame({0xA1, 0xA2, 0xA3});
}

TEST_F(ConnectionTest, EmptyFramesAreConsumedAndNeverFillTheBuffer) {
    // More than the fixture's small socket buffers hold while nobody reads.
    LinkedPair roomy;
    c = roomy.connection;
    Bytes stream(40000, 0);
    stream.push_back(0);
    stream.push_back(1);
    stream.push_back(0x42);
    roomy.write(stream);
    int reason = WIRE_NOT_YET;
    for (int k = 0; k < 20001 && reason == WIRE_NOT_YET; ++k) reason = connection_receive(c);
    ASSERT_EQ(reason, 0);
    expect_frame({0x42});
}

TEST_F(ConnectionTest, LargestFrameThatFits) {
    LinkedPair roomy;
    c = roomy.connection;
    roomy.write(framed(Bytes(32765, 0x33)));
    ASSERT_EQ(receive_frame(c), 0);
    int left = 0;
    EXPECT_EQ(msg_unpack(c, {unpack_remaining(&left), unpack_skip(32765), unpack_end()}), 0);
    EXPECT_EQ(left, 32765);
}

// Room for a frame near the limit is taken while it is read or sent and
// given back afterwards; an idle link holds no buffer at all.
TEST_F(ConnectionTest, BuffersGrowForALargeFrameAndShrinkOnceDrained) {
    LinkedPair roomy;
    c = roomy.connection;
    EXPECT_EQ(c->recv_capacity + c->send_capacity, 0);

    Bytes content(32765);
    for (size_t k = 0; k < content.size(); ++k) content[k] = static_cast<uint8_t>(k * 7);
    roomy.write(framed(content));
    ASSERT_EQ(receive_frame(c), 0);
    EXPECT_EQ(c->recv_capacity, CONNECTION_BUFFER);
    expect_frame_content(content);
    EXPECT_EQ(c->recv_capacity, CONNECTION_BUFFER_START);
    roomy.write(framed({0x42}));
    ASSERT_EQ(receive_frame(c), 0);
    expect_frame_content({0x42});

    const Bytes block(255, 0x5A);
    Bytes sent = {0, 0, 9};
    ASSERT_EQ(msg_pack(c, {pack_begin(9), pack_stop()}), 0);
    for (int k = 0; k < 120; ++k) {
        ASSERT_EQ(msg_pack(c, {pack_data(255, block.data()), pack_stop()}), 0);
        sent.push_back(255);
        sent.insert(sent.end(), block.begin(), block.end());
    }
    EXPECT_GE(c->send_capacity, c->send_fill);
    EXPECT_EQ(c->send_capacity, CONNECTION_BUFFER);
    ASSERT_EQ(msg_pack(c, {pack_end()}), 0);
    sent[0] = static_cast<uint8_t>((sent.size() - 2) >> 8);
    sent[1] = static_cast<uint8_t>(sent.size() - 2);
    Bytes arrived;
    for (int tries = 0; tries < 200 && arrived.size() < sent.size(); ++tries) {
        ASSERT_EQ(connection_flush(c), 0);
        const Bytes bite = roomy.read(std::min<size_t>(1024, sent.size() - arrived.size()));
        arrived.insert(arrived.end(), bite.begin(), bite.end());
    }
    EXPECT_EQ(arrived, sent);
    EXPECT_EQ(c->send_fill, 0);
    EXPECT_EQ(c->send_capacity, CONNECTION_BUFFER_START);
}

TEST_F(ConnectionTest, TooLongLengthsAreReturnedNotRecorded) {
    for (int length : {32766, 32767, 32768, 32769, 65535}) {
        SCOPED_TRACE(length);
        LinkedPair fresh;
        fresh.write({static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
        EXPECT_EQ(receive_frame(fresh.connection),
                  length > CONNECTION_BUFFER ? WIRE_MESSAGE_TOO_LONG : WIRE_IN_BUFFER_FULL);
        EXPECT_EQ(connection_reason(fresh.connection), 0);
        EXPECT_EQ(fresh.connection->pending_length, length > CONNECTION_BUFFER ? 0 : length);
    }
}

TEST_F(ConnectionTest, ReceivingAgainKeepsTheUnreadFrame) {
    deliver({0, 2, 0x10, 0x11, 0, 1, 0x20});
    uint8_t first = 0;
    ASSERT_EQ(msg_unpack(c, {unpack_byte(&first), unpack_stop()}), 0);
    // The frame is still being read: its last byte must not become a length.
    EXPECT_EQ(connection_receive(c), 0);
    uint8_t second = 0;
    EXPECT_EQ(msg_unpack(c, {unpack_byte(&second), unpack_end()}), 0);
    EXPECT_EQ(second, 0x11);
    expect_frame({0x20});
}

TEST_F(ConnectionTest, PeerCloseIsStickyForEveryLaterCall) {
    pair.sockets.close(1);
    EXPECT_EQ(receive_frame(c), WIRE_RECEIVE_FAILED);
    EXPECT_EQ(connection_reason(c), WIRE_RECEIVE_FAILED);
    EXPECT_EQ(connection_receive(c), WIRE_RECEIVE_FAILED);
    EXPECT_EQ(msg_pack(c, {pack_begin(32), pack_end()}), WIRE_RECEIVE_FAILED);
    uint8_t byte = 0xFF;
    EXPECT_EQ(msg_unpack(c, {unpack_byte(&byte), unpack_end()}), WIRE_RECEIVE_FAILED);
    EXPECT_EQ(byte, 0);
}

// Frames queued behind one another arrive with one receive and are still
// handed over one at a time, in order, deciphered as sent, and the peer's end
// only after the last; the largest frame still fits behind them.
TEST_F(ConnectionTest, FramesReceivedAheadAreHandedOverOneAtATime) {
    for (const bool ciphered : {false, true}) {
        SCOPED_TRACE(ciphered ? "ciphered" : "plain");
        LinkedPair fresh;
        c = fresh.connection;
        std::vector<Bytes> contents;
        for (int k = 0; k < 12; ++k) contents.push_back(Bytes(static_cast<size_t>(k) + 1, static_cast<uint8_t>(0x40 + k)));
        contents.push_back(Bytes(32765, 0x77));
        Bytes stream;
        for (const Bytes& content : contents) {
            const Bytes frame = framed(content);
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
        if (ciphered) {
            connection_start_ciphers(c, 7, 0);
            const Bytes key = wiretest::link_keystream(stream.size(), 7);
            for (size_t k = 0; k < stream.size(); ++k) stream[k] ^= key[k];
        }
        fresh.write(Bytes(stream.begin(), stream.begin() + 60));
        ASSERT_EQ(receive_frame(c), 0);
        EXPECT_GT(c->recv_ahead, 0);
        LinkedPair quiet;
        Connection* both[] = {quiet.connection, c};
        EXPECT_EQ(connection_wait(2, both, 20), c) << "bytes received ahead are input";
        fresh.write(Bytes(stream.begin() + 60, stream.end()));
        fresh.sockets.close(1);
        expect_frame_content(contents[0]);
        for (size_t k = 1; k < contents.size(); ++k) {
            ASSERT_EQ(receive_frame(c), 0) << k;
            expect_frame_content(contents[k]);
        }
        EXPECT_EQ(receive_frame(c), WIRE_RECEIVE_FAILED);
    }
}

TEST_F(ConnectionTest, WaitReturnsTheFirstConnectionWithInput) {
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

// Bytes packed while the socket would block wait in the buffer; the next
// receive flushes them first, each enciphered exactly once and in order, so
// the peer's keystream stays aligned.
TEST_F(ConnectionTest, MessagesPackedWhileBlockedAreEncipheredOnceInOrder) {
    connection_start_ciphers(c, 0, 0);
    const size_t filler = pair.choke();
    EXPECT_EQ(msg_pack(c, {pack_begin(8), pack_long(1), pack_end()}), 0);
    EXPECT_EQ(msg_pack(c, {pack_begin(9), pack_word(2), pack_end()}), 0);
    EXPECT_EQ(c->send_fill, 7 + 5);
    ASSERT_EQ(pair.read(filler).size(), filler);
    EXPECT_EQ(connection_receive(c), WIRE_NOT_YET);
    EXPECT_EQ(c->send_fill, 0);
    const Bytes plain = {0x00, 0x05, 0x08, 0, 0, 0, 1, 0x00, 0x03, 0x09, 0, 2};
    EXPECT_EQ(pair.read(plain.size()), wiretest::xor_with(plain, wiretest::link_keystream(plain.size())));
}

TEST_F(ConnectionTest, TwentySecondsWithoutProgressIsATimeout) {
    // wine moves socket data in the background, so a socket that seemed
    // full may still take some: then the case starts again from that send,
    // on a socket filled once more, until nothing moved.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const uint32_t opened = connection_last_send(c);
        pair.choke();
        clock.advance(20000);
        ASSERT_EQ(msg_pack(c, {pack_begin(32), pack_end()}), 0);
        if (connection_last_send(c) != opened) {
            continue;
        }
        clock.advance(1);
        const int flushed = connection_flush(c);
        if (flushed == 0 && connection_last_send(c) != opened) {
            continue;
        }
        EXPECT_EQ(flushed, WIRE_TIMEOUT);
        EXPECT_EQ(connection_reason(c), WIRE_TIMEOUT);
        return;
    }
    FAIL() << "the socket never stayed full";
}

TEST_F(ConnectionTest, CompletedSendMovesTheIdleClock) {
    clock.advance(500);
    EXPECT_EQ(msg_pack(c, {pack_begin(6), pack_end()}), 0);
    EXPECT_EQ(connection_last_send(c), tick_now());
    clock.advance(500);
    deliver({0, 1, 0});
    EXPECT_EQ(tick_elapsed(tick_now(), connection_last_send(c)), 500u) << "receiving must not move it";
}

TEST_F(ConnectionTest, PartialSendsKeepTheRestInOrder) {
    const size_t filler = pair.choke();
    uint8_t block[200];
    Bytes expected;
    // More than the socket buffers of both ends hold once the filler is gone.
    for (int k = 0; k < 120; ++k) {
        for (uint8_t& b : block) b = static_cast<uint8_t>(k);
        ASSERT_EQ(msg_pack(c, {pack_begin(7), pack_data(sizeof block, block), pack_end()}), 0);
        const Bytes frame{0x00, 202, 7, 200};
        expected.insert(expected.end(), frame.begin(), frame.end());
        expected.insert(expected.end(), std::begin(block), std::end(block));
    }
    // Drain in small bites so the socket keeps taking part of the buffer.
    EXPECT_EQ(pair.read(filler).size(), filler);
    Bytes arrived;
    bool partly_sent = false;
    for (int tries = 0; tries < 2000 && arrived.size() < expected.size(); ++tries) {
        ASSERT_EQ(connection_flush(c), 0);
        partly_sent = partly_sent || (c->send_fill > 0 && c->send_fill < static_cast<int>(expected.size()));
        const Bytes bite = pair.read(std::min<size_t>(333, expected.size() - arrived.size()));
        arrived.insert(arrived.end(), bite.begin(), bite.end());
    }
    EXPECT_EQ(connection_reason(c), 0);
    EXPECT_EQ(c->send_fill, 0);
    EXPECT_EQ(arrived, expected);
    EXPECT_TRUE(partly_sent) << "the socket never took just part of the buffer";
}

}  // namespace
