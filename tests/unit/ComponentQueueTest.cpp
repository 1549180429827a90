// The task queue on real short conversions: concurrency, the order of
// starts and ends, stop, pause, removal, failures and destruction.
#include <dirent.h>
#include <filesystem>
#include <map>
#include <set>

#include "ComponentTestSupport.h"
#include "MediaFixtures.h"

namespace {

constexpr auto Patience = std::chrono::seconds(60);

// Holds every task at its first decoded picture until opened, and records
// which tasks got that far, in which order and how many were running.
class TStartGate {
public:
    // The custom-hook handler's part: called for every picture.
    void Picture(int32_t index)
    {
        std::unique_lock<std::mutex> lock(FLock);
        ++FPictures[index];
        if (FPictures[index] > 1) return;
        FOrder.push_back(index);
        FEndsBefore[index] = FEnds;
        FThreads[index] = std::this_thread::get_id();
        FMaxRunning = std::max(FMaxRunning, int(FOrder.size()) - FEnds);
        FChanged.notify_all();
        FChanged.wait(lock, [this] { return FOpen; });
    }
    void Ended(int32_t index)
    {
        if (index < 0) return;
        std::lock_guard<std::mutex> lock(FLock);
        ++FEnds;
    }
    void Open()
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FOpen = true;
        }
        FChanged.notify_all();
    }
    bool WaitStarted(size_t count)
    {
        std::unique_lock<std::mutex> lock(FLock);
        return FChanged.wait_for(lock, Patience, [&] { return FOrder.size() >= count; });
    }
    std::vector<int32_t> Order()
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FOrder;
    }
    int EndsBefore(int32_t index)
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FEndsBefore[index];
    }
    int Pictures(int32_t index)
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FPictures[index];
    }
    std::thread::id Thread(int32_t index)
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FThreads[index];
    }
    int MaxRunning()
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FMaxRunning;
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FOpen = false;
    std::vector<int32_t> FOrder;
    std::map<int32_t, int> FPictures, FEndsBefore;
    std::map<int32_t, std::thread::id> FThreads;
    int FEnds = 0;
    int FMaxRunning = 0;
};

