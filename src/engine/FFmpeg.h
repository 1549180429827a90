// TCustomFFmpeg: one conversion job.
//
// The caller creates an engine, calls Reset, feeds it options (SetOption and
// the typed setters), opens its inputs and outputs, and calls Start, either
// synchronously or on the worker thread that Start returns. The job body
// (Run) transcodes, then closes every codec, releases everything the job
// holds and notifies termination. The engine never prints: everything it has
// to say goes to the handler slots below, on the thread that runs the job.
//
// Threads: options, OpenInput, OpenOutput, Reset and Start are called on the
// caller's thread before the job starts; afterwards only Stop, RequestStop,
// Pause, Resume, SetPreviewFlags and the destructor may be called, from any
// thread. The engine joins the threads it starts: the destructor requests a
// stop, waits about a second, and then still waits for the worker to end, so a
// terminate handler must not block on the thread that destroys the engine.
//
// Failures: option handlers raise FFmpegException (a few raise the runtime's
// EConvertError or EAssertionFailed) and leave unchanged what they had not yet
// changed. OpenInput and OpenOutput report by result and LastError. Inside the
// job, failures are FFmpegException; Run catches them, logs them at level -1
// and reports them through HasError and TerminateMessage.
//
// The media libraries must be loaded (RequiredLibraries) before Reset; Reset
// and Cleanup do nothing without them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "EntryPoints.h"
#include "FrameHook.h"
#include "MediaOps.h"
#include "Previewer.h"
#include "Threads.h"
#include "TranscodeState.h"

struct FFmpegException : std::runtime_error {
    explicit FFmpegException(const std::string &message) : std::runtime_error(message) {}
};

// The before-hook's decision for the current picture.
enum THookAction : int32_t { haContinue = 0, haIgnore = 1, haStop = 2 };

constexpr int MAX_STREAMS = 20;       // streams per file in the engine's tables
constexpr int MAX_FILES = 20;         // input files, and output files
constexpr int MAX_STREAM_MAPS = 400;  // "map" entries
constexpr int MAX_METADATA_MAPS = 20; // "map_meta_data" entries

// Byte values of PreviewFlags.
constexpr uint8_t PreviewToWindow = 1; // show encoded pictures in the preview window
constexpr uint8_t PreviewToBitmap = 2; // deliver them to PreviewBitmapHandler

// One "map": input file and stream, and the stream it synchronises with.
struct TStreamMap {
    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SyncFileIndex = 0;
    int32_t SyncStreamIndex = 0;
};

// One "map_meta_data": the output file that takes the input file's metadata.
struct TMetadataMap {
    int32_t OutFile = 0;
    int32_t InFile = 0;
};

// The preview of encoded pictures: converter, window and the times of the
// last and current preview (microseconds). Guarded by PreviewLock.
struct TPreviewState {
    TBitmapConverter Converter;
    std::unique_ptr<TPreviewer> Window; // made by the application's factory on first use
    int64_t LastTime = 0;
    int64_t CurrentTime = 0;
};

// One lock for all engines around the preview switches and the delivery of
// preview pictures.
extern std::mutex PreviewLock;

class TCustomFFmpeg;

// Handler slots; the engine passes itself as the sender. Unset = not assigned.
using TFFmpegLogHandler = std::function<void(TCustomFFmpeg &sender, int level, const std::string &message)>;
using TFFmpegTerminateHandler = std::function<void(TCustomFFmpeg &sender)>;
// Frame number, frames per second, current duration (ms), quality, bit rate
// (kbit/s), current size (bytes), total duration (ms).
using TFFmpegProgressHandler =
    std::function<void(TCustomFFmpeg &sender, int32_t frameNumber, int32_t fps, int32_t currentDuration,
                       float quality, float bitRate, int64_t currentSize, int32_t totalDuration)>;
using TFFmpegPreviewBitmapHandler =
    std::function<void(TCustomFFmpeg &sender, TBitmap &bitmap, int64_t pts, int32_t frameNumber)>;
