// The task records and their translation into the engine.
#include <cstdlib>
#include <ctime>
#include <functional>

#include "Assert.h"
#include "ComponentTestSupport.h"
#include "Convert.h"

namespace {

// Every option member of the engine that a record can reach, as text.
std::string EngineState(TCustomFFmpeg &e)
{
    std::ostringstream s;
    s << "in=" << (e.InputFormat ? e.InputFormat->name : "-")
      << " out=" << (e.OutputFormat ? e.OutputFormat->name : "-") << " rec=" << e.RecordingTime
      << " start=" << e.StartTime << " ts=" << e.RecTimestamp << " total=" << e.TotalDuration
      << " prog=" << e.ProgramId << " vsync=" << e.VideoSyncMethod << " async=" << e.AudioSyncMethod
      << " copyts=" << e.CopyTs << " preload=" << e.MuxPreload << " delay=" << e.MuxMaxDelay
      << " size=" << e.FrameWidth << "x" << e.FrameHeight << " aspect=" << e.FrameAspectRatio
      << " pix=" << e.FramePixFmt << " rate=" << e.FrameRate.num << "/" << e.FrameRate.den
      << " pad=" << e.PadTop << "," << e.PadBottom << "," << e.PadLeft << "," << e.PadRight
      << " padcolor=" << e.PadColor[0] << "," << e.PadColor[1] << "," << e.PadColor[2]
      << " crop=" << e.CropTop << "," << e.CropBottom << "," << e.CropLeft << "," << e.CropRight
      << " vn=" << e.VideoDisable << " vcodec=" << e.VideoCodecName << " vcopy=" << e.VideoStreamCopy
      << " vtag=" << e.VideoCodecTag << " vfilters=" << e.VideoFilters << " ar=" << e.AudioSampleRate
      << " ac=" << e.AudioChannels << " an=" << e.AudioDisable << " acodec=" << e.AudioCodecName
      << " atag=" << e.AudioCodecTag << " alang=" << e.AudioLanguage << " vol=" << e.AudioVolume
      << " sn=" << e.SubtitleDisable << " slang=" << e.SubtitleLanguage
      << " hooks=" << bool(e.CustomHookHandler) << bool(e.BeforeHookHandler) << e.HookRanges.size()
      << " maps=" << e.NumStreamMaps << " files=" << e.NumInputFiles << e.NumOutputFiles;
    s << " generic=";
    for (const std::string &name : e.OptionContexts.Names) s << name << ";";
    s << " private=";
    for (const auto &[name, value] : e.PendingPrivateOptions) s << name << "=" << value << ";";
    s << " metadata=";
    for (const auto &[key, value] : e.Metadata) s << key << "=" << value << ";";
    return s.str();
}

int64_t OptionInt(void *context, const char *name)
{
    int64_t v = -1;
    EXPECT_GE(lav::av_opt_get_int(context, name, 0, &v), 0) << name;
    return v;
}

int64_t VideoOption(TCustomFFmpeg &e, const char *name)
{
    return OptionInt(e.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO], name);
}
int64_t AudioOption(TCustomFFmpeg &e, const char *name)
{
    return OptionInt(e.OptionContexts.Codec[AVMEDIA_TYPE_AUDIO], name);
}

std::string PrivateOption(TCustomFFmpeg &e, const std::string &name)
{
    for (const auto &[n, v] : e.PendingPrivateOptions)
        if (n == name) return v;
    return "";
}

// The message of what `call` raises, or "" when it raises nothing.
std::string Raised(const std::function<void()> &call)
{
    try {
        call();
    } catch (const std::exception &e) {
        return e.what();
    }
    return "";
}

