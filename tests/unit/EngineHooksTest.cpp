// The engine's pre-processing of decoded pictures (hook decision, hook
// buffer, deinterlacing, custom hook, frame-hook modules) and the preview of
// encoded pictures, driven directly with pictures made here.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "FFmpeg.h"
#include "MyUtils.h"
#include "PictureOps.h"
#include "Previewer.h"

namespace {

constexpr int64_t Second = 1000000;

// A codec context that carries only a picture format and size, as the video
// path's decoder and encoder contexts do for these steps.
struct TCodecContext {
    AVCodecContext *Context = nullptr;
    TCodecContext(AVPixelFormat format, int width, int height)
    {
        Context = lav::avcodec_alloc_context3(nullptr);
        Context->pix_fmt = format;
        Context->width = width;
        Context->height = height;
    }
    ~TCodecContext() { lav::avcodec_free_context(&Context); }
    TCodecContext(const TCodecContext &) = delete;
    TCodecContext &operator=(const TCodecContext &) = delete;
};

// A picture in library memory (av_image_alloc), every byte from fill(index).
struct TImage {
    TPicture Picture;
    AVPixelFormat Format;
    int Width, Height;
    TImage(AVPixelFormat format, int width, int height, const std::function<uint8_t(size_t)> &fill)
        : Format(format), Width(width), Height(height)
    {
        const int size = lav::av_image_alloc(Picture.data, Picture.linesize, width, height, format, 32);
        if (size <= 0) throw std::runtime_error("av_image_alloc failed");
        for (size_t i = 0; i < size_t(size); ++i) Picture.data[0][i] = fill(i);
    }
    ~TImage() { lav::av_freep(&Picture.data[0]); }
    TImage(const TImage &) = delete;
    TImage &operator=(const TImage &) = delete;
};

uint8_t Noise(size_t i) { return uint8_t((uint32_t(i) * 2654435761u) >> 24); }
uint8_t Grey(size_t) { return 128; }

// The pixels of a picture, plane after plane without row padding.
std::vector<uint8_t> Bytes(const TPicture &picture, AVPixelFormat format, int width, int height)
{
    std::vector<uint8_t> out(size_t(lav::av_image_get_buffer_size(format, width, height, 1)));
    lav::av_image_copy_to_buffer(out.data(), int(out.size()), picture.data, picture.linesize, format, width,
                                 height, 1);
    return out;
}
std::vector<uint8_t> Bytes(const TImage &image)
{
    return Bytes(image.Picture, image.Format, image.Width, image.Height);
}

std::string BoxCommandLine()
{
    return std::string(VIDMORPH_HOOK_DIR) + "/box.so -x 4 -y 6 -w 10 -h 8 -c 255,0,0";
}

// Pixels (plane after plane, no row padding) with the box drawn on them by
// the module itself.
std::vector<uint8_t> Boxed(std::vector<uint8_t> bytes, AVPixelFormat format, int width, int height)
{
    TPicture picture;
    lav::av_image_fill_arrays(picture.data, picture.linesize, bytes.data(), format, width, height, 1);
    TFrameHookList list;
    EXPECT_EQ(AddFrameHook(list, {std::string(VIDMORPH_HOOK_DIR) + "/box.so", "-x", "4", "-y", "6", "-w",
                                  "10", "-h", "8", "-c", "255,0,0"}),
              0);
    RunFrameHooks(list, picture, format, width, height, 0);
    return bytes;
}
std::vector<uint8_t> Boxed(const TImage &source)
{
    return Boxed(Bytes(source), source.Format, source.Width, source.Height);
}

class EngineHooks : public EngineTest {
protected:
    void TearDown() override { SetPreviewerFactory(nullptr); }

    // Pre-processes `source` at time t as the video path does; the pixels of
    // the picture handed on. The source's own pixels must stay as decoded.
    std::vector<uint8_t> PreProcess(const TImage &source, int64_t t, bool *replaced = nullptr)
    {
        TCodecContext decoder(source.Format, source.Width, source.Height);
        TInputStreamState ist;
        ist.Decoder = decoder.Context;
        ist.Pts = t;
        TPicture picture = source.Picture;
        const std::vector<uint8_t> before = Bytes(source);
        EXPECT_NO_THROW(Engine.PreProcessPicture(ist, picture));
        EXPECT_EQ(Bytes(source), before) << "the decoded picture itself was written";
        if (replaced) *replaced = picture.data[0] != source.Picture.data[0];
        return Bytes(picture, source.Format, source.Width, source.Height);
    }

