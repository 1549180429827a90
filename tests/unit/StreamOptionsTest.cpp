// The video, audio and subtitle options and their checks.
#include <cctype>

#include "Assert.h"
#include "EngineTestSupport.h"
#include "ProgramFolder.h"
#include "MyUtils.h"

namespace {

// `text` is `prefix`, then digits only up to `suffix` (at least one digit).
bool DigitsBetween(const std::string &text, const std::string &prefix, const std::string &suffix,
                   size_t count = 0)
{
    if (text.size() <= prefix.size() + suffix.size() || text.rfind(prefix, 0) != 0 ||
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    const std::string digits = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
    if (count && digits.size() != count) return false;
    for (char c : digits)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string Hook(const std::string &name) { return std::string(VIDMORPH_HOOK_DIR) + "/" + name; }

TEST_F(EngineTest, FrameSizeAndRate)
{
    EXPECT_EQ(OptionError<FFmpegException>("s", "641x480"), "Frame size must be a multiple of 2");
    EXPECT_EQ(Engine.FrameWidth, 641) << "the odd size stays stored";
    EXPECT_EQ(Engine.FrameHeight, 480);
    EXPECT_EQ(OptionError<FFmpegException>("s", "abc"), "Incorrect frame size");
    EXPECT_EQ(Engine.FrameWidth, 641);
    Engine.SetOption("s", "320x240");
    EXPECT_EQ(Engine.FrameWidth, 320);
    EXPECT_EQ(Engine.FrameHeight, 240);

    EXPECT_EQ(OptionError<FFmpegException>("r", "abc"), "Incorrect frame rate");
    EXPECT_EQ(Engine.FrameRate.den, 0);
    Engine.SetOption("r", "29.97");
    EXPECT_EQ(Engine.FrameRate.num * 1000 / Engine.FrameRate.den, 29970);
    Engine.SetOption("r", "");
    EXPECT_NE(Engine.FrameRate.den, 0) << "an empty rate does nothing";
    Engine.SetOption("r", "24000/1001");
    EXPECT_EQ(Engine.FrameRate.num, 24000);
    EXPECT_EQ(Engine.FrameRate.den, 1001);
}

TEST_F(EngineTest, CropAgainstTheKnownFrameSize)
{
    const std::string vertical = "Vertical crop dimensions are outside the range of the original image.\n"
                                 "Remember to crop first and scale second.";
    const std::string horizontal = "Horizontal crop dimensions are outside the range of the original image.\n"
                                   "Remember to crop first and scale second.";
    const struct {
        const char *name;
        const char *value;
        std::string error;
        int crop, width, height; // afterwards
    } table[] = {
        {"croptop", "10", "", 10, 640, 470},
        {"croptop", "480", vertical, 0, 640, 480},
        {"croptop", "478", "", 478, 640, 2},
        {"croptop", "-2", "", 0, 640, 480},
        {"croptop", "3", "Top crop size must be a multiple of 2", 0, 640, 480},
        {"cropbottom", "20", "", 20, 640, 460},
        {"cropbottom", "5", "Bottom crop size must be a multiple of 2", 0, 640, 480},
        {"cropbottom", "500", vertical, 0, 640, 480},
        {"cropleft", "40", "", 40, 600, 480},
        {"cropleft", "7", "Left crop size must be a multiple of 2", 0, 640, 480},
        {"cropleft", "640", horizontal, 0, 640, 480},
        {"cropright", "2", "", 2, 638, 480},
        {"cropright", "1", "Right crop size must be a multiple of 2", 0, 640, 480},
        {"cropright", "642", horizontal, 0, 640, 480},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(std::string(row.name) + " " + row.value);
        TCustomFFmpeg e;
        e.Reset();
        e.SetOption("s", "640x480");
        std::string error;
        try {
            e.SetOption(row.name, row.value);
        } catch (const FFmpegException &x) {
            error = x.what();
        }
        EXPECT_EQ(error, row.error);
        const std::string name = row.name;
        const int crop = name == "croptop"      ? e.CropTop
                         : name == "cropbottom" ? e.CropBottom
                         : name == "cropleft"   ? e.CropLeft
                                                : e.CropRight;
        EXPECT_EQ(crop, row.crop);
        EXPECT_EQ(e.FrameWidth, row.width);
        EXPECT_EQ(e.FrameHeight, row.height);
    }

    // Crops on one side add up in the size; the member keeps the last one.
    Engine.SetOption("s", "640x480");
    Engine.SetOption("croptop", "10");
    Engine.SetOption("croptop", "20");
    EXPECT_EQ(Engine.CropTop, 20);
    EXPECT_EQ(Engine.FrameHeight, 450);
    // Before any size is known, every crop is out of range.
    TCustomFFmpeg fresh;
    fresh.Reset();
    EXPECT_THROW(fresh.SetCropLeft(2), FFmpegException);
}

TEST_F(EngineTest, PadsAndPadColor)
{
    const struct {
        const char *name, *value, *error;
        int TCustomFFmpeg::*member;
        int expected;
    } pads[] = {
        {"padtop", "8", "", &TCustomFFmpeg::PadTop, 8},
        {"padtop", "-2", "", &TCustomFFmpeg::PadTop, 0},
        {"padtop", "3", "Top pad size must be a multiple of 2", &TCustomFFmpeg::PadTop, 0},
        {"padbottom", "1", "Bottom pad size must be a multiple of 2", &TCustomFFmpeg::PadBottom, 0},
        {"padleft", "9", "Left pad size must be a multiple of 2", &TCustomFFmpeg::PadLeft, 0},
        {"padright", "11", "Right pad size must be a multiple of 2", &TCustomFFmpeg::PadRight, 0},
        {"padright", "12", "", &TCustomFFmpeg::PadRight, 12},
    };
    for (const auto &row : pads) {
        SCOPED_TRACE(std::string(row.name) + " " + row.value);
        Engine.*row.member = 0;
        EXPECT_EQ(OptionError<FFmpegException>(row.name, row.value), row.error);
        EXPECT_EQ(Engine.*row.member, row.expected);
    }

    const struct {
        int color;
        int y, cb, cr;
    } colors[] = {
        {0x000000, 0, 128, 128}, {0xFFFFFF, 255, 128, 128}, {0x0000FF, 76, 85, 255}, // red, 0x00BBGGRR
    };
    for (const auto &row : colors) {
        SCOPED_TRACE(row.color);
        Engine.SetPadColor(row.color);
        EXPECT_EQ(Engine.PadColor[0], row.y);
        EXPECT_EQ(Engine.PadColor[1], row.cb);
        EXPECT_EQ(Engine.PadColor[2], row.cr);
    }
    Engine.SetOption("padcolor", "255");
    EXPECT_EQ(Engine.PadColor[0], 76);
}

TEST_F(EngineTest, AspectRatio)
{
    const struct {
        const char *value;
        float expected; // 0: refused
    } table[] = {
        {"16:9", 1.7777778f}, {"4:3", 1.3333334f}, {"1.5", 1.5f}, {" 2.35 ", 2.35f}, {"4:0", 0},
        {"abc", 0},           {"a:3", 0},          {"0", 0},      {"4:-3", 0},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.value);
        Engine.FrameAspectRatio = 0.5f;
        EXPECT_EQ(OptionError<FFmpegException>("aspect", row.value),
                  row.expected ? "" : "Incorrect aspect ratio specification.");
        EXPECT_FLOAT_EQ(Engine.FrameAspectRatio, row.expected ? row.expected : 0.5f);
    }
    Engine.SetOption("aspect", "");
    EXPECT_FLOAT_EQ(Engine.FrameAspectRatio, 0.5f);
}

TEST_F(EngineTest, QscaleRange)
{
    const struct {
        const char *value;
        bool accepted;
    } table[] = {{"0", false},  {"-1", false},  {"256", false}, {"255.5", false},
                 {"255", true}, {"0.01", true}, {"31", true}};
    for (const auto &row : table) {
        SCOPED_TRACE(row.value);
        Engine.VideoQscale = 7;
        EXPECT_EQ(OptionError<FFmpegException>("qscale", row.value),
                  row.accepted ? "" : "qscale must be > 0.0 and <= 255");
        EXPECT_FLOAT_EQ(Engine.VideoQscale, row.accepted ? std::stof(row.value) : 7.0f);
    }
}

TEST_F(EngineTest, CodecNamesAndStreamCopy)
{
    Engine.SetOption("vcodec", "copy");
    EXPECT_TRUE(Engine.VideoStreamCopy);
    EXPECT_TRUE(Engine.VideoCodecName.empty());
    Engine.SetOption("vcodec", "mpeg4");
    EXPECT_TRUE(Engine.VideoStreamCopy) << "a later name does not clear the copy";
    EXPECT_EQ(Engine.VideoCodecName, "mpeg4");
    Engine.SetOption("vcodec", "");
    EXPECT_EQ(Engine.VideoCodecName, "mpeg4");
    Engine.SetOption("vcodec", "copy");
    EXPECT_TRUE(Engine.VideoCodecName.empty()) << "copy frees the name";

    Engine.SetOption("acodec", "copy");
    Engine.SetOption("scodec", "mov_text");
    EXPECT_TRUE(Engine.AudioStreamCopy);
    EXPECT_EQ(Engine.SubtitleCodecName, "mov_text");
    EXPECT_FALSE(Engine.SubtitleStreamCopy);
}

TEST_F(EngineTest, FourCharacterTagsPackLittleEndian)
{
    Engine.SetOption("vtag", "xvid");
    EXPECT_EQ(Engine.VideoCodecTag, 0x64697678u);
    Engine.SetOption("atag", "mp4a");
    EXPECT_EQ(Engine.AudioCodecTag, 0x6134706Du);
    Engine.SetOption("vtag", "");
    EXPECT_EQ(Engine.VideoCodecTag, 0x64697678u);

    const struct {
        const char *name, *value, *message;
    } bad[] = {
        {"vtag", "xvi", "video tag parameter must be 4 chars"},
        {"vtag", "xvidx", "video tag parameter must be 4 chars"},
        {"atag", "mp4", "audio tag parameter must be 4 chars"},
    };
    for (const auto &row : bad) {
        SCOPED_TRACE(std::string(row.name) + " " + row.value);
        const std::string error = OptionError<EAssertionFailed>(row.name, row.value);
        EXPECT_TRUE(DigitsBetween(error, std::string(row.message) + " (FFmpegStreamOptions.cpp, line ", ")"))
            << error;
    }
    EXPECT_EQ(Engine.VideoCodecTag, 0x64697678u);
    EXPECT_EQ(Engine.AudioCodecTag, 0x6134706Du);
}

TEST_F(EngineTest, QuantiserMatrices)
{
    std::string sixtyFour, sixtyThree;
    for (int i = 0; i < 64; ++i) sixtyFour += (i ? "," : "") + std::to_string(8 + 2 * i);
    sixtyThree = sixtyFour.substr(0, sixtyFour.rfind(','));

    Engine.SetOption("intra_matrix", sixtyFour);
    ASSERT_TRUE(Engine.IntraMatrix);
    for (int i = 0; i < 64; ++i) EXPECT_EQ((*Engine.IntraMatrix)[size_t(i)], 8 + 2 * i) << i;

    EXPECT_EQ(OptionError<FFmpegException>("inter_matrix", sixtyThree),
              "Syntax error in matrix \"" + sixtyThree + "\" at coeff 62");
    // A second matrix reuses the first one's storage, zeroed again.
    EXPECT_EQ(OptionError<FFmpegException>("intra_matrix", "1,2"),
              "Syntax error in matrix \"1,2\" at coeff 1");
    EXPECT_EQ((*Engine.IntraMatrix)[0], 1);
    EXPECT_EQ((*Engine.IntraMatrix)[1], 2);
    EXPECT_EQ((*Engine.IntraMatrix)[2], 0);
    // What follows the 64th value is ignored.
    Engine.SetOption("inter_matrix", sixtyFour + ",99,100");
    EXPECT_EQ((*Engine.InterMatrix)[63], 8 + 2 * 63);
}

TEST_F(EngineTest, BitstreamFiltersChainInOrder)
{
    Engine.SetOption("vbsf", "h264_mp4toannexb");
    Engine.SetOption("vbsf", "dump_extra=freq=keyframe");
    ASSERT_EQ(Engine.VideoBitstreamFilters.size(), 2u);
    EXPECT_STREQ(Engine.VideoBitstreamFilters[0]->name, "h264_mp4toannexb");
    EXPECT_STREQ(Engine.VideoBitstreamFilters[1]->name, "dump_extra");

    EXPECT_EQ(OptionError<FFmpegException>("absf", " nonexistent "), "Unknown bitstream filter nonexistent");
    EXPECT_TRUE(Engine.AudioBitstreamFilters.empty());
    Engine.SetOption("absf", "=aac_adtstoasc");
    Engine.SetOption("absf", "");
    EXPECT_TRUE(Engine.AudioBitstreamFilters.empty());
    Engine.SetOption("absf", "aac_adtstoasc");
    Engine.SetOption("sbsf", "null");
    ASSERT_EQ(Engine.AudioBitstreamFilters.size(), 1u);
    ASSERT_EQ(Engine.SubtitleBitstreamFilters.size(), 1u);
    EXPECT_STREQ(Engine.SubtitleBitstreamFilters[0]->name, "null");
    EXPECT_EQ(Engine.VideoBitstreamFilters.size(), 2u);
}

TEST_F(EngineTest, PixelAndSampleFormats)
{
    Engine.SetOption("pix_fmt", "yuv420p");
    EXPECT_EQ(Engine.FramePixFmt, AV_PIX_FMT_YUV420P);
    Engine.SetOption("pix_fmt", "nosuchformat");
    EXPECT_EQ(Engine.FramePixFmt, -1) << "an unknown name is not an error";
    Engine.SetOption("sample_fmt", "fltp");
    EXPECT_EQ(Engine.AudioSampleFmt, AV_SAMPLE_FMT_FLTP);
    Engine.SetOption("sample_fmt", "nosuch");
    EXPECT_EQ(Engine.AudioSampleFmt, -1);

    Logs.clear();
    Engine.SetOption("pix_fmt", "list");
    std::vector<std::string> lines = LogsAt(1);
    ASSERT_GT(lines.size(), 100u);
    EXPECT_EQ(lines[0].rfind("name", 0), 0u) << lines[0];
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string &l) { return l.rfind("yuv420p ", 0) == 0; }),
              lines.end());
    for (const std::string &l : lines) EXPECT_TRUE(!l.empty() && l.back() != ' ' && l.front() != ' ') << l;
    EXPECT_EQ(Engine.FramePixFmt, -1) << "listing leaves the format as it was";

    Logs.clear();
    Engine.SetOption("sample_fmt", "list");
    lines = LogsAt(1);
    ASSERT_EQ(lines.size(), size_t(AV_SAMPLE_FMT_NB) + 1);
    EXPECT_EQ(lines[0].rfind("name", 0), 0u);
    EXPECT_EQ(lines[1].rfind("u8", 0), 0u);
}

