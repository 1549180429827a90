// The conversion component: tasks, their queue, run control and events.
#include "ExceptionText.h"
#include "ZUzidiDOR.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

#include "ComponentRegistry.h"
#include "FFmpegLoader.h"

// A worker's wait for the user-interface thread. The queued call holds it
// too, so that a call run after its hand-over was withdrawn finds it and
// does nothing.
struct THandOver {
    enum TState { hsPending, hsRunning, hsDone, hsWithdrawn };
    std::mutex Lock;
    std::condition_variable Changed;
    TState State = hsPending;
    const std::function<void()> *Call; // the waiting thread's, valid while it waits
    const TFFmpeg *Task;
    std::exception_ptr Failure;

    // On the user-interface thread.
    void Run()
    {
        {
            std::lock_guard<std::mutex> lock(Lock);
            if (State != hsPending) return;
            State = hsRunning;
        }
        std::exception_ptr failure;
        try {
            (*Call)();
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(Lock);
            // Moved, not copied: the waiting thread takes the only reference,
            // so the exception never outlives it on this thread.
            Failure = std::move(failure);
            State = hsDone;
        }
        Changed.notify_all();
    }
};

namespace {

TFFmpeg &Task(TCustomFFmpeg &sender) { return static_cast<TFFmpeg &>(sender); }

// The task whose event this thread raises right now (for HandOver).
thread_local TFFmpeg *DispatchingTask = nullptr;

class TDispatchScope {
public:
    explicit TDispatchScope(TFFmpeg *task) : FPrevious(DispatchingTask) { DispatchingTask = task; }
    ~TDispatchScope() { DispatchingTask = FPrevious; }
    TDispatchScope(const TDispatchScope &) = delete;
    TDispatchScope &operator=(const TDispatchScope &) = delete;

private:
    TFFmpeg *FPrevious;
};
} // namespace

// ---- TFFmpeg --------------------------------------------------------------

TFFmpeg::TFFmpeg(TCustomZUzidiDOR *component) : Component(component), FProbe(std::make_unique<TAVProbe>())
{
    InitInputOptions(InputOptions);
    InitOutputOptions(OutputOptions);
}

TFFmpeg::~TFFmpeg()
{
    // The thread that reports the end still uses this object: a running job
    // is asked to stop, and its report awaited before anything goes.
    if (FReportPending) RequestStop();
    while (FReportPending) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    FProbe.reset();
}

// ---- TFFmpegList ----------------------------------------------------------

int32_t TFFmpegList::Add(std::unique_ptr<TFFmpeg> engine)
{
    std::lock_guard<std::mutex> lock(FLock);
    const int32_t index = int32_t(FItems.size());
    engine->TaskIndex = index;
    FItems.push_back(std::move(engine));
    return index;
}

TFFmpeg *TFFmpegList::Item(int32_t index) const
{
    std::lock_guard<std::mutex> lock(FLock);
    return index >= 0 && size_t(index) < FItems.size() ? FItems[size_t(index)].get() : nullptr;
}

int32_t TFFmpegList::Count() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return int32_t(FItems.size());
}

void TFFmpegList::Delete(int32_t index)
{
    std::unique_ptr<TFFmpeg> victim;
    {
        std::lock_guard<std::mutex> lock(FLock);
        if (index < 0 || size_t(index) >= FItems.size()) return;
        victim = std::move(FItems[size_t(index)]);
        FItems.erase(FItems.begin() + index);
        for (size_t i = size_t(index); i < FItems.size(); ++i) FItems[i]->TaskIndex = int32_t(i);
    }
    // Destroyed outside the lock: a task's last report may still look tasks up.
    victim.reset();
}

void TFFmpegList::Clear()
{
    std::vector<std::unique_ptr<TFFmpeg>> victims;
    {
        std::lock_guard<std::mutex> lock(FLock);
        victims.swap(FItems);
    }
    for (auto &victim : victims) victim.reset();
}

TFFmpeg *TFFmpegList::FindByThread(uint64_t threadId) const
{
    std::lock_guard<std::mutex> lock(FLock);
    for (const auto &item : FItems)
        if (item->ThreadID == threadId) return item.get();
    return nullptr;
}

