// The bodies of the fuzz targets. libFuzzer reaches each through
// fuzz_entry.cpp; the normal test suite replays kept inputs through the same
// functions, so a finding stays fixed without clang.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

int fuzz_library(const uint8_t* data, size_t size);
int fuzz_codec(const uint8_t* data, size_t size);
int fuzz_settings(const uint8_t* data, size_t size);
int fuzz_text(const uint8_t* data, size_t size);
int fuzz_worldsim(const uint8_t* data, size_t size);
int fuzz_viewer(const uint8_t* data, size_t size);

// A broken invariant is a crash, so libFuzzer keeps the input that broke it.
inline void fuzz_require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

// Reads an input from its front; past the end every read yields 0.
struct FuzzInput {
    const uint8_t* data;
    size_t size;

    uint8_t byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    uint16_t word() {
        const int high = byte();
        return static_cast<uint16_t>(high << 8 | byte());
    }
    // Up to `count` bytes as text.
    std::string_view text(size_t count) {
        if (count > size) count = size;
        std::string_view out(reinterpret_cast<const char*>(data), count);
        data += count;
        size -= count;
        return out;
    }
    // A text whose length is the next byte.
    std::string_view counted() { return text(byte()); }
    std::string_view rest() { return text(size); }
};
