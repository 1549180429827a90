// The INI service: one value per call, names without case, writes that keep
// the rest of the file and never leave half a file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "IniFile.h"
#include "TestSupport.h"

TEST(IniFile, MissingFileReadsDefaultsAndAWriteCreatesIt)
{
    TTempFolder folder;
    TIniFile ini(folder.File("config.ini"));
    EXPECT_EQ(ini.ReadString("savepath", "newfilepath", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadInteger("select", "tabindex", 7), 7);
    ASSERT_TRUE(ini.WriteString("savepath", "newfilepath", "/home/u/输出视频")) << ini.LastError();
    EXPECT_EQ(ReadFile(folder.File("config.ini")), "[savepath]\nnewfilepath=/home/u/输出视频\n");
    EXPECT_EQ(ini.ReadString("SAVEPATH", "NewFilePath", ""), "/home/u/输出视频");
}

TEST(IniFile, AWriteKeepsEveryOtherLine)
{
    TTempFolder folder;
    std::string path = folder.File("config.ini");
    WriteFile(path,
              "\xEF\xBB\xBF; remembered settings\r\n[Skin]\r\nName = WLM \r\n\r\n[select]\r\ncombobox1=3\r\n"
              "other=x\r\n\r\n[tail]\r\nk=v\r\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("skin", "name", ""), "WLM");
    ASSERT_TRUE(ini.WriteInteger("SELECT", "ComboBox1", 5));
    ASSERT_TRUE(ini.WriteInteger("select", "tabindex", 2));
    ASSERT_TRUE(ini.WriteString("new", "key", "\"quoted\""));
    EXPECT_EQ(ReadFile(path), "; remembered settings\n[Skin]\nName = WLM \n\n[select]\nComboBox1=5\nother=x\n"
                              "tabindex=2\n\n[tail]\nk=v\n\n[new]\nkey=\"quoted\"\n");
    EXPECT_EQ(ini.ReadInteger("select", "combobox1", 0), 5);
    EXPECT_EQ(ini.ReadString("new", "key", ""), "quoted");
    // Only the new file is left: the temporary file was renamed over it.
    int entries = 0;
    for (auto &e : std::filesystem::directory_iterator(folder.Path())) entries += e.is_regular_file();
    EXPECT_EQ(entries, 1);
}

TEST(IniFile, NumbersThatDoNotParseReadAsTheDefault)
{
    TTempFolder folder;
    std::string path = folder.File("p.ini");
    WriteFile(path, "[v]\na= 42 \nb=4x\nc=99999999999\nd=\ne=-7\nf=29.97\ng=29,97\nh=1e3\ni=nan\nj=+15\n");
    TIniFile ini(path);
    struct {
        const char *Key;
        int32_t Integer;
        double Float;
    } cases[] = {{"a", 42, 42},    {"b", -1, -1}, {"c", -1, 99999999999.0}, {"d", -1, -1}, {"e", -7, -7},
                 {"f", -1, 29.97}, {"g", -1, -1}, {"h", -1, 1000},          {"i", -1, -1}, {"j", 15, 15}};
    for (const auto &c : cases) {
        EXPECT_EQ(ini.ReadInteger("v", c.Key, -1), c.Integer) << c.Key;
        EXPECT_DOUBLE_EQ(ini.ReadFloat("v", c.Key, -1), c.Float) << c.Key;
    }
}

// A locale whose decimal separator is a comma does not change what is read
// or written: the files use "." everywhere.
TEST(IniFile, NumbersDoNotDependOnTheLocale)
{
    TTempFolder folder;
    std::string locales = folder.File("locales");
    std::string command = "localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 >/dev/null 2>&1";
    ::mkdir(locales.c_str(), 0755);
    if (std::system(command.c_str()) != 0) GTEST_SKIP() << "localedef cannot make de_DE.UTF-8 here";
    ::setenv("LOCPATH", locales.c_str(), 1);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    ASSERT_EQ(std::string(std::localeconv()->decimal_point), ",");

    TIniFile ini(folder.File("extfile.ini"));
    ASSERT_TRUE(ini.WriteFloat("video", "FPS", 29.97));
    ASSERT_TRUE(ini.WriteFloat("video", "VideoBitrate", 1500000));
    double fps = ini.ReadFloat("video", "FPS", 0);
    std::string text = ReadFile(folder.File("extfile.ini"));
    std::setlocale(LC_ALL, "C");
    ::unsetenv("LOCPATH");
    EXPECT_EQ(text, "[video]\nFPS=29.97\nVideoBitrate=1500000\n");
    EXPECT_DOUBLE_EQ(fps, 29.97);
}

TEST(IniFile, AWriteThatCannotReachTheFileFailsAndChangesNothing)
{
    TTempFolder folder;
    std::string path = folder.File("config.ini");
    WriteFile(path, "[a]\nb=1\n");
    // A missing folder, a path through a file, and a folder in the file's place.
    for (const std::string &target : {folder.File("missing/x.ini"), path + "/x.ini", folder.Path()}) {
        TIniFile ini(target);
        EXPECT_FALSE(ini.WriteString("a", "b", "2")) << target;
        EXPECT_FALSE(ini.LastError().empty()) << target;
    }
    if (::geteuid() != 0) {
        ::chmod(folder.Path().c_str(), 0555);
        TIniFile ini(path);
        EXPECT_FALSE(ini.WriteString("a", "b", "2"));
        EXPECT_NE(ini.LastError().find("config.ini"), std::string::npos);
        ::chmod(folder.Path().c_str(), 0755);
    }
    EXPECT_EQ(ReadFile(path), "[a]\nb=1\n");
    int entries = 0;
    for (auto &e : std::filesystem::directory_iterator(folder.Path())) entries += e.is_regular_file();
    EXPECT_EQ(entries, 1);
}

TEST(IniFile, ShortestDecimalForm)
{
    struct {
        double Value;
        const char *Text;
    } cases[] = {
        {15.0, "15"},   {29.97, "29.97"}, {0.1 + 0.2, "0.3"}, {1500000, "1500000"},
        {-0.5, "-0.5"}, {0, "0"},         {1e20, "1e+20"},    {23.976023976023978, "23.976023976024"}};
    for (const auto &c : cases) EXPECT_EQ(FloatToText(c.Value), c.Text) << c.Value;
}