    void AddBox()
    {
        Engine.SetOption("vhook", BoxCommandLine());
        ASSERT_TRUE(Engine.UsingHooks);
    }

    size_t CountLogs(int level, const std::string &message)
    {
        size_t n = 0;
        for (const std::string &m : LogsAt(level)) n += m == message;
        return n;
    }
};

TEST_F(EngineHooks, BeforeHookDecidesWhichPicturesTheModulesSee)
{
    TImage source(AV_PIX_FMT_YUV420P, 32, 24, Noise);
    const std::vector<uint8_t> original = Bytes(source), boxed = Boxed(source);
    ASSERT_NE(boxed, original);
    AddBox();

    // Without a before hook or ranges every picture goes through the module.
    bool replaced = false;
    EXPECT_EQ(PreProcess(source, 0, &replaced), boxed);
    EXPECT_TRUE(replaced);

    // haIgnore for some pictures leaves exactly those as decoded.
    std::vector<int64_t> asked;
    Engine.BeforeHookHandler = [&](TCustomFFmpeg &, THookAction &action, int64_t pts) {
        asked.push_back(pts);
        action = (pts / Second) % 3 == 1 ? haIgnore : haContinue;
    };
    for (int64_t s = 1; s <= 6; ++s) {
        const bool ignored = s % 3 == 1;
        EXPECT_EQ(PreProcess(source, s * Second, &replaced), ignored ? original : boxed) << s;
        EXPECT_EQ(replaced, !ignored) << s;
    }
    EXPECT_EQ(asked,
              (std::vector<int64_t>{1 * Second, 2 * Second, 3 * Second, 4 * Second, 5 * Second, 6 * Second}));
    EXPECT_EQ(Engine.PictureCounter, 7);

    // haStop once ends module processing for the rest of the job; the hook
    // is not asked again.
    asked.clear();
    Engine.BeforeHookHandler = [&](TCustomFFmpeg &, THookAction &action, int64_t pts) {
        asked.push_back(pts);
        action = pts == 8 * Second ? haStop : haContinue;
    };
    EXPECT_EQ(PreProcess(source, 7 * Second), boxed);
    for (int64_t s = 8; s <= 11; ++s) EXPECT_EQ(PreProcess(source, s * Second), original) << s;
    EXPECT_EQ(asked, (std::vector<int64_t>{7 * Second, 8 * Second}));
    EXPECT_FALSE(Engine.UsingHooks);
    EXPECT_EQ(Engine.HookAction, haStop);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(EngineHooks, TimeRangesDecideWhichPicturesTheModulesSee)
{
    TImage source(AV_PIX_FMT_YUV420P, 32, 24, Noise);
    const std::vector<uint8_t> original = Bytes(source), boxed = Boxed(source);
    AddBox();
    Engine.HookRanges = {{5 * Second, 10 * Second}, {20 * Second, 25 * Second}};
    const struct {
        int64_t t;
        bool processed;
    } pictures[] = {
        {1 * Second, false},  {5 * Second, true},   {7 * Second, true},  {10 * Second, true},
        {12 * Second, false}, {20 * Second, true},  {22 * Second, true}, {25 * Second, true},
        {26 * Second, false}, // past the last range: stops for good
        {7 * Second, false},  {22 * Second, false},
    };
    for (const auto &p : pictures) EXPECT_EQ(PreProcess(source, p.t), p.processed ? boxed : original) << p.t;
    EXPECT_FALSE(Engine.UsingHooks);
    EXPECT_EQ(Engine.HookAction, haStop);
}

// Fills rows 8..15, columns 8..23 of the bitmap with white.
void DrawWhite(TBitmap &bitmap)
{
    for (int y = 8; y < 16; ++y) std::memset(bitmap.ScanLine(y) + 8 * 3, 255, 16 * 3);
}

TEST_F(EngineHooks, CustomHookDrawingComesBackIntoThePicture)
{
    for (AVPixelFormat format : {AV_PIX_FMT_BGR24, AV_PIX_FMT_YUV420P}) {
        SCOPED_TRACE(format);
        Engine.Reset();
        TImage source(format, 32, 24, Grey);
        int calls = 0;
        Engine.CustomHookHandler = [&](TCustomFFmpeg &, TBitmap &bitmap, bool &, bool &, int64_t pts,
                                       int32_t frameNumber) {
            ++calls;
            EXPECT_EQ(bitmap.Width(), 32);
            EXPECT_EQ(bitmap.Height(), 24);
            EXPECT_NEAR(bitmap.ScanLine(3)[5], 128, 2); // the picture arrived
            EXPECT_EQ(pts, 3 * Second);
            EXPECT_EQ(frameNumber, calls);
            DrawWhite(bitmap);
        };
        const std::vector<uint8_t> out = PreProcess(source, 3 * Second);
        EXPECT_EQ(calls, 1);
        TPicture view;
        lav::av_image_fill_arrays(view.data, view.linesize, out.data(), format, 32, 24, 1);
        if (format == AV_PIX_FMT_BGR24) {
            // No conversion on the way: the drawing comes back byte for byte.
            for (int y = 0; y < 24; ++y)
                for (int x = 0; x < 32 * 3; ++x)
                    ASSERT_EQ(view.data[0][y * view.linesize[0] + x],
                              (y >= 8 && y < 16 && x >= 24 && x < 72) ? 255 : 128)
                        << x << "," << y;
        } else {
            EXPECT_GE(view.data[0][12 * view.linesize[0] + 16], 230); // white, studio range
            EXPECT_NEAR(view.data[0][2 * view.linesize[0] + 2], 128, 3);
            EXPECT_NEAR(view.data[1][1 * view.linesize[1] + 1], 128, 3);
        }
    }
}

TEST_F(EngineHooks, CustomHookUpdateAndStop)
{
    TImage source(AV_PIX_FMT_YUV420P, 32, 24, Grey);
    const std::vector<uint8_t> original = Bytes(source);
    AddBox();

    // AUpdate false: whatever was drawn is dropped; the hook stays connected
    // and the modules do not run while it is.
    int calls = 0;
    Engine.CustomHookHandler = [&](TCustomFFmpeg &, TBitmap &bitmap, bool &, bool &update, int64_t, int32_t) {
        ++calls;
        DrawWhite(bitmap);
        update = false;
    };
    for (int i = 0; i < 3; ++i) EXPECT_EQ(PreProcess(source, i * Second), original) << i;
    EXPECT_EQ(calls, 3);

    // AStopHook: that picture keeps the drawing, and no further calls come;
    // the modules stay off for the rest of the job.
    calls = 0;
    Engine.CustomHookHandler = [&](TCustomFFmpeg &, TBitmap &bitmap, bool &stop, bool &, int64_t, int32_t) {
        ++calls;
        DrawWhite(bitmap);
        stop = calls == 2;
    };
    EXPECT_NE(PreProcess(source, 3 * Second), original);
    EXPECT_NE(PreProcess(source, 4 * Second), original);
    for (int i = 5; i < 8; ++i) EXPECT_EQ(PreProcess(source, i * Second), original) << i;
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(Engine.CustomHookHandler);
    EXPECT_FALSE(Engine.UsingHooks);
    EXPECT_EQ(Engine.HookAction, haStop);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(EngineHooks, CustomHookStopsWhenThePictureCannotBeConverted)
{
    const struct {
        AVPixelFormat format;
        int calls;
        const char *message;
    } rows[] = {
        // The scaler neither reads nor writes it: the handler is never asked.
        {AV_PIX_FMT_UYYVYY411, 0, "Cannot initialize the toRGB conversion context"},
        // Read, not written: the drawing cannot come back.
        {AV_PIX_FMT_PAL8, 1, "Cannot initialize the fromRGB conversion context"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.message);
        Engine.Reset();
        Logs.clear();
        ASSERT_EQ(lav::sws_isSupportedInput(row.format) > 0, row.calls > 0);
        ASSERT_FALSE(lav::sws_isSupportedOutput(row.format));
        TImage source(row.format, 32, 24, Noise);
        int calls = 0;
        Engine.CustomHookHandler = [&](TCustomFFmpeg &, TBitmap &bitmap, bool &, bool &, int64_t, int32_t) {
            ++calls;
            DrawWhite(bitmap);
        };
        EXPECT_EQ(PreProcess(source, 0), Bytes(source));
        EXPECT_EQ(PreProcess(source, Second), Bytes(source));
        EXPECT_EQ(calls, row.calls);
        EXPECT_FALSE(Engine.CustomHookHandler);
        EXPECT_EQ(Engine.HookAction, haStop);
        EXPECT_EQ(CountLogs(0, row.message), 1u);
    }
}

TEST_F(EngineHooks, HandlerFailuresAreLoggedAndNeverEscape)
{
    TImage source(AV_PIX_FMT_YUV420P, 32, 24, Grey);
    const std::vector<uint8_t> original = Bytes(source);
    AddBox();

    // A failing before hook stops module processing.
    int beforeCalls = 0;
    Engine.BeforeHookHandler = [&](TCustomFFmpeg &, THookAction &, int64_t) {
        ++beforeCalls;
        throw std::runtime_error("no decision");
    };
    EXPECT_EQ(PreProcess(source, 0), original);
    EXPECT_EQ(PreProcess(source, Second), original);
    EXPECT_EQ(beforeCalls, 1);
    EXPECT_FALSE(Engine.UsingHooks);
    EXPECT_EQ(CountLogs(0, "Error occurs OnBeforeHook: no decision"), 1u);

    // A failing custom hook leaves that picture as it was and is asked again.
    int customCalls = 0;
    Engine.CustomHookHandler = [&](TCustomFFmpeg &, TBitmap &bitmap, bool &, bool &, int64_t, int32_t) {
        ++customCalls;
        DrawWhite(bitmap);
        if (customCalls == 1) throw std::runtime_error("pen broke");
        if (customCalls == 2) throw 42;
    };
    EXPECT_EQ(PreProcess(source, 2 * Second), original);
    EXPECT_EQ(PreProcess(source, 3 * Second), original);
    EXPECT_NE(PreProcess(source, 4 * Second), original);
    EXPECT_EQ(customCalls, 3);
    EXPECT_EQ(CountLogs(0, "Error occurs OnCustomHook: pen broke"), 1u);
    EXPECT_EQ(CountLogs(0, "Error occurs OnCustomHook: Unknown error"), 1u);
}

TEST_F(EngineHooks, DeinterlacingPlanarYuvAndFallingBackForOtherFormats)
{
    Engine.Deinterlace = true;
    const struct {
        AVPixelFormat format;
        bool deinterlaced;
        bool withBox;
    } rows[] = {
        {AV_PIX_FMT_YUV420P, true, false},
        {AV_PIX_FMT_YUV420P, true, true},
        {AV_PIX_FMT_RGB24, false, false},
        {AV_PIX_FMT_RGB24, false, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.format) + (row.withBox ? " with box" : ""));
        Engine.Reset();
        Engine.Deinterlace = true;
        if (row.withBox) AddBox();
        Logs.clear();
        TImage source(row.format, 32, 24, Noise);
        // What the step should hand on: the engine's deinterlacer's result
        // (else the picture unchanged), then the box.
        TImage expected(row.format, 32, 24, Noise);
        if (row.deinterlaced) {
            ASSERT_EQ(PictureDeinterlace(expected.Picture, source.Picture, row.format, 32, 24), 0);
        }
        std::vector<uint8_t> want = row.withBox ? Boxed(expected) : Bytes(expected);
        if (row.deinterlaced && !row.withBox) {
            ASSERT_NE(want, Bytes(source));
        }

        EXPECT_EQ(PreProcess(source, 0), want);
        EXPECT_EQ(CountLogs(0, "Deinterlacing failed."), row.deinterlaced ? 0u : 1u);
    }

    // A picture of no known format cannot be copied: handed on untouched.
    Logs.clear();
    TImage source(AV_PIX_FMT_YUV420P, 32, 24, Noise);
    TCodecContext decoder(AV_PIX_FMT_NONE, 32, 24);
    TInputStreamState ist;
    ist.Decoder = decoder.Context;
    TPicture picture = source.Picture;
    Engine.PreProcessPicture(ist, picture);
    EXPECT_EQ(picture.data[0], source.Picture.data[0]);
    EXPECT_EQ(CountLogs(0, "hook buf malloc error."), 1u);
}

TEST(FormatPTS, HoursMinutesSecondsMilliseconds)
{
    const struct {
        int64_t t;
        const char *text;
    } rows[] = {
        {(3600 + 2 * 60 + 3) * Second + 4500, "01:02:03.004"},
        {AV_NOPTS_VALUE, "N/A"},
        {0, "00:00:00.000"},
        {100 * 3600 * Second + 999999, "100:00:00.999"},
    };
    for (const auto &row : rows) EXPECT_EQ(FormatPTS(row.t), row.text) << row.t;
}

// A previewer that records what it was shown and closes after `closeAfter` pictures.
struct TRecordingPreviewer : TPreviewer {
    struct TRecord {
        int Made = 0, Destroyed = 0;
        std::vector<std::pair<int32_t, int64_t>> Shown; // frame number, time stamp
        int CloseAfter = 1000;
        std::function<void()> During; // runs inside ShowPicture
    };
    explicit TRecordingPreviewer(TRecord &record) : Record(record) { ++Record.Made; }
    ~TRecordingPreviewer() override { ++Record.Destroyed; }
    bool ShowPicture(TBitmap &bitmap, int32_t frameNumber, int64_t pts) override
    {
        if (int(Record.Shown.size()) >= Record.CloseAfter) return false;
        EXPECT_EQ(bitmap.Width(), 16);
        Record.Shown.emplace_back(frameNumber, pts);
        if (Record.During) Record.During();
        return true;
    }
    TRecord &Record;
};

void InstallRecordingPreviewer(TRecordingPreviewer::TRecord &record)
{
    SetPreviewerFactory([&record] { return std::make_unique<TRecordingPreviewer>(record); });
}

void WaitMicroseconds(int64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us)); }

