#include <gtest/gtest.h>
#include <cerrno>

#include "MediaOps.h"
#include "TestSupport.h"

namespace {

TEST(OpenErrorText, EachCodeHasItsText)
{
    const struct {
        int code;
        std::string text;
    } table[] = {
        {AVERROR(EILSEQ), "f.avi: Unknown format"},
        {AVERROR(EINVAL), "f.avi: Error while parsing header"},
        {AVERROR_INVALIDDATA, "f.avi: Error while parsing header"},
        {AVERROR(ENOMEM), "f.avi: memory allocation error occurred"},
        {AVERROR(EIO),
         "f.avi: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted."},
        {AVERROR(ENOENT), "f.avi: no such file or directory"},
        {AVERROR(EPERM), "f.avi: Error while opening file"},
        {-1000, "f.avi: Error while opening file"},
    };
    for (const auto &row : table) EXPECT_EQ(OpenErrorText("f.avi", row.code), row.text) << row.code;
    std::string syntax = OpenErrorText("img.jpg", AVERROR(EDOM));
    EXPECT_EQ(syntax.rfind("img.jpg: Incorrect image filename syntax.\r\nUse '%d' to specify", 0), 0u)
        << syntax;
    EXPECT_NE(syntax.find("use 'img%03d.jpg'."), std::string::npos);
    EXPECT_EQ(syntax.find("%%"), std::string::npos);
    // A name with a "%" in it is printed as it is.
    EXPECT_EQ(OpenErrorText("100%.avi", AVERROR(ENOENT)), "100%.avi: no such file or directory");
}

class OptionStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadMediaLibrariesForTest();
        InitOptionContexts(Contexts);
        AllocOptionContexts(Contexts, SWS_BICUBIC);
    }
    void TearDown() override { FreeOptionContexts(Contexts); }
    int64_t Int(void *context, const char *name)
    {
        int64_t v = -1;
        EXPECT_GE(lav::av_opt_get_int(context, name, 0, &v), 0) << name;
        return v;
    }
    TOptionContexts Contexts;
};

TEST_F(OptionStore, GenericOptionsReachTheContextsThatKnowThem)
{
    ASSERT_TRUE(SetDefaultOption(Contexts, "b", "640000"));
    EXPECT_EQ(Int(Contexts.Codec[AVMEDIA_TYPE_VIDEO], "b"), 640000);
    EXPECT_EQ(Int(Contexts.Codec[AVMEDIA_TYPE_AUDIO], "b"), 640000);
    ASSERT_EQ(Contexts.Count(), 1u);
    EXPECT_EQ(Contexts.Names[0], "b");

    // "vb" is known to no context: it sets "b" of the video context only;
    // "ab" is the library's own audio alias of "b".
    ASSERT_TRUE(SetDefaultOption(Contexts, "vb", "1000"));
    ASSERT_TRUE(SetDefaultOption(Contexts, "ab", "2000"));
    EXPECT_EQ(Int(Contexts.Codec[AVMEDIA_TYPE_VIDEO], "b"), 1000);
    EXPECT_EQ(Int(Contexts.Codec[AVMEDIA_TYPE_AUDIO], "b"), 2000);
    EXPECT_EQ(Contexts.Names, (std::vector<std::string>{"b", "b", "ab"}));

    // Format and scaler options land on their own contexts.
    ASSERT_TRUE(SetDefaultOption(Contexts, "probesize", "12345"));
    EXPECT_EQ(Int(Contexts.Format, "probesize"), 12345);
    ASSERT_TRUE(SetDefaultOption(Contexts, "sws_flags", "bilinear"));
    EXPECT_EQ(Int(Contexts.Scaler, "sws_flags"), SWS_BILINEAR);
}

TEST_F(OptionStore, RefusalsRecordNothing)
{
    TLibraryLogCapture log;
    EXPECT_FALSE(SetDefaultOption(Contexts, "no_such_option_name", "1"));
    EXPECT_FALSE(SetDefaultOption(Contexts, "b", "  "));
    EXPECT_FALSE(SetDefaultOption(Contexts, " ", "1"));
    EXPECT_EQ(log.Text(), "");
    EXPECT_FALSE(SetDefaultOption(Contexts, "b", "abc"));
    EXPECT_NE(log.Text().find("Invalid value \"abc\" for option \"b\"\n"), std::string::npos) << log.Text();
    EXPECT_EQ(Contexts.Count(), 0u);
}

TEST_F(OptionStore, DebugRaisesTheLogLevelThroughTheCallback)
{
    int raised = -10;
    Contexts.LogLevelCallback = [&](int level) { raised = level; };
    ASSERT_TRUE(SetDefaultOption(Contexts, "debug", "pict"));
    EXPECT_EQ(raised, 2);
}

