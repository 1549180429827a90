// The media probe: opens a media file with the FFmpeg libraries (or attaches
// to a format context that an engine opened), describes its streams, and
// decodes single video pictures at chosen positions into a 24-bit bitmap.
//
// A probe is used by one thread at a time (the user-interface thread for the
// component's probe). Its stream-information probe and its decoder open and
// close hold CodecLock, because task engines open and close codecs on worker
// threads at the same time. The libraries must be loaded while a probe holds
// a file.
//
// Failures are reported through results (false, or a bitmap with FrameValid()
// false) and LastError(), and each is logged through the libraries' log. Only
// a missing library (CheckLibraries) and ReadFrame on an attached context
// throw AVProbeException.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "MediaOps.h"

struct AVFormatContext;
struct AVIOContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

struct AVProbeException : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// File-level information; every number -1 and every text empty without a file.
struct TFileStreamInfo {
    int64_t StartTime = -1; // microseconds, -1 when the library reports none
    int64_t Duration = -1;  // microseconds, -1 when none
    int32_t BitRate = -1;   // bits/s
    int64_t Timestamp = -1; // creation time, microseconds since the epoch (0 when the file has none)
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;
    std::string Author;
    std::string CopyrightText;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

// The file-level half: opening, attaching, closing, stream counts and the
// container's information.
class TCustomAVProbe {
public:
    TCustomAVProbe();
    virtual ~TCustomAVProbe();
    TCustomAVProbe(const TCustomAVProbe &) = delete;
    TCustomAVProbe &operator=(const TCustomAVProbe &) = delete;

    // Throws AVProbeException when avcodec, avformat, avutil or swscale is
    // not loaded.
    void CheckLibraries() const;
    // Opens `fileName` (through the unicode protocol when the name needs it),
    // with the demuxer `forcedFormat` when that is not empty, and probes its
    // streams. False with LastError() on failure; the probe is then closed.
    bool OpenFile(const std::u16string &fileName, const std::string &forcedFormat = {});
    // Takes `context` read-only: the probe never closes it, and ReadFrame
    // refuses to decode from it. The owner keeps it alive until CloseFile or
    // the probe's destruction.
    virtual void AttachContext(AVFormatContext *context);
    virtual void CloseFile();

    void GetFileStreamInfo(TFileStreamInfo &info);
    // The open file's name as the user gave it.
    std::u16string GetFileName();
    // The short name of the open container format. Still pictures are
    // "image2", whichever image demuxer the libraries picked for them.
    std::string GetFormatName();

    bool Active() const { return FContext != nullptr; }
    bool Owned() const { return FOwned; }
    AVFormatContext *Context() const { return FContext; }
    const std::string &LastError() const { return FLastError; }
    const std::string &ForcedFormat() const { return FForcedFormat; }
    int32_t StreamCount() const { return FStreamCount; }
    int32_t ProgramCount() const { return FProgramCount; }
    int32_t AudioStreamCount() const { return FAudioStreamCount; }
    int32_t VideoStreamCount() const { return FVideoStreamCount; }
    int32_t SubtitleStreamCount() const { return FSubtitleStreamCount; }
    int32_t FirstAudioStream() const { return FFirstAudioStream; }
    int32_t FirstVideoStream() const { return FFirstVideoStream; }
    int32_t FirstSubtitleStream() const { return FFirstSubtitleStream; }

protected:
    // LastError := message; the message plus "\n" goes to the libraries' log
    // at `avLevel`.
    void Fail(int avLevel, const std::string &message);
    bool FormatIsImage2();
    void RecountStreams();

    AVFormatContext *FContext = nullptr;
    bool FOwned = false;
    AVIOContext *FUnicodeIO = nullptr; // the I/O of a "unicode:utf8:" name, owned
    std::string FLastError;
    std::string FForcedFormat;
    int32_t FStreamCount = -1;
    int32_t FProgramCount = -1;
    int32_t FAudioStreamCount = -1;
    int32_t FVideoStreamCount = -1;
    int32_t FSubtitleStreamCount = -1;
    int32_t FFirstAudioStream = -1;
    int32_t FFirstVideoStream = -1;
    int32_t FFirstSubtitleStream = -1;
    // Set by SeekTo when it fell back to a backward seek: ReadFrame then
    // skips the pictures before its target.
    bool FPrecise = false;

private:
    void CloseContext();
};

// The decoding half: seeking and reading one picture into the frame bitmap.
class TAVProbe : public TCustomAVProbe {
public:
    TAVProbe();
    ~TAVProbe() override;
    void CloseFile() override;

