// The conversion component: a list of conversion tasks (one engine each),
// run one at a time or several at once, with six events.
//
// Ownership: the component owns its tasks (TFFmpeg, one per input file, each
// with copies of its option records and a media probe of its own) and its
// own probe, which the host borrows for file inspection.
//
// Threads: the component's operations and property setters are called on
// the thread that created it (the user-interface thread). OnProgress,
// OnTerminate, OnLog, OnBeforeHook and OnCustomHook run on the thread that
// runs the task: a worker thread, the calling thread of a synchronous
// StartConvert, or a short-lived thread of StopConvert for tasks that never
// started; library log lines arrive on whichever thread logs. OnLog,
// OnProgress and OnTerminate are serialised by the component's lock, so a
// handler must not wait for another thread that raises one of them. Only
// OnPreviewBitmap runs on the user-interface thread, through the host's
// dispatcher; without one it runs directly on the worker. Assign the events
// while no task runs.
//
// Hand-overs to the user-interface thread: a worker that has to wait for
// that thread (OnPreviewBitmap, a previewer window, a handler of OnProgress
// or OnTerminate that shows something and waits for it) waits only through
// HandOver. A hand-over can be withdrawn: the destructor withdraws every
// pending one, ClearTasks those of every task, RemoveTask those of the task
// it removes, each before it waits for tasks to end, and from then on
// refuses new ones of those tasks. A withdrawn hand-over returns false to the
// worker and its call never runs, so closing the window during a run never
// hangs on a worker that waits for the window. A call that has already begun
// on the user-interface thread runs to its end; so the destructor, ClearTasks
// and RemoveTask must not be called from inside a handed-over call (nor from
// an event loop nested in one).
//
// Library log lines logged on the user-interface thread never wait for the
// component's lock: while a worker holds it (inside an event handler that may
// be waiting for that very thread), the line is queued and the holder raises
// OnLog with it before it lets the lock go. Lines keep their order and OnLog
// stays serialised with OnProgress and OnTerminate. Where the user-interface
// thread itself must raise an event while a worker holds the lock (a task that
// fails to start when ResumeConvert or StartConvert starts it), it runs the
// pending hand-overs while it waits, so the holder can finish; a hand-over may
// therefore run inside those calls.
//
// A run: StartConvert starts one; a second StartConvert while it is active
// starts nothing and sets LastError. The run stays active until
// OnTerminate(-1) is raised (or ClearTasks ends it). PauseConvert holds the
// whole run: running tasks stop at their next pause point (the main loop,
// the video path, the writing of a packet), no task starts and the run's end
// is not reported until ResumeConvert, which continues where the run stood.
// StopConvert also ends a pause.
//
// A task may be removed or destroyed (RemoveTask, ClearTasks, the
// component's destructor) only from the user-interface thread and never from
// an event handler of that task; the component waits for a task that was
// started to report its end first (it stops running tasks and withdraws
// their hand-overs).
//
// Failures: LoadMediaLibraries, AddTask and SetOutput report by result and
// LastError; no exception escapes them. A task that fails while running
// reports OnTerminate with AException and its message, and the run goes on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AVProbe.h"
#include "FFmpeg.h"
#include "TaskOptions.h"

enum TLogLevel : int32_t { llQuiet, llError, llInfo, llDebug, llAll };

// The worker priorities the component offers: tpIdle to tpNormal.
using TConvertPriority = TThreadPriority;

// clang-format off
using TBeforeHookEvent = std::function<void(int32_t AIndex, int64_t APTS, THookAction &AHookAction)>;
using TCustomHookEvent = std::function<void(int32_t AIndex, TBitmap &ABitmap, int32_t AFrameNumber, int64_t APTS,
                                            bool &AUpdate, bool &AStopHook)>;
using TLogEvent = std::function<void(int32_t AIndex, TLogLevel ALogLevel, const std::string &AMsg)>;
using TPreviewBitmapEvent = std::function<void(int32_t AIndex, TBitmap &ABitmap, int32_t AFrameNumber, int64_t APTS)>;
using TProgressEvent = std::function<void(int32_t AIndex, int32_t AFrameNumber, int32_t AFPS, int32_t ACurrentDuration,
                                          float AQuality, float ABitRate, int64_t ACurrentSize,
                                          int32_t ATotalOutputDuration)>;