TFFmpeg *TFFmpegList::FindByCurrentThread() const
{
    const uint64_t self = CurrentThreadID();
    std::lock_guard<std::mutex> lock(FLock);
    for (const auto &item : FItems)
        if (item->ThreadID == self) return item.get();
    // A worker that has not been seen yet: it takes its task's id.
    for (const auto &item : FItems) {
        TFFmpegThread *worker = item->FWorker;
        const uint64_t id = item->ThreadID;
        if (worker && id && !item->FEnded && worker->IsCurrentThread()) {
            AdoptThreadID(id);
            return item.get();
        }
    }
    return nullptr;
}

std::vector<TFFmpeg *> TFFmpegList::Items() const
{
    std::lock_guard<std::mutex> lock(FLock);
    std::vector<TFFmpeg *> items;
    for (const auto &item : FItems) items.push_back(item.get());
    return items;
}

// ---- TCustomZUzidiDOR -----------------------------------------------------

TCustomZUzidiDOR::TCustomZUzidiDOR()
    : FProbe(std::make_unique<TAVProbe>()), FUiThread(std::this_thread::get_id())
{
    ComponentRegistry().Add(this);
}

TCustomZUzidiDOR::~TCustomZUzidiDOR()
{
    FDestroying = true;
    // Workers that wait for this thread are let go first: everything below
    // waits for them.
    WithdrawHandOvers(nullptr);
    ComponentRegistry().Remove(this);
    while (FDeliveries > 0) std::this_thread::yield();
    {
        std::lock_guard<std::mutex> state(FStateLock);
        FPendingCount = 0;
        FPaused = false;
    }
    for (TFFmpeg *task : FTasks.Items()) task->RequestStop();
    // No dispatcher may still be inside the lock.
    {
        std::unique_lock<std::mutex> state(FEventsState);
        FEventsFree.wait(state, [this] { return FEventsDepth == 0; });
        FQueuedLines.clear();
    }
    FTasks.Clear();
    FProbe.reset();
}

bool TCustomZUzidiDOR::LoadMediaLibraries(const std::u16string &folder)
{
    TFFmpegLoader &loader = FFmpegLoader();
    try {
        loader.SetLibraryPath(folder);
        if (!loader.LoadLibraries(RequiredLibraries)) {
            FLastError = loader.LastErrorMessage();
            return false;
        }
    } catch (...) {
        FLastError = ExceptionText();
        return false;
    }
    lav::av_log_set_callback(LibraryLogCallback);
    lav::av_log_set_level(LibraryLevelToAV(int(FLogLevel.load()) - 1));
    LibraryLogLevel = AVLevelToLibrary(lav::av_log_get_level());
    return true;
}

bool TCustomZUzidiDOR::MediaLibrariesLoaded() const
{
    return FFmpegLoader().LibrariesLoaded(RequiredLibraries);
}

void TCustomZUzidiDOR::TranslateInputOptions(TFFmpeg &task, const std::u16string &fileName,
                                             TInputOptions *options)
{
    if (!options) {
        InitInputOptions(task.InputOptions);
        return;
    }
    if (options->FileName.empty()) options->FileName = fileName;
    task.InputOptions = *options;
    ApplyInputOptions(task, *options);
}

void TCustomZUzidiDOR::TranslateOutputOptions(TFFmpeg &task, const std::u16string &fileName,
                                              TOutputOptions *options)
{
    if (!options) {
        InitOutputOptions(task.OutputOptions);
        return;
    }
    if (options->FileName.empty()) options->FileName = fileName;
    task.OutputOptions = *options;
    ApplyOutputOptions(task, *options);

    if (options->CustomHook) {
        task.CustomHookHandler = [this](TCustomFFmpeg &sender, TBitmap &bitmap, bool &stopHook, bool &update,
                                        int64_t pts, int32_t frameNumber) {
            DoCustomHook(Task(sender), bitmap, stopHook, update, pts, frameNumber);
        };
    } else if (options->BeforeHook) {
        task.BeforeHookHandler = [this](TCustomFFmpeg &sender, THookAction &action, int64_t pts) {
            DoBeforeHook(Task(sender), action, pts);
        };
    } else {
        ApplyTimeRanges(task, options->TimeRanges);
    }
}

