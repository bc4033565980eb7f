// Every kept input of every fuzz target runs through the target's body: the
// inputs that once crashed (fuzz/regressions/NAME) and the seed corpora
// (fuzz/corpus/NAME). A broken invariant aborts the program.
#include "fuzz/targets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

struct Target {
    const char* name;
    int (*body)(const uint8_t*, size_t);
};

constexpr Target TARGETS[] = {
    {"library", fuzz_library},   {"codec", fuzz_codec},       {"settings", fuzz_settings},
    {"text", fuzz_text},         {"worldsim", fuzz_worldsim}, {"viewer", fuzz_viewer},
};

class Replay : public testing::TestWithParam<Target> {};

int replay(const std::filesystem::path& folder, const Target& target) {
    if (!std::filesystem::is_directory(folder)) return 0;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        EXPECT_EQ(target.body(bytes.data(), bytes.size()), 0) << entry.path();
        ++count;
    }
    return count;
}

TEST_P(Replay, KeptInputsRunClean) {
    const std::filesystem::path root = FUZZ_DIR;
    replay(root / "regressions" / GetParam().name, GetParam());
    EXPECT_GT(replay(root / "corpus" / GetParam().name, GetParam()), 0) << "no seed corpus";
}

INSTANTIATE_TEST_SUITE_P(Fuzz, Replay, testing::ValuesIn(TARGETS),
                         [](const testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

}  // namespace