// Sets TZ for the lifetime of the object.
class TTimeZone {
public:
    explicit TTimeZone(const char *zone)
    {
        const char *old = std::getenv("TZ");
        FHad = old != nullptr;
        if (old) FOld = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TTimeZone()
    {
        if (FHad)
            setenv("TZ", FOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool FHad = false;
    std::string FOld;
};

class ComponentOptions : public ComponentTest {
protected:
    void SetUp() override
    {
        ComponentTest::SetUp();
        Task.Reset();
        Task.LogHandler = [this](TCustomFFmpeg &, int level, const std::string &message) {
            Component.DoLog(&Task, level, message);
        };
    }

    std::string TranslateOutput(TOutputOptions &o)
    {
        return Raised([&] { Component.TranslateOutputOptions(Task, u"out.avi", &o); });
    }
    std::string TranslateInput(TInputOptions &o)
    {
        return Raised([&] { Component.TranslateInputOptions(Task, u"in.avi", &o); });
    }

    TFFmpeg Task{&Component};
};

TEST_F(ComponentOptions, FreshRecordsChangeNothingAndGetTheFileName)
{
    const std::string before = EngineState(Task);

    TInputOptions input;
    InitInputOptions(input);
    EXPECT_EQ(TranslateInput(input), "");
    EXPECT_EQ(EngineState(Task), before);
    EXPECT_EQ(input.FileName, u"in.avi");
    EXPECT_EQ(Task.InputOptions.FileName, u"in.avi");

    // VideoSync -1, AudioSync 0 and the empty languages are the engine's
    // own defaults; the padding becomes black.
    TCustomFFmpeg black;
    black.Reset();
    black.SetPadColor(0);
    const std::string expected = EngineState(black);
    ASSERT_NE(expected, before);
    TOutputOptions output;
    InitOutputOptions(output);
    EXPECT_EQ(TranslateOutput(output), "");
    EXPECT_EQ(EngineState(Task), expected);
    EXPECT_EQ(output.FileName, u"out.avi");
    EXPECT_EQ(Task.OutputOptions.FileName, u"out.avi");

    // A name given in the record is kept.
    output.FileName = u"kept.avi";
    EXPECT_EQ(TranslateOutput(output), "");
    EXPECT_EQ(Task.OutputOptions.FileName, u"kept.avi");
}

TEST_F(ComponentOptions, NoRecordLeavesTheCopiesAtTheirInitialValues)
{
    Task.OutputOptions.VideoBitrate = 5;
    Task.InputOptions.ProgramID = 5;
    const std::string before = EngineState(Task);
    Component.TranslateOutputOptions(Task, u"out.avi", nullptr);
    Component.TranslateInputOptions(Task, u"in.avi", nullptr);
    EXPECT_EQ(EngineState(Task), before);
    EXPECT_EQ(Task.OutputOptions.VideoBitrate, -1);
    EXPECT_TRUE(Task.OutputOptions.FileName.empty());
    EXPECT_EQ(Task.InputOptions.ProgramID, -1);
}

struct TFieldCase {
    const char *Name;
    std::function<void(TOutputOptions &)> Set;
    std::function<void(TCustomFFmpeg &)> Check;
};

TEST_F(ComponentOptions, OutputFieldsReachTheirEngineSettings)
{
    // clang-format off
    const std::vector<TFieldCase> cases = {
        {"FileFormat", [](auto &o) { o.FileFormat = "matroska"; },
         [](auto &e) { ASSERT_TRUE(e.OutputFormat); EXPECT_STREQ(e.OutputFormat->name, "matroska"); }},
        {"PacketSize", [](auto &o) { o.PacketSize = 1316; },
         [](auto &e) { EXPECT_EQ(OptionInt(e.OptionContexts.Format, "packetsize"), 1316); }},
        {"MuxRate", [](auto &o) { o.MuxRate = 10080000; },
         [](auto &e) { EXPECT_EQ(PrivateOption(e, "muxrate"), "10080000"); }},
        {"MuxDelay", [](auto &o) { o.MuxDelay = 0.25f; }, [](auto &e) { EXPECT_FLOAT_EQ(e.MuxMaxDelay, 0.25f); }},
        {"MuxPreload", [](auto &o) { o.MuxPreload = 0.3f; }, [](auto &e) { EXPECT_FLOAT_EQ(e.MuxPreload, 0.3f); }},
        {"AudioCodec", [](auto &o) { o.AudioCodec = "mp2"; }, [](auto &e) { EXPECT_EQ(e.AudioCodecName, "mp2"); }},
        {"DisableAudio", [](auto &o) { o.DisableAudio = true; }, [](auto &e) { EXPECT_TRUE(e.AudioDisable); }},
        {"AudioVolume", [](auto &o) { o.AudioVolume = 0; }, [](auto &e) { EXPECT_EQ(e.AudioVolume, 0); }},
        {"AudioChannels", [](auto &o) { o.AudioChannels = 1; }, [](auto &e) { EXPECT_EQ(e.AudioChannels, 1); }},
        {"AudioSampleRate", [](auto &o) { o.AudioSampleRate = 22050; },
         [](auto &e) { EXPECT_EQ(e.AudioSampleRate, 22050); }},
        {"AudioBitrate", [](auto &o) { o.AudioBitrate = 96000; },
         [](auto &e) { EXPECT_EQ(AudioOption(e, "b"), 96000); }},
        {"AudioBitrateTolerance", [](auto &o) { o.AudioBitrateTolerance = 12345; },
         [](auto &e) { EXPECT_EQ(AudioOption(e, "bt"), 12345); }},
        {"AudioLanguage", [](auto &o) { o.AudioLanguage = "chi"; }, [](auto &e) { EXPECT_EQ(e.AudioLanguage, "chi"); }},
        {"AudioSync", [](auto &o) { o.AudioSync = 1; }, [](auto &e) { EXPECT_EQ(e.AudioSyncMethod, 1); }},
        {"AudioTag", [](auto &o) { o.AudioTag = "abcd"; },
         [](auto &e) { EXPECT_EQ(e.AudioCodecTag, 0x64636261u); }},
        {"VideoCodec", [](auto &o) { o.VideoCodec = "mpeg4"; }, [](auto &e) { EXPECT_EQ(e.VideoCodecName, "mpeg4"); }},
        {"DisableVideo", [](auto &o) { o.DisableVideo = true; }, [](auto &e) { EXPECT_TRUE(e.VideoDisable); }},
        {"FrameRate", [](auto &o) { o.FrameRate = "15"; },
         [](auto &e) { EXPECT_EQ(e.FrameRate.num, 15); EXPECT_EQ(e.FrameRate.den, 1); }},
        {"FrameSize", [](auto &o) { o.FrameSize = "320x240"; },
         [](auto &e) { EXPECT_EQ(e.FrameWidth, 320); EXPECT_EQ(e.FrameHeight, 240); }},
        {"FrameAspectRatio", [](auto &o) { o.FrameAspectRatio = "16:9"; },
         [](auto &e) { EXPECT_NEAR(e.FrameAspectRatio, 16.0 / 9.0, 1e-5); }},
        {"Crop", [](auto &o) { o.FrameSize = "320x240"; o.CropTop = 2; o.CropBottom = 4; o.CropLeft = 6; o.CropRight = 0; },
         [](auto &e) {
             EXPECT_EQ(e.CropTop, 2); EXPECT_EQ(e.CropBottom, 4); EXPECT_EQ(e.CropLeft, 6); EXPECT_EQ(e.CropRight, 0);
             EXPECT_EQ(e.FrameWidth, 314); EXPECT_EQ(e.FrameHeight, 234);
         }},
        {"Pad", [](auto &o) { o.PadTop = 8; o.PadBottom = 10; o.PadLeft = 12; o.PadRight = 14; },
         [](auto &e) {
             EXPECT_EQ(e.PadTop, 8); EXPECT_EQ(e.PadBottom, 10); EXPECT_EQ(e.PadLeft, 12); EXPECT_EQ(e.PadRight, 14);
         }},
        // Red is the low byte: full red gives Y 76, Cb 85, Cr 255.
        {"PadColor", [](auto &o) { o.PadColor = 0x0000FF; },
         [](auto &e) { EXPECT_EQ(e.PadColor[0], 76); EXPECT_EQ(e.PadColor[1], 85); EXPECT_EQ(e.PadColor[2], 255); }},
        {"GopSize", [](auto &o) { o.GopSize = 30; }, [](auto &e) { EXPECT_EQ(VideoOption(e, "g"), 30); }},
        {"VideoBitrate", [](auto &o) { o.VideoBitrate = 800000; },
         [](auto &e) { EXPECT_EQ(VideoOption(e, "b"), 800000); }},
        {"MaxRate", [](auto &o) { o.MaxRate = 900000; }, [](auto &e) { EXPECT_EQ(VideoOption(e, "maxrate"), 900000); }},
        {"MinRate", [](auto &o) { o.MinRate = 100000; }, [](auto &e) { EXPECT_EQ(VideoOption(e, "minrate"), 100000); }},
        {"VideoBitrateTolerance", [](auto &o) { o.VideoBitrateTolerance = 50000; },
         [](auto &e) { EXPECT_EQ(VideoOption(e, "bt"), 50000); }},
        {"BufferSize", [](auto &o) { o.BufferSize = 65536; },
         [](auto &e) { EXPECT_EQ(VideoOption(e, "bufsize"), 65536); }},
        {"VideoSync", [](auto &o) { o.VideoSync = 2; }, [](auto &e) { EXPECT_EQ(e.VideoSyncMethod, 2); }},
        {"VideoTag", [](auto &o) { o.VideoTag = "XVID"; },
         [](auto &e) { EXPECT_EQ(e.VideoCodecTag, 0x44495658u); }},
        {"VideoFilters", [](auto &o) { o.VideoFilters = "hflip"; }, [](auto &e) { EXPECT_EQ(e.VideoFilters, "hflip"); }},
        {"DisableSubtitle", [](auto &o) { o.DisableSubtitle = true; }, [](auto &e) { EXPECT_TRUE(e.SubtitleDisable); }},
        {"SubtitleLanguage", [](auto &o) { o.SubtitleLanguage = "eng"; },
         [](auto &e) { EXPECT_EQ(e.SubtitleLanguage, "eng"); }},
        {"CopyTimestamp", [](auto &o) { o.CopyTimestamp = true; }, [](auto &e) { EXPECT_TRUE(e.CopyTs); }},
        {"StartTimeMS", [](auto &o) { o.StartTimeMS = 1500; }, [](auto &e) { EXPECT_EQ(e.StartTime, 1500000); }},
    };
    // clang-format on
    for (const TFieldCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TFFmpeg engine(&Component);
        engine.Reset();
        TOutputOptions o;
        c.Set(o);
        ASSERT_EQ(Raised([&] { Component.TranslateOutputOptions(engine, u"out.avi", &o); }), "");
        c.Check(engine);
    }
}

TEST_F(ComponentOptions, CopyTimestampFalseTurnsCopyingOffAgain)
{
    Task.SetOption("copyts", "");
    TOutputOptions o;
    EXPECT_EQ(TranslateOutput(o), "");
    EXPECT_FALSE(Task.CopyTs);
}

TEST_F(ComponentOptions, MicrosecondStartWinsOverMilliseconds)
{
    struct TCase {
        int32_t Ms;
        int64_t Us;
        int64_t Expected;
    };
    for (const TCase &c : {TCase{1500, 2000000, 2000000}, TCase{1500, -1, 1500000}, TCase{-1, 700, 700},
                           TCase{0, 0, 0}, TCase{-1, -1, 0}}) {
        SCOPED_TRACE(std::to_string(c.Ms) + " ms, " + std::to_string(c.Us) + " us");
        TFFmpeg input(&Component), output(&Component);
        input.Reset();
        output.Reset();
        TInputOptions i;
        i.StartTimeMS = c.Ms;
        i.StartTimeUS = c.Us;
        Component.TranslateInputOptions(input, u"in.avi", &i);
        EXPECT_EQ(input.StartTime, c.Expected);
        TOutputOptions o;
        o.StartTimeMS = c.Ms;
        o.StartTimeUS = c.Us;
        Component.TranslateOutputOptions(output, u"out.avi", &o);
        EXPECT_EQ(output.StartTime, c.Expected);
    }
}

TEST_F(ComponentOptions, DurationLimitsTheRecordingTime)
{
    struct TCase {
        int32_t Ms;
        int64_t Us;
        int64_t Recording;
        int32_t Total;
    };
    for (const TCase &c : {TCase{0, -1, INT64_MAX, -1}, TCase{90 * 1000, -1, 90000000, 90000},
                           TCase{90 * 1000, 5000000, 5000000, 5000}, TCase{-1, 2500, 2500, 2}}) {
        SCOPED_TRACE(std::to_string(c.Ms) + " ms, " + std::to_string(c.Us) + " us");
        TFFmpeg engine(&Component);
        engine.Reset();
        TOutputOptions o;
        o.DurationMS = c.Ms;
        o.DurationUS = c.Us;
        Component.TranslateOutputOptions(engine, u"out.avi", &o);
        EXPECT_EQ(engine.RecordingTime, c.Recording);
        EXPECT_EQ(engine.TotalDuration, c.Total);
    }
}

TEST_F(ComponentOptions, InfoWritesMetadataInItsOrder)
{
    TOutputOptions o;
    o.Info.Genre = "Rock";
    o.Info.Year = 2010;
    o.Info.Title = "T";
    o.Info.Track = 3;
    o.Info.Album = "Al";
    o.Info.Author = "Au";
    o.Info.Comment = "Co";
    o.Info.CopyrightText = "(c)";
    EXPECT_EQ(TranslateOutput(o), "");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"year", "2010"},     {"track", "3"},    {"title", "T"},  {"author", "Au"},
        {"copyright", "(c)"}, {"comment", "Co"}, {"album", "Al"}, {"genre", "Rock"}};
    EXPECT_EQ(Task.Metadata, expected);

    TFFmpeg none(&Component);
    none.Reset();
    TOutputOptions zero;
    zero.Info.Year = 0;
    zero.Info.Track = 0;
    Component.TranslateOutputOptions(none, u"out.avi", &zero);
    EXPECT_TRUE(none.Metadata.empty());
}

TEST_F(ComponentOptions, TimestampUsesTheStandardOffsetFromUtc)
{
    TOutputOptions o;
    o.Info.Timestamp = -1;
    EXPECT_EQ(TranslateOutput(o), "");
    EXPECT_EQ(Task.RecTimestamp, 0);

    {
        // 2010-01-01 12:00 local time, eight hours east of UTC.
        TTimeZone zone("CST-8");
        EXPECT_EQ(DateTimeToUnixTime(40179.5), 1262347200 - 8 * 3600);
        o.Info.Timestamp = 40179.5;
        EXPECT_EQ(TranslateOutput(o), "");
        EXPECT_EQ(Task.RecTimestamp, 1262347200 - 8 * 3600);
    }
    {
        // In summer, daylight saving is left out of the offset.
        TTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(DateTimeToUnixTime(40360.5), 1277985600 - 3600); // 2010-07-01 12:00
    }

    o.Info.Timestamp = 0;
    const int64_t before = time(nullptr);
    EXPECT_EQ(TranslateOutput(o), "");
    EXPECT_GE(Task.RecTimestamp, before);
    EXPECT_LE(Task.RecTimestamp, int64_t(time(nullptr)));
}

TEST_F(ComponentOptions, InputExtraOptionsRunTheFirstPassOnly)
{
    TInputOptions i;
    i.ExtOptions = "  vn=1\r\nar=22050\rac=1\nnewaudio\n  ";
    EXPECT_EQ(TranslateInput(i), "");
    EXPECT_TRUE(Task.VideoDisable);
    EXPECT_EQ(Task.AudioSampleRate, 22050);
    EXPECT_EQ(Task.AudioChannels, 1);
    // "newaudio" would fail here: there is no output to add a stream to.
    EXPECT_EQ(Task.NumOutputFiles, 0);
}

TEST_F(ComponentOptions, ExtraOptionsSplitOnceAndKeepBlanks)
{
    ApplyExtraOptions(Task, "metadata=title=a=b\n vn=1\nsn", false);
    ASSERT_EQ(Task.Metadata.size(), 1u);
    EXPECT_EQ(Task.Metadata[0].second, "a=b");
    // " vn" is not "vn": it goes to the generic store, which knows no such name.
    EXPECT_FALSE(Task.VideoDisable);
    // Without "=" the value is empty, which is not "0".
    EXPECT_TRUE(Task.SubtitleDisable);

    // The second pass takes only the options that add streams.
    TFFmpeg second(&Component);
    second.Reset();
    ApplyExtraOptions(second, "vn=1\nar=8000", true);
    EXPECT_FALSE(second.VideoDisable);
    EXPECT_EQ(second.AudioSampleRate, 44100);
    EXPECT_THROW(ApplyExtraOptions(second, "newaudio", true), FFmpegException);

    EXPECT_EQ(Raised([&] { ApplyExtraOptions(Task, "ar=abc", false); }),
              "'abc' is not a valid integer value");
}

TEST_F(ComponentOptions, TimeRangesParseAndSortByEnd)
{
    using TRanges = std::vector<std::pair<int64_t, int64_t>>;
    struct TCase {
        const char *Text;
        TRanges Expected;
    };
    const std::vector<TCase> cases = {
        {"5000-10000, 20000-25000", {{5000000, 10000000}, {20000000, 25000000}}},
        {"10000-5000", {}},
        {"abc-3000", {{-1000, 3000000}}},
        {"", {}},
        {"  ,  ", {}},
        {"7000", {}},
        {" 100 - 200 ,x-y, 300-300", {{100000, 200000}, {300000, 300000}}},
    };
    for (const TCase &c : cases) EXPECT_EQ(ParseTimeRanges(c.Text), c.Expected) << c.Text;

    Task.HookRangeIndex = 4;
    TOutputOptions o;
    o.TimeRanges = "20000-25000,5000-10000";
    EXPECT_EQ(TranslateOutput(o), "");
    EXPECT_EQ(Task.HookRanges, (TRanges{{5000000, 10000000}, {20000000, 25000000}}));
    EXPECT_EQ(Task.HookRangeIndex, 0);
}

TEST_F(ComponentOptions, CustomHookWinsOverBeforeHookAndRanges)
{
    struct TCase {
        bool Custom, Before;
        bool ExpectCustom, ExpectBefore;
        size_t Ranges;
    };
    for (const TCase &c : {TCase{true, true, true, false, 0}, TCase{false, true, false, true, 0},
                           TCase{false, false, false, false, 1}}) {
        SCOPED_TRACE(std::to_string(c.Custom) + std::to_string(c.Before));
        TFFmpeg engine(&Component);
        engine.Reset();
        TOutputOptions o;
        o.CustomHook = c.Custom;
        o.BeforeHook = c.Before;
        o.TimeRanges = "0-1000";
        Component.TranslateOutputOptions(engine, u"out.avi", &o);
        EXPECT_EQ(bool(engine.CustomHookHandler), c.ExpectCustom);
        EXPECT_EQ(bool(engine.BeforeHookHandler), c.ExpectBefore);
        EXPECT_EQ(engine.HookRanges.size(), c.Ranges);
    }
}

TEST_F(ComponentOptions, TargetComesFirstAndLaterFieldsOverrideIt)
{
    // An opened 10 fps input leaves this rate, which names no norm: the
    // default norm decides.
    Task.FrameRate = AVRational{10, 1};
    TOutputOptions o;
    o.Target = 2;
    o.TargetNorm = 0;
    o.TargetDefaultNorm = 2;
    o.VideoBitrate = 1500000;
    EXPECT_EQ(TranslateOutput(o), "");
    ASSERT_TRUE(Task.OutputFormat);
    EXPECT_STREQ(Task.OutputFormat->name, "svcd");
    EXPECT_EQ(Task.VideoCodecName, "mpeg2video");
    EXPECT_EQ(Task.FrameWidth, 480);
    EXPECT_EQ(Task.FrameHeight, 480);
    EXPECT_EQ(Task.FrameRate.num, 30000);
    EXPECT_EQ(Task.FrameRate.den, 1001);
    EXPECT_EQ(VideoOption(Task, "b"), 1500000);
    EXPECT_EQ(VideoOption(Task, "maxrate"), 2516000);
    EXPECT_EQ(Events.LogsWith("Assuming NTSC for target.").size(), 1u);

    TFFmpeg pal(&Component);
    pal.Reset();
    pal.FrameRate = AVRational{10, 1};
    TOutputOptions p;
    p.Target = 2;
    p.TargetDefaultNorm = 1;
    Component.TranslateOutputOptions(pal, u"out.avi", &p);
    EXPECT_EQ(pal.FrameHeight, 576);
    EXPECT_EQ(VideoOption(pal, "b"), 2040000);

    // Other values are no preset at all.
    TFFmpeg none(&Component);
    none.Reset();
    TOutputOptions n;
    n.Target = 4;
    Component.TranslateOutputOptions(none, u"out.avi", &n);
    EXPECT_EQ(none.OutputFormat, nullptr);
}

TEST_F(ComponentOptions, FailuresCarryTheEngineMessages)
{
    struct TCase {
        const char *Name;
        std::function<void(TOutputOptions &)> Set;
        const char *Message;
    };
    const std::vector<TCase> cases = {
        {"vtag", [](auto &o) { o.VideoTag = "abc"; }, "video tag parameter must be 4 chars"},
        {"atag", [](auto &o) { o.AudioTag = "abcde"; }, "audio tag parameter must be 4 chars"},
        {"size", [](auto &o) { o.FrameSize = "abc"; }, "Incorrect frame size"},
        {"odd size", [](auto &o) { o.FrameSize = "321x240"; }, "Frame size must be a multiple of 2"},
        {"rate", [](auto &o) { o.FrameRate = "x"; }, "Incorrect frame rate"},
        {"format", [](auto &o) { o.FileFormat = "nosuchformat"; }, "Unknown output format: nosuchformat"},
        {"target without rate", [](auto &o) { o.Target = 1; }, "frame_rate is invalid."},
    };
    for (const TCase &c : cases) {
        TFFmpeg engine(&Component);
        engine.Reset();
        TOutputOptions o;
        c.Set(o);
        // A runtime assertion adds where it failed.
        const std::string raised = Raised([&] { Component.TranslateOutputOptions(engine, u"out.avi", &o); });
        EXPECT_EQ(raised.substr(0, std::string(c.Message).size()), c.Message) << c.Name << ": " << raised;
    }

    TInputOptions i;
    i.FileFormat = "nosuchformat";
    EXPECT_EQ(TranslateInput(i), "Unknown input format: nosuchformat");
}

TEST_F(ComponentOptions, PgmyuvBecomesImage2WithAWarning)
{
    TInputOptions i;
    i.FileFormat = "pgmyuv";
    EXPECT_EQ(TranslateInput(i), "");
    ASSERT_TRUE(Task.InputFormat);
    EXPECT_STREQ(Task.InputFormat->name, "image2");
    EXPECT_EQ(Events.LogsWith("pgmyuv format is deprecated, use image2").size(), 1u);
}

// AddTask and SetOutput turn every failure into their result and LastError.
TEST_F(ComponentOptions, AddTaskAndSetOutputReportFailuresByResult)
{
    TInputOptions i;
    i.FileFormat = "nosuchformat";
    EXPECT_EQ(Component.AddTask(u"whatever.avi", &i), -1);
    EXPECT_EQ(Component.LastError(), "Unknown input format: nosuchformat");
    EXPECT_EQ(Component.Tasks().Count(), 0);

    EXPECT_FALSE(Component.SetOutput(5, u"out.avi", nullptr));
    EXPECT_EQ(Component.LastError(), "List index out of bounds (5)");

    auto task = std::make_unique<TFFmpeg>(&Component);
    task->Reset();
    ASSERT_EQ(Component.Tasks().Add(std::move(task)), 0);
    TOutputOptions o;
    o.VideoTag = "abc";
    EXPECT_FALSE(Component.SetOutput(0, u"out.avi", &o));
    EXPECT_EQ(Component.LastError().rfind("video tag parameter must be 4 chars", 0), 0u)
        << Component.LastError();
    EXPECT_EQ(Component.Tasks().Count(), 1);
}

} // namespace
