#include "app/flock_dialog.h"

#include "app/ascii.h"

#include <charconv>
#include <climits>
#include <limits>
#include <optional>

namespace {

// The longest leading decimal number: sign, digits, fraction, exponent. No
// hexadecimal, infinity or NaN spellings.
std::string_view LeadingNumber(std::string_view token) {
    std::size_t i = 0;
    if (i < token.size() && (token[i] == '-' || token[i] == '+')) {
        ++i;
    }
    std::size_t mantissa = i;
    while (i < token.size() && IsDigit(token[i])) {
        ++i;
    }
    std::size_t integerDigits = i - mantissa;
    std::size_t fractionDigits = 0;
    if (i < token.size() && token[i] == '.') {
        std::size_t j = i + 1;
        while (j < token.size() && IsDigit(token[j])) {
            ++j;
        }
        fractionDigits = j - i - 1;
        if (integerDigits + fractionDigits > 0) {
            i = j;
        }
    }
    if (integerDigits + fractionDigits == 0) {
        return {};
    }
    if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < token.size() && (token[j] == '-' || token[j] == '+')) {
            ++j;
        }
        if (j < token.size() && IsDigit(token[j])) {
            while (j < token.size() && IsDigit(token[j])) {
                ++j;
            }
            i = j;
        }
    }
    return token.substr(0, i);
}

// The decimal exponent of the first non-zero digit of a LeadingNumber with
// its sign removed, counting the exponent part; nullopt when every digit is
// 0. Its sign tells an overflow from an underflow.
std::optional<long long> LeadingExponent(std::string_view number) {
    std::size_t point = number.find_first_of(".eE");
    if (point == std::string_view::npos) {
        point = number.size();
    }
    // The power of ten of the digit at i; the digit before the point has 0.
    long long position = static_cast<long long>(point) - 1;
    std::optional<long long> first;
    std::size_t i = 0;
    for (; i < number.size() && (IsDigit(number[i]) || number[i] == '.'); ++i) {
        if (number[i] == '.') {
            continue;
        }
        if (number[i] != '0' && !first) {
            first = position;
        }
        --position;
    }
    if (!first) {
        return std::nullopt;
    }
    if (i < number.size()) {  // the exponent part
        const SignedDigits exponent = ScanSignedDigits(number, i + 1);
        *first += exponent.negative ? -exponent.magnitude : exponent.magnitude;
    }
    return first;
}

// Independent of the process locale, which a toolkit may have changed: the
// value of a LeadingNumber as the standard conversion gives it, infinity
// beyond the double range, zero below it.
double NumberValue(std::string_view number) {
    bool negative = false;
    if (!number.empty() && (number.front() == '-' || number.front() == '+')) {
        negative = number.front() == '-';
        number.remove_prefix(1);
    }
    if (number.empty()) {
        return 0;
    }
    double value = 0;
    const std::from_chars_result result =
        std::from_chars(number.data(), number.data() + number.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        const std::optional<long long> exponent = LeadingExponent(number);
        value = exponent && *exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0;
    }
    return negative ? -value : value;
}

// Truncates towards zero; beyond the int range, the nearest bound.
int Saturated(double value) {
    if (value >= 2147483648.0) {
        return INT_MAX;
    }
    if (value <= -2147483649.0) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

void ApplyToken(std::string_view token, int& z, int& x, int& y) {
    if (token.empty() || !(IsDigit(token.front()) || token.front() == '.' || token.front() == '-')) {
        return;
    }
    double value = NumberValue(LeadingNumber(token));
    switch (AsciiLower(token.back())) {
    case 'n': z = Saturated(value * 1000); break;
    case 's': z = Saturated(value * -1000); break;
    case 'w': x = Saturated(value * 1000); break;
    case 'e': x = Saturated(value * -1000); break;
    case 'a': y = Saturated(value * 1000); break;
    default: break;
    }
}

}  // namespace

void FlockDialog::ParseCenter(const std::string& text, int& z, int& x, int& y) {
    std::string_view rest = text;
    while (!rest.empty() && IsSpace(rest.front())) {
        rest.remove_prefix(1);
    }
    while (!rest.empty() && IsSpace(rest.back())) {
        rest.remove_suffix(1);
    }
    do {
        std::size_t space = rest.find(' ');
        std::string_view token = rest.substr(0, space);
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        while (!rest.empty() && IsSpace(rest.front())) {
            rest.remove_prefix(1);
        }
        ApplyToken(token, z, x, y);
    } while (!rest.empty());
}
