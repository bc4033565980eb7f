#include "app/win32/dialog_resource.h"

#include "app/win32/wide_text.h"

#include <string_view>

namespace {

// Predefined window classes, by the atoms a dialog resource names them with.
constexpr WORD BUTTON_ATOM = 0x0080;
constexpr WORD EDIT_ATOM = 0x0081;
constexpr WORD STATIC_ATOM = 0x0082;
constexpr WORD ATOM_MARKER = 0xFFFF;

struct NativeControl {
    WORD classAtom;
    DWORD style;
    DWORD exStyle;
};

NativeControl Native(const ControlTemplate& control) {
    DWORD common = WS_CHILD | WS_VISIBLE;
    if (control.styles & STYLE_DISABLED) {
        common |= WS_DISABLED;
    }
    // Fixed texts and the status line are plain text: an '&' is no mnemonic.
    DWORD label = SS_NOPREFIX;
    switch (control.kind) {
    case ControlKind::Edit: {
        DWORD style = common | WS_TABSTOP | ES_LEFT;
        if (control.styles & STYLE_DIGITS) {
            style |= ES_NUMBER;
        }
        if (control.styles & STYLE_PASSWORD) {
            style |= ES_PASSWORD;
        }
        if (control.styles & STYLE_SCROLLS) {
            style |= ES_AUTOHSCROLL;
        }
        return {EDIT_ATOM, style, WS_EX_CLIENTEDGE};
    }
    case ControlKind::DefaultButton:
        return {BUTTON_ATOM, common | WS_TABSTOP | BS_DEFPUSHBUTTON, 0};
    case ControlKind::Button:
        return {BUTTON_ATOM, common | WS_TABSTOP | BS_PUSHBUTTON, 0};
    case ControlKind::GroupBox:
        return {BUTTON_ATOM, common | BS_GROUPBOX, 0};
    case ControlKind::Label:
        return {STATIC_ATOM, common | label | SS_LEFT, 0};
    case ControlKind::SunkenLabel:
        return {STATIC_ATOM, common | label | SS_LEFT | SS_SUNKEN, 0};
    case ControlKind::CentredLabel:
        return {STATIC_ATOM, common | label | SS_CENTER, 0};
    }
    return {STATIC_ATOM, common | label, 0};
}

class ResourceWriter {
public:
    void Word(WORD value) { words.push_back(value); }
    void Short(int value) { Word(static_cast<WORD>(static_cast<short>(value))); }
    void Dword(DWORD value) {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void Text(std::string_view utf8) {
        for (wchar_t c : Widen(utf8)) {
            Word(static_cast<WORD>(c));
        }
        Word(0);
    }
    void AlignDword() {
        if (words.size() % 2 != 0) {
            Word(0);
        }
    }
    void Rect(const DialogRect& rect) {
        Short(rect.x);
        Short(rect.y);
        Short(rect.width);
        Short(rect.height);
    }

    std::vector<WORD> words;
};

}  // namespace

std::vector<WORD> BuildDialogResource(const DialogTemplate& dialog) {
    ResourceWriter out;
    out.Dword(CONTROL_WINDOW_STYLE);
    out.Dword(CONTROL_WINDOW_EX_STYLE);
    out.Word(static_cast<WORD>(dialog.controls.size()));
    out.Rect({0, 0, dialog.width, dialog.height});
    out.Word(0);  // no menu
    out.Word(0);  // the dialog class
    out.Text(dialog.title);
    out.Word(static_cast<WORD>(dialog.fontPoints));
    out.Text(dialog.fontName);

    for (const ControlTemplate& control : dialog.controls) {
        NativeControl native = Native(control);
        out.AlignDword();
        out.Dword(native.style);
        out.Dword(native.exStyle);
        out.Rect(control.rect);
        // ID_NONE is -1, which the resource holds as 0xFFFF like any fixed text.
        out.Word(static_cast<WORD>(control.id));
        out.Word(ATOM_MARKER);
        out.Word(native.classAtom);
        out.Text(control.text);
        out.Word(0);  // no creation data
    }
    return out.words;
}
