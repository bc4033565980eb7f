#include "wire_test_support.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using wiretest::Bytes;
using wiretest::framed;
using wiretest::link_keystream;
using wiretest::LinkedPair;
using wiretest::receive_frame;
using wiretest::xor_with;

using Codec = wiretest::PairTest;

TEST_F(Codec, EveryFieldCodeIsBigEndianOnTheWire) {
    expect_sent({pack_begin(32), pack_end()}, {0x00, 0x01, 0x20});
    expect_sent({pack_begin(6), pack_end()}, {0x00, 0x01, 0x06});
    const uint8_t data[3] = {9, 8, 7};
    expect_sent({pack_begin(0x1234), pack_byte(0x1FF), pack_word(0x12345), pack_long(20), pack_long(-2),
                 PackItem{13, 0, nullptr}, pack_string("abc"), pack_address(net_order32(0x7F000102)),
                 pack_byte_string(0x105, "xy"), pack_data(3, data), pack_end()},
                framed({0x34,                    // type, low 8 bits
                        0xFF,                    // byte
                        0x23, 0x45,              // word, low 16 bits
                        0x00, 0x00, 0x00, 0x14,  // long 20
                        0xFF, 0xFF, 0xFF, 0xFE,  // long -2
                        0x03, 'a',  'b',  'c',   // string; the unknown code before it took nothing
                        0x7F, 0x00, 0x01, 0x02,  // address in memory order
                        0x05, 0x02, 'x',  'y',   // byte string
                        0x03, 9,    8,    7}));  // data
}

TEST_F(Codec, StringsUpTo255CharactersFit) {
    const std::string longest(255, 'q');
    const Bytes head = {0x01, 0x03, 0x01, 0x00, 0x00, 0xFF};
    Bytes wire(head.size() + 255, 'q');
    std::copy(head.begin(), head.end(), wire.begin());
    expect_sent({pack_begin(1), pack_string(nullptr), pack_string(""), pack_string(longest.c_str()), pack_end()}, wire);
}

TEST_F(Codec, OverlongStringOrDataFailsAndSendsNothing) {
    const std::string too_long(256, 'q');
    EXPECT_EQ(msg_pack(c, {pack_begin(1), pack_string(too_long.c_str()), pack_end()}), WIRE_STRING_TOO_LONG);
    EXPECT_EQ(msg_pack(c, {pack_begin(32), pack_end()}), WIRE_STRING_TOO_LONG);
    LinkedPair other;
    const Bytes data(256, 1);
    EXPECT_EQ(msg_pack(other.connection, {pack_begin(1), pack_data(256, data.data()), pack_end()}), WIRE_STRING_TOO_LONG);
    EXPECT_FALSE(pair.peer_has_input());
    EXPECT_FALSE(other.peer_has_input());
}

TEST_F(Codec, OverflowingTheSendBufferFails) {
    const Bytes data(255, 1);
    pair.choke();
    int reason = 0;
    for (int k = 0; k < 200 && reason == 0; ++k) reason = msg_pack(c, {pack_begin(3), pack_data(255, data.data()), pack_end()});
    EXPECT_EQ(reason, WIRE_OUT_BUFFER_FULL);
    EXPECT_LE(c->send_fill, CONNECTION_BUFFER);
}

TEST_F(Codec, StopLeavesTheMessageOpen) {
    EXPECT_EQ(msg_pack(c, {pack_begin(7), pack_byte(1), pack_stop(), pack_byte(2)}), 0);
    EXPECT_FALSE(pair.peer_has_input());
    expect_sent({pack_byte(3), pack_end()}, {0x00, 0x03, 0x07, 0x01, 0x03});
}

TEST_F(Codec, SealedLoginEnciphersOnlyTheFields) {
    const Bytes sealed = xor_with({0x00, 0x08, 0x02, 0, 0, 0, 7, 2, 'p', 'w'}, link_keystream(7), 3);
    // Every sealed message starts from the beginning of the keystream.
    for (int k = 0; k < 2; ++k) expect_sent({pack_begin_sealed(2), pack_long(7), pack_string("pw"), pack_end()}, sealed);
}

