// The settings file on Windows: what the file's attributes do to a rewrite.
#include "settings_fixture.h"

#include <windows.h>

namespace {

DWORD Attributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

// A read-only settings file is left alone, as the platform's own profile
// writer leaves it: the write fails and nothing is left beside it.
TEST_F(SettingsFile, AReadOnlyFileIsNotReplaced) {
    Put("[Main]\r\nWorld=a\r\n");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(WriteSetting(path, "Main", "World", "b"));
    EXPECT_EQ(Bytes(), "[Main]\r\nWorld=a\r\n");
    EXPECT_EQ(EntriesInDirectory(), 1u);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(WriteSetting(path, "Main", "World", "b"));
    EXPECT_EQ(Bytes(), "[Main]\r\nWorld=b\r\n");
}

// A settings file that the user hid stays hidden after a rewrite; a new one
// is an ordinary file.
TEST_F(SettingsFile, AHiddenFileStaysHidden) {
    ASSERT_TRUE(WriteSetting(path, "Main", "World", "a"));
    EXPECT_EQ(Attributes(path) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), 0u);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(WriteSetting(path, "Main", "World", "b"));
    EXPECT_EQ(Bytes(), "[Main]\r\nWorld=b\r\n");
    EXPECT_NE(Attributes(path) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(EntriesInDirectory(), 1u);
}

// Paths are Windows paths: backslashes, and the doubled separator that a
// drive root's directory text gives.
TEST_F(SettingsFile, WindowsPathsWork) {
    std::string backslashed = path;
    for (char& c : backslashed) {
        if (c == '/') {
            c = '\\';
        }
    }
    const std::string doubled = backslashed.substr(0, backslashed.rfind('\\')) + "\\\\skyflit.ini";
    ASSERT_TRUE(WriteSetting(doubled, "Main", "World", "sky"));
    EXPECT_EQ(ReadSetting(backslashed, "Main", "World", "", 10), "sky");
    EXPECT_EQ(Bytes(), "[Main]\r\nWorld=sky\r\n");
}

}  // namespace
