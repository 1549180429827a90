// The conversion component: tasks, their queue, run control and events.
#include "ExceptionText.h"
#include "ZUzidiDOR.h"

#include <chrono>
#include <exception>

#include "ComponentRegistry.h"
#include "FFmpegLoader.h"

namespace {

TFFmpeg &Task(TCustomFFmpeg &sender) { return static_cast<TFFmpeg &>(sender); }
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
    ComponentRegistry().Remove(this);
    while (FDeliveries > 0) std::this_thread::yield();
    {
        std::lock_guard<std::mutex> state(FStateLock);
        FPendingCount = 0;
    }
    for (TFFmpeg *task : FTasks.Items()) task->RequestStop();
    // No dispatcher may still be inside the lock.
    {
        std::lock_guard<std::recursive_mutex> lock(FLock);
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

void TCustomZUzidiDOR::RemoveTask(int32_t index) { FTasks.Delete(index); }

void TCustomZUzidiDOR::ClearTasks()
{
    FTasks.Clear();
    FLastError.clear();
    std::lock_guard<std::mutex> state(FStateLock);
    FConcurrentRun = false;
}

void TCustomZUzidiDOR::StartConvert(int32_t concurrency)
{
    ClearLogList();
    {
        std::lock_guard<std::mutex> state(FStateLock);
        FNextTask = 0;
        FFinishedCount = 0;
        FFinalRaised = false;
        FConcurrentRun = concurrency > 0;
        FPendingCount = FTasks.Count();
        FStopRun = false;
    }
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
    {
        std::lock_guard<std::mutex> state(FStateLock);
        FPendingCount = 0;
        FStopRun = true;
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
}

void TCustomZUzidiDOR::PauseConvert()
{
    for (TFFmpeg *task : FTasks.Items()) task->Pause();
}

void TCustomZUzidiDOR::ResumeConvert()
{
    for (TFFmpeg *task : FTasks.Items()) task->Resume();
}

// ---- Dispatchers ----------------------------------------------------------

void TCustomZUzidiDOR::DoBeforeHook(TFFmpeg &task, THookAction &action, int64_t pts)
{
    if (FDestroying || !OnBeforeHook) return;
    OnBeforeHook(task.TaskIndex, pts, action);
}

void TCustomZUzidiDOR::DoCustomHook(TFFmpeg &task, TBitmap &bitmap, bool &stopHook, bool &update, int64_t pts,
                                    int32_t frameNumber)
{
    if (FDestroying || !OnCustomHook) return;
    OnCustomHook(task.TaskIndex, bitmap, frameNumber, pts, update, stopHook);
}

void TCustomZUzidiDOR::DoLog(TFFmpeg *task, int level, const std::string &text)
{
    if (FDestroying || !OnLog) return;
    std::lock_guard<std::recursive_mutex> lock(FLock);
    try {
        OnLog(task ? task->TaskIndex.load() : -1, LogLevelOf(level), text);
    } catch (...) {
        // A log handler has nowhere to report its own failure.
    }
}

void TCustomZUzidiDOR::DoPreviewBitmap(TFFmpeg &task, TBitmap &bitmap, int64_t pts, int32_t frameNumber)
{
    if (FDestroying || !OnPreviewBitmap) return;
    const int32_t index = task.TaskIndex;
    std::exception_ptr failure;
    const std::function<void()> call = [&] {
        try {
            OnPreviewBitmap(index, bitmap, frameNumber, pts);
        } catch (...) {
            failure = std::current_exception();
        }
    };
    if (!FDispatcher || std::this_thread::get_id() == FUiThread)
        call();
    else
        FDispatcher(call);
    // The engine reports a failing handler and stops the previews.
    if (failure) std::rethrow_exception(failure);
}

void TCustomZUzidiDOR::DoProgress(TFFmpeg &task, int32_t frameNumber, int32_t fps, int32_t currentDuration,
                                  float quality, float bitRate, int64_t currentSize, int32_t totalDuration)
{
    ApplyPendingSwitches(task);
    if (FDestroying || !OnProgress) return;
    std::lock_guard<std::recursive_mutex> lock(FLock);
    try {
        OnProgress(task.TaskIndex, frameNumber, fps, currentDuration, quality, bitRate, currentSize,
                   totalDuration);
    } catch (...) {
        DoLog(&task, 0, "Error occurs OnProgress: " + ExceptionText());
    }
}

void TCustomZUzidiDOR::DoTerminate(TFFmpeg *task)
{
    if (!task) {
        RaiseFinalTerminate();
        return;
    }
    bool startNext = false;
    if (!FDestroying) {
        std::lock_guard<std::recursive_mutex> lock(FLock);
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
                final = true;
            }
        }
        if (final) RaiseFinalTerminate();
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
        std::lock_guard<std::recursive_mutex> lock(FLock);
        if (OnTerminate) {
            try {
                OnTerminate(-1, true, false, std::string());
            } catch (...) {
                DoLog(nullptr, 0, "Error occurs OnTerminate: " + ExceptionText());
            }
        }
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
