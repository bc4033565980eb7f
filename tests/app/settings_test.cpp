#include "settings_fixture.h"

#include "app/platform.h"

#include <cstdlib>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// The default where the file, section or key is missing; either is cut to
// the read buffer.
TEST_F(SettingsFile, ReadsFallBackToTheDefaultAndAreCutToTheBuffer) {
    EXPECT_EQ(Read("Main", "CenterCoords", "0n 0e 0a"), "0n 0e 0a");
    EXPECT_EQ(Read("Main", "X", "abcdef", 4), "abc");
    Put("[Other]\nWorld=x\n");
    EXPECT_EQ(Read("Main", "World", ""), "");
    Put("[Main]\nWorldly=x\nPassword=abcdefghijklmnopqrstuvwxy\nCitizen=12345678901234\n");
    EXPECT_EQ(Read("Main", "World", "dflt"), "dflt");
    EXPECT_EQ(Read("Main", "Password", "", 20), "abcdefghijklmnopqrs");
    EXPECT_EQ(Read("Main", "Citizen", "", 10), "123456789");
}

TEST_F(SettingsFile, MatchesWithoutCaseTrimsBlanksSkipsCommentsAndReadsCrlf) {
    Put("; comment World=no\r\n"
        "[other]\r\nWorld=elsewhere\r\n"
        "  [ mAiN ]  \r\n"
        ";World=commented\r\n"
        "  wORLD \t=  \t  sky world \t\r\n"
        "Password=\r\n"
        "World=second\r\n"
        "[main]\r\nCitizen=99\r\n");
    EXPECT_EQ(Read("Main", "World"), "sky world");
    EXPECT_EQ(Read("MAIN", "password", "default"), "");
    // Only the first section of a name counts.
    EXPECT_EQ(Read("Main", "Citizen", "none"), "none");
}

TEST(SettingsConversion, ReadsLeadingDecimalDigits) {
    EXPECT_EQ(DecimalValue(" 42"), 42);
    EXPECT_EQ(DecimalValue("\t-17x"), -17);
    EXPECT_EQ(DecimalValue("+8"), 8);
    EXPECT_EQ(DecimalValue("12birds"), 12);
    EXPECT_EQ(DecimalValue("birds"), 0);
    EXPECT_EQ(DecimalValue(""), 0);
    EXPECT_EQ(DecimalValue("- 5"), 0);
    EXPECT_EQ(DecimalValue("99999999999999999999"), 2147483647);
    EXPECT_EQ(DecimalValue("-99999999999999999999"), -2147483647 - 1);
}

TEST_F(SettingsFile, ReplacingAKeyKeepsEveryOtherByte) {
    std::string before =
        "; my flock\r\n"
        "[universe]\r\nhost = example.test\r\n"
        "\r\n"
        "[Main]\r\n"
        "  world = old \r\n"
        "; keep me\r\n"
        "Avatar=3\r\n"
        "[Extra]\r\nk=v";
    Put(before);
    ASSERT_TRUE(WriteSetting(path, "Main", "World", "newsky"));
    std::string expected = before;
    expected.replace(expected.find("  world = old "), 14, "World=newsky");
    EXPECT_EQ(Bytes(), expected);
}

TEST_F(SettingsFile, NewKeysGoAfterTheSectionsLastEntryNewSectionsAtTheEnd) {
    Put("[Main]\nCitizen=1\n\n; about extra\n[Extra]\nk=v");
    ASSERT_TRUE(WriteSetting(path, "main", "Avatar", "7"));
    EXPECT_EQ(Bytes(), "[Main]\nCitizen=1\nAvatar=7\n\n; about extra\n[Extra]\nk=v");
    ASSERT_TRUE(WriteSetting(path, "Other", "x", "1 2"));
    EXPECT_EQ(Bytes(), "[Main]\nCitizen=1\nAvatar=7\n\n; about extra\n[Extra]\nk=v\n[Other]\nx=1 2\n");
    EXPECT_EQ(Read("Other", "X"), "1 2");

    Put("[Main]\r\n[Next]\r\n");
    ASSERT_TRUE(WriteSetting(path, "Main", "World", "w"));
    EXPECT_EQ(Bytes(), "[Main]\r\nWorld=w\r\n[Next]\r\n");
}

TEST_F(SettingsFile, ANewFileIsPrivateAnExistingOneKeepsItsMode) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX file modes: a Windows file has none";
#else
    ASSERT_TRUE(WriteSetting(path, "Main", "Password", "secret"));
    EXPECT_EQ(Bytes(), "[Main]\nPassword=secret\n");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    ASSERT_EQ(chmod(path.c_str(), 0644), 0);
    ASSERT_TRUE(WriteSetting(path, "Main", "Password", "other"));
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    EXPECT_EQ(EntriesInDirectory(), 1u);
#endif
}

