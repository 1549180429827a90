// Profile folders and their lists, profile files, the summary lines,
// extfile.ini, and the shipped profile files against the built-in tables.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <cmath>
#include <set>

#include "IniFile.h"
#include "OutputAssembly.h"
#include "ProfileStore.h"
#include "TestSupport.h"

namespace {

void MakeFolder(const std::string &path) { ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path; }

std::vector<std::string> Relative(const std::vector<std::string> &paths, const std::string &root)
{
    std::vector<std::string> out;
    for (const std::string &p : paths)
        out.push_back(p.compare(0, root.size(), root) == 0 ? p.substr(root.size()) : p);
    return out;
}

} // namespace

TEST(ProfileStore, FileListTakesSubFoldersFirstAndIniFilesOfAnyCase)
{
    TTempFolder t;
    std::string root = t.Path() + "/MP4";
    MakeFolder(root);
    for (const char *name :
         {"b.ini", "A.INI", "c.ini.bak", "notes.txt", "10_y.ini", "2_z.ini", ".hidden.ini"})
        WriteFile(root + "/" + name, "");
    MakeFolder(root + "/sub");
    WriteFile(root + "/sub/x.ini", "");
    MakeFolder(root + "/sub/deeper");
    WriteFile(root + "/sub/deeper/w.Ini", "");
    MakeFolder(root + "/a-empty");

    std::vector<std::string> list{"kept"};
    ProfileStore::_GetFileList(list, "  " + root + "  ", ".ini");
    std::vector<std::string> expected{"kept",    "sub/deeper/w.Ini", "sub/x.ini", ".hidden.ini",
                                      "2_z.ini", "10_y.ini",         "A.INI",     "b.ini"};
    EXPECT_EQ(Relative(list, root + "/"), expected);

    ProfileStore::_GetFileList(list, root + "/missing", ".ini");
    EXPECT_TRUE(list.empty());

    std::vector<std::string> brands{"old"};
    ProfileStore::_GetFileList2(brands, t.Path() + "/MP4/");
    EXPECT_EQ(brands, (std::vector<std::string>{"old", "a-empty", "sub"}));
    ProfileStore::_GetFileList2(brands, t.Path() + "/none");
    EXPECT_TRUE(brands.empty());
}

TEST(ProfileStore, ListsShowNamesWithoutOrderingPrefixes)
{
    EXPECT_EQ(ProfileStore::ProfileDisplayName("/p/devices/03_苹果/12_iPod 320x240.ini"), "iPod 320x240");
    EXPECT_EQ(ProfileStore::ProfileDisplayName("/p/2010 版.ini"), "2010 版");
    EXPECT_EQ(ProfileStore::ProfileDisplayName("/p/720p.ini"), "720p");
    EXPECT_EQ(ProfileStore::ProfileDisplayName("/p/5_.ini"), "5_");
    EXPECT_EQ(ProfileStore::BrandDisplayName("25_七彩虹"), "七彩虹");
    EXPECT_EQ(ProfileStore::BrandDisplayName("LG"), "LG");
    EXPECT_EQ(ProfileStore::PresetFolderName(FormatItems[1]), "MP4");
    EXPECT_EQ(ProfileStore::PresetFolderName("  RealMedia  "), "RealMedia");
    EXPECT_EQ(ProfileStore::ValidPosition(3, 4), 3);
    EXPECT_EQ(ProfileStore::ValidPosition(4, 4), 0);
    EXPECT_EQ(ProfileStore::ValidPosition(-1, 4), 0);
}

