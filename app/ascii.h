// Character tests that ignore the process locale, which a toolkit may set.
#pragma once

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
