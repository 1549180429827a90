// The engine object: construction, reset and clean-up, the run driver, the
// worker and terminate threads, pause and stop, and the open-codec lists.
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

std::mutex PreviewLock;

TFFmpegThread::TFFmpegThread(TCustomFFmpeg *engine)
    : TPriorityThread([engine] {
          if (engine) engine->Run();
      }),
      Engine(engine)
{
}

TDoTerminateThread::TDoTerminateThread(TCustomFFmpeg *engine)
    : TPriorityThread(
          [engine] {
              if (engine) engine->NotifyTerminated();
          },
          tpIdle),
      Engine(engine)
{
}

namespace {
bool LibrariesReady() { return FFmpegLoader().LibrariesLoaded(RequiredLibraries); }

// Closes the file of an output and frees its context with its streams,
// metadata, programs and chapters; then deletes the file if it stayed empty.
void ReleaseOutputFile(AVFormatContext *&context)
{
    if (!context) return;
    const std::string url = context->url ? context->url : "";
    if (context->oformat && !(context->oformat->flags & AVFMT_NOFILE) && context->pb) {
        // Custom I/O on an output is the unicode protocol's.
        if (context->flags & AVFMT_FLAG_CUSTOM_IO)
            CloseUnicodeIO(&context->pb);
        else
            lav::avio_closep(&context->pb);
    }
    lav::avformat_free_context(context);
    context = nullptr;
    if (url.empty()) return;
    // Only a regular file is deleted: an output such as /dev/full also has
    // size 0.
    const std::string name = MyUtils::Utf16ToUtf8(DisplayFileName(url));
    struct stat st {};
    if (stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) std::remove(name.c_str());
}

void ReleaseInputFile(AVFormatContext *&context)
{
    if (!context) return;
    AVIOContext *custom = (context->flags & AVFMT_FLAG_CUSTOM_IO) ? context->pb : nullptr;
    lav::avformat_close_input(&context);
    if (custom) CloseUnicodeIO(&custom);
    context = nullptr;
}
} // namespace

TCustomFFmpeg::TCustomFFmpeg()
{
    OptionContexts.LogLevelCallback = [this](int level) { SetVerbose(level); };
    ResetOptions();
}

