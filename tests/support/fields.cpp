#include "tests/support/scripted_peer.h"

#include <cstring>

Body& Body::byte(int value) {
    content.push_back(static_cast<uint8_t>(value));
    return *this;
}

Body& Body::word(int value) {
    content.push_back(static_cast<uint8_t>(value >> 8));
    content.push_back(static_cast<uint8_t>(value));
    return *this;
}

Body& Body::dword(int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) content.push_back(static_cast<uint8_t>(bits >> shift));
    return *this;
}

Body& Body::string(const std::string& text) {
    content.push_back(static_cast<uint8_t>(text.size()));
    content.insert(content.end(), text.begin(), text.end());
    return *this;
}

Body& Body::data(const std::vector<uint8_t>& bytes) {
    content.push_back(static_cast<uint8_t>(bytes.size()));
    content.insert(content.end(), bytes.begin(), bytes.end());
    return *this;
}

Body& Body::address(uint32_t network_order) {
    uint8_t bytes[4];
    std::memcpy(bytes, &network_order, 4);
    content.insert(content.end(), bytes, bytes + 4);
    return *this;
}

Body& Body::raw(const std::vector<uint8_t>& bytes) {
    content.insert(content.end(), bytes.begin(), bytes.end());
    return *this;
}

uint8_t FieldReader::next() {
    if (overrun || position >= bytes.size()) {
        overrun = true;
        return 0;
    }
    return bytes[position++];
}

uint8_t FieldReader::byte() { return next(); }

uint16_t FieldReader::word() {
    const int high = next();
    const int low = next();
    return static_cast<uint16_t>(high << 8 | low);
}

int32_t FieldReader::dword() {
    uint32_t value = 0;
    for (int k = 0; k < 4; ++k) value = value << 8 | next();
    return static_cast<int32_t>(value);
}

std::string FieldReader::string() {
    const int length = next();
    std::string text;
    for (int k = 0; k < length && !overrun; ++k) text.push_back(static_cast<char>(next()));
    return overrun ? std::string() : text;
}
