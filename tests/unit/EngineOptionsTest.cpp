// The option table, the general options, the value conversions and the
// generic option store.
#include <functional>

#include "Assert.h"
#include "Convert.h"
#include "EngineTestSupport.h"
#include "FFmpegLoader.h"

namespace {

using TCheck = std::function<void(TCustomFFmpeg &)>;

int64_t OptionInt(void *context, const char *name)
{
    int64_t v = -1;
    EXPECT_GE(lav::av_opt_get_int(context, name, 0, &v), 0) << name;
    return v;
}

// 64 coefficients: first, 62 times fill, last.
std::string Matrix(int first, int fill, int last)
{
    std::string text = std::to_string(first);
    for (int i = 1; i < 63; ++i) text += "," + std::to_string(fill);
    return text + "," + std::to_string(last);
}

std::string BoxHook() { return std::string(VIDMORPH_HOOK_DIR) + "/box.so"; }

struct TOptionCase {
    std::string Name;
    std::string Value;
    TCheck Check;            // what the option changed (null: a no-op, checked by its log line)
    std::string Error = {};  // the message it raises instead
    TCheck Before = nullptr; // set-up on the fresh engine
};

// Every row of the table, in the order SetOption tests them.
std::vector<TOptionCase> OptionCases()
{
    auto noop = [](const char *name) { return TOptionCase{name, "1", nullptr}; };
    // clang-format off
    return {
        noop("L"), noop("h"), noop("version"), noop("formats"),
        {"f", "avi", [](TCustomFFmpeg &e) {
            ASSERT_TRUE(e.InputFormat && e.OutputFormat);
            EXPECT_STREQ(e.InputFormat->name, "avi");
            EXPECT_STREQ(e.OutputFormat->name, "avi");
        }},
        noop("i"), noop("y"),
        {"map", "1:2", [](TCustomFFmpeg &e) {
            ASSERT_EQ(e.NumStreamMaps, 1);
            EXPECT_EQ(e.StreamMaps[0].FileIndex, 1);
            EXPECT_EQ(e.StreamMaps[0].StreamIndex, 2);
        }},
        {"map_meta_data", "1:0", [](TCustomFFmpeg &e) {
            ASSERT_EQ(e.NumMetadataMaps, 1);
            EXPECT_EQ(e.MetadataMaps[0].OutFile, 1);
            EXPECT_EQ(e.MetadataMaps[0].InFile, 0);
        }},
        {"t", "00:00:10.5", [](TCustomFFmpeg &e) {
            EXPECT_EQ(e.RecordingTime, 10500000);
            EXPECT_EQ(e.TotalDuration, 10500);
        }},
        {"fs", "5000000000", [](TCustomFFmpeg &e) { EXPECT_EQ(e.LimitFileSize, 5000000000LL); }},
        {"ss", "-1.5", [](TCustomFFmpeg &e) { EXPECT_EQ(e.StartTime, -1500000); }},
        {"itsoffset", "2", [](TCustomFFmpeg &e) { EXPECT_EQ(e.InputTsOffsetOption, 2000000); }},
        {"itsscale", "3:0.25", [](TCustomFFmpeg &e) { EXPECT_EQ(e.InputTsScale[0][3], 0.25); }},
        {"timestamp", "2010-01-02 03:04:05.6Z", [](TCustomFFmpeg &e) { EXPECT_EQ(e.RecTimestamp, 1262401446); }},
        {"metadata", "title=a=b", [](TCustomFFmpeg &e) {
            ASSERT_EQ(e.Metadata.size(), 1u);
            EXPECT_EQ(e.Metadata[0].first, "title");
            EXPECT_EQ(e.Metadata[0].second, "a=b");
        }},
        {"dframes", "7", [](TCustomFFmpeg &e) { EXPECT_EQ(e.MaxFrames[2], 7); }},
        noop("benchmark"),
        {"dump", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.PacketDump); }},
        {"hex", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.HexDump); }},
        {"re", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.RateEmulation); }},
        {"loop_input", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.LoopInput); }},
        {"loop_output", "3", [](TCustomFFmpeg &e) { EXPECT_EQ(e.LoopOutput, 3); }},
        {"v", "2", [](TCustomFFmpeg &e) {
            EXPECT_EQ(e.Verbose, 2);
            EXPECT_EQ(LibraryLogLevel.load(), 2);
            EXPECT_EQ(lav::av_log_get_level(), AV_LOG_DEBUG);
        }},
        {"target", "pal-vcd", [](TCustomFFmpeg &e) {
            EXPECT_EQ(e.VideoCodecName, "mpeg1video");
            EXPECT_EQ(e.FrameWidth, 352);
        }},
        {"threads", "2", [](TCustomFFmpeg &e) { EXPECT_EQ(e.ThreadCount, 2); }},
        {"vsync", "2", [](TCustomFFmpeg &e) { EXPECT_EQ(e.VideoSyncMethod, 2); }},
        {"async", "3", [](TCustomFFmpeg &e) { EXPECT_EQ(e.AudioSyncMethod, 3); }},
        {"adrift_threshold", "0.5", [](TCustomFFmpeg &e) { EXPECT_FLOAT_EQ(e.AudioDriftThreshold, 0.5f); }},
        {"vglobal", "2", [](TCustomFFmpeg &e) { EXPECT_EQ(e.VideoGlobalHeader, 2); }},
        {"copyts", "0", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.CopyTs); }},
        {"shortest", "", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.Shortest); }},
        {"dts_delta_threshold", "2.5", [](TCustomFFmpeg &e) { EXPECT_FLOAT_EQ(e.DtsDeltaThreshold, 2.5f); }},
        {"programid", "4", [](TCustomFFmpeg &e) { EXPECT_EQ(e.ProgramId, 4); }},
        {"xerror", "0", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.ExitOnError); }},
        {"copyinkf", "1", [](TCustomFFmpeg &e) { EXPECT_EQ(e.CopyInitialNonKeyframes, 1); }},
        {"b", "640000", [](TCustomFFmpeg &e) {
            EXPECT_EQ(OptionInt(e.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO], "b"), 640000);
        }},
        {"vb", "320000", [](TCustomFFmpeg &e) {
            EXPECT_EQ(OptionInt(e.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO], "b"), 320000);
        }},
        {"vframes", "9", [](TCustomFFmpeg &e) { EXPECT_EQ(e.MaxFrames[0], 9); }},
        {"r", "ntsc", [](TCustomFFmpeg &e) {
            EXPECT_EQ(e.FrameRate.num, 30000);
            EXPECT_EQ(e.FrameRate.den, 1001);
        }},
        {"s", "hd720", [](TCustomFFmpeg &e) {
            EXPECT_EQ(e.FrameWidth, 1280);
            EXPECT_EQ(e.FrameHeight, 720);
        }},
        {"aspect", "16:9", [](TCustomFFmpeg &e) { EXPECT_FLOAT_EQ(e.FrameAspectRatio, 1.7777778f); }},
        {"pix_fmt", "yuv422p", [](TCustomFFmpeg &e) { EXPECT_EQ(e.FramePixFmt, AV_PIX_FMT_YUV422P); }},
        {"croptop", "10", [](TCustomFFmpeg &e) { EXPECT_EQ(e.CropTop, 10); }, "",
         [](TCustomFFmpeg &e) { e.SetOption("s", "640x480"); }},
        {"cropbottom", "12", [](TCustomFFmpeg &e) { EXPECT_EQ(e.CropBottom, 12); }, "",
         [](TCustomFFmpeg &e) { e.SetOption("s", "640x480"); }},
        {"cropleft", "14", [](TCustomFFmpeg &e) { EXPECT_EQ(e.CropLeft, 14); }, "",
         [](TCustomFFmpeg &e) { e.SetOption("s", "640x480"); }},
        {"cropright", "16", [](TCustomFFmpeg &e) { EXPECT_EQ(e.CropRight, 16); }, "",
         [](TCustomFFmpeg &e) { e.SetOption("s", "640x480"); }},
        {"padtop", "2", [](TCustomFFmpeg &e) { EXPECT_EQ(e.PadTop, 2); }},
        {"padbottom", "4", [](TCustomFFmpeg &e) { EXPECT_EQ(e.PadBottom, 4); }},
        {"padleft", "6", [](TCustomFFmpeg &e) { EXPECT_EQ(e.PadLeft, 6); }},
        {"padright", "8", [](TCustomFFmpeg &e) { EXPECT_EQ(e.PadRight, 8); }},
        {"padcolor", "0xFFFFFF", [](TCustomFFmpeg &e) {
            EXPECT_EQ(e.PadColor[0], 255);
            EXPECT_EQ(e.PadColor[1], 128);
            EXPECT_EQ(e.PadColor[2], 128);
        }},
        {"intra", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.IntraOnly); }},
        {"vn", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.VideoDisable); }},
        {"vdt", "48", [](TCustomFFmpeg &e) { EXPECT_EQ(e.VideoDiscard, 48); }},
        {"qscale", "4.5", [](TCustomFFmpeg &e) { EXPECT_FLOAT_EQ(e.VideoQscale, 4.5f); }},
        {"rc_override", "0,100,2", [](TCustomFFmpeg &e) { EXPECT_EQ(e.VideoRcOverride, "0,100,2"); }},
        {"vcodec", "mpeg4", [](TCustomFFmpeg &e) { EXPECT_EQ(e.VideoCodecName, "mpeg4"); }},
        {"me_threshold", "5", [](TCustomFFmpeg &e) { EXPECT_EQ(e.MeThreshold, 5); }},
        {"sameq", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.SameQuality); }},
        {"pass", "2", [](TCustomFFmpeg &e) { EXPECT_EQ(e.DoPass, 2); }},
        {"passlogfile", "/tmp/stats", [](TCustomFFmpeg &e) { EXPECT_EQ(e.PassLogFilePrefix, "/tmp/stats"); }},
        {"deinterlace", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.Deinterlace); }},
        {"psnr", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.DoPsnr); }},
        {"vstats", "0", [](TCustomFFmpeg &e) { EXPECT_FALSE(e.VstatsFileName.empty()); }},
        {"vstats_file", "/tmp/v.log", [](TCustomFFmpeg &e) { EXPECT_EQ(e.VstatsFileName, "/tmp/v.log"); }},
        {"vhook", BoxHook(), [](TCustomFFmpeg &e) {
            EXPECT_TRUE(e.UsingHooks);
            EXPECT_EQ(e.HookList.Count(), 1u);
        }},
        {"vfilters", "hflip", [](TCustomFFmpeg &e) { EXPECT_EQ(e.VideoFilters, "hflip"); }},
        {"intra_matrix", Matrix(1, 3, 5), [](TCustomFFmpeg &e) {
            ASSERT_TRUE(e.IntraMatrix);
            EXPECT_EQ((*e.IntraMatrix)[0], 1);
            EXPECT_EQ((*e.IntraMatrix)[62], 3);
            EXPECT_EQ((*e.IntraMatrix)[63], 5);
        }},
        {"inter_matrix", Matrix(2, 2, 7), [](TCustomFFmpeg &e) {
            ASSERT_TRUE(e.InterMatrix);
            EXPECT_EQ((*e.InterMatrix)[63], 7);
        }},
        {"top", "1", [](TCustomFFmpeg &e) { EXPECT_EQ(e.TopFieldFirst, 1); }},
        {"dc", "10", [](TCustomFFmpeg &e) { EXPECT_EQ(e.IntraDcPrecision, 10); }},
        {"vtag", "DIVX", [](TCustomFFmpeg &e) { EXPECT_EQ(e.VideoCodecTag, 0x58564944u); }},
        {"newvideo", "1", nullptr, "At least one output file must be specified"},
        {"qphist", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.QpHist); }},
        {"force_fps", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.ForceFps); }},
        {"ab", "128000", [](TCustomFFmpeg &e) {
            EXPECT_EQ(OptionInt(e.OptionContexts.Codec[AVMEDIA_TYPE_AUDIO], "b"), 128000);
        }},
        {"aframes", "11", [](TCustomFFmpeg &e) { EXPECT_EQ(e.MaxFrames[1], 11); }},
        {"aq", "3", [](TCustomFFmpeg &e) { EXPECT_FLOAT_EQ(e.AudioQscale, 3.0f); }},
        {"ar", "22050", [](TCustomFFmpeg &e) { EXPECT_EQ(e.AudioSampleRate, 22050); }},
        {"ac", "6", [](TCustomFFmpeg &e) { EXPECT_EQ(e.AudioChannels, 6); }},
        {"an", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.AudioDisable); }},
        {"acodec", "mp2", [](TCustomFFmpeg &e) { EXPECT_EQ(e.AudioCodecName, "mp2"); }},
        {"atag", "mp4a", [](TCustomFFmpeg &e) { EXPECT_EQ(e.AudioCodecTag, 0x6134706Du); }},
        {"vol", "512", [](TCustomFFmpeg &e) { EXPECT_EQ(e.AudioVolume, 512); }},
        {"newaudio", "1", nullptr, "At least one output file must be specified"},
        {"alang", "eng", [](TCustomFFmpeg &e) { EXPECT_EQ(e.AudioLanguage, "eng"); }},
        {"sample_fmt", "s16", [](TCustomFFmpeg &e) { EXPECT_EQ(e.AudioSampleFmt, AV_SAMPLE_FMT_S16); }},
        {"sn", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.SubtitleDisable); }},
        {"scodec", "copy", [](TCustomFFmpeg &e) {
            EXPECT_TRUE(e.SubtitleStreamCopy);
            EXPECT_TRUE(e.SubtitleCodecName.empty());
        }},
        {"newsubtitle", "1", nullptr, "At least one output file must be specified"},
        {"slang", "fre", [](TCustomFFmpeg &e) { EXPECT_EQ(e.SubtitleLanguage, "fre"); }},
        {"vc", "3", [](TCustomFFmpeg &e) { EXPECT_EQ(e.VideoChannel, 3); }},
        {"tvstd", "PAL-B", [](TCustomFFmpeg &e) { EXPECT_EQ(e.VideoStandard, "PAL-B"); }},
        {"isync", "1", [](TCustomFFmpeg &e) { EXPECT_TRUE(e.InputSync); }},
        {"muxdelay", "0.2", [](TCustomFFmpeg &e) { EXPECT_FLOAT_EQ(e.MuxMaxDelay, 0.2f); }},
        {"muxpreload", "0.3", [](TCustomFFmpeg &e) { EXPECT_FLOAT_EQ(e.MuxPreload, 0.3f); }},
        {"absf", "aac_adtstoasc", [](TCustomFFmpeg &e) { EXPECT_EQ(e.AudioBitstreamFilters.size(), 1u); }},
        {"vbsf", "h264_mp4toannexb", [](TCustomFFmpeg &e) { EXPECT_EQ(e.VideoBitstreamFilters.size(), 1u); }},
        {"sbsf", "null", [](TCustomFFmpeg &e) { EXPECT_EQ(e.SubtitleBitstreamFilters.size(), 1u); }},
        noop("apre"), noop("vpre"), noop("spre"),
    };
    // clang-format on
}

