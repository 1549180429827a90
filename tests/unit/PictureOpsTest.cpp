#include <gtest/gtest.h>
#include <cstdlib>
#include <vector>

#include "PictureOps.h"
#include "TestPicture.h"
#include "TestSupport.h"

namespace {

// Test names are made before the libraries are loaded, so without av_get_pix_fmt_name.
std::string FormatName(AVPixelFormat format)
{
    switch (format) {
    case AV_PIX_FMT_YUV420P: return "yuv420p";
    case AV_PIX_FMT_YUV422P: return "yuv422p";
    case AV_PIX_FMT_YUV444P: return "yuv444p";
    case AV_PIX_FMT_YUV411P: return "yuv411p";
    case AV_PIX_FMT_YUV410P: return "yuv410p";
    case AV_PIX_FMT_YUV440P: return "yuv440p";
    case AV_PIX_FMT_YUVJ420P: return "yuvj420p";
    case AV_PIX_FMT_YUVA420P: return "yuva420p";
    case AV_PIX_FMT_GRAY8: return "gray8";
    default: return "format" + std::to_string(int(format));
    }
}

class PictureOps : public ::testing::Test {
protected:
    void SetUp() override { LoadMediaLibrariesForTest(); }
};

TEST_F(PictureOps, CropMovesEachPlaneByItsShiftedBands)
{
    // Four planes inside one buffer, 100 bytes per row, 1000 bytes apart.
    std::vector<uint8_t> buffer(4000);
    TPicture src;
    for (int p = 0; p < 4; ++p) {
        src.data[p] = buffer.data() + 1000 * p;
        src.linesize[p] = 100;
    }
    const struct {
        AVPixelFormat format;
        int top, left;
        std::vector<ptrdiff_t> offsets; // per used plane, in bytes
    } table[] = {
        {AV_PIX_FMT_YUV420P, 4, 6, {4 * 100 + 6, 2 * 100 + 3, 2 * 100 + 3}},
        {AV_PIX_FMT_YUV420P, 3, 5, {3 * 100 + 5, 1 * 100 + 2, 1 * 100 + 2}}, // chroma rounded down
        {AV_PIX_FMT_YUV422P, 4, 6, {4 * 100 + 6, 4 * 100 + 3, 4 * 100 + 3}},
        {AV_PIX_FMT_YUV410P, 8, 8, {8 * 100 + 8, 2 * 100 + 2, 2 * 100 + 2}},
        {AV_PIX_FMT_YUVA420P, 2, 2, {2 * 100 + 2, 1 * 100 + 1, 1 * 100 + 1, 2 * 100 + 2}},
        {AV_PIX_FMT_NV12, 2, 4, {2 * 100 + 4, 1 * 100 + 4}},
        {AV_PIX_FMT_RGB24, 2, 5, {2 * 100 + 15}},
        {AV_PIX_FMT_RGBA, 1, 3, {100 + 12}},
        {AV_PIX_FMT_YUYV422, 1, 4, {100 + 8}},
        {AV_PIX_FMT_YUV420P10LE, 2, 4, {2 * 100 + 8, 1 * 100 + 4, 1 * 100 + 4}},
        {AV_PIX_FMT_GRAY8, 0, 0, {0}},
    };
    for (const auto &row : table) {
        TPicture view;
        ASSERT_EQ(PictureCrop(view, src, row.format, row.top, row.left), 0)
            << lav::av_get_pix_fmt_name(row.format);
        for (size_t p = 0; p < 4; ++p) {
            const ptrdiff_t expected = p < row.offsets.size() ? row.offsets[p] : 0;
            EXPECT_EQ(view.data[p] - src.data[p], expected)
                << lav::av_get_pix_fmt_name(row.format) << " plane " << p;
            EXPECT_EQ(view.linesize[p], 100);
        }
    }
}

TEST_F(PictureOps, CropRefusesWhatPlaneOffsetsCannotExpress)
{
    std::vector<uint8_t> buffer(4000);
    TPicture src;
    for (int p = 0; p < 4; ++p) {
        src.data[p] = buffer.data() + 1000 * p;
        src.linesize[p] = 100;
    }
    const struct {
        int format;
        int top, left;
    } table[] = {
        {AV_PIX_FMT_VAAPI, 0, 0},       {AV_PIX_FMT_CUDA, 2, 2},
        {AV_PIX_FMT_PAL8, 2, 2},        {AV_PIX_FMT_MONOWHITE, 0, 8},
        {AV_PIX_FMT_BAYER_RGGB8, 2, 2}, {AV_PIX_FMT_YUYV422, 0, 3}, // splits a Y0 Cb Y1 Cr group
        {AV_PIX_FMT_YUV420P, -1, 0},    {AV_PIX_FMT_YUV420P, 0, -2},
        {AV_PIX_FMT_NONE, 0, 0},        {AV_PIX_FMT_NB + 5, 0, 0},
    };
    for (const auto &row : table) {
        TPicture view;
        view.data[0] = nullptr;
        EXPECT_LT(PictureCrop(view, src, row.format, row.top, row.left), 0) << row.format;
        EXPECT_EQ(view.data[0], nullptr) << "a refused crop leaves the view alone";
    }
}

struct TPadCase {
    AVPixelFormat Format;
    bool WithSource;
};

class PictureOpsPad : public PictureOps, public ::testing::WithParamInterface<TPadCase> {};

TEST_P(PictureOpsPad, PaintsExactlyTheBordersAndKeepsTheInside)
{
    const TPadCase c = GetParam();
    const int width = 32, height = 24, top = 4, bottom = 2, left = 6, right = 8;
    const int color[3] = {16, 100, 200};
    TTestPicture dst(c.Format, width, height, [](int, int, int) { return uint8_t(1); });
    TTestPicture src(c.Format, width - left - right, height - top - bottom,
                     [](int p, int x, int y) { return uint8_t(30 + 40 * p + x + 3 * y); });
    ASSERT_EQ(PicturePad(dst.Picture, c.WithSource ? &src.Picture : nullptr, height, width, c.Format, top,
                         bottom, left, right, color),
              0);

    const AVPixFmtDescriptor *desc = lav::av_pix_fmt_desc_get(c.Format);
    for (int p = 0; p < dst.Planes; ++p) {
        const int sx = p ? desc->log2_chroma_w : 0, sy = p ? desc->log2_chroma_h : 0;
        // All pads are multiples of the subsampling, so each sample is wholly in or out.
        const int x0 = left >> sx, x1 = (width - right) >> sx, y0 = top >> sy, y1 = (height - bottom) >> sy;
        int border = 0;
        for (int y = 0; y < dst.PlaneHeight[p]; ++y) {
            for (int x = 0; x < dst.PlaneWidth[p]; ++x) {
                const bool inside = x >= x0 && x < x1 && y >= y0 && y < y1;
                const int expected = !inside ? color[p] : c.WithSource ? src.At(p, x - x0, y - y0) : 1;
                border += !inside;
                ASSERT_EQ(dst.At(p, x, y), expected) << "plane " << p << " at " << x << "," << y;
            }
        }
        EXPECT_EQ(border, dst.PlaneWidth[p] * dst.PlaneHeight[p] - (x1 - x0) * (y1 - y0));
    }
    EXPECT_TRUE(dst.MarginsIntact());
    EXPECT_TRUE(src.MarginsIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PictureOpsPad,
    ::testing::Values(TPadCase{AV_PIX_FMT_YUV420P, false}, TPadCase{AV_PIX_FMT_YUV420P, true},
                      TPadCase{AV_PIX_FMT_YUV422P, true}, TPadCase{AV_PIX_FMT_YUV444P, false},
                      TPadCase{AV_PIX_FMT_YUVJ420P, true}, TPadCase{AV_PIX_FMT_GRAY8, true}),
    [](const auto &info) {
        return FormatName(info.param.Format) + (info.param.WithSource ? "_with_source" : "_borders_only");
    });

TEST_F(PictureOps, PadRefusesOtherFormatsAndImpossiblePads)
{
    const int color[3] = {0, 128, 128};
    TTestPicture yuv(AV_PIX_FMT_YUV420P, 32, 24);
    std::vector<uint8_t> buffer(32 * 24 * 8, 7);
    TPicture packed;
    packed.data[0] = buffer.data();
    packed.linesize[0] = 32 * 4;
    const struct {
        int format;
        int top, bottom, left, right;
    } table[] = {
        {AV_PIX_FMT_RGB24, 2, 2, 2, 2},     {AV_PIX_FMT_YUYV422, 2, 2, 2, 2},
        {AV_PIX_FMT_NV12, 2, 2, 2, 2},      {AV_PIX_FMT_YUV420P10LE, 2, 2, 2, 2},
        {AV_PIX_FMT_YUVA420P, 2, 2, 2, 2},  {AV_PIX_FMT_PAL8, 2, 2, 2, 2},
        {AV_PIX_FMT_YUV420P, -2, 0, 0, 0},  {AV_PIX_FMT_YUV420P, 0, 0, 20, 20},
        {AV_PIX_FMT_YUV420P, 16, 16, 0, 0},
    };
    for (const auto &row : table) {
        TPicture &dst = row.format == AV_PIX_FMT_YUV420P ? yuv.Picture : packed;
        EXPECT_LT(
            PicturePad(dst, nullptr, 24, 32, row.format, row.top, row.bottom, row.left, row.right, color), 0)
            << row.format;
    }
    for (uint8_t b : buffer) ASSERT_EQ(b, 7) << "a refused pad writes nothing";
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < yuv.PlaneHeight[p]; ++y)
            for (int x = 0; x < yuv.PlaneWidth[p]; ++x) ASSERT_EQ(yuv.At(p, x, y), 0);
}

class PictureOpsDeinterlace : public PictureOps, public ::testing::WithParamInterface<AVPixelFormat> {};

TEST_P(PictureOpsDeinterlace, SmoothsAlternatingLinesAndKeepsTheSize)
{
    const AVPixelFormat format = GetParam();
    const int width = 36, height = 20;
    auto combed = [](int p, int, int y) { return uint8_t((y & 1) ? 40 + p : 200 - p); };
    TTestPicture src(format, width, height, combed);
    TTestPicture dst(format, width, height);
    ASSERT_EQ(PictureDeinterlace(dst.Picture, src.Picture, format, width, height), 0);

    for (int p = 0; p < dst.Planes; ++p) {
        for (int y = 0; y < dst.PlaneHeight[p]; ++y) {
            for (int x = 0; x < dst.PlaneWidth[p]; ++x) {
                // The kept field stays; the other one is rebuilt from it.
                ASSERT_EQ(dst.At(p, x, y), 200 - p) << "plane " << p << " at " << x << "," << y;
            }
        }
    }
    EXPECT_TRUE(dst.MarginsIntact());
    EXPECT_TRUE(src.MarginsIntact());
}

INSTANTIATE_TEST_SUITE_P(Formats, PictureOpsDeinterlace,
                         ::testing::Values(AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P,
                                           AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV410P, AV_PIX_FMT_YUV440P,
                                           AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUVA420P, AV_PIX_FMT_GRAY8),
                         [](const auto &info) { return FormatName(info.param); });

TEST_F(PictureOps, DeinterlaceKeepsProgressiveDetailAndWorksInPlace)
{
    // A straight vertical ramp (with some horizontal texture) is kept exactly
    // away from the edges.
    const int width = 24, height = 16;
    auto ramp = [](int p, int x, int y) { return uint8_t(10 * y + (p ? 0 : x % 3)); };
    TTestPicture src(AV_PIX_FMT_YUV420P, width, height, ramp);
    TTestPicture dst(AV_PIX_FMT_YUV420P, width, height);
    ASSERT_EQ(PictureDeinterlace(dst.Picture, src.Picture, AV_PIX_FMT_YUV420P, width, height), 0);
    for (int p = 0; p < 3; ++p)
        for (int y = 2; y < dst.PlaneHeight[p] - 2; ++y)
            for (int x = 0; x < dst.PlaneWidth[p]; ++x)
                ASSERT_EQ(dst.At(p, x, y), src.At(p, x, y)) << "plane " << p << " at " << x << "," << y;

    // In place gives what a separate destination gets, on busy content.
    auto noise = [](int p, int x, int y) {
        return uint8_t(((x * 37 + y * 91 + p * 53) * 2654435761u) >> 24);
    };
    TTestPicture busy(AV_PIX_FMT_YUV420P, width, height, noise);
    TTestPicture reference(AV_PIX_FMT_YUV420P, width, height);
    ASSERT_EQ(PictureDeinterlace(reference.Picture, busy.Picture, AV_PIX_FMT_YUV420P, width, height), 0);
    ASSERT_EQ(PictureDeinterlace(busy.Picture, busy.Picture, AV_PIX_FMT_YUV420P, width, height), 0);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < busy.PlaneHeight[p]; ++y)
            for (int x = 0; x < busy.PlaneWidth[p]; ++x)
                ASSERT_EQ(busy.At(p, x, y), reference.At(p, x, y))
                    << "plane " << p << " at " << x << "," << y;
    EXPECT_TRUE(busy.MarginsIntact());
}

TEST_F(PictureOps, DeinterlaceRefusesOtherFormats)
{
    std::vector<uint8_t> buffer(64 * 16 * 8, 9), out(buffer.size(), 3);
    TPicture src, dst;
    for (int p = 0; p < 4; ++p) {
        src.data[p] = buffer.data() + p * 64 * 16 * 2;
        dst.data[p] = out.data() + p * 64 * 16 * 2;
        src.linesize[p] = dst.linesize[p] = 64 * 2;
    }
    const struct {
        int format, width, height;
    } table[] = {
        {AV_PIX_FMT_RGB24, 16, 16},   {AV_PIX_FMT_YUV420P10LE, 16, 16}, {AV_PIX_FMT_NV12, 16, 16},
        {AV_PIX_FMT_YUYV422, 16, 16}, {AV_PIX_FMT_GBRP, 16, 16},        {AV_PIX_FMT_YUV420P, 0, 16},
        {AV_PIX_FMT_NONE, 16, 16},
    };
    for (const auto &row : table)
        EXPECT_LT(PictureDeinterlace(dst, src, row.format, row.width, row.height), 0) << row.format;
    for (uint8_t b : out) ASSERT_EQ(b, 3) << "a refused deinterlace writes nothing";
}

} // namespace
