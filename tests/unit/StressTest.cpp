// Run control under stress, on real conversions of tiny clips: 200 start and
// stop cycles, 200 pause and resume cycles on running conversions, engines
// destroyed while they run, and stops racing the end of a run. None may hang,
// keep a thread or a file descriptor, or notify its end other than exactly
// once per run (memory leaks are the sanitizer build's to find).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "FFmpeg.h"
#include "MediaFixtures.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

constexpr int StartStopCycles = 200;
constexpr int PauseResumeCycles = 200; // shared by two conversions
constexpr int DestroyedRuns = 20;
constexpr int RacedEnds = 100;

size_t Entries(const char *folder)
{
    size_t n = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}
size_t OpenDescriptors() { return Entries("/proc/self/fd"); }
size_t Threads() { return Entries("/proc/self/task"); }

// Ends the process with a message when a step does not finish in time: a
// hang must fail the test, not stall the whole suite.
class TWatchdog {
public:
    explicit TWatchdog(const char *what, std::chrono::seconds limit = 120s)
        : FThread([this, what, limit] {
              std::unique_lock<std::mutex> lock(FLock);
              if (!FDone.wait_for(lock, limit, [this] { return FFinished; })) {
                  std::fprintf(stderr, "hang: %s did not finish within %d s\n", what, int(limit.count()));
                  std::abort();
              }
          })
    {
    }
    ~TWatchdog()
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FFinished = true;
        }
        FDone.notify_all();
        FThread.join();
    }

private:
    std::mutex FLock;
    std::condition_variable FDone;
    bool FFinished = false;
    std::thread FThread;
};

bool WaitFor(const std::function<bool()> &condition)
{
    for (int i = 0; i < 6000 && !condition(); ++i) std::this_thread::sleep_for(5ms);
    return condition();
}

// The frame count of the output's video by ffprobe, or -1.
int ProbedFrames(const std::string &path)
{
    const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                "stream=nb_read_frames -of default=nw=1:nk=1 '" +
                                path + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    int frames = -1;
    if (std::fscanf(pipe, "%d", &frames) != 1) frames = -1;
    pclose(pipe);
    return frames;
}

class Stress : public ::testing::Test {
protected:
    void SetUp() override { LoadMediaLibrariesForTest(); }

    // An engine with its input and output open, counting its notifications:
    // stress.mp4 (4 s, 200 pictures at 50 fps) at its own rate when paced,
    // else tiny.mp4 as fast as it goes.
    std::unique_ptr<TCustomFFmpeg> Prepare(const std::string &output, std::atomic<int> &terminations,
                                           bool paced = true)
    {
        auto engine = std::make_unique<TCustomFFmpeg>();
        engine->Reset();
        engine->SetVerbose(-1);
        engine->TerminateHandler = [&terminations](TCustomFFmpeg &) { ++terminations; };
        if (paced) engine->SetOption("re", "1");
        EXPECT_TRUE(engine->OpenInput(MyUtils::Utf8ToUtf16(MediaFixture(paced ? "stress.mp4" : "tiny.mp4"))))
            << engine->LastError;
        engine->SetOption("vcodec", "mpeg4");
        EXPECT_GE(engine->OpenOutput(MyUtils::Utf8ToUtf16(output)), 1) << engine->LastError;
        return engine;
    }

    // One run started on its worker thread.
    static void StartWorker(TCustomFFmpeg &engine)
    {
        TFFmpegThread *thread = engine.Start(true);
        ASSERT_NE(thread, nullptr) << engine.TerminateMessage;
        thread->Start();
    }

    TTempFolder Folder;
};

