// Timing end to end: clips cut with "ss" start on their picture with their
// sound, gaps are synced, the output's "ss" and "t" hold for every stream,
// "async" fills late audio with silence, and codec threads change no time
// stamp. The inputs flash white on the first picture of every whole second
// and beep for its first 0.1 s; each output is decoded by Debian's ffmpeg
// and its flashes and beeps located.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <vector>

#include "CliRun.h"
#include "MediaFixtures.h"
#include "TestSupport.h"

namespace {

// The first comma-separated field of every line, as numbers.
std::vector<double> Numbers(const std::string &text)
{
    std::vector<double> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty() && line != "N/A") out.push_back(std::atof(line.c_str()));
    return out;
}

// Where the flashes and beeps of a file are, in seconds.
struct TTimeline {
    std::vector<double> Pictures; // time of every decoded picture
    std::vector<double> Flashes;  // pictures that turn white
    double AudioStart = -1;
    double AudioLength = 0;
    std::vector<double> Beeps; // onsets of sound after silence
};

TTimeline Timeline(const std::string &file)
{
    TTimeline t;
    const std::string probe = "ffprobe -v error -of csv=p=0 ";
    t.Pictures =
        Numbers(Capture(probe + "-select_streams v:0 -show_entries frame=best_effort_timestamp_time " +
                        Quote(file) + " 2>/dev/null"));
    const std::vector<double> size =
        Numbers(Capture(probe + "-select_streams v:0 -show_entries stream=width " + Quote(file)));
    const std::vector<double> height =
        Numbers(Capture(probe + "-select_streams v:0 -show_entries stream=height " + Quote(file)));
    if (!size.empty() && !height.empty()) {
        const size_t area = size_t(size[0]) * size_t(height[0]);
        const std::string grey =
            Capture("ffmpeg -nostdin -v error -i " + Quote(file) +
                    " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt gray - 2>/dev/null");
        bool white = false;
        for (size_t i = 0; area && (i + 1) * area <= grey.size() && i < t.Pictures.size(); ++i) {
            double sum = 0;
            for (size_t k = 0; k < area; ++k) sum += uint8_t(grey[i * area + k]);
            const bool now = sum / double(area) > 128;
            if (now && !white) t.Flashes.push_back(t.Pictures[i]);
            white = now;
        }
    }
    const std::vector<double> start =
        Numbers(Capture(probe + "-select_streams a:0 -show_entries stream=start_time " + Quote(file)));
    if (!start.empty()) {
        t.AudioStart = start[0];
        const std::string raw =
            Capture("ffmpeg -nostdin -v error -i " + Quote(file) +
                    " -map 0:a:0 -ac 1 -ar 44100 -f s16le -acodec pcm_s16le - 2>/dev/null");
        const size_t count = raw.size() / 2;
        t.AudioLength = double(count) / 44100;
        size_t quiet = 44100;
        for (size_t i = 0; i < count; ++i) {
            int16_t s;
            std::memcpy(&s, raw.data() + 2 * i, 2);
            if (std::abs(int(s)) > 3000) {
                if (quiet >= 2205) t.Beeps.push_back(t.AudioStart + double(i) / 44100);
                quiet = 0;
            } else {
                ++quiet;
            }
        }
    }
    return t;
}

std::string List(const std::vector<double> &v)
{
    std::string s;
    for (double x : v) s += std::to_string(x).substr(0, 6) + " ";
    return s;
}

constexpr double Frame = 0.04;       // one picture at 25 fps
constexpr double AudioFrame = 0.024; // one AAC frame at 44,100 Hz

// ---- Clips start on their picture with their sound ------------------------

struct TClip {
    const char *Name;
    const char *Input;
    const char *Start;
    double FirstFlash; // output time of the first flash
};

void PrintTo(const TClip &c, std::ostream *os) { *os << c.Name; }

class ClipStart : public ::testing::TestWithParam<TClip> {};

