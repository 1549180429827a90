#include <gtest/gtest.h>

#include "Assert.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "TestSupport.h"
#include "UnicodeProtocol.h"

namespace {

using MyUtils::Utf8ToUtf16;

void ExpectNothingLoaded()
{
    for (int i = 0; i < MediaLibraryCount; ++i) {
        auto lib = TMediaLibrary(i);
        EXPECT_EQ(FFmpegLoader().Status(lib).Handle, nullptr) << i;
        EXPECT_FALSE(FFmpegLoader().LibraryLoaded(lib)) << i;
    }
    EXPECT_EQ(lav::avcodec_open2, nullptr);
    EXPECT_EQ(lav::my_fopen, nullptr);
}

TEST(FFmpegLoader, LoadsEveryRequiredLibraryAndBindsItsTables)
{
    LoadMediaLibrariesForTest();
    EXPECT_TRUE(FFmpegLoader().LibrariesLoaded(RequiredLibraries));
    EXPECT_FALSE(FFmpegLoader().LibraryLoaded(TMediaLibrary::avdevice));
    EXPECT_FALSE(FFmpegLoader().LibrariesLoaded({TMediaLibrary::avcodec, TMediaLibrary::SDL}));
    EXPECT_NE(lav::avcodec_open2, nullptr);
    EXPECT_NE(lav::swr_convert, nullptr);
    EXPECT_NE(lav::my_fwrite, nullptr);
    EXPECT_EQ(FFmpegLoader().LibraryVersion(TMediaLibrary::avcodec) >> 16,
              unsigned(LIBAVCODEC_VERSION_MAJOR));
    // The companion library comes from the program's folder, the media
    // libraries by the system search (the folder holds only libmyutil.so).
    EXPECT_EQ(FFmpegLoader().BuiltFileName(TMediaLibrary::avcodec),
              u"libavcodec.so." + Utf8ToUtf16(std::to_string(LIBAVCODEC_VERSION_MAJOR)));
    EXPECT_EQ(FFmpegLoader().BuiltFileName(TMediaLibrary::myutil), u"libmyutil.so");
    // The engine's computations that replace the old inline helpers.
    EXPECT_EQ(vm::av_clip(-3, 0, 10), 0);
    EXPECT_EQ(vm::av_clip(30, 0, 10), 10);
    EXPECT_DOUBLE_EQ(vm::av_q2d(AVRational{30000, 1001}), 30000.0 / 1001);
    AVRational r = vm::av_d2q(64.0 / 45, 255);
    EXPECT_EQ(r.num, 64);
    EXPECT_EQ(r.den, 45);
    r = vm::av_d2q(4.0 / 3, 255);
    EXPECT_EQ(r.num, 4);
    EXPECT_EQ(r.den, 3);
}

TEST(FFmpegLoader, SecondLoadBindsNothingAgainAndRegistersTheProtocolOnce)
{
    LoadMediaLibrariesForTest();
    EXPECT_EQ(UnicodeProtocolRegistrations(), 1);
    void *handle = FFmpegLoader().Status(TMediaLibrary::avformat).Handle;
    // A slot changed after binding survives a second load: nothing is bound again.
    auto saved = lav::av_gettime;
    lav::av_gettime = [] { return int64_t(42); };
    EXPECT_TRUE(FFmpegLoader().LoadLibraries(RequiredLibraries));
    EXPECT_EQ(lav::av_gettime(), 42);
    lav::av_gettime = saved;
    EXPECT_EQ(FFmpegLoader().Status(TMediaLibrary::avformat).Handle, handle);
    EXPECT_EQ(UnicodeProtocolRegistrations(), 1);
}

TEST(FFmpegLoader, FolderWithoutTheLibraryFallsBackToTheSystemSearch)
{
    TTempFolder folder;
    FFmpegLoader().SetLibraryPath(Utf8ToUtf16(folder.Path()));
    EXPECT_TRUE(FFmpegLoader().LoadLibraries({TMediaLibrary::avutil, TMediaLibrary::avcodec}))
        << FFmpegLoader().LastErrorMessage();
    EXPECT_TRUE(FFmpegLoader().LibraryLoaded(TMediaLibrary::avcodec));
}

TEST(FFmpegLoader, FileThatIsNotALibraryFailsAndLeavesNothingLoaded)
{
    TTempFolder folder;
    std::string file = "libavcodec.so." + std::to_string(LIBAVCODEC_VERSION_MAJOR);
    WriteFile(folder.File(file), "not a shared object");
    FFmpegLoader().SetLibraryPath(Utf8ToUtf16(folder.Path()));
    std::u16string before = MyUtils::GetCurrentDir();
    EXPECT_FALSE(FFmpegLoader().LoadLibraries(RequiredLibraries));
    EXPECT_EQ(MyUtils::GetCurrentDir(), before);
    std::string message = FFmpegLoader().LastErrorMessage();
    EXPECT_EQ(message.rfind("Load library " + folder.Path() + "/" + file + " error: ", 0), 0u) << message;
    EXPECT_GT(message.size(), ("Load library " + folder.Path() + "/" + file + " error: ").size());
    ExpectNothingLoaded();
}

TEST(FFmpegLoader, MissingEntryPointNamesItAndUnloadsTheSet)
{
    FFmpegLoader().SetLibraryPath(Utf8ToUtf16(VIDMORPH_NOFWRITE_DIR));
    std::u16string before = MyUtils::GetCurrentDir();
    EXPECT_FALSE(FFmpegLoader().LoadLibraries(RequiredLibraries));
    EXPECT_EQ(MyUtils::GetCurrentDir(), before);
    std::string message = FFmpegLoader().LastErrorMessage();
    EXPECT_EQ(message.rfind("Load function my_fwrite@libmyutil.so error: ", 0), 0u) << message;
    ExpectNothingLoaded();
    // The message is kept after a later success.
    LoadMediaLibrariesForTest();
    EXPECT_EQ(FFmpegLoader().LastErrorMessage(), message);
}

TEST(FFmpegLoader, BadPathsAreResultsNotCrashes)
{
    struct Case {
        std::string path;
        std::string fileName; // override of avcodec's file name
        bool loads;
    };
    const Case cases[] = {
        {"", "", true},                                    // no folder: the system search
        {"/no/such/folder", "", true},                     // a missing folder: the system search
        {std::string(5000, 'x'), "", true},                // an over-long folder
        {"", "/no/such/folder/libavcodec.so.59", true},    // not in that folder: the system search
        {"", "/no/such/folder/libnothing.so", false},      // nowhere
        {"", "/" + std::string(5000, 'y') + ".so", false}, // an over-long file name
        {"", "/tmp", false},                               // a directory
    };
    for (const Case &c : cases) {
        FFmpegLoader().SetLibraryPath(Utf8ToUtf16(c.path));
        FFmpegLoader().SetLibraryFileName(TMediaLibrary::avcodec, Utf8ToUtf16(c.fileName));
        bool loaded = FFmpegLoader().LoadLibraries({TMediaLibrary::avcodec});
        EXPECT_EQ(loaded, c.loads) << c.path.substr(0, 40) << " " << c.fileName.substr(0, 40);
        if (!loaded) {
            EXPECT_EQ(FFmpegLoader().LastErrorMessage().rfind("Load library ", 0), 0u);
            EXPECT_EQ(FFmpegLoader().Status(TMediaLibrary::avcodec).Handle, nullptr);
        }
        FFmpegLoader().UnloadLibraries({TMediaLibrary::avcodec});
    }
    FFmpegLoader().SetLibraryFileName(TMediaLibrary::avcodec, u"");
}

TEST(FFmpegLoader, EmptySetIsAnAssertionFailure)
{
    EXPECT_THROW(FFmpegLoader().LoadLibraries(TMediaLibraries{}), EAssertionFailed);
    EXPECT_THROW(FFmpegLoader().LibrariesLoaded(TMediaLibraries{}), EAssertionFailed);
    EXPECT_THROW(FFmpegLoader().UnloadLibraries(TMediaLibraries{}), EAssertionFailed);
}

TEST(FFmpegLoader, LogLevelsMapBothWays)
{
    const struct {
        int av, library;
    } table[] = {{AV_LOG_QUIET, -1},  {AV_LOG_PANIC, 0},   {AV_LOG_FATAL, 0},
                 {AV_LOG_ERROR, 0},   {AV_LOG_WARNING, 0}, {AV_LOG_INFO, 1},
                 {AV_LOG_VERBOSE, 1}, {AV_LOG_DEBUG, 2},   {AV_LOG_TRACE, 2}};
    for (auto row : table) EXPECT_EQ(AVLevelToLibrary(row.av), row.library) << row.av;
    EXPECT_EQ(LibraryLevelToAV(-1), AV_LOG_QUIET);
    EXPECT_EQ(LibraryLevelToAV(0), AV_LOG_ERROR);
    EXPECT_EQ(LibraryLevelToAV(1), AV_LOG_INFO);
    EXPECT_EQ(LibraryLevelToAV(2), AV_LOG_DEBUG);
}

} // namespace