using TFFmpegBeforeHookHandler = std::function<void(TCustomFFmpeg &sender, THookAction &action, int64_t pts)>;
using TFFmpegCustomHookHandler = std::function<void(TCustomFFmpeg &sender, TBitmap &bitmap, bool &stopHook,
                                                    bool &update, int64_t pts, int32_t frameNumber)>;

// The worker thread of one engine: its body runs the engine's Run. Made by
// Start without running; the caller starts it. Owned and joined by the engine.
class TFFmpegThread : public TPriorityThread {
public:
    explicit TFFmpegThread(TCustomFFmpeg *engine);
    TCustomFFmpeg *const Engine;
};

// Delivers the terminate notification of a job that never started, from a
// thread of its own (idle priority). Owned and joined by the engine.
class TDoTerminateThread : public TPriorityThread {
public:
    explicit TDoTerminateThread(TCustomFFmpeg *engine);
    TCustomFFmpeg *const Engine;
};

class TCustomFFmpeg {
public:
    TCustomFFmpeg();
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg &) = delete;
    TCustomFFmpeg &operator=(const TCustomFFmpeg &) = delete;

    // ---- Job control ------------------------------------------------------

    // Prepares a fresh job: Cleanup, ResetOptions, the run flags cleared, the
    // generic option store allocated. Joins the threads of a previous job.
    void Reset();
    // Every option member back to its default; clears HasError. What it
    // drops (open files, the option store, hooks) is released, not forgotten.
    void ResetOptions();
    // Releases everything the job holds; a 0-byte output file is deleted.
    void Cleanup();

    // Validates and starts the job. Null when the engine is Running or
    // Terminated, when validation fails (reported through the log, HasError,
    // TerminateMessage and the terminate notification, never by exception),
    // and after a synchronous run. With inThread, returns the worker thread,
    // not yet running, at the given priority: the caller calls its Start.
    TFFmpegThread *Start(bool inThread, TThreadPriority priority = tpNormal);
    // The job body: transcode, close the codecs, release, notify.
    void Run();
    // Running: requests a stop (and opens the pause gate). Never started:
    // notifies termination from another thread after Stop returns, once.
    void Stop();
    void RequestStop();
    // The worker stops at its next pause point; no packet is processed while
    // paused. Both do nothing without a worker thread.
    void Pause();
    void Resume();
    bool Paused() const { return FPauseGate.Paused(); }
    // Pause point of the main loop and the video path: blocks while paused.
    void WaitWhilePaused() { FPauseGate.Wait(); }

    void SetVerbose(int32_t level);
    void SetPreviewFlags(uint8_t flags);

    // ---- Open codecs ------------------------------------------------------

    // A registered stream's codec context belongs to the list from then on:
    // CloseEncoders/CloseDecoders release it (under CodecLock) and null it.
    void RegisterEncoder(TOutputStreamState *stream);
    void UnregisterEncoder(TOutputStreamState *stream);
    void RegisterDecoder(TInputStreamState *stream);
    void UnregisterDecoder(TInputStreamState *stream);
    void CloseEncoders();
    void CloseDecoders();
    size_t OpenedEncoderCount() const { return OpenedEncoders.size(); }
    size_t OpenedDecoderCount() const { return OpenedDecoders.size(); }

    // ---- Options ----------------------------------------------------------

    // Runs the handler of `name` (exact, case-sensitive); a name outside the
    // table goes to the generic option store. Raises on failure.
    void SetOption(const std::string &name, const std::string &value);
    // The option names of the table, in the order SetOption tests them.
    static std::vector<std::string> OptionNames();

    void SetInputFormat(const std::string &name);
    void SetOutputFormat(const std::string &name);
    void SetRecordingTime(int64_t microseconds);
    void SetRecordingTimeMs(int32_t milliseconds);
    void SetStartTime(int64_t microseconds);
    void SetProgramId(int32_t id);
    void SetAudioSyncMethod(int32_t method);
    void SetVideoSyncMethod(int32_t method);
    void SetMuxMaxDelay(float seconds);
    void SetMuxPreload(float seconds);
    void AddMetadataPair(const std::string &key, const std::string &value);
    bool ApplyGenericIntOption(const std::string &name, int32_t value);
    // "target": [pal-|ntsc-|film-]type.
    void SetTargetText(const std::string &value);
    void SetTarget(const std::string &type, const std::string &norm, const std::string &defaultNorm);

    // Stream options.
    void SetFrameRate(const std::string &text);
    void SetFrameSize(const std::string &text);
    void SetAspectRatio(const std::string &text);
    void SetPixelFormat(const std::string &text);
    void SetSampleFormat(const std::string &text);
    void SetCropTop(int32_t n);
    void SetCropBottom(int32_t n);
    void SetCropLeft(int32_t n);
    void SetCropRight(int32_t n);
    void SetPadTop(int32_t n);
    void SetPadBottom(int32_t n);
    void SetPadLeft(int32_t n);
    void SetPadRight(int32_t n);
    // colour 0x00BBGGRR.
    void SetPadColor(int32_t color);
    void SetVideoQscale(float value);
    void SetRcOverride(const std::string &text);
    void SetMeThreshold(int32_t value);
    void SetTopFieldFirst(int32_t value);
    void SetVideoCodec(const std::string &name);
    void SetAudioCodec(const std::string &name);
    void SetSubtitleCodec(const std::string &name);
    // Four characters; another length raises EAssertionFailed.
    void SetVideoTag(const std::string &text);
    void SetAudioTag(const std::string &text);
    void SetVideoFilters(const std::string &text);
    void AddVideoHook(const std::string &commandLine);
    void SetIntraMatrix(const std::string &text);
    void SetInterMatrix(const std::string &text);
    void SetPass(int32_t pass);
    void SetVstats(bool enable);
    void SetVstatsFile(const std::string &name);
    void SetAudioRate(int32_t rate);
    void SetAudioChannels(int32_t channels);
    void SetAudioVolume(int32_t volume);
    void SetVideoChannel(int32_t channel);
    void SetVideoStandard(const std::string &text);
    void SetBitrate(const std::string &name, const std::string &value);
    void AddBitstreamFilter(const std::string &name, const std::string &value);

    // ---- Files ------------------------------------------------------------

    // Opens one input with the options given so far; false with LastError.
    // A 21st input is refused with FFmpegException.
    bool OpenInput(const std::u16string &fileName);
    // Creates one output with its streams; its 1-based count, or -1 with
    // LastError. A 21st output is refused with FFmpegException.
    int32_t OpenOutput(const std::u16string &fileName);
    // "newvideo", "newaudio", "newsubtitle": one more stream on the last output.
    void NewVideoStream();
    void NewAudioStream();
    void NewSubtitleStream();

    // ---- Handler slots ----------------------------------------------------

    TFFmpegLogHandler LogHandler;
    TFFmpegTerminateHandler TerminateHandler;
    TFFmpegProgressHandler ProgressHandler;
    TFFmpegPreviewBitmapHandler PreviewBitmapHandler;
    TFFmpegBeforeHookHandler BeforeHookHandler;
    TFFmpegCustomHookHandler CustomHookHandler;

    // ---- Run state --------------------------------------------------------

    std::atomic<TFFmpegThread *> WorkerThread{nullptr}; // cleared by NotifyTerminated
    std::atomic<bool> Running{false};
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> Finished{false}; // the transcode ended normally without a stop
    std::atomic<bool> Terminated{false};
    std::atomic<bool> HasError{false};
    std::string TerminateMessage;
    std::string LastError;
    int32_t TotalDuration = -1;        // expected output duration (ms), -1 none yet
    int64_t ProgressInterval = 500000; // microseconds between progress reports
    int64_t PreviewInterval = 100000;  // microseconds between preview frames
    std::atomic<uint8_t> PreviewFlags{0};

    // ---- File and stream tables -------------------------------------------

    AVFormatContext *InputFiles[MAX_FILES] = {};
    int32_t NumInputFiles = 0;
    int64_t InputTsOffset[MAX_FILES] = {};
    // Where an input's "ss" put its start, in its time stamps after the
    // offset; AV_NOPTS_VALUE without "ss". What the backward seek brings
    // from before it is decoded and dropped.
    int64_t InputClipStart[MAX_FILES] = {};
    double InputTsScale[MAX_FILES][MAX_STREAMS] = {}; // 0 = no scaling
    std::vector<const AVCodec *> InputCodecs;         // decoders chosen by name
    AVFormatContext *OutputFiles[MAX_FILES] = {};
    int32_t NumOutputFiles = 0;
    std::vector<const AVCodec *> OutputCodecs; // encoders chosen by name
    TStreamMap StreamMaps[MAX_STREAM_MAPS];
    int32_t NumStreamMaps = 0;
    TMetadataMap MetadataMaps[MAX_METADATA_MAPS];
    int32_t NumMetadataMaps = 0;

    // ---- Input and output files -------------------------------------------
    //
    // Per-stream tables of the open files, indexed [file][stream] like the
    // files' own streams. OpenInput and the stream creators fill them, the
    // transcode set-up reads them, Cleanup releases them. A failed open
    // leaves no entry behind.
    //
    // InputDecoders: the engine's decoder context of every input stream (data
    // and attachment streams too), made from the stream's parameters with
    // pkt_timebase = the stream's time base, allocated with the decoder named
    // for its type ("vcodec"... before the input) or else the default decoder
    // of its codec id (none when there is no decoder), carrying the generic
    // decoding options, the pending private options that decoder takes, and
    // the thread count. Not opened. OutputEncoders: the engine's encoder
    // context of every output stream, made when the stream is created, with
    // every setting of the creator (codec id, time base and frame rate, size,
    // sample aspect, pixel/sample format, channel layout, flags, quality,
    // matrices, rate-control overrides); allocated with its encoder (the one
    // named, or the default encoder of the guessed codec id), so the encoder's
    // private options are already set on it. The stream's codecpar shows the
    // same settings. A stream-copy stream also has one, without a codec
    // (media type, sample aspect or channel layout and sample rate): the
    // set-up copies the input's parameters into it and then fills the
    // stream's codecpar from it; it is never opened.
    // Ownership: the engine's. Cleanup frees what is left; CloseEncoders and
    // CloseDecoders free a registered context and clear its table entry.
    std::vector<AVCodecContext *> InputDecoders[MAX_FILES];
    std::vector<AVCodecContext *> OutputEncoders[MAX_FILES];
    std::vector<bool> OutputStreamCopy[MAX_FILES]; // "copy" was the codec of the stream
    // The bitstream filter chain of each output stream (not yet initialised).
    std::vector<std::vector<const AVBitStreamFilter *>> BitstreamFilters[MAX_FILES];
    // The pending private options each encoder, and each muxer, took when it
    // was made (already set on it). Pass them to avcodec_open2 and
    // avformat_write_header: setting them again is harmless, and what is left
    // afterwards was not for that context. Owned by the engine (Cleanup).
    std::vector<AVDictionary *> OutputEncoderOptions[MAX_FILES];
    AVDictionary *OutputMuxerOptions[MAX_FILES] = {};

    // Whether any stream of the open inputs is video, audio, subtitle.
    // Raises "invalid codec_type of input file" for an impossible type.
    void check_audio_video_sub_inputs(bool &hasVideo, bool &hasAudio, bool &hasSubtitle);
    // The id of the encoder or decoder `name` of that media type; an empty
    // name gives none. False with LastError "Unknown %s '%s'" or
    // "Invalid %s type '%s'". The old names "libfaac" (encoder) and "libfaad"
    // (decoder) are looked up as "aac".
    bool FindCodecId(const std::string &name, AVMediaType type, bool encoder, AVCodecID &id);
    // One more stream on output `fileIndex` (its position in OutputFiles,
    // or the position it is about to get); raise FFmpegException.
    void new_video_stream(AVFormatContext *oc, int32_t fileIndex);
    void new_audio_stream(AVFormatContext *oc, int32_t fileIndex);
    void new_subtitle_stream(AVFormatContext *oc, int32_t fileIndex);
    // Records that a context took pending private option `name`.
    void MarkPrivateOptionTaken(const std::string &name);
    // Logs once, at level 0, each pending private option that no demuxer,
    // decoder, muxer or encoder took; Start calls it once the files are open.
    void ReportUnusedPrivateOptions();

