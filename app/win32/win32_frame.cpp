#include "app/win32/win32_frame.h"

#include "app/dialog_template.h"
#include "app/win32/dialog_resource.h"
#include "app/win32/fixed_text.h"
#include "app/win32/wide_text.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <utility>

namespace {

UINT IconFlag(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Warning:
        return MB_ICONWARNING;
    case MessageIcon::Error:
        return MB_ICONERROR;
    case MessageIcon::None:
        break;
    }
    return 0;
}

bool IsKind(int id, std::initializer_list<ControlKind> kinds) {
    const ControlTemplate* control = FindControl(id);
    if (!control) {
        return false;
    }
    for (ControlKind kind : kinds) {
        if (control->kind == kind) {
            return true;
        }
    }
    return false;
}

std::wstring WindowText(HWND window) {
    if (!window) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    int length = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

HICON LoadProgramIcon(int resource, int sizeMetric) {
    int size = GetSystemMetrics(sizeMetric);
    return static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), IMAGE_ICON, size, size, 0));
}

// The dialog layer over a modal Win32 dialog. Events reach the handler only
// between WM_INITDIALOG and WM_DESTROY; a quit or close request waits until
// the outermost handler call has returned, as that handler may still show a
// message box.
class Win32Frame final : public DialogFrame {
public:
    Win32Frame() = default;
    Win32Frame(const Win32Frame&) = delete;
    Win32Frame& operator=(const Win32Frame&) = delete;

    ~Win32Frame() override { ReleaseIcons(); }

