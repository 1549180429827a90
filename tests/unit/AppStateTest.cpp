// The window's state without the window: settings, source rows, run
// control, the preview track and clip, and the custom fields.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "AppSettings.h"
#include "ClipRange.h"
#include "CustomProfile.h"
#include "IniFile.h"
#include "RunControl.h"
#include "SourceList.h"
#include "TestSupport.h"
#include "UserFolders.h"

TEST(AppSettings, OutputFolderDefaultIsWrittenOnceAndCreatedOneLevelDeep)
{
    TTempFolder t;
    AppSettings settings(t.Path() + "/", t.Path() + "/Videos");
    EXPECT_EQ(settings.DefaultOutputFolder(), t.Path() + "/Videos/输出视频");
    EXPECT_EQ(settings.ReadOutputFolder(), t.Path() + "/Videos/输出视频");
    EXPECT_EQ(TIniFile(t.File("config.ini")).ReadString("savepath", "newfilepath", ""),
              t.Path() + "/Videos/输出视频");

    std::string message;
    // The parent (Videos) does not exist: one level only.
    EXPECT_FALSE(AppSettings::EnsureOutputFolder(settings.ReadOutputFolder(), message));
    EXPECT_EQ(message, "未能创建 " + t.Path() + "/Videos/输出视频 目录！");
    ASSERT_EQ(::mkdir(t.File("Videos").c_str(), 0755), 0);
    EXPECT_TRUE(AppSettings::EnsureOutputFolder(settings.ReadOutputFolder(), message));
    EXPECT_TRUE(AppSettings::EnsureOutputFolder(settings.ReadOutputFolder(), message));
    EXPECT_TRUE(AppSettings::CheckOutputFolderWritable(t.File("Videos/输出视频"), message));
    EXPECT_FALSE(AppSettings::CheckOutputFolderWritable(t.File("nowhere"), message));
    EXPECT_NE(message.find("nowhere"), std::string::npos);
    if (::geteuid() != 0) {
        ::chmod(t.File("Videos").c_str(), 0555);
        EXPECT_FALSE(AppSettings::CheckOutputFolderWritable(t.File("Videos"), message));
        ::chmod(t.File("Videos").c_str(), 0755);
    }

    ASSERT_TRUE(settings.WriteOutputFolder("/srv/out"));
    EXPECT_EQ(settings.ReadOutputFolder(), "/srv/out");
    EXPECT_EQ(AppSettings("/", t.Path()).DefaultOutputFolder(), t.Path() + "/输出视频");
}

TEST(AppSettings, SelectionMemoryAndSkin)
{
    TTempFolder t;
    AppSettings settings(t.Path(), t.Path());
    EXPECT_EQ(settings.SkinName(), "Topaz");
    TSelectionMemory none = settings.ReadSelection();
    EXPECT_EQ(none.ComboBox1 + none.ComboBox2 + none.ComboBox3 + none.ComboBox4 + none.TabIndex, 0);
    ASSERT_TRUE(settings.WriteFormatSelection(3, 0));
    ASSERT_TRUE(settings.WriteDeviceSelection(12, 4));
    ASSERT_TRUE(settings.WriteTabIndex(1));
    TSelectionMemory m = settings.ReadSelection();
    EXPECT_EQ(m.ComboBox1, 3);
    EXPECT_EQ(m.ComboBox2, 0);
    EXPECT_EQ(m.ComboBox3, 12);
    EXPECT_EQ(m.ComboBox4, 4);
    EXPECT_EQ(m.TabIndex, 1);
    WriteFile(t.File("config.ini"), "[skin]\nname=WLM\n[select]\ncombobox1=abc\ntabindex=2\n");
    EXPECT_EQ(settings.SkinName(), "WLM");
    EXPECT_EQ(settings.ReadSelection().ComboBox1, 0);
    EXPECT_EQ(settings.ReadSelection().TabIndex, 2);
    EXPECT_FALSE(settings.ReadBool("preview", "enabled", false));
    ASSERT_TRUE(settings.WriteBool("preview", "enabled", true));
    EXPECT_TRUE(settings.ReadBool("preview", "enabled", false));
}

