#include "app/win32/fixed_text.h"

#include "app/win32/wide_text.h"

namespace {

int TextWidth(HWND control, const std::wstring& text) {
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return size.cx;
}

void Fit(HWND control, const ControlTemplate& layout) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    int missing = TextWidth(control, Widen(layout.text)) - (rect.right - rect.left);
    if (missing <= 0) {
        return;
    }
    if (layout.kind == ControlKind::CentredLabel) {
        rect.left -= missing / 2;
    }
    SetWindowPos(control, nullptr, rect.left, rect.top, rect.right - rect.left + missing, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void FitFixedTexts(HWND dialog, const DialogTemplate& layout) {
    HWND control = GetWindow(dialog, GW_CHILD);
    for (const ControlTemplate& each : layout.controls) {
        if (!control) {
            return;
        }
        // The status line's texts come and go; it keeps its frame.
        if (each.kind == ControlKind::Label || each.kind == ControlKind::CentredLabel) {
            Fit(control, each);
        }
        control = GetWindow(control, GW_HWNDNEXT);
    }
}
