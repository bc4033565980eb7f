#include "wire_test_support.h"

#include <cstring>
#include <string>

namespace {

using wiretest::Bytes;
using wiretest::LinkedPair;
using wiretest::link_keystream;
using wiretest::xor_with;

struct Packing : ::testing::Test {
    LinkedPair pair;
    Connection* c = pair.connection;
};

TEST_F(Packing, KeepAlivesAreTheTypeByteAlone) {
    EXPECT_EQ(msg_pack(c, {pack_begin(32), pack_end()}), 0);
    EXPECT_EQ(msg_pack(c, {pack_begin(6), pack_end()}), 0);
    EXPECT_EQ(pair.read(6), (Bytes{0x00, 0x01, 0x20, 0x00, 0x01, 0x06}));
}

TEST_F(Packing, EveryFieldCodeIsBigEndianOnTheWire) {
    const uint8_t data[3] = {9, 8, 7};
    const uint32_t address = htonl(0x7F000102);
    EXPECT_EQ(msg_pack(c, {pack_begin(0x1234), pack_byte(0x1FF), pack_word(0x12345), pack_long(20), pack_long(-2),
                           PackItem{13, 0, nullptr}, pack_string("abc"), pack_address(address),
                           pack_byte_string(0x105, "xy"), pack_data(3, data), pack_end()}),
              0);
    const Bytes content = {0x34,                                        // type, low 8 bits
                           0xFF,                                        // byte
                           0x23, 0x45,                                  // word, low 16 bits
                           0x00, 0x00, 0x00, 0x14,                      // long 20
                           0xFF, 0xFF, 0xFF, 0xFE,                      // long -2
                           0x03, 'a',  'b',  'c',                       // string
                           0x7F, 0x00, 0x01, 0x02,                      // address in memory order
                           0x05, 0x02, 'x',  'y',                       // byte string
                           0x03, 9,    8,    7};                        // data
    Bytes expected = {0x00, static_cast<uint8_t>(content.size())};
    expected.insert(expected.end(), content.begin(), content.end());
    EXPECT_EQ(pair.read(expected.size()), expected);
}

TEST_F(Packing, StringLengthLimits) {
    const std::string longest(255, 'q');
    EXPECT_EQ(msg_pack(c, {pack_begin(1), pack_string(nullptr), pack_string(""), pack_string(longest.c_str()), pack_end()}), 0);
    const Bytes got = pair.read(2 + 1 + 1 + 1 + 256);
    ASSERT_EQ(got.size(), 261u);
    EXPECT_EQ(got[0] * 256 + got[1], 259);
    EXPECT_EQ(got[3], 0);
    EXPECT_EQ(got[4], 0);
    EXPECT_EQ(got[5], 255);
    EXPECT_EQ(got[260], 'q');
}

TEST_F(Packing, OverlongStringOrDataFailsAndSendsNothing) {
    const std::string too_long(256, 'q');
    EXPECT_EQ(msg_pack(c, {pack_begin(1), pack_string(too_long.c_str()), pack_end()}), WIRE_STRING_TOO_LONG);
    EXPECT_EQ(msg_pack(c, {pack_begin(32), pack_end()}), WIRE_STRING_TOO_LONG);
    LinkedPair other;
    const Bytes data(256, 1);
    EXPECT_EQ(msg_pack(other.connection, {pack_begin(1), pack_data(256, data.data()), pack_end()}), WIRE_STRING_TOO_LONG);
    EXPECT_FALSE(pair.peer_has_input());
    EXPECT_FALSE(other.peer_has_input());
}

TEST_F(Packing, OverflowingTheSendBufferFails) {
    const Bytes data(255, 1);
    pair.choke();
    int reason = 0;
    for (int k = 0; k < 200 && reason == 0; ++k) reason = msg_pack(c, {pack_begin(3), pack_data(255, data.data()), pack_end()});
    EXPECT_EQ(reason, WIRE_OUT_BUFFER_FULL);
    EXPECT_LE(c->send_fill, CONNECTION_BUFFER);
}

TEST_F(Packing, StopLeavesTheMessageOpen) {
    EXPECT_EQ(msg_pack(c, {pack_begin(7), pack_byte(1), pack_stop(), pack_byte(2)}), 0);
    EXPECT_FALSE(pair.peer_has_input());
    EXPECT_EQ(msg_pack(c, {pack_byte(3), pack_end()}), 0);
    EXPECT_EQ(pair.read(5), (Bytes{0x00, 0x03, 0x07, 0x01, 0x03}));
}

TEST_F(Packing, SealedLoginEnciphersOnlyTheFields) {
    EXPECT_EQ(msg_pack(c, {pack_begin_sealed(2), pack_long(7), pack_string("pw"), pack_end()}), 0);
    const Bytes plain = {0x00, 0x08, 0x02, 0, 0, 0, 7, 2, 'p', 'w'};
    const Bytes got = pair.read(plain.size());
    EXPECT_EQ(got, xor_with(plain, link_keystream(7), 3));
    // Every sealed message starts from the beginning of the keystream.
    EXPECT_EQ(msg_pack(c, {pack_begin_sealed(2), pack_long(7), pack_string("pw"), pack_end()}), 0);
    EXPECT_EQ(pair.read(plain.size()), got);
}

TEST_F(Packing, CiphersCoverWholeFramesInOneStream) {
    connection_start_ciphers(c, 3, 0);
    ASSERT_TRUE(connection_has_cipher(c));
    // A sealed login after the key message goes through the stream cipher only.
    EXPECT_EQ(msg_pack(c, {pack_begin_sealed(2), pack_byte(0xAA), pack_end()}), 0);
    EXPECT_EQ(msg_pack(c, {pack_begin(32), pack_end()}), 0);
    const Bytes plain = {0x00, 0x02, 0x02, 0xAA, 0x00, 0x01, 0x20};
    EXPECT_EQ(pair.read(plain.size()), xor_with(plain, link_keystream(plain.size())));

    // A second key message restarts both directions.
    connection_start_ciphers(c, 0, 5);
    EXPECT_EQ(msg_pack(c, {pack_begin(32), pack_end()}), 0);
    EXPECT_EQ(pair.read(3), xor_with({0x00, 0x01, 0x20}, link_keystream(3, 5)));
}

TEST_F(Packing, MessagesPackedWhileBlockedAreEncipheredOnceInOrder) {
    connection_start_ciphers(c, 0, 0);
    const size_t filler = pair.choke();
    EXPECT_EQ(msg_pack(c, {pack_begin(8), pack_long(1), pack_end()}), 0);
    EXPECT_EQ(msg_pack(c, {pack_begin(9), pack_word(2), pack_end()}), 0);
    EXPECT_EQ(c->send_fill, 7 + 5);
    ASSERT_EQ(pair.read(filler).size(), filler);
    EXPECT_EQ(connection_flush(c), 0);
    const Bytes plain = {0x00, 0x05, 0x08, 0, 0, 0, 1, 0x00, 0x03, 0x09, 0, 2};
    EXPECT_EQ(pair.read(plain.size()), xor_with(plain, link_keystream(plain.size())));
}

struct Unpacking : ::testing::Test {
    LinkedPair pair;
    Connection* c = pair.connection;