TCustomFFmpeg::~TCustomFFmpeg()
{
    RequestStop();
    // Give a running job about a second to end by itself, then wait for it
    // anyway: the worker must not touch a destroyed engine.
    const bool workerRunning = FWorkerThread && FWorkerThread->Started();
    for (int i = 0; i < 10 && workerRunning && WorkerThread.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    JoinThreads();
    Cleanup();
}

void TCustomFFmpeg::Reset()
{
    if (!LibrariesReady()) return;
    JoinThreads();
    Cleanup();
    ResetOptions();
    Running = false;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    TotalDuration = -1;
    FPauseGate.Resume();
    AllocOptionContexts(OptionContexts, int(SwsFlags));
}

void TCustomFFmpeg::JoinThreads()
{
    if (FWorkerThread) FWorkerThread->Join();
    FWorkerThread.reset();
    if (FTerminateThread) FTerminateThread->Join();
    FTerminateThread.reset();
}

void TCustomFFmpeg::ReleaseHooks()
{
    ReleaseFrameHooks(HookList);
    HookCommandLines.clear();
    if (HookBuffer) lav::av_freep(&HookBuffer);
    HookBuffer = nullptr;
    HookBufferSize = 0;
}

void TCustomFFmpeg::Cleanup()
{
    if (!LibrariesReady()) return;
    FreeOptionContexts(OptionContexts);

    ReleaseFileTables();
    for (int k = 0; k < NumOutputFiles && k < MAX_FILES; ++k) ReleaseOutputFile(OutputFiles[k]);
    NumOutputFiles = 0;
    for (int k = 0; k < NumInputFiles && k < MAX_FILES; ++k) ReleaseInputFile(InputFiles[k]);
    NumInputFiles = 0;

    IntraMatrix.reset();
    InterMatrix.reset();
    if (VstatsFile) lav::my_fclose(VstatsFile);
    VstatsFile = nullptr;
    VstatsFileName.clear();
    VideoCodecName.clear();
    AudioCodecName.clear();
    SubtitleCodecName.clear();
    VideoStandard.clear();
    VideoRcOverride.clear();
    AudioLanguage.clear();
    SubtitleLanguage.clear();
    // Pairs that no output took do not carry over into the next job.
    Metadata.clear();

    ReleaseHooks();
    ResetBitmapConverter(HookConverter);
    std::lock_guard<std::mutex> lock(PreviewLock);
    ResetBitmapConverter(Preview.Converter);
    Preview.Window.reset();
    Preview.LastTime = 0;
    Preview.CurrentTime = 0;
}

void TCustomFFmpeg::Log(int level, const std::string &message)
{
    if (LogHandler) LogHandler(*this, level, message);
}

TFFmpegThread *TCustomFFmpeg::Start(bool inThread, TThreadPriority priority)
{
    // A pending terminate notification counts as terminated.
    if (Running || Terminated || FTerminateThread) return nullptr;
    try {
        if (NumOutputFiles <= 0) {
            Cleanup();
            throw FFmpegException("At least one output file must be specified");
        }
        if (NumInputFiles == 0) {
            Cleanup();
            throw FFmpegException("At least one input file must be specified");
        }
    } catch (const FFmpegException &e) {
        Log(-1, e.what());
        HasError = true;
        TerminateMessage = e.what();
        NotifyTerminated();
        return nullptr;
    }
    ReportUnusedPrivateOptions();
    Running = true;
    StopRequested = false;
    Finished = false;
    Terminated = false;
    if (!inThread) {
        Run();
        return nullptr;
    }
    if (FWorkerThread) FWorkerThread->Join();
    FWorkerThread = std::make_unique<TFFmpegThread>(this);
    FWorkerThread->SetPriority(priority);
    WorkerThread = FWorkerThread.get();
    return FWorkerThread.get();
}

void TCustomFFmpeg::Run()
{
    Finished = false;
    try {
        Transcode(OutputFiles, NumOutputFiles, InputFiles, NumInputFiles, StreamMaps, NumStreamMaps);
    } catch (const std::exception &e) {
        Log(-1, e.what());
        HasError = true;
        TerminateMessage = e.what();
    } catch (...) {
        // Nothing may escape the worker thread: an exception of no known type
        // ends the job like any other failure.
        Log(-1, "Unknown error");
        HasError = true;
        TerminateMessage = "Unknown error";
    }
    CloseEncoders();
    CloseDecoders();
    Cleanup();
    NotifyTerminated();
}

void TCustomFFmpeg::NotifyTerminated()
{
    // Terminated before Running falls: a Stop in between must not take the
    // run for one that never started and notify it a second time.
    Terminated = true;
    Running = false;
    WorkerThread = nullptr;
    if (TerminateHandler) TerminateHandler(*this);
}

void TCustomFFmpeg::Stop()
{
    if (Running) {
        StopRequested = true;
        FPauseGate.Resume();
    } else {
        // Stops from several threads make one notification.
        std::lock_guard<std::mutex> lock(FTerminateLock);
        if (!Terminated && !FTerminateThread) {
            FTerminateThread = std::make_unique<TDoTerminateThread>(this);
            FTerminateThread->Start();
        }
    }
}

void TCustomFFmpeg::RequestStop()
{
    StopRequested = true;
    FPauseGate.Resume();
}

void TCustomFFmpeg::Pause()
{
    if (WorkerThread && !FPauseGate.Paused()) FPauseGate.Pause();
}

void TCustomFFmpeg::Resume()
{
    if (WorkerThread && FPauseGate.Paused()) FPauseGate.Resume();
}

void TCustomFFmpeg::SetVerbose(int32_t level)
{
    Verbose = level;
    if (lav::av_log_set_level) lav::av_log_set_level(LibraryLevelToAV(level));
    LibraryLogLevel = level;
}

void TCustomFFmpeg::SetPreviewFlags(uint8_t flags)
{
    std::lock_guard<std::mutex> lock(PreviewLock);
    if ((PreviewFlags & PreviewToWindow) && !(flags & PreviewToWindow)) Preview.Window.reset();
    PreviewFlags = flags;
}

void TCustomFFmpeg::RegisterEncoder(TOutputStreamState *stream) { OpenedEncoders.push_front(stream); }

void TCustomFFmpeg::UnregisterEncoder(TOutputStreamState *stream)
{
    for (auto i = OpenedEncoders.begin(); i != OpenedEncoders.end(); ++i)
        if (*i == stream) {
            OpenedEncoders.erase(i);
            return;
        }
}

void TCustomFFmpeg::RegisterDecoder(TInputStreamState *stream) { OpenedDecoders.push_front(stream); }

void TCustomFFmpeg::UnregisterDecoder(TInputStreamState *stream)
{
    for (auto i = OpenedDecoders.begin(); i != OpenedDecoders.end(); ++i)
        if (*i == stream) {
            OpenedDecoders.erase(i);
            return;
        }
}

void TCustomFFmpeg::CloseEncoders()
{
    for (TOutputStreamState *stream : OpenedEncoders) {
        if (!stream || !stream->EncodingNeeded || !stream->Encoder) continue;
        lav::av_freep(&stream->Encoder->stats_in);
        ForgetCodecContext(stream->Encoder);
        std::lock_guard<std::mutex> lock(CodecLock);
        lav::avcodec_free_context(&stream->Encoder);
    }
    OpenedEncoders.clear();
}

void TCustomFFmpeg::CloseDecoders()
{
    for (TInputStreamState *stream : OpenedDecoders) {
        if (!stream || !stream->DecodingNeeded || !stream->Decoder) continue;
        ForgetCodecContext(stream->Decoder);
        std::lock_guard<std::mutex> lock(CodecLock);
        lav::avcodec_free_context(&stream->Decoder);
    }
    OpenedDecoders.clear();
}
