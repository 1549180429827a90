// Replays the kept inputs of the fuzz targets (fuzz/seeds/TARGET and
// fuzz/regressions/TARGET) through the same entry points the libFuzzer
// targets call; an input that breaks one of their rules aborts the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzEntries.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> KeptInputs(const std::string &target)
{
    std::vector<fs::path> files;
    for (const char *kind : {"seeds", "regressions"}) {
        const fs::path folder = fs::path(VIDMORPH_FUZZ_DIR) / kind / target;
        if (!fs::is_directory(folder)) continue;
        for (const auto &entry : fs::directory_iterator(folder))
            if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class FuzzRegression : public ::testing::TestWithParam<size_t> {};

TEST_P(FuzzRegression, KeptInputsKeepEveryRule)
{
    ASSERT_TRUE(FuzzLoadLibraries(MyUtils::Utf8ToUtf16(VIDMORPH_LIBAV_DIR)));
    const TFuzzTarget &target = FuzzTargets[GetParam()];
    const std::vector<fs::path> files = KeptInputs(target.Name);
    ASSERT_FALSE(files.empty()) << "no kept inputs for " << target.Name;
    for (const fs::path &file : files) {
        SCOPED_TRACE(file.string());
        const std::string bytes = ReadFile(file.string());
        target.Run(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegression, ::testing::Range(size_t(0), FuzzTargetCount),
                         [](const ::testing::TestParamInfo<size_t> &info) {
                             return std::string(FuzzTargets[info.param].Name);
                         });

} // namespace
