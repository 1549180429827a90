// The library log callback, the level mapping, the component registry, the
// properties and the hand-over of preview bitmaps to the user-interface thread.
#include <cinttypes>
#include <cstdio>

#include "ComponentTestSupport.h"

namespace {

const char *ProbeName(void *) { return "probe"; }

// A library context of our own: the libraries read its class description.
AVClass MakeProbeClass()
{
    AVClass c{};
    c.class_name = "Probe";
    c.item_name = ProbeName;
    c.version = LIBAVUTIL_VERSION_INT;
    return c;
}
const AVClass ProbeClass = MakeProbeClass();
struct TProbeContext {
    const AVClass *Class = &ProbeClass;
} ProbeContext;

std::string ProbePrefix()
{
    char text[64];
    std::snprintf(text, sizeof text, "[probe @ %016" PRIXPTR "]", reinterpret_cast<uintptr_t>(&ProbeClass));
    return text;
}

std::vector<std::string> Messages(const std::vector<TLogRecord> &logs)
{
    std::vector<std::string> out;
    for (const TLogRecord &r : logs) out.push_back(r.Message);
    return out;
}

using ComponentLog = ComponentTest;

TEST_F(ComponentLog, MessagesOfOneThreadJoinIntoLines)
{
    lav::av_log(nullptr, AV_LOG_ERROR, "first %d ", 1);
    EXPECT_TRUE(Events.Logs().empty());
    lav::av_log(nullptr, AV_LOG_ERROR, "second\n");
    lav::av_log(&ProbeContext, AV_LOG_ERROR, "with ");
    lav::av_log(&ProbeContext, AV_LOG_ERROR, "context\n");
    lav::av_log(nullptr, AV_LOG_ERROR, "two\nlines\nand a rest");

    const std::vector<TLogRecord> logs = Events.Logs();
    EXPECT_EQ(Messages(logs),
              (std::vector<std::string>{"first 1 second", ProbePrefix() + "with context", "two", "lines"}));
    for (const TLogRecord &r : logs) {
        EXPECT_EQ(r.Index, -1);
        EXPECT_EQ(r.Level, llError);
        EXPECT_EQ(r.Thread, std::this_thread::get_id());
    }

    // The rest waits for its line break; a context given then adds no prefix.
    lav::av_log(&ProbeContext, AV_LOG_ERROR, " done\n");
    EXPECT_EQ(Events.Logs().back().Message, "and a rest done");
}

TEST_F(ComponentLog, EachThreadKeepsItsOwnUnfinishedLine)
{
    lav::av_log(nullptr, AV_LOG_ERROR, "main ");
    std::thread([] {
        lav::av_log(nullptr, AV_LOG_ERROR, "other ");
        lav::av_log(nullptr, AV_LOG_ERROR, "thread\n");
    }).join();
    lav::av_log(nullptr, AV_LOG_ERROR, "thread\n");

    const std::vector<TLogRecord> logs = Events.Logs();
    ASSERT_EQ(Messages(logs), (std::vector<std::string>{"other thread", "main thread"}));
    // Neither thread runs a task of the component.
    EXPECT_EQ(logs[0].Index, -1);
    EXPECT_NE(logs[0].Thread, std::this_thread::get_id());
    EXPECT_EQ(logs[1].Index, -1);
}

TEST_F(ComponentLog, AFullBufferIsDeliveredCut)
{
    lav::av_log(nullptr, AV_LOG_ERROR, "%s", std::string(3000, 'x').c_str());
    lav::av_log(nullptr, AV_LOG_ERROR, "next\n");
    EXPECT_EQ(Messages(Events.Logs()), (std::vector<std::string>{std::string(2047, 'x'), "next"}));
}

TEST_F(ComponentLog, LevelsMapToTLogLevel)
{
    const std::vector<std::pair<int, TLogLevel>> table = {{-5, llQuiet}, {-1, llQuiet}, {0, llError},
                                                          {1, llInfo},   {2, llDebug},  {3, llAll},
                                                          {4, llAll},    {5, llAll}};
    for (const auto &[level, expected] : table) {
        EXPECT_EQ(LogLevelOf(level), expected) << level;
        Component.DoLog(nullptr, level, "engine " + std::to_string(level));
        ASSERT_FALSE(Events.Logs().empty());
        EXPECT_EQ(Events.Logs().back().Level, expected) << level;
        EXPECT_EQ(Events.Logs().back().Index, -1);
    }

    // Library levels: quiet lines always pass; debug lines only at llDebug.
    lav::av_log(nullptr, AV_LOG_QUIET, "quiet\n");
    lav::av_log(nullptr, AV_LOG_DEBUG, "hidden\n");
    Component.SetLogLevel(llDebug);
    lav::av_log(nullptr, AV_LOG_DEBUG, "debug\n");
    ASSERT_EQ(Events.LogsWith("quiet").size(), 1u);
    EXPECT_EQ(Events.LogsWith("quiet")[0].Level, llQuiet);
    EXPECT_TRUE(Events.LogsWith("hidden").empty());
    ASSERT_EQ(Events.LogsWith("debug").size(), 1u);
    EXPECT_EQ(Events.LogsWith("debug")[0].Level, llDebug);
}

TEST_F(ComponentLog, LogLevelSetsTheLibrariesLevel)
{
    const std::vector<std::tuple<TLogLevel, int, int>> table = {{llQuiet, -1, AV_LOG_QUIET},
                                                                {llError, 0, AV_LOG_ERROR},
                                                                {llInfo, 1, AV_LOG_INFO},
                                                                {llDebug, 2, AV_LOG_DEBUG},
                                                                {llAll, 2, AV_LOG_DEBUG}};
    for (const auto &[level, library, av] : table) {
        Component.SetLogLevel(level);
        EXPECT_EQ(Component.LogLevel(), level);
        EXPECT_EQ(LibraryLogLevel.load(), library) << level;
        EXPECT_EQ(lav::av_log_get_level(), av) << level;
    }
}

TEST_F(ComponentLog, EveryLiveComponentGetsTheLine)
{
    {
        TZUzidiDOR second;
        TEventRecorder secondEvents;
        secondEvents.Attach(second);
        lav::av_log(nullptr, AV_LOG_ERROR, "both\n");
        EXPECT_EQ(secondEvents.LogsWith("both").size(), 1u);
    }
    lav::av_log(nullptr, AV_LOG_ERROR, "one\n");
    EXPECT_EQ(Messages(Events.Logs()), (std::vector<std::string>{"both", "one"}));
}

TEST_F(ComponentLog, PropertiesAndTheirLimits)
{
    EXPECT_EQ(Component.Version(), "2.3c");
    EXPECT_EQ(Component.LogLevel(), llInfo);
    EXPECT_EQ(Component.ProgressInterval(), 500);
    EXPECT_EQ(Component.ThreadPriority(), tpNormal);
    EXPECT_FALSE(Component.Preview());
    EXPECT_FALSE(Component.PreviewBitmap());

    for (const auto &[set, read] :
         std::vector<std::pair<int, int>>{{50, 100}, {100, 100}, {101, 101}, {-3, 100}}) {
        Component.SetProgressInterval(set);
        EXPECT_EQ(Component.ProgressInterval(), read) << set;
    }
    Component.SetThreadPriority(tpHighest);
    EXPECT_EQ(Component.ThreadPriority(), tpNormal);
    Component.SetThreadPriority(tpIdle);
    EXPECT_EQ(Component.ThreadPriority(), tpIdle);
}

TEST_F(ComponentLog, StartConvertWithoutTasksReportsNothing)
{
    Component.StartConvert(1);
    Component.StartConvert(0);
    EXPECT_TRUE(Events.Terminates().empty());
}

class ComponentPreview : public ComponentTest {
protected:
    void SetUp() override
    {
        ComponentTest::SetUp();
        for (int i = 0; i < 2; ++i) {
            auto task = std::make_unique<TFFmpeg>(&Component);
            task->Reset();
            Component.Tasks().Add(std::move(task));
        }
        Component.SetDispatcher(Ui.Dispatcher());
        Component.OnPreviewBitmap = [this](int32_t index, TBitmap &bitmap, int32_t frameNumber, int64_t pts) {
            std::lock_guard<std::mutex> lock(Lock);
            Shown.push_back({index, bitmap.Width(), frameNumber, pts, std::this_thread::get_id()});
        };
    }