int32_t TCustomZUzidiDOR::AddTask(const std::u16string &fileName, TInputOptions *options)
{
    if (!MediaLibrariesLoaded()) {
        FLastError = "The media libraries are not loaded";
        return -1;
    }
    auto task = std::make_unique<TFFmpeg>(this);
    try {
        task->LogHandler = [this](TCustomFFmpeg &sender, int level, const std::string &message) {
            DoLog(&Task(sender), level, message);
        };
        task->Reset();
        task->SetVerbose(int(FLogLevel.load()) - 1);
        ApplySwitches(*task, SwitchFlags());
        task->PreviewBitmapHandler = [this](TCustomFFmpeg &sender, TBitmap &bitmap, int64_t pts,
                                            int32_t frameNumber) {
            DoPreviewBitmap(Task(sender), bitmap, pts, frameNumber);
        };

        TranslateInputOptions(*task, fileName, options);
        if (!task->OpenInput(fileName)) {
            FLastError = task->LastError;
            return -1;
        }

        task->Probe().AttachContext(task->InputFiles[task->NumInputFiles - 1]);
        task->ProgressHandler = [this](TCustomFFmpeg &sender, int32_t frameNumber, int32_t fps,
                                       int32_t currentDuration, float quality, float bitRate,
                                       int64_t currentSize, int32_t totalDuration) {
            DoProgress(Task(sender), frameNumber, fps, currentDuration, quality, bitRate, currentSize,
                       totalDuration);
        };
        task->TerminateHandler = [this](TCustomFFmpeg &sender) { DoTerminate(&Task(sender)); };
    } catch (...) {
        FLastError = ExceptionText();
        return -1;
    }
    return FTasks.Add(std::move(task));
}

bool TCustomZUzidiDOR::SetOutput(int32_t index, const std::u16string &fileName, TOutputOptions *options)
{
    TFFmpeg *task = FTasks.Item(index);
    if (!task) {
        FLastError = "List index out of bounds (" + std::to_string(index) + ")";
        return false;
    }
    try {
        TranslateOutputOptions(*task, fileName, options);
        if (task->OpenOutput(fileName) < 0) {
            FLastError = task->LastError;
            return false;
        }
        // Options that add streams act on the file just opened.
        if (options) ApplyExtraOptions(*task, options->ExtOptions, true);
    } catch (...) {
        FLastError = ExceptionText();
        return false;
    }
    return true;
}

void TCustomZUzidiDOR::RemoveTask(int32_t index)
{
    TFFmpeg *task = FTasks.Item(index);
    if (!task) return;
    task->FWithdrawn = true;
    WithdrawHandOvers(task);
    FTasks.Delete(index);
}

void TCustomZUzidiDOR::ClearTasks()
{
    {
        std::lock_guard<std::mutex> lock(FHandOverLock);
        ++FWithdrawAll;
    }
    for (TFFmpeg *task : FTasks.Items()) task->FWithdrawn = true;
    WithdrawHandOvers(nullptr);
    FTasks.Clear();
    {
        std::lock_guard<std::mutex> lock(FHandOverLock);
        --FWithdrawAll;
    }
    FLastError.clear();
    // Whatever run there was has no task left to end it.
    std::lock_guard<std::mutex> state(FStateLock);
    FConcurrentRun = false;
    FPendingCount = 0;
    FOwedStarts = 0;
    FFinalOwed = false;
    FPaused = false;
    FRunActive = false;
}

void TCustomZUzidiDOR::StartConvert(int32_t concurrency)
{
    {
        std::lock_guard<std::mutex> state(FStateLock);
        if (FRunActive) {
            FLastError = "A conversion run is already active";
            return;
        }
        FNextTask = 0;
        FFinishedCount = 0;
        FFinalRaised = false;
        FConcurrentRun = concurrency > 0;
        FPendingCount = FTasks.Count();
        FOwedStarts = 0;
        FFinalOwed = false;
        FPaused = false;
        FStopRun = false;
        FRunActive = FPendingCount > 0;
    }
    ClearLogList();
    const bool concurrent = concurrency > 0;
    for (;;) {
        {
            std::lock_guard<std::mutex> state(FStateLock);
            if (FPendingCount <= 0) break;
        }
        StartNextTask();
        if (concurrent) {
            if (concurrency < 2) break;
            --concurrency;
        }
    }
}

