// A window driving the component: workers that wait for the user-interface
// thread while the window goes away, library lines from that thread while a
// worker holds the events, pause across the tasks of a run, one run at a
// time, and progress within its total. The stand-in user-interface thread is
// the test's own; every wait has a deadline.
#include <filesystem>
#include <map>
#include <set>

#include "ComponentTestSupport.h"
#include "MediaFixtures.h"
#include "Previewer.h"

namespace {

constexpr auto Patience = std::chrono::seconds(60);

size_t OpenFileDescriptors()
{
    size_t count = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

// Frames of the first video stream of `file`, decoded by ffprobe; -1 when
// ffprobe fails.
int DecodedFrames(const std::string &file)
{
    const std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                "stream=nb_read_frames -of csv=p=0 '" +
                                file + "'";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char text[64] = {};
    const bool read = std::fgets(text, sizeof text, pipe) != nullptr;
    const int status = pclose(pipe);
    return read && status == 0 ? std::atoi(text) : -1;
}

class ComponentRun : public ComponentTest {
protected:
    // A task converting tiny.mp4 (5 pictures) into Folder/outN.mkv with
    // `codec`; the custom hook lets the test see every picture.
    void AddTiny(int n, const std::string &codec = "mpeg4", TZUzidiDOR *component = nullptr)
    {
        TZUzidiDOR &c = component ? *component : Component;
        ASSERT_EQ(c.AddTask(U16(MediaFixture("tiny.mp4"))), n) << c.LastError();
        TOutputOptions o;
        o.VideoCodec = codec;
        o.CustomHook = true;
        ASSERT_TRUE(c.SetOutput(n, U16(Output(n)), &o)) << c.LastError();
    }
    std::string Output(int n) const { return Folder.File("out" + std::to_string(n) + ".mkv"); }

    std::vector<int32_t> TerminateIndexes()
    {
        std::vector<int32_t> out;
        for (const TTerminateRecord &t : Events.Terminates()) out.push_back(t.Index);
        return out;
    }
    // Runs the user-interface queue until the run's end was reported.
    bool RunUntilTheEnd(TUiQueue &ui)
    {
        const auto deadline = std::chrono::steady_clock::now() + Patience;
        while (std::chrono::steady_clock::now() < deadline) {
            ui.RunOne(std::chrono::milliseconds(20));
            const std::vector<int32_t> ends = TerminateIndexes();
            if (!ends.empty() && ends.back() == -1) return true;
        }
        return false;
    }

    TTempFolder Folder;
};

// ---- Hand-overs withdrawn when the window goes ------------------------------

// A previewer window whose pictures go to the user-interface thread.
class TWindowPreviewer : public TPreviewer {
public:
    explicit TWindowPreviewer(TZUzidiDOR &component) : FComponent(component) {}
    bool ShowPicture(TBitmap &, int32_t, int64_t) override
    {
        return FComponent.HandOver([] {});
    }

private:
    TZUzidiDOR &FComponent;
};

enum TWaitingIn { wiPreviewBitmap, wiPreviewer, wiProgress, wiTerminate };
enum TEnding { enDestroy, enClearTasks, enRemoveTask };

TEST_F(ComponentRun, AWorkerWaitingForTheWindowNeverHoldsUpItsEnd)
{
    const struct {
        TWaitingIn waiting;
        TEnding ending;
        const char *name;
    } table[] = {
        {wiPreviewBitmap, enDestroy, "OnPreviewBitmap, destroyed"},
        {wiPreviewer, enDestroy, "previewer, destroyed"},
        {wiProgress, enDestroy, "OnProgress, destroyed"},
        {wiTerminate, enDestroy, "OnTerminate, destroyed"},
        {wiPreviewBitmap, enClearTasks, "OnPreviewBitmap, ClearTasks"},
        {wiTerminate, enClearTasks, "OnTerminate, ClearTasks"},
        {wiProgress, enRemoveTask, "OnProgress, RemoveTask"},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.name);
        const size_t descriptors = OpenFileDescriptors();
        // Declared first: calls still queued run after the component is gone.
        TUiQueue ui;
        {
            auto component = std::make_unique<TZUzidiDOR>();
            TZUzidiDOR &c = *component;
            c.SetDispatcher(ui.Dispatcher());
            std::atomic<int> refused{0};
            auto waitForTheWindow = [&c, &refused] {
                if (!c.HandOver([] {})) ++refused;
            };
            switch (row.waiting) {
            case wiPreviewBitmap:
                c.OnPreviewBitmap = [](int32_t, TBitmap &, int32_t, int64_t) {};
                c.SetPreviewBitmap(true);
                break;
            case wiPreviewer:
                SetPreviewerFactory([&c] { return std::make_unique<TWindowPreviewer>(c); });
                c.SetPreview(true);
                break;
            case wiProgress:
                c.OnProgress = [&](int32_t, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
                    waitForTheWindow();
                };
                break;
            case wiTerminate:
                c.OnTerminate = [&](int32_t, bool, bool, const std::string &) { waitForTheWindow(); };
                break;
            }
            AddTiny(0, "mpeg4", &c);
            AddTiny(1, "mpeg4", &c);
            c.StartConvert(1);
            ASSERT_TRUE(ui.WaitQueued());

            TWatchdog watchdog(std::chrono::seconds(30), row.name);
            switch (row.ending) {
            case enDestroy: component.reset(); break;
            case enClearTasks:
                c.ClearTasks();
                EXPECT_EQ(c.Tasks().Count(), 0);
                EXPECT_FALSE(c.RunActive());
                component.reset();
                break;
            case enRemoveTask:
                c.RemoveTask(0);
                EXPECT_EQ(c.Tasks().Count(), 1);
                EXPECT_GE(refused, 1);
                component.reset();
                break;
            }
        }
        SetPreviewerFactory(nullptr);
        // The withdrawn calls find nothing to do.
        EXPECT_GE(ui.RunAll(), 1);
        EXPECT_EQ(OpenFileDescriptors(), descriptors);
    }
}

TEST_F(ComponentRun, AHandOverRunsOnTheUserInterfaceThreadAndPassesFailuresBack)
{
    TUiQueue ui;
    Component.SetDispatcher(ui.Dispatcher());
    std::thread::id ranOn;
    bool ran = false;
    std::string failure;
    std::thread worker([&] {
        ran = Component.HandOver([&] { ranOn = std::this_thread::get_id(); });
        try {
            Component.HandOver([] { throw std::runtime_error("window closed"); });
        } catch (const std::exception &e) {
            failure = e.what();
        }
    });
    TWatchdog watchdog(std::chrono::seconds(30), "hand-over");
    ASSERT_TRUE(ui.RunOne());
    ASSERT_TRUE(ui.RunOne());
    worker.join();
    EXPECT_TRUE(ran);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(failure, "window closed");
    // On the user-interface thread itself: at once.
    bool direct = false;
    EXPECT_TRUE(Component.HandOver([&] { direct = true; }));
    EXPECT_TRUE(direct);
    EXPECT_EQ(ui.Queued(), 0u);
}

// The user-interface thread raising an event (a task that fails to start as
// ResumeConvert starts it) while a worker holds the events and waits for that
// thread: the waiting thread runs the worker's hand-over, and the events stay
// one after the other.
TEST_F(ComponentRun, AnEventOfTheWindowRunsTheHandOverTheWorkerHoldingTheEventsWaitsFor)
{
    TUiQueue ui;
    TTestComponent component;
    component.SetDispatcher(ui.Dispatcher());
    AddTiny(0, "mpeg4", &component);
    AddTiny(1, "mpeg4", &component);
    std::mutex lock;
    std::vector<std::string> order;
    auto note = [&](const std::string &what) {
        std::lock_guard<std::mutex> guard(lock);
        order.push_back(what);
    };
    std::thread::id handOverThread;
    component.OnProgress = [&](int32_t, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
        note("progress");
        component.HandOver([&] {
            handOverThread = std::this_thread::get_id();
            note("hand-over");
        });
        note("progress done");
    };
    component.OnTerminate = [&](int32_t index, bool, bool, const std::string &) {
        note("terminate " + std::to_string(index));
    };
    std::thread worker([&] { component.DoProgress(*component.Tasks().Item(0), 1, 25, 40, 2, 0, 100, 200); });
    ASSERT_TRUE(ui.WaitQueued()); // the worker holds the events and waits
    {
        TWatchdog watchdog(std::chrono::seconds(30), "an event raised on the user-interface thread");
        component.DoTerminate(component.Tasks().Item(1));
    }
    worker.join();
    EXPECT_EQ(handOverThread, std::this_thread::get_id());
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(order, (std::vector<std::string>{"progress", "hand-over", "progress done", "terminate 1"}));
    }
    // The dispatcher's own call of the hand-over finds it done.
    EXPECT_EQ(ui.RunAll(), 1);
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(order.size(), 4u);
}