    int RunModal(DialogHandler& target) override {
        handler = &target;
        quitPosted = false;
        closeRequested = false;
        initialized = false;
        editTexts.clear();
        std::vector<WORD> resource = BuildDialogResource(FlockDialogTemplate());
        INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                                 reinterpret_cast<LPCDLGTEMPLATEW>(resource.data()), nullptr,
                                                 DialogProc, reinterpret_cast<LPARAM>(this));
        handler = nullptr;
        window = nullptr;
        ReleaseIcons();
        if (result == -1 && !initialized) {
            // Without a window the handler never started, so there is
            // nothing to tear down; the caller's exit status says it failed.
            std::fprintf(stderr, "skyflit: the control window could not be created (error %lu)\n", GetLastError());
            return EXIT_QUIT_POSTED;
        }
        return quitPosted ? EXIT_QUIT_POSTED : EXIT_CLOSED;
    }

    void SetText(int id, const std::string& text) override {
        HWND control = Control(id);
        if (!control) {
            return;
        }
        // A text set by the logic is no edit by the user.
        settingText = true;
        SetWindowTextW(control, Widen(text).c_str());
        settingText = false;
        // The logic may block the message loop right after this (a login
        // waits for the server), so progress must reach the screen now, not
        // at the next WM_PAINT.
        RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }

    std::string Text(int id) const override {
        return Narrow(WindowText(Control(id)));
    }

    void Enable(int id, bool enabled) override {
        if (HWND control = Control(id)) {
            EnableWindow(control, enabled);
        }
    }

    bool IsEnabled(int id) const override {
        HWND control = Control(id);
        return control && IsWindowEnabled(control);
    }

    void Focus(int id) override {
        HWND control = Control(id);
        if (!control) {
            return;
        }
        SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        if (IsKind(id, {ControlKind::Edit})) {
            SendMessageW(control, EM_SETSEL, 0, -1);
        }
    }

    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon, bool owned) override {
        HWND owner = owned ? window : nullptr;
        MessageBoxW(owner, Widen(text).c_str(), Widen(caption).c_str(), MB_OK | IconFlag(icon));
    }

    void StartTimer(int id, int periodMs) override {
        if (!live) {
            return;
        }
        if (SetTimer(window, static_cast<UINT_PTR>(id), static_cast<UINT>(periodMs), nullptr) != 0) {
            timers.insert(id);
        }
    }

    void StopTimer(int id) override {
        // A WM_TIMER already queued still arrives; forgetting the id drops it.
        if (timers.erase(id) != 0) {
            KillTimer(window, static_cast<UINT_PTR>(id));
        }
    }

    void PostQuit() override {
        quitPosted = true;
        if (depth == 0) {
            EndRun();
        }
    }

    void SetIcon(int resource) override {
        if (!window) {
            return;
        }
        // The window holds the old icons until the new ones replace them.
        HICON oldLarge = std::exchange(largeIcon, LoadProgramIcon(resource, SM_CXICON));
        HICON oldSmall = std::exchange(smallIcon, LoadProgramIcon(resource, SM_CXSMICON));
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon));
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
        for (HICON icon : {oldLarge, oldSmall}) {
            if (icon) {
                DestroyIcon(icon);
            }
        }
    }

    void GreyMaximizeAndSize() override {
        if (!window) {
            return;
        }
        HMENU menu = GetSystemMenu(window, FALSE);
        EnableMenuItem(menu, SC_MAXIMIZE, MF_BYCOMMAND | MF_GRAYED);
        EnableMenuItem(menu, SC_SIZE, MF_BYCOMMAND | MF_GRAYED);
    }

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        }
        auto* frame = reinterpret_cast<Win32Frame*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (!frame) {
            return FALSE;
        }
        return frame->Handle(dialog, message, wParam);
    }

    INT_PTR Handle(HWND dialog, UINT message, WPARAM wParam) {
        switch (message) {
        case WM_INITDIALOG:
            Start(dialog);
            return TRUE;
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_TIMER: {
            int id = static_cast<int>(wParam);
            if (timers.count(id) != 0) {
                Deliver([id](DialogHandler& h) { h.OnTimer(id); });
            }
            return TRUE;
        }
        case WM_CLOSE:
            RequestClose();
            return TRUE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(largeIcon);
        case WM_DESTROY:
            Finish();
            return TRUE;
        default:
            return FALSE;
        }
    }

    void Start(HWND dialog) {
        window = dialog;
        live = true;
        initialized = true;
        FitFixedTexts(dialog, FlockDialogTemplate());
        for (const ControlTemplate& control : FlockDialogTemplate().controls) {
            if (control.kind == ControlKind::Edit && control.maxLength > 0) {
                SendDlgItemMessageW(dialog, control.id, EM_LIMITTEXT, static_cast<WPARAM>(control.maxLength), 0);
            }
        }
        Deliver([this](DialogHandler& h) { h.Initialize(*this); });
    }

    void Command(int id, int code) {
        if (id == IDCANCEL) {
            // Escape and the close box.
            RequestClose();
        } else if (code == BN_CLICKED && IsKind(id, {ControlKind::Button, ControlKind::DefaultButton})) {
            // A disabled button presses nothing, whoever sent the command.
            if (IsEnabled(id)) {
                Deliver([id](DialogHandler& h) { h.OnCommand(id); });
            }
        } else if (code == EN_CHANGE && IsKind(id, {ControlKind::Edit})) {
            // Some edit controls report a change for a key that the limit
            // refused; only a new text counts.
            std::wstring text = WindowText(Control(id));
            if (std::exchange(editTexts[id], text) != text && !settingText) {
                Deliver([id](DialogHandler& h) { h.OnTextChanged(id); });
            }
        }
    }

    void Finish() {
        if (!live) {
            return;
        }
        live = false;
        for (int id : timers) {
            KillTimer(window, static_cast<UINT_PTR>(id));
        }
        timers.clear();
        if (handler) {
            handler->Teardown();
        }
    }

    void Deliver(const std::function<void(DialogHandler&)>& event) {
        if (!live || !handler) {
            return;
        }
        ++depth;
        event(*handler);
        --depth;
        if (depth == 0 && (quitPosted || closeRequested)) {
            EndRun();
        }
    }

    void RequestClose() {
        closeRequested = true;
        if (depth == 0) {
            EndRun();
        }
    }

    void EndRun() {
        if (live) {
            EndDialog(window, 0);
        }
    }

    HWND Control(int id) const {
        return window && id != ID_NONE ? GetDlgItem(window, id) : nullptr;
    }

    void ReleaseIcons() {
        for (HICON* icon : {&largeIcon, &smallIcon}) {
            if (*icon) {
                DestroyIcon(*icon);
                *icon = nullptr;
            }
        }
    }

    HWND window = nullptr;
    HICON largeIcon = nullptr;
    HICON smallIcon = nullptr;
    std::set<int> timers;
    std::map<int, std::wstring> editTexts;  // as last reported
    DialogHandler* handler = nullptr;
    int depth = 0;
    bool live = false;
    bool initialized = false;
    bool quitPosted = false;
    bool closeRequested = false;
    bool settingText = false;
};

}  // namespace

std::unique_ptr<DialogFrame> MakeWin32Frame() {
    return std::make_unique<Win32Frame>();
}

void CloseOwnConsole() {
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) == 1) {
        FreeConsole();
    }
}