TEST_F(EngineHooks, PreviewBitmapsAtMostOncePerInterval)
{
    TImage picture(AV_PIX_FMT_BGR24, 16, 8, Noise);
    TCodecContext encoder(AV_PIX_FMT_BGR24, 16, 8);
    std::vector<std::pair<int64_t, int32_t>> delivered;
    Engine.PreviewBitmapHandler = [&](TCustomFFmpeg &, TBitmap &bitmap, int64_t pts, int32_t frameNumber) {
        delivered.emplace_back(pts, frameNumber);
        ASSERT_EQ(bitmap.Width(), 16);
        ASSERT_EQ(bitmap.Height(), 8);
        for (int y = 0; y < 8; ++y)
            ASSERT_EQ(std::memcmp(bitmap.ScanLine(y),
                                  picture.Picture.data[0] + y * picture.Picture.linesize[0], 48),
                      0);
    };
    Engine.SetPreviewFlags(PreviewToBitmap);
    Engine.PreviewInterval = 3600 * Second;
    Engine.PictureCounter = 7;
    for (int i = 0; i < 20; ++i) Engine.PreviewPicture(picture.Picture, encoder.Context, i * 40000);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0], (std::pair<int64_t, int32_t>(0, 7)));

    // Once an interval has passed, the next picture is due.
    Engine.PreviewInterval = 2000;
    WaitMicroseconds(5000);
    Engine.PreviewPicture(picture.Picture, encoder.Context, 5 * Second);
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered[1].first, 5 * Second);
    EXPECT_EQ(Engine.PreviewFlags.load(), PreviewToBitmap);
    EXPECT_TRUE(LogLines().empty());
}

