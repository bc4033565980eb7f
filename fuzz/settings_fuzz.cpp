// The settings reader and writer over any file bytes: every key the program
// reads comes back within its buffer, and a write reads back as the value
// written while the other keys keep theirs.
//
// Input: which key to write (a byte), its value (a length byte and the
// characters), then the file.
#include "app/settings.h"
#include "fuzz/targets.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace {

// The program's own keys, sections and buffers, and one section it never uses.
constexpr SettingRead KEYS[] = {
    {"Main", "Password", "", 64},      {"Main", "CenterCoords", "0n 0e 0a", 64},
    {"Main", "World", "", 9},          {"Main", "Citizen", "", 16},
    {"Main", "Avatar", "", 16},        {"Main", "BirdCount", "3", 16},
    {"Universe", "host", "localhost", 256}, {"Universe", "port", "5670", 16},
    {"main", "world", "-", 4},         {"Other", "Password", "none", 300},
};

// In memory where the system offers it: every write replaces the file whole
// and flushes it to the disk.
std::string file_path() {
    const std::filesystem::path memory = "/dev/shm";
    const std::filesystem::path folder =
        std::filesystem::is_directory(memory) ? memory : std::filesystem::temp_directory_path();
    static const std::string path = (folder / ("skyflit-fuzz-" + std::to_string(getpid()) + ".ini")).string();
    return path;
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

int fuzz_settings(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    const SettingRead& target = KEYS[input.byte() % std::size(KEYS)];
    const std::string value(input.counted());
    const std::string_view file = input.rest();
    const std::string path = file_path();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(file.data(), static_cast<std::streamsize>(file.size()));
    }

    const std::vector<std::string> before = ReadSettings(path, KEYS);
    for (size_t k = 0; k < std::size(KEYS); ++k) {
        fuzz_require(before[k].size() < KEYS[k].bufferSize, "a value fits its buffer");
        fuzz_require(before[k] == ReadSetting(path, KEYS[k].section, KEYS[k].key, KEYS[k].fallback, KEYS[k].bufferSize),
                     "one read and many give the same values");
    }
    fuzz_require(DecimalValue(before[5]) == DecimalValue(before[5] + "x"), "a number ends at its first non-digit");

    const Setting setting{target.key, value};
    const int written = WriteSettings(path, target.section, std::span(&setting, 1));
    const bool breaks = value.find_first_of("\r\n") != std::string::npos;
    fuzz_require(breaks == (written != 0), "only a text with a line break is refused");
    if (written == 0) {
        const std::vector<std::string> after = ReadSettings(path, KEYS);
        constexpr size_t UNCUT = 1024;
        fuzz_require(ReadSetting(path, target.section, target.key, "", UNCUT) == value, "a value written reads back");
        for (size_t k = 0; k < std::size(KEYS); ++k) {
            const bool same_key = same_name(KEYS[k].section, target.section) && same_name(KEYS[k].key, target.key);
            fuzz_require(after[k] == before[k] || same_key, "a write leaves the other keys alone");
        }
    }
    std::filesystem::remove(path);
    return 0;
}
