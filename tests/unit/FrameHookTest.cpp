#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FrameHook.h"
#include "TestPicture.h"
#include "TestSupport.h"

namespace {

// What the recording test module saw (tests/hooks/TestHook.c).
struct TTestHookState {
    int Loads;
    int Configures;
    int Releases;
    int ProcessOrder[16];
    int ProcessCount;
    int LastArgc;
    char LastArg[64];
    char ConfigureDir[4096];
    int64_t LastPts;
};

std::string TestHook(const std::string &name) { return std::string(VIDMORPH_TEST_HOOK_DIR) + "/" + name; }
std::string ExampleHook(const std::string &name) { return std::string(VIDMORPH_HOOK_DIR) + "/" + name; }

// The state of a module that the list has loaded.
TTestHookState *StateOf(const std::string &path)
{
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return nullptr;
    auto get = reinterpret_cast<TTestHookState *(*)()>(dlsym(handle, "TestHookState"));
    TTestHookState *state = get ? get() : nullptr;
    dlclose(handle); // the list's own reference keeps it loaded
    return state;
}

std::string CurrentDir() { return std::filesystem::current_path().string(); }

class FrameHook : public ::testing::Test {
protected:
    void SetUp() override { LoadMediaLibrariesForTest(); }
    TFrameHookList List;
};

TEST_F(FrameHook, ModulesThatCannotBeUsedFailWithTheirMessage)
{
    TTempFolder temp;
    WriteFile(temp.File("notamodule.so"), "this is not a shared object\n");
    const struct {
        std::vector<std::string> args;
        int result;
        std::string message;
    } table[] = {
        {{TestHook("hook_noconfigure.so"), "-x"},
         -2,
         "Failed to find Configure entrypoint in " + TestHook("hook_noconfigure.so") + "\n"},
        {{TestHook("hook_noprocess.so")},
         -2,
         "Failed to find Process entrypoint in " + TestHook("hook_noprocess.so") + "\n"},
        {{TestHook("hook_failconfigure.so"), "a", "b"},
         -22,
         "Failed to Configure " + TestHook("hook_failconfigure.so") + "\n"},
        {{ExampleHook("box.so"), "-x", "ten"}, -22, "Failed to Configure " + ExampleHook("box.so") + "\n"},
        {{ExampleHook("grey.so"), "strong"},
         -2,
         "Failed to find Configure entrypoint in " + ExampleHook("grey.so") + "\n"},
        {{temp.File("missing.so")}, -1, temp.File("missing.so") + ": cannot open shared object file"},
        {{temp.File("notamodule.so")}, -1, temp.File("notamodule.so") + ": "},
        {{"vidmorph-no-such-hook.so"}, -1, "vidmorph-no-such-hook.so: cannot open shared object file"},
    };
    const std::string before = CurrentDir();
    for (const auto &row : table) {
        TLibraryLogCapture log;
        EXPECT_EQ(AddFrameHook(List, row.args), row.result) << row.args[0];
        EXPECT_NE(log.Text().find(row.message), std::string::npos) << log.Text();
        EXPECT_TRUE(List.Empty()) << row.args[0];
        EXPECT_EQ(CurrentDir(), before) << "the current directory is restored on every path";
    }
    // A failing Configure gets no Release.
    ASSERT_NE(StateOf(TestHook("hook_failconfigure.so")), nullptr);
    EXPECT_EQ(StateOf(TestHook("hook_failconfigure.so"))->Configures, 1);
    EXPECT_EQ(StateOf(TestHook("hook_failconfigure.so"))->Releases, 0);

    char *noArgs[] = {nullptr};
    EXPECT_EQ(AddFrameHook(List, 0, noArgs), -2);
    EXPECT_TRUE(List.Empty());
}

TEST_F(FrameHook, ModuleWithoutConfigureIsAcceptedWithoutArguments)
{
    const std::string path = TestHook("hook_noconfigure.so");
    ASSERT_EQ(AddFrameHook(List, {path}), 0);
    ASSERT_EQ(List.Count(), 1u);
    EXPECT_EQ(List.First->Configure, nullptr);
    EXPECT_EQ(List.First->Context, nullptr);

    TTestPicture picture(AV_PIX_FMT_YUV420P, 16, 16, [](int, int, int) { return uint8_t(5); });
    RunFrameHooks(List, picture.Picture, AV_PIX_FMT_YUV420P, 16, 16, 1234567);
    TTestHookState *state = StateOf(path);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->ProcessCount, 1);
    EXPECT_EQ(state->ProcessOrder[0], 0) << "Process gets a null context";
    EXPECT_EQ(state->LastPts, 1234567);
    EXPECT_EQ(picture.At(0, 0, 0), 6) << "the module changed the engine's picture";
    ReleaseFrameHooks(List);
    EXPECT_EQ(state->Releases, 1);
}