TEST_F(EngineHooks, PreviewerSwitch)
{
    TImage picture(AV_PIX_FMT_YUV420P, 16, 8, Noise);
    TCodecContext encoder(AV_PIX_FMT_YUV420P, 16, 8);
    Engine.PreviewInterval = 1000;

    // Without a previewer factory the switch does nothing.
    Engine.SetPreviewFlags(PreviewToWindow);
    Engine.PreviewPicture(picture.Picture, encoder.Context, 0);
    EXPECT_EQ(Engine.Preview.Window, nullptr);
    EXPECT_EQ(Engine.PreviewFlags.load(), PreviewToWindow);

    // With both switches, only bitmaps.
    TRecordingPreviewer::TRecord record;
    record.CloseAfter = 2;
    InstallRecordingPreviewer(record);
    int bitmaps = 0;
    Engine.PreviewBitmapHandler = [&](TCustomFFmpeg &, TBitmap &, int64_t, int32_t) { ++bitmaps; };
    Engine.SetPreviewFlags(PreviewToWindow | PreviewToBitmap);
    for (int i = 0; i < 3; ++i) {
        WaitMicroseconds(2000);
        Engine.PreviewPicture(picture.Picture, encoder.Context, i * Second);
    }
    EXPECT_EQ(bitmaps, 3);
    EXPECT_EQ(record.Made, 0);

    // The previewer alone: made once, shown each due picture; closed by the
    // user, it turns its switch off and goes.
    Engine.SetPreviewFlags(PreviewToWindow);
    Engine.PictureCounter = 41;
    for (int i = 0; i < 5; ++i) {
        WaitMicroseconds(2000);
        ++Engine.PictureCounter;
        Engine.PreviewPicture(picture.Picture, encoder.Context, i * Second);
    }
    EXPECT_EQ(bitmaps, 3);
    EXPECT_EQ(record.Made, 1);
    EXPECT_EQ(record.Destroyed, 1);
    EXPECT_EQ(record.Shown, (std::vector<std::pair<int32_t, int64_t>>{{42, 0}, {43, Second}}));
    EXPECT_EQ(Engine.PreviewFlags.load(), 0);
    EXPECT_EQ(Engine.Preview.Window, nullptr);
}