TEST_F(Stress, StartAndStopTwoHundredTimes)
{
    TWatchdog watchdog("the start and stop cycles", 600s);
    std::mt19937 random(6);
    size_t descriptors = 0, threads = 0;
    for (int i = 0; i < StartStopCycles; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        std::atomic<int> terminations{0};
        auto engine = Prepare(Folder.File("out.avi"), terminations);
        StartWorker(*engine);
        // Stops at every stage of a run (set-up, headers, main loop); every
        // fourth run is paused first, and the stop must still end it.
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        if (i % 4 == 3) engine->Pause();
        engine->Stop();
        ASSERT_TRUE(WaitFor([&] { return terminations > 0; })) << "the stopped run did not end";
        EXPECT_FALSE(engine->HasError) << engine->TerminateMessage;
        EXPECT_FALSE(engine->Finished);
        engine.reset();
        ASSERT_EQ(terminations, 1);
        // Counted after the first run: the libraries open what they keep on first use.
        if (i == 0) descriptors = OpenDescriptors(), threads = Threads();
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_EQ(Threads(), threads);
}

TEST_F(Stress, PauseAndResumeTwoHundredTimesWhileConverting)
{
    TWatchdog watchdog("the pause and resume cycles");
    std::atomic<int> terminations[2] = {0, 0};
    std::unique_ptr<TCustomFFmpeg> engines[2] = {Prepare(Folder.File("a.avi"), terminations[0]),
                                                 Prepare(Folder.File("b.avi"), terminations[1])};
    for (auto &engine : engines) StartWorker(*engine);
    for (int i = 0; i < PauseResumeCycles; ++i) {
        TCustomFFmpeg &engine = *engines[i % 2];
        engine.Pause();
        EXPECT_TRUE(engine.Paused());
        std::this_thread::sleep_for(1ms);
        engine.Resume();
        EXPECT_FALSE(engine.Paused());
        std::this_thread::sleep_for(1ms);
    }
    // Both are paced to 4 s: the cycles all fell on running conversions.
    EXPECT_EQ(terminations[0] + terminations[1], 0);
    ASSERT_TRUE(WaitFor([&] { return terminations[0] > 0 && terminations[1] > 0; }));
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE("conversion " + std::to_string(k));
        EXPECT_TRUE(engines[k]->Finished) << engines[k]->TerminateMessage;
        EXPECT_FALSE(engines[k]->HasError) << engines[k]->TerminateMessage;
        engines[k].reset();
        EXPECT_EQ(terminations[k], 1);
    }
    // Pausing neither loses nor repeats a picture.
    EXPECT_EQ(ProbedFrames(Folder.File("a.avi")), 200);
    EXPECT_EQ(ProbedFrames(Folder.File("b.avi")), 200);
}

TEST_F(Stress, EnginesDestroyedWhileRunning)
{
    TWatchdog watchdog("destroying running engines");
    std::mt19937 random(7);
    for (int i = 0; i < DestroyedRuns; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        std::atomic<int> terminations{0};
        const std::string output = Folder.File("out" + std::to_string(i) + ".avi");
        auto engine = Prepare(output, terminations);
        StartWorker(*engine);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        if (i % 3 == 2) engine->Pause(); // a paused engine too
        engine.reset();
        EXPECT_EQ(terminations, 1);
        // What the run wrote is a whole file (trailer included) or nothing.
        if (std::filesystem::exists(output)) {
            EXPECT_GT(std::filesystem::file_size(output), 0u);
        }
    }
}

TEST_F(Stress, StopsRacingTheEndOfARunNotifyOnce)
{
    TWatchdog watchdog("stops racing the end of runs");
    for (int i = 0; i < RacedEnds; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        std::atomic<int> terminations{0};
        auto engine = Prepare(Folder.File("out.avi"), terminations, false);
        std::atomic<bool> go{false};
        // Stops from two threads, over and over, while the run ends by itself.
        auto stopper = [&] {
            while (!go) std::this_thread::yield();
            while (terminations == 0) engine->Stop();
            engine->Stop();
        };
        std::thread first(stopper), second(stopper);
        StartWorker(*engine);
        go = true;
        first.join();
        second.join();
        engine.reset();
        EXPECT_EQ(terminations, 1);
    }
}

TEST_F(Stress, StopsOnANeverStartedEngineFromManyThreadsNotifyOnce)
{
    TWatchdog watchdog("stops on never started engines");
    for (int i = 0; i < RacedEnds; ++i) {
        std::atomic<int> terminations{0};
        auto engine = std::make_unique<TCustomFFmpeg>();
        engine->TerminateHandler = [&terminations](TCustomFFmpeg &) { ++terminations; };
        std::atomic<bool> go{false};
        std::vector<std::thread> stoppers;
        for (int k = 0; k < 4; ++k)
            stoppers.emplace_back([&] {
                while (!go) std::this_thread::yield();
                engine->Stop();
            });
        go = true;
        for (auto &t : stoppers) t.join();
        engine.reset();
        EXPECT_EQ(terminations, 1) << "run " << i;
    }
}

} // namespace