// ---- Library lines from the user-interface thread ---------------------------

// The worker raises OnProgress holding the component's lock and waits in it
// for the user-interface thread; that thread logs through the libraries
// (as ReadFrame does) before it gets to the hand-over. It must not wait for
// the worker, and OnLog must still never run beside OnProgress.
TEST_F(ComponentRun, ALibraryLineOfTheWindowNeverWaitsForAWorker)
{
    TUiQueue ui;
    Component.SetDispatcher(ui.Dispatcher());
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::mutex lock;
    std::vector<std::string> order; // "progress" and the lines of the window, as raised
    auto record = Component.OnLog;
    Component.OnLog = [&](int32_t index, TLogLevel level, const std::string &message) {
        if (inside++ > 0) overlapped = true;
        if (message.rfind("from the window", 0) == 0) {
            std::lock_guard<std::mutex> guard(lock);
            order.push_back(message);
        }
        record(index, level, message);
        --inside;
    };
    std::atomic<int> waits{0};
    Component.OnProgress = [&](int32_t, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) {
        if (inside++ > 0) overlapped = true;
        {
            std::lock_guard<std::mutex> guard(lock);
            order.push_back("progress");
        }
        if (waits++ == 0) Component.HandOver([] {});
        --inside;
    };
    AddTiny(0);
    ASSERT_TRUE(Component.Probe().OpenFile(U16(MediaFixture("colours.mp4"))));
    Component.StartConvert(1);
    ASSERT_TRUE(ui.WaitQueued()); // the worker waits inside OnProgress

    {
        TWatchdog watchdog(std::chrono::seconds(30), "a library line on the user-interface thread");
        lav::av_log(nullptr, AV_LOG_ERROR, "from the window 1\n");
        Component.Probe().ReadFrame(-1, 1000000);
        lav::av_log(nullptr, AV_LOG_ERROR, "from the window 2\n");
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(order, (std::vector<std::string>{"progress"}));
    }
    ASSERT_TRUE(RunUntilTheEnd(ui));

    EXPECT_FALSE(overlapped);
    {
        std::lock_guard<std::mutex> guard(lock);
        ASSERT_GE(order.size(), 3u);
        EXPECT_EQ(order[0], "progress");
        EXPECT_EQ(order[1], "from the window 1");
        EXPECT_EQ(order[2], "from the window 2");
    }
    for (const char *line : {"from the window 1", "from the window 2"}) {
        const std::vector<TLogRecord> lines = Events.LogsWith(line);
        ASSERT_EQ(lines.size(), 1u) << line;
        EXPECT_EQ(lines[0].Index, -1);
    }
    // With no worker in an event, the window's lines are raised at once, on
    // its own thread.
    lav::av_log(nullptr, AV_LOG_ERROR, "from the window 3\n");
    const std::vector<TLogRecord> later = Events.LogsWith("from the window 3");
    ASSERT_EQ(later.size(), 1u);
    EXPECT_EQ(later[0].Thread, std::this_thread::get_id());
}