TEST_F(EngineHooks, PreviewFailureTurnsItsSwitchOff)
{
    TImage picture(AV_PIX_FMT_YUV420P, 16, 8, Noise);
    TCodecContext invalid(AV_PIX_FMT_NONE, 16, 8), encoder(AV_PIX_FMT_YUV420P, 16, 8);
    TRecordingPreviewer::TRecord record;
    InstallRecordingPreviewer(record);
    const struct {
        uint8_t flags;
        bool invalidFormat;
        const char *message;
    } rows[] = {
        {PreviewToBitmap, true, "Cannot initialize the toRGB conversion context"},
        {PreviewToWindow, true, "Cannot initialize the toRGB conversion context"},
        {PreviewToBitmap, false, "Error occurs OnPreviewBitmap: no screen"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.message);
        Engine.Reset();
        Logs.clear();
        Engine.PreviewInterval = 1000;
        int bitmaps = 0;
        Engine.PreviewBitmapHandler = [&](TCustomFFmpeg &, TBitmap &, int64_t, int32_t) {
            ++bitmaps;
            if (!row.invalidFormat) throw std::runtime_error("no screen");
        };
        Engine.SetPreviewFlags(row.flags);
        for (int i = 0; i < 3; ++i) {
            WaitMicroseconds(2000);
            EXPECT_NO_THROW(Engine.PreviewPicture(
                picture.Picture, (row.invalidFormat ? invalid : encoder).Context, i * Second));
        }
        EXPECT_EQ(Engine.PreviewFlags.load(), 0);
        EXPECT_EQ(bitmaps, row.invalidFormat ? 0 : 1);
        EXPECT_EQ(CountLogs(0, row.message), 1u);
    }
    EXPECT_TRUE(record.Shown.empty());
    EXPECT_EQ(record.Made, record.Destroyed);
}