TEST_F(EngineTest, EveryRowOfTheOptionTableReachesItsMember)
{
    const std::vector<TOptionCase> cases = OptionCases();
    std::vector<std::string> names;
    for (const auto &c : cases) names.push_back(c.Name);
    EXPECT_EQ(TCustomFFmpeg::OptionNames(), names) << "the table or its order changed";

    for (const TOptionCase &c : cases) {
        SCOPED_TRACE("option " + c.Name + " " + c.Value);
        TCustomFFmpeg e;
        e.Reset();
        std::vector<TLogLine> logs;
        e.LogHandler = [&](TCustomFFmpeg &, int level, const std::string &m) { logs.push_back({level, m}); };
        if (c.Before) c.Before(e);
        std::string error;
        try {
            e.SetOption(c.Name, c.Value);
        } catch (const std::exception &x) {
            error = x.what();
        }
        EXPECT_EQ(error, c.Error);
        if (c.Check) {
            c.Check(e);
        } else if (c.Error.empty()) {
            ASSERT_EQ(logs.size(), 1u);
            EXPECT_EQ(logs[0].Level, 1);
            EXPECT_EQ(logs[0].Message, "Do nothing: option - " + c.Name);
        }
    }
}

TEST_F(EngineTest, ResetOptionsRestoresEveryDefault)
{
    for (const TOptionCase &c : OptionCases()) {
        if (c.Before) c.Before(Engine);
        try {
            Engine.SetOption(c.Name, c.Value);
        } catch (const std::exception &) {
        }
    }
    Engine.SetOption("v", "1");
    Engine.SetOption("preset", "slow");
    Engine.ResetOptions();
    TCustomFFmpeg fresh;
    fresh.Reset();

    EXPECT_EQ(Engine.InputFormat, nullptr);
    EXPECT_EQ(Engine.OutputFormat, nullptr);
    EXPECT_EQ(Engine.NumStreamMaps, 0);
    EXPECT_EQ(Engine.NumMetadataMaps, 0);
    EXPECT_EQ(Engine.InputTsScale[0][3], 0.0);
    EXPECT_EQ(Engine.RecordingTime, INT64_MAX);
    EXPECT_EQ(Engine.StartTime, 0);
    EXPECT_EQ(Engine.InputTsOffsetOption, 0);
    EXPECT_EQ(Engine.RecTimestamp, 0);
    EXPECT_EQ(Engine.LimitFileSize, 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Engine.MaxFrames[i], INT32_MAX);
    EXPECT_FALSE(Engine.PacketDump || Engine.HexDump || Engine.RateEmulation || Engine.LoopInput);
    EXPECT_EQ(Engine.LoopOutput, -1);
    EXPECT_EQ(Engine.VideoSyncMethod, -1);
    EXPECT_EQ(Engine.AudioSyncMethod, 0);
    EXPECT_FLOAT_EQ(Engine.AudioDriftThreshold, 0.1f);
    EXPECT_FALSE(Engine.CopyTs || Engine.Shortest || Engine.ExitOnError || Engine.InputSync);
    EXPECT_FLOAT_EQ(Engine.DtsDeltaThreshold, 10.0f);
    EXPECT_EQ(Engine.ProgramId, 0);
    EXPECT_EQ(Engine.CopyInitialNonKeyframes, 0);
    EXPECT_FLOAT_EQ(Engine.MuxPreload, 0.5f);
    EXPECT_FLOAT_EQ(Engine.MuxMaxDelay, 0.7f);
    EXPECT_TRUE(Engine.PendingPrivateOptions.empty());
    // The store is fresh again: "b" back at the library's default.
    EXPECT_EQ(OptionInt(Engine.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO], "b"),
              OptionInt(fresh.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO], "b"));
    EXPECT_EQ(Engine.OptionContexts.Count(), 0u);

    EXPECT_EQ(Engine.FrameWidth, 0);
    EXPECT_EQ(Engine.FrameHeight, 0);
    EXPECT_EQ(Engine.FrameAspectRatio, 0);
    EXPECT_EQ(Engine.FramePixFmt, -1);
    EXPECT_EQ(Engine.FrameRate.num, 0);
    EXPECT_EQ(Engine.FrameRate.den, 0);
    EXPECT_EQ(Engine.PadTop + Engine.PadBottom + Engine.PadLeft + Engine.PadRight, 0);
    EXPECT_EQ(Engine.PadColor[0], 16);
    EXPECT_EQ(Engine.PadColor[1], 128);
    EXPECT_EQ(Engine.PadColor[2], 128);
    EXPECT_EQ(Engine.CropTop + Engine.CropBottom + Engine.CropLeft + Engine.CropRight, 0);
    EXPECT_EQ(Engine.VideoQscale, 0);
    EXPECT_FALSE(Engine.IntraMatrix || Engine.InterMatrix);
    EXPECT_TRUE(Engine.VideoRcOverride.empty() && Engine.VideoCodecName.empty() &&
                Engine.VideoFilters.empty());
    EXPECT_FALSE(Engine.VideoDisable || Engine.VideoStreamCopy || Engine.SameQuality || Engine.Deinterlace);
    EXPECT_EQ(Engine.VideoDiscard, 0);
    EXPECT_EQ(Engine.VideoCodecTag, 0u);
    EXPECT_EQ(Engine.TopFieldFirst, -1);
    EXPECT_EQ(Engine.MeThreshold, 0);
    EXPECT_EQ(Engine.IntraDcPrecision, 8);
    EXPECT_FALSE(Engine.QpHist || Engine.ForceFps || Engine.IntraOnly || Engine.DoPsnr);
    EXPECT_EQ(Engine.VideoGlobalHeader, 0);
    EXPECT_FALSE(Engine.UsingHooks);
    EXPECT_TRUE(Engine.HookList.Empty());
    EXPECT_EQ(Engine.DoPass, 0);
    EXPECT_TRUE(Engine.PassLogFilePrefix.empty() && Engine.VstatsFileName.empty() &&
                Engine.VideoStandard.empty());
    EXPECT_EQ(Engine.VideoChannel, 0);
    EXPECT_TRUE(Engine.VideoBitstreamFilters.empty() && Engine.AudioBitstreamFilters.empty() &&
                Engine.SubtitleBitstreamFilters.empty());
    EXPECT_EQ(Engine.AudioSampleRate, 44100);
    EXPECT_EQ(Engine.AudioChannels, 2);
    EXPECT_EQ(Engine.AudioSampleFmt, -1);
    EXPECT_FLOAT_EQ(Engine.AudioQscale, -99999.0f);
    EXPECT_FALSE(Engine.AudioDisable || Engine.AudioStreamCopy || Engine.SubtitleDisable ||
                 Engine.SubtitleStreamCopy);
    EXPECT_TRUE(Engine.AudioCodecName.empty() && Engine.AudioLanguage.empty() &&
                Engine.SubtitleCodecName.empty() && Engine.SubtitleLanguage.empty());
    EXPECT_EQ(Engine.AudioCodecTag, 0u);
    EXPECT_EQ(Engine.AudioVolume, 256);
    EXPECT_EQ(Engine.Verbose, 1);
    EXPECT_EQ(Engine.ThreadCount, 0);
    EXPECT_EQ(Engine.TotalDuration, -1);
    EXPECT_FALSE(Engine.HasError);
    // Metadata is not an option member: it waits for the next output.
    EXPECT_EQ(Engine.Metadata.size(), 1u);
}