TEST(ProfileStore, LoadProfileReadsEveryKeyWithItsDefault)
{
    TTempFolder t;
    profile_rec none = ProfileStore::LoadProfile(t.File("missing.ini"));
    EXPECT_EQ(none.Type, "");
    EXPECT_EQ(none.Width, 0);
    EXPECT_EQ(none.FPS, 0);

    WriteFile(t.File("p.ini"),
              "[MediaType]\ntype=mp4\n[video]\nVideoCodec=MPEG4\nVideoBitrate=junk\nWidth=480\n"
              "Height=272\nFPS=29.97\nAspectRatio=1,5\n[audio]\nAudioCodec=AAC\nAudioBitrate=128000\n"
              "SampleRate=44100\nChannel=2\nVolume=x\n");
    profile_rec p = ProfileStore::LoadProfile(t.File("p.ini"));
    EXPECT_EQ(p.Type, "mp4");
    EXPECT_EQ(p.VideoCodec, "MPEG4");
    EXPECT_EQ(p.VideoBitrate, 0);
    EXPECT_EQ(p.Width, 480);
    EXPECT_EQ(p.Height, 272);
    EXPECT_DOUBLE_EQ(p.FPS, 29.97);
    EXPECT_EQ(p.AspectRatio, 0);
    EXPECT_EQ(p.AudioCodec, "AAC");
    EXPECT_EQ(p.AudioBitrate, 128000);
    EXPECT_EQ(p.SampleRate, 44100);
    EXPECT_EQ(p.Channel, 2);
    EXPECT_EQ(p.Volume, 0);
}

TEST(ProfileStore, SummaryLines)
{
    TSummaryLines lines = InitialSummaryLines();
    EXPECT_EQ(lines.Line(1), "视频像素：352 X 288");
    EXPECT_EQ(lines.Line(5), "音频编码：AAC");
    profile_rec p;
    p.Width = 480;
    p.Height = 272;
    p.VideoCodec = "MPEG4";
    p.VideoBitrate = 512000;
    p.FPS = 25;
    p.AudioCodec = "MP3";
    ShowProfileSummary(p, stFormat, lines);
    EXPECT_EQ(lines.PictureSize, "视频像素：480X272");
    EXPECT_EQ(lines.VideoCodec, "视频编码：MPEG4");
    EXPECT_EQ(lines.VideoBitrate, "视频码率：512000");
    EXPECT_EQ(lines.FrameRate, "帧速率：25");
    EXPECT_EQ(lines.AudioCodec, "音频编码：MP3");
    p.FPS = 29.97;
    ShowProfileSummary(p, stDevice, lines);
    EXPECT_EQ(lines.FrameRate, "桢速率：29.97");

    TSampleInfo info{"mp4", "AVC", 1500000.5, 640, 480, 29.97, "AAC"};
    TSummaryLines sample = SampleSummaryLines(info);
    EXPECT_EQ(sample.PictureSize, "视频像素：640X480");
    EXPECT_EQ(sample.VideoBitrate, "视频码率：1500000.5");
    EXPECT_EQ(sample.FrameRate, "帧速率：29.97");
    EXPECT_EQ(sample.AudioCodec, "音频编码：AAC");
}

TEST(ProfileStore, ExtFileReadsBackItsIntegersAsTheAssemblyUsesThem)
{
    TTempFolder t;
    ProfileStore store(t.Path() + "/");
    TExtFileValues none = store.ReadExtFile();
    EXPECT_EQ(none.Type, "avi");
    EXPECT_EQ(none.Width, "320");
    EXPECT_EQ(none.Height, "240");
    EXPECT_EQ(none.VideoBitrate, 512000);
    EXPECT_EQ(none.FPS, 24);

    std::string error;
    ASSERT_TRUE(store.WriteExtFile({"mp4", "AVC", 1500000, 640, 480, 29.97, "AAC"}, error)) << error;
    EXPECT_EQ(ReadFile(t.File("extfile.ini")),
              "[mediatype]\nType=mp4\n\n[video]\nVideoCodec=AVC\nVideoBitrate=1500000\n"
              "Width=640\nHeight=480\nFPS=29.97\n\n[audio]\nAudioCodec=AAC\n");
    TExtFileValues v = store.ReadExtFile();
    EXPECT_EQ(v.Type, "mp4");
    EXPECT_EQ(v.Width, "640");
    EXPECT_EQ(v.VideoBitrate, 1500000);
    EXPECT_EQ(v.FPS, 24); // 29.97 is not an integer

    store.SetExtFile(t.File("other.ini"));
    EXPECT_EQ(store.ReadExtFile().Type, "avi");
}

