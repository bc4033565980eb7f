#include "app/flight_settings.h"

#include "app/ascii.h"
#include "app/settings.h"

#include <array>
#include <initializer_list>

namespace {

constexpr std::string_view MAIN_SECTION = "Main";
// Longer values are refused rather than cut: none is valid.
constexpr std::size_t VALUE_BUFFER = 64;

struct NumberKey {
    std::string_view key;
    int FlockParameters::*field;
    int least;
    int most;
};

constexpr std::array<NumberKey, 3> NUMBER_KEYS = {{
    {"FlockRadius", &FlockParameters::radius, 100, 1000000},
    {"FlockSpeed", &FlockParameters::speed, 10, 10000},
    {"FlockSeparation", &FlockParameters::separation, 10, 10000},
}};

// A whole number of decimal digits alone within [least, most].
std::optional<int> WholeNumber(std::string_view text, int least, int most) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        if (!IsDigit(c)) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value < least || value > most) {
        return std::nullopt;
    }
    return value;
}

// "KEY in PATH is 'VALUE'; it must be MUST." (Appended piece by piece:
// chains of operator+ on temporaries make g++ 12 warn falsely about
// overlapping copies in optimised builds.)
std::string Refusal(std::string_view key, const std::string& path, std::string_view value, std::string_view must) {
    std::string text;
    for (std::string_view piece : {key, std::string_view(" in "), std::string_view(path), std::string_view(" is '"),
                                   value, std::string_view("'; it must be "), must, std::string_view(".")}) {
        text.append(piece);
    }
    return text;
}

}  // namespace

std::optional<FlightMode> ParseFlightMode(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = AsciiLower(c);
    }
    if (lower == "hop") {
        return FlightMode::Hop;
    }
    if (lower == "flock") {
        return FlightMode::Flock;
    }
    return std::nullopt;
}

const char* FlightModeName(FlightMode mode) {
    return mode == FlightMode::Flock ? "flock" : "hop";
}

std::string ReadFlightSettings(const std::string& path, FlightSettings& settings, bool readMode) {
    // A sentinel that no value can be (a value holds no line break) tells
    // a missing key from an empty one.
    constexpr std::string_view ABSENT = "\n";
    std::vector<SettingRead> reads = {{MAIN_SECTION, "Flight", ABSENT, VALUE_BUFFER}};
    for (const NumberKey& number : NUMBER_KEYS) {
        reads.push_back({MAIN_SECTION, number.key, ABSENT, VALUE_BUFFER});
    }
    const std::vector<std::string> values = ReadSettings(path, reads);
    FlightSettings read = settings;
    if (readMode && values[0] != ABSENT) {
        std::optional<FlightMode> mode = ParseFlightMode(values[0]);
        if (!mode) {
            return Refusal("Flight", path, values[0], FLIGHT_MODES);
        }
        read.mode = *mode;
        read.named = true;
    }
    for (std::size_t i = 0; i < NUMBER_KEYS.size(); ++i) {
        const NumberKey& number = NUMBER_KEYS[i];
        const std::string& value = values[i + 1];
        if (value == ABSENT) {
            continue;
        }
        std::optional<int> parsed = WholeNumber(value, number.least, number.most);
        if (!parsed) {
            std::string range = "a whole number of world units from ";
            range += std::to_string(number.least);
            range += " to ";
            range += std::to_string(number.most);
            return Refusal(number.key, path, value, range);
        }
        read.flock.*number.field = *parsed;
        read.named = true;
    }
    settings = read;
    return {};
}

std::vector<std::pair<std::string, std::string>> FlightSettingTexts(const FlightSettings& settings) {
    std::vector<std::pair<std::string, std::string>> texts;
    if (!settings.named) {
        return texts;
    }
    texts.emplace_back("Flight", FlightModeName(settings.mode));
    for (const NumberKey& number : NUMBER_KEYS) {
        texts.emplace_back(std::string(number.key), std::to_string(settings.flock.*number.field));
    }
    return texts;
}
