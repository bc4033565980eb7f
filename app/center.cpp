#include "app/flock_dialog.h"

#include "app/ascii.h"

#include <climits>
#include <cstdlib>
#include <locale.h>

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

// Independent of the process locale, which a toolkit may have changed.
double NumberValue(std::string_view number) {
    if (number.empty()) {
        return 0;
    }
    static locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    std::string text(number);
    return cLocale ? strtod_l(text.c_str(), nullptr, cLocale) : std::strtod(text.c_str(), nullptr);
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
