#include "win32_test_support.h"

#include "app/win32/wide_text.h"

#include <map>
#include <utility>

namespace {

std::map<UINT_PTR, ThreadTimer*>& Timers() {
    static std::map<UINT_PTR, ThreadTimer*> timers;
    return timers;
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

bool IsDialogWindow(HWND window) {
    return ClassName(window) == L"#32770";
}

// The dialogs of this thread, message boxes included.
std::vector<HWND> ThreadDialogs() {
    std::vector<HWND> found;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM list) -> BOOL {
            if (IsDialogWindow(window)) {
                reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::vector<HWND> Children(HWND window) {
    std::vector<HWND> found;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        found.push_back(child);
    }
    return found;
}

MessageIcon IconOf(HICON icon) {
    if (!icon) {
        return MessageIcon::None;
    }
    if (icon == LoadIconW(nullptr, IDI_WARNING)) {
        return MessageIcon::Warning;
    }
    if (icon == LoadIconW(nullptr, IDI_ERROR)) {
        return MessageIcon::Error;
    }
    ADD_FAILURE() << "a message box icon of neither kind";
    return MessageIcon::None;
}

constexpr const wchar_t* RECORDER_PROPERTY = L"SkyflitPaintRecorder";

}  // namespace

ThreadTimer::ThreadTimer(unsigned periodMs, std::function<void()> tick) : tick(std::move(tick)) {
    id = SetTimer(nullptr, 0, periodMs, Fire);
    EXPECT_NE(id, 0u) << "SetTimer failed";
    Timers()[id] = this;
}

ThreadTimer::~ThreadTimer() {
    Stop();
}

void ThreadTimer::Stop() {
    if (id != 0) {
        KillTimer(nullptr, id);
        Timers().erase(id);
        id = 0;
    }
}

void CALLBACK ThreadTimer::Fire(HWND, UINT, UINT_PTR id, DWORD) {
    auto found = Timers().find(id);
    if (found == Timers().end() || found->second->busy) {
        return;
    }
    ThreadTimer& timer = *found->second;
    timer.busy = true;
    timer.tick();
    // The tick may have stopped and destroyed its own timer.
    found = Timers().find(id);
    if (found != Timers().end()) {
        found->second->busy = false;
    }
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

HWND FindControlWindow() {
    for (HWND dialog : ThreadDialogs()) {
        if (WindowText(dialog) == CONTROL_WINDOW_TITLE) {
            return dialog;
        }
    }
    return nullptr;
}

Script::Script(std::vector<Step> steps)
    : steps(std::move(steps)), timer(10, [this] {
          HWND window = FindControlWindow();
          if (!window || !IsWindowVisible(window) || Finished()) {
              return;
          }
          this->steps[next++](window);
      }) {}

void Type(HWND edit, const std::wstring& text) {
    for (wchar_t c : text) {
        SendMessageW(edit, WM_CHAR, c, 1);
    }
}

void PostKey(HWND control, UINT key) {
    PostMessageW(control, WM_KEYDOWN, key, 1);
    PostMessageW(control, WM_KEYUP, key, 1 | (1u << 30) | (1u << 31));
}

MessageBoxWatcher::MessageBoxWatcher() : timer(10, [this] { Poll(); }) {}

void MessageBoxWatcher::Poll() {
    HWND control = FindControlWindow();
    for (HWND box : ThreadDialogs()) {
        if (box == control || !IsWindowVisible(box)) {
            continue;
        }
        SeenMessage message{Narrow(WindowText(box)), "", MessageIcon::None, control && GetWindow(box, GW_OWNER) == control,
                            control && IsWindowVisible(control)};
        for (HWND child : Children(box)) {
            if (ClassName(child) != L"Static") {
                continue;
            }
            if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                if (IsWindowVisible(child)) {
                    message.icon = IconOf(reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0)));
                }
            } else if (std::wstring text = WindowText(child); !text.empty()) {
                message.text = Narrow(text);
            }
        }
        seen.push_back(message);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
}

PaintRecorder::PaintRecorder(HWND control)
    : control(control), original(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(control, GWLP_WNDPROC))) {
    SetPropW(control, RECORDER_PROPERTY, this);
    SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Proc));
}

PaintRecorder::~PaintRecorder() {
    if (IsWindow(control)) {
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        RemovePropW(control, RECORDER_PROPERTY);
    }
}

LRESULT CALLBACK PaintRecorder::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* recorder = static_cast<PaintRecorder*>(GetPropW(window, RECORDER_PROPERTY));
    LRESULT result = CallWindowProcW(recorder->original, window, message, wParam, lParam);
    if (message == WM_PAINT) {
        std::string text = Narrow(WindowText(window));
        if (recorder->painted.empty() || recorder->painted.back() != text) {
            recorder->painted.push_back(text);
        }
    }
    return result;
}

HangGuard::HangGuard(unsigned milliseconds)
    : timer(milliseconds, [this] {
          fired = true;
          for (HWND dialog : ThreadDialogs()) {
              PostMessageW(dialog, WM_CLOSE, 0, 0);
          }
      }) {}
