// A new, empty directory of the test's own under the system's temporary
// directory, on every platform.
#pragma once

#include <filesystem>
#include <random>
#include <string>

// prefix plus a random suffix; throws when no free name turns up.
inline std::filesystem::path MakeTemporaryDirectory(const std::string& prefix) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = base / (prefix + "-" + std::to_string(random() % 1000000000));
        if (std::filesystem::create_directory(candidate)) {
            return candidate;
        }
    }
    throw std::filesystem::filesystem_error("no free temporary directory name", base,
                                            std::make_error_code(std::errc::file_exists));
}