TEST_F(EngineTest, ValueConversionsAndTheirMessages)
{
    struct {
        const char *name, *value, *error;
        int64_t expected; // for the integer options
    } integers[] = {
        {"vframes", "12", "", 12},
        {"vframes", "  12", "", 12},
        {"vframes", "-5", "", -5},
        {"vframes", "+5", "", 5},
        {"vframes", "$1F", "", 31},
        {"vframes", "x1f", "", 31},
        {"vframes", "0X10", "", 16},
        {"vframes", "-$10", "", -16},
        {"vframes", "2147483647", "", 2147483647},
        {"vframes", "2147483648", "'2147483648' is not a valid integer value", 0},
        {"vframes", "12 ", "'12 ' is not a valid integer value", 0},
        {"vframes", "12x", "'12x' is not a valid integer value", 0},
        {"vframes", "1.5", "'1.5' is not a valid integer value", 0},
        {"vframes", "", "'' is not a valid integer value", 0},
        {"vframes", "0x", "'0x' is not a valid integer value", 0},
        {"fs", "5000000000", "", 5000000000LL},
        {"fs", "abc", "'abc' is not a valid integer value", 0},
        // A thread count is 0 (automatic) or more.
        {"threads", "0", "", 0},
        {"threads", "3", "", 3},
        {"threads", "-1", "'-1' is not a valid integer value", 0},
        {"threads", "auto", "'auto' is not a valid integer value", 0},
    };
    for (const auto &row : integers) {
        SCOPED_TRACE(std::string(row.name) + " '" + row.value + "'");
        Engine.MaxFrames[0] = -77;
        Engine.LimitFileSize = -77;
        Engine.ThreadCount = -77;
        EXPECT_EQ(OptionError<EConvertError>(row.name, row.value), row.error);
        const std::string name = row.name;
        const int64_t stored = name == "fs"        ? Engine.LimitFileSize
                               : name == "threads" ? Engine.ThreadCount
                                                   : Engine.MaxFrames[0];
        EXPECT_EQ(stored, *row.error ? -77 : row.expected) << "a failed conversion changes nothing";
    }

    struct {
        const char *value, *error;
        float expected;
    } floats[] = {
        {"1.5", "", 1.5f},
        {" 2.5 ", "", 2.5f},
        {"-3", "", -3.0f},
        {"1e2", "", 100.0f},
        {".5", "", 0.5f},
        {"1,5", "'1,5' is not a valid floating point value", 0},
        {"abc", "'abc' is not a valid floating point value", 0},
        {"", "'' is not a valid floating point value", 0},
        {"1e", "'1e' is not a valid floating point value", 0},
        {"inf", "'inf' is not a valid floating point value", 0},
    };
    for (const auto &row : floats) {
        SCOPED_TRACE(std::string("aq '") + row.value + "'");
        Engine.AudioQscale = -1;
        EXPECT_EQ(OptionError<EConvertError>("aq", row.value), row.error);
        EXPECT_FLOAT_EQ(Engine.AudioQscale, *row.error ? -1.0f : row.expected);
    }

    // Flags: true unless exactly "0"; "copyts" and "xerror" do not look at the value.
    struct {
        const char *name, *value;
        bool expected;
        bool TCustomFFmpeg::*member;
    } flags[] = {
        {"shortest", "0", false, &TCustomFFmpeg::Shortest}, {"shortest", "", true, &TCustomFFmpeg::Shortest},
        {"shortest", "00", true, &TCustomFFmpeg::Shortest}, {"copyts", "0", true, &TCustomFFmpeg::CopyTs},
        {"xerror", "0", true, &TCustomFFmpeg::ExitOnError}, {"vn", "0", false, &TCustomFFmpeg::VideoDisable},
    };
    for (const auto &row : flags) {
        SCOPED_TRACE(std::string(row.name) + " '" + row.value + "'");
        Engine.*row.member = !row.expected;
        Engine.SetOption(row.name, row.value);
        EXPECT_EQ(Engine.*row.member, row.expected);
    }
}

