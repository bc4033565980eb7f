// The Win32 frame on its own: the window it builds from the template, and
// how it delivers the window's events to a handler.
#include "app/dialog_template.h"
#include "app/win32/win32_frame.h"
#include "app/win32/wide_text.h"
#include "win32_test_support.h"

#include <cwchar>

namespace {

using Steps = std::vector<Script::Step>;

// The native class and type of each kind of control.
struct KindExpectation {
    ControlKind kind;
    const wchar_t* className;
    DWORD type;
    DWORD typeMask;
};

constexpr KindExpectation KINDS[] = {
    {ControlKind::Edit, L"Edit", 0, 0},
    {ControlKind::DefaultButton, L"Button", BS_DEFPUSHBUTTON, BS_TYPEMASK},
    {ControlKind::Button, L"Button", BS_PUSHBUTTON, BS_TYPEMASK},
    {ControlKind::GroupBox, L"Button", BS_GROUPBOX, BS_TYPEMASK},
    {ControlKind::Label, L"Static", SS_LEFT, SS_TYPEMASK | SS_SUNKEN},
    {ControlKind::SunkenLabel, L"Static", SS_LEFT | SS_SUNKEN, SS_TYPEMASK | SS_SUNKEN},
    {ControlKind::CentredLabel, L"Static", SS_CENTER, SS_TYPEMASK | SS_SUNKEN},
};

// Template styles of an edit field and the native styles they stand for.
constexpr std::pair<unsigned, DWORD> EDIT_STYLES[] = {
    {STYLE_DIGITS, ES_NUMBER}, {STYLE_PASSWORD, ES_PASSWORD}, {STYLE_SCROLLS, ES_AUTOHSCROLL}};

// An edit without a template limit keeps the system's own, far above any field.
constexpr LRESULT DEFAULT_LIMIT_FLOOR = 30000;

const KindExpectation& ExpectationOf(ControlKind kind) {
    for (const KindExpectation& expectation : KINDS) {
        if (expectation.kind == kind) {
            return expectation;
        }
    }
    return KINDS[0];
}

RECT InDialog(HWND control) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// As the dialog manager places a control: its origin and its size each
// scaled on their own.
RECT DialogToPixels(HWND dialog, const DialogRect& units) {
    RECT origin{units.x, units.y, 0, 0};
    RECT size{units.width, units.height, 0, 0};
    MapDialogRect(dialog, &origin);
    MapDialogRect(dialog, &size);
    return {origin.left, origin.top, origin.left + size.left, origin.top + size.top};
}

void ExpectRect(const RECT& actual, const RECT& expected, int id) {
    EXPECT_EQ(actual.left, expected.left) << id;
    EXPECT_EQ(actual.top, expected.top) << id;
    EXPECT_EQ(actual.right, expected.right) << id;
    EXPECT_EQ(actual.bottom, expected.bottom) << id;
}

int TextWidth(HWND control) {
    std::wstring text = WindowText(control);
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return size.cx;
}

// A fixed text may grow along its line to show all of itself in the font at
// hand; every other control sits exactly where the template puts it.
void ExpectPlace(HWND control, const ControlTemplate& expected, const RECT& wanted) {
    RECT actual = InDialog(control);
    if (expected.kind != ControlKind::Label && expected.kind != ControlKind::CentredLabel) {
        ExpectRect(actual, wanted, expected.id);
        return;
    }
    EXPECT_EQ(actual.top, wanted.top) << expected.text;
    EXPECT_EQ(actual.bottom, wanted.bottom) << expected.text;
    EXPECT_GE(actual.right - actual.left, wanted.right - wanted.left) << expected.text;
    EXPECT_GE(actual.right - actual.left, TextWidth(control)) << expected.text;
    if (expected.kind == ControlKind::Label) {
        EXPECT_EQ(actual.left, wanted.left) << expected.text;
    } else {
        EXPECT_NEAR(actual.left + actual.right, wanted.left + wanted.right, 1) << expected.text;
    }
}

void Command(HWND dialog, int id, int code = BN_CLICKED) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

class Win32WindowTest : public ::testing::Test {
protected:
    int Run(Steps steps) {
        Script script(std::move(steps));
        int status = frame->RunModal(handler);
        EXPECT_TRUE(script.Finished());
        return status;
    }