private:
    const AVCodec *FindCodecByName(const std::string &name, bool encoder);
    bool FindCodec(const std::string &name, AVMediaType type, bool encoder, const AVCodec *&codec);
    // Sets every pending private option that the private data of a codec or
    // a format has (none without a class); what it took also goes into
    // `taken`. A refused value is logged; the first refusal's code is
    // returned, else 0.
    int OfferPrivateOptions(void *privateContext, const AVClass *privateClass, AVDictionary **taken);
    static bool ParseRcOverride(const std::string &text, std::vector<RcOverride> &overrides);
    // A new stream of `oc` with its encoder context and table entries; null
    // when either cannot be allocated (nothing is then added).
    AVCodecContext *AddOutputStream(AVFormatContext *oc, int32_t fileIndex, const AVCodec *encoder,
                                    AVMediaType type, bool streamCopy,
                                    std::vector<const AVBitStreamFilter *> filters, AVStream *&stream);
    void ReleaseOutputStreamTables(int32_t fileIndex);
    void ReleaseFileTables();
    // Clears the table entry that holds `context` (being freed elsewhere).
    void ForgetCodecContext(const AVCodecContext *context);

    std::vector<std::string> FRenamedCodecsLogged;
    std::vector<std::string> FPrivateOptionsTaken;
    std::vector<std::string> FPrivateOptionsReported;

