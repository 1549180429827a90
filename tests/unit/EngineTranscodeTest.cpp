// Conversions end to end: command lines of the 2010 option language run
// through vidmorph-cli, each output decoded by ffprobe (-count_frames) and
// checked for its streams, codecs, sizes, rates, frame counts and duration;
// then the run control through the engine itself (stop, pause, progress),
// failures that must end cleanly, and damaged inputs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "CliRun.h"
#include "MediaFixtures.h"
#include "MyUtils.h"

namespace {

using namespace std::chrono_literals;

// What ffprobe finds in a file: one map of fields per stream, and the
// container's duration.
struct TProbe {
    std::vector<std::map<std::string, std::string>> Streams;
    double Duration = -1;
    std::vector<std::map<std::string, std::string>> OfType(const std::string &type) const
    {
        std::vector<std::map<std::string, std::string>> out;
        for (const auto &s : Streams)
            if (s.at("codec_type") == type) out.push_back(s);
        return out;
    }
};

TProbe Probe(const std::string &file)
{
    TProbe probe;
    const std::string text = Capture(
        "ffprobe -v error -count_frames -count_packets -show_entries "
        "stream=codec_type,codec_name,width,height,r_frame_rate,sample_rate,channels,nb_read_frames,"
        "nb_read_packets,display_aspect_ratio,bit_rate,start_time,duration:format=duration -of compact " +
        Quote(file) + " 2>/dev/null");
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::map<std::string, std::string> fields;
        std::istringstream parts(line);
        std::string part, section;
        std::getline(parts, section, '|');
        while (std::getline(parts, part, '|')) {
            const size_t eq = part.find('=');
            if (eq != std::string::npos) fields[part.substr(0, eq)] = part.substr(eq + 1);
        }
        if (section == "stream") probe.Streams.push_back(fields);
        if (section == "format" && fields.count("duration") && fields["duration"] != "N/A")
            probe.Duration = std::stod(fields["duration"]);
    }
    return probe;
}

int Number(const std::map<std::string, std::string> &s, const std::string &key)
{
    auto i = s.find(key);
    return i == s.end() || i->second == "N/A" ? -1 : std::atoi(i->second.c_str());
}

double Real(const std::map<std::string, std::string> &s, const std::string &key)
{
    auto i = s.find(key);
    return i == s.end() || i->second == "N/A" ? -1 : std::atof(i->second.c_str());
}

// The first picture of a file (after an ffmpeg filter, when given) as 8-bit
// grey rows.
std::string FirstPictureGrey(const std::string &file, const std::string &filter = "")
{
    return Capture("ffmpeg -nostdin -v error -i " + Quote(file) + (filter.empty() ? "" : " -vf " + filter) +
                   " -frames:v 1 -f rawvideo -pix_fmt gray - 2>/dev/null");
}

double MeanDifference(const std::string &a, const std::string &b)
{
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i])));
    return sum / double(a.size());
}

double MeanOfRows(const std::string &grey, int width, int first, int count)
{
    double sum = 0;
    for (int r = first; r < first + count; ++r)
        for (int c = 0; c < width; ++c) sum += uint8_t(grey[size_t(r * width + c)]);
    return sum / (double(width) * count);
}

// 16-bit samples of a file, decoded and mixed to mono by ffmpeg.
std::vector<int16_t> Samples(const std::string &file)
{
    const std::string raw = Capture("ffmpeg -nostdin -v error -i " + Quote(file) +
                                    " -ac 1 -f s16le -acodec pcm_s16le - 2>/dev/null");
    std::vector<int16_t> out(raw.size() / 2);
    std::memcpy(out.data(), raw.data(), out.size() * 2);
    return out;
}