// ---- Pause holds the run ----------------------------------------------------

// Two libx264 tasks: the encoder holds all five pictures in its look-ahead
// and gives them up only when it is flushed after the main loop, logging a
// debug line ("[libx264 @ ...]frame= ...") for each. The window pauses at a given moment,
// through a hand-over as its button would; while paused nothing may be
// written, no task may start and the run's end may not come. Resume
// finishes the run with complete outputs.
TEST_F(ComponentRun, PauseHoldsTheWholeRunUntilResume)
{
    enum TMoment { moFlushing, moTaskEnd };
    const struct {
        TMoment moment;
        int32_t task;
        const char *name;
        std::vector<int32_t> endsWhilePaused;
    } table[] = {
        {moFlushing, 0, "while the first task flushes its encoder", {}},
        {moTaskEnd, 0, "between the tasks", {0}},
        {moTaskEnd, 1, "after the last task", {0, 1}},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.name);
        TEventRecorder events;
        TTestComponent component;
        events.Attach(component);
        component.SetLogLevel(llDebug);
        TUiQueue ui;
        component.SetDispatcher(ui.Dispatcher());
        std::mutex lock;
        std::map<int32_t, int> pictures;
        std::atomic<bool> paused{false};
        auto pause = [&] {
            if (!paused.exchange(true)) component.HandOver([&] { component.PauseConvert(); });
        };
        component.OnCustomHook = [&](int32_t index, TBitmap &, int32_t, int64_t, bool &update, bool &) {
            update = false;
            std::lock_guard<std::mutex> guard(lock);
            ++pictures[index];
        };
        auto log = component.OnLog;
        component.OnLog = [&, log](int32_t index, TLogLevel level, const std::string &message) {
            log(index, level, message);
            if (row.moment == moFlushing && index == row.task && message.find("]frame=") != std::string::npos)
                pause();
        };
        auto record = component.OnTerminate;
        component.OnTerminate = [&, record](int32_t index, bool finished, bool exception,
                                            const std::string &message) {
            record(index, finished, exception, message);
            if (row.moment == moTaskEnd && index == row.task) pause();
        };
        AddTiny(0, "libx264", &component);
        AddTiny(1, "libx264", &component);
        component.StartConvert(1);
        // The pause's hand-over, run by the "window".
        ASSERT_TRUE(ui.RunOne(std::chrono::seconds(30)));
        ASSERT_TRUE(component.RunPaused());

        const auto sizes = [&] {
            return std::make_pair(MyUtils::FileSizeOf(U16(Output(0))), MyUtils::FileSizeOf(U16(Output(1))));
        };
        const auto before = sizes();
        // Nothing may happen now; there is no event to wait for, so the
        // check gives the tasks a while to misbehave.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(sizes(), before);
        std::vector<int32_t> ends;
        for (const TTerminateRecord &t : events.Terminates()) ends.push_back(t.Index);
        EXPECT_EQ(ends, row.endsWhilePaused);
        {
            std::lock_guard<std::mutex> guard(lock);
            EXPECT_EQ(pictures[0], 5);
            EXPECT_EQ(pictures.count(1) ? pictures[1] : 0, row.task == 0 ? 0 : 5);
        }
        EXPECT_TRUE(component.RunActive());

        component.ResumeConvert();
        EXPECT_FALSE(component.RunPaused());
        ASSERT_TRUE(events.WaitForRunEnd());
        ends.clear();
        for (const TTerminateRecord &t : events.Terminates()) {
            ends.push_back(t.Index);
            EXPECT_TRUE(t.Finished) << t.Index << " " << t.Message;
        }
        EXPECT_EQ(ends, (std::vector<int32_t>{0, 1, -1}));
        EXPECT_EQ(DecodedFrames(Output(0)), 5);
        EXPECT_EQ(DecodedFrames(Output(1)), 5);
        std::filesystem::remove(Output(0));
        std::filesystem::remove(Output(1));
    }
}