    std::unique_ptr<DialogFrame> frame = MakeWin32Frame();
    RecordingHandler handler;
    HangGuard guard;
};

TEST_F(Win32WindowTest, EveryTemplateControlInTabOrderWithItsClassTextLimitAndStyles) {
    const DialogTemplate& dialog = FlockDialogTemplate();
    Run({[&](HWND window) {
        HWND control = GetWindow(window, GW_CHILD);
        for (const ControlTemplate& expected : dialog.controls) {
            ASSERT_NE(control, nullptr) << "missing control " << expected.text;
            const KindExpectation& kind = ExpectationOf(expected.kind);
            DWORD style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
            wchar_t className[32] = {};
            GetClassNameW(control, className, 32);

            EXPECT_EQ(GetDlgCtrlID(control), static_cast<WORD>(expected.id)) << expected.text;
            EXPECT_EQ(_wcsicmp(className, kind.className), 0) << expected.id;
            EXPECT_EQ(style & kind.typeMask, kind.type) << expected.id;
            EXPECT_EQ(Narrow(WindowText(control)), expected.text) << expected.id;
            EXPECT_TRUE(style & WS_VISIBLE) << expected.id;
            EXPECT_EQ(IsWindowEnabled(control) != FALSE, !(expected.styles & STYLE_DISABLED)) << expected.id;
            ExpectPlace(control, expected, DialogToPixels(window, expected.rect));
            if (expected.kind == ControlKind::Edit) {
                for (auto [templateStyle, native] : EDIT_STYLES) {
                    EXPECT_EQ((style & native) != 0, (expected.styles & templateStyle) != 0)
                        << expected.id << " style " << native;
                }
                EXPECT_EQ(SendMessageW(control, EM_GETPASSWORDCHAR, 0, 0) != 0,
                          (expected.styles & STYLE_PASSWORD) != 0) << expected.id;
                LRESULT limit = SendMessageW(control, EM_GETLIMITTEXT, 0, 0);
                if (expected.maxLength > 0) {
                    EXPECT_EQ(limit, expected.maxLength) << expected.id;
                } else {
                    EXPECT_GE(limit, DEFAULT_LIMIT_FLOOR) << expected.id;
                }
            }
            control = GetWindow(control, GW_HWNDNEXT);
        }
        EXPECT_EQ(control, nullptr) << "a control the template does not have";
        PostMessageW(window, WM_CLOSE, 0, 0);
    }});
}

TEST_F(Win32WindowTest, WindowHasTheTemplatesTitleSizeFontAndFixedFrame) {
    handler.onInitialize = [](DialogFrame& frame) {
        frame.SetIcon(PROGRAM_ICON);
        frame.GreyMaximizeAndSize();
    };
    const DialogTemplate& dialog = FlockDialogTemplate();
    Run({[&](HWND window) {
        EXPECT_EQ(Narrow(WindowText(window)), dialog.title);
        RECT client;
        GetClientRect(window, &client);
        ExpectRect(client, DialogToPixels(window, {0, 0, dialog.width, dialog.height}), 0);

        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
        EXPECT_EQ(Narrow(font.lfFaceName), dialog.fontName);
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(font.lfHeight, -MulDiv(dialog.fontPoints, GetDeviceCaps(screen, LOGPIXELSY), 72));
        ReleaseDC(nullptr, screen);

        LONG style = GetWindowLongW(window, GWL_STYLE);
        EXPECT_TRUE(style & WS_MINIMIZEBOX);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME));
        EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);
        HMENU menu = GetSystemMenu(window, FALSE);
        EXPECT_TRUE(GetMenuState(menu, SC_MAXIMIZE, MF_BYCOMMAND) & MF_GRAYED);
        EXPECT_TRUE(GetMenuState(menu, SC_SIZE, MF_BYCOMMAND) & MF_GRAYED);
        EXPECT_FALSE(GetMenuState(menu, SC_MINIMIZE, MF_BYCOMMAND) & MF_GRAYED);

        EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_BIG, 0), 0);
        EXPECT_NE(SendMessageW(window, WM_GETICON, ICON_SMALL, 0), 0);
        EXPECT_EQ(SendMessageW(window, WM_QUERYDRAGICON, 0, 0), SendMessageW(window, WM_GETICON, ICON_BIG, 0));
        // The keyboard starts at the first field and tabs through the
        // template's order, passing over the disabled "Apply".
        HWND stop = GetNextDlgTabItem(window, nullptr, FALSE);
        for (int id : {ID_CITIZEN, ID_PASSWORD, ID_WORLD, ID_AVATAR, ID_CENTER, ID_BIRDS, ID_LOGIN, ID_CITIZEN}) {
            EXPECT_EQ(GetDlgCtrlID(stop), id);
            stop = GetNextDlgTabItem(window, stop, FALSE);
        }
        PostMessageW(window, WM_CLOSE, 0, 0);
    }});
}

