// The output assembly: the pick on every tab, the shape-keeping padding,
// the audio encoder, the container adjustments, the disc rows and the
// output file's name.
#include <gtest/gtest.h>

#include "CustomProfile.h"
#include "OutputAssembly.h"
#include "ProfileStore.h"
#include "Services.h"
#include "SourceList.h"
#include "TestSupport.h"
#include "TextCodec.h"

namespace {

class TFakeMessages : public TMessageService {
public:
    void ShowMessage(TMessageKind kind, const std::string &text) override { Shown.push_back({kind, text}); }
    std::vector<std::pair<TMessageKind, std::string>> Shown;
};

// A window's state around the assembly: one listed source and the program
// folder's extfile.ini.
struct TAssemblyFixture {
    TTempFolder Folder;
    ProfileStore Store{Folder.Path() + "/"};
    SourceList Sources;
    TFakeMessages Messages;
    OutputAssembly Assembly{Store, Sources, Messages};
    CustomProfile Custom;

    TAssemblyContext Context(int32_t tab)
    {
        TAssemblyContext c;
        c.TabIndex = tab;
        c.OutputFolder = Folder.Path();
        c.Custom = &Custom;
        return c;
    }
};

} // namespace

TEST(OutputAssembly, FitFrameSizeKeepsTheSourceShape)
{
    struct {
        int32_t W, H;
        const char *Target;
        const char *Inner;
        int32_t Pad;
        bool AboveBelow;
    } cases[] = {
        {1280, 720, "320x240", "320X180", 30, true}, // r 1.78
        {640, 480, "480x272", "364X272", 59, false}, // p odd: the inner width grows by 2
        {640, 480, "1280x720", "960X720", 161, false},
        {320, 240, "320x240", "320X240", 1, false}, // the same shape: pads of even(1) = 0, an upper-case X
        {640, 480, "352x288", "352X264", 12, true},
        {720, 576, "720x480", "600X480", 60, false}, // r 1.25: hE 576 >= 480
        {160, 120, "220x176", "220X164", 6, true},
        {1920, 800, "480x272", "480X200", 36, true}, // r 2.4
        {480, 640, "320x240", "180X240", 70, false}, // portrait
    };
    for (const auto &c : cases) {
        TFrameFit fit;
        ASSERT_TRUE(FitFrameSize(c.W, c.H, c.Target, fit)) << c.W << "x" << c.H;
        EXPECT_EQ(fit.InnerSize, c.Inner) << c.W << "x" << c.H << " into " << c.Target;
        EXPECT_EQ(fit.Pad, c.Pad) << c.W << "x" << c.H << " into " << c.Target;
        EXPECT_EQ(fit.BarsAboveBelow, c.AboveBelow) << c.W << "x" << c.H << " into " << c.Target;
    }
    TFrameFit fit;
    EXPECT_FALSE(FitFrameSize(0, 0, "320x240", fit));
    EXPECT_FALSE(FitFrameSize(640, 480, "320", fit));
    EXPECT_FALSE(FitFrameSize(640, 480, "320x0", fit));
}