TEST_F(Codec, CiphersCoverWholeFramesInOneStream) {
    connection_start_ciphers(c, 3, 0);
    ASSERT_TRUE(connection_has_cipher(c));
    // A sealed login after the key message goes through the stream cipher only.
    ASSERT_EQ(msg_pack(c, {pack_begin_sealed(2), pack_byte(0xAA), pack_end()}), 0);
    expect_sent({pack_begin(32), pack_end()}, xor_with({0x00, 0x02, 0x02, 0xAA, 0x00, 0x01, 0x20}, link_keystream(7)));
    // A second key message restarts both directions.
    connection_start_ciphers(c, 0, 5);
    expect_sent({pack_begin(32), pack_end()}, xor_with({0x00, 0x01, 0x20}, link_keystream(3, 5)));
}

TEST_F(Codec, UniverseKeyMessage) {
    deliver({0x00, 0x06, 0x00, 0x16, 0x00, 0x01, 0x00, 0x02});
    uint8_t result = 9;
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

TEST_F(Codec, WorldKeyThenEncipheredTraffic) {
    deliver({0x00, 0x05, 0x11, 0x00, 0x03, 0x00, 0x00});
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

TEST_F(Codec, StringsDataAndAddresses) {
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
    EXPECT_EQ(Bytes(data, data + length), (Bytes{1, 2, 3}));
    EXPECT_EQ(address, net_order32(0x0A000001));
}

TEST_F(Codec, UnreadBytesAtTheEndAreALengthErrorUnlessSkipped) {
    deliver({0x00, 0x04, 0x05, 1, 2, 3, 0x00, 0x04, 0x06, 1, 2, 3});
    int remaining = 0;
    const UnpackItem unknown{13, nullptr, nullptr, 0};
    ASSERT_EQ(msg_unpack(c, {unpack_byte(&type), unknown, unpack_remaining(&remaining), unpack_stop()}), 0);
    EXPECT_EQ(remaining, 3);
    EXPECT_EQ(msg_unpack(c, {unpack_skip(remaining), unpack_end()}), 0);
    deliver({});
    EXPECT_EQ(msg_unpack(c, {unpack_byte(&type), unpack_end()}), WIRE_BAD_LENGTH);
    EXPECT_EQ(type, 6);
    EXPECT_EQ(connection_reason(c), WIRE_BAD_LENGTH);
}

TEST_F(Codec, ReadingPastTheFrameZeroesThatItemAndTheRest) {
    deliver({0x00, 0x03, 0x05, 0x12, 0x34});
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

TEST(CodecCuts, EveryCutOfAKeyMessageFailsCleanly) {
    const Bytes content = {0x00, 0x16, 0x00, 0x01, 0x00, 0x02};
    for (size_t cut = 1; cut < content.size(); ++cut) {
        SCOPED_TRACE(cut);
        LinkedPair fresh;
        fresh.write(framed(Bytes(content.begin(), content.begin() + static_cast<long>(cut))));
        ASSERT_EQ(receive_frame(fresh.connection), 0);
        uint8_t result = 1, type = 1;
        uint16_t first = 1, second = 1;
        EXPECT_EQ(msg_unpack(fresh.connection,
                             {unpack_byte(&result), unpack_byte(&type), unpack_word(&first), unpack_word(&second), unpack_end()}),
                  WIRE_STREAM_EMPTY);
        EXPECT_EQ(second, 0);
    }
}

TEST(Unsealing, ServerRecoversASealedLogin) {
    LinkedPair pair;
    Connection* server = nullptr;
    ASSERT_EQ(connection_adopt(pair.sockets.take(1), &server), 0);
    ASSERT_EQ(msg_pack(pair.connection, {pack_begin_sealed(2), pack_long(1234), pack_string("Bird1"), pack_end()}), 0);
    ASSERT_EQ(receive_frame(server), 0);
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