TEST_F(Win32WindowTest, TypingReportsChangesWithinTheFieldsRulesAndSetTextDoesNot) {
    handler.onInitialize = [](DialogFrame& frame) { frame.SetText(ID_WORLD, "sky"); };
    Run({[&](HWND window) {
        Type(GetDlgItem(window, ID_CITIZEN), L"a7");            // digits only
        Type(GetDlgItem(window, ID_PASSWORD), std::wstring(20, L'p'));  // at most 16
        frame->SetText(ID_WORLD, "Möwenflug");                 // beyond its limit of 8
        Type(GetDlgItem(window, ID_WORLD), L"x");
        EXPECT_EQ(frame->Text(ID_CITIZEN), "7");
        EXPECT_EQ(frame->Text(ID_PASSWORD), std::string(16, 'p'));
        EXPECT_EQ(frame->Text(ID_WORLD), "Möwenflug");
        EXPECT_EQ(WindowText(GetDlgItem(window, ID_WORLD)), L"M\u00f6wenflug");
        PostMessageW(window, WM_CLOSE, 0, 0);
    }});
    EXPECT_EQ(handler.Count("text 1001"), 1);
    EXPECT_EQ(handler.Count("text 1002"), 16);
    EXPECT_EQ(handler.Count("text 1003"), 0);
}

TEST_F(Win32WindowTest, EnabledButtonsAndEnterPressButDisabledOnesDoNot) {
    Run({
        [&](HWND window) {
            SendMessageW(GetDlgItem(window, ID_LOGIN), BM_CLICK, 0, 0);
            Command(window, ID_APPLY);  // disabled by the template
            frame->Enable(ID_APPLY, true);
            SendMessageW(GetDlgItem(window, ID_APPLY), BM_CLICK, 0, 0);
            PostKey(GetDlgItem(window, ID_CITIZEN), VK_RETURN);
        },
        [&](HWND window) {
            EXPECT_EQ(handler.events, (std::vector<std::string>{"initialize", "command 1000", "command 1004",
                                                                "command 1000"}));
            frame->Enable(ID_LOGIN, false);
            EXPECT_FALSE(frame->IsEnabled(ID_LOGIN));
            PostKey(GetDlgItem(window, ID_CITIZEN), VK_RETURN);
        },
        [&](HWND window) {
            EXPECT_EQ(handler.Count("command 1000"), 2);
            PostMessageW(window, WM_CLOSE, 0, 0);
        },
    });
}

TEST_F(Win32WindowTest, TimersReachTheHandlerUntilStopped) {
    handler.onInitialize = [](DialogFrame& frame) { frame.StartTimer(42, 10); };
    handler.onTimer = [this](DialogFrame& frame, int id) {
        if (id == 42 && handler.Count("timer 42") == 3) {
            frame.StopTimer(42);
            frame.StartTimer(43, 20);
        } else if (id == 43) {
            frame.PostQuit();
        }
    };
    EXPECT_EQ(frame->RunModal(handler), EXIT_QUIT_POSTED);
    EXPECT_EQ(handler.events, (std::vector<std::string>{"initialize", "timer 42", "timer 42", "timer 42",
                                                        "timer 43", "teardown"}));
}

