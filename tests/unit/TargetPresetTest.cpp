// Target presets and the television norm they resolve.
#include "EngineTestSupport.h"

namespace {

int64_t OptionInt(void *context, const char *name)
{
    int64_t v = -1;
    EXPECT_GE(lav::av_opt_get_int(context, name, 0, &v), 0) << name;
    return v;
}

std::string Pending(TCustomFFmpeg &e, const std::string &name)
{
    for (const auto &o : e.PendingPrivateOptions)
        if (o.first == name) return o.second;
    return "";
}

class TargetTest : public EngineTest {
protected:
    std::string TargetError(const std::string &value)
    {
        return OptionError<FFmpegException>("target", value);
    }
    AVCodecContext *Video() { return Engine.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO]; }
    AVCodecContext *Audio() { return Engine.OptionContexts.Codec[AVMEDIA_TYPE_AUDIO]; }
    void ExpectRate(int num, int den)
    {
        EXPECT_EQ(Engine.FrameRate.num, num);
        EXPECT_EQ(Engine.FrameRate.den, den);
    }
};

TEST_F(TargetTest, EveryColumnOfTheTable)
{
    struct TColumn {
        const char *target;
        const char *video, *audio, *format;
        int width, height, pixFmt, gop;
        int64_t bitRate, maxRate, minRate, bufSize, audioBitRate;
        int sampleRate, channels;
        int64_t packetSize;
        const char *muxRate;
        float preload, aspect;
        const char *scanOffset;
    };
    const TColumn table[] = {
        {"pal-vcd", "mpeg1video", "mp2",  "vcd", 352, 288,  -1,        15,    1150000,  1150000,
         1150000,   327680,       224000, 44100, 2,   2324, "1411200", 0.44f, 4.0f / 3, ""},
        {"ntsc-vcd", "mpeg1video", "mp2",  "vcd", 352, 240,  -1,        18,    1150000,  1150000,
         1150000,    327680,       224000, 44100, 2,   2324, "1411200", 0.44f, 4.0f / 3, ""},
        {"pal-svcd", "mpeg2video", "mp2",  "svcd", 480, 576,  -1, 15,   2040000,  2516000,
         0,          1835008,      224000, 44100,  2,   2324, "", 0.5f, 4.0f / 3, "1"},
        {"ntsc-dvd", "mpeg2video", "ac3",  "dvd", 720, 480,  -1,         18,   6000000,   9000000,
         0,          1835008,      448000, 48000, 2,   2048, "10080000", 0.5f, 16.0f / 9, ""},
        {"pal-dv", "", "", "dv", 720, 576, AV_PIX_FMT_YUV420P, -1, -1, -1, -1, -1, -1, 48000,
         2,        -1, "", 0.5f, 0,   ""},
        {"ntsc-dv", "", "", "dv", 720, 480, AV_PIX_FMT_YUV411P, -1, -1, -1, -1, -1, -1, 48000,
         2,         -1, "", 0.5f, 0,   ""},
        {"film-dv50", "", "", "dv", 720, 480, AV_PIX_FMT_YUV422P, -1, -1, -1, -1, -1, -1, 48000,
         2,           -1, "", 0.5f, 0,   ""},
        {"pal-dv50", "", "", "dv", 720, 576, AV_PIX_FMT_YUV422P, -1, -1, -1, -1, -1, -1, 48000,
         2,          -1, "", 0.5f, 0,   ""},
    };
    for (const TColumn &c : table) {
        SCOPED_TRACE(c.target);
        TCustomFFmpeg e;
        e.Reset();
        const int64_t defaultBitRate = OptionInt(e.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO], "b");
        e.SetOption("ac", "1");
        e.SetOption("target", c.target);
        AVCodecContext *video = e.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO];
        AVCodecContext *audio = e.OptionContexts.Codec[AVMEDIA_TYPE_AUDIO];
        EXPECT_EQ(e.VideoCodecName, c.video);
        EXPECT_EQ(e.AudioCodecName, c.audio);
        ASSERT_NE(e.OutputFormat, nullptr);
        EXPECT_STREQ(e.OutputFormat->name, c.format);
        EXPECT_EQ(e.FrameWidth, c.width);
        EXPECT_EQ(e.FrameHeight, c.height);
        EXPECT_EQ(e.FramePixFmt, c.pixFmt);
        EXPECT_EQ(e.AudioSampleRate, c.sampleRate);
        EXPECT_EQ(e.AudioChannels, c.channels);
        EXPECT_FLOAT_EQ(e.MuxPreload, c.preload);
        EXPECT_FLOAT_EQ(e.FrameAspectRatio, c.aspect);
        EXPECT_EQ(Pending(e, "muxrate"), c.muxRate);
        EXPECT_EQ(Pending(e, "scan_offset"), c.scanOffset);
        if (c.gop < 0) {
            EXPECT_EQ(OptionInt(video, "b"), defaultBitRate) << "dv sets no codec options";
            EXPECT_EQ(e.OptionContexts.Count(), 0u);
            continue;
        }
        EXPECT_EQ(OptionInt(video, "g"), c.gop);
        EXPECT_EQ(OptionInt(video, "b"), c.bitRate);
        EXPECT_EQ(OptionInt(video, "maxrate"), c.maxRate);
        EXPECT_EQ(OptionInt(video, "minrate"), c.minRate);
        EXPECT_EQ(OptionInt(video, "bufsize"), c.bufSize);
        EXPECT_EQ(OptionInt(audio, "b"), c.audioBitRate);
        EXPECT_EQ(OptionInt(e.OptionContexts.Format, "packetsize"), c.packetSize);
    }
}