TEST_F(EngineTest, TimesAndDates)
{
    Engine.SetOption("t", "0");
    EXPECT_EQ(Engine.RecordingTime, INT64_MAX) << "0 leaves the recording time unlimited";
    EXPECT_EQ(Engine.TotalDuration, -1);
    Engine.SetOption("t", "00:00:10.5");
    EXPECT_EQ(Engine.RecordingTime, 10500000);
    EXPECT_EQ(Engine.TotalDuration, 10500);
    Engine.SetOption("ss", "0");
    EXPECT_EQ(Engine.StartTime, 0);
    Engine.SetOption("ss", "90");
    EXPECT_EQ(Engine.StartTime, 90000000);

    EXPECT_EQ(OptionError<FFmpegException>("ss", "abc"), "Invalid duration specification for ss: abc");
    EXPECT_EQ(Engine.StartTime, 90000000);
    EXPECT_EQ(OptionError<FFmpegException>("t", "abc"), "Invalid duration specification for t: abc");
    EXPECT_EQ(OptionError<FFmpegException>("itsoffset", "x"),
              "Invalid duration specification for itsoffset: x");
    EXPECT_EQ(OptionError<FFmpegException>("timestamp", "abc"),
              "Invalid date specification for timestamp: abc");

    Engine.SetOption("timestamp", "2010-01-02 03:04:05Z");
    EXPECT_EQ(Engine.RecTimestamp, 1262401445);
    Engine.SetOption("timestamp", "2010-01-02 03:04:05.4Z");
    EXPECT_EQ(Engine.RecTimestamp, 1262401445) << "rounded to the nearest second";
    Engine.SetOption("timestamp", "now");
    EXPECT_NEAR(double(Engine.RecTimestamp), double(std::time(nullptr)), 5.0);

    // The typed setters ignore what they are told to ignore.
    Engine.SetRecordingTimeMs(0);
    EXPECT_EQ(Engine.RecordingTime, 10500000);
    Engine.SetRecordingTimeMs(1500);
    EXPECT_EQ(Engine.RecordingTime, 1500000);
    EXPECT_EQ(Engine.TotalDuration, 1500);
    Engine.SetRecordingTime(-1);
    EXPECT_EQ(Engine.RecordingTime, 1500000);
    Engine.SetRecordingTime(2500000);
    EXPECT_EQ(Engine.TotalDuration, 2500);
    Engine.SetStartTime(-5);
    EXPECT_EQ(Engine.StartTime, 90000000);
    Engine.SetStartTime(7);
    EXPECT_EQ(Engine.StartTime, 7);
}