// As the component does with a blocking hand-over: another thread changes
// the switches while this one waits for it.
void SetFlagsFromAnotherThread(TCustomFFmpeg &engine, uint8_t flags)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([&engine, flags, done] {
        engine.SetPreviewFlags(flags);
        done->set_value();
    }).detach();
    if (finished.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the switch change waits for the picture being delivered";
        std::fflush(stdout);
        std::_Exit(1); // the other thread is stuck on the engine's lock
    }
}

TEST_F(EngineHooks, SwitchesMayChangeWhileAPictureIsDelivered)
{
    TImage picture(AV_PIX_FMT_YUV420P, 16, 8, Noise);
    TCodecContext encoder(AV_PIX_FMT_YUV420P, 16, 8);
    Engine.PreviewInterval = 1000;

    // The change made during the delivery stands.
    uint8_t next = PreviewToBitmap | PreviewToWindow;
    Engine.PreviewBitmapHandler = [&](TCustomFFmpeg &engine, TBitmap &, int64_t, int32_t) {
        SetFlagsFromAnotherThread(engine, next);
    };
    Engine.SetPreviewFlags(PreviewToBitmap);
    Engine.PreviewPicture(picture.Picture, encoder.Context, 0);
    EXPECT_EQ(Engine.PreviewFlags.load(), PreviewToBitmap | PreviewToWindow);
    next = 0;
    WaitMicroseconds(2000);
    Engine.PreviewPicture(picture.Picture, encoder.Context, Second);
    EXPECT_EQ(Engine.PreviewFlags.load(), 0);

    // The previewer switched off while it draws goes only once it is done.
    TRecordingPreviewer::TRecord record;
    InstallRecordingPreviewer(record);
    record.During = [&] {
        SetFlagsFromAnotherThread(Engine, 0);
        EXPECT_EQ(record.Destroyed, 0);
    };
    Engine.PreviewBitmapHandler = nullptr;
    Engine.SetPreviewFlags(PreviewToWindow);
    WaitMicroseconds(2000);
    Engine.PreviewPicture(picture.Picture, encoder.Context, 2 * Second);
    EXPECT_EQ(record.Shown.size(), 1u);
    EXPECT_EQ(record.Destroyed, 1);
    EXPECT_EQ(Engine.Preview.Window, nullptr);
    EXPECT_EQ(Engine.PreviewFlags.load(), 0);
}

