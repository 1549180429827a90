// The working records of one transcode run: one per input file, one per
// input stream, one per output stream. The transcode set-up creates them,
// the main loop and the output paths work on them, and ReleaseTranscodeState
// frees what they hold. Time stamps are microseconds unless a field says
// otherwise. All of it is used on the engine's worker thread only.
//
// Codec contexts are not owned by the records: a stream's decoder or
// encoder belongs to the engine's file tables until it is opened, and to the
// engine's open-codec lists from then on (CloseEncoders/CloseDecoders). Every
// other library object a record points to is owned by it and released by
// its Release (which the destructor calls too).
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "EntryPoints.h"

struct TInputFileState {
    int32_t EofReached = 0;  // reading the file failed or ended
    int32_t FirstStream = 0; // index of the file's first stream in the input stream table
    int32_t StreamCount = 0; // the file's stream count at set-up
};

struct TInputStreamState {
    TInputStreamState() = default;
    TInputStreamState(const TInputStreamState &) = delete;
    TInputStreamState &operator=(const TInputStreamState &) = delete;
    ~TInputStreamState() { Release(); }
    void Release();

    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    AVStream *Stream = nullptr;
    AVCodecContext *Decoder = nullptr; // the engine's decoder context of the stream
    int32_t Discard = 1;               // no output stream takes it: its packets are dropped
    int32_t DecodingNeeded = 0;        // an output stream fed by it is transcoded
    int64_t Start = 0;                 // wall clock at set-up, with rate emulation
    int64_t NextPts = AV_NOPTS_VALUE;  // predicted time stamp of the data after the current one
    int64_t Pts = 0;                   // time stamp of the data being processed
    int32_t IsStart = 1;               // the audio path has not made its first hard correction yet
    // Decoded pictures and samples that end before this time are dropped:
    // the clip start of the input's "ss" or the output's "ss"
    // (AV_NOPTS_VALUE: none).
    int64_t CutTime = AV_NOPTS_VALUE;
    int64_t NextPictureTime = AV_NOPTS_VALUE; // the previous picture's time plus its duration
    float Quality = 0;                        // quality of the last decoded picture
    // The video filter chain: graph, its "out" sink and "src" source.
    AVFilterGraph *FilterGraph = nullptr;
    AVFilterContext *OutFilter = nullptr;
    AVFilterContext *InFilter = nullptr;
    AVFrame *PictureRef = nullptr; // the last picture taken from the chain (owned, reused)
};

struct TOutputStreamState {
    TOutputStreamState() = default;
    TOutputStreamState(const TOutputStreamState &) = delete;
    TOutputStreamState &operator=(const TOutputStreamState &) = delete;
    ~TOutputStreamState() { Release(); }
    void Release();

    int32_t FileIndex = 0;
    int32_t StreamIndex = 0;
    int32_t SourceIndex = 0; // input stream table index of the feeding stream
    AVStream *Stream = nullptr;
    AVCodecContext *Encoder = nullptr; // the engine's encoder context of the stream
    int32_t EncodingNeeded = 0;
    bool StreamCopy = false;
    int32_t FrameNumber = 0; // encoded video frames plus copied packets
    TInputStreamState *SyncInput = nullptr;
    // Output position: video frames emitted, audio samples per channel emitted
    // (sync), copied video packets.
    int64_t SyncOutPos = 0;
    float Quality = 0; // the stream's fixed quality (118 x qscale), 0 = none

    // Video: scaling into the temporary picture, crop and pad.
    int32_t NeedsScaling = 0;
    AVFrame *PictTmp = nullptr; // owns its pixel buffer
    SwsContext *ScaleContext = nullptr;
    int32_t ResampleHeight = 0;
    // The input picture geometry the scaler was made for.
    int32_t ScaleInWidth = 0, ScaleInHeight = 0;
    AVPixelFormat ScaleInFormat = AV_PIX_FMT_NONE;
    int32_t CropEnabled = 0, TopBand = 0, LeftBand = 0;
    int32_t PadEnabled = 0, PadTopSize = 0, PadBottomSize = 0, PadLeftSize = 0, PadRightSize = 0;
    int64_t LastVideoPts = AV_NOPTS_VALUE; // encoder time base
    bool LimitReached = false;             // the output's "t" ended this stream
    bool SizeReported = false;             // a picture of the wrong size was logged

    // Audio: one resampling/format context, the FIFO of samples in the
    // encoder's format, and the time stamp of the next encoded sample.
    int32_t AudioResample = 0;
    SwrContext *Resampler = nullptr;
    int32_t ConvertPair = -6; // sample-format pair the context was made for, -6 = none
    int32_t ResamplerInRate = 0, ResamplerInChannels = 0; // its input rate and channel count
    AVAudioFifo *Fifo = nullptr;
    int64_t NextAudioPts = 0; // samples

    FILE *LogFile = nullptr; // pass-1 statistics

    // Bitstream filters, first to last, initialised for this stream.
    std::vector<AVBSFContext *> Filters;
    std::vector<AVPacket *> FilterOutputs; // one per filter, reused
    AVFrame *EncodeFrame = nullptr;        // reused for every frame sent to the encoder

    // Muxing: time stamps (stream time base) of what was written so far.
    int64_t CurrentPts = AV_NOPTS_VALUE; // end of the last packet written
    int64_t LastDts = AV_NOPTS_VALUE;

    // The last encoded packet's quality statistics (the encoder's coded frame).
    int32_t CodedQuality = 0; // lambda units (118 per quantiser step)
    int32_t CodedPictType = 0;
    uint64_t CodedError[4] = {};
    bool CodedKey = false;
    int64_t CodedPts = AV_NOPTS_VALUE; // encoder time base
};

// The engine's printf-style message text.
std::string FormatText(const char *format, ...) __attribute__((format(printf, 1, 2)));

// A value computed from options for an integer field, held at the type's
// limits instead of overflowing (NaN gives 0).
template <typename T> T SaturatedCast(double value)
{
    if (value != value) return 0;
    if (value <= double(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (value >= double(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return T(value);
}