TEST_F(EngineTest, StreamMapsAndMetadataMaps)
{
    const struct {
        const char *value;
        TStreamMap expected;
    } maps[] = {
        {"0:1", {0, 1, 0, 1}}, {"0.1", {0, 1, 0, 1}},        {"0.1:1.0", {0, 1, 1, 0}},
        {"2", {2, 0, 2, 0}},   {"0x10:010", {16, 8, 16, 8}},
    };
    for (const auto &row : maps) {
        SCOPED_TRACE(row.value);
        Engine.NumStreamMaps = 0;
        Engine.SetOption("map", row.value);
        ASSERT_EQ(Engine.NumStreamMaps, 1);
        const TStreamMap &m = Engine.StreamMaps[0];
        EXPECT_EQ(m.FileIndex, row.expected.FileIndex);
        EXPECT_EQ(m.StreamIndex, row.expected.StreamIndex);
        EXPECT_EQ(m.SyncFileIndex, row.expected.SyncFileIndex);
        EXPECT_EQ(m.SyncStreamIndex, row.expected.SyncStreamIndex);
    }

    Engine.NumStreamMaps = 0;
    for (int i = 0; i < MAX_STREAM_MAPS; ++i) Engine.SetOption("map", "0:" + std::to_string(i % 20));
    EXPECT_EQ(OptionError<FFmpegException>("map", "0:0"), "Too many stream maps (at most 400)");
    EXPECT_EQ(Engine.NumStreamMaps, MAX_STREAM_MAPS);

    Engine.SetOption("map_meta_data", "1:0");
    Engine.SetOption("map_meta_data", "0");
    ASSERT_EQ(Engine.NumMetadataMaps, 2);
    EXPECT_EQ(Engine.MetadataMaps[1].OutFile, 0);
    EXPECT_EQ(Engine.MetadataMaps[1].InFile, 0);
    for (int i = 2; i < MAX_METADATA_MAPS; ++i) Engine.SetOption("map_meta_data", "0:0");
    EXPECT_EQ(OptionError<FFmpegException>("map_meta_data", "0:0"), "Too many metadata maps (at most 20)");
}