// The video packets of a media file (rawvideo: one picture each).
std::vector<std::vector<uint8_t>> VideoPackets(const std::string &path)
{
    std::vector<std::vector<uint8_t>> packets;
    AVFormatContext *context = nullptr;
    if (lav::avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) return packets;
    AVPacket *packet = lav::av_packet_alloc();
    while (lav::av_read_frame(context, packet) >= 0) {
        if (context->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            packets.emplace_back(packet->data, packet->data + packet->size);
        lav::av_packet_unref(packet);
    }
    lav::av_packet_free(&packet);
    lav::avformat_close_input(&context);
    return packets;
}

TEST_F(EngineHooks, VhookChangesExactlyTheBoxOfEveryConvertedPicture)
{
    constexpr int Width = 32, Height = 24, Frames = 6;
    const size_t frameBytes = size_t(Width * Height * 3 / 2);
    TTempFolder temp;
    std::vector<std::vector<uint8_t>> input;
    std::string y4m = "YUV4MPEG2 W32 H24 F5:1 Ip A1:1 C420jpeg\n";
    for (int f = 0; f < Frames; ++f) {
        std::vector<uint8_t> &frame = input.emplace_back(frameBytes);
        for (size_t i = 0; i < frameBytes; ++i) frame[i] = Noise(i + size_t(f) * 7919);
        y4m += "FRAME\n" + std::string(frame.begin(), frame.end());
    }
    WriteFile(temp.File("in.y4m"), y4m);

    // Transcoding is another part of the engine; without it there is nothing
    // to convert through.
    auto unavailable = [](const std::string &message) {
        return message.find("not available yet") != std::string::npos;
    };
    Engine.SetOption("vhook", BoxCommandLine());
    if (!Engine.OpenInput(MyUtils::Utf8ToUtf16(temp.File("in.y4m")))) {
        if (unavailable(Engine.LastError)) GTEST_SKIP() << Engine.LastError;
        FAIL() << Engine.LastError;
    }
    Engine.SetOption("vcodec", "rawvideo");
    Engine.SetOption("an", "");
    if (Engine.OpenOutput(MyUtils::Utf8ToUtf16(temp.File("out.nut"))) < 0) {
        if (unavailable(Engine.LastError)) GTEST_SKIP() << Engine.LastError;
        FAIL() << Engine.LastError;
    }
    int previews = 0;
    Engine.PreviewBitmapHandler = [&](TCustomFFmpeg &, TBitmap &bitmap, int64_t, int32_t) {
        ++previews;
        EXPECT_EQ(bitmap.Width(), Width);
    };
    Engine.SetPreviewFlags(PreviewToBitmap);
    Engine.Start(false);
    if (Engine.HasError && unavailable(Engine.TerminateMessage)) GTEST_SKIP() << Engine.TerminateMessage;
    ASSERT_FALSE(Engine.HasError) << Engine.TerminateMessage;

    const std::vector<std::vector<uint8_t>> output = VideoPackets(temp.File("out.nut"));
    ASSERT_EQ(output.size(), size_t(Frames));
    for (int f = 0; f < Frames; ++f) {
        const std::vector<uint8_t> expected = Boxed(input[size_t(f)], AV_PIX_FMT_YUV420P, Width, Height);
        ASSERT_NE(expected, input[size_t(f)]);
        EXPECT_EQ(output[size_t(f)], expected) << "picture " << f;
    }
    // Encoded pictures reached the preview, at most one per interval.
    EXPECT_GE(previews, 1);
    EXPECT_LE(previews, Frames);
}

} // namespace