int Peak(const std::vector<int16_t> &samples, size_t from = 0, size_t to = SIZE_MAX)
{
    int peak = 0;
    for (size_t i = from; i < std::min(to, samples.size()); ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    return peak;
}

bool Contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// The two cues of subtitles.mkv, read back as SubRip.
void ExpectTheTwoCues(const std::string &file)
{
    const std::string srt =
        Capture("ffmpeg -nostdin -v error -i " + Quote(file) + " -map 0:s -f srt - 2>/dev/null");
    EXPECT_TRUE(Contains(srt, "00:00:00,200 --> 00:00:00,900\nHello")) << srt;
    EXPECT_TRUE(Contains(srt, "00:00:01,000 --> 00:00:01,800\nWorld")) << srt;
}

// The container's metadata tags of a file, as key=value lines.
std::string FormatTags(const std::string &file)
{
    return Capture("ffprobe -v error -show_entries format_tags -of default=nw=1:nk=0 " + Quote(file) +
                   " 2>/dev/null");
}

// The buffer size bounds (bytes) that the system headers of an MPEG program
// stream give for stream `id` (0xE0 the first video stream).
std::vector<int> SystemHeaderBufferBounds(const std::string &file, int id)
{
    const std::string data = ReadFile(file);
    std::vector<int> bounds;
    for (size_t p = data.find(std::string("\0\0\1\xBB", 4)); p != std::string::npos && p + 12 <= data.size();
         p = data.find(std::string("\0\0\1\xBB", 4), p + 4)) {
        const size_t length = (size_t(uint8_t(data[p + 4])) << 8) | uint8_t(data[p + 5]);
        for (size_t e = p + 12; e + 3 <= p + 6 + length && e + 3 <= data.size(); e += 3) {
            if (uint8_t(data[e]) != id) continue;
            const int scale = (uint8_t(data[e + 1]) >> 5) & 1;
            const int size = ((uint8_t(data[e + 1]) & 0x1F) << 8) | uint8_t(data[e + 2]);
            bounds.push_back(size * (scale ? 1024 : 128));
        }
    }
    return bounds;
}

// ---- The table of conversions ----------------------------------------------

struct TStreamExpect {
    std::string Type, Codec;
    int Width = -1, Height = -1; // video
    std::string Rate;            // video r_frame_rate
    int SampleRate = -1, Channels = -1;
    int FramesMin = -1, FramesMax = -1; // frames (packets for subtitles)
    double DurationMin = -1, DurationMax = -1;
};

struct TConversion {
    const char *Name;
    std::vector<std::string> Args;
    const char *Output; // made in the test's folder
    std::vector<TStreamExpect> Streams;
    // Further checks on the output (path), the folder and stderr.
    std::function<void(const std::string &, const std::string &, const TRun &)> Check = nullptr;
};

TStreamExpect Video(const char *codec, int w, int h, const char *rate, int framesMin, int framesMax = 0)
{
    TStreamExpect e;
    e.Type = "video";
    e.Codec = codec;
    e.Width = w;
    e.Height = h;
    e.Rate = rate;
    e.FramesMin = framesMin;
    e.FramesMax = framesMax ? framesMax : framesMin;
    return e;
}

TStreamExpect Audio(const char *codec, int rate, int channels, double durationMin = -1,
                    double durationMax = -1)
{
    TStreamExpect e;
    e.Type = "audio";
    e.Codec = codec;
    e.SampleRate = rate;
    e.Channels = channels;
    e.DurationMin = durationMin;
    e.DurationMax = durationMax;
    return e;
}

TStreamExpect Subtitle(const char *codec, int packets)
{
    TStreamExpect e;
    e.Type = "subtitle";
    e.Codec = codec;
    e.FramesMin = e.FramesMax = packets;
    return e;
}

// The input fixture clip.mp4: 2 s, 160x120, 25 fps (50 pictures), AAC
// stereo 44,100 Hz. Frame counts after a rate change follow video sync: at
// 10 fps 29 of the 50 pictures are dropped (21 frames), at 50 fps 48 are
// duplicated (98 frames).
const std::vector<TConversion> Conversions = {
    {"DefaultMp4",
     {"-i", "@clip.mp4", "out.mp4"},
     "out.mp4",
     {Video("h264", 160, 120, "25/1", 50), Audio("aac", 44100, 2, 1.95, 2.1)}},
    {"ExplicitCodecsAndBitRates",
     {"-i", "@clip.mp4", "-vcodec", "mpeg4", "-b", "200000", "-acodec", "libmp3lame", "-ab", "64000",
      "out.avi"},
     "out.avi",
     {Video("mpeg4", 160, 120, "25/1", 50), Audio("mp3", 44100, 2)},
     [](const std::string &out, const std::string &, const TRun &) {
         const TProbe p = Probe(out);
         EXPECT_EQ(Number(p.OfType("audio")[0], "bit_rate"), 64000);
         // 2 s at 200 kbit/s of video and 64 kbit/s of audio: about 66 kB.
         const auto size = std::filesystem::file_size(out);
         EXPECT_TRUE(size > 35000 && size < 130000) << size;
     }},
    {"ScaleAndLowerRateDropsPictures",
     {"-i", "@clip.mp4", "-s", "80x60", "-r", "10", "out.mp4"},
     "out.mp4",
     {Video("h264", 80, 60, "10/1", 21), Audio("aac", 44100, 2)}},
    {"HigherRateDuplicatesPictures",
     {"-i", "@clip.mp4", "-r", "50", "-an", "out.mp4"},
     "out.mp4",
     {Video("h264", 160, 120, "50/1", 98)}},
    {"Crop",
     {"-i", "@clip.mp4", "-croptop", "20", "-cropbottom", "20", "-cropleft", "40", "-an", "out.mp4"},
     "out.mp4",
     {Video("h264", 120, 80, "25/1", 50)},
     [](const std::string &out, const std::string &, const TRun &) {
         EXPECT_LT(MeanDifference(FirstPictureGrey(out),
                                  FirstPictureGrey(MediaFixture("clip.mp4"), "crop=120:80:40:20")),
                   6.0);
     }},
    {"ScaleWithPadsPaintsBlackBands",
     {"-i", "@clip.mp4", "-s", "160x100", "-padtop", "10", "-padbottom", "10", "-an", "out.mp4"},
     "out.mp4",
     {Video("h264", 160, 120, "25/1", 50)},
     [](const std::string &out, const std::string &, const TRun &) {
         const std::string grey = FirstPictureGrey(out);
         ASSERT_EQ(grey.size(), 160u * 120u);
         EXPECT_LT(MeanOfRows(grey, 160, 0, 8), 20.0) << "top band";
         EXPECT_LT(MeanOfRows(grey, 160, 112, 8), 20.0) << "bottom band";
         EXPECT_GT(MeanOfRows(grey, 160, 20, 80), 40.0) << "the picture";
     }},
    {"VideoFilterHflip",
     {"-i", "@clip.mp4", "-vfilters", "hflip", "-an", "out.mp4"},
     "out.mp4",
     {Video("h264", 160, 120, "25/1", 50)},
     [](const std::string &out, const std::string &, const TRun &) {
         const std::string source = MediaFixture("clip.mp4");
         EXPECT_LT(MeanDifference(FirstPictureGrey(out), FirstPictureGrey(source, "hflip")), 6.0);
         EXPECT_GT(MeanDifference(FirstPictureGrey(out), FirstPictureGrey(source)), 20.0) << "not flipped";
     }},
    {"AudioOnly", {"-i", "@clip.mp4", "-vn", "out.m4a"}, "out.m4a", {Audio("aac", 44100, 2, 1.95, 2.1)}},
    {"StreamCopyVideo",
     {"-i", "@clip.mp4", "-vcodec", "copy", "-an", "out.mkv"},
     "out.mkv",
     {Video("mpeg4", 160, 120, "25/1", 50)}},
    {"StreamCopyBoth",
     {"-i", "@clip.mp4", "-vcodec", "copy", "-acodec", "copy", "out.mkv"},
     "out.mkv",
     {Video("mpeg4", 160, 120, "25/1", 50), Audio("aac", 44100, 2)},
     [](const std::string &out, const std::string &, const TRun &) {
         EXPECT_EQ(Number(Probe(out).OfType("audio")[0], "nb_read_packets"),
                   Number(Probe(MediaFixture("clip.mp4")).OfType("audio")[0], "nb_read_packets"));
     }},
    {"StreamCopyThroughTwoBitstreamFilters",
     {"-i", "@clip.mp4", "-vcodec", "copy", "-an", "-vbsf", "dump_extra", "-vbsf", "mpeg4_unpack_bframes",
      "out.mkv"},
     "out.mkv",
     {Video("mpeg4", 160, 120, "25/1", 50)}},
    {"BitstreamFilterThatCannotTakeTheStreamIsLeftOut",
     {"-i", "@clip.mp4", "-vcodec", "copy", "-an", "-vbsf", "h264_mp4toannexb", "out.mkv"},
     "out.mkv",
     {Video("mpeg4", 160, 120, "25/1", 50)},
     [](const std::string &, const std::string &, const TRun &run) {
         EXPECT_TRUE(Contains(run.Err, "h264_mp4toannexb failed for stream 0, codec copy: ")) << run.Err;
     }},
    {"ProgramIdSelectsItsStreams",
     {"-programid", "2", "-i", "@programs.ts", "out.mp4"},
     "out.mp4",
     // Program 2 of the fixture: a 128x96 video (1 s) and a mono tone.
     {Video("h264", 128, 96, "25/1", 25), Audio("aac", 44100, 1)}},
    {"StartAndDuration",
     {"-i", "@clip.mp4", "-ss", "0.5", "-t", "1", "out.mp4"},
     "out.mp4",
     {Video("h264", 160, 120, "25/1", 25, 28), Audio("aac", 44100, 2, 0.95, 1.15)}},
    {"VideoFrameLimit",
     {"-i", "@clip.mp4", "-vframes", "10", "out.mp4"},
     "out.mp4",
     {Video("h264", 160, 120, "25/1", 10), Audio("aac", 44100, 2, 0.3, 0.5)}},
    {"AudioRateAndChannels",
     {"-i", "@clip.mp4", "-ar", "22050", "-ac", "1", "out.mp4"},
     "out.mp4",
     {Video("h264", 160, 120, "25/1", 50), Audio("aac", 22050, 1, 1.95, 2.1)}},
    {"VolumeDoublesTheLevel",
     {"-i", "@tone.wav", "-vol", "512", "out.wav"},
     "out.wav",
     {Audio("pcm_s16le", 44100, 2, 0.99, 1.01)},
     [](const std::string &out, const std::string &, const TRun &) {
         const int before = Peak(Samples(MediaFixture("tone.wav"))), after = Peak(Samples(out));
         ASSERT_GT(before, 1000);
         EXPECT_NEAR(double(after) / before, 2.0, 0.01);
     }},
    {"Aspect",
     {"-i", "@clip.mp4", "-aspect", "16:9", "-an", "out.mp4"},
     "out.mp4",
     {Video("h264", 160, 120, "25/1", 50)},
     [](const std::string &out, const std::string &, const TRun &) {
         EXPECT_EQ(Probe(out).OfType("video")[0].at("display_aspect_ratio"), "16:9");
     }},
    {"TwoInputsWithMaps",
     {"-i", "@clip.mp4", "-i", "@tone.wav", "-map", "0.0", "-map", "1.0", "out.mp4"},
     "out.mp4",
     // The audio is the 1 s tone of the second input.
     {Video("h264", 160, 120, "25/1", 50), Audio("aac", 44100, 2, 0.95, 1.1)}},
    {"FileSizeLimit",
     {"-i", "@clip.mp4", "-vcodec", "mpeg4", "-qscale", "1", "-fs", "60000", "out.avi"},
     "out.avi",
     {},
     [](const std::string &out, const std::string &, const TRun &) {
         const TProbe p = Probe(out);
         ASSERT_EQ(p.OfType("video").size(), 1u);
         const int frames = Number(p.OfType("video")[0], "nb_read_frames");
         EXPECT_TRUE(frames > 0 && frames < 50) << frames;
         EXPECT_LT(std::filesystem::file_size(out), 60000u + 40000u);
     }},
    {"AsyncFillsALateAudioStartWithSilence",
     {"-i", "@late-audio.mkv", "-async", "1", "out.mp4"},
     "out.mp4",
     {Video("h264", 160, 120, "25/1", 50), Audio("aac", 44100, 1, 1.95, 2.1)},
     [](const std::string &out, const std::string &, const TRun &) {
         const std::vector<int16_t> s = Samples(out);
         EXPECT_LT(Peak(s, 2205, 17640), 50) << "silence from 0.05 to 0.4 s";
         EXPECT_GT(Peak(s, 26460, 44100), 2000) << "the tone from 0.6 s";
     }},
    {"WithoutAsyncTheAudioStartsAtOnce",
     {"-i", "@late-audio.mkv", "out.mp4"},
     "out.mp4",
     {Video("h264", 160, 120, "25/1", 50), Audio("aac", 44100, 1, 1.45, 1.6)}},
    {"AvcIsLibx264",
     {"-i", "@clip.mp4", "-vcodec", "avc", "-an", "out.mp4"},
     "out.mp4",
     {Video("h264", 160, 120, "25/1", 50)}},
    // 3GP's own audio encoder (AMR-NB) is not in these libraries: AAC.
    {"ThreeGpWithoutAnAudioCodec",
     {"-i", "@clip.mp4", "-s", "176x144", "out.3gp"},
     "out.3gp",
     {Video("h263", 176, 144, "25/1", 50), Audio("aac", 44100, 2, 1.95, 2.1)},
     [](const std::string &, const std::string &, const TRun &run) {
         EXPECT_TRUE(Contains(run.Err, "No amr_nb audio encoder here: the audio is encoded as aac"))
             << run.Err;
     }},
    // The JPEG encoders open only full-range YUV at normal strictness.
    {"MjpegFromLimitedRangeYuv",
     {"-i", "@clip.mp4", "-vcodec", "mjpeg", "-an", "out.avi"},
     "out.avi",
     {Video("mjpeg", 160, 120, "25/1", 50)},
     [](const std::string &out, const std::string &, const TRun &) {
         EXPECT_LT(MeanDifference(FirstPictureGrey(out), FirstPictureGrey(MediaFixture("clip.mp4"))), 4.0);
     }},
    {"LosslessJpegFromLimitedRangeYuv",
     {"-i", "@clip.mp4", "-vcodec", "ljpeg", "-an", "-vframes", "5", "out.avi"},
     "out.avi",
     {Video("mjpeg", 160, 120, "25/1", 5)},
     [](const std::string &out, const std::string &, const TRun &) {
         EXPECT_LT(MeanDifference(FirstPictureGrey(out), FirstPictureGrey(MediaFixture("clip.mp4"))), 2.0);
     }},
    {"TargetPalVcd",
     {"-i", "@clip.mp4", "-target", "pal-vcd", "out.mpg"},
     "out.mpg",
     {Video("mpeg1video", 352, 288, "25/1", 50), Audio("mp2", 44100, 2)},
     [](const std::string &out, const std::string &, const TRun &) {
         // The VCD video buffer (40 KiB) and the muxer's 6 KiB, as Debian's
         // ffmpeg writes them; the muxer's own default would be 230 KiB.
         const std::vector<int> bounds = SystemHeaderBufferBounds(out, 0xE0);
         ASSERT_FALSE(bounds.empty());
         for (int b : bounds) EXPECT_EQ(b, 46 * 1024);
     }},
    {"TargetNtscDvd",
     {"-i", "@clip.mp4", "-target", "ntsc-dvd", "out.vob"},
     "out.vob",
     {Video("mpeg2video", 720, 480, "30000/1001", 59, 61), Audio("ac3", 48000, 2)}},
    {"NewAudioAddsAStream",
     {"-i", "@clip.mp4", "out.mkv", "-acodec", "libmp3lame", "-newaudio"},
     "out.mkv",
     {Video("h264", 160, 120, "25/1", 50), Audio("vorbis", 44100, 2), Audio("mp3", 44100, 2)}},
    {"SubtitleCopyInMatroska",
     {"-i", "@subtitles.mkv", "-vcodec", "copy", "-scodec", "copy", "out.mkv"},
     "out.mkv",
     {Video("mpeg4", 160, 120, "25/1", 50), Subtitle("subrip", 2)}},
    {"SubtitleTranscodingInMatroska",
     {"-i", "@subtitles.mkv", "-vcodec", "copy", "-scodec", "ass", "out.mkv"},
     "out.mkv",
     {Video("mpeg4", 160, 120, "25/1", 50), Subtitle("ass", 2)},
     [](const std::string &out, const std::string &, const TRun &) { ExpectTheTwoCues(out); }},
    // Without "-scodec" the subtitles take the container's own encoder.
    {"SubtitlesWithoutACodecInMatroska",
     {"-i", "@subtitles.mkv", "-vcodec", "copy", "out.mkv"},
     "out.mkv",
     {Video("mpeg4", 160, 120, "25/1", 50), Subtitle("ass", 2)},
     [](const std::string &out, const std::string &, const TRun &) { ExpectTheTwoCues(out); }},
    {"SubtitlesWithoutACodecInMp4",
     {"-i", "@subtitles.mkv", "-vcodec", "copy", "out.mp4"},
     "out.mp4",
     {Video("mpeg4", 160, 120, "25/1", 50), Subtitle("mov_text", -1)},
     [](const std::string &out, const std::string &, const TRun &) { ExpectTheTwoCues(out); }},
    {"AuthorAndYearAreArtistAndDate",
     {"-i", "@clip.mp4", "-metadata", "author=Zhang San", "-metadata", "year=2010", "-vcodec", "copy",
      "-acodec", "copy", "out.mp4"},
     "out.mp4",
     {Video("mpeg4", 160, 120, "25/1", 50), Audio("aac", 44100, 2)},
     [](const std::string &out, const std::string &, const TRun &) {
         const std::string tags = FormatTags(out);
         EXPECT_TRUE(Contains(tags, "TAG:artist=Zhang San")) << tags;
         EXPECT_TRUE(Contains(tags, "TAG:date=2010")) << tags;
     }},
    // The decoders report no quantiser: "sameq" encodes at the source's rate.
    {"SameqEncodesAtTheSourceBitRate",
     {"-i", "@clip.mp4", "-sameq", "-vcodec", "mpeg4", "-an", "out.avi"},
     "out.avi",
     {Video("mpeg4", 160, 120, "25/1", 50)},
     [](const std::string &out, const std::string &folder, const TRun &run) {
         const std::string source = MediaFixture("clip.mp4");
         const int rate = Number(Probe(source).OfType("video")[0], "bit_rate");
         ASSERT_GT(rate, 0);
         EXPECT_TRUE(Contains(run.Err, "sameq: encoding at the source's bit rate of " + std::to_string(rate)))
             << run.Err;
         // As big as Debian's ffmpeg makes it at that bit rate.
         const std::string reference = folder + "/reference.avi";
         Capture("ffmpeg -nostdin -v error -i " + Quote(source) + " -c:v mpeg4 -b:v " + std::to_string(rate) +
                 " -an " + Quote(reference));
         const double ratio =
             double(std::filesystem::file_size(out)) / double(std::filesystem::file_size(reference));
         EXPECT_NEAR(ratio, 1.0, 0.15);
     }},
    // One picture needs no number in its name.
    {"OnePictureWithoutANumber",
     {"-i", "@clip.mp4", "-vframes", "1", "out.jpg"},
     "out.jpg",
     {Video("mjpeg", 160, 120, "25/1", 1)}},
};

void PrintTo(const TConversion &c, std::ostream *os) { *os << c.Name; }

class Conversion : public ::testing::TestWithParam<TConversion> {};

TEST_P(Conversion, OutputDecodesAsExpected)
{
    const TConversion &c = GetParam();
    TTempFolder folder;
    const TRun run = RunCli(folder.Path(), c.Args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::string out = folder.File(c.Output);
    TProbe probe = Probe(out);
    // Data streams (the DVD muxer's navigation packets) are the muxer's own.
    std::erase_if(probe.Streams, [](const auto &s) { return s.at("codec_type") == "data"; });
    if (!c.Streams.empty()) {
        ASSERT_EQ(probe.Streams.size(), c.Streams.size()) << run.Err;
        for (size_t i = 0; i < c.Streams.size(); ++i) {
            const TStreamExpect &e = c.Streams[i];
            const auto &s = probe.Streams[i];
            SCOPED_TRACE("stream " + std::to_string(i));
            EXPECT_EQ(s.at("codec_type"), e.Type);
            EXPECT_EQ(s.at("codec_name"), e.Codec);
            if (e.Width >= 0) {
                EXPECT_EQ(Number(s, "width"), e.Width);
            }
            if (e.Height >= 0) {
                EXPECT_EQ(Number(s, "height"), e.Height);
            }
            if (!e.Rate.empty()) {
                EXPECT_EQ(s.at("r_frame_rate"), e.Rate);
            }
            if (e.SampleRate >= 0) {
                EXPECT_EQ(Number(s, "sample_rate"), e.SampleRate);
            }
            if (e.Channels >= 0) {
                EXPECT_EQ(Number(s, "channels"), e.Channels);
            }
            if (e.FramesMin >= 0) {
                const int frames = Number(s, e.Type == "subtitle" ? "nb_read_packets" : "nb_read_frames");
                EXPECT_GE(frames, e.FramesMin);
                EXPECT_LE(frames, e.FramesMax);
            }
            if (e.DurationMin >= 0) {
                // Matroska keeps no stream durations: the file's stands in.
                double d = Real(s, "duration");
                if (d < 0) d = probe.Duration;
                EXPECT_GE(d, e.DurationMin);
                EXPECT_LE(d, e.DurationMax);
            }
        }
    }
    if (c.Check) c.Check(out, folder.Path(), run);
}

INSTANTIATE_TEST_SUITE_P(Engine, Conversion, ::testing::ValuesIn(Conversions),
                         [](const ::testing::TestParamInfo<TConversion> &info) { return info.param.Name; });

// ---- Failures that end a job cleanly ----------------------------------------

struct TRefusal {
    const char *Name;
    std::vector<std::string> Args;
    const char *Message;
    const char *Output = "out.mp4";
};

std::vector<std::string> WithNewAudioStreams(std::vector<std::string> args, int count)
{
    for (int i = 0; i < count; ++i) args.push_back("-newaudio");
    return args;
}

void PrintTo(const TRefusal &r, std::ostream *os) { *os << r.Name; }

const std::vector<TRefusal> Refusals = {
    {"MapOfTheWrongType",
     {"-i", "@clip.mp4", "-map", "0.1", "-map", "0.1", "out.mp4"},
     "Codec type mismatch for mapping #0.1 -> #0.0"},
    {"MapCountDiffers",
     {"-i", "@clip.mp4", "-map", "0.0", "out.mp4"},
     "Number of stream maps must match number of output streams"},
    {"MapOfAMissingStream",
     {"-i", "@clip.mp4", "-map", "0.0", "-map", "0.7", "out.mp4"},
     "Could not find input stream #0.7"},
    {"CopiedAudioWithVolume",
     {"-i", "@clip.mp4", "-acodec", "copy", "-vol", "512", "out.mp4"},
     "-acodec copy and -vol are incompatible (frames are not decoded)"},
    {"MetadataMapOfAMissingOutput",
     {"-i", "@clip.mp4", "-map_meta_data", "3:0", "out.mp4"},
     "Invalid output file index 3 map_meta_data(3,0)"},
    {"MetadataMapOfAMissingInput",
     {"-i", "@clip.mp4", "-map_meta_data", "0:5", "out.mp4"},
     "Invalid input file index 5 map_meta_data(0,5)"},
    {"UnknownFilter", {"-i", "@clip.mp4", "-vfilters", "nosuchfilter", "out.mp4"}, "Error opening filters!"},
    // A video and an audio stream and 18 more make 20; the 21st is refused.
    {"TwentyFirstStreamOfAnOutput", WithNewAudioStreams({"-i", "@clip.mp4", "out.mp4"}, 19),
     "Too many streams in one output file (at most 20)"},
    {"ImageSequenceWithoutANumber",
     {"-i", "@clip.mp4", "out.jpg"},
     "out.jpg: Incorrect image filename syntax.",
     "out.jpg"},
};

class Refusal : public ::testing::TestWithParam<TRefusal> {};

TEST_P(Refusal, EndsWithItsMessageAndLeavesNoEmptyOutput)
{
    TTempFolder folder;
    const TRun run = RunCli(folder.Path(), GetParam().Args);
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(Contains(run.Err, std::string("Error: ") + GetParam().Message)) << run.Err;
    EXPECT_FALSE(std::filesystem::exists(folder.File(GetParam().Output))) << "the 0-byte output is deleted";
}

INSTANTIATE_TEST_SUITE_P(Engine, Refusal, ::testing::ValuesIn(Refusals),
                         [](const ::testing::TestParamInfo<TRefusal> &info) { return info.param.Name; });

// The names of the files in a folder, sorted.
std::vector<std::string> FolderEntries(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename() != "stderr.txt") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Transcode, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten)
{
    TTempFolder folder;
    const std::string source = ReadFile(MediaFixture("clip.mp4"));
    WriteFile(folder.File("same.mp4"), source);
    std::filesystem::create_hard_link(folder.File("same.mp4"), folder.File("link.mp4"));
    std::filesystem::create_symlink("same.mp4", folder.File("sym.mp4"));
    std::filesystem::create_directory(folder.File("sub"));
    const std::vector<std::string> before = FolderEntries(folder.Path());
    const struct {
        std::vector<std::string> Args;
        const char *Message;
    } cases[] = {
        {{"-i", "same.mp4", "-t", "1", "same.mp4"}, "Output file 'same.mp4' is the input file 'same.mp4'"},
        {{"-i", "same.mp4", "./same.mp4"}, "Output file './same.mp4' is the input file 'same.mp4'"},
        {{"-i", "same.mp4", "sub/../same.mp4"}, "Output file 'sub/../same.mp4' is the input file 'same.mp4'"},
        {{"-i", "same.mp4", "link.mp4"}, "Output file 'link.mp4' is the input file 'same.mp4'"},
        {{"-i", "sym.mp4", "same.mp4"}, "Output file 'same.mp4' is the input file 'sym.mp4'"},
        {{"-i", "same.mp4", "-y", "file:" + folder.File("same.mp4")}, "is the input file 'same.mp4'"},
        // Neither an earlier output nor an output named before its input is written.
        {{"-i", "same.mp4", "other.mp4", "same.mp4"}, "Output file 'same.mp4' is the input file 'same.mp4'"},
        {{"same.mp4", "-i", "same.mp4"}, "Output file 'same.mp4' is the input file 'same.mp4'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Args.back());
        const TRun run = RunCli(folder.Path(), c.Args);
        EXPECT_EQ(run.Status, 1);
        EXPECT_TRUE(Contains(run.Err, "Error: ") && Contains(run.Err, c.Message)) << run.Err;
        EXPECT_TRUE(ReadFile(folder.File("same.mp4")) == source) << "the input is untouched";
        EXPECT_EQ(FolderEntries(folder.Path()), before) << "no file is left behind";
    }
}

TEST(Transcode, AnInputNoDemuxerRecognisesIsAnUnknownFormat)
{
    TTempFolder folder;
    std::string text;
    for (int i = 0; i < 200; ++i) text += "These are notes, not a video.\n";
    WriteFile(folder.File("notes.avi"), text);
    const TRun run = RunCli(folder.Path(), {"-i", "notes.avi", "out.mp4"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(Contains(run.Err, "Error: notes.avi: Unknown format")) << run.Err;
    EXPECT_FALSE(std::filesystem::exists(folder.File("out.mp4")));
}

TEST(Transcode, DashIsStandardInputAndOutput)
{
    TTempFolder folder;
    const std::string status =
        Capture("cd " + Quote(folder.Path()) + " && " + VIDMORPH_CLI +
                " -i - -vcodec copy -scodec copy -f matroska - <" + Quote(MediaFixture("subtitles.mkv")) +
                " >piped.mkv 2>stderr.txt; echo $?");
    EXPECT_EQ(status, "0\n") << ReadFile(folder.File("stderr.txt"));
    const TProbe probe = Probe(folder.File("piped.mkv"));
    ASSERT_EQ(probe.OfType("video").size(), 1u);
    EXPECT_EQ(Number(probe.OfType("video")[0], "nb_read_frames"), 50);
    EXPECT_EQ(probe.OfType("subtitle").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(folder.File("-")));
}

// File names are UTF-8 whatever the locale: the same results under the C
// locale, with no environment at all, and under C.UTF-8.
TEST(Transcode, FileNamesDoNotDependOnTheLocale)
{
    const std::vector<std::vector<std::string>> environments = {{"LC_ALL=C"}, {}, {"LC_ALL=C.UTF-8"}};
    for (const auto &environment : environments) {
        SCOPED_TRACE(environment.empty() ? "no environment" : environment[0]);
        TTempFolder folder;
        WriteFile(folder.File("视频 一.mp4"), ReadFile(MediaFixture("clip.mp4")));
        // Two names of the same length stay two files.
        for (const char *output : {"输出一.mkv", "输出二.mkv"}) {
            const TRun run =
                RunCli(folder.Path(), {"-i", "视频 一.mp4", "-t", "0.5", "-vcodec", "copy", "-an", output},
                       &environment);
            EXPECT_EQ(run.Status, 0) << run.Err;
            EXPECT_EQ(Probe(folder.File(output)).OfType("video").size(), 1u) << output;
        }
        // The pictures of an image sequence too.
        TRun run = RunCli(folder.Path(), {"-i", "视频 一.mp4", "-vframes", "3", "图%d.png"}, &environment);
        EXPECT_EQ(run.Status, 0) << run.Err;
        EXPECT_EQ(FolderEntries(folder.Path()),
                  (std::vector<std::string>{"图1.png", "图2.png", "图3.png", "视频 一.mp4", "输出一.mkv",
                                            "输出二.mkv"}));
        // And read back as a sequence.
        run = RunCli(folder.Path(), {"-i", "图%d.png", "-vcodec", "mpeg4", "序列.avi"}, &environment);
        EXPECT_EQ(run.Status, 0) << run.Err;
        const auto pictures = Probe(folder.File("序列.avi")).OfType("video");
        ASSERT_EQ(pictures.size(), 1u);
        EXPECT_EQ(Number(pictures[0], "nb_read_frames"), 3);
        std::filesystem::remove(folder.File("序列.avi"));
        // An argument that is no UTF-8 is no file name.
        run = RunCli(folder.Path(), {"-i", "视频 一.mp4", "bad\xFF\xFE.mkv"}, &environment);
        EXPECT_EQ(run.Status, 1);
        EXPECT_TRUE(Contains(run.Err, "Error: The file name 'bad\\xFF\\xFE.mkv' is not valid UTF-8"))
            << run.Err;
        EXPECT_EQ(FolderEntries(folder.Path()).size(), 6u);
    }
}

TEST(Transcode, AllRtpOutputsLogTheirSdp)
{
    TTempFolder folder;
    // One stream to a port of this machine; nothing needs to listen.
    const TRun run = RunCli(
        folder.Path(), {"-i", "@clip.mp4", "-an", "-vcodec", "mpeg4", "-f", "rtp", "rtp://127.0.0.1:23456"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "SDP: v=0\n") || Contains(run.Err, "SDP: v=0\r\n")) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "m=video 23456 RTP/AVP 96")) << run.Err;
}

TEST(Transcode, WritingToAFullDeviceEndsWithTheWriteMessage)
{
    TTempFolder folder;
    const TRun run = RunCli(folder.Path(), {"-i", "@clip.mp4", "-f", "avi", "/dev/full"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(Contains(run.Err, "Error: av_write_trailer(): ") ||
                Contains(run.Err, "Error: av_interleaved_write_frame(): "))
        << run.Err;
    struct stat st {};
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device is not deleted";
}

TEST(Transcode, TwoPassEncoding)
{
    TTempFolder folder;
    const std::string log = folder.File("stats");
    const TRun first = RunCli(folder.Path(), {"-i", "@clip.mp4", "-vcodec", "mpeg4", "-b", "150000", "-pass",
                                              "1", "-passlogfile", log, "-an", "pass1.avi"});
    ASSERT_EQ(first.Status, 0) << first.Err;
    ASSERT_TRUE(std::filesystem::exists(log + "-0.log"));
    EXPECT_GT(std::filesystem::file_size(log + "-0.log"), 1000u);

    const TRun second = RunCli(folder.Path(), {"-i", "@clip.mp4", "-vcodec", "mpeg4", "-b", "150000", "-pass",
                                               "2", "-passlogfile", log, "-an", "pass2.avi"});
    ASSERT_EQ(second.Status, 0) << second.Err;
    const TProbe p = Probe(folder.File("pass2.avi"));
    ASSERT_EQ(p.Streams.size(), 1u);
    EXPECT_EQ(Number(p.Streams[0], "nb_read_frames"), 50);
    // 2 s at 150 kbit/s: about 37 kB.
    const auto size = std::filesystem::file_size(folder.File("pass2.avi"));
    EXPECT_TRUE(size > 19000 && size < 75000) << size;

    const TRun missing = RunCli(folder.Path(), {"-i", "@clip.mp4", "-vcodec", "mpeg4", "-pass", "2",
                                                "-passlogfile", folder.File("none"), "-an", "pass2b.avi"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_TRUE(
        Contains(missing.Err, "Cannot read log file " + folder.File("none") + "-0.log for pass-2 encoding"))
        << missing.Err;
}

TEST(Transcode, DamagedInputsEndWithoutCrashOrHangAndStayUnchanged)
{
    TTempFolder folder;
    const std::string original = ReadFile(MediaFixture("late-audio.mkv"));
    // Truncated in the middle, and with a run of garbage over the middle.
    WriteFile(folder.File("truncated.mkv"), original.substr(0, original.size() / 2));
    std::string garbage = original;
    for (size_t i = garbage.size() / 3; i < garbage.size() / 3 + 20000; ++i) garbage[i] = char(i * 7919 >> 3);
    WriteFile(folder.File("garbage.mkv"), garbage);
    WriteFile(folder.File("text.avi"), "this is not a video file at all\n");
    for (const char *name : {"truncated.mkv", "garbage.mkv", "text.avi"}) {
        SCOPED_TRACE(name);
        const std::string before = ReadFile(folder.File(name));
        const TRun run = RunCli(folder.Path(), {"-i", folder.File(name), "out.mp4"});
        EXPECT_TRUE(run.Status == 0 || run.Status == 1) << run.Status << run.Err;
        if (run.Status == 1) {
            EXPECT_TRUE(Contains(run.Err, "Error: ")) << run.Err;
        }
        if (run.Status == 0) {
            const TProbe p = Probe(folder.File("out.mp4"));
            EXPECT_FALSE(p.Streams.empty());
        }
        EXPECT_EQ(ReadFile(folder.File(name)), before) << "the input is never written";
        std::filesystem::remove(folder.File("out.mp4"));
    }
}

// ---- Run control through the engine ------------------------------------------

class TranscodeRun : public EngineTest {
protected:
    // Opens clip.mp4 and an MP4 output in the folder; "re" paces the run at
    // the input's own rate (2 s) so that it can be stopped or paused.
    void Prepare(const std::string &output, bool paced, const std::string &videoCodec = "")
    {
        if (paced) Engine.SetOption("re", "1");
        ASSERT_TRUE(Engine.OpenInput(MyUtils::Utf8ToUtf16(MediaFixture("clip.mp4")))) << Engine.LastError;
        if (!videoCodec.empty()) Engine.SetOption("vcodec", videoCodec);
        ASSERT_GE(Engine.OpenOutput(MyUtils::Utf8ToUtf16(output)), 1) << Engine.LastError;
        Engine.ProgressInterval = 0;
        Engine.ProgressHandler = [this](TCustomFFmpeg &, int32_t frame, int32_t, int32_t ms, float, float,
                                        int64_t size, int32_t total) {
            std::lock_guard<std::mutex> lock(Lock);
            Reports.push_back({frame, ms, size, total});
        };
    }
    struct TReport {
        int32_t Frame, Ms;
        int64_t Size;
        int32_t Total;
    };
    std::vector<TReport> ReportsSoFar()
    {
        std::lock_guard<std::mutex> lock(Lock);
        return Reports;
    }
    bool WaitFor(const std::function<bool()> &condition)
    {
        for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(10ms);
        return condition();
    }
    std::vector<TReport> Reports;
};

TEST_F(TranscodeRun, ProgressRisesAndTheSummaryArrives)
{
    TTempFolder folder;
    Prepare(folder.File("out.mp4"), false);
    Engine.Start(false);
    ASSERT_TRUE(Engine.Finished) << Engine.TerminateMessage;
    EXPECT_FALSE(Engine.HasError);
    const std::vector<TReport> r = ReportsSoFar();
    ASSERT_GE(r.size(), 3u);
    for (size_t i = 1; i < r.size(); ++i) {
        EXPECT_GE(r[i].Frame, r[i - 1].Frame);
        EXPECT_GE(r[i].Ms, r[i - 1].Ms);
        EXPECT_GE(r[i].Size, r[i - 1].Size);
    }
    EXPECT_EQ(r.back().Frame, 50);
    EXPECT_GT(r.back().Ms, 1800);
    EXPECT_EQ(r.back().Size, int64_t(std::filesystem::file_size(folder.File("out.mp4"))));
    EXPECT_TRUE(r.back().Total >= 1990 && r.back().Total <= 2100) << r.back().Total;
    bool summary = false, mapping = false;
    for (const std::string &line : LogsAt(1)) {
        summary |=
            line.rfind("video:", 0) == 0 && Contains(line, " audio:") && Contains(line, "muxing overhead");
        mapping |= line == "Stream mapping:";
    }
    EXPECT_TRUE(summary);
    EXPECT_TRUE(mapping);
}

TEST_F(TranscodeRun, WithoutAHandlerTheStatusLineGoesToTheLog)
{
    TTempFolder folder;
    Prepare(folder.File("out.mp4"), false);
    Engine.ProgressHandler = nullptr;
    Engine.SetVerbose(2);
    Engine.Start(false);
    ASSERT_TRUE(Engine.Finished) << Engine.TerminateMessage;
    bool status = false;
    for (const std::string &line : LogsAt(1))
        status |= line.rfind("frame=   50 fps=", 0) == 0 && Contains(line, "Lsize=") &&
                  Contains(line, " dup=0 drop=0");
    EXPECT_TRUE(status);
}

TEST_F(TranscodeRun, EncodedPicturesReachThePreview)
{
    TTempFolder folder;
    Prepare(folder.File("out.mp4"), false, "mpeg4");
    Engine.SetPreviewFlags(PreviewToBitmap);
    Engine.PreviewInterval = 0;
    std::vector<std::pair<int, int>> sizes;
    std::vector<int64_t> times;
    Engine.PreviewBitmapHandler = [&](TCustomFFmpeg &, TBitmap &bitmap, int64_t pts, int32_t) {
        sizes.emplace_back(bitmap.Width(), bitmap.Height());
        times.push_back(pts);
    };
    Engine.Start(false);
    ASSERT_TRUE(Engine.Finished) << Engine.TerminateMessage;
    // Every picture, as this encoder gives each its packet at once.
    EXPECT_EQ(sizes.size(), 50u);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.front(), std::make_pair(160, 120));
    for (int64_t t : times) EXPECT_TRUE(t >= 0 && t < 2100000) << t;
}

TEST_F(TranscodeRun, StopMidRunWritesTheTrailer)
{
    TTempFolder folder;
    const std::string out = folder.File("out.mp4");
    Prepare(out, true);
    TFFmpegThread *thread = Engine.Start(true);
    ASSERT_NE(thread, nullptr);
    thread->Start();
    ASSERT_TRUE(WaitFor([&] { return !ReportsSoFar().empty() && ReportsSoFar().back().Frame >= 10; }));
    Engine.Stop();
    ASSERT_TRUE(WaitFor([&] { return TerminateCount() == 1; }));
    EXPECT_FALSE(Engine.Finished);
    EXPECT_FALSE(Engine.HasError) << Engine.TerminateMessage;
    const TProbe p = Probe(out);
    ASSERT_EQ(p.OfType("video").size(), 1u) << "the file has its trailer and decodes";
    const int frames = Number(p.OfType("video")[0], "nb_read_frames");
    EXPECT_TRUE(frames >= 10 && frames < 50) << frames;
}

TEST_F(TranscodeRun, NothingIsProcessedWhilePaused)
{
    TTempFolder folder;
    const std::string out = folder.File("out.mp4");
    Prepare(out, true);
    TFFmpegThread *thread = Engine.Start(true);
    ASSERT_NE(thread, nullptr);
    thread->Start();
    ASSERT_TRUE(WaitFor([&] { return !ReportsSoFar().empty() && ReportsSoFar().back().Frame >= 5; }));
    Engine.Pause();
    std::this_thread::sleep_for(100ms); // the packet in hand is finished
    const size_t reports = ReportsSoFar().size();
    const int32_t frame = ReportsSoFar().back().Frame;
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(ReportsSoFar().size(), reports);
    EXPECT_EQ(ReportsSoFar().back().Frame, frame);
    EXPECT_EQ(TerminateCount(), 0u);
    Engine.Resume();
    ASSERT_TRUE(WaitFor([&] { return TerminateCount() == 1; }));
    EXPECT_TRUE(Engine.Finished) << Engine.TerminateMessage;
    EXPECT_EQ(Number(Probe(out).OfType("video").at(0), "nb_read_frames"), 50);
}

} // namespace
