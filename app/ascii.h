// Character tests that ignore the process locale, which a toolkit may set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

inline char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A space or a tab.
inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// White space of the C locale.
inline bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

inline bool IsLetterOrDigit(char c) {
    return IsDigit(c) || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z');
}

// An optional sign and the decimal digits after it, read from `at`. The
// magnitude stops growing just past 2^31, so callers can judge the 32-bit
// range without overflow.
struct SignedDigits {
    bool negative = false;
    std::int64_t magnitude = 0;
    std::size_t digits = 0;  // how many digits were read
    std::size_t end = 0;     // the position after them
};

inline SignedDigits ScanSignedDigits(std::string_view text, std::size_t at) {
    SignedDigits scan;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        scan.negative = text[at] == '-';
        ++at;
    }
    for (; at < text.size() && IsDigit(text[at]); ++at, ++scan.digits) {
        if (scan.magnitude <= INT64_C(2147483648)) scan.magnitude = scan.magnitude * 10 + (text[at] - '0');
    }
    scan.end = at;
    return scan;
}
