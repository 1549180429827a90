#include "TestSupport.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

#include "FFmpegLoader.h"
#include "MyUtils.h"

void LoadMediaLibrariesForTest()
{
    FFmpegLoader().SetLibraryPath(MyUtils::Utf8ToUtf16(VIDMORPH_LIBAV_DIR));
    ASSERT_TRUE(FFmpegLoader().LoadLibraries(RequiredLibraries)) << FFmpegLoader().LastErrorMessage();
}

TTempFolder::TTempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vidmorph-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
}

TTempFolder::~TTempFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

namespace {
std::mutex CaptureLock;
std::string Captured;

void CaptureCallback(void *, int level, const char *format, va_list args)
{
    if (level > AV_LOG_INFO) return;
    std::string line(2048, '\0');
    int n = vsnprintf(line.data(), line.size(), format, args);
    line.resize(size_t(std::clamp(n, 0, int(line.size()) - 1)));
    std::lock_guard<std::mutex> lock(CaptureLock);
    Captured += line;
}
} // namespace

TLibraryLogCapture::TLibraryLogCapture()
{
    std::lock_guard<std::mutex> lock(CaptureLock);
    Captured.clear();
    lav::av_log_set_callback(CaptureCallback);
}

TLibraryLogCapture::~TLibraryLogCapture() { lav::av_log_set_callback(lav::av_log_default_callback); }

std::string TLibraryLogCapture::Text() const
{
    std::lock_guard<std::mutex> lock(CaptureLock);
    return Captured;
}

void WriteFile(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