// Every shipped profile file sits at the position of its table row and
// agrees with it; the lists hold exactly the table's rows.
TEST(ProfileStore, ShippedProfilesMatchTheBuiltInTables)
{
    ProfileStore store(std::string(VIDMORPH_PROGRAM_DIR) + "/");
    auto check = [](const std::string &path, const TProfileRow &row, const std::string &ext) {
        profile_rec p = ProfileStore::LoadProfile(path);
        EXPECT_EQ(std::to_string(p.Width) + "x" + std::to_string(p.Height), row.Size) << path;
        EXPECT_EQ(p.VideoBitrate, row.Bitrate) << path;
        double fps = row.TargetNorm == 2 ? 29.97 : row.Fps;
        EXPECT_DOUBLE_EQ(p.FPS, fps) << path;
        EXPECT_EQ("." + p.Type, ext) << path;
        // The audio line names an encoder the container carries (WMV takes
        // WMA whatever the line says; VCD and SVCD discs carry MP2).
        std::string encoder = AudioEncoderOfSummary("音频编码：" + p.AudioCodec);
        if (ext == ".wmv")
            EXPECT_EQ(p.AudioCodec, "WMA") << path;
        else if (row.Target == 1 || row.Target == 2)
            EXPECT_EQ(p.AudioCodec, "MP2") << path;
        else
            EXPECT_FALSE(encoder.empty()) << path;
        std::string codec = p.VideoCodec;
        for (char &c : codec) c = char(std::tolower((unsigned char)c));
        std::string rowCodec = row.Codec ? row.Codec : "";
        if (ext == ".mkv") rowCodec = "h264"; // the container's adjustment
        if (rowCodec == "avc" || rowCodec == "mpeg2video" || rowCodec == "mpeg1video")
            rowCodec = rowCodec == "avc" ? "h264" : rowCodec.substr(0, 5);
        EXPECT_EQ(codec, rowCodec) << path;
    };
    auto unique = [](const std::vector<std::string> &names) {
        std::set<std::string> set(names.begin(), names.end());
        for (const std::string &name : names) {
            size_t digits = 0;
            while (digits < name.size() && std::isdigit((unsigned char)name[digits])) ++digits;
            EXPECT_FALSE(digits > 0 && digits < name.size() && name[digits] == '_') << name;
        }
        return set.size() == names.size();
    };
    int files = 0;
    EXPECT_TRUE(unique(store.BrandNames()));
    for (int32_t f = 0; f < FormatItemCount; ++f) {
        store.ChangeFormat(f);
        EXPECT_TRUE(unique(store.PresetNames())) << FormatItems[f];
        ASSERT_EQ(int32_t(store.FormatPresets.size()), FormatTableRowCount(f)) << FormatItems[f];
        for (int32_t i = 0; i < int32_t(store.FormatPresets.size()); ++i, ++files)
            check(store.FormatPresets[i], *FormatTableRow(f, i), FormatTableRow(f, i)->Ext);
    }
    store.FillBrands();
    ASSERT_EQ(int32_t(store.Brands.size()), DeviceTableBrandCount());
    for (int32_t b = 0; b < int32_t(store.Brands.size()); ++b) {
        store.ChangeBrand(b);
        EXPECT_TRUE(unique(store.ModelNames())) << store.Brands[b];
        ASSERT_EQ(int32_t(store.DeviceModels.size()), DeviceTableRowCount(b)) << store.Brands[b];
        for (int32_t i = 0; i < int32_t(store.DeviceModels.size()); ++i, ++files)
            check(store.DeviceModels[i], *DeviceTableRow(b, i), DeviceTableRow(b, i)->Ext);
    }
    EXPECT_EQ(files, 68 + 130);
}
