// Field exchange: moving edit-field texts into members and back. Integer
// fields must hold a 32-bit decimal integer; text fields may not exceed the
// template's length limit. Taking stops at the first field that fails, with
// the framework's warning box, so members of fields before it hold their new
// values and the rest keep their old ones.
#pragma once

#include "app/dialog.h"

#include <span>
#include <string>
#include <string_view>

struct FieldBinding {
    int id;             // ControlId of an edit field
    int* number;        // the member of an integer field, or null
    std::string* text;  // the member of a text field, or null
};

inline constexpr const char* INTEGER_PROMPT = "Please enter an integer.";
inline constexpr const char* LENGTH_PROMPT = "Please enter no more than %1 characters.";

// The integer in a field's text, by the rules of the fields: the first 31
// characters, blanks (spaces, tabs) around an optional sign and digits; a
// zero must be spelt from a leading '0'. False when it is not an integer.
bool ParseFieldInteger(std::string_view text, int& value);

// Fields into members, in order. False when a field failed (its message has
// been shown and the focus moved to it).
bool TakeFields(DialogFrame& frame, std::span<const FieldBinding> fields);

// Members into fields; integers in plain decimal.
void ShowFields(DialogFrame& frame, std::span<const FieldBinding> fields);
