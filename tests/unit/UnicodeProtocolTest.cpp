#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>
#include <clocale>

#include "EntryPoints.h"
#include "MyUtils.h"
#include "TestSupport.h"
#include "UnicodeProtocol.h"

namespace {

// Runs the test body under one LC_CTYPE and puts the previous one back.
class TLocale {
public:
    explicit TLocale(const char *name) : FSaved(std::setlocale(LC_ALL, nullptr))
    {
        FOk = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~TLocale() { std::setlocale(LC_ALL, FSaved.c_str()); }
    bool Ok() const { return FOk; }

private:
    std::string FSaved;
    bool FOk;
};

const std::u16string ChineseName = u"/tmp/视频 样本.mp4";

TEST(UnicodeNames, NarrowLocaleTurnsUnrepresentableNamesIntoProtocolNames)
{
    TLocale locale("C");
    ASSERT_TRUE(locale.Ok());
    EXPECT_TRUE(NeedsUnicodeName(ChineseName));
    std::string protocolName = ProtocolFileName(ChineseName);
    EXPECT_EQ(protocolName, "unicode:utf8:" + MyUtils::Utf16ToUtf8(ChineseName));
    EXPECT_EQ(DisplayFileName(protocolName), ChineseName);

    const struct {
        std::u16string name;
        bool needs;
    } table[] = {
        {u"/tmp/plain-name.avi", false},
        {u"udp://239.0.0.1:1234/视频", false}, // a known protocol prefix passes unchanged
        {u"http://host/视频", false},
        {u"C:/视频.avi", true}, // a drive letter is not a protocol
        {u"unknown:视频", true},
    };
    for (const auto &row : table)
        EXPECT_EQ(NeedsUnicodeName(row.name), row.needs) << MyUtils::Utf16ToUtf8(row.name);
    EXPECT_EQ(ProtocolFileName(u"udp://host:1"), "udp://host:1");
}

TEST(UnicodeNames, Utf8LocalePassesEveryNameUnchanged)
{
    TLocale locale("C.UTF-8");
    ASSERT_TRUE(locale.Ok());
    EXPECT_FALSE(NeedsUnicodeName(ChineseName));
    EXPECT_EQ(ProtocolFileName(ChineseName), MyUtils::Utf16ToUtf8(ChineseName));
    EXPECT_EQ(DisplayFileName(MyUtils::Utf16ToUtf8(ChineseName)), ChineseName);
    // Shorter than the prefix plus one byte: never a protocol name.
    EXPECT_EQ(DisplayFileName("unicode:utf8:"), u"unicode:utf8:");
    EXPECT_EQ(DisplayFileName("unicode:utf8:a"), u"a");
}

TEST(UnicodeProtocol, ReadsAndWritesAFileWithAChineseName)
{
    TTempFolder folder;
    std::string path = folder.File("测试文件.bin");
    std::string name = "unicode:utf8:" + path;
    TUnicodeConnection out;
    ASSERT_EQ(UnicodeOpen(out, name, AVIO_FLAG_WRITE), 0);
    const uint8_t data[] = "0123456789";
    EXPECT_EQ(UnicodeWrite(out, data, 10), 10);
    EXPECT_EQ(UnicodeSeek(out, 2, SEEK_SET), 2);
    EXPECT_EQ(UnicodeWrite(out, reinterpret_cast<const uint8_t *>("ab"), 2), 2);
    EXPECT_EQ(UnicodeClose(out), 0);
    EXPECT_EQ(ReadFile(path), "01ab456789");

    TUnicodeConnection in;
    ASSERT_EQ(UnicodeOpen(in, name, AVIO_FLAG_READ), 0);
    EXPECT_EQ(UnicodeSeek(in, 0, AVSEEK_SIZE), 10);
    uint8_t buf[16] = {};
    EXPECT_EQ(UnicodeSeek(in, -3, SEEK_END), 7);
    EXPECT_EQ(UnicodeRead(in, buf, 16), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 3), "789");
    EXPECT_EQ(UnicodeRead(in, buf, 16), 0);
    EXPECT_EQ(UnicodeWrite(in, buf, 1), -1); // opened for reading only
    EXPECT_EQ(UnicodeClose(in), 0);

    // Opening for writing truncates.
    ASSERT_EQ(UnicodeOpen(out, name, AVIO_FLAG_WRITE), 0);
    EXPECT_EQ(UnicodeClose(out), 0);
    EXPECT_EQ(ReadFile(path), "");
}

TEST(UnicodeProtocol, MissingFileIsMinusTwo)
{
    TUnicodeConnection c;
    EXPECT_EQ(UnicodeOpen(c, "unicode:utf8:/no/such/文件.avi", AVIO_FLAG_READ), -2);
    EXPECT_EQ(c.Handle, -1);
}

TEST(UnicodeProtocol, SizeQueryReportsAllSixtyFourBits)
{
    TTempFolder folder;
    std::string path = folder.File("稀疏.bin");
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const int64_t size = 5LL * 1024 * 1024 * 1024 + 7;
    ASSERT_EQ(ftruncate(fd, size), 0); // sparse: no disk space used
    ::close(fd);
    TUnicodeConnection c;
    ASSERT_EQ(UnicodeOpen(c, "unicode:utf8:" + path, AVIO_FLAG_READ), 0);
    EXPECT_EQ(UnicodeSeek(c, 0, AVSEEK_SIZE), size);
    EXPECT_EQ(UnicodeSeek(c, size - 1, SEEK_SET), size - 1);
    UnicodeClose(c);
}

TEST(UnicodeProtocol, AVIOContextReadsWritesAndSeeksThroughTheLibrary)
{
    LoadMediaLibrariesForTest();
    TTempFolder folder;
    std::string name = "unicode:utf8:" + folder.File("输出.dat");
    AVIOContext *pb = nullptr;
    ASSERT_EQ(OpenUnicodeIO(name, AVIO_FLAG_WRITE, &pb), 0);
    std::string payload(100000, 'z');
    payload[99999] = 'e';
    lav::avio_write(pb, reinterpret_cast<const unsigned char *>(payload.data()), int(payload.size()));
    CloseUnicodeIO(&pb);
    EXPECT_EQ(pb, nullptr);

    ASSERT_EQ(OpenUnicodeIO(name, AVIO_FLAG_READ, &pb), 0);
    EXPECT_EQ(lav::avio_size(pb), 100000);
    EXPECT_EQ(lav::avio_seek(pb, 99999, SEEK_SET), 99999);
    unsigned char c = 0;
    EXPECT_EQ(lav::avio_read(pb, &c, 1), 1);
    EXPECT_EQ(c, 'e');
    EXPECT_EQ(lav::avio_read(pb, &c, 1), AVERROR_EOF);
    CloseUnicodeIO(&pb);

    EXPECT_EQ(OpenUnicodeIO("unicode:utf8:/no/such/文件", AVIO_FLAG_READ, &pb), -2);
    EXPECT_EQ(pb, nullptr);
}

} // namespace