TEST_F(ComponentRun, PauseThenStopEndsTheRun)
{
    TUiQueue ui;
    Component.SetDispatcher(ui.Dispatcher());
    Component.OnCustomHook = [&](int32_t index, TBitmap &, int32_t frame, int64_t, bool &update, bool &) {
        update = false;
        if (index == 0 && frame == 2) Component.HandOver([&] { Component.PauseConvert(); });
    };
    for (int n = 0; n < 3; ++n) AddTiny(n);
    Component.StartConvert(1);
    ASSERT_TRUE(ui.RunOne(std::chrono::seconds(30)));
    ASSERT_TRUE(Component.RunPaused());
    Component.StopConvert();
    EXPECT_FALSE(Component.RunPaused());
    ASSERT_TRUE(Events.WaitForRunEnd());
    std::vector<int32_t> ends = TerminateIndexes();
    ASSERT_EQ(ends.size(), 4u);
    std::sort(ends.begin(), ends.end() - 1);
    EXPECT_EQ(ends, (std::vector<int32_t>{0, 1, 2, -1}));
    for (const TTerminateRecord &t : Events.Terminates())
        if (t.Index >= 0) {
            EXPECT_FALSE(t.Finished) << t.Index;
        }
    EXPECT_FALSE(Component.RunActive());
}

