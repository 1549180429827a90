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
// OnPreviewBitmap runs on the user-interface thread, through the dispatcher
// the host installs (a blocking hand-over); without one it runs directly on
// the worker. Assign the events while no task runs.
//
// A task may be removed or destroyed (RemoveTask, ClearTasks, the
// component's destructor) only from the user-interface thread and never from
// an event handler of that task; the component waits for a task that was
// started to report its end first (the destructor stops running tasks).
//
// Failures: LoadMediaLibraries, AddTask and SetOutput report by result and
// LastError; no exception escapes them. A task that fails while running
// reports OnTerminate with AException and its message, and the run goes on.
#pragma once

#include <atomic>
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

// Runs `call` on the user-interface thread and returns when it has run.
using TUiDispatcher = std::function<void(const std::function<void()> &call)>;

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
};

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
    void StartConvert(int32_t concurrency);
    // Running tasks are asked to stop; tasks that never started report
    // their end from threads of their own; nothing new starts.
    void StopConvert();
    void PauseConvert();
    void ResumeConvert();

    TAVProbe &Probe() { return *FProbe; }
    const std::string &LastError() const { return FLastError; }
    std::string Version() const { return "2.3c"; }
    std::string About; // no effect
    TFFmpegList &Tasks() { return FTasks; }

    // Installs the host's hand-over to the user-interface thread (empty:
    // events run directly). Set before the first run.
    void SetDispatcher(TUiDispatcher dispatcher) { FDispatcher = std::move(dispatcher); }

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
    std::atomic<bool> FStopRun{false};

    // Serialises OnLog, OnProgress and OnTerminate; re-entered when a task
    // that fails to start reports its end from inside a dispatcher.
    std::recursive_mutex FLock;
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