TEST_F(SettingsFile, AWriteThatFailsPartWayLeavesTheOldFileWhole) {
#ifdef _WIN32
    GTEST_SKIP() << "needs fork and a file size limit (RLIMIT_FSIZE), which Windows does not have";
#else
    std::string before = "[Main]\nCenterCoords=" + std::string(300, '1') + "n\n";
    Put(before);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The file size limit makes the write fail after 64 bytes.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64, 64};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(WriteSetting(path, "Main", "World", "sky") ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(Bytes(), before);
    EXPECT_EQ(EntriesInDirectory(), 1u);
#endif
}

// Only files named as temporaries of this settings file are removed.
TEST_F(SettingsFile, OnlyItsOwnTemporariesAreRemoved) {
    const struct {
        const char* name;
        bool removed;
    } files[] = {
        {"skyflit.ini.saving-a1B2c3", true},  {"skyflit.ini.saving-000000", true},
        {"skyflit.ini.saving-a1B2c", false},  {"skyflit.ini.saving-a1B2c34", false},
        {"skyflit.ini.saving-a1B.c3", false}, {"skyflit.ini.backup", false},
        {"skyflit.ini.a1B2c3", false},        {"other.ini.saving-a1B2c3", false},
        {"skyflit.ini", false},
    };
    const std::filesystem::path here(directory);
    for (const auto& file : files) {
        std::ofstream(here / file.name) << "[Main]\n";
    }
    std::filesystem::create_directory(here / "skyflit.ini.saving-abcdef");
    RemoveLeftoverTemporaries(path);
    for (const auto& file : files) {
        EXPECT_EQ(std::filesystem::exists(here / file.name), !file.removed) << file.name;
    }
    EXPECT_TRUE(std::filesystem::is_directory(here / "skyflit.ini.saving-abcdef"));
}

// Several keys follow the rules of one key each, in order, in a single
// replace of the file.
TEST_F(SettingsFile, SeveralKeysGoInOneWrite) {
    const Setting keys[] = {{"Citizen", "42"}, {"Avatar", "0"}, {"Password", " pw "}, {"World", "sky"}};
    const struct {
        const char* before;
        const char* after;
    } cases[] = {
        {"[Main]\nworld=old\n; end\n", "[Main]\nWorld=sky\nCitizen=42\nAvatar=0\nPassword=\" pw \"\n; end\n"},
        {"[Main]\nCitizen=1", "[Main]\nCitizen=42\nAvatar=0\nPassword=\" pw \"\nWorld=sky\n"},
        {"[Other]\r\nk=v\r\n[main]\r\nAVATAR=3\r\n\r\n",
         "[Other]\r\nk=v\r\n[main]\r\nAvatar=0\r\nCitizen=42\r\nPassword=\" pw \"\r\nWorld=sky\r\n\r\n"},
        {"[Other]\nk=v", "[Other]\nk=v\n[Main]\nCitizen=42\nAvatar=0\nPassword=\" pw \"\nWorld=sky\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        Put(c.before);
        ASSERT_EQ(WriteSettings(path, "Main", keys), 0);
        EXPECT_EQ(Bytes(), c.after);
        EXPECT_EQ(EntriesInDirectory(), 1u);
    }
    // One bad value and nothing is written.
    const Setting broken[] = {{"World", "new"}, {"Password", "a\nCitizen=5"}};
    EXPECT_EQ(WriteSettings(path, "Main", broken), InvalidDataError());
    EXPECT_EQ(Bytes(), cases[3].after);
}

TEST_F(SettingsFile, RefusedWritesChangeNothing) {
    Put("[Main]\nWorld=a\n");
    EXPECT_FALSE(WriteSetting(path, "Main", "World", "a\nCitizen=5"));
    EXPECT_FALSE(WriteSetting(directory, "Main", "World", "b"));
    EXPECT_EQ(Bytes(), "[Main]\nWorld=a\n");
#ifndef _WIN32
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(directory.c_str(), 0500), 0);
        EXPECT_FALSE(WriteSetting(path, "Main", "World", "b"));
        EXPECT_EQ(Bytes(), "[Main]\nWorld=a\n");
    }
#endif
}