// One table for the pick and the output record, across the four tabs.
TEST(OutputAssembly, OutputRecordsOfEveryTab)
{
    struct TCase {
        const char *Name;
        int32_t Tab, A, B;     // format/preset, brand/model, or custom type
        const char *AudioLine; // summary line 5
        const char *ExtFile;   // extfile.ini content, null: none
        const char *Ext, *VideoCodec, *AudioCodec, *FrameSize;
        int32_t PadTop, PadLeft, Bitrate;
        const char *FrameRate;
        int32_t Channels, SampleRate, AudioBitrate;
        const char *FileFormat;
        int32_t Target, TargetNorm;
    };
    const char *aac = "音频编码：AAC", *ac3 = "音频编码：AC3", *mp3 = "音频编码：MP3";
    // clang-format off
    const TCase cases[] = {
        {"MP4 preset 7", 0, 1, 7, aac, nullptr, ".mp4", "mpeg4", "libfaac", "364X272", -1, 58, 512000, "24", -1, -1, -1, "", 0, 0},
        {"MP4 preset 12", 0, 1, 12, mp3, nullptr, ".mp4", "mpeg4", "libmp3lame", "960X720", -1, 160, 1800000, "25", -1, -1, -1, "", 0, 0},
        {"3GP H263", 0, 0, 2, aac, nullptr, ".3gp", "h263", "libfaac", "352X264", 12, -1, 384000, "18", 1, 8000, 7400, "", 0, 0},
        {"DVD NTSC", 0, 3, 0, ac3, nullptr, ".mpeg", "", "", "640X480", -1, 40, 6000000, "30000/1001", -1, -1, -1, "", 3, 2},
        {"SVCD PAL", 0, 3, 3, "音频编码：MP2", nullptr, ".mpeg", "", "", "480X360", 108, -1, 2040000, "25", -1, -1, -1, "", 2, 1},
        {"VCD PAL", 0, 3, 5, "音频编码：MP2", nullptr, ".mpeg", "", "", "352X264", 12, -1, 1150000, "25", -1, -1, -1, "", 1, 1},
        {"WMV", 0, 4, 0, "音频编码：WMA", nullptr, ".wmv", "wmv2", "wmav2", "320X240", -1, 0, 384000, "18", -1, -1, -1, "", 0, 0},
        {"RM", 0, 5, 0, ac3, nullptr, ".rm", "rv20", "ac3", "320X240", -1, 0, 384000, "25", -1, -1, -1, "", 0, 0},
        {"MOV", 0, 6, 0, aac, nullptr, ".mov", "mpeg4", "libfaac", "320X240", -1, 0, 288000, "18", -1, -1, -1, "", 0, 0},
        {"MKV", 0, 7, 0, aac, nullptr, ".mkv", "libx264", "libfaac", "960X720", -1, 160, 1800000, "25", -1, -1, -1, "", 0, 0},
        {"FLV, AC-3 line", 0, 8, 0, ac3, nullptr, ".flv", "flv", "libmp3lame", "176X132", 6, -1, 18000, "18", -1, 22050, -1, "", 0, 0},
        {"device avc", 1, 21, 1, aac, nullptr, ".mp4", "avc", "libfaac", "320X240", -1, 0, 288000, "18", -1, -1, -1, "", 0, 0},
        {"device 3GP", 1, 16, 0, aac, nullptr, ".3gp", "mpeg4", "libfaac", "176X132", 6, -1, 192000, "15", 1, 8000, 7400, "", 0, 0},
        {"device WMV", 1, 5, 0, "音频编码：WMA", nullptr, ".wmv", "wmv2", "wmav2", "320X240", -1, 0, 384000, "18", -1, -1, -1, "", 0, 0},
        {"sample, none analysed", 2, 0, 0, aac, nullptr, ".avi", "mpeg4", "libfaac", "320X240", -1, 0, 512000, "24", -1, -1, -1, "", 0, 0},
        {"sample 29.97 fps", 2, 0, 0, "音频编码：AVC", "[mediatype]\nType=mp4\n[video]\nWidth=640\nHeight=360\nVideoBitrate=1500000\nFPS=29.97\n",
         ".mp4", "mpeg4", "", "480X360", -1, 80, 1500000, "24", -1, -1, -1, "", 0, 0},
        {"sample psp", 2, 0, 0, mp3, "[mediatype]\nType=psp\n", "_psp.mp4", "mpeg4", "libfaac", "320X240", -1, 0, 512000, "15000/1001", -1, 24000, -1, "psp", 0, 0},
        {"sample ogg", 2, 0, 0, mp3, "[mediatype]\nType=ogg\n", ".ogg", "libtheora", "flac", "320X240", -1, 0, 512000, "24", -1, -1, -1, "", 0, 0},
        {"sample ipod", 2, 0, 0, mp3, "[mediatype]\nType=ipod\n", "_ipod.mp4", "mpeg4", "libfaac", "320x240", -1, 0, 512000, "24", -1, -1, -1, "", 0, 0},
        {"sample rm10", 2, 0, 0, mp3, "[mediatype]\nType=rm10\n", "_rv10.rm", "rv10", "ac3", "320X240", -1, 0, 512000, "24", -1, -1, -1, "", 0, 0},
        {"sample dvd", 2, 0, 0, mp3, "[mediatype]\nType=dvd\n", "_dvd_auto.mpg", "mpeg4", "libmp3lame", "320X240", -1, 0, 512000, "24", -1, -1, -1, "", 0, 0},
        {"custom MKV", 3, 7, 0, "", nullptr, ".mkv", "libx264", "libmp3lame", "220X164", 6, -1, 38400, "15", -1, -1, -1, "", 0, 0},
        {"custom MPEG", 3, 3, 0, "", nullptr, ".mpeg", "mpeg4", "libmp3lame", "220X164", 6, -1, 38400, "15", -1, -1, -1, "", 0, 0},
        {"custom RM", 3, 5, 0, mp3, nullptr, ".rm", "rv20", "ac3", "220X164", 6, -1, 38400, "15", -1, -1, -1, "", 0, 0},
        {"custom MOV", 3, 6, 0, "", nullptr, ".mov", "mpeg4", "libmp3lame", "220X164", 6, -1, 38400, "15", -1, -1, -1, "", 0, 0},
        {"custom 3GP, MP3 line", 3, 0, 0, mp3, nullptr, ".3gp", "mpeg4", "libfaac", "220X164", 6, -1, 38400, "15", 1, 8000, 7400, "", 0, 0},
        {"custom WMV", 3, 4, 0, aac, nullptr, ".wmv", "wmv2", "wmav2", "220X164", 6, -1, 38400, "15", -1, -1, -1, "", 0, 0},
    };
    // clang-format on
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TAssemblyFixture f;
        f.Sources.Add("/videos/Holiday.avi", {640, 480, 95000});
        if (c.ExtFile) WriteFile(f.Folder.File("extfile.ini"), c.ExtFile);
        TAssemblyContext ctx = f.Context(c.Tab);
        ctx.AudioSummaryLine = c.AudioLine;
        if (c.Tab == 0) ctx.FormatIndex = c.A, ctx.PresetIndex = c.B;
        if (c.Tab == 1) ctx.BrandIndex = c.A, ctx.ModelIndex = c.B;
        if (c.Tab == 3) f.Custom.Reset(), f.Custom.PanelOpen = true, f.Custom.TypeIndex = c.A;
        TOutputOptions o;
        ASSERT_TRUE(f.Assembly.BuildOutputOptions(ctx, " /videos/Holiday.avi ", o));
        EXPECT_TRUE(f.Messages.Shown.empty());
        EXPECT_EQ(o.FileExt, c.Ext);
        EXPECT_EQ(Utf16ToUtf8(o.FileName), f.Folder.Path() + "/HOLIDAY_(new)" + c.Ext);
        EXPECT_EQ(o.VideoCodec, c.VideoCodec);
        EXPECT_EQ(o.AudioCodec, c.AudioCodec);
        EXPECT_EQ(o.FrameSize, c.FrameSize);
        EXPECT_EQ(o.PadTop, c.PadTop);
        EXPECT_EQ(o.PadBottom, c.PadTop);
        EXPECT_EQ(o.PadLeft, c.PadLeft);
        EXPECT_EQ(o.PadRight, c.PadLeft);
        EXPECT_EQ(o.PadColor, 0);
        EXPECT_EQ(o.VideoBitrate, c.Bitrate);
        EXPECT_EQ(o.FrameRate, c.FrameRate);
        EXPECT_EQ(o.AudioChannels, c.Channels);
        EXPECT_EQ(o.AudioSampleRate, c.SampleRate);
        EXPECT_EQ(o.AudioBitrate, c.AudioBitrate);
        EXPECT_EQ(o.FileFormat, c.FileFormat);
        EXPECT_EQ(o.Target, c.Target);
        EXPECT_EQ(o.TargetNorm, c.TargetNorm);
        EXPECT_TRUE(o.DisableSubtitle);
        EXPECT_FALSE(o.CopyTimestamp);
        EXPECT_FALSE(o.CustomHook);
        EXPECT_EQ(o.Info.Timestamp, 0);
        EXPECT_EQ(o.DurationMS, -1);
        EXPECT_EQ(f.Assembly.Choice.FallbackAudio, c.Tab == 3 ? "libmp3lame" : "");
    }
}