// ---- One run at a time --------------------------------------------------------

TEST_F(ComponentRun, ASecondStartWhileARunIsActiveStartsNothing)
{
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    std::set<std::thread::id> threadsAtOnce;
    int running = 0, most = 0;
    Component.OnCustomHook = [&](int32_t, TBitmap &, int32_t frame, int64_t, bool &update, bool &) {
        update = false;
        std::unique_lock<std::mutex> guard(lock);
        if (frame == 1) most = std::max(most, ++running);
        changed.notify_all();
        changed.wait(guard, [&] { return open; });
        if (frame == 5) --running;
    };
    for (int n = 0; n < 3; ++n) AddTiny(n);
    Component.StartConvert(1);
    {
        std::unique_lock<std::mutex> guard(lock);
        ASSERT_TRUE(changed.wait_for(guard, Patience, [&] { return running == 1; }));
    }
    EXPECT_TRUE(Component.RunActive());
    Component.StartConvert(1);
    EXPECT_EQ(Component.LastError(), "A conversion run is already active");
    Component.StartConvert(0); // not even synchronously
    {
        std::lock_guard<std::mutex> guard(lock);
        open = true;
    }
    changed.notify_all();
    ASSERT_TRUE(Events.WaitForRunEnd());
    EXPECT_EQ(TerminateIndexes(), (std::vector<int32_t>{0, 1, 2, -1}));
    EXPECT_EQ(most, 1);
    EXPECT_FALSE(Component.RunActive());
    for (const TTerminateRecord &t : Events.Terminates()) EXPECT_TRUE(t.Finished) << t.Index;
}

// ---- Progress within its total -----------------------------------------------

TEST_F(ComponentRun, ProgressNeverPassesItsTotal)
{
    std::vector<std::pair<int32_t, int32_t>> reported; // current, total
    Component.OnProgress = [&](int32_t, int32_t, int32_t, int32_t current, float, float, int64_t,
                               int32_t total) { reported.emplace_back(current, total); };
    auto task = std::make_unique<TFFmpeg>(&Component);
    task->Reset();
    TFFmpeg &t = *task;
    Component.Tasks().Add(std::move(task));
    const struct {
        int32_t current, total, shown;
    } table[] = {{6080, 6000, 6000}, {6000, 6000, 6000}, {1500, 6000, 1500}, {700, -1, 700}, {700, 0, 700}};
    for (const auto &row : table) {
        reported.clear();
        Component.DoProgress(t, 10, 25, row.current, 2.0f, 100.0f, 1000, row.total);
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0], std::make_pair(row.shown, row.total)) << row.current << " of " << row.total;
    }
}

} // namespace