public:
    // ---- General options --------------------------------------------------

    const AVInputFormat *InputFormat = nullptr;   // for the next OpenInput
    const AVOutputFormat *OutputFormat = nullptr; // for the next OpenOutput
    bool PgmyuvCompat = false;
    std::vector<std::pair<std::string, std::string>> Metadata;           // for the next OpenOutput
    int64_t RecordingTime = INT64_MAX;                                   // microseconds
    int64_t StartTime = 0;                                               // microseconds
    int64_t RecTimestamp = 0;                                            // seconds
    int64_t InputTsOffsetOption = 0;                                     // microseconds
    int64_t LimitFileSize = 0;                                           // bytes, 0 = none
    int32_t MaxFrames[4] = {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}; // video, audio, data, subtitle
    bool PacketDump = false;
    bool HexDump = false;
    bool RateEmulation = false;
    bool LoopInput = false;
    int32_t LoopOutput = -1;
    int32_t Verbose = 1;
    int32_t ThreadCount = 0; // codec threads; 0 = as many as the libraries choose
    int32_t VideoSyncMethod = -1;
    int32_t AudioSyncMethod = 0;
    float AudioDriftThreshold = 0.1f;
    bool CopyTs = false;
    bool Shortest = false;
    float DtsDeltaThreshold = 10.0f;
    int32_t ProgramId = 0;
    bool ExitOnError = false;
    int32_t CopyInitialNonKeyframes = 0;
    bool InputSync = false;
    float MuxPreload = 0.5f;  // seconds
    float MuxMaxDelay = 0.7f; // seconds
    uint32_t SwsFlags = SWS_BICUBIC;
    // The generic option store (allocated by Reset, freed by Cleanup).
    TOptionContexts OptionContexts;
    // Names no default context knows (private options of demuxers, muxers and
    // encoders such as "muxrate", "preset", "crf"), with their values, in the
    // order given; offered to the real contexts when they are created.
    std::vector<std::pair<std::string, std::string>> PendingPrivateOptions;

    // ---- Stream options ---------------------------------------------------

    int32_t FrameWidth = 0;
    int32_t FrameHeight = 0;
    float FrameAspectRatio = 0; // display width / height, 0 = not set
    int32_t FramePixFmt = -1;
    AVRational FrameRate{0, 0};
    int32_t PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    int32_t PadColor[3] = {16, 128, 128}; // Y, Cb, Cr
    int32_t CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    float VideoQscale = 0;
    std::unique_ptr<std::array<uint16_t, 64>> IntraMatrix; // none until given
    std::unique_ptr<std::array<uint16_t, 64>> InterMatrix;
    std::string VideoRcOverride;
    bool VideoDisable = false;
    int32_t VideoDiscard = 0;
    std::string VideoCodecName; // empty = none
    bool VideoStreamCopy = false;
    uint32_t VideoCodecTag = 0;
    bool SameQuality = false;
    bool Deinterlace = false;
    int32_t TopFieldFirst = -1;
    int32_t MeThreshold = 0;
    int32_t IntraDcPrecision = 8;
    bool QpHist = false;
    bool ForceFps = false;
    bool IntraOnly = false;
    int32_t VideoGlobalHeader = 0;
    std::string VideoFilters;
    bool UsingHooks = false;
    bool UsingVideoFilters = false;
    int32_t DoPass = 0;
    std::string PassLogFilePrefix;
    bool DoPsnr = false;
    std::string VstatsFileName; // empty = none
    int32_t VideoChannel = 0;
    std::string VideoStandard;
    // Pending bitstream filter chains, in the order given; the next stream of
    // the kind takes its chain.
    std::vector<const AVBitStreamFilter *> VideoBitstreamFilters;
    std::vector<const AVBitStreamFilter *> AudioBitstreamFilters;
    std::vector<const AVBitStreamFilter *> SubtitleBitstreamFilters;
    int32_t AudioSampleRate = 44100;
    int32_t AudioChannels = 2;
    int64_t AudioChannelLayout = 0;
    int32_t AudioSampleFmt = -1;
    float AudioQscale = -99999.0f; // not set
    bool AudioDisable = false;
    std::string AudioCodecName;
    bool AudioStreamCopy = false;
    uint32_t AudioCodecTag = 0;
    std::string AudioLanguage;
    int32_t AudioVolume = 256;
    bool SubtitleDisable = false;
    std::string SubtitleCodecName;
    bool SubtitleStreamCopy = false;
    std::string SubtitleLanguage;

    // ---- Hooks and preview ------------------------------------------------

    TFrameHookList HookList;
    // The "vhook" command lines; the hooks' arguments point into them.
    std::list<std::string> HookCommandLines;
    uint8_t *HookBuffer = nullptr; // av_malloc'ed picture in the decoder's format
    int32_t HookBufferSize = 0;
    TBitmapConverter HookConverter; // the custom hook's picture to bitmap and back
    int32_t PictureCounter = 0;
    THookAction HookAction = haContinue;
    std::vector<std::pair<int64_t, int64_t>> HookRanges; // (start, end) µs, sorted by end
    int32_t HookRangeIndex = 0;
    TPreviewState Preview;      // guarded by PreviewLock
    FILE *VstatsFile = nullptr; // opened by my_fopen on the first statistics line

    // Runs on every decoded video picture, on the job's thread: deinterlacing,
    // the custom hook or the frame-hook modules, as the hook state decides.
    // The picture's format and size are ist.Decoder's, its time stamp ist.Pts.
    // When it was processed, `picture` afterwards points into HookBuffer,
    // valid until the next call. Handler failures are logged, never raised.
    void PreProcessPicture(TInputStreamState &ist, TPicture &picture);
    // The custom hook on the working picture: to a bitmap, CustomHookHandler
    // with the canvas locked, and back unless the handler cleared its update
    // flag. A stop (asked for, or a failed conversion) disconnects the hook.
    void CustomHookStep(TPicture &picture, AVCodecContext *decoder, int64_t pts);
    // After each encoded picture when PreviewFlags != 0, on the job's thread:
    // at most one picture per PreviewInterval goes to PreviewBitmapHandler, or
    // else to the previewer. PreviewLock guards the switches and the
    // previewer but is let go while the handler or the previewer runs, so
    // they may wait for a thread that changes the switches. A picture that
    // cannot be converted, or a handler that fails, turns off its switch.
    void PreviewPicture(const TPicture &picture, AVCodecContext *encoder, int64_t ptsUs);

    // ---- Transcode --------------------------------------------------------

    // Figures of the run, read by the report (reset by each set-up).
    int64_t AudioBytes = 0; // encoded or copied audio
    int64_t VideoBytes = 0; // encoded or copied video
    int64_t ExtraBytes = 0; // encoder extra data (global headers)
    int32_t DupFrames = 0;  // extra copies made by video sync
    int32_t DroppedFrames = 0;
    int64_t TimerStart = 0; // wall clock when the main loop started (µs)
    // The status line of the latest report, set before ProgressHandler is
    // called (the handler may show it).
    std::string ProgressLine;
    bool ProgressFinal = false; // the latest report is the run's last
    // The working records of a run, from the set-up to ReleaseTranscodeState.
    std::vector<std::unique_ptr<TInputFileState>> InputFileStates;
    std::vector<std::unique_ptr<TInputStreamState>> InputStreamStates;
    std::vector<std::unique_ptr<TOutputStreamState>> OutputStreamStates;