// The platform's profile reader strips one pair of matching quotes; the
// read buffer then holds what is left.
TEST_F(SettingsFile, QuotedValuesReadWithoutTheirQuotes) {
    const struct {
        const char* value;  // as it stands after "World=" in the file
        std::size_t buffer;
        const char* read;
    } cases[] = {
        {"\"Sky\"", 200, "Sky"},
        {"'Sky'", 200, "Sky"},
        {"  \"Sky\" \t", 200, "Sky"},
        {"\" sky world \"", 200, " sky world "},
        {"\"\"", 200, ""},
        {"''", 200, ""},
        {"\"Sky", 200, "\"Sky"},
        {"Sky\"", 200, "Sky\""},
        {"'Sky\"", 200, "'Sky\""},
        {"\"", 200, "\""},
        {"'", 200, "'"},
        {"\"\"Sky\"\"", 200, "\"Sky\""},
        {"\"'Sky'\"", 200, "'Sky'"},
        {"a\"Sky\"", 200, "a\"Sky\""},
        {"\"Sky\" x", 200, "\"Sky\" x"},
        {"\"Skyfarawayland\"", 10, "Skyfarawa"},
        {"\"Sky\"", 4, "Sky"},
        {"\"Sky\"", 3, "Sk"},
        {"\"Sky\"", 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        SCOPED_TRACE(c.buffer);
        Put(std::string("[Main]\nWorld=") + c.value + "\n");
        EXPECT_EQ(Read("Main", "World", "?", c.buffer), c.read);
    }
    // The universe host that a user quoted by hand.
    Put("[universe]\r\nhost=\"example.org\"\r\nport='5671'\r\n");
    EXPECT_EQ(Read("universe", "host", "", 100), "example.org");
    EXPECT_EQ(DecimalValue(Read("universe", "port", "", 10)), 5671);
    // Defaults are taken as they are.
    EXPECT_EQ(Read("Main", "World", "\"dflt\""), "\"dflt\"");
}

// A value that reading would change (blanks at an end, a pair of quotes
// around it) is written in double quotes, so it reads back as it was.
TEST_F(SettingsFile, WrittenValuesReadBackUnchanged) {
    const struct {
        const char* value;
        const char* line;
    } cases[] = {
        {"plain", "Password=plain"},
        {"", "Password="},
        {"in side", "Password=in side"},
        {" lead", "Password=\" lead\""},
        {"trail\t", "Password=\"trail\t\""},
        {"\"pw\"", "Password=\"\"pw\"\""},
        {"'pw'", "Password=\"'pw'\""},
        {"\"", "Password=\""},
        {"\"pw", "Password=\"pw"},
        {"'pw\"", "Password='pw\""},
        {"p\"w\"", "Password=p\"w\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        Put("[Main]\n");
        ASSERT_TRUE(WriteSetting(path, "Main", "Password", c.value));
        EXPECT_EQ(Bytes(), std::string("[Main]\n") + c.line + "\n");
        EXPECT_EQ(Read("Main", "Password"), c.value);
    }
}

// Added lines end the way the file's lines do; a new file, or one without
// any line ending, gets the platform's: CRLF on Windows, LF on POSIX.
TEST_F(SettingsFile, AddedLinesUseTheFilesLineEnding) {
    const std::string nl = NEW_FILE_LINE_ENDING;
    const struct {
        const char* before;
        std::string after;
    } cases[] = {
        {nullptr, "[Main]" + nl + "World=sky" + nl},
        {"", "[Main]" + nl + "World=sky" + nl},
        {"[Main]", "[Main]" + nl + "World=sky" + nl},
        {"[Main]\nCitizen=1", "[Main]\nCitizen=1\nWorld=sky\n"},
        {"[Main]\nCitizen=1\n", "[Main]\nCitizen=1\nWorld=sky\n"},
        {"[Main]\r\nCitizen=1\r\n", "[Main]\r\nCitizen=1\r\nWorld=sky\r\n"},
        {"[Other]\nk=v\n", "[Other]\nk=v\n[Main]\nWorld=sky\n"},
        {"[Other]\r\nk=v", "[Other]\r\nk=v\r\n[Main]\r\nWorld=sky\r\n"},
        // The first line ending decides.
        {"[Other]\r\nk=v\n", "[Other]\r\nk=v\n[Main]\r\nWorld=sky\r\n"},
        // A last line that ends in CR keeps it in its text: a lone LF would
        // make it a CRLF ending and change the value.
        {"[Other]\nk=v\r", "[Other]\nk=v\r\r\n[Main]\nWorld=sky\n"},
        {"[Main]\nk=v\r", "[Main]\nk=v\r\r\nWorld=sky\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before ? c.before : "(no file)");
        std::filesystem::remove(path);
        if (c.before) {
            Put(c.before);
        }
        ASSERT_TRUE(WriteSetting(path, "Main", "World", "sky"));
        EXPECT_EQ(Bytes(), c.after);
        EXPECT_EQ(Read("Main", "World"), "sky");
    }
}

// Rewriting replaces the file in place of the old one, and leaves nothing
// beside it. (On Windows this is MoveFileExW over an existing file, which
// the C runtime's rename refuses; LF files stay LF, since nothing is
// translated on the way.)
TEST_F(SettingsFile, RewritesReplaceTheExistingFileAndLeaveNothingBehind) {
    Put("[Main]\nWorld=old\nCitizen=1\n");
    for (const char* world : {"new", "newer", "n"}) {
        ASSERT_TRUE(WriteSetting(path, "Main", "World", world));
        EXPECT_EQ(Bytes(), std::string("[Main]\nWorld=") + world + "\nCitizen=1\n");
        EXPECT_EQ(EntriesInDirectory(), 1u);
    }
    std::filesystem::remove(path);
    ASSERT_TRUE(WriteSetting(path, "Main", "Citizen", "7"));
    ASSERT_TRUE(WriteSetting(path, "Main", "Citizen", "8"));
    EXPECT_EQ(Bytes(), std::string("[Main]") + NEW_FILE_LINE_ENDING + "Citizen=8" + NEW_FILE_LINE_ENDING);
    EXPECT_EQ(EntriesInDirectory(), 1u);
}

}  // namespace
