// vidmorph-cli's preset mode: its arguments, and conversions on the sample
// and custom tabs, with a clip, several files and failures, each output
// checked with ffprobe.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "MediaFixtures.h"
#include "PresetMode.h"
#include "TestSupport.h"

TEST(PresetOptions, ArgumentsAreReadOrRefused)
{
    struct {
        std::vector<std::string> Args;
        const char *Error; // null: accepted
    } cases[] = {
        {{"--list-profiles"}, nullptr},
        {{"--profile", "videoconvert/MP4/x", "a.avi", "b.avi"}, nullptr},
        {{"--profile=devices/苹果/x", "--output-folder", "/o", "--clip", "100,2000", "a.avi"}, nullptr},
        {{"--custom", "MKV,320,240,500000,25", "--", "-odd.avi"}, nullptr},
        {{"--sample", "s.mp4", "a.avi", "--verbose"}, nullptr},
        {{"--profile", "x/y/z", "-vcodec", "mpeg4", "a.avi"}, "cannot be mixed"},
        {{"--profile", "x/y/z", "--jobz", "2", "a.avi"}, "Unknown option --jobz"},
        {{"--profile"}, "--profile needs a value"},
        {{"--profile", "x/y/z"}, "No files to convert"},
        {{"a.avi"}, "exactly one of"},
        {{"--profile", "x/y/z", "--sample", "s.mp4", "a.avi"}, "exactly one of"},
        {{"--profile", "x/y/z", "--clip", "2000,1000", "a.avi"}, "--clip takes"},
        {{"--profile", "x/y/z", "--clip", "abc", "a.avi"}, "--clip takes"},
        {{"--verbose=1", "--profile", "x/y/z", "a.avi"}, "takes no value"},
        {{"--profile", "x/y/z", "--jobs", "2", "a.avi"}, nullptr},
        {{"--profile", "x/y/z", "--jobs", "0", "a.avi"}, "--jobs takes"},
        {{"--profile", "x/y/z", "--jobs=two", "a.avi"}, "--jobs takes"},
    };
    for (const auto &c : cases) {
        TPresetOptions options;
        std::string error;
        bool ok = ReadPresetOptions(c.Args, options, error);
        if (!c.Error) {
            EXPECT_TRUE(ok) << c.Args[0] << ": " << error;
        } else {
            EXPECT_FALSE(ok) << c.Args[0];
            EXPECT_NE(error.find(c.Error), std::string::npos) << error;
        }
    }
    TPresetOptions o;
    std::string error;
    ASSERT_TRUE(ReadPresetOptions(
        {"--custom", "MKV,320,240,500000,25", "--clip=100,2000", "--", "-odd.avi", "--x"}, o, error));
    EXPECT_EQ(o.Custom, "MKV,320,240,500000,25");
    EXPECT_TRUE(o.ClipSet);
    EXPECT_EQ(o.ClipStartMs, 100);
    EXPECT_EQ(o.ClipEndMs, 2000);
    EXPECT_EQ(o.Files, (std::vector<std::string>{"-odd.avi", "--x"}));
    EXPECT_EQ(o.Jobs, 1);
    ASSERT_TRUE(ReadPresetOptions({"--profile", "x/y/z", "--jobs", "3", "a.avi"}, o, error));
    EXPECT_EQ(o.Jobs, 3);

    std::vector<const char *> argv{"vidmorph-cli", "-i", "a.avi", "out.mp4"};
    EXPECT_FALSE(IsPresetMode(int(argv.size()), const_cast<char **>(argv.data())));
    argv = {"vidmorph-cli", "a.avi", "--profile=x"};
    EXPECT_TRUE(IsPresetMode(int(argv.size()), const_cast<char **>(argv.data())));
    argv = {"vidmorph-cli", "--", "--profile"};
    EXPECT_FALSE(IsPresetMode(int(argv.size()), const_cast<char **>(argv.data())));
}