TEST(UserFolders, VideoFolderFromUserDirsThenVideosThenHome)
{
    TTempFolder t;
    std::string home = t.File("home"), config = t.File("home/.config");
    ::mkdir(home.c_str(), 0755);
    ::mkdir(config.c_str(), 0755);
    EXPECT_EQ(UserVideosFolder(home, config), home);
    ::mkdir((home + "/Videos").c_str(), 0755);
    EXPECT_EQ(UserVideosFolder(home, config), home + "/Videos");
    ::mkdir((home + "/视频").c_str(), 0755);
    WriteFile(config + "/user-dirs.dirs",
              "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_VIDEOS_DIR=\"$HOME/视频\"\n");
    EXPECT_EQ(UserVideosFolder(home, config), home + "/视频");
    // A named folder that does not exist falls back.
    WriteFile(config + "/user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Missing\"\n");
    EXPECT_EQ(UserVideosFolder(home, config), home + "/Videos");
    WriteFile(config + "/user-dirs.dirs", "XDG_VIDEOS_DIR=\"" + home + "/视频/\"\n");
    EXPECT_EQ(UserVideosFolder(home, config), home + "/视频");
}

TEST(SourceList, RowsDuplicatesAndDurations)
{
    EXPECT_EQ(FormatDuration(95000), " 00:01:35");
    EXPECT_EQ(FormatDuration(25 * 3600 * 1000LL), " 01:00:00");
    EXPECT_EQ(FormatDuration(0), " 00:00:00");
    EXPECT_EQ(FormatDuration(999), " 00:00:00");

    SourceList list;
    EXPECT_TRUE(list.Add("/v/Clip.avi", {640, 480, 95500}));
    EXPECT_FALSE(list.Add("/v/CLIP.AVI", {640, 480, 95500}));
    EXPECT_TRUE(list.Add("/w/CLIP.AVI", {1280, 720, 1000}));
    EXPECT_TRUE(list.Add("/v/音乐.mp3", {0, 0, 0}));
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Row(0).Name, "Clip");
    EXPECT_EQ(list.Row(0).Type, ".AVI");
    EXPECT_EQ(list.Row(0).Resolution, "640 X 480");
    EXPECT_EQ(list.Row(0).Duration, " 00:01:35");
    EXPECT_EQ(list.Row(0).Progress, "");
    EXPECT_EQ(list.Row(2).Resolution, "0 X 0");

    int32_t w = 0, h = 0;
    ASSERT_TRUE(list.FindResolution(" clip ", w, h));
    EXPECT_EQ(w, 1280); // the last row of that name
    EXPECT_EQ(h, 720);
    EXPECT_FALSE(list.FindResolution("other", w, h));

    EXPECT_TRUE(list.SetProgress(1, "25%"));
    EXPECT_FALSE(list.SetProgress(3, "25%"));
    list.Delete(0);
    EXPECT_EQ(list.SourceFiles(), (std::vector<std::string>{"/w/CLIP.AVI", "/v/音乐.mp3"}));
    EXPECT_EQ(list.Row(0).Progress, "25%");
    list.Delete(5);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(list.Add("/v/Clip.avi", {1, 1, 1}));
}

TEST(RunControl, ButtonStatesThroughARun)
{
    auto buttons = [](const RunControl &r) {
        const TButtonStates &b = r.Buttons();
        return std::string() + (b.Start ? "S" : "-") + (b.Pause ? "P" : "-") + (b.Resume ? "R" : "-") +
               (b.Stop ? "X" : "-") + (b.AddDeleteClear ? "A" : "-");
    };
    RunControl run;
    EXPECT_EQ(run.State(), rsIdle);
    EXPECT_EQ(buttons(run), "S---A");
    run.Start();
    EXPECT_EQ(buttons(run), "-P-X-");
    run.Pause();
    EXPECT_EQ(run.State(), rsPaused);
    EXPECT_EQ(buttons(run), "--RX-");
    run.Resume();
    EXPECT_EQ(buttons(run), "-P-X-");
    run.Pause();
    run.Stop();
    EXPECT_EQ(run.State(), rsStopping);
    EXPECT_EQ(buttons(run), "--R--");
    run.EndOfQueue();
    EXPECT_EQ(run.State(), rsIdle);
    EXPECT_EQ(buttons(run), "S---A");
    run.Start();
    run.ProgressUpdateFailed();
    EXPECT_EQ(buttons(run), "S----");
    run.EndOfQueue();
    EXPECT_EQ(buttons(run), "S---A");

    EXPECT_EQ(RunControl::ProgressText(100, 0), "");
    EXPECT_EQ(RunControl::ProgressText(100, -1), "");
    EXPECT_EQ(RunControl::ProgressText(1500, 6000), "25%");
    EXPECT_EQ(RunControl::ProgressText(5999, 6000), "99%");
    EXPECT_EQ(RunControl::ProgressText(6000, 6000), "100%");
    EXPECT_EQ(RunControl::ProgressText(2000000000, 2100000000), "95%");

    CustomProfile custom;
    custom.Reset();
    EXPECT_EQ(RunControl::StartCheck(0, false, custom), "请选择视频！");
    EXPECT_EQ(RunControl::StartCheck(2, false, custom), "");
    custom.Height = "";
    EXPECT_EQ(RunControl::StartCheck(0, true, custom), "请选择视频！");
    EXPECT_EQ(RunControl::StartCheck(2, true, custom), "请输入视频尺寸！");

    // Row 1 could not be queued: task 1 is row 2.
    run.MapTask(0, 0);
    run.MapTask(1, 2);
    EXPECT_EQ(run.RowOfTask(0), 0);
    EXPECT_EQ(run.RowOfTask(1), 2);
    EXPECT_EQ(run.RowOfTask(2), -1);
    EXPECT_EQ(run.RowOfTask(-1), -1);
    run.EndOfQueue();
    EXPECT_EQ(run.RowOfTask(0), -1);
}

