#include "worldlink/wire/wire.h"

#include <bit>
#include <cstdlib>
#include <cstring>

namespace worldlink {

Rc4State* rc4_create(const uint8_t* key, int key_length) {
    auto* state = static_cast<Rc4State*>(std::malloc(sizeof(Rc4State)));
    if (!state) return nullptr;
    for (int k = 0; k < 256; ++k) state->S[k] = static_cast<uint8_t>(k);
    int t = 0;
    for (int k = 0; k < 256; ++k) {
        const uint8_t key_byte = key_length > 0 ? key[k % key_length] : 0;
        t = (t + state->S[k] + key_byte) & 0xFF;
        const uint8_t swap = state->S[k];
        state->S[k] = state->S[t];
        state->S[t] = swap;
    }
    state->i = 0;
    state->j = 0;
    return state;
}

void rc4_destroy(Rc4State* state) { std::free(state); }

namespace {

// One generator step on indices held as bytes, so they wrap without masking.
inline uint8_t rc4_step(uint8_t* S, uint8_t& i, uint8_t& j) {
    ++i;
    const uint8_t si = S[i];
    j = static_cast<uint8_t>(j + si);
    const uint8_t sj = S[j];
    S[i] = sj;
    S[j] = si;
    return S[static_cast<uint8_t>(si + sj)];
}

// Where the byte at `offset` of an 8-byte word sits in its value.
constexpr int byte_shift(int offset) { return 8 * (std::endian::native == std::endian::little ? offset : 7 - offset); }

}  // namespace

uint8_t rc4_next(Rc4State* state) {
    auto i = static_cast<uint8_t>(state->i);
    auto j = static_cast<uint8_t>(state->j);
    const uint8_t byte = rc4_step(state->S, i, j);
    state->i = i;
    state->j = j;
    return byte;
}

uint8_t rc4_byte(Rc4State* state, uint8_t byte) { return byte ^ rc4_next(state); }

void rc4_apply(Rc4State* state, uint8_t* buffer, int count) {
    // Indices in locals, and eight keystream bytes applied with one word
    // access: written out, so the compiler keeps the word in a register.
    uint8_t* S = state->S;
    auto i = static_cast<uint8_t>(state->i);
    auto j = static_cast<uint8_t>(state->j);
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        uint64_t stream = static_cast<uint64_t>(rc4_step(S, i, j)) << byte_shift(0);
        stream |= static_cast<uint64_t>(rc4_step(S, i, j)) << byte_shift(1);
        stream |= static_cast<uint64_t>(rc4_step(S, i, j)) << byte_shift(2);
        stream |= static_cast<uint64_t>(rc4_step(S, i, j)) << byte_shift(3);
        stream |= static_cast<uint64_t>(rc4_step(S, i, j)) << byte_shift(4);
        stream |= static_cast<uint64_t>(rc4_step(S, i, j)) << byte_shift(5);
        stream |= static_cast<uint64_t>(rc4_step(S, i, j)) << byte_shift(6);
        stream |= static_cast<uint64_t>(rc4_step(S, i, j)) << byte_shift(7);
        uint64_t word;
        std::memcpy(&word, buffer + k, sizeof word);
        word ^= stream;
        std::memcpy(buffer + k, &word, sizeof word);
    }
    for (; k < count; ++k) buffer[k] ^= rc4_step(S, i, j);
    state->i = i;
    state->j = j;
}

void rc4_skip(Rc4State* state, int count) {
    const int drops = static_cast<int>(static_cast<uint16_t>(count));
    for (int k = 0; k < drops; ++k) rc4_next(state);
}

}  // namespace worldlink