private:
    // Set-up (FFmpegSetup.cpp).
    void SetUpTranscode(AVFormatContext **outputFiles, int32_t numOutputFiles, AVFormatContext **inputFiles,
                        int32_t numInputFiles, TStreamMap *streamMaps, int32_t numStreamMaps);
    int32_t FindStreamInProgram(AVFormatContext **inputFiles, int32_t numInputFiles, int32_t programId,
                                AVMediaType type);
    void SetUpStreamCopy(TOutputStreamState &ost, TInputStreamState &ist);
    void SetUpVideoTranscode(TOutputStreamState &ost, TInputStreamState &ist);
    void SetUpPassLogFile(TOutputStreamState &ost, int32_t index);
    void OpenEncoder(TOutputStreamState &ost, int32_t index);
    void OpenDecoder(TInputStreamState &ist, int32_t index);
    void InitBitstreamFilters(TOutputStreamState &ost);
    void CopyMetadataMaps(AVFormatContext **outputFiles, int32_t numOutputFiles, AVFormatContext **inputFiles,
                          int32_t numInputFiles);
    // Frees what the set-up allocated; a second call does nothing more.
    void ReleaseTranscodeState();

    // Main loop (FFmpegMainLoop.cpp).
    void WriteHeaders(AVFormatContext **outputFiles, int32_t numOutputFiles);
    void RunMainLoop(AVFormatContext **inputFiles);
    void EndOfRun(AVFormatContext **outputFiles, int32_t numOutputFiles);

    // Decoding and dispatch (FFmpegDecode.cpp). Returns -1 when decoding
    // failed, else 0; a null packet flushes the decoder and the encoders.
    int DecodeAndDispatch(TInputStreamState &ist, int32_t index, AVPacket *packet);
    void DispatchPicture(TInputStreamState &ist, int32_t index, AVFrame *frame);
    void DispatchSamples(TInputStreamState &ist, int32_t index, AVFrame *frame);
    // Drops the samples of a decoded block that lie before the stream's cut
    // time (the block then starts later); false when none is left.
    bool CutSamples(TInputStreamState &ist, AVFrame *frame);
    void CopyPacket(TOutputStreamState &ost, TInputStreamState &ist, const AVPacket &packet, int64_t pts);
    void DrainEncoders(int32_t index);
    void EmulateRate(TInputStreamState &ist);
    void ApplyVolume(AVFrame *frame);
    // Sends a frame (null: drains) and writes every packet that comes out;
    // the size of the last one in lastSize. Returns the number of packets.
    int EncodeAndMux(TOutputStreamState &ost, AVFrame *frame, int &lastSize);

    // Audio path (FFmpegAudio.cpp).
    void EmitAudio(TOutputStreamState &ost, TInputStreamState &ist, AVFrame *frame);
    void FlushAudio(TOutputStreamState &ost);
    // Resamples or converts a block of input samples when the stream needs
    // it, then encodes it.
    void ConvertAndEncode(TOutputStreamState &ost, AVFrame *holder, const uint8_t *const *data, int samples);
    // Encodes a block of samples in the encoder's format; what lies beyond
    // the output's "t" is left out.
    void EncodeAudioBlock(TOutputStreamState &ost, AVFrame *holder, const uint8_t *const *data, int samples);

    // Video path and filters (FFmpegVideo.cpp).
    void EmitVideo(TOutputStreamState &ost, TInputStreamState &ist, const TPicture &picture, AVFrame *holder,
                   const AVFrame *decoded, int &frameSize);
    int BuildVideoFilters(TInputStreamState &ist, TOutputStreamState &ost);
    int PullFilteredPicture(TInputStreamState &ist, TPicture &picture);
    void FeedVideoFilters(TInputStreamState &ist, AVFrame *frame, const TPicture &picture);
    bool FollowInputGeometry(TOutputStreamState &ost, const AVFrame *decoded);

    // Subtitles and the writing point (FFmpegMux.cpp).
    void EmitSubtitle(TOutputStreamState &ost, TInputStreamState &ist, AVSubtitle &subtitle, int64_t pts);
    void MuxPacket(TOutputStreamState &ost, AVPacket *packet);
    void WritePacket(TOutputStreamState &ost, AVPacket *packet);
    void FlushBitstreamFilters(TOutputStreamState &ost);

    // Report (FFmpegReport.cpp).
    void ReportProgress(AVFormatContext **outputFiles, bool final);
    void WriteVideoStats(TOutputStreamState &ost, int frameSize);
    void NoteCodedPacket(TOutputStreamState &ost, const AVPacket *packet);

    // Objects reused through a run (allocated by the set-up, freed by
    // ReleaseTranscodeState).
    AVPacket *ReadPacket = nullptr;    // the main loop's packet
    AVPacket *EncodedPacket = nullptr; // what the encoders return
    AVPacket *CopiedPacket = nullptr;  // a stream-copied packet
    AVFrame *DecodedFrame = nullptr;
    AVFrame *FilterInput = nullptr; // a pre-processed picture for the filter chain
    AVFrame *SilenceFrame = nullptr;
    AVFrame *ConvertFrame = nullptr; // resampled audio on its way to the FIFO
    uint8_t *SubtitleBuffer = nullptr;
    double ReportedTime = 0; // output time of the latest report (s)
    // Records of a finished run that may still be in the open-codec lists;
    // kept until the next set-up so that CloseEncoders/CloseDecoders can reach them.
    std::vector<std::unique_ptr<TInputStreamState>> RetiredInputStreams;
    std::vector<std::unique_ptr<TOutputStreamState>> RetiredOutputStreams;