std::vector<int32_t> Sorted(std::vector<int32_t> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

class ComponentQueue : public ComponentTest {
protected:
    void SetUp() override
    {
        ComponentTest::SetUp();
        Component.OnCustomHook = [this](int32_t index, TBitmap &, int32_t, int64_t, bool &update, bool &) {
            update = false;
            Gate.Picture(index);
        };
        auto record = Component.OnTerminate;
        Component.OnTerminate = [this, record](int32_t index, bool finished, bool exception,
                                               const std::string &message) {
            Gate.Ended(index);
            record(index, finished, exception, message);
        };
    }

    // A task converting tiny.mp4 into Folder/outN.avi; `hooked` gives it the
    // custom hook (and so the gate).
    void AddTiny(int n, bool hooked)
    {
        ASSERT_EQ(Component.AddTask(U16(MediaFixture("tiny.mp4"))), n) << Component.LastError();
        TOutputOptions o;
        o.VideoCodec = "mpeg4";
        o.CustomHook = hooked;
        ASSERT_TRUE(Component.SetOutput(n, U16(Output(n)), &o)) << Component.LastError();
    }
    std::string Output(int n) const { return Folder.File("out" + std::to_string(n) + ".avi"); }

    // The task ends, by index, and the run's end, in the order raised.
    std::vector<int32_t> TerminateIndexes()
    {
        std::vector<int32_t> out;
        for (const TTerminateRecord &t : Events.Terminates()) out.push_back(t.Index);
        return out;
    }
    void ExpectOneRunEndLast()
    {
        const std::vector<TTerminateRecord> ends = Events.Terminates();
        ASSERT_FALSE(ends.empty());
        const std::vector<int32_t> indexes = TerminateIndexes();
        EXPECT_EQ(std::count(indexes.begin(), indexes.end(), -1), 1);
        const TTerminateRecord &last = ends.back();
        EXPECT_EQ(last.Index, -1);
        EXPECT_TRUE(last.Finished);
        EXPECT_FALSE(last.Exception);
        EXPECT_EQ(last.Message, "");
    }

    TTempFolder Folder;
    TStartGate Gate;
};

TEST_F(ComponentQueue, ConcurrentRunStartsTwoAndEachEndStartsTheNext)
{
    for (int n = 0; n < 5; ++n) AddTiny(n, true);
    // Library lines on a worker carry its task's index.
    auto hook = Component.OnCustomHook;
    Component.OnCustomHook = [hook](int32_t index, TBitmap &b, int32_t f, int64_t p, bool &u, bool &s) {
        lav::av_log(nullptr, AV_LOG_ERROR, "from task %d\n", index);
        hook(index, b, f, p, u, s);
    };

    Component.StartConvert(2);
    ASSERT_TRUE(Gate.WaitStarted(2));
    EXPECT_EQ(Sorted(Gate.Order()), (std::vector<int32_t>{0, 1}));
    for (int n = 2; n < 5; ++n) EXPECT_EQ(Component.Tasks().Item(n)->ThreadID, 0u) << n;
    Gate.Open();
    ASSERT_TRUE(Events.WaitForRunEnd());

    // Tasks running side by side reach their first picture in any order.
    EXPECT_EQ(Sorted(Gate.Order()), (std::vector<int32_t>{0, 1, 2, 3, 4}));
    EXPECT_LE(Gate.MaxRunning(), 2);
    for (int n = 2; n < 5; ++n) EXPECT_GE(Gate.EndsBefore(n), n - 1) << n;

    std::vector<int32_t> indexes = TerminateIndexes();
    ASSERT_EQ(indexes.size(), 6u);
    std::sort(indexes.begin(), indexes.end() - 1);
    EXPECT_EQ(indexes, (std::vector<int32_t>{0, 1, 2, 3, 4, -1}));
    ExpectOneRunEndLast();
    for (const TTerminateRecord &t : Events.Terminates()) {
        EXPECT_TRUE(t.Finished) << t.Index << " " << t.Message;
        EXPECT_FALSE(t.Exception) << t.Index << " " << t.Message;
        EXPECT_NE(t.Thread, std::this_thread::get_id());
        if (t.Index >= 0) {
            EXPECT_EQ(t.Thread, Gate.Thread(t.Index));
        }
    }
    for (int n = 0; n < 5; ++n) {
        EXPECT_GT(MyUtils::FileSizeOf(U16(Output(n))), 0) << n;
        const std::vector<TLogRecord> lines = Events.LogsWith("from task " + std::to_string(n));
        ASSERT_FALSE(lines.empty()) << n;
        EXPECT_EQ(lines[0].Index, n);
        EXPECT_EQ(lines[0].Thread, Gate.Thread(n));
    }
}

TEST_F(ComponentQueue, SynchronousRunReturnsAfterEveryEnd)
{
    for (int n = 0; n < 3; ++n) AddTiny(n, n == 1);
    Gate.Open();
    auto hook = Component.OnCustomHook;
    Component.OnCustomHook = [hook](int32_t index, TBitmap &b, int32_t f, int64_t p, bool &u, bool &s) {
        lav::av_log(nullptr, AV_LOG_ERROR, "on the calling thread\n");
        hook(index, b, f, p, u, s);
    };
    Component.StartConvert(0);

    EXPECT_EQ(TerminateIndexes(), (std::vector<int32_t>{0, 1, 2, -1}));
    ExpectOneRunEndLast();
    for (const TTerminateRecord &t : Events.Terminates()) {
        EXPECT_TRUE(t.Finished) << t.Index << " " << t.Message;
        EXPECT_EQ(t.Thread, std::this_thread::get_id());
    }
    const std::vector<TLogRecord> lines = Events.LogsWith("on the calling thread");
    ASSERT_FALSE(lines.empty());
    for (const TLogRecord &l : lines) EXPECT_EQ(l.Index, 1);
    // After the run the calling thread runs no task any more.
    lav::av_log(nullptr, AV_LOG_ERROR, "after the run\n");
    ASSERT_EQ(Events.LogsWith("after the run").size(), 1u);
    EXPECT_EQ(Events.LogsWith("after the run")[0].Index, -1);
    for (int n = 0; n < 3; ++n) EXPECT_GT(MyUtils::FileSizeOf(U16(Output(n))), 0) << n;

    // A task runs once: starting the queue again ends the run at once.
    Component.StartConvert(1);
    EXPECT_EQ(TerminateIndexes(), (std::vector<int32_t>{0, 1, 2, -1, -1}));
}

TEST_F(ComponentQueue, ProgressAndBeforeHookCarryTheTaskIndex)
{
    AddTiny(0, false);
    // Frame-hook modules with the before hook deciding on each picture.
    ASSERT_EQ(Component.AddTask(U16(MediaFixture("tiny.mp4"))), 1) << Component.LastError();
    TOutputOptions o;
    o.VideoCodec = "mpeg4";
    o.BeforeHook = true;
    o.DurationMS = 300;
    o.ExtOptions = std::string("vhook=") + VIDMORPH_HOOK_DIR + "/box.so";
    ASSERT_TRUE(Component.SetOutput(1, U16(Output(1)), &o)) << Component.LastError();

    std::vector<std::tuple<int32_t, int32_t, std::thread::id>> progress; // index, total, thread
    std::vector<std::pair<int32_t, int64_t>> asked;                      // index, time
    Component.OnProgress = [&](int32_t index, int32_t, int32_t, int32_t, float, float, int64_t,
                               int32_t total) {
        progress.emplace_back(index, total, std::this_thread::get_id());
    };
    Component.OnBeforeHook = [&](int32_t index, int64_t pts, THookAction &action) {
        asked.emplace_back(index, pts);
        action = haIgnore;
    };
    Component.StartConvert(0);
    ASSERT_EQ(TerminateIndexes(), (std::vector<int32_t>{0, 1, -1}));

    std::set<int32_t> reported;
    for (const auto &[index, total, thread] : progress) {
        reported.insert(index);
        EXPECT_EQ(thread, std::this_thread::get_id());
        if (index == 1) {
            EXPECT_EQ(total, 300);
        }
    }
    EXPECT_EQ(reported, (std::set<int32_t>{0, 1}));
    ASSERT_FALSE(asked.empty());
    for (size_t i = 0; i < asked.size(); ++i) {
        EXPECT_EQ(asked[i].first, 1);
        if (i > 0) {
            EXPECT_GT(asked[i].second, asked[i - 1].second);
        }
    }
}

// Pictures go to the user-interface thread through the host's hand-over;
// that thread may switch the previews off meanwhile without waiting for
// the worker that is showing one.
TEST_F(ComponentQueue, PreviewBitmapsReachTheUserInterfaceThread)
{
    ASSERT_EQ(Component.AddTask(U16(MediaFixture("colours.mp4"))), 0) << Component.LastError();
    TOutputOptions o;
    o.VideoCodec = "mpeg4";
    o.DisableAudio = true;
    ASSERT_TRUE(Component.SetOutput(0, U16(Output(0)), &o)) << Component.LastError();

    TUiQueue ui;
    Component.SetDispatcher(ui.Dispatcher());
    std::vector<std::tuple<int32_t, int, int32_t, std::thread::id>> shown; // index, width, frame, thread
    Component.OnPreviewBitmap = [&](int32_t index, TBitmap &bitmap, int32_t frameNumber, int64_t) {
        shown.emplace_back(index, bitmap.Width(), frameNumber, std::this_thread::get_id());
    };
    Component.SetPreviewBitmap(true);
    Component.StartConvert(1);

    const auto deadline = std::chrono::steady_clock::now() + Patience;
    bool switchedOff = false;
    while (std::chrono::steady_clock::now() < deadline) {
        if (ui.RunOne(std::chrono::milliseconds(20)) && !switchedOff) {
            Component.SetPreviewBitmap(false);
            switchedOff = true;
        }
        const std::vector<int32_t> ends = TerminateIndexes();
        if (!ends.empty() && ends.back() == -1) break;
    }
    ASSERT_EQ(TerminateIndexes(), (std::vector<int32_t>{0, -1}));
    EXPECT_TRUE(Events.Terminates()[0].Finished);
    ASSERT_FALSE(shown.empty());
    for (const auto &[index, width, frame, thread] : shown) {
        EXPECT_EQ(index, 0);
        EXPECT_EQ(width, 160);
        EXPECT_GT(frame, 0);
        EXPECT_EQ(thread, std::this_thread::get_id());
    }
}

TEST_F(ComponentQueue, StopConvertEndsRunningTasksAndReportsTheOthers)
{
    for (int n = 0; n < 4; ++n) AddTiny(n, true);
    Component.StartConvert(2);
    ASSERT_TRUE(Gate.WaitStarted(2));
    Component.StopConvert();
    Gate.Open();
    ASSERT_TRUE(Events.WaitForRunEnd());

    EXPECT_EQ(Sorted(Gate.Order()), (std::vector<int32_t>{0, 1}));
    std::vector<int32_t> indexes = TerminateIndexes();
    ASSERT_EQ(indexes.size(), 5u);
    std::sort(indexes.begin(), indexes.end() - 1);
    EXPECT_EQ(indexes, (std::vector<int32_t>{0, 1, 2, 3, -1}));
    ExpectOneRunEndLast();

    std::set<std::thread::id> threads;
    for (const TTerminateRecord &t : Events.Terminates()) {
        if (t.Index < 0) continue;
        EXPECT_FALSE(t.Finished) << t.Index;
        EXPECT_FALSE(t.Exception) << t.Index << " " << t.Message;
        EXPECT_NE(t.Thread, std::this_thread::get_id()) << t.Index;
        if (t.Index < 2) {
            EXPECT_EQ(t.Thread, Gate.Thread(t.Index));
        }
        threads.insert(t.Thread);
    }
    // Tasks 2 and 3 never started and reported from threads of their own.
    EXPECT_EQ(threads.size(), 4u);
    EXPECT_EQ(Gate.Pictures(2), 0);
    EXPECT_EQ(Gate.Pictures(3), 0);
}

TEST_F(ComponentQueue, PauseHoldsTheTaskUntilResume)
{
    AddTiny(0, true);
    Component.StartConvert(1);
    ASSERT_TRUE(Gate.WaitStarted(1));
    Component.PauseConvert();
    Gate.Open();
    // Paused at its next pause point, the task decodes at most the picture
    // it was at and does not end.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int pictures = Gate.Pictures(0);
    EXPECT_LE(pictures, 2);
    EXPECT_TRUE(Events.Terminates().empty());
    Component.ResumeConvert();
    ASSERT_TRUE(Events.WaitForRunEnd());
    EXPECT_EQ(Gate.Pictures(0), 5);
    EXPECT_EQ(TerminateIndexes(), (std::vector<int32_t>{0, -1}));
    EXPECT_TRUE(Events.Terminates()[0].Finished);
}

TEST_F(ComponentQueue, RemoveTaskRenumbersTheTasksAfterIt)
{
    for (int n = 0; n < 3; ++n) AddTiny(n, false);
    Component.RemoveTask(1);
    ASSERT_EQ(Component.Tasks().Count(), 2);
    TFFmpeg &former2 = *Component.Tasks().Item(1);
    EXPECT_EQ(former2.TaskIndex, 1);
    EXPECT_EQ(former2.OutputOptions.FileName, U16(Output(2)));
    // The removed task's output was never written: it is gone.
    EXPECT_FALSE(std::filesystem::exists(Output(1)));

    Component.StartConvert(0);
    EXPECT_EQ(TerminateIndexes(), (std::vector<int32_t>{0, 1, -1}));
    EXPECT_GT(MyUtils::FileSizeOf(U16(Output(2))), 0);
}

TEST_F(ComponentQueue, AFailedTaskNeverStopsTheQueue)
{
    AddTiny(0, false);
    // No output: it fails when it is to start.
    ASSERT_EQ(Component.AddTask(U16(MediaFixture("tiny.mp4"))), 1) << Component.LastError();
    // A copied stream cannot be hooked: it fails in the transcode set-up.
    ASSERT_EQ(Component.AddTask(U16(MediaFixture("tiny.mp4"))), 2) << Component.LastError();
    TOutputOptions copy;
    copy.VideoCodec = "copy";
    copy.CustomHook = true;
    ASSERT_TRUE(Component.SetOutput(2, U16(Output(2)), &copy)) << Component.LastError();
    AddTiny(3, false);

    Component.StartConvert(1);
    ASSERT_TRUE(Events.WaitForRunEnd());
    const std::vector<TTerminateRecord> ends = Events.Terminates();
    ASSERT_EQ(TerminateIndexes(), (std::vector<int32_t>{0, 1, 2, 3, -1}));
    EXPECT_TRUE(ends[0].Finished);
    EXPECT_FALSE(ends[0].Exception);
    EXPECT_TRUE(ends[1].Exception);
    EXPECT_EQ(ends[1].Message, "At least one output file must be specified");
    EXPECT_TRUE(ends[2].Exception);
    EXPECT_FALSE(ends[2].Message.empty());
    EXPECT_TRUE(ends[3].Finished);
    EXPECT_FALSE(ends[3].Exception);
    ExpectOneRunEndLast();
    // The failure's message is logged with the task's index.
    const std::vector<TLogRecord> lines = Events.LogsWith("At least one output file must be specified");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].Index, 1);
    EXPECT_EQ(lines[0].Level, llQuiet);
}

size_t OpenFileDescriptors()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

TEST_F(ComponentQueue, DestroyingTheComponentReleasesItsTasks)
{
    const size_t before = OpenFileDescriptors();
    {
        TZUzidiDOR component;
        for (int n = 0; n < 3; ++n) {
            ASSERT_EQ(component.AddTask(U16(MediaFixture("tiny.mp4"))), n) << component.LastError();
            ASSERT_TRUE(component.SetOutput(n, U16(Output(n)), nullptr)) << component.LastError();
            // Tasks 0 and 1 run to their end; task 2 is never started.
            if (n == 1) component.StartConvert(0);
        }
        EXPECT_GT(OpenFileDescriptors(), before);
    }
    EXPECT_EQ(OpenFileDescriptors(), before);
    EXPECT_GT(MyUtils::FileSizeOf(U16(Output(0))), 0);
    EXPECT_GT(MyUtils::FileSizeOf(U16(Output(1))), 0);
    // The output that was never written is removed with its task.
    EXPECT_FALSE(std::filesystem::exists(Output(2)));
}

} // namespace