    void deliver(const Bytes& frame) {
        pair.write(frame);
        ASSERT_EQ(pair.receive_frame(), 0);
    }
};

TEST_F(Unpacking, UniverseKeyMessage) {
    deliver({0x00, 0x06, 0x00, 0x16, 0x00, 0x01, 0x00, 0x02});
    uint8_t result = 9, type = 0;
    int remaining = 0;
    EXPECT_EQ(msg_unpack(c, {unpack_byte(&result), unpack_byte(&type), unpack_remaining(&remaining), unpack_stop()}), 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(type, 22);
    EXPECT_EQ(remaining, 4);
    uint16_t receive_discard = 0, send_discard = 0;
    EXPECT_EQ(msg_unpack(c, {unpack_word(&receive_discard), unpack_word(&send_discard), unpack_end()}), 0);
    EXPECT_EQ(receive_discard, 1);
    EXPECT_EQ(send_discard, 2);
}

TEST_F(Unpacking, WorldKeyThenEncipheredTraffic) {
    deliver({0x00, 0x05, 0x11, 0x00, 0x03, 0x00, 0x00});
    uint8_t type = 0;
    uint16_t receive_discard = 0, send_discard = 9;
    ASSERT_EQ(msg_unpack(c, {unpack_byte(&type), unpack_word(&receive_discard), unpack_word(&send_discard), unpack_end()}), 0);
    EXPECT_EQ(type, 17);
    connection_start_ciphers(c, receive_discard, send_discard);
    // The first inbound byte after the key message meets the fourth
    // keystream byte.
    deliver(xor_with({0x00, 0x05, 0x2A, 0xDE, 0xAD, 0xBE, 0xEF}, link_keystream(7, 3)));
    int32_t value = 0;
    ASSERT_EQ(msg_unpack(c, {unpack_byte(&type), unpack_long(&value), unpack_end()}), 0);
    EXPECT_EQ(type, 0x2A);
    EXPECT_EQ(static_cast<uint32_t>(value), 0xDEADBEEFu);
}

TEST_F(Unpacking, StringsDataAndAddresses) {
    deliver({0x00, 0x0C, 0x00, 0x02, 'h', 'i', 0x03, 1, 2, 3, 10, 0, 0, 1});
    char empty[256], text[256];
    std::memset(empty, 'x', sizeof empty);
    uint8_t data[255];
    int length = 0;
    uint32_t address = 0;
    ASSERT_EQ(msg_unpack(c, {unpack_string(empty), unpack_string(text), unpack_data(&length, data), unpack_address(&address),
                             unpack_end()}),
              0);
    EXPECT_STREQ(empty, "");
    EXPECT_STREQ(text, "hi");
    EXPECT_EQ(length, 3);
    EXPECT_EQ(Bytes(data, data + 3), (Bytes{1, 2, 3}));
    EXPECT_EQ(address, htonl(0x0A000001));
}

TEST_F(Unpacking, UnreadBytesAtTheEndAreALengthError) {
    deliver({0x00, 0x04, 0x05, 1, 2, 3});
    uint8_t type = 0;
    EXPECT_EQ(msg_unpack(c, {unpack_byte(&type), unpack_end()}), WIRE_BAD_LENGTH);
    EXPECT_EQ(connection_reason(c), WIRE_BAD_LENGTH);
}

TEST_F(Unpacking, SkippingTheRemainderEndsCleanly) {
    deliver({0x00, 0x04, 0x05, 1, 2, 3, 0x00, 0x01, 0x06});
    uint8_t type = 0;
    int remaining = 0;
    const UnpackItem unknown{13, nullptr, nullptr, 0};
    ASSERT_EQ(msg_unpack(c, {unpack_byte(&type), unknown, unpack_remaining(&remaining), unpack_stop()}), 0);
    EXPECT_EQ(remaining, 3);
    EXPECT_EQ(msg_unpack(c, {unpack_skip(remaining), unpack_end()}), 0);
    deliver({});
    EXPECT_EQ(msg_unpack(c, {unpack_byte(&type), unpack_end()}), 0);
    EXPECT_EQ(type, 6);
}

TEST_F(Unpacking, ReadingPastTheFrameZeroesThatItemAndTheRest) {
    deliver({0x00, 0x03, 0x05, 0x12, 0x34});
    uint8_t type = 0;
    int32_t value = -1;
    char text[256];
    std::memset(text, 'x', sizeof text);
    uint16_t word = 0xFFFF;
    EXPECT_EQ(msg_unpack(c, {unpack_byte(&type), unpack_long(&value), unpack_string(text), unpack_word(&word), unpack_end()}),
              WIRE_STREAM_EMPTY);
    EXPECT_EQ(type, 5);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(text[255], 0);
    EXPECT_EQ(word, 0);
}

TEST_F(Unpacking, EveryCutOfAKeyMessageFailsCleanly) {
    const Bytes content = {0x00, 0x16, 0x00, 0x01, 0x00, 0x02};
    for (size_t cut = 1; cut < content.size(); ++cut) {
        LinkedPair fresh;
        Bytes frame = {0x00, static_cast<uint8_t>(cut)};
        frame.insert(frame.end(), content.begin(), content.begin() + static_cast<long>(cut));
        fresh.write(frame);
        ASSERT_EQ(fresh.receive_frame(), 0);
        uint8_t result = 1, type = 1;
        uint16_t first = 1, second = 1;
        EXPECT_EQ(msg_unpack(fresh.connection,
                             {unpack_byte(&result), unpack_byte(&type), unpack_word(&first), unpack_word(&second), unpack_end()}),
                  WIRE_STREAM_EMPTY)
            << cut;
        EXPECT_EQ(second, 0) << cut;
    }
}

TEST(Unsealing, ServerRecoversASealedLogin) {
    LinkedPair pair;
    Connection* server = nullptr;
    ASSERT_EQ(connection_adopt(pair.peer, &server), 0);
    pair.peer = -1;
    Connection* client = pair.connection;
    ASSERT_EQ(msg_pack(client, {pack_begin_sealed(2), pack_long(1234), pack_string("Bird1"), pack_end()}), 0);

    int reason = WIRE_NOT_YET;
    for (int tries = 0; tries < 200 && reason == WIRE_NOT_YET; ++tries) {
        reason = connection_receive(server);
        if (reason == WIRE_NOT_YET) connection_wait(1, &server, 10);
    }
    ASSERT_EQ(reason, 0);
    uint8_t type = 0;
    ASSERT_EQ(msg_unpack(server, {unpack_byte(&type), unpack_stop()}), 0);
    EXPECT_EQ(type, 2);
    connection_unseal(server);
    int32_t citizen = 0;
    char name[256];
    EXPECT_EQ(msg_unpack(server, {unpack_long(&citizen), unpack_string(name), unpack_end()}), 0);
    EXPECT_EQ(citizen, 1234);
    EXPECT_STREQ(name, "Bird1");
    connection_close(server);
}

}  // namespace
