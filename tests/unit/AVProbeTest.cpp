#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>

#include "AVProbe.h"
#include "FFmpegLoader.h"
#include "MediaFixtures.h"
#include "MyUtils.h"
#include "TestSupport.h"
#include "UnicodeProtocol.h"

namespace {

struct TColour {
    int R, G, B;
};
constexpr TColour Red{255, 0, 0}, Lime{0, 255, 0}, Blue{0, 0, 255}, Yellow{255, 255, 0},
    Still{0x33, 0x66, 0xCC};

std::u16string Wide(const std::string &s) { return MyUtils::Utf8ToUtf16(s); }

// The colour at (x, y), by default the centre, is `c`, give or take the
// losses of compression and colour conversion.
::testing::AssertionResult ShowsColour(const TBitmap &b, TColour c, int x = -1, int y = -1)
{
    if (b.Width() == 0 || b.Height() == 0) return ::testing::AssertionFailure() << "empty bitmap";
    if (x < 0) x = b.Width() / 2;
    if (y < 0) y = b.Height() / 2;
    const uint8_t *p = b.ScanLine(y) + x * 3;
    int bl = p[0], g = p[1], r = p[2];
    if (std::abs(r - c.R) < 40 && std::abs(g - c.G) < 40 && std::abs(bl - c.B) < 40)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << x << ", " << y << ") is R" << r << " G" << g << " B" << bl;
}

bool AllBlack(const TBitmap &b)
{
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width() * 3; ++x)
            if (b.ScanLine(y)[x] != 0) return false;
    return true;
}

// Counts the demuxer's reads and seeks by standing in for their slots.
struct TCallCounter {
    static inline int Reads = 0;
    static inline int Seeks = 0;
    static inline decltype(lav::av_read_frame) Read = nullptr;
    static inline decltype(lav::av_seek_frame) Seek = nullptr;
    static int CountRead(AVFormatContext *s, AVPacket *p)
    {
        ++Reads;
        return Read(s, p);
    }
    static int CountSeek(AVFormatContext *s, int i, int64_t ts, int flags)
    {
        ++Seeks;
        return Seek(s, i, ts, flags);
    }
    TCallCounter()
    {
        Reads = Seeks = 0;
        Read = lav::av_read_frame;
        Seek = lav::av_seek_frame;
        lav::av_read_frame = CountRead;
        lav::av_seek_frame = CountSeek;
    }
    ~TCallCounter()
    {
        lav::av_read_frame = Read;
        lav::av_seek_frame = Seek;
    }
};

class AVProbe : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadMediaLibrariesForTest();
        ASSERT_TRUE(std::filesystem::exists(Colours))
            << Colours << " is missing: run the tests through ctest";
    }
    void Open(const std::string &name) { ASSERT_TRUE(Probe.OpenFile(Wide(name))) << Probe.LastError(); }
    const std::string Colours = MediaFixture("colours.mp4");
    TAVProbe Probe;
};

TEST_F(AVProbe, OpensAFileAndDescribesItsStreams)
{
    Open(Colours);
    EXPECT_TRUE(Probe.Owned());
    EXPECT_EQ(Probe.StreamCount(), 2);
    EXPECT_EQ(Probe.ProgramCount(), 0);
    EXPECT_EQ(Probe.VideoStreamCount(), 1);
    EXPECT_EQ(Probe.AudioStreamCount(), 1);
    EXPECT_EQ(Probe.SubtitleStreamCount(), 0);
    EXPECT_EQ(Probe.FirstVideoStream(), 0);
    EXPECT_EQ(Probe.FirstAudioStream(), 1);
    EXPECT_EQ(Probe.FirstSubtitleStream(), -1);
    EXPECT_EQ(Probe.GetFormatName(), "mov,mp4,m4a,3gp,3g2,mj2");
    EXPECT_EQ(Probe.GetFileName(), Wide(Colours));
    TFileStreamInfo info;
    Probe.GetFileStreamInfo(info);
    EXPECT_EQ(info.StartTime, 0);
    EXPECT_NEAR(double(info.Duration), 4000000.0, 50000.0);
    EXPECT_GT(info.BitRate, 0);
    EXPECT_EQ(info.Timestamp, 0);
    EXPECT_EQ(info.Year, 0);
    EXPECT_EQ(info.Title, "");

    Probe.CloseFile();
    EXPECT_FALSE(Probe.Active());
    EXPECT_EQ(Probe.StreamCount(), -1);
    EXPECT_EQ(Probe.VideoStreamCount(), -1);
    EXPECT_EQ(Probe.FirstVideoStream(), -1);
    TLibraryLogCapture log;
    EXPECT_EQ(Probe.GetFormatName(), "");
    EXPECT_EQ(Probe.GetFileName(), u"");
    Probe.GetFileStreamInfo(info);
    EXPECT_EQ(info.Duration, -1);
    EXPECT_EQ(info.BitRate, -1);
    EXPECT_EQ(info.Year, -1);
    EXPECT_EQ(Probe.LastError(), "file not loaded.");
    EXPECT_NE(log.Text().find("file not loaded.\n"), std::string::npos);
}

