#include <gtest/gtest.h>

#include "MyUtils.h"
#include "TestSupport.h"

namespace {

using namespace MyUtils;

TEST(MyUtils, Utf16AndUtf8RoundTrip)
{
    const std::u16string texts[] = {u"", u"plain", u"视频转换", u"emoji \U0001F600 end"};
    for (const auto &t : texts) EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(t)), t);
    EXPECT_EQ(Utf16ToUtf8(u"视"), "\xE8\xA7\x86");
    // A lone surrogate and invalid bytes become U+FFFD instead of garbage.
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("a\xFF"
                          "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf8ToUtf16("\xC0\x80"), u"\uFFFD\uFFFD"); // overlong
}

TEST(MyUtils, SurrogatesAndDelimiters)
{
    std::u16string t = u"a/\U0001F600/";
    EXPECT_EQ(SurrogateKind(t, 0), 0);
    EXPECT_EQ(SurrogateKind(t, 1), 0);
    EXPECT_EQ(SurrogateKind(t, 3), 1);
    EXPECT_EQ(SurrogateKind(t, 4), 2);
    EXPECT_EQ(SurrogateKind(t, 9), 0);
    EXPECT_TRUE(IsPathDelimiter(t, 2));
    EXPECT_FALSE(IsPathDelimiter(t, 3));
    EXPECT_TRUE(IsPathDelimiter(t, 5));
    EXPECT_EQ(IncludeTrailingPathDelimiter(u"/a"), u"/a/");
    EXPECT_EQ(IncludeTrailingPathDelimiter(u"/a/"), u"/a/");
    EXPECT_EQ(LastDelimiter(u"/.", u"/x/y.z"), 5u);
    EXPECT_EQ(LastDelimiter(u"/", u"none"), 0u);
}

TEST(MyUtils, PathParts)
{
    const struct {
        std::u16string name, folder, file;
    } table[] = {
        {u"/home/用户/视频.avi", u"/home/用户/", u"视频.avi"},
        {u"name.avi", u"", u"name.avi"},
        {u"C:name.avi", u"", u"C:name.avi"}, // ":" is an ordinary character here
        {u"/dir/", u"/dir/", u""},
    };
    for (const auto &row : table) {
        EXPECT_EQ(ExtractFilePath(row.name), row.folder);
        EXPECT_EQ(ExtractFileName(row.name), row.file);
    }
    EXPECT_EQ(ExpandFileName(u"/a/b/../c/./d"), u"/a/c/d");
    EXPECT_EQ(ExpandFileName(u"x"), IncludeTrailingPathDelimiter(GetCurrentDir()) + u"x");
}

TEST(MyUtils, FetchSplitsAtTheFirstSeparator)
{
    std::u16string text = u"a=b=c", head;
    Fetch(text, u"=", false, head);
    EXPECT_EQ(head, u"a");
    EXPECT_EQ(text, u"a=b=c");
    Fetch(text, u"=", true, head);
    EXPECT_EQ(head, u"a");
    EXPECT_EQ(text, u"b=c");
    text = u"single";
    Fetch(text, u"=", true, head);
    EXPECT_EQ(head, u"single");
    EXPECT_EQ(text, u"");
}

TEST(MyUtils, FilesAndFolders)
{
    TTempFolder folder;
    std::u16string dir = Utf8ToUtf16(folder.Path());
    WriteFile(folder.File("文件.txt"), "12345");
    WriteFile(folder.File(".hidden"), "");
    std::u16string file = dir + u"/文件.txt";
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir));
    EXPECT_TRUE(DirectoryExists(dir));
    EXPECT_EQ(FileSizeOf(file), 5);
    EXPECT_EQ(FileSizeOf(dir + u"/missing"), -1);
    EXPECT_EQ(FileSizeOf(dir + u"/.hidden"), 0);

    std::vector<std::u16string> seen;
    EXPECT_TRUE(FindFiles(dir, false, false, [&](const TSearchRec &r) { seen.push_back(r.Name); }));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], u"文件.txt");
    seen.clear();
    EXPECT_TRUE(FindFiles(dir, true, false, [&](const TSearchRec &r) { seen.push_back(r.Name); }));
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_FALSE(FindFiles(dir + u"/missing", true, true, [](const TSearchRec &) {}));

    std::u16string before = GetCurrentDir();
    EXPECT_TRUE(SetCurrentDir(dir));
    EXPECT_TRUE(FileExists(u"文件.txt"));
    EXPECT_TRUE(SetCurrentDir(before));
    EXPECT_FALSE(SetCurrentDir(dir + u"/missing"));
}

} // namespace