TEST_F(EngineTest, MetadataAndTimestampScale)
{
    Engine.SetOption("metadata", "title=a=b");
    Engine.SetOption("metadata", "comment=");
    Engine.AddMetadataPair("author", "x=y");
    EXPECT_EQ(OptionError<FFmpegException>("metadata", "title"), "Missing =");
    ASSERT_EQ(Engine.Metadata.size(), 3u);
    EXPECT_EQ(Engine.Metadata[0], std::make_pair(std::string("title"), std::string("a=b")));
    EXPECT_EQ(Engine.Metadata[1], std::make_pair(std::string("comment"), std::string("")));
    EXPECT_EQ(Engine.Metadata[2], std::make_pair(std::string("author"), std::string("x=y")));

    EXPECT_EQ(OptionError<FFmpegException>("itsscale", "20:1.5"), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(OptionError<FFmpegException>("itsscale", "-1:1.5"), "stream index over MAX_STREAMS(20)");
    Engine.SetOption("itsscale", "19:2");
    EXPECT_EQ(Engine.InputTsScale[0][19], 2.0);
    // The scale is for the next input to be opened.
    TTempFolder folder;
    WriteY4m(folder.File("a.y4m"), "25:1");
    InjectInput(Engine, folder.File("a.y4m"));
    Engine.SetOption("itsscale", "1:0.5");
    EXPECT_EQ(Engine.InputTsScale[1][1], 0.5);
    EXPECT_EQ(Engine.InputTsScale[0][1], 0.0);
    Engine.NumInputFiles = MAX_FILES; // no next input once the table is full
    EXPECT_EQ(OptionError<FFmpegException>("itsscale", "1:0.5"), "Too many input files (at most 20)");
    Engine.NumInputFiles = 1;
}

TEST_F(EngineTest, FileTablesRefuseATwentyFirstFile)
{
    Engine.NumInputFiles = MAX_FILES;
    Engine.NumOutputFiles = MAX_FILES;
    const auto message = [](const std::function<void()> &call) {
        try {
            call();
        } catch (const FFmpegException &e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(message([&] { Engine.OpenInput(u"a.avi"); }), "Too many input files (at most 20)");
    EXPECT_EQ(message([&] { Engine.OpenOutput(u"b.avi"); }), "Too many output files (at most 20)");
    EXPECT_EQ(Engine.NumInputFiles, MAX_FILES);
    EXPECT_EQ(Engine.NumOutputFiles, MAX_FILES);
    Engine.NumInputFiles = Engine.NumOutputFiles = 0; // the tables hold nothing real
}

TEST_F(EngineTest, FormatsByName)
{
    Engine.SetOption("f", "pgmyuv");
    EXPECT_TRUE(Engine.PgmyuvCompat);
    ASSERT_TRUE(Engine.InputFormat && Engine.OutputFormat);
    EXPECT_STREQ(Engine.InputFormat->name, "image2");
    EXPECT_STREQ(Engine.OutputFormat->name, "image2");
    EXPECT_EQ(LogsAt(1), std::vector<std::string>{"pgmyuv format is deprecated, use image2"});

    // A name only a muxer has leaves the input side empty, and the reverse.
    Engine.SetOption("f", "ipod");
    EXPECT_EQ(Engine.InputFormat, nullptr);
    ASSERT_NE(Engine.OutputFormat, nullptr);
    EXPECT_STREQ(Engine.OutputFormat->name, "ipod");
    Engine.SetOption("f", "");
    EXPECT_NE(Engine.OutputFormat, nullptr) << "an empty name does nothing";
    EXPECT_EQ(OptionError<FFmpegException>("f", "nosuchformat"),
              "Unknown input or output format: nosuchformat");

    Engine.SetInputFormat("avi");
    ASSERT_NE(Engine.InputFormat, nullptr);
    EXPECT_STREQ(Engine.InputFormat->name, "avi");
    Engine.SetOutputFormat("matroska");
    ASSERT_NE(Engine.OutputFormat, nullptr);
    EXPECT_STREQ(Engine.OutputFormat->name, "matroska");
    EXPECT_THROW(
        try { Engine.SetInputFormat("ipod"); } catch (const FFmpegException &e) {
            EXPECT_STREQ(e.what(), "Unknown input format: ipod");
            throw;
        },
        FFmpegException);
    EXPECT_THROW(
        try { Engine.SetOutputFormat("nosuch"); } catch (const FFmpegException &e) {
            EXPECT_STREQ(e.what(), "Unknown output format: nosuch");
            throw;
        },
        FFmpegException);
}

TEST_F(EngineTest, GenericStoreAndPendingPrivateOptions)
{
    // A name outside the table is set on the contexts that know it.
    Engine.SetOption("g", "12");
    EXPECT_EQ(Engine.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO]->gop_size, 12);
    ASSERT_EQ(Engine.OptionContexts.Count(), 1u);
    EXPECT_EQ(Engine.OptionContexts.Names[0], "g");
    EXPECT_TRUE(Engine.ApplyGenericIntOption("bufsize", 1000));
    EXPECT_EQ(Engine.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO]->rc_buffer_size, 1000);

    // Names no default context knows are refused but kept for the real
    // demuxer, muxer and encoder; a later value of the same name wins.
    Engine.SetOption("preset", "slow");
    Engine.SetOption("crf", "23");
    EXPECT_FALSE(Engine.ApplyGenericIntOption("crf", 20));
    Engine.SetOption("preset", "fast");
    using TPair = std::pair<std::string, std::string>;
    EXPECT_EQ(Engine.PendingPrivateOptions, (std::vector<TPair>{{"preset", "fast"}, {"crf", "20"}}));

    // A known name with a value the library refuses is not kept.
    {
        TLibraryLogCapture capture;
        Engine.SetOption("g", "abc");
        EXPECT_NE(capture.Text().find("Invalid value \"abc\" for option \"g\""), std::string::npos);
    }
    EXPECT_EQ(Engine.PendingPrivateOptions.size(), 2u);
    EXPECT_EQ(Engine.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO]->gop_size, 12);
    // Nor is an empty value.
    Engine.SetOption("tune", "");
    EXPECT_EQ(Engine.PendingPrivateOptions.size(), 2u);
}