// A pick that has no values shows why, builds nothing and keeps the
// previous choice.
TEST(OutputAssembly, PicksWithoutValuesShowAMessageAndKeepTheChoice)
{
    struct {
        const char *Name;
        int32_t Tab;
        bool PanelOpen;
        const char *Width, *Height, *Bitrate, *Fps;
        const char *ExtFile;
        const char *Message;
    } cases[] = {
        {"panel not opened", 3, false, "220", "176", "38400", "15", nullptr, "请设定对应视频参数！"},
        {"no width", 3, true, " ", "176", "38400", "15", nullptr, "请设定输入视频尺寸！"},
        {"no height", 3, true, "220", "", "38400", "15", nullptr, "请设定输入视频尺寸！"},
        {"no bit rate", 3, true, "220", "176", "", "", nullptr, "请输入视频比特率！"},
        {"no frame rate", 3, true, "220", "176", "38400", "", nullptr, "请输入帧速率！"},
        {"pasted letters", 3, true, "22a", "176", "38400", "15", nullptr, "视频尺寸必须是大于 0 的整数！"},
        {"zero bit rate", 3, true, "220", "176", "0", "15", nullptr, "视频比特率必须是大于 0 的整数！"},
        {"sample without picture", 2, true, "", "", "", "", "[video]\nWidth=0\nHeight=0\n",
         "样本视频没有图像，无法按它生成视频，请重新分析一个视频文件！"},
        {"format preset beyond the table, no file", 0, true, "", "", "", "", nullptr,
         "请先选择一个输出方案！"},
        {"tab out of range", 7, true, "", "", "", "", nullptr, "请先选择一个输出方案！"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        TAssemblyFixture f;
        f.Sources.Add("/v/a.avi", {320, 240, 1000});
        TAssemblyContext first = f.Context(0);
        first.FormatIndex = 1;
        first.PresetIndex = 7;
        ASSERT_TRUE(f.Assembly.PickProfileSettings(first));
        choice_rec before = f.Assembly.Choice;
        if (c.ExtFile) WriteFile(f.Folder.File("extfile.ini"), c.ExtFile);
        f.Custom.PanelOpen = c.PanelOpen;
        f.Custom.Width = c.Width;
        f.Custom.Height = c.Height;
        f.Custom.Bitrate = c.Bitrate;
        f.Custom.Fps = c.Fps;
        TAssemblyContext ctx = f.Context(c.Tab);
        ctx.FormatIndex = 1;
        ctx.PresetIndex = 40;
        TOutputOptions o;
        EXPECT_FALSE(f.Assembly.BuildOutputOptions(ctx, "/v/a.avi", o));
        ASSERT_EQ(f.Messages.Shown.size(), 1u);
        EXPECT_EQ(f.Messages.Shown[0].first, mkError);
        EXPECT_EQ(f.Messages.Shown[0].second, c.Message);
        EXPECT_EQ(f.Assembly.Choice.Ext, before.Ext);
        EXPECT_EQ(f.Assembly.Choice.Size, before.Size);
        EXPECT_EQ(f.Assembly.Choice.Bitrate, before.Bitrate);
        EXPECT_EQ(f.Assembly.Choice.FallbackAudio, "");
    }
}

// A profile file added beyond a table's rows gives its own values.
TEST(OutputAssembly, ProfilesBeyondTheTablesUseTheirOwnFiles)
{
    TAssemblyFixture f;
    f.Sources.Add("/v/clip.avi", {640, 480, 1000});
    WriteFile(f.Folder.File("extra.ini"), "[mediatype]\nType=mp4\n[video]\nVideoCodec=H264\nVideoBitrate="
                                          "900000\nWidth=960\nHeight=540\nFPS=30\n"
                                          "[audio]\nAudioCodec=AAC\n");
    TAssemblyContext ctx = f.Context(0);
    ctx.FormatIndex = 1;
    ctx.PresetIndex = 17;
    ctx.PresetFile = f.Folder.File("extra.ini");
    TOutputOptions o;
    ASSERT_TRUE(f.Assembly.BuildOutputOptions(ctx, "/v/clip.avi", o));
    EXPECT_EQ(o.FileExt, ".mp4");
    EXPECT_EQ(o.VideoCodec, "libx264");
    EXPECT_EQ(o.VideoBitrate, 900000);
    EXPECT_EQ(o.FrameRate, "30");
    EXPECT_EQ(o.FrameSize, "720X540");
    EXPECT_EQ(o.PadLeft, 120);

    // A device model beyond its brand's rows: the container from "Type".
    WriteFile(f.Folder.File("model.ini"), "[mediatype]\nType=mkv\n[video]\nVideoBitrate=700000\nWidth=640\n"
                                          "Height=480\nFPS=23.976\n");
    TAssemblyContext dev = f.Context(1);
    dev.BrandIndex = 0;
    dev.ModelIndex = 2;
    dev.ModelFile = f.Folder.File("model.ini");
    ASSERT_TRUE(f.Assembly.BuildOutputOptions(dev, "/v/clip.avi", o));
    EXPECT_EQ(o.FileExt, ".mkv");
    EXPECT_EQ(o.VideoCodec, "libx264");
    EXPECT_EQ(o.FrameRate, "24");

    // One without a size: a message, nothing built.
    WriteFile(f.Folder.File("junk.ini"), "[video]\nWidth=abc\nHeight=480\nVideoBitrate=1\nFPS=25\n");
    dev.ModelFile = f.Folder.File("junk.ini");
    EXPECT_FALSE(f.Assembly.BuildOutputOptions(dev, "/v/clip.avi", o));
    ASSERT_EQ(f.Messages.Shown.size(), 1u);
    EXPECT_EQ(f.Messages.Shown[0].second, "所选方案缺少视频尺寸、码率或帧速率，请另选方案！");
}

TEST(OutputAssembly, OutputNamesAreNumberedWhenTaken)
{
    TTempFolder t;
    EXPECT_EQ(OutputFileName(t.Path(), "CLIP", ".mp4"), t.Path() + "/CLIP_(new).mp4");
    WriteFile(t.File("CLIP_(new).mp4"), "x");
    EXPECT_EQ(OutputFileName(t.Path() + "/", "CLIP", ".mp4"), t.Path() + "/CLIP_(new_1).mp4");
    WriteFile(t.File("CLIP_(new_1).mp4"), "x");
    WriteFile(t.File("CLIP_(new_3).mp4"), "x");
    EXPECT_EQ(OutputFileName(t.Path(), "CLIP", ".mp4"), t.Path() + "/CLIP_(new_2).mp4");
    EXPECT_EQ(OutputFileName(t.Path(), "CLIP", ".avi"), t.Path() + "/CLIP_(new).avi");
}

TEST(OutputAssembly, RowsTheBaseNameAndTheClip)
{
    TAssemblyFixture f;
    // Two rows named CLIP from different folders: the last one's resolution.
    f.Sources.Add("/a/Clip.avi", {1280, 720, 1000});
    f.Sources.Add("/b/CLIP.mkv", {640, 480, 1000});
    f.Sources.Add("/c/audio only.mp3", {0, 0, 1000});
    f.Sources.Add("/d/café.avi", {320, 240, 1000});
    TAssemblyContext ctx = f.Context(0);
    ctx.FormatIndex = 1;
    ctx.PresetIndex = 0; // 320x240
    TOutputOptions o;
    ASSERT_TRUE(f.Assembly.BuildOutputOptions(ctx, "/a/Clip.avi", o));
    EXPECT_EQ(o.FrameSize, "320X240");
    EXPECT_EQ(o.PadLeft, 0);
    EXPECT_EQ(Utf16ToUtf8(o.FileName), f.Folder.Path() + "/CLIP_(new).mp4");

    // No picture size: the target size without padding.
    ASSERT_TRUE(f.Assembly.BuildOutputOptions(ctx, "/c/audio only.mp3", o));
    EXPECT_EQ(o.FrameSize, "320x240");
    EXPECT_EQ(o.PadTop, -1);
    EXPECT_EQ(o.PadLeft, -1);
    EXPECT_EQ(Utf16ToUtf8(o.FileName), f.Folder.Path() + "/AUDIO ONLY_(new).mp4");
    ASSERT_TRUE(f.Assembly.BuildOutputOptions(ctx, "/d/café.avi", o));
    EXPECT_EQ(Utf16ToUtf8(o.FileName), f.Folder.Path() + "/CAFÉ_(new).mp4");

    // The clip limits output and input; the input keeps the path that exists.
    ctx.ClipActive = true;
    ctx.ClipStartMs = 10000;
    ctx.ClipLengthMs = 5000;
    WriteFile(f.Folder.File("Real Name.avi"), "");
    TInputOptions in;
    ASSERT_TRUE(f.Assembly.BuildOutputOptions(ctx, f.Folder.File("Real Name.avi"), o));
    f.Assembly.BuildInputOptions(ctx, " " + f.Folder.File("Real Name.avi") + " ", in);
    EXPECT_EQ(o.DurationMS, 5000);
    EXPECT_EQ(in.StartTimeMS, 10000);
    EXPECT_EQ(Utf16ToUtf8(in.FileName), f.Folder.File("Real Name.avi"));
    EXPECT_EQ(in.FileFormat, "");
    ctx.ClipActive = false;
    f.Assembly.BuildInputOptions(ctx, f.Folder.File("Real Name.avi"), in);
    EXPECT_EQ(in.StartTimeMS, -1);

    // A custom pick leaves its audio fallback for the picks that follow.
    f.Custom.Reset();
    f.Custom.PanelOpen = true;
    ASSERT_TRUE(f.Assembly.PickProfileSettings(f.Context(3)));
    ctx.AudioSummaryLine = "音频编码：Vorbis";
    ASSERT_TRUE(f.Assembly.BuildOutputOptions(ctx, "/a/Clip.avi", o));
    EXPECT_EQ(o.AudioCodec, "libmp3lame");
    EXPECT_EQ(o.VideoCodec, "mpeg4");
}

TEST(OutputAssembly, TextHelpers)
{
    EXPECT_EQ(AudioEncoderOfSummary("音频编码：AAC"), "libfaac");
    EXPECT_EQ(AudioEncoderOfSummary("音频编码：AC3"), "ac3");
    EXPECT_EQ(AudioEncoderOfSummary("音频编码：FLAC"), "flac");
    EXPECT_EQ(AudioEncoderOfSummary("音频编码：MP3"), "libmp3lame");
    EXPECT_EQ(AudioEncoderOfSummary("音频编码：aac"), "");
    EXPECT_EQ(AudioEncoderOfSummary("音频编码：AAC "), "");
    EXPECT_EQ(UpperCaseText("holiday-é-ß-日本"), "HOLIDAY-É-ß-日本");
    EXPECT_EQ(BaseNameOf("/a.b/c.d.avi"), "c.d");
    EXPECT_EQ(BaseNameOf("/a/.hidden"), ".hidden");
    EXPECT_EQ(BaseNameOf("noext"), "noext");
}