TEST_F(AVProbe, ReadsMetadataOfTheContainer)
{
    TTempFolder folder;
    std::string tagged = folder.File("tagged.mp4");
    std::string command = "ffmpeg -nostdin -loglevel error -y -i '" + Colours +
                          "' -c copy -metadata title=Sunset -metadata artist=Somebody -metadata genre=Demo"
                          " -metadata date=2009 -metadata track=3/12"
                          " -metadata creation_time=2010-05-01T12:00:00Z '" +
                          tagged + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    Open(tagged);
    TFileStreamInfo info;
    Probe.GetFileStreamInfo(info);
    EXPECT_EQ(info.Title, "Sunset");
    EXPECT_EQ(info.Author, "Somebody");
    EXPECT_EQ(info.Genre, "Demo");
    EXPECT_EQ(info.Year, 2009);
    EXPECT_EQ(info.Track, 3);
    EXPECT_EQ(info.Timestamp, 1272715200LL * 1000000);
}

TEST_F(AVProbe, FailuresToOpenSayWhy)
{
    TTempFolder folder;
    std::string garbage = folder.File("garbage.mp4");
    std::string noise(20000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = char((i * 7919 + 13) % 251);
    WriteFile(garbage, noise);
    std::string truncated = folder.File("truncated.mp4");
    WriteFile(truncated, ReadFile(Colours).substr(0, 3000));
    std::string empty = folder.File("empty.avi");
    WriteFile(empty, "");

    const struct {
        std::string name, format, error;
    } table[] = {
        {folder.File("missing.mp4"), "", folder.File("missing.mp4") + ": no such file or directory"},
        {Colours, "nosuchformat", "Unknown input format: nosuchformat"},
        {garbage, "", garbage + ": "},
        {truncated, "", truncated + ": "},
        {empty, "", empty + ": "},
    };
    TLibraryLogCapture log;
    for (const auto &row : table) {
        EXPECT_FALSE(Probe.OpenFile(Wide(row.name), row.format)) << row.name;
        EXPECT_EQ(Probe.LastError().rfind(row.error, 0), 0u) << Probe.LastError();
        EXPECT_NE(log.Text().find(Probe.LastError() + "\n"), std::string::npos) << Probe.LastError();
        EXPECT_FALSE(Probe.Active());
        EXPECT_EQ(Probe.StreamCount(), -1);
    }
    // A forced format that fits is used.
    ASSERT_TRUE(Probe.OpenFile(Wide(Colours), "mp4")) << Probe.LastError();
    EXPECT_EQ(Probe.ForcedFormat(), "mp4");
    EXPECT_EQ(Probe.VideoStreamCount(), 1);
}

TEST_F(AVProbe, NamesOutsideTheCharacterSetGoThroughTheUnicodeProtocol)
{
    TTempFolder folder;
    std::u16string name = Wide(folder.File("色彩 ✓.mp4"));
    std::filesystem::copy_file(Colours, MyUtils::Utf16ToUtf8(name));
    ASSERT_TRUE(NeedsUnicodeName(name)) << "the tests run in the C locale";
    ASSERT_TRUE(Probe.OpenFile(name)) << Probe.LastError();
    EXPECT_EQ(Probe.GetFileName(), name);
    EXPECT_TRUE(ShowsColour(Probe.ReadFrame(-1, 1000000), Lime));
    EXPECT_EQ(Probe.FramePTS(), 1000000);
    Probe.CloseFile();
    EXPECT_FALSE(Probe.OpenFile(Wide(folder.File("缺少.mp4"))));
    EXPECT_NE(Probe.LastError().find(": no such file or directory"), std::string::npos) << Probe.LastError();
}

TEST_F(AVProbe, ReadFrameShowsThePictureAtEachPosition)
{
    Open(Colours);
    const struct {
        int64_t position;
        TColour colour;
        int64_t pts;
    } table[] = {
        {0, Red, 0},
        {1000000, Lime, 1000000},
        {2000000, Blue, 2000000},
        {1500000, Lime, 1480000}, // the picture on show: the last one before it
        {3400000, Yellow, 3400000},
        {3960000, Yellow, 3960000}, // the last picture
        {0, Red, 0},
        {600000, Red, 600000},
    };
    for (const auto &row : table) {
        TBitmap &b = Probe.ReadFrame(-1, row.position);
        EXPECT_TRUE(Probe.FrameValid()) << row.position << ": " << Probe.LastError();
        EXPECT_EQ(b.Width(), 160);
        EXPECT_EQ(b.Height(), 120);
        EXPECT_TRUE(ShowsColour(b, row.colour)) << row.position;
        EXPECT_EQ(Probe.FramePTS(), row.pts) << row.position;
        EXPECT_TRUE(ShowsColour(Probe.LastFrame(), row.colour)) << row.position;
    }
    // Position -1 goes on with the next picture.
    Probe.ReadFrame(0, 1000000);
    Probe.ReadFrame(0, -1);
    EXPECT_TRUE(Probe.FrameValid());
    EXPECT_EQ(Probe.FramePTS(), 1040000);
}

TEST_F(AVProbe, TheSameRequestTwiceIsAnsweredFromTheCopy)
{
    Open(Colours);
    TCallCounter calls;
    Probe.ReadFrame(-1, 2000000);
    ASSERT_TRUE(Probe.FrameValid());
    int reads = TCallCounter::Reads, seeks = TCallCounter::Seeks;
    EXPECT_GT(reads, 0);
    EXPECT_EQ(seeks, 1);
    TBitmap &again = Probe.ReadFrame(0, 2000000);
    EXPECT_TRUE(Probe.FrameValid());
    EXPECT_TRUE(ShowsColour(again, Blue));
    EXPECT_EQ(Probe.FramePTS(), 2000000);
    EXPECT_EQ(TCallCounter::Reads, reads);
    EXPECT_EQ(TCallCounter::Seeks, seeks);
    // Another position decodes again.
    Probe.ReadFrame(0, 1000000);
    EXPECT_GT(TCallCounter::Reads, reads);
    EXPECT_TRUE(ShowsColour(Probe.ReadFrame(0, 1000000), Lime));
}

// The frames of the first video stream of `file`, decoded by Debian's ffmpeg
// from the start without seeking, as 24-bit BGR rows one after the other.
std::string ReferencePictures(const std::string &file, const TTempFolder &folder)
{
    const std::string raw = folder.File("reference.bgr");
    const std::string command = "ffmpeg -nostdin -loglevel error -y -i '" + file +
                                "' -map 0:v:0 -fps_mode passthrough -pix_fmt bgr24 -f rawvideo '" + raw + "'";
    if (std::system(command.c_str()) != 0) return {};
    return ReadFile(raw);
}

// Mean absolute difference of the bitmap's bytes from picture `n` of
// `pictures` (width x height BGR rows); 255 when they cannot be compared.
double MeanDifference(const TBitmap &b, const std::string &pictures, int n)
{
    const size_t row = size_t(b.Width()) * 3, size = row * size_t(b.Height());
    if (size == 0 || pictures.size() < size * size_t(n + 1)) return 255;
    const uint8_t *picture = reinterpret_cast<const uint8_t *>(pictures.data()) + size * size_t(n);
    uint64_t sum = 0;
    for (int y = 0; y < b.Height(); ++y)
        for (size_t x = 0; x < row; ++x)
            sum += uint64_t(std::abs(int(b.ScanLine(y)[x]) - int(picture[size_t(y) * row + x])));
    return double(sum) / double(size);
}

// Each picture is compared with the picture of the same time that ffmpeg
// decodes from the start: positions between key frames, backwards, a little
// after the last one (decoded on without seeking), in the last group of
// pictures, at the duration (the last picture) and past it.
TEST_F(AVProbe, ReadFrameMatchesThePictureDecodedWithoutSeeking)
{
    const struct {
        int64_t position;
        int picture; // -1: past the end
        bool seeks;
    } walk[] = {
        {1520000, 38, true},  {700000, 17, true},   {730000, 18, false}, {760000, 19, false},
        {3300000, 82, true},  {3310000, 82, false}, {0, 0, true},        {2000000, 50, true},
        {2710000, 67, false}, {1990000, 49, true},  {-2, 99, true},      {5000000, -1, false},
    };
    for (const char *name : {"walk.mp4", "walk.mkv", "walk.mpg", "walk.ts"}) {
        SCOPED_TRACE(name);
        TTempFolder folder;
        const std::string file = MediaFixture(name);
        const std::string pictures = ReferencePictures(file, folder);
        ASSERT_EQ(pictures.size(), size_t(160 * 120 * 3) * 100);
        Open(file);
        TFileStreamInfo info;
        Probe.GetFileStreamInfo(info);
        ASSERT_GT(info.Duration, 3800000);
        TCallCounter calls;
        for (const auto &row : walk) {
            // -2: the file's duration, the slider's last position.
            const int64_t position = row.position == -2 ? info.Duration : row.position;
            const int seeks = TCallCounter::Seeks;
            TBitmap &b = Probe.ReadFrame(-1, position);
            if (row.picture < 0) {
                EXPECT_FALSE(Probe.FrameValid()) << position;
                EXPECT_EQ(Probe.LastError(), "stream eof reached.");
                EXPECT_TRUE(AllBlack(b));
                continue;
            }
            EXPECT_TRUE(Probe.FrameValid()) << position << ": " << Probe.LastError();
            EXPECT_EQ(Probe.FramePTS(), int64_t(row.picture) * 40000) << position;
            EXPECT_LT(MeanDifference(b, pictures, row.picture), 1.0) << position;
            // The neighbours differ: the comparison would see a wrong picture.
            if (row.picture > 0) {
                EXPECT_GT(MeanDifference(b, pictures, row.picture - 1), 4.0) << position;
            }
            if (!row.seeks) {
                EXPECT_EQ(TCallCounter::Seeks, seeks) << position << " was not decoded on";
            }
        }
    }
}

TEST_F(AVProbe, PastTheEndTheBitmapIsBlackAndTheEndIsRemembered)
{
    Open(Colours);
    TCallCounter calls;
    TLibraryLogCapture log;
    TBitmap &b = Probe.ReadFrame(-1, 10000000);
    EXPECT_FALSE(Probe.FrameValid());
    EXPECT_EQ(Probe.LastError(), "stream eof reached.");
    EXPECT_EQ(b.Width(), 160);
    EXPECT_EQ(b.Height(), 120);
    EXPECT_TRUE(AllBlack(b));
    EXPECT_EQ(Probe.FramePTS(), -1);
    int reads = TCallCounter::Reads, seeks = TCallCounter::Seeks;

    Probe.ReadFrame(-1, 10000000);
    EXPECT_FALSE(Probe.FrameValid());
    EXPECT_EQ(Probe.LastError(), "stream eof reached.");
    EXPECT_TRUE(AllBlack(b));
    EXPECT_EQ(TCallCounter::Reads, reads);
    EXPECT_EQ(TCallCounter::Seeks, seeks);

    // The decoder is fit for use again.
    EXPECT_TRUE(ShowsColour(Probe.ReadFrame(-1, 1000000), Lime));
    EXPECT_TRUE(Probe.FrameValid());
}

TEST_F(AVProbe, AStillPictureShowsAtEveryPosition)
{
    // PNG decodes to RGB24 (converted), BMP to BGR24 (copied as it is).
    const struct {
        std::string file;
        int width;
    } table[] = {{"still.png", 160}, {"still.bmp", 158}};
    for (const auto &row : table) {
        Open(MediaFixture(row.file));
        EXPECT_EQ(Probe.GetFormatName(), "image2");
        TLibraryLogCapture log;
        for (int64_t position : {0LL, 5000000LL, -1LL, 123LL}) {
            TBitmap &b = Probe.ReadFrame(-1, position);
            EXPECT_TRUE(Probe.FrameValid()) << row.file << " " << position << ": " << Probe.LastError();
            ASSERT_EQ(b.Width(), row.width);
            ASSERT_EQ(b.Height(), 120);
            EXPECT_TRUE(ShowsColour(b, Still)) << row.file << " " << position;
            EXPECT_TRUE(ShowsColour(b, Still, row.width - 1, 119)) << row.file;
        }
        EXPECT_TRUE(Probe.SeekTo(-1, true, 1000000));
        EXPECT_NE(log.Text().find("\"image2\" format cannot to be seeked.\n"), std::string::npos);
    }
}

TEST_F(AVProbe, BadArgumentsEmptyTheBitmap)
{
    TLibraryLogCapture log;
    Probe.ReadFrame(-1, 0);
    EXPECT_EQ(Probe.LastError(), "file not loaded.");
    EXPECT_FALSE(Probe.SeekTo(-1, true, 0));

    const struct {
        std::string file;
        int32_t index;
        std::string error;
    } table[] = {
        {MediaFixture("tone.mp3"), -1, "no video stream."},
        {Colours, 1, "stream #1 is not video stream."},
        {Colours, 7, "stream index #7 is invalid."},
    };
    for (const auto &row : table) {
        Open(row.file);
        Probe.ReadFrame(0, 0); // a picture first, so that emptying shows
        TBitmap &b = Probe.ReadFrame(row.index, 1000000);
        EXPECT_FALSE(Probe.FrameValid());
        EXPECT_EQ(Probe.LastError(), row.error);
        EXPECT_EQ(b.Width(), 0);
        EXPECT_EQ(b.Height(), 0);
        EXPECT_NE(log.Text().find(row.error + "\n"), std::string::npos) << row.error;
    }
    EXPECT_FALSE(Probe.SeekTo(7, true, 0));
    EXPECT_EQ(Probe.LastError(), "stream index #7 is invalid.");
}

TEST_F(AVProbe, AnAttachedContextIsReadOnly)
{
    AVFormatContext *context = nullptr;
    ASSERT_EQ(lav::avformat_open_input(&context, Colours.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(lav::avformat_find_stream_info(context, nullptr), 0);
    {
        TAVProbe attached;
        attached.AttachContext(context);
        EXPECT_FALSE(attached.Owned());
        EXPECT_EQ(attached.StreamCount(), 2);
        EXPECT_EQ(attached.FirstVideoStream(), 0);
        EXPECT_EQ(attached.GetFileName(), Wide(Colours));
        TFileStreamInfo info;
        attached.GetFileStreamInfo(info);
        EXPECT_NEAR(double(info.Duration), 4000000.0, 50000.0);
        TLibraryLogCapture log;
        try {
            attached.ReadFrame(-1, 0);
            ADD_FAILURE() << "ReadFrame on an attached context did not throw";
        } catch (const AVProbeException &e) {
            EXPECT_STREQ(e.what(), "frame cannot be read, handle is readonly.");
        }
        EXPECT_EQ(attached.LastError(), "frame cannot be read, handle is readonly.");
        EXPECT_NE(log.Text().find("frame cannot be read, handle is readonly.\n"), std::string::npos);
        attached.CloseFile();
        EXPECT_EQ(attached.StreamCount(), -1);
        attached.AttachContext(context); // dropped again by the destructor
    }
    // The context is still the caller's, open and readable.
    AVPacket *packet = lav::av_packet_alloc();
    EXPECT_EQ(lav::av_read_frame(context, packet), 0);
    lav::av_packet_free(&packet);
    lav::avformat_close_input(&context);
}

TEST_F(AVProbe, ADamagedStreamGivesPicturesOrReasons)
{
    TTempFolder folder;
    std::string damaged = folder.File("damaged.mp4");
    std::string data = ReadFile(Colours);
    for (size_t i = 1000; i < data.size() / 2; i += 97) data[i] = char(i * 31);
    WriteFile(damaged, data);
    if (!Probe.OpenFile(Wide(damaged))) {
        EXPECT_FALSE(Probe.LastError().empty());
        return;
    }
    for (int64_t position : {0LL, 1000000LL, 1500000LL, 3400000LL, -1LL, 9000000LL}) {
        TBitmap &b = Probe.ReadFrame(-1, position);
        if (Probe.FrameValid()) {
            EXPECT_EQ(b.Width(), 160) << position;
        } else {
            EXPECT_FALSE(Probe.LastError().empty()) << position;
            EXPECT_TRUE(b.Width() == 0 || AllBlack(b)) << position;
        }
    }
    EXPECT_TRUE(ShowsColour(Probe.ReadFrame(-1, 3960000), Yellow)); // the undamaged end
}

TEST(AVProbeLibraries, AMissingLibraryIsAFailure)
{
    TAVProbe probe;
    try {
        probe.OpenFile(u"any.mp4");
        ADD_FAILURE() << "OpenFile without libraries did not throw";
    } catch (const AVProbeException &e) {
        EXPECT_STREQ(e.what(), "LibAVCodec not loaded.");
    }
    EXPECT_THROW(probe.AttachContext(nullptr), AVProbeException);
}

} // namespace
