#include "app/field_exchange.h"

#include "app/ascii.h"
#include "app/dialog_template.h"

#include <cstdint>

namespace {

constexpr std::size_t INTEGER_TEXT_LIMIT = 31;
constexpr const char* FRAMEWORK_CAPTION = "Skyflit";

std::string LengthMessage(int limit) {
    std::string message = LENGTH_PROMPT;
    std::size_t at = message.find("%1");
    message.replace(at, 2, std::to_string(limit));
    return message;
}

void Refuse(DialogFrame& frame, int id, const std::string& message) {
    frame.ShowMessage(message, FRAMEWORK_CAPTION, MessageIcon::Warning, true);
    frame.Focus(id);
}

}  // namespace

bool ParseFieldInteger(std::string_view text, int& value) {
    text = text.substr(0, INTEGER_TEXT_LIMIT);
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    const SignedDigits scan = ScanSignedDigits(text, i);
    if (scan.digits == 0 || scan.magnitude > INT64_C(2147483648)) {
        return false;
    }
    i = scan.end;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    if (i != text.size()) {
        return false;
    }
    std::int64_t result = scan.negative ? -scan.magnitude : scan.magnitude;
    if (result > INT32_MAX) {
        return false;
    }
    if (result == 0 && text.front() != '0') {
        return false;
    }
    value = static_cast<int>(result);
    return true;
}

bool TakeFields(DialogFrame& frame, std::span<const FieldBinding> fields) {
    for (const FieldBinding& field : fields) {
        std::string text = frame.Text(field.id);
        if (field.number) {
            if (!ParseFieldInteger(text, *field.number)) {
                Refuse(frame, field.id, INTEGER_PROMPT);
                return false;
            }
        } else if (field.text) {
            const ControlTemplate* control = FindControl(field.id);
            int limit = control ? control->maxLength : 0;
            if (limit > 0 && text.size() > static_cast<std::size_t>(limit)) {
                Refuse(frame, field.id, LengthMessage(limit));
                return false;
            }
            *field.text = std::move(text);
        }
    }
    return true;
}

void ShowFields(DialogFrame& frame, std::span<const FieldBinding> fields) {
    for (const FieldBinding& field : fields) {
        if (field.number) {
            frame.SetText(field.id, std::to_string(*field.number));
        } else if (field.text) {
            frame.SetText(field.id, *field.text);
        }
    }
}