TEST_P(ClipStart, FirstPictureIsAtTheStartAndTheSoundInStep)
{
    const TClip &c = GetParam();
    TTempFolder folder;
    const TRun run = RunCli(folder.Path(), {"-ss", c.Start, "-i", std::string("@") + c.Input, "-t", "3",
                                            "-vcodec", "mpeg4", "-acodec", "pcm_s16le", "out.mkv"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TTimeline t = Timeline(folder.File("out.mkv"));
    SCOPED_TRACE("flashes " + List(t.Flashes) + "beeps " + List(t.Beeps));
    ASSERT_FALSE(t.Pictures.empty());
    EXPECT_NEAR(t.Pictures.front(), 0.0, Frame / 2);
    EXPECT_NEAR(t.AudioStart, 0.0, AudioFrame);
    // Three seconds: three flashes, each with its beep.
    ASSERT_EQ(t.Flashes.size(), 3u);
    ASSERT_EQ(t.Beeps.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(t.Flashes[i], c.FirstFlash + double(i), Frame);
        EXPECT_NEAR(t.Beeps[i], c.FirstFlash + double(i), AudioFrame);
    }
    EXPECT_NEAR(t.Pictures.back(), 3.0 - Frame, Frame / 2);
}

// Key frames every 2 s (flash-gop2) or only at 0 and 16.72 s (flash-gop16).
const TClip Clips[] = {
    {"BetweenKeyFrames", "flash-gop2.mp4", "3.5", 0.5},
    {"OnAKeyFrame", "flash-gop2.mp4", "4", 0.0},
    {"OnASecondBetweenKeyFrames", "flash-gop2.mp4", "5", 0.0},
    {"SixteenSecondsAfterTheKeyFrame", "flash-gop16.mp4", "16", 0.0},
    {"TwelveSecondsAfterTheKeyFrame", "flash-gop16.mp4", "12.3", 0.7},
};

INSTANTIATE_TEST_SUITE_P(Engine, ClipStart, ::testing::ValuesIn(Clips),
                         [](const ::testing::TestParamInfo<TClip> &info) { return info.param.Name; });

// ---- Gaps, the output's "ss" and "t", late audio ---------------------------

// The flashes and the beeps from `from` to `to` seconds: as many of each,
// every beep within one picture of its flash.
void ExpectInStep(const TTimeline &t, double from, double to)
{
    SCOPED_TRACE("flashes " + List(t.Flashes) + "beeps " + List(t.Beeps));
    std::vector<double> flashes, beeps;
    for (double f : t.Flashes)
        if (f >= from && f <= to) flashes.push_back(f);
    for (double b : t.Beeps)
        if (b >= from && b <= to) beeps.push_back(b);
    ASSERT_EQ(flashes.size(), beeps.size());
    EXPECT_FALSE(flashes.empty());
    // One picture, and the beep's onset found to the sample.
    for (size_t i = 0; i < flashes.size(); ++i) EXPECT_NEAR(flashes[i], beeps[i], Frame + 0.001);
}

TEST(Timing, TwelveSecondsWithoutPicturesAreFilledAndTheEndStaysInSync)
{
    // flash-gap.mkv: pictures 0-4 s and 16-20 s, sound throughout.
    TTempFolder folder;
    const TRun run = RunCli(folder.Path(), {"-i", "@flash-gap.mkv", "-acodec", "pcm_s16le", "out.avi"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TTimeline t = Timeline(folder.File("out.avi"));
    // The picture after the gap is repeated over it: the video goes on to
    // the end of the sound, and the flashes after the gap keep their beeps.
    EXPECT_NEAR(double(t.Pictures.size()), 500, 1);
    ASSERT_FALSE(t.Pictures.empty());
    EXPECT_NEAR(t.Pictures.back(), 20.0 - Frame, Frame);
    EXPECT_EQ(t.Beeps.size(), 20u);
    ExpectInStep(t, 0, 3.5);
    ExpectInStep(t, 16.5, 20);
}

TEST(Timing, OutputStartAndLimitHoldForCopiedAndEncodedStreams)
{
    {
        // Copied audio starts at the output's 0 with the encoded video.
        TTempFolder folder;
        const TRun run = RunCli(folder.Path(), {"-i", "@flash-gop2.mp4", "-ss", "3", "-t", "4", "-vcodec",
                                                "mpeg4", "-acodec", "copy", "out.mkv"});
        ASSERT_EQ(run.Status, 0) << run.Err;
        const TTimeline t = Timeline(folder.File("out.mkv"));
        EXPECT_NEAR(t.AudioStart, 0.0, AudioFrame);
        ExpectInStep(t, 0.5, 3.5);
        ASSERT_FALSE(t.Flashes.empty());
        EXPECT_NEAR(t.Flashes[0], 0.0, Frame);
        EXPECT_NEAR(t.AudioStart + t.AudioLength, 4.0, AudioFrame);
    }
    {
        // Copied streams in a 1/1000 time base end at the limit.
        TTempFolder folder;
        const TRun run = RunCli(folder.Path(), {"-i", "@flash-gap.mkv", "-t", "3", "-vcodec", "copy",
                                                "-acodec", "copy", "out.mkv"});
        ASSERT_EQ(run.Status, 0) << run.Err;
        const TTimeline t = Timeline(folder.File("out.mkv"));
        EXPECT_EQ(t.Pictures.size(), 75u);
        ExpectInStep(t, 0, 2.5);
        EXPECT_NEAR(t.AudioLength, 3.0, AudioFrame);
    }
    {
        // Subtitles: "Hello" (0.2-0.9 s) ends before the start, "World"
        // (1.0-1.8 s) starts 0.5 s later and is cut at the limit.
        TTempFolder folder;
        const TRun run = RunCli(folder.Path(), {"-i", "@subtitles.mkv", "-ss", "0.5", "-t", "1", "-vcodec",
                                                "copy", "-scodec", "ass", "out.mkv"});
        ASSERT_EQ(run.Status, 0) << run.Err;
        const std::string cues = Capture("ffprobe -v error -select_streams s:0 -show_entries "
                                         "packet=pts_time,duration_time -of csv=p=0 " +
                                         Quote(folder.File("out.mkv")));
        EXPECT_EQ(cues, "0.500000,0.500000\n");
    }
}

TEST(Timing, AudioThatStartsLateIsPrecededBySilenceOnly)
{
    // The sound of a 12-beep file 8 s late, with the pictures of another.
    TTempFolder folder;
    const TRun run = RunCli(folder.Path(), {"-i", "@flash-gop2.mp4", "-itsoffset", "8", "-i",
                                            "@flash-gop2.mp4", "-map", "0:0", "-map", "1:1", "-async", "1",
                                            "-vcodec", "mpeg4", "-acodec", "pcm_s16le", "out.mkv"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    const TTimeline t = Timeline(folder.File("out.mkv"));
    SCOPED_TRACE("beeps " + List(t.Beeps));
    EXPECT_NEAR(t.AudioStart, 0.0, AudioFrame);
    ASSERT_EQ(t.Beeps.size(), 12u);
    for (size_t i = 0; i < 12; ++i) EXPECT_NEAR(t.Beeps[i], 8.0 + double(i), AudioFrame);
}

// ---- Codec threads change no timing ----------------------------------------

struct TThreaded {
    const char *Name;
    std::vector<std::string> Args; // "out" is the output's name
    const char *Output;
    size_t Pictures; // expected at either thread count
};

void PrintTo(const TThreaded &c, std::ostream *os) { *os << c.Name; }

class CodecThreads : public ::testing::TestWithParam<TThreaded> {};

// The time stamps of the output's video packets, in order of decoding.
std::vector<double> PacketTimes(const std::string &file)
{
    return Numbers(Capture("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 " +
                           Quote(file) + " 2>/dev/null"));
}

TEST_P(CodecThreads, AutomaticAndSingleThreadsGiveTheSamePictures)
{
    const TThreaded &c = GetParam();
    std::vector<double> times[2];
    std::vector<double> flashes[2];
    const char *counts[2] = {"0", "1"};
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(std::string("threads ") + counts[k]);
        TTempFolder folder;
        std::vector<std::string> args{"-threads", counts[k]};
        for (const std::string &a : c.Args) args.push_back(a == "out" ? c.Output : a);
        if (std::string(c.Name) == "TwoPass") {
            std::vector<std::string> first = args;
            for (std::string &a : first)
                if (a == "2") a = "1";
            const TRun pass1 = RunCli(folder.Path(), first);
            ASSERT_EQ(pass1.Status, 0) << pass1.Err;
        }
        const TRun run = RunCli(folder.Path(), args);
        ASSERT_EQ(run.Status, 0) << run.Err;
        times[k] = PacketTimes(folder.File(c.Output));
        flashes[k] = Timeline(folder.File(c.Output)).Flashes;
        EXPECT_EQ(times[k].size(), c.Pictures);
    }
    EXPECT_EQ(times[0], times[1]);
    EXPECT_EQ(flashes[0], flashes[1]);
}

// flash-gop2.mp4: 12 s of H.264 with B-frames at 25 fps (300 pictures).
const TThreaded Threaded[] = {
    {"BFramesToMpeg4", {"-i", "@flash-gop2.mp4", "-vcodec", "mpeg4", "-an", "out"}, "out.avi", 300},
    {"BFramesToH264", {"-i", "@flash-gop2.mp4", "-vcodec", "libx264", "-an", "out"}, "out.mkv", 300},
    // Video sync keeps a picture that is less than 1.1 frames late: 121 at 10 fps.
    {"RateChange", {"-i", "@flash-gop2.mp4", "-r", "10", "-vcodec", "mpeg4", "-an", "out"}, "out.avi", 121},
    {"StartAndLimit",
     {"-ss", "2.5", "-i", "@flash-gop2.mp4", "-ss", "1", "-t", "5", "-vcodec", "mpeg4", "-an", "out"},
     "out.avi",
     125},
    {"TwoPass",
     {"-i", "@flash-gop2.mp4", "-vcodec", "mpeg4", "-b", "200k", "-pass", "2", "-passlogfile", "p", "-an",
      "out"},
     "out.avi",
     300},
};

INSTANTIATE_TEST_SUITE_P(Engine, CodecThreads, ::testing::ValuesIn(Threaded),
                         [](const ::testing::TestParamInfo<TThreaded> &info) { return info.param.Name; });

} // namespace