TEST_F(TargetTest, GivenNormsNeedNoDetection)
{
    Engine.SetOption("target", " pal-dvd ");
    EXPECT_EQ(Engine.FrameWidth, 720);
    EXPECT_EQ(Engine.FrameHeight, 576);
    ExpectRate(25, 1);
    EXPECT_EQ(OptionInt(Video(), "g"), 15);
    EXPECT_EQ(LogsAt(1), std::vector<std::string>{"Assuming 16:9 for aspect ratio"});

    // film-: the NTSC sizes at the film rate.
    TCustomFFmpeg film;
    film.Reset();
    film.SetOption("target", "film-dvd");
    EXPECT_EQ(film.FrameWidth, 720);
    EXPECT_EQ(film.FrameHeight, 480);
    EXPECT_EQ(film.FrameRate.num, 24000);
    EXPECT_EQ(film.FrameRate.den, 1001);
}

TEST_F(TargetTest, DetectionFromTheFrameRate)
{
    EXPECT_EQ(TargetError("vcd"), "frame_rate is invalid.") << "nothing to detect from";
    EXPECT_EQ(Engine.VideoCodecName, "") << "detection fails before any setting";
    Engine.SetOption("target", "pal-vcd");
    EXPECT_EQ(Engine.FrameWidth, 352);

    const struct {
        const char *rate, *target;
        const char *assumed;
        int width, height, rateNum, rateDen;
    } table[] = {
        {"29.97", "vcd", "NTSC", 352, 240, 30000, 1001},
        {"23.976", "dvd", "NTSC", 720, 480, 30000, 1001}, // 23.976 is NTSC, not film
        {"25", "svcd", "PAL", 480, 576, 25, 1},
        {"30", "dvd", "NTSC", 720, 480, 30000, 1001}, // undecided: the default norm "ntsc"
    };
    for (const auto &row : table) {
        SCOPED_TRACE(std::string(row.rate) + " " + row.target);
        TCustomFFmpeg e;
        e.Reset();
        std::vector<std::string> info;
        e.LogHandler = [&](TCustomFFmpeg &, int level, const std::string &m) {
            if (level == 1) info.push_back(m);
        };
        e.SetOption("r", row.rate);
        e.SetOption("target", row.target);
        ASSERT_FALSE(info.empty());
        EXPECT_EQ(info[0], std::string("Assuming ") + row.assumed + " for target.");
        EXPECT_EQ(e.FrameWidth, row.width);
        EXPECT_EQ(e.FrameHeight, row.height);
        EXPECT_EQ(e.FrameRate.num, row.rateNum);
        EXPECT_EQ(e.FrameRate.den, row.rateDen);
    }

    // With Verbose 0 the norm is not announced; the aspect still is.
    TCustomFFmpeg quiet;
    quiet.Reset();
    std::vector<std::string> info;
    quiet.LogHandler = [&](TCustomFFmpeg &, int, const std::string &m) { info.push_back(m); };
    quiet.Verbose = 0;
    quiet.SetOption("r", "25");
    quiet.SetOption("target", "vcd");
    EXPECT_EQ(info, std::vector<std::string>{"Assuming 4:3 for aspect ratio"});
}

