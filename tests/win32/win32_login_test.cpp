// The program's start-up on the Win32 window: a user types the login and
// presses "Login", and the flock gets into a scripted world.
#include "app/flock_app.h"
#include "app/win32/wide_text.h"
#include "app/win32/win32_frame.h"
#include "tests/app/flock_fixture.h"
#include "win32_test_support.h"

#include <optional>

namespace {

class Win32LoginTest : public FlockFixture {
protected:
    // Runs the program's window; the steps play the user once it is up.
    int RunProgram(std::vector<Script::Step> steps) {
        Script script(std::move(steps));
        FlockApp app;
        int status = app.Run(*window);
        EXPECT_TRUE(script.Finished());
        return status;
    }

    static void Retype(HWND dialog, int id, const std::wstring& text) {
        HWND edit = GetDlgItem(dialog, id);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        SendMessageW(edit, WM_CHAR, VK_BACK, 1);
        Type(edit, text);
    }

    static std::string TextOf(HWND dialog, int id) { return Narrow(WindowText(GetDlgItem(dialog, id))); }

    std::unique_ptr<DialogFrame> window = MakeWin32Frame();
    HangGuard guard;
};

TEST_F(Win32LoginTest, TypedLoginGetsTheFlockFlying) {
    WriteSettings("");
    std::vector<std::string> painted;
    int status = RunProgram({[&](HWND dialog) {
        EXPECT_EQ(TextOf(dialog, ID_STATUS), "Please enter login info.");
        EXPECT_EQ(TextOf(dialog, ID_BIRDS), "3");
        Retype(dialog, ID_CITIZEN, L"1234");
        Retype(dialog, ID_PASSWORD, L"wings");
        Retype(dialog, ID_WORLD, L"Sky");
        Retype(dialog, ID_AVATAR, L"5");
        Retype(dialog, ID_CENTER, L"1.5n 2e 0.1a");

        std::optional<PaintRecorder> recorder(std::in_place, GetDlgItem(dialog, ID_STATUS));
        SendMessageW(GetDlgItem(dialog, ID_LOGIN), BM_CLICK, 0, 0);
        painted = recorder->painted;
        recorder.reset();

        EXPECT_EQ(TextOf(dialog, ID_STATUS), "Skyflit now running.");
        for (int id : {ID_LOGIN, ID_CITIZEN, ID_PASSWORD, ID_BIRDS, ID_APPLY, ID_AVATAR, ID_CENTER, ID_WORLD}) {
            bool enabled = id == ID_AVATAR || id == ID_CENTER || id == ID_WORLD;
            EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE, enabled) << id;
        }
        // An edit to a running flock's world offers "Apply".
        Type(GetDlgItem(dialog, ID_WORLD), L"2");
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, ID_APPLY)));
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    }});
    EXPECT_EQ(status, EXIT_CLOSED);

    // Progress reached the screen while the logins blocked the message loop.
    EXPECT_EQ(painted, THREE_BIRDS_STARTING);
    EXPECT_EQ(universe.count(MSG_LOGIN), 3);
    EXPECT_EQ(world.count(MSG_WORLD_LOGIN_V4), 3);
    const std::string saved = SettingsBytes();
    EXPECT_NE(saved.find("Citizen=1234"), std::string::npos) << saved;
    EXPECT_NE(saved.find("World=Sky"), std::string::npos) << saved;
    EXPECT_NE(saved.find("CenterCoords=1.5n 2e 0.1a"), std::string::npos) << saved;
}

TEST_F(Win32LoginTest, FailedStartReportsThenEndsTheProgram) {
    const int port = ClosedPort();
    WriteSettings("World=sky\nBirdCount=2\n", port);
    MessageBoxWatcher watcher;
    int status = RunProgram({[](HWND dialog) { PostKey(GetDlgItem(dialog, ID_CENTER), VK_RETURN); }});
    EXPECT_EQ(status, EXIT_QUIT_POSTED);
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_EQ(watcher.seen[0].title, "Skyflit");
    EXPECT_EQ(watcher.seen[0].text,
              "Unable to create bot instance (unable to connect).\ncould not reach 127.0.0.1:" + std::to_string(port) +
                  " (unable to connect)");
    EXPECT_EQ(watcher.seen[0].icon, MessageIcon::None);
    EXPECT_TRUE(watcher.seen[0].ownedByWindow);
    EXPECT_TRUE(watcher.seen[0].windowVisible);
    EXPECT_EQ(FindControlWindow(), nullptr);
    // The window's teardown wrote the settings back.
    EXPECT_NE(SettingsBytes().find("BirdCount=2"), std::string::npos);
}

}  // namespace
