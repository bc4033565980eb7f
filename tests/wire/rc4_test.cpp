#include "wire_test_support.h"

#include <array>

namespace {

using wiretest::Bytes;
using wiretest::link_keystream;
using wiretest::xor_with;

struct KeystreamVector {
    int key_length;  // key bytes are 0x01, 0x02, ... as in the published vectors
    int offset;
    std::array<uint8_t, 16> expected;
};

// Published RC4 keystream vectors (40- to 256-bit keys, offsets up to 4080).
constexpr KeystreamVector VECTORS[] = {
    {5, 0, {0xb2, 0x39, 0x63, 0x05, 0xf0, 0x3d, 0xc0, 0x27, 0xcc, 0xc3, 0x52, 0x4a, 0x0a, 0x11, 0x18, 0xa8}},
    {5, 240, {0x28, 0xcb, 0x11, 0x32, 0xc9, 0x6c, 0xe2, 0x86, 0x42, 0x1d, 0xca, 0xad, 0xb8, 0xb6, 0x9e, 0xae}},
    {5, 4080, {0x06, 0x83, 0x26, 0xa2, 0x11, 0x84, 0x16, 0xd2, 0x1f, 0x9d, 0x04, 0xb2, 0xcd, 0x1c, 0xa0, 0x50}},
    {7, 1520, {0xd2, 0xaa, 0x90, 0x2b, 0xd4, 0x2d, 0x0d, 0x7c, 0xfd, 0x34, 0x0c, 0xd4, 0x58, 0x10, 0x52, 0x9f}},
    {8, 752, {0x49, 0xd6, 0xc8, 0xaf, 0x0f, 0x97, 0x14, 0x4a, 0x87, 0xdf, 0x21, 0xd9, 0x14, 0x72, 0xf9, 0x66}},
    {16, 0, {0x9a, 0xc7, 0xcc, 0x9a, 0x60, 0x9d, 0x1e, 0xf7, 0xb2, 0x93, 0x28, 0x99, 0xcd, 0xe4, 0x1b, 0x97}},
    {16, 2032, {0xd0, 0x3d, 0x1b, 0xc0, 0x3c, 0xd3, 0x3d, 0x70, 0xdf, 0xf9, 0xfa, 0x5d, 0x71, 0x96, 0x3e, 0xbd}},
    {32, 0, {0xea, 0xa6, 0xbd, 0x25, 0x88, 0x0b, 0xf9, 0x3d, 0x3f, 0x5d, 0x1e, 0x4c, 0xa2, 0x61, 0x1d, 0x91}},
    {32, 3056, {0x8a, 0xed, 0x95, 0xee, 0x5b, 0x0d, 0xcb, 0xfb, 0xef, 0x4e, 0xb2, 0x1d, 0x3a, 0x3f, 0x52, 0xf9}},
};

TEST(Rc4Keystream, MatchesPublishedVectors) {
    uint8_t key[32];
    for (int k = 0; k < 32; ++k) key[k] = static_cast<uint8_t>(k + 1);
    for (const KeystreamVector& v : VECTORS) {
        SCOPED_TRACE(testing::Message() << v.key_length * 8 << "-bit key at " << v.offset);
        Rc4State* rc4 = rc4_create(key, v.key_length);
        rc4_skip(rc4, v.offset);
        Bytes block(16, 0);
        rc4_apply(rc4, block.data(), 16);
        rc4_destroy(rc4);
        EXPECT_EQ(block, Bytes(v.expected.begin(), v.expected.end()));
    }
}

// Split blocks and single bytes continue one keystream; applying it twice
// gives the plain bytes back.
TEST(Rc4Keystream, EveryWayOfApplyingFollowsOneStream) {
    Rc4State* by_block = rc4_create(LINK_KEY, sizeof LINK_KEY);
    Rc4State* by_byte = rc4_create(LINK_KEY, sizeof LINK_KEY);
    Bytes data(1000);
    for (size_t k = 0; k < data.size(); ++k) data[k] = static_cast<uint8_t>(k * 7);
    Bytes block = data;
    // Pieces of every length around the eight bytes applied at once, at
    // every alignment.
    size_t done = 0;
    for (const size_t piece : {0, 1, 7, 8, 9, 15, 16, 17, 3, 333}) {
        rc4_apply(by_block, block.data() + done, static_cast<int>(piece));
        done += piece;
    }
    rc4_apply(by_block, block.data() + done, static_cast<int>(block.size() - done));
    EXPECT_EQ(block, xor_with(data, link_keystream(1000)));
    for (auto& b : block) b = rc4_byte(by_byte, b);
    EXPECT_EQ(block, data);
    rc4_destroy(by_block);
    rc4_destroy(by_byte);
}

TEST(Rc4Discard, CountsAreTakenModulo65536) {
    const Bytes stream = link_keystream(65540);
    const struct {
        int count;
        size_t dropped;
    } cases[] = {{0, 0}, {3, 3}, {65535, 65535}, {65536, 0}, {131072, 0}, {65539, 3}, {-1, 65535}};
    for (const auto& c : cases) EXPECT_EQ(link_keystream(1, c.count)[0], stream[c.dropped]) << "discard " << c.count;
}

}  // namespace