TEST(ClipRange, PreviewTrackSetUp)
{
    TPreviewTrack t = ClipRange::PreviewTrack(95500000, false);
    EXPECT_TRUE(t.SliderVisible);
    EXPECT_EQ(t.PreviewStep, 10000);
    EXPECT_EQ(t.Maximum, 9550);
    EXPECT_EQ(t.LineSize, 100);
    EXPECT_EQ(t.PageSize, 500);
    EXPECT_EQ(t.TickSpacing, 477);

    struct {
        int64_t Duration;
        int64_t Step;
        int32_t Max, Line;
    } cases[] = {{327670, 10, 32767, 1000}, {327679, 10, 32767, 1000}, {327680, 100, 3276, 100},
                 {1000, 10, 100, 1},        {1010, 10, 101, 10},       {7200000000LL, 1000000, 7200, 100}};
    for (const auto &c : cases) {
        TPreviewTrack p = ClipRange::PreviewTrack(c.Duration, false);
        EXPECT_EQ(p.PreviewStep, c.Step) << c.Duration;
        EXPECT_EQ(p.Maximum, c.Max) << c.Duration;
        EXPECT_EQ(p.LineSize, c.Line) << c.Duration;
    }
    TPreviewTrack still = ClipRange::PreviewTrack(40000, true);
    EXPECT_FALSE(still.SliderVisible);
    EXPECT_EQ(still.Maximum, 0);
    EXPECT_FALSE(ClipRange::PreviewTrack(-1, false).SliderVisible);

    ClipRange image;
    image.Setup(40000, true);
    EXPECT_EQ(image.FrameTime(0), 40000); // the frame at the file's duration
    EXPECT_EQ(image.PositionLabel(0), "PTS: 0.000");

    ClipRange clip;
    clip.Setup(95500000, false);
    EXPECT_EQ(clip.FrameTime(9550), 95500000);
    EXPECT_EQ(clip.FrameTime(100), 1000000);
    EXPECT_EQ(clip.PositionLabel(9549), "PTS: 95.490");
}

TEST(ClipRange, MarksEnableTheClipAndTheRangeIsClamped)
{
    EXPECT_EQ(FormatSeconds(95500000), "95.500");
    EXPECT_EQ(FormatSeconds(1000), "0.001");
    EXPECT_EQ(FormatSeconds(0), "0.000");

    ClipRange clip;
    clip.Setup(20000000, false); // 20 s: step 1000 us
    ASSERT_EQ(clip.PreviewStep(), 1000);
    EXPECT_EQ(clip.MarkEnd(5000), "5.000");
    EXPECT_TRUE(clip.CutClipEnabled());
    EXPECT_EQ(clip.MarkStart(6000), "6.000"); // end before start
    EXPECT_FALSE(clip.CutClipEnabled());
    clip.MarkStart(0);
    clip.MarkEnd(1);
    EXPECT_TRUE(clip.CutClipEnabled());
    EXPECT_FALSE(clip.ClipActive()); // not checked
    clip.SetCutClipChecked(true);
    EXPECT_TRUE(clip.ClipActive());

    // Start 10 s, end beyond the duration: to the end of the file.
    clip.Setup(15000000, false); // another file: the selection is reset ...
    EXPECT_FALSE(clip.ClipActive());
    clip.MarkStart(10000); // ... and marked again on it (step 1000)
    clip.MarkEnd(20000);
    EXPECT_TRUE(clip.ClipActive());
    EXPECT_EQ(clip.ClipStartMs(), 10000);
    EXPECT_EQ(clip.ClipLengthMs(), 5000);

    struct {
        int64_t S, E, D, ExpectS, ExpectE;
    } cases[] = {{10000, 30000, 20000, 10000, 20000}, {-5, 100, 200, 0, 100}, {300, 400, 200, 0, 200},
                 {150, 100, 200, 150, 200},           {0, 0, 200, 0, 200},    {50, 60, 0, 0, 0}};
    for (const auto &c : cases) {
        int64_t s = c.S, e = c.E;
        ClampClip(s, e, c.D);
        EXPECT_EQ(s, c.ExpectS) << c.S << "," << c.E << "," << c.D;
        EXPECT_EQ(e, c.ExpectE) << c.S << "," << c.E << "," << c.D;
    }
}