    // Seeks stream `index` (-1: the first video, else audio, else subtitle
    // stream; none: the container clock) to `position` microseconds from the
    // stream's start, to the next key frame at or after it; when there is
    // none and `backwardFallback`, to the key frame before it (Precise).
    // ReadFrame(-1, -1) then decodes on from there.
    bool SeekTo(int32_t index, bool backwardFallback, int64_t position);
    // Decodes the picture of video stream `index` (-1: the first video
    // stream) that is on show at `position` microseconds from the stream's
    // start (the last picture whose time stamp is at or before it) into the
    // frame bitmap and returns it. Before the first picture: the first
    // picture; from the last picture up to the file's duration: the last
    // picture; past the duration: the end of the stream. `position` -1: the
    // next picture, without seeking.
    //
    // It seeks back to the key frame before the position and decodes
    // forward to it; a position a little after the previous one decodes on
    // without seeking, and the same request twice is answered from a copy.
    // FrameValid() tells whether the bitmap holds the requested picture;
    // otherwise LastError() says why, and the bitmap is empty (argument and
    // codec failures) or black (end of stream, conversion failures). Throws
    // AVProbeException on an attached context.
    TBitmap &ReadFrame(int32_t index, int64_t position);
    // A copy of the frame bitmap after the last successful decode.
    TBitmap &LastFrame();

    bool FrameValid() const { return FFrameValid; }
    // Time stamp of the last decoded picture in microseconds from the
    // stream's start, -1 when none.
    int64_t FramePTS() const { return FFramePTS; }
    bool Precise() const { return FPrecise; }

private:
    struct TFrameDeleter {
        void operator()(AVFrame *frame) const;
    };
    struct TPacketDeleter {
        void operator()(AVPacket *packet) const;
    };

    // How a walk to a position ended.
    enum TWalk { wkFound, wkTooLate, wkEnd, wkFailed };

    void CloseDecoder();
    bool OpenDecoder(int32_t index);
    // The next picture of the stream into the frame bitmap (position -1).
    void DecodeNext(int32_t index, int64_t position);
    // The picture on show at `position` into the frame bitmap.
    void DecodeAt(int32_t index, int64_t position);
    // Seeks to the key frame at or before `ts` (stream time base), or to the
    // stream's first one (`toStart`), and starts a new walk from there.
    bool SeekBack(int32_t index, int64_t ts, int64_t position, bool toStart);
    // Decodes on until the picture on show at `target` (stream time base) is
    // known, the last one at or before it, and shows it. `fromSeek`: right
    // after SeekBack; a first picture after the target is then wkTooLate,
    // unless the seek went to the stream's start (`fromStart`).
    TWalk Walk(int32_t index, int64_t target, bool fromSeek, bool fromStart);
    // The decoder's next picture into `frame`; false at the end of the
    // stream. Pictures far before `target` that nothing refers to are not
    // decoded at all.
    bool NextPicture(int32_t index, AVFrame *frame, int64_t target);
    bool ShowPicture(int32_t index, AVFrame *frame);
    void ShowEnd(int32_t index, int64_t position);
    void ForgetWalk();
    void RememberRequest(int32_t index, int64_t position);

    AVCodecContext *FDecoder = nullptr;
    int32_t FDecoderStream = -1;
    TBitmapConverter FConverter; // the scaler, the conversion buffer and the frame bitmap
    std::unique_ptr<TBitmap> FLastFrame;
    std::unique_ptr<AVFrame, TFrameDeleter> FPicture;
    std::unique_ptr<AVPacket, TPacketDeleter> FPacket;
    // The walk: the decoder's state between requests. The picture in
    // LastFrame is at FShownTs (stream time base); FAhead holds a picture
    // decoded after it, not shown yet. A walk goes on while FWalking.
    std::unique_ptr<AVFrame, TFrameDeleter> FAhead;
    std::unique_ptr<AVFrame, TFrameDeleter> FCandidate;
    bool FAheadValid = false;
    bool FWalking = false;
    bool FDraining = false; // the stream's packets are all read
    bool FWaitKey = false;  // after a seek: pictures before the first key frame are broken
    int64_t FShownTs = INT64_MIN;
    int64_t FLastPictureTs = INT64_MIN; // of the last picture decoded in this walk
    // Pictures decoded after a seek before any time stamp was known; they
    // get theirs from the first picture that has one.
    std::vector<std::unique_ptr<AVFrame, TFrameDeleter>> FUntimed;
    size_t FUntimedNext = 0;
    // The decoding time stamp of the first key frame read in this walk: no
    // later than its time stamp, when that is missing.
    int64_t FFirstKeyDts = INT64_MIN;
    bool FUntimedGuessed = false; // the kept pictures' time stamps count from FFirstKeyDts
    bool FGuessed = false;        // so does the picture NextPicture gave last
    // Key frames read so far (stream time base) by time stamp, with their
    // decoding time stamp (where a seek must go to find them), and the
    // widest distance seen between two key frames read one after the other.
    struct TKeyFrame {
        int64_t Pts, Dts;
        bool operator<(const TKeyFrame &other) const { return Pts < other.Pts; }
    };
    std::vector<TKeyFrame> FKeyFrames;
    int64_t FKeySpacing = 0;
    int64_t FLastKey = INT64_MIN;
    bool FIsImage2 = false;
    bool FFrameValid = false;
    int64_t FFramePTS = -1;
    int64_t FLastFramePTS = -1; // FramePTS of the picture in LastFrame
    int64_t FLastPosition = -1;
    int32_t FLastIndex = -1;
    bool FEndReached = false;
};