TEST_F(EngineTest, BitrateWarningBelowOneThousand)
{
    const char *warning =
        "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s";
    const struct {
        const char *name, *value;
        bool warns;
    } table[] = {
        {"b", "64", true},  {"b", "64000", false}, {"vb", "999", true},
        {"ab", "64", true}, {"ab", "1000", false},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(std::string(row.name) + " " + row.value);
        Logs.clear();
        Engine.SetOption(row.name, row.value);
        EXPECT_EQ(LogsAt(1), row.warns ? std::vector<std::string>{warning} : std::vector<std::string>{});
    }
    // Nothing is set for an empty value.
    Engine.SetOption("b", "");
    EXPECT_EQ(OptionInt(Engine.OptionContexts.Codec[AVMEDIA_TYPE_VIDEO], "b"), 999);
}

TEST_F(EngineTest, TypedSettersIgnoreOutOfRangeValues)
{
    Engine.SetProgramId(-1);
    EXPECT_EQ(Engine.ProgramId, 0);
    Engine.SetProgramId(3);
    EXPECT_EQ(Engine.ProgramId, 3);
    Engine.SetMuxPreload(0);
    Engine.SetMuxMaxDelay(-1);
    EXPECT_FLOAT_EQ(Engine.MuxPreload, 0.5f);
    EXPECT_FLOAT_EQ(Engine.MuxMaxDelay, 0.7f);
    Engine.SetMuxPreload(0.25f);
    Engine.SetMuxMaxDelay(0.1f);
    EXPECT_FLOAT_EQ(Engine.MuxPreload, 0.25f);
    EXPECT_FLOAT_EQ(Engine.MuxMaxDelay, 0.1f);
    Engine.SetAudioSyncMethod(1);
    Engine.SetVideoSyncMethod(0);
    EXPECT_EQ(Engine.AudioSyncMethod, 1);
    EXPECT_EQ(Engine.VideoSyncMethod, 0);
}

} // namespace