TEST(ClipRange, FitRectKeepsTheFrameShape)
{
    struct {
        int32_t FW, FH, DW, DH;
        TFitRect Expect;
    } cases[] = {
        {320, 240, 220, 145, {13, 0, 194, 145}}, // full height: (220 - 193.33) / 2 -> 13
        {640, 360, 220, 145, {0, 11, 220, 123}}, // full width: (145 - 123.75) / 2 = 10.625 -> 11
        {480, 640, 220, 145, {56, 0, 108, 145}}, // (220 - 108.75) / 2 = 55.625 -> 56
        {220, 145, 220, 145, {0, 0, 220, 145}},  {0, 240, 220, 145, {0, 0, 0, 0}},
    };
    for (const auto &c : cases) {
        TFitRect r = FitRect(c.FW, c.FH, c.DW, c.DH);
        EXPECT_EQ(r.Left, c.Expect.Left) << c.FW << "x" << c.FH;
        EXPECT_EQ(r.Top, c.Expect.Top) << c.FW << "x" << c.FH;
        EXPECT_EQ(r.Width, c.Expect.Width) << c.FW << "x" << c.FH;
        EXPECT_EQ(r.Height, c.Expect.Height) << c.FW << "x" << c.FH;
    }
    // A margin of exactly one half rounds to even: (145 - 144) / 2 = 0.5 -> 0; (145 - 142) / 2 = 1.5 -> 2.
    EXPECT_EQ(FitRect(440, 288, 220, 145).Top, 0);
    EXPECT_EQ(FitRect(440, 284, 220, 145).Top, 2);
}

TEST(CustomProfile, KeyFilterDefaultsAndTheTwoOrdersOfChecks)
{
    for (char32_t c : {U'0', U'5', U'9', char32_t(8)}) EXPECT_TRUE(CustomProfile::AcceptKey(c));
    for (char32_t c : {U'a', U'-', U'.', U' ', U'١', char32_t(127)})
        EXPECT_FALSE(CustomProfile::AcceptKey(c));

    CustomProfile custom;
    EXPECT_EQ(custom.StartCheck(), "");
    EXPECT_EQ(custom.PickCheck(), "请设定对应视频参数！");
    custom.PanelOpen = true;
    EXPECT_EQ(custom.PickCheck(), "");
    custom.Width = "1";
    custom.Reset();
    EXPECT_FALSE(custom.PanelOpen);
    EXPECT_EQ(custom.Width, "220");
    EXPECT_EQ(custom.Height, "176");
    EXPECT_EQ(custom.Bitrate, "38400");
    EXPECT_EQ(custom.Fps, "15");
    EXPECT_EQ(custom.TypeIndex, 0);
    EXPECT_EQ(CustomProfile::WidthMaxLength + CustomProfile::HeightMaxLength, 8);
    EXPECT_EQ(CustomProfile::BitrateMaxLength, 7);
    EXPECT_EQ(CustomProfile::FpsMaxLength, 2);

    // Everything empty: each order names its own first failure.
    custom.TypeText = "";
    custom.Width = custom.Height = custom.Bitrate = custom.Fps = "";
    EXPECT_EQ(custom.StartCheck(), "请选择视频要转换的类型！");
    EXPECT_EQ(custom.PickCheck(), "请设定对应视频参数！");
    custom.TypeText = "MKV";
    custom.PanelOpen = true;
    EXPECT_EQ(custom.StartCheck(), "请输入视频尺寸！");
    EXPECT_EQ(custom.PickCheck(), "请设定输入视频尺寸！");
    custom.Width = custom.Height = "320";
    EXPECT_EQ(custom.StartCheck(), "请输入视频比特率！");
    EXPECT_EQ(custom.PickCheck(), "请输入视频比特率！");
    custom.Bitrate = "500000";
    EXPECT_EQ(custom.StartCheck(), "请输入视频帧速率！");
    EXPECT_EQ(custom.PickCheck(), "请输入帧速率！");
    custom.Fps = " 25 ";
    EXPECT_EQ(custom.StartCheck(), "");
    EXPECT_EQ(custom.PickCheck(), "");
    EXPECT_EQ(custom.FpsValue(), 25);
    custom.Fps = "2.5";
    EXPECT_EQ(custom.StartCheck(), "");
    EXPECT_EQ(custom.PickCheck(), "帧速率必须是大于 0 的整数！");
}