void TCustomZUzidiDOR::StartNextTask()
{
    for (;;) {
        TFFmpeg *task = nullptr;
        bool concurrent = false;
        bool final = false;
        {
            std::lock_guard<std::mutex> state(FStateLock);
            if (FPendingCount <= 0 || FDestroying) return;
            if (FPaused && FConcurrentRun) {
                // Started by ResumeConvert.
                ++FOwedStarts;
                return;
            }
            --FPendingCount;
            task = FTasks.Item(FNextTask++);
            concurrent = FConcurrentRun;
            // A task runs once: one that already ran, runs or was stopped
            // before it started counts as ended without a new report.
            const bool startable = task && !task->FClaimed.exchange(true) && !task->FStopIssued &&
                                   !task->Terminated && !task->Running;
            if (!startable) {
                task = nullptr;
                ++FFinishedCount;
                if (FPendingCount == 0 && !FFinalRaised && FFinishedCount >= FTasks.Count()) {
                    FFinalRaised = true;
                    FRunActive = false;
                    final = true;
                }
            }
        }
        if (!task) {
            if (final) RaiseFinalTerminate();
            continue;
        }

        // The job owns its input from now on.
        task->Probe().CloseFile();
        task->ProgressInterval = int64_t(FProgressInterval.load()) * 1000;
        task->SetVerbose(int(FLogLevel.load()) - 1);
        if (task->FPendingSwitches >= 0) ApplySwitches(*task, uint8_t(task->FPendingSwitches.load()));

        if (!concurrent) {
            task->ThreadID = CurrentThreadID();
            task->Start(false);
            return;
        }
        task->FReportPending = true;
        TFFmpegThread *thread = task->Start(true, FThreadPriority.load());
        if (!thread) {
            // It failed validation and has reported its end already.
            task->ThreadID = 0;
            return;
        }
        // A stop that came while the engine was preparing its start.
        if (FStopRun) task->RequestStop();
        task->ThreadID = NewThreadID();
        ++FStarting;
        thread->Start();
        task->FWorker = thread;
        --FStarting;
        return;
    }
}

void TCustomZUzidiDOR::StopConvert()
{
    const std::vector<TFFmpeg *> tasks = FTasks.Items();
    bool final = false;
    {
        std::lock_guard<std::mutex> state(FStateLock);
        FPendingCount = 0;
        FOwedStarts = 0;
        FPaused = false;
        FStopRun = true;
        // Every task ended while the run was paused: the end is reported now.
        final = std::exchange(FFinalOwed, false);
        if (final) FRunActive = false;
    }
    for (TFFmpeg *task : tasks) {
        if (task->FClaimed) {
            task->RequestStop();
        } else if (!task->Terminated && !task->FStopIssued.exchange(true)) {
            // Never started: it reports its end from a thread of its own.
            task->FReportPending = true;
            task->Stop();
        }
    }
    if (final) RaiseFinalTerminate();
}

void TCustomZUzidiDOR::PauseConvert()
{
    {
        std::lock_guard<std::mutex> state(FStateLock);
        if (FRunActive && FConcurrentRun) FPaused = true;
    }
    for (TFFmpeg *task : FTasks.Items()) task->Pause();
}

void TCustomZUzidiDOR::ResumeConvert()
{
    int32_t owed = 0;
    bool final = false;
    {
        std::lock_guard<std::mutex> state(FStateLock);
        if (FPaused) {
            FPaused = false;
            owed = std::exchange(FOwedStarts, 0);
            final = std::exchange(FFinalOwed, false);
            if (final) FRunActive = false;
        }
    }
    for (TFFmpeg *task : FTasks.Items()) task->Resume();
    for (; owed > 0; --owed) StartNextTask();
    if (final) RaiseFinalTerminate();
}

// ---- Hand-overs -----------------------------------------------------------

