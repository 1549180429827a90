#include <gtest/gtest.h>

#include <clocale>

#include "MediaFixtures.h"
#include "MediaInfoDll.h"
#include "TestSupport.h"

namespace {

TEST(MediaInfo, AnswersForAFileWithVideoAndAudio)
{
    TMediaInfoDll info(MediaFixture("colours.mp4"));
    EXPECT_EQ(info.GetWidth(), 160);
    EXPECT_EQ(info.GetHeight(), 120);
    EXPECT_NEAR(info.GetPlayTime(), 4000, 100);
    EXPECT_EQ(info.GetFileExtension(), "mp4");
    EXPECT_EQ(info.GetVideoCodec(), u"MPEG-4 Visual");
    EXPECT_EQ(info.GetAudioCodec(0), u"AAC LC");
    EXPECT_EQ(info.GetAudioCodec(1), u"");
    EXPECT_DOUBLE_EQ(info.GetFrameRate(), 25.0);
    double bitRate = info.GetBitRate();
    EXPECT_GT(bitRate, 5000.0);
    EXPECT_LT(bitRate, 500000.0);
}

TEST(MediaInfo, AFileWithoutVideoGivesZerosAndEmptyTexts)
{
    TMediaInfoDll info(MediaFixture("tone.mp3"));
    EXPECT_EQ(info.GetWidth(), 0);
    EXPECT_EQ(info.GetHeight(), 0);
    EXPECT_EQ(info.GetFrameRate(), 0.0);
    EXPECT_EQ(info.GetBitRate(), 0.0);
    EXPECT_EQ(info.GetVideoCodec(), u"");
    EXPECT_NEAR(info.GetPlayTime(), 2000, 100);
    EXPECT_EQ(info.GetFileExtension(), "mp3");
    EXPECT_EQ(info.GetAudioCodec(0), u"MPEG-1 Audio layer 3");
    EXPECT_EQ(info.GetAudioCodec(1), u"");
}

TEST(MediaInfo, AMissingFileGivesZerosAndEmptyTexts)
{
    TMediaInfoDll info(MediaFixture("no-such-file.mp4"));
    EXPECT_EQ(info.GetWidth(), 0);
    EXPECT_EQ(info.GetPlayTime(), 0);
    EXPECT_EQ(info.GetFileExtension(), "");
    EXPECT_EQ(info.GetAudioCodec(0), u"");
    EXPECT_EQ(info.GetFrameRate(), 0.0);
    EXPECT_EQ(info.GetBitRate(), 0.0);
}

TEST(MediaInfo, NamesAreUtf8InEveryLocale)
{
    TTempFolder folder;
    const std::string name = folder.File("视频 一.mp4");
    WriteFile(name, ReadFile(MediaFixture("colours.mp4")));
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char *locale : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        ASSERT_TRUE(std::setlocale(LC_ALL, locale));
        TMediaInfoDll info(name);
        EXPECT_EQ(info.GetWidth(), 160);
        EXPECT_NEAR(info.GetPlayTime(), 4000, 100);
        EXPECT_EQ(info.GetFileExtension(), "mp4");
        EXPECT_EQ(info.GetVideoCodec(), u"MPEG-4 Visual");
    }
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(MediaInfo, TextsToNumbers)
{
    const struct {
        std::string text;
        int64_t asInt;
        double asFloat;
    } table[] = {
        {"25.000", 25, 25.0},
        {"48000/1001", 48000, 48000.0},
        {"83456", 83456, 83456.0},
        {"83456.5", 83456, 83456.5},
        {"1500000", 1500000, 1500000.0},
        {"29.970/1.001", 29, 29.97},
        {" 42 ", 42, 42.0},
        {"12 34", -7, -7.0},
        {"", -7, -7.0},
        {"   ", -7, -7.0},
        {"abc", -7, -7.0},
        {"1,5", -7, -7.0},
        {"-3", -3, -3.0},
        {"9223372036854775807", INT64_MAX, 9223372036854775807.0},
    };
    for (const auto &row : table) {
        EXPECT_EQ(TextToInt64(row.text, -7), row.asInt) << '"' << row.text << '"';
        EXPECT_DOUBLE_EQ(TextToFloat(row.text, -7), row.asFloat) << '"' << row.text << '"';
    }
    EXPECT_EQ(TextBefore("/", "a/b/c"), "a");
    EXPECT_EQ(TextBefore("/", "abc"), "abc");
}

} // namespace