protected:
    // Logs when LogHandler is assigned.
    void Log(int level, const std::string &message);
    void NotifyTerminated();
    // The conversion itself, on the thread that runs the job.
    void Transcode(AVFormatContext **outputFiles, int32_t numOutputFiles, AVFormatContext **inputFiles,
                   int32_t numInputFiles, TStreamMap *streamMaps, int32_t numStreamMaps);

private:
    friend class TDoTerminateThread;
    struct TOptionRow;
    static const TOptionRow OptionTable[];

    void SetFormat(const std::string &value);
    void AddStreamMap(const std::string &value);
    void AddMetadataMap(const std::string &value);
    void SetInputTsScale(const std::string &value);
    void AddMetadata(const std::string &value);
    int64_t ParseTimeOrFail(const std::string &option, const std::string &text, bool isDuration);
    // The generic store, keeping a name that no default context knows as a
    // pending private option. Returns SetDefaultOption's result.
    bool SetGenericOption(const std::string &name, const std::string &value);
    void KeepPrivateOption(const std::string &name, const std::string &value);
    void SetCodec(bool &streamCopy, std::string &codecName, const std::string &value);
    void SetMatrix(std::unique_ptr<std::array<uint16_t, 64>> &matrix, const std::string &text);
    void ListPixelFormats();
    void ListSampleFormats();
    void ReleaseHooks();
    void JoinThreads();

    std::list<TOutputStreamState *> OpenedEncoders;
    std::list<TInputStreamState *> OpenedDecoders;
    std::unique_ptr<TFFmpegThread> FWorkerThread;
    std::unique_ptr<TDoTerminateThread> FTerminateThread;
    std::mutex FTerminateLock; // Stop's creation of FTerminateThread
    TPauseGate FPauseGate;
};