TFFmpeg *TCustomZUzidiDOR::CallingTask() const
{
    if (DispatchingTask && DispatchingTask->Component == this) return DispatchingTask;
    return FTasks.FindByCurrentThread();
}

bool TCustomZUzidiDOR::HandOver(const std::function<void()> &call)
{
    if (!FDispatcher || std::this_thread::get_id() == FUiThread) {
        call();
        return true;
    }
    auto handOver = std::make_shared<THandOver>();
    handOver->Call = &call;
    handOver->Task = CallingTask();
    {
        std::lock_guard<std::mutex> lock(FHandOverLock);
        if (FDestroying || FWithdrawAll > 0 || (handOver->Task && handOver->Task->FWithdrawn)) return false;
        FHandOvers.push_back(handOver);
    }
    {
        // Wakes the user-interface thread if it waits for the events' lock.
        std::lock_guard<std::mutex> state(FEventsState);
        ++FHandOverArrivals;
    }
    FEventsFree.notify_all();
    bool queued = true;
    try {
        FDispatcher([handOver] { handOver->Run(); });
    } catch (...) {
        queued = false;
    }
    THandOver::TState state;
    std::exception_ptr failure;
    {
        std::unique_lock<std::mutex> lock(handOver->Lock);
        if (!queued && handOver->State == THandOver::hsPending) handOver->State = THandOver::hsWithdrawn;
        handOver->Changed.wait(lock, [&] {
            return handOver->State == THandOver::hsDone || handOver->State == THandOver::hsWithdrawn;
        });
        state = handOver->State;
        failure = std::exchange(handOver->Failure, nullptr);
    }
    {
        std::lock_guard<std::mutex> lock(FHandOverLock);
        FHandOvers.erase(std::remove(FHandOvers.begin(), FHandOvers.end(), handOver), FHandOvers.end());
    }
    if (failure) std::rethrow_exception(failure);
    return state == THandOver::hsDone;
}

void TCustomZUzidiDOR::RunHandOversHere()
{
    std::vector<std::shared_ptr<THandOver>> pending;
    {
        std::lock_guard<std::mutex> lock(FHandOverLock);
        pending = FHandOvers;
    }
    // Run() takes only those still pending: the dispatcher's later call of
    // the same hand-over finds it done.
    for (const std::shared_ptr<THandOver> &handOver : pending) handOver->Run();
}

void TCustomZUzidiDOR::WithdrawHandOvers(const TFFmpeg *task)
{
    std::lock_guard<std::mutex> lock(FHandOverLock);
    for (const std::shared_ptr<THandOver> &handOver : FHandOvers) {
        if (task && handOver->Task != task) continue;
        {
            std::lock_guard<std::mutex> state(handOver->Lock);
            if (handOver->State != THandOver::hsPending) continue;
            handOver->State = THandOver::hsWithdrawn;
        }
        handOver->Changed.notify_all();
    }
}

// ---- The events' lock -----------------------------------------------------

bool TCustomZUzidiDOR::EnterEvents(const TQueuedLine *line)
{
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> state(FEventsState);
    if (FEventsDepth > 0 && FEventsOwner == self) {
        ++FEventsDepth;
        return true;
    }
    if (FEventsDepth > 0 && line) {
        FQueuedLines.push_back(*line);
        return false;
    }
    if (self == FUiThread) {
        // The owner may be waiting for this thread in a hand-over (a handler
        // that waits for the window): this thread runs those while it waits,
        // or neither would ever go on.
        uint64_t seen = ~FHandOverArrivals;
        while (FEventsDepth > 0) {
            if (seen != FHandOverArrivals) {
                seen = FHandOverArrivals;
                state.unlock();
                RunHandOversHere();
                state.lock();
                continue;
            }
            FEventsFree.wait(state, [&] { return FEventsDepth == 0 || seen != FHandOverArrivals; });
        }
    } else {
        FEventsFree.wait(state, [this] { return FEventsDepth == 0; });
    }
    FEventsOwner = self;
    FEventsDepth = 1;
    return true;
}