TEST_F(OptionStore, CopyTakesOnlyOptionsWithAllTheFlags)
{
    ASSERT_TRUE(SetDefaultOption(Contexts, "b", "777000"));
    ASSERT_TRUE(SetDefaultOption(Contexts, "probesize", "54321"));
    AVCodecContext *encoder = lav::avcodec_alloc_context3(nullptr);
    CopyContextOptions(Contexts, encoder, Contexts.Codec[AVMEDIA_TYPE_VIDEO],
                       AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_VIDEO_PARAM);
    EXPECT_EQ(encoder->bit_rate, 777000);
    AVCodecContext *subtitles = lav::avcodec_alloc_context3(nullptr);
    // "b" is not a subtitle option: nothing is copied.
    CopyContextOptions(Contexts, subtitles, Contexts.Codec[AVMEDIA_TYPE_VIDEO],
                       AV_OPT_FLAG_ENCODING_PARAM | AV_OPT_FLAG_SUBTITLE_PARAM);
    EXPECT_NE(subtitles->bit_rate, 777000);
    AVFormatContext *input = lav::avformat_alloc_context();
    CopyContextOptions(Contexts, input, Contexts.Format, AV_OPT_FLAG_DECODING_PARAM);
    EXPECT_EQ(input->probesize, 54321);
    lav::avcodec_free_context(&encoder);
    lav::avcodec_free_context(&subtitles);
    lav::avformat_free_context(input);
}

TEST(PictureToBitmap, ConvertsYuvAndCopiesBgrAsItIs)
{
    LoadMediaLibrariesForTest();
    const int w = 16, h = 8;
    uint8_t *yuv[4];
    int yuvLines[4];
    ASSERT_GE(lav::av_image_alloc(yuv, yuvLines, w, h, AV_PIX_FMT_YUV420P, 1), 0);
    // Pure blue in limited-range BT.601: Y 41, Cb 240, Cr 110.
    memset(yuv[0], 41, size_t(yuvLines[0]) * h);
    memset(yuv[1], 240, size_t(yuvLines[1]) * h / 2);
    memset(yuv[2], 110, size_t(yuvLines[2]) * h / 2);

    TBitmapConverter converter;
    ASSERT_TRUE(PictureToBitmap(converter, yuv, yuvLines, AV_PIX_FMT_YUV420P, h, w));
    ASSERT_TRUE(converter.Bitmap);
    EXPECT_EQ(converter.Bitmap->Width(), w);
    EXPECT_EQ(converter.Bitmap->Height(), h);
    for (int y : {0, h - 1})
        for (int x : {0, w - 1}) {
            const uint8_t *p = converter.Bitmap->ScanLine(y) + 3 * x;
            EXPECT_NEAR(p[0], 255, 3); // B
            EXPECT_NEAR(p[1], 0, 3);   // G
            EXPECT_NEAR(p[2], 0, 3);   // R
        }

    // A BGR24 source is the current picture itself: no conversion.
    uint8_t *bgr[4];
    int bgrLines[4];
    ASSERT_GE(lav::av_image_alloc(bgr, bgrLines, w, h, AV_PIX_FMT_BGR24, 1), 0);
    for (int i = 0; i < bgrLines[0] * h; ++i) bgr[0][i] = uint8_t(i * 7);
    ASSERT_TRUE(PictureToBitmap(converter, bgr, bgrLines, AV_PIX_FMT_BGR24, h, w));
    EXPECT_EQ(converter.CurrentData, bgr);
    for (int y = 0; y < h; ++y)
        EXPECT_EQ(memcmp(converter.Bitmap->ScanLine(y), bgr[0] + y * bgrLines[0], size_t(w) * 3), 0) << y;

    // A picture of another size resizes the bitmap instead of writing past it.
    ASSERT_TRUE(PictureToBitmap(converter, yuv, yuvLines, AV_PIX_FMT_YUV420P, h / 2, w / 2));
    EXPECT_EQ(converter.Bitmap->Width(), w / 2);
    EXPECT_FALSE(PictureToBitmap(converter, yuv, yuvLines, AV_PIX_FMT_YUV420P, 0, w));
    // Formats the scaler cannot read are refused, never handed to it.
    EXPECT_FALSE(PictureToBitmap(converter, yuv, yuvLines, AV_PIX_FMT_NONE, h, w));
    EXPECT_FALSE(PictureToBitmap(converter, yuv, yuvLines, AV_PIX_FMT_VAAPI, h, w));

    ResetBitmapConverter(converter);
    EXPECT_FALSE(converter.Bitmap);
    EXPECT_EQ(converter.Scaler, nullptr);
    EXPECT_EQ(converter.BufferSize, 0);
    lav::av_freep(&yuv[0]);
    lav::av_freep(&bgr[0]);
}

TEST(MetadataValue, FoundOrDefault)
{
    LoadMediaLibrariesForTest();
    AVDictionary *d = nullptr;
    lav::av_dict_set(&d, "title", "片名", 0);
    EXPECT_EQ(MetadataValue(d, "title", "x"), "片名");
    EXPECT_EQ(MetadataValue(d, "artist", "none"), "none");
    EXPECT_EQ(MetadataValue(nullptr, "title", "empty"), "empty");
    lav::av_dict_free(&d);
}

} // namespace