TEST_F(Win32WindowTest, EveryWayOfClosingEndsTheRunAndTearsDownOnce) {
    const std::pair<const char*, Script::Step> ways[] = {
        {"close message", [](HWND w) { PostMessageW(w, WM_CLOSE, 0, 0); }},
        {"close box", [](HWND w) { PostMessageW(w, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"Escape", [](HWND w) { PostKey(GetDlgItem(w, ID_CENTER), VK_ESCAPE); }},
        {"cancel", [](HWND w) { Command(w, IDCANCEL); }},
    };
    for (const auto& [name, close] : ways) {
        SCOPED_TRACE(name);
        RecordingHandler closed;
        HWND shown = nullptr;
        Script script({[&](HWND window) {
            shown = window;
            close(window);
        }});
        EXPECT_EQ(frame->RunModal(closed), EXIT_CLOSED);
        EXPECT_EQ(closed.events, (std::vector<std::string>{"initialize", "teardown"}));
        EXPECT_FALSE(IsWindow(shown));
    }
}

TEST_F(Win32WindowTest, QuitPostedDuringInitializeEndsBeforeTheWindowShows) {
    handler.onInitialize = [](DialogFrame& frame) { frame.PostQuit(); };
    EXPECT_EQ(frame->RunModal(handler), EXIT_QUIT_POSTED);
    EXPECT_EQ(handler.events, (std::vector<std::string>{"initialize", "teardown"}));
}

// A handler that asks to end the run and then reports keeps the window until
// its message box has been dismissed.
TEST_F(Win32WindowTest, QuitOrCloseWaitsForTheHandlersMessageBox) {
    for (bool quit : {true, false}) {
        RecordingHandler reporter;
        reporter.onCommand = [quit](DialogFrame& frame, int) {
            if (quit) {
                frame.PostQuit();
            } else {
                PostMessageW(FindControlWindow(), WM_CLOSE, 0, 0);
            }
            frame.ShowMessage("Bird1 is unable to enter the world (no such world).", "Skyflit", MessageIcon::None,
                              true);
            frame.SetText(ID_STATUS, "after the box");
        };
        MessageBoxWatcher watcher;
        Script script({[](HWND window) { SendMessageW(GetDlgItem(window, ID_LOGIN), BM_CLICK, 0, 0); }});
        EXPECT_EQ(frame->RunModal(reporter), quit ? EXIT_QUIT_POSTED : EXIT_CLOSED);
        ASSERT_EQ(watcher.seen.size(), 1u) << quit;
        EXPECT_EQ(watcher.seen[0].text, "Bird1 is unable to enter the world (no such world).");
        EXPECT_EQ(watcher.seen[0].title, "Skyflit");
        EXPECT_TRUE(watcher.seen[0].ownedByWindow);
        EXPECT_TRUE(watcher.seen[0].windowVisible);
        EXPECT_EQ(reporter.events, (std::vector<std::string>{"initialize", "command 1000", "teardown"}));
    }
}

// Before the window exists, as at the library's start.
TEST_F(Win32WindowTest, MessageBoxShowsTextCaptionAndIconWithoutOwner) {
    const std::pair<MessageIcon, const char*> boxes[] = {{MessageIcon::None, "Möwe & Co."},
                                                         {MessageIcon::Warning, "Can't initialize Winsock"},
                                                         {MessageIcon::Error, "Unable to initialize world API."}};
    for (auto [icon, text] : boxes) {
        MessageBoxWatcher watcher;
        frame->ShowMessage(text, "Skyflit", icon, true);
        ASSERT_EQ(watcher.seen.size(), 1u) << text;
        EXPECT_EQ(watcher.seen[0].title, "Skyflit");
        EXPECT_EQ(watcher.seen[0].text, text);
        EXPECT_EQ(watcher.seen[0].icon, icon) << text;
        EXPECT_FALSE(watcher.seen[0].ownedByWindow) << text;
    }
}

}  // namespace