void TCustomZUzidiDOR::LeaveEvents()
{
    std::unique_lock<std::mutex> state(FEventsState);
    if (FEventsDepth > 1) {
        --FEventsDepth;
        return;
    }
    // Lines queued meanwhile are raised by this owner, in their order.
    while (!FQueuedLines.empty()) {
        std::vector<TQueuedLine> lines;
        lines.swap(FQueuedLines);
        state.unlock();
        for (const TQueuedLine &line : lines) RaiseLog(line.Index, line.Level, line.Text);
        state.lock();
    }
    FEventsDepth = 0;
    FEventsOwner = std::thread::id();
    state.unlock();
    FEventsFree.notify_all();
}

void TCustomZUzidiDOR::RaiseLog(int32_t index, TLogLevel level, const std::string &text)
{
    if (FDestroying || !OnLog) return;
    try {
        OnLog(index, level, text);
    } catch (...) {
        // A log handler has nowhere to report its own failure.
    }
}

// ---- Dispatchers ----------------------------------------------------------

void TCustomZUzidiDOR::DoBeforeHook(TFFmpeg &task, THookAction &action, int64_t pts)
{
    if (FDestroying || !OnBeforeHook) return;
    TDispatchScope scope(&task);
    OnBeforeHook(task.TaskIndex, pts, action);
}

void TCustomZUzidiDOR::DoCustomHook(TFFmpeg &task, TBitmap &bitmap, bool &stopHook, bool &update, int64_t pts,
                                    int32_t frameNumber)
{
    if (FDestroying || !OnCustomHook) return;
    TDispatchScope scope(&task);
    OnCustomHook(task.TaskIndex, bitmap, frameNumber, pts, update, stopHook);
}

void TCustomZUzidiDOR::DoLog(TFFmpeg *task, int level, const std::string &text)
{
    if (FDestroying || !OnLog) return;
    const TQueuedLine line{task ? task->TaskIndex.load() : -1, LogLevelOf(level), text};
    // The user-interface thread never waits here for a worker: that worker
    // may be waiting for it.
    const bool uiThread = std::this_thread::get_id() == FUiThread;
    if (!EnterEvents(uiThread ? &line : nullptr)) return;
    TDispatchScope scope(task);
    RaiseLog(line.Index, line.Level, line.Text);
    LeaveEvents();
}

void TCustomZUzidiDOR::DoPreviewBitmap(TFFmpeg &task, TBitmap &bitmap, int64_t pts, int32_t frameNumber)
{
    if (FDestroying || !OnPreviewBitmap) return;
    TDispatchScope scope(&task);
    const int32_t index = task.TaskIndex;
    // Withdrawn: the picture is not shown, and the conversion goes on. A
    // failing handler comes out here: the engine reports it and stops the
    // previews.
    HandOver([&] { OnPreviewBitmap(index, bitmap, frameNumber, pts); });
}

void TCustomZUzidiDOR::DoProgress(TFFmpeg &task, int32_t frameNumber, int32_t fps, int32_t currentDuration,
                                  float quality, float bitRate, int64_t currentSize, int32_t totalDuration)
{
    ApplyPendingSwitches(task);
    if (FDestroying || !OnProgress) return;
    // The output can run past the expected length (the last pictures, the
    // encoder's delay); the report never does.
    if (totalDuration > 0 && currentDuration > totalDuration) currentDuration = totalDuration;
    TDispatchScope scope(&task);
    EnterEvents();
    try {
        OnProgress(task.TaskIndex, frameNumber, fps, currentDuration, quality, bitRate, currentSize,
                   totalDuration);
    } catch (...) {
        DoLog(&task, 0, "Error occurs OnProgress: " + ExceptionText());
    }
    LeaveEvents();
}