namespace {

std::string Quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a command; its exit status, with stdout and stderr in `output`.
int RunCommand(const std::string &command, std::string &output)
{
    output.clear();
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Cli() { return Quote(VIDMORPH_CLI); }

// ffprobe's view of a file after decoding it: "codec_type,codec_name,width,
// height,r_frame_rate,nb_read_frames" per stream, then the duration; empty
// when ffprobe reports any error.
std::string Probe(const std::string &file)
{
    std::string out;
    int status =
        RunCommand("ffprobe -v error -count_frames -show_entries "
                   "stream=codec_type,codec_name,width,height,r_frame_rate,nb_read_frames:format=duration "
                   "-of csv=p=0 " +
                       Quote(file),
                   out);
    return status == 0 && out.find("rror") == std::string::npos ? out : "";
}

bool Exists(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

TEST(PresetModeRun, CustomValuesWithAClip)
{
    TTempFolder out;
    std::string log;
    ASSERT_EQ(RunCommand(Cli() + " --custom mkv,320,240,400000,25 --clip 200,700 --output-folder " +
                             Quote(out.Path()) + " " + Quote(MediaFixture("preset-source.avi")),
                         log),
              0)
        << log;
    std::string file = out.File("PRESET-SOURCE_(new).mkv");
    EXPECT_NE(log.find("Output: " + file), std::string::npos) << log;
    std::string probe = Probe(file);
    // libx264 for MKV, the MP3 fallback, 0.5 s of pictures at 25 fps.
    size_t video = probe.find("h264,video,320,240,25/1,");
    ASSERT_NE(video, std::string::npos) << probe;
    int frames = std::atoi(probe.c_str() + video + std::strlen("h264,video,320,240,25/1,"));
    EXPECT_GE(frames, 12) << probe;
    EXPECT_LE(frames, 13) << probe;
    EXPECT_NE(probe.find("mp3,audio"), std::string::npos) << probe;
}

TEST(PresetModeRun, SampleVideoGivesItsSizeRateAndAudio)
{
    TTempFolder out;
    std::string log;
    ASSERT_EQ(RunCommand(Cli() + " --sample " + Quote(MediaFixture("sample-640x480.mp4")) +
                             " --output-folder " + Quote(out.Path()) + " " +
                             Quote(MediaFixture("preset-source.avi")),
                         log),
              0)
        << log;
    EXPECT_NE(log.find("您选择的视频格式为 .mp4"), std::string::npos) << log;
    std::string probe = Probe(out.File("PRESET-SOURCE_(new).mp4"));
    EXPECT_NE(probe.find("mpeg4,video,640,480,25/1,"), std::string::npos) << probe;
    EXPECT_NE(probe.find("aac,audio"), std::string::npos) << probe;
}

TEST(PresetModeRun, EveryFileReportedAndFailuresGiveANonZeroStatus)
{
    TTempFolder t;
    ::mkdir(t.File("a").c_str(), 0755);
    ::mkdir(t.File("b").c_str(), 0755);
    ::mkdir(t.File("out").c_str(), 0755);
    std::string log;
    ASSERT_EQ(RunCommand("cp " + Quote(MediaFixture("preset-source.avi")) + " " +
                             Quote(t.File("a/clip.avi")) + " && cp " +
                             Quote(MediaFixture("preset-source.avi")) + " " + Quote(t.File("b/CLIP.AVI")),
                         log),
              0);
    // The same base name twice: the second output is numbered; a missing
    // file fails alone.
    int status =
        RunCommand(Cli() + " --profile 'devices/爱国者/MP4播放器 480x272 512K AVI' --output-folder " +
                       Quote(t.File("out")) + " " + Quote(t.File("a/clip.avi")) + " " +
                       Quote(t.File("missing.avi")) + " " + Quote(t.File("b/CLIP.AVI")),
                   log);
    EXPECT_EQ(status, 1) << log;
    EXPECT_NE(log.find("2 of 3 files converted"), std::string::npos) << log;
    EXPECT_NE(log.find("missing.avi: failed:"), std::string::npos) << log;
    for (const char *name : {"out/CLIP_(new).avi", "out/CLIP_(new_1).avi"}) {
        std::string probe = Probe(t.File(name));
        EXPECT_NE(probe.find("mpeg4,video,480,272,"), std::string::npos) << name << ": " << probe;
    }
    EXPECT_FALSE(Exists(t.File("out/CLIP_(new_2).avi")));

    struct {
        std::string Args;
        const char *Message;
    } refusals[] = {
        {"--profile 'videoconvert/MP4/no such preset' x.avi", "No profile"},
        {"--profile 'videoconvert/MP4/MP4 320x240 流畅' -vcodec mpeg4 x.avi", "cannot be mixed"},
        {"--custom MKV,320,240,abc,25 " + Quote(MediaFixture("preset-source.avi")),
         "视频比特率必须是大于 0 的整数！"},
        {"--custom MP5,320,240,1,25 x.avi", "Unknown custom type"},
        {"--profile 'videoconvert/MP4/MP4 320x240 流畅' --output-folder " + Quote(t.File("no/such/folder")) +
             " x.avi",
         "未能创建"},
    };
    for (const auto &r : refusals) {
        EXPECT_EQ(RunCommand(Cli() + " --output-folder " + Quote(t.File("out")) + " " + r.Args, log), 1)
            << r.Args;
        EXPECT_NE(log.find(r.Message), std::string::npos) << r.Args << ": " << log;
    }
}

TEST(PresetModeRun, JobsConvertSeveralFilesAtOnce)
{
    TTempFolder t;
    ::mkdir(t.File("out").c_str(), 0755);
    std::string log, files;
    for (const char *name : {"one.avi", "two.avi", "three.avi"}) {
        ASSERT_EQ(
            RunCommand("cp " + Quote(MediaFixture("preset-source.avi")) + " " + Quote(t.File(name)), log), 0);
        files += " " + Quote(t.File(name));
    }
    ASSERT_EQ(RunCommand(Cli() + " --custom AVI,320,240,400000,25 --jobs 2 --output-folder " +
                             Quote(t.File("out")) + files,
                         log),
              0)
        << log;
    EXPECT_NE(log.find("3 of 3 files converted"), std::string::npos) << log;
    for (const char *name : {"out/ONE_(new).avi", "out/TWO_(new).avi", "out/THREE_(new).avi"}) {
        std::string probe = Probe(t.File(name));
        EXPECT_NE(probe.find("mpeg4,video,320,240,25/1,25"), std::string::npos) << name << ": " << probe;
    }
}
