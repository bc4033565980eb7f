// The control window as data: every control with its id, kind, text,
// rectangle in dialog units, length limit and styles, in tab order. Frames
// build the window from it; field exchange takes the length limits from it.
#pragma once

#include <span>

enum class ControlKind {
    Edit,
    DefaultButton,
    Button,
    Label,
    GroupBox,
    SunkenLabel,  // the status line
    CentredLabel
};

// Style bits of a control.
enum ControlStyle : unsigned {
    STYLE_NONE = 0,
    STYLE_DIGITS = 1u << 0,    // only digits may be typed
    STYLE_PASSWORD = 1u << 1,  // characters shown masked
    STYLE_SCROLLS = 1u << 2,   // scrolls horizontally past its width
    STYLE_DISABLED = 1u << 3   // disabled when the window opens
};

struct DialogRect {
    int x, y, width, height;  // dialog units
};

struct ControlTemplate {
    int id;            // ControlId, or ID_NONE
    ControlKind kind;
    const char* text;
    DialogRect rect;
    int maxLength;     // characters; 0 for no limit
    unsigned styles;   // ControlStyle bits
};

struct DialogTemplate {
    const char* title;
    int width, height;  // dialog units
    const char* fontName;
    int fontPoints;
    std::span<const ControlTemplate> controls;  // tab order
};

const DialogTemplate& FlockDialogTemplate();

// The control with that id, or null.
const ControlTemplate* FindControl(int id);