using TTerminateEvent = std::function<void(int32_t AIndex, bool AFinished, bool AException, const std::string &AMessage)>;
// clang-format on

// Queues `call` to run later on the user-interface thread and returns at once
// (in Qt: QMetaObject::invokeMethod with Qt::QueuedConnection). The call may
// run after its hand-over was withdrawn, even after the component is gone:
// it then does nothing. It may also never run (the queue is dropped).
using TUiDispatcher = std::function<void(std::function<void()> call)>;

// Engine and library levels to TLogLevel: below 0 llQuiet, 0..3 one up, above 3 llAll.
TLogLevel LogLevelOf(int level);

// The calling thread's id: the project's own 64-bit number, never 0.
uint64_t CurrentThreadID();

// The libraries' log callback (av_log_set_callback): assembles each thread's
// text into lines and hands every line to every live component.
void LibraryLogCallback(void *context, int level, const char *format, va_list args);

class TCustomZUzidiDOR;

// One task: the engine of one conversion, with the records it was given.
class TFFmpeg : public TCustomFFmpeg {
public:
    explicit TFFmpeg(TCustomZUzidiDOR *component);
    // Waits for a started task to finish reporting its end.
    ~TFFmpeg() override;

    TCustomZUzidiDOR *const Component;
    std::atomic<int32_t> TaskIndex{-1}; // position in the component's list
    // The id of the thread that runs the task; 0 before it starts and after it ended.
    std::atomic<uint64_t> ThreadID{0};
    TInputOptions InputOptions;
    TOutputOptions OutputOptions;
    // Attached read-only to the task's opened input until the job releases
    // it (the task's end); user-interface thread only.
    TAVProbe &Probe() { return *FProbe; }

private:
    friend class TCustomZUzidiDOR;
    friend class TFFmpegList;
    std::unique_ptr<TAVProbe> FProbe;
    std::atomic<TFFmpegThread *> FWorker{nullptr}; // published once it runs
    std::atomic<bool> FClaimed{false};             // taken by a run: never started again
    std::atomic<bool> FStopIssued{false};          // never started, asked to report its end
    std::atomic<bool> FReportPending{false};       // a thread will still report its end
    std::atomic<bool> FEnded{false};               // its end was reported
    std::atomic<int> FPendingSwitches{-1};         // preview switches not applied yet
    std::atomic<bool> FWithdrawn{false};           // being removed: its hand-overs are refused
};

// One wait of a worker for the user-interface thread (HandOver).
struct THandOver;

// The component's tasks in order. Thread-safe; a task pointer stays valid
// until the task is deleted.
class TFFmpegList {
public:
    TFFmpegList() = default;
    TFFmpegList(const TFFmpegList &) = delete;
    TFFmpegList &operator=(const TFFmpegList &) = delete;
    ~TFFmpegList() { Clear(); }

    // Appends the task and sets its TaskIndex; returns the index.
    int32_t Add(std::unique_ptr<TFFmpeg> engine);
    TFFmpeg *Item(int32_t index) const; // null out of range
    int32_t Count() const;
    // Destroys the task and renumbers the ones after it. Out of range: nothing.
    void Delete(int32_t index);
    void Clear();
    TFFmpeg *FindByThread(uint64_t threadId) const;
    // The task that the calling thread runs, or null.
    TFFmpeg *FindByCurrentThread() const;
    std::vector<TFFmpeg *> Items() const;

private:
    mutable std::mutex FLock; // innermost: held only around the vector
    std::vector<std::unique_ptr<TFFmpeg>> FItems;
};

class TCustomZUzidiDOR {
public:
    TCustomZUzidiDOR();
    virtual ~TCustomZUzidiDOR();
    TCustomZUzidiDOR(const TCustomZUzidiDOR &) = delete;
    TCustomZUzidiDOR &operator=(const TCustomZUzidiDOR &) = delete;

    // Loads the media libraries from `folder` and installs the library log.
    bool LoadMediaLibraries(const std::u16string &folder);
    bool MediaLibrariesLoaded() const;

    // A new task reading `fileName`; its index, or -1 with LastError.
    int32_t AddTask(const std::u16string &fileName, TInputOptions *options = nullptr);
    // Creates the task's output; false with LastError (the task stays).
    bool SetOutput(int32_t index, const std::u16string &fileName, TOutputOptions *options = nullptr);
    void RemoveTask(int32_t index);
    void ClearTasks();