    struct TShown {
        int32_t Index;
        int Width;
        int32_t FrameNumber;
        int64_t Pts;
        std::thread::id Thread;
    };
    TUiQueue Ui;
    std::mutex Lock;
    std::vector<TShown> Shown;
};

TEST_F(ComponentPreview, SwitchesReachEveryTask)
{
    Component.SetPreview(true);
    for (TFFmpeg *task : Component.Tasks().Items()) EXPECT_EQ(task->PreviewFlags, PreviewToWindow);
    Component.SetPreviewBitmap(true);
    for (TFFmpeg *task : Component.Tasks().Items())
        EXPECT_EQ(task->PreviewFlags, PreviewToWindow | PreviewToBitmap);
    Component.SetPreview(false);
    for (TFFmpeg *task : Component.Tasks().Items()) EXPECT_EQ(task->PreviewFlags, PreviewToBitmap);
}

TEST_F(ComponentPreview, BitmapsAreShownOnTheUserInterfaceThread)
{
    TFFmpeg &task = *Component.Tasks().Item(1);
    TBitmap bitmap(8, 6);
    std::thread worker([&] { Component.DoPreviewBitmap(task, bitmap, 1234, 7); });
    ASSERT_TRUE(Ui.RunOne());
    worker.join();

    // Already on the user-interface thread: directly.
    Component.DoPreviewBitmap(task, bitmap, 99, 8);

    std::lock_guard<std::mutex> lock(Lock);
    ASSERT_EQ(Shown.size(), 2u);
    EXPECT_EQ(Shown[0].Index, 1);
    EXPECT_EQ(Shown[0].Width, 8);
    EXPECT_EQ(Shown[0].FrameNumber, 7);
    EXPECT_EQ(Shown[0].Pts, 1234);
    EXPECT_EQ(Shown[0].Thread, std::this_thread::get_id());
    EXPECT_EQ(Shown[1].Pts, 99);
}

TEST_F(ComponentPreview, AHandlerFailureReachesTheEngine)
{
    Component.OnPreviewBitmap = [](int32_t, TBitmap &, int32_t, int64_t) {
        throw std::runtime_error("no window");
    };
    TBitmap bitmap(2, 2);
    std::string message;
    std::thread worker([&] {
        try {
            Component.DoPreviewBitmap(*Component.Tasks().Item(0), bitmap, 0, 0);
        } catch (const std::exception &e) {
            message = e.what();
        }
    });
    ASSERT_TRUE(Ui.RunOne());
    worker.join();
    EXPECT_EQ(message, "no window");
}

// A task shows a picture while holding the preview lock, waiting for the
// user-interface thread; that thread changes a switch meanwhile. It must not
// wait for the lock (it would never get it); the task takes the change at
// its next progress report.
TEST_F(ComponentPreview, ChangingASwitchNeverWaitsForAPictureBeingShown)
{
    TFFmpeg &task = *Component.Tasks().Item(0);
    TBitmap bitmap(4, 4);
    std::thread worker([&] {
        {
            std::lock_guard<std::mutex> lock(PreviewLock);
            Component.DoPreviewBitmap(task, bitmap, 5, 1);
        }
        Component.DoProgress(task, 1, 25, 40, 2.0f, 100.0f, 1000, -1);
    });
    ASSERT_TRUE(Ui.WaitQueued());
    Component.SetPreviewBitmap(true); // returns although the lock is held
    EXPECT_EQ(task.PreviewFlags, 0);
    ASSERT_TRUE(Ui.RunOne());
    worker.join();
    EXPECT_EQ(task.PreviewFlags, PreviewToBitmap);

    // The lock is for all tasks: the other one keeps the change too until
    // its own thread or the next change applies it.
    TFFmpeg &other = *Component.Tasks().Item(1);
    EXPECT_EQ(other.PreviewFlags, 0);
    Component.SetPreview(true);
    EXPECT_EQ(other.PreviewFlags, PreviewToWindow | PreviewToBitmap);
    EXPECT_EQ(task.PreviewFlags, PreviewToWindow | PreviewToBitmap);
}

} // namespace