void TCustomZUzidiDOR::DoTerminate(TFFmpeg *task)
{
    if (!task) {
        RaiseFinalTerminate();
        return;
    }
    bool startNext = false;
    if (!FDestroying) {
        TDispatchScope scope(task);
        EnterEvents();
        if (OnTerminate) {
            try {
                OnTerminate(task->TaskIndex, task->Finished, task->HasError,
                            task->HasError ? task->TerminateMessage : std::string());
            } catch (...) {
                DoLog(task, 0, "Error occurs OnTerminate: " + ExceptionText());
            }
        }
        bool final = false;
        {
            std::lock_guard<std::mutex> state(FStateLock);
            ++FFinishedCount;
            if (FPendingCount > 0) {
                startNext = FConcurrentRun;
            } else if (!FFinalRaised && FFinishedCount >= FTasks.Count()) {
                FFinalRaised = true;
                if (FPaused) {
                    // Reported by ResumeConvert or StopConvert.
                    FFinalOwed = true;
                } else {
                    FRunActive = false;
                    final = true;
                }
            }
        }
        if (final) RaiseFinalTerminate();
        LeaveEvents();
    }
    task->ThreadID = 0;
    task->FEnded = true;
    // From here on the task may be destroyed by its owner.
    task->FReportPending = false;
    if (startNext) StartNextTask();
}

void TCustomZUzidiDOR::RaiseFinalTerminate()
{
    if (!FDestroying) {
        EnterEvents();
        if (OnTerminate) {
            try {
                OnTerminate(-1, true, false, std::string());
            } catch (...) {
                DoLog(nullptr, 0, "Error occurs OnTerminate: " + ExceptionText());
            }
        }
        LeaveEvents();
    }
    ClearLogList();
}

void TCustomZUzidiDOR::DeliverLibraryLine(int level, const std::string &line)
{
    if (FDestroying || !OnLog) return;
    TFFmpeg *task = FTasks.FindByCurrentThread();
    if (!task && FStarting > 0) {
        // The calling thread may be a worker whose start is being recorded.
        while (FStarting > 0) std::this_thread::yield();
        task = FTasks.FindByCurrentThread();
    }
    try {
        DoLog(task, level, line);
    } catch (...) {
        // Nothing may go back into the library that logged.
    }
}

// ---- Properties -----------------------------------------------------------

void TCustomZUzidiDOR::SetLogLevel(TLogLevel level)
{
    FLogLevel = level;
    if (FFmpegLoader().LibraryLoaded(TMediaLibrary::avutil)) {
        lav::av_log_set_level(LibraryLevelToAV(int(level) - 1));
        LibraryLogLevel = AVLevelToLibrary(lav::av_log_get_level());
    }
}

uint8_t TCustomZUzidiDOR::SwitchFlags() const
{
    return uint8_t((FPreview ? PreviewToWindow : 0) | (FPreviewBitmap ? PreviewToBitmap : 0));
}

void TCustomZUzidiDOR::SetPreview(bool value)
{
    FPreview = value;
    UpdateSwitches();
}

void TCustomZUzidiDOR::SetPreviewBitmap(bool value)
{
    FPreviewBitmap = value;
    UpdateSwitches();
}

void TCustomZUzidiDOR::UpdateSwitches()
{
    const uint8_t flags = SwitchFlags();
    for (TFFmpeg *task : FTasks.Items()) ApplySwitches(*task, flags);
}

void TCustomZUzidiDOR::ApplySwitches(TFFmpeg &task, uint8_t flags)
{
    // Waiting here could deadlock: the holder of PreviewLock may be waiting
    // for this very thread to show its picture.
    std::unique_lock<std::mutex> lock(PreviewLock, std::try_to_lock);
    if (!lock.owns_lock()) {
        task.FPendingSwitches = flags;
        return;
    }
    task.FPendingSwitches = -1;
    if (!(flags & PreviewToWindow)) task.Preview.Window.reset();
    task.PreviewFlags = flags;
}

void TCustomZUzidiDOR::ApplyPendingSwitches(TFFmpeg &task)
{
    if (task.FPendingSwitches < 0) return;
    std::lock_guard<std::mutex> lock(PreviewLock);
    const int flags = task.FPendingSwitches.exchange(-1);
    if (flags < 0) return;
    if (!(flags & PreviewToWindow)) task.Preview.Window.reset();
    task.PreviewFlags = uint8_t(flags);
}

void TCustomZUzidiDOR::SetProgressInterval(int32_t milliseconds)
{
    FProgressInterval = std::max(milliseconds, 100);
}

void TCustomZUzidiDOR::SetThreadPriority(TConvertPriority priority)
{
    FThreadPriority = priority > tpNormal ? tpNormal : priority;
}