    // concurrency > 0: at most that many tasks on worker threads at once,
    // each end starting the next. <= 0: every task in turn on the calling
    // thread before this returns. After the last end, OnTerminate(-1, true,
    // false, ""). A task runs once; one that already ran is passed over.
    // While a run is active, nothing starts and LastError says why.
    void StartConvert(int32_t concurrency);
    // True from a StartConvert with tasks until OnTerminate(-1) is raised.
    bool RunActive() const { return FRunActive; }
    // Running tasks are asked to stop (a paused run is woken for it); tasks
    // that never started report their end from threads of their own;
    // nothing new starts.
    void StopConvert();
    // Holds the active run of worker threads: see the run, above. Nothing
    // without one.
    void PauseConvert();
    void ResumeConvert();
    bool RunPaused() const { return FPaused; }

    TAVProbe &Probe() { return *FProbe; }
    const std::string &LastError() const { return FLastError; }
    std::string Version() const { return "2.3c"; }
    std::string About; // no effect
    TFFmpegList &Tasks() { return FTasks; }

    // Installs the host's way of queueing calls on the user-interface thread
    // (empty: hand-overs run directly on the worker). Set before the first
    // run.
    void SetDispatcher(TUiDispatcher dispatcher) { FDispatcher = std::move(dispatcher); }
    // Runs `call` on the user-interface thread and waits until it has run:
    // true. False, without running it, when the hand-over is withdrawn (see
    // the top of this file) or the dispatcher fails to queue it. On the
    // user-interface thread, or without a dispatcher, `call` runs at once.
    // An exception of `call` comes out here, on the waiting thread. Any
    // thread.
    bool HandOver(const std::function<void()> &call);

    // The middle parts of AddTask and SetOutput: the record's translation
    // into the task's engine, before the file is opened. Raise on failure.
    void TranslateInputOptions(TFFmpeg &task, const std::u16string &fileName, TInputOptions *options);
    void TranslateOutputOptions(TFFmpeg &task, const std::u16string &fileName, TOutputOptions *options);

    // One complete line of the libraries' log, from the thread that logged it.
    void DeliverLibraryLine(int level, const std::string &line);

protected:
    // Dispatchers: the engine calls them through the handlers each task gets.
    virtual void DoBeforeHook(TFFmpeg &task, THookAction &action, int64_t pts);
    virtual void DoCustomHook(TFFmpeg &task, TBitmap &bitmap, bool &stopHook, bool &update, int64_t pts,
                              int32_t frameNumber);
    virtual void DoLog(TFFmpeg *task, int level, const std::string &text);
    virtual void DoPreviewBitmap(TFFmpeg &task, TBitmap &bitmap, int64_t pts, int32_t frameNumber);
    virtual void DoProgress(TFFmpeg &task, int32_t frameNumber, int32_t fps, int32_t currentDuration,
                            float quality, float bitRate, int64_t currentSize, int32_t totalDuration);
    virtual void DoTerminate(TFFmpeg *task);

    // Properties, published by TZUzidiDOR.
    TLogLevel LogLevel() const { return FLogLevel; }
    // Also sets the libraries' level while they are loaded.
    void SetLogLevel(TLogLevel level);
    bool Preview() const { return FPreview; }
    bool PreviewBitmap() const { return FPreviewBitmap; }
    // Both update every task. They never wait for a picture being handed to
    // the user-interface thread: a task busy with one takes the change at
    // its next progress report.
    void SetPreview(bool value);
    void SetPreviewBitmap(bool value);
    int32_t ProgressInterval() const { return FProgressInterval; }
    void SetProgressInterval(int32_t milliseconds); // at least 100
    TConvertPriority ThreadPriority() const { return FThreadPriority; }
    void SetThreadPriority(TConvertPriority priority); // above tpNormal: tpNormal