TEST_F(EngineTest, PassesStatisticsAndFilters)
{
    EXPECT_EQ(OptionError<FFmpegException>("pass", "3"), "pass number can be only 1 or 2");
    EXPECT_EQ(OptionError<FFmpegException>("pass", "0"), "pass number can be only 1 or 2");
    EXPECT_EQ(Engine.DoPass, 0);
    Engine.SetOption("pass", "1");
    EXPECT_EQ(Engine.DoPass, 1);

    Engine.SetOption("vstats", "");
    const std::string folder = MyUtils::Utf16ToUtf8(ProgramFolder());
    EXPECT_EQ(Engine.VstatsFileName.rfind(folder + "vstats_", 0), 0u) << Engine.VstatsFileName;
    EXPECT_TRUE(DigitsBetween(Engine.VstatsFileName, folder + "vstats_", ".log", 6)) << Engine.VstatsFileName;
    Engine.SetVstats(false);
    EXPECT_TRUE(Engine.VstatsFileName.empty());
    Engine.SetOption("vstats_file", "stats.log");
    EXPECT_EQ(Engine.VstatsFileName, "stats.log");

    Engine.SetOption("vfilters", "scale=320:240");
    Engine.SetOption("vfilters", "");
    EXPECT_EQ(Engine.VideoFilters, "scale=320:240") << "only a non-empty value replaces the chain";

    Engine.SetOption("ar", "0");
    Engine.SetOption("ac", "-1");
    EXPECT_EQ(Engine.AudioSampleRate, 44100);
    EXPECT_EQ(Engine.AudioChannels, 2);
    Engine.SetOption("vol", "-5");
    EXPECT_EQ(Engine.AudioVolume, -5) << "the option stores any volume";
    Engine.SetAudioVolume(-1);
    EXPECT_EQ(Engine.AudioVolume, -5) << "the setter ignores a negative one";
    Engine.SetAudioVolume(128);
    EXPECT_EQ(Engine.AudioVolume, 128);
}

TEST_F(EngineTest, VideoHooksSplitTheirCommandLine)
{
    const struct {
        std::string commandLine;
        bool accepted;
    } table[] = {
        {Hook("box.so"), true},
        {Hook("box.so") + " -x 10  -y 20", true}, // blanks separate, empty fields skipped
        {Hook("box.so") + "||-x||10|", true},     // so do "|"
        {Hook("box.so") + "|-x 10", false},       // with a "|", "-x 10" is one argument
        {Hook("grey.so") + " extra", false},      // no Configure for an argument
        {Hook("nosuch.so"), false},
        {"", false},
    };
    size_t added = 0;
    for (const auto &row : table) {
        SCOPED_TRACE(row.commandLine);
        EXPECT_EQ(OptionError<FFmpegException>("vhook", row.commandLine),
                  row.accepted ? "" : "Failed to add video hook function: " + row.commandLine);
        if (row.accepted) ++added;
        EXPECT_EQ(Engine.HookList.Count(), added);
    }
    EXPECT_TRUE(Engine.UsingHooks);
    Engine.Reset();
    EXPECT_TRUE(Engine.HookList.Empty());
    EXPECT_FALSE(Engine.UsingHooks);
}

} // namespace
