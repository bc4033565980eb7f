// A settings file in a directory of its own, with helpers to put and read
// its bytes.
#pragma once

#include "app/settings.h"
#include "temporary_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// The line ending of a settings file that the program creates.
#ifdef _WIN32
inline constexpr const char* NEW_FILE_LINE_ENDING = "\r\n";
#else
inline constexpr const char* NEW_FILE_LINE_ENDING = "\n";
#endif

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        directory = MakeTemporaryDirectory("skyflit-settings").string();
        path = (std::filesystem::path(directory) / "skyflit.ini").string();
    }
    void TearDown() override {
        namespace fs = std::filesystem;
        fs::permissions(directory, fs::perms::owner_all, fs::perm_options::add);
        std::filesystem::remove_all(directory);
    }
    void Put(const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    std::string Bytes() {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::string Read(const char* section, const char* key, const char* fallback = "?",
                     std::size_t size = 200) {
        return ReadSetting(path, section, key, fallback, size);
    }
    std::size_t EntriesInDirectory() {
        using Entries = std::filesystem::directory_iterator;
        return static_cast<std::size_t>(std::distance(Entries(directory), Entries()));
    }

    std::string directory;
    std::string path;
};