    TBeforeHookEvent OnBeforeHook;
    TCustomHookEvent OnCustomHook;
    TLogEvent OnLog;
    TPreviewBitmapEvent OnPreviewBitmap;
    TProgressEvent OnProgress;
    TTerminateEvent OnTerminate;

private:
    uint8_t SwitchFlags() const;
    void UpdateSwitches();
    // Sets the task's preview switches unless another thread holds
    // PreviewLock (a picture may be on its way to this thread): then the
    // task keeps them until ApplyPendingSwitches on its own thread.
    static void ApplySwitches(TFFmpeg &task, uint8_t flags);
    static void ApplyPendingSwitches(TFFmpeg &task);
    void StartNextTask();
    void RaiseFinalTerminate();
    // The task whose event the calling thread is raising, or that it runs.
    TFFmpeg *CallingTask() const;
    // Withdraws the pending hand-overs of `task` (null: every one).
    void WithdrawHandOvers(const TFFmpeg *task);
    // On the user-interface thread: runs the hand-overs waiting for it.
    void RunHandOversHere();
    // The component's lock around OnLog, OnProgress and OnTerminate:
    // re-entrant for its owner. EnterEvents waits for it, unless `line` is
    // given and the lock is another thread's: then the line is queued for
    // the owner to raise, and the result is false. LeaveEvents raises the
    // queued lines before it lets the lock go.
    struct TQueuedLine {
        int32_t Index;
        TLogLevel Level;
        std::string Text;
    };
    bool EnterEvents(const TQueuedLine *line = nullptr);
    void LeaveEvents();
    void RaiseLog(int32_t index, TLogLevel level, const std::string &text);
    friend void LibraryLogCallback(void *, int, const char *, va_list);

    std::unique_ptr<TAVProbe> FProbe;
    TFFmpegList FTasks;
    std::string FLastError;
    TUiDispatcher FDispatcher;
    const std::thread::id FUiThread;

    // Run state, guarded by FStateLock (never held while calling out).
    std::mutex FStateLock;
    int32_t FNextTask = -1;
    int32_t FPendingCount = 0;
    int32_t FFinishedCount = 0;
    bool FConcurrentRun = false;
    bool FFinalRaised = false; // OnTerminate(-1) of the current run
    int32_t FOwedStarts = 0;   // task starts held back by a pause
    bool FFinalOwed = false;   // the run's end, held back by a pause
    std::atomic<bool> FRunActive{false};
    std::atomic<bool> FPaused{false};
    std::atomic<bool> FStopRun{false};

    // The events' lock: its owner and depth (re-entered when a task that
    // fails to start reports its end from inside a dispatcher), and the
    // library lines queued for the owner.
    std::mutex FEventsState;
    std::condition_variable FEventsFree;
    std::thread::id FEventsOwner;
    int FEventsDepth = 0;
    std::vector<TQueuedLine> FQueuedLines;
    uint64_t FHandOverArrivals = 0; // hand-overs queued so far, under FEventsState

    // Hand-overs waiting for the user-interface thread.
    std::mutex FHandOverLock;
    std::vector<std::shared_ptr<THandOver>> FHandOvers;
    int FWithdrawAll = 0; // ClearTasks at work: every task's hand-over is refused

    std::atomic<bool> FDestroying{false};
    std::atomic<int> FStarting{0};   // worker threads being started right now
    std::atomic<int> FDeliveries{0}; // library log deliveries in progress

    std::atomic<TLogLevel> FLogLevel{llInfo};
    std::atomic<bool> FPreview{false};
    std::atomic<bool> FPreviewBitmap{false};
    std::atomic<int32_t> FProgressInterval{500};
    std::atomic<TConvertPriority> FThreadPriority{tpNormal};
};

// The component with its properties and events published.
class TZUzidiDOR : public TCustomZUzidiDOR {
public:
    using TCustomZUzidiDOR::LogLevel;
    using TCustomZUzidiDOR::OnBeforeHook;
    using TCustomZUzidiDOR::OnCustomHook;
    using TCustomZUzidiDOR::OnLog;
    using TCustomZUzidiDOR::OnPreviewBitmap;
    using TCustomZUzidiDOR::OnProgress;
    using TCustomZUzidiDOR::OnTerminate;
    using TCustomZUzidiDOR::Preview;
    using TCustomZUzidiDOR::PreviewBitmap;
    using TCustomZUzidiDOR::ProgressInterval;
    using TCustomZUzidiDOR::SetLogLevel;
    using TCustomZUzidiDOR::SetPreview;
    using TCustomZUzidiDOR::SetPreviewBitmap;
    using TCustomZUzidiDOR::SetProgressInterval;
    using TCustomZUzidiDOR::SetThreadPriority;
    using TCustomZUzidiDOR::ThreadPriority;
};