TEST_F(TargetTest, DetectionFromOpenedInputsAndTheDefaultNorm)
{
    TTempFolder folder;
    WriteY4m(folder.File("pal.y4m"), "25:1");
    WriteY4m(folder.File("ntsc.y4m"), "30000:1001");
    // A rate that names no norm sends detection to the inputs, in order.
    InjectInput(Engine, folder.File("ntsc.y4m"));
    InjectInput(Engine, folder.File("pal.y4m"));
    Engine.SetOption("r", "50");
    Engine.SetOption("target", "vcd");
    EXPECT_EQ(LogsAt(1)[0], "Assuming NTSC for target.");
    EXPECT_EQ(Engine.FrameHeight, 240);
    EXPECT_EQ(OptionInt(Video(), "g"), 18);

    TCustomFFmpeg e;
    e.Reset();
    InjectInput(e, folder.File("pal.y4m"));
    e.FrameRate = AVRational{50, 1};
    e.SetTarget("dv", "auto", "ntsc");
    EXPECT_EQ(e.FrameHeight, 576);
    EXPECT_EQ(e.FramePixFmt, AV_PIX_FMT_YUV420P);

    // No input decides: the default norm does.
    const struct {
        const char *defaultNorm;
        int height, rateDen;
    } defaults[] = {{"film", 480, 1001}, {"ntsc", 480, 1001}, {"pal", 576, 1}, {"", 576, 1}};
    for (const auto &row : defaults) {
        SCOPED_TRACE(row.defaultNorm);
        TCustomFFmpeg d;
        d.Reset();
        d.FrameRate = AVRational{50, 1};
        d.SetTarget("dvd", "auto", row.defaultNorm);
        EXPECT_EQ(d.FrameHeight, row.height);
        EXPECT_EQ(d.FrameRate.den, row.rateDen);
    }
    TCustomFFmpeg film;
    film.Reset();
    film.FrameRate = AVRational{50, 1};
    film.SetTarget("dvd", "auto", "film");
    EXPECT_EQ(film.FrameRate.num, 24000);
}

TEST_F(TargetTest, EarlierSettingsThatThePresetKeeps)
{
    // svcd turns mono into stereo and leaves 5.1 alone.
    Engine.SetOption("ac", "1");
    Engine.SetOption("target", "pal-svcd");
    EXPECT_EQ(Engine.AudioChannels, 2);
    TCustomFFmpeg six;
    six.Reset();
    six.SetOption("ac", "6");
    six.SetOption("target", "pal-svcd");
    EXPECT_EQ(six.AudioChannels, 6);

    // An aspect given earlier stays, and nothing is said about it.
    TCustomFFmpeg aspect;
    aspect.Reset();
    std::vector<std::string> logs;
    aspect.LogHandler = [&](TCustomFFmpeg &, int, const std::string &m) { logs.push_back(m); };
    aspect.SetOption("aspect", "4:3");
    aspect.SetOption("target", "pal-dvd");
    EXPECT_FLOAT_EQ(aspect.FrameAspectRatio, 4.0f / 3);
    EXPECT_TRUE(logs.empty());
}

TEST_F(TargetTest, UnknownType)
{
    // Norm resolution comes first.
    EXPECT_EQ(TargetError("cd"), "frame_rate is invalid.");
    EXPECT_EQ(TargetError("pal-cd"), "Unknown target type");
    Engine.SetOption("r", "25");
    EXPECT_EQ(TargetError("PAL-vcd"), "Unknown target type") << "prefixes are lower case";
    EXPECT_EQ(Engine.OutputFormat, nullptr) << "nothing is set for an unknown type";
    EXPECT_EQ(Engine.FrameWidth, 0);
}

} // namespace
