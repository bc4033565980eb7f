#include "worldlink/wire/wire.h"

#include <cstdlib>

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

uint8_t rc4_next(Rc4State* state) {
    uint8_t* S = state->S;
    const int i = (state->i + 1) & 0xFF;
    const int j = (state->j + S[i]) & 0xFF;
    const uint8_t swap = S[i];
    S[i] = S[j];
    S[j] = swap;
    state->i = i;
    state->j = j;
    return S[(S[i] + S[j]) & 0xFF];
}

uint8_t rc4_byte(Rc4State* state, uint8_t byte) { return byte ^ rc4_next(state); }

void rc4_apply(Rc4State* state, uint8_t* buffer, int count) {
    // Indices kept in locals so the loop runs out of registers.
    uint8_t* S = state->S;
    unsigned i = static_cast<unsigned>(state->i);
    unsigned j = static_cast<unsigned>(state->j);
    for (int k = 0; k < count; ++k) {
        i = (i + 1) & 0xFF;
        const uint8_t si = S[i];
        j = (j + si) & 0xFF;
        const uint8_t sj = S[j];
        S[i] = sj;
        S[j] = si;
        buffer[k] ^= S[(si + sj) & 0xFF];
    }
    state->i = static_cast<int>(i);
    state->j = static_cast<int>(j);
}

void rc4_skip(Rc4State* state, int count) {
    const int drops = static_cast<int>(static_cast<uint16_t>(count));
    for (int k = 0; k < drops; ++k) rc4_next(state);
}
