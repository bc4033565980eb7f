// The dialog's own text readers: the centre text and the integer fields.
// Axes the centre text does not name keep their values, whole numbers of
// kilometres read exactly, and every integer a field accepts is shown in a
// form that reads back as the same integer.
//
// Input: four bytes of an integer for the round trips, then the text.
#include "app/field_exchange.h"
#include "app/flock_dialog.h"
#include "fuzz/targets.h"

#include <climits>
#include <string>

namespace {

constexpr int UNTOUCHED = 123456789;

bool names_axis(std::string_view text, std::string_view letters) { return text.find_first_of(letters) != text.npos; }

}  // namespace

int fuzz_text(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    const uint16_t high = input.word();
    const int32_t number = static_cast<int32_t>(static_cast<uint32_t>(high) << 16 | input.word());
    const std::string text(input.rest());

    int z = UNTOUCHED, x = UNTOUCHED, y = UNTOUCHED;
    FlockDialog::ParseCenter(text, z, x, y);
    fuzz_require(z == UNTOUCHED || names_axis(text, "nsNS"), "an axis not named keeps its value (z)");
    fuzz_require(x == UNTOUCHED || names_axis(text, "weWE"), "an axis not named keeps its value (x)");
    fuzz_require(y == UNTOUCHED || names_axis(text, "aA"), "an axis not named keeps its value (y)");

    const int kilometres = number / 1000;
    z = x = y = UNTOUCHED;
    FlockDialog::ParseCenter(std::to_string(kilometres) + "s " + std::to_string(kilometres) + "w " +
                                 std::to_string(kilometres) + "a",
                             z, x, y);
    fuzz_require(z == -kilometres * 1000 && x == kilometres * 1000 && y == kilometres * 1000,
                 "whole kilometres read exactly");

    int value = 0;
    if (ParseFieldInteger(text, value)) {
        int again = ~value;
        fuzz_require(ParseFieldInteger(std::to_string(value), again) && again == value, "an accepted integer reads back");
        fuzz_require(text.find_first_not_of(" \t+-0123456789") == std::string::npos || text.size() > 31,
                     "an accepted integer is blanks, a sign and digits");
    }
    value = ~number;
    fuzz_require(ParseFieldInteger(std::to_string(number), value) && value == number, "every int reads back");
    return 0;
}