TEST_F(FrameHook, SameModuleTwiceIsLoadedOnceAndConfiguredTwice)
{
    const std::string path = TestHook("hook_record.so");
    const size_t modules = FrameHookModuleCount();
    ASSERT_EQ(AddFrameHook(List, {path, "first"}), 0);
    ASSERT_EQ(AddFrameHook(List, {path, "second", "more"}), 0);
    EXPECT_EQ(FrameHookModuleCount(), modules + 1);
    ASSERT_EQ(List.Count(), 2u);
    EXPECT_NE(List.First->Context, List.First->Next->Context);

    TTestHookState *state = StateOf(path);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->Loads, 1);
    EXPECT_EQ(state->Configures, 2);
    EXPECT_EQ(state->LastArgc, 3);
    EXPECT_STREQ(state->LastArg, "more");

    // Process runs in list order, each entry with its own context.
    TTestPicture picture(AV_PIX_FMT_YUV420P, 16, 16);
    RunFrameHooks(List, picture.Picture, AV_PIX_FMT_YUV420P, 16, 16, AV_NOPTS_VALUE);
    RunFrameHooks(List, picture.Picture, AV_PIX_FMT_YUV420P, 16, 16, 40000);
    ASSERT_EQ(state->ProcessCount, 4);
    EXPECT_EQ(std::vector<int>(state->ProcessOrder, state->ProcessOrder + 4), (std::vector<int>{1, 2, 1, 2}));
    EXPECT_EQ(state->LastPts, 40000);
    EXPECT_EQ(picture.At(0, 0, 0), 4);

    ReleaseFrameHooks(List);
    EXPECT_TRUE(List.Empty());
    EXPECT_EQ(state->Releases, 2);
    RunFrameHooks(List, picture.Picture, AV_PIX_FMT_YUV420P, 16, 16, 0);
    EXPECT_EQ(state->ProcessCount, 4) << "a released list runs nothing";
    // A later add reuses the loaded module.
    ASSERT_EQ(AddFrameHook(List, {path}), 0);
    EXPECT_EQ(FrameHookModuleCount(), modules + 1);
    EXPECT_EQ(state->Loads, 1);
}

TEST_F(FrameHook, ModuleFolderIsCurrentWhileItIsConfigured)
{
    const std::string before = CurrentDir();
    const std::filesystem::path folder = std::filesystem::canonical(VIDMORPH_TEST_HOOK_DIR);
    // A relative name is found from the caller's current directory.
    std::filesystem::current_path(folder.parent_path());
    const std::string relative = folder.filename().string() + "/hook_record.so";
    ASSERT_EQ(AddFrameHook(List, {relative, "x"}), 0);
    EXPECT_EQ(CurrentDir(), folder.parent_path().string());
    std::filesystem::current_path(before);

    TTestHookState *state = StateOf(TestHook("hook_record.so"));
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(std::filesystem::path(state->ConfigureDir), folder);
}

TEST_F(FrameHook, BoxModuleChangesExactlyTheBoxPixelsInListOrder)
{
    const int width = 48, height = 32;
    auto pattern = [](int p, int x, int y) { return uint8_t(20 + 50 * p + x + 2 * y); };
    TTestPicture original(AV_PIX_FMT_YUV420P, width, height, pattern);
    TTestPicture picture(AV_PIX_FMT_YUV420P, width, height, pattern);
    // Red at (10,6) 20x8, then blue partly off the left edge over its corner.
    ASSERT_EQ(AddFrameHook(List, {ExampleHook("box.so"), "-x", "10", "-y", "6", "-w", "20", "-h", "8", "-c",
                                  "255,0,0"}),
              0);
    ASSERT_EQ(AddFrameHook(List, {ExampleHook("box.so"), "-x", "-4", "-y", "10", "-w", "18", "-h", "6", "-c",
                                  "0,0,255"}),
              0);
    RunFrameHooks(List, picture.Picture, AV_PIX_FMT_YUV420P, width, height, 0);

    struct TBox {
        int x0, y0, x1, y1, yuv[3];
    };
    // BT.601 studio-range values of pure red and pure blue.
    const TBox red{10, 6, 30, 14, {81, 90, 240}}, blue{0, 10, 14, 16, {41, 240, 110}};
    auto within = [](const TBox &b, int x, int y, int shift) {
        return x >= b.x0 >> shift && x < b.x1 >> shift && y >= b.y0 >> shift && y < b.y1 >> shift;
    };
    int changed = 0;
    for (int p = 0; p < 3; ++p) {
        const int shift = p ? 1 : 0;
        for (int y = 0; y < picture.PlaneHeight[p]; ++y) {
            for (int x = 0; x < picture.PlaneWidth[p]; ++x) {
                const int value = picture.At(p, x, y);
                if (within(blue, x, y, shift)) {
                    EXPECT_NEAR(value, blue.yuv[p], 1) << "plane " << p << " at " << x << "," << y;
                } else if (within(red, x, y, shift)) {
                    EXPECT_NEAR(value, red.yuv[p], 1) << "plane " << p << " at " << x << "," << y;
                } else {
                    ASSERT_EQ(value, original.At(p, x, y)) << "plane " << p << " at " << x << "," << y;
                    continue;
                }
                ++changed;
            }
        }
    }
    EXPECT_EQ(changed, (20 * 8 + 14 * 6 - 4 * 4) + 2 * (10 * 4 + 7 * 3 - 2 * 2));
    EXPECT_TRUE(picture.MarginsIntact());
}

TEST_F(FrameHook, GreyModuleClearsTheChromaOnly)
{
    const int width = 33, height = 17; // odd sizes: the last chroma column and row count too
    auto pattern = [](int p, int x, int y) { return uint8_t(10 + 70 * p + x + y); };
    TTestPicture picture(AV_PIX_FMT_YUV420P, width, height, pattern);
    ASSERT_EQ(AddFrameHook(List, {ExampleHook("grey.so")}), 0);
    RunFrameHooks(List, picture.Picture, AV_PIX_FMT_YUV420P, width, height, 0);
    for (int p = 0; p < 3; ++p)
        for (int y = 0; y < picture.PlaneHeight[p]; ++y)
            for (int x = 0; x < picture.PlaneWidth[p]; ++x)
                ASSERT_EQ(picture.At(p, x, y), p ? 128 : pattern(0, x, y)) << p << " " << x << "," << y;
    EXPECT_TRUE(picture.MarginsIntact());
}

} // namespace
