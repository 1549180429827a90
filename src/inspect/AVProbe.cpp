#include "AVProbe.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

namespace {

constexpr AVRational MicrosecondBase{1, 1000000};

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));

std::string Format(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out(size_t(std::max(n, 0)), '\0');
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    return out;
}

bool SameText(const char *a, const char *b)
{
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// The current libraries open a still picture with a demuxer of its own codec
// ("png_pipe", "jpeg_pipe" ...) where the older ones used "image2"; all of
// them hold one picture per file and cannot seek.
bool IsImageDemuxer(const char *name)
{
    if (SameText(name, "image2")) return true;
    size_t n = std::strlen(name);
    return n > 5 && std::strcmp(name + n - 5, "_pipe") == 0;
}

// The leading decimal number of a metadata text ("2009-05-01" gives 2009,
// "3/12" gives 3); 0 when there is none.
int32_t LeadingNumber(const std::string &text)
{
    const char *p = text.c_str();
    while (*p == ' ') ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) return 0;
    long long v = std::strtoll(p, nullptr, 10);
    return int32_t(std::clamp<long long>(v, 0, std::numeric_limits<int32_t>::max()));
}

void CopyBitmap(TBitmap &target, const TBitmap &source)
{
    target.SetSize(source.Width(), source.Height());
    if (source.Height() > 0)
        std::memcpy(target.Pixels(), source.Pixels(), size_t(source.RowSize()) * size_t(source.Height()));
}

} // namespace

// ---------------------------------------------------------------------------
// TCustomAVProbe

TCustomAVProbe::TCustomAVProbe() { RecountStreams(); }

TCustomAVProbe::~TCustomAVProbe() { CloseContext(); }

void TCustomAVProbe::CheckLibraries() const
{
    const TFFmpegLoader &loader = FFmpegLoader();
    if (!loader.LibraryLoaded(TMediaLibrary::avcodec)) throw AVProbeException("LibAVCodec not loaded.");
    if (!loader.LibraryLoaded(TMediaLibrary::avformat)) throw AVProbeException("LibAVFormat not loaded.");
    if (!loader.LibraryLoaded(TMediaLibrary::avutil)) throw AVProbeException("LibAVUtil not loaded.");
    if (!loader.LibraryLoaded(TMediaLibrary::swscale)) throw AVProbeException("LibSwScale not loaded.");
}

void TCustomAVProbe::Fail(int avLevel, const std::string &message)
{
    FLastError = message;
    lav::av_log(nullptr, avLevel, "%s\n", message.c_str());
}

bool TCustomAVProbe::OpenFile(const std::u16string &fileName, const std::string &forcedFormat)
{
    CheckLibraries();
    CloseFile();

    const AVInputFormat *format = nullptr;
    if (!forcedFormat.empty()) {
        format = lav::av_find_input_format(forcedFormat.c_str());
        if (!format) {
            Fail(AV_LOG_ERROR, Format("Unknown input format: %s", forcedFormat.c_str()));
            return false;
        }
    }

    const std::string displayName = MyUtils::WideToNarrow(fileName);
    const std::string name = ProtocolFileName(fileName);
    FContext = lav::avformat_alloc_context();
    if (!FContext) {
        Fail(AV_LOG_ERROR, OpenErrorText(displayName, AVERROR(ENOMEM)));
        return false;
    }
    FOwned = true;

    int r = 0;
    if (IsUnicodeProtocolName(name)) {
        r = OpenUnicodeIO(name, AVIO_FLAG_READ, &FUnicodeIO);
        if (r < 0) {
            lav::avformat_free_context(FContext);
            FContext = nullptr;
        } else {
            FContext->pb = FUnicodeIO;
            FContext->flags |= AVFMT_FLAG_CUSTOM_IO;
        }
    }
    // avformat_open_input frees the context when it fails.
    if (r >= 0) r = lav::avformat_open_input(&FContext, name.c_str(), format, nullptr);
    if (r < 0) {
        Fail(AV_LOG_ERROR, OpenErrorText(displayName, r));
        CloseFile();
        return false;
    }

    {
        std::lock_guard<std::mutex> lock(CodecLock);
        r = lav::avformat_find_stream_info(FContext, nullptr);
    }
    if (r < 0) {
        Fail(AV_LOG_ERROR, Format("%s: could not find codec parameters", displayName.c_str()));
        CloseFile();
        return false;
    }

    RecountStreams();
    FForcedFormat = forcedFormat;
    return true;
}

void TCustomAVProbe::AttachContext(AVFormatContext *context)
{
    CheckLibraries();
    CloseFile();
    FOwned = false;
    FContext = context;
    RecountStreams();
}

void TCustomAVProbe::CloseContext()
{
    FForcedFormat.clear();
    if (FOwned && FContext) lav::avformat_close_input(&FContext);
    if (FOwned && FUnicodeIO) CloseUnicodeIO(&FUnicodeIO);
    FContext = nullptr;
    FUnicodeIO = nullptr;
    FOwned = false;
    RecountStreams();
}

void TCustomAVProbe::CloseFile() { CloseContext(); }

void TCustomAVProbe::RecountStreams()
{
    FStreamCount = FProgramCount = -1;
    FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = -1;
    FFirstAudioStream = FFirstVideoStream = FFirstSubtitleStream = -1;
    if (!FContext) return;
    FStreamCount = int32_t(FContext->nb_streams);
    FProgramCount = int32_t(FContext->nb_programs);
    FAudioStreamCount = FVideoStreamCount = FSubtitleStreamCount = 0;
    for (int32_t i = 0; i < FStreamCount; ++i) {
        switch (FContext->streams[i]->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            ++FVideoStreamCount;
            if (FFirstVideoStream < 0) FFirstVideoStream = i;
            break;
        case AVMEDIA_TYPE_AUDIO:
            ++FAudioStreamCount;
            if (FFirstAudioStream < 0) FFirstAudioStream = i;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            ++FSubtitleStreamCount;
            if (FFirstSubtitleStream < 0) FFirstSubtitleStream = i;
            break;
        default: break;
        }
    }
}

void TCustomAVProbe::GetFileStreamInfo(TFileStreamInfo &info)
{
    info = TFileStreamInfo{};
    if (!FContext) {
        Fail(AV_LOG_INFO, "file not loaded.");
        return;
    }
    info.StartTime = FContext->start_time == AV_NOPTS_VALUE ? -1 : FContext->start_time;
    info.Duration = FContext->duration == AV_NOPTS_VALUE ? -1 : FContext->duration;
    info.BitRate = int32_t(std::clamp<int64_t>(FContext->bit_rate, 0, std::numeric_limits<int32_t>::max()));

    // The container's creation time, year and track are metadata now.
    const AVDictionary *meta = FContext->metadata;
    info.Timestamp = 0;
    std::string created = MetadataValue(meta, "creation_time", "");
    int64_t t = 0;
    if (!created.empty() && lav::av_parse_time(&t, created.c_str(), 0) >= 0) info.Timestamp = t;
    std::string year = MetadataValue(meta, "year", "");
    info.Year = LeadingNumber(year.empty() ? MetadataValue(meta, "date", "") : year);
    info.Track = LeadingNumber(MetadataValue(meta, "track", ""));

    info.Title = MetadataValue(meta, "title", "");
    // Most demuxers name the author "artist" now.
    info.Author = MetadataValue(meta, "author", "");
    if (info.Author.empty()) info.Author = MetadataValue(meta, "artist", "");
    info.CopyrightText = MetadataValue(meta, "copyright", "");
    info.Comment = MetadataValue(meta, "comment", "");
    info.Album = MetadataValue(meta, "album", "");
    info.Genre = MetadataValue(meta, "genre", "");
}

std::u16string TCustomAVProbe::GetFileName()
{
    if (!FContext) {
        Fail(AV_LOG_INFO, "file not loaded.");
        return {};
    }
    return DisplayFileName(FContext->url ? FContext->url : "");
}

std::string TCustomAVProbe::GetFormatName()
{
    if (!FContext) {
        Fail(AV_LOG_INFO, "file not loaded.");
        return {};
    }
    if (!FContext->iformat) return {};
    if (IsImageDemuxer(FContext->iformat->name)) return "image2";
    return FContext->iformat->name;
}

bool TCustomAVProbe::FormatIsImage2() { return SameText(GetFormatName().c_str(), "image2"); }

// ---------------------------------------------------------------------------
// TAVProbe

void TAVProbe::TFrameDeleter::operator()(AVFrame *frame) const { lav::av_frame_free(&frame); }
void TAVProbe::TPacketDeleter::operator()(AVPacket *packet) const { lav::av_packet_free(&packet); }

TAVProbe::TAVProbe() = default;

TAVProbe::~TAVProbe()
{
    TAVProbe::CloseFile();
    FConverter.Bitmap.reset();
    FLastFrame.reset();
}

void TAVProbe::CloseDecoder()
{
    if (FDecoder) {
        std::lock_guard<std::mutex> lock(CodecLock);
        lav::avcodec_free_context(&FDecoder);
    }
    FDecoder = nullptr;
    FDecoderStream = -1;
}

void TAVProbe::CloseFile()
{
    FIsImage2 = false;
    FFrameValid = false;
    FFramePTS = -1;
    FLastFramePTS = -1;
    FLastPosition = -1;
    FLastIndex = -1;
    FEndReached = false;
    if (FConverter.Bitmap) FConverter.Bitmap->SetSize(0, 0);
    if (FLastFrame) FLastFrame->SetSize(0, 0);
    if (FConverter.Scaler) lav::sws_freeContext(FConverter.Scaler);
    FConverter.Scaler = nullptr;
    CloseDecoder();
    if (FConverter.Buffer) lav::av_freep(&FConverter.Buffer);
    FConverter.BufferSize = 0;
    FPicture.reset();
    FPacket.reset();
    ForgetWalk();
    FAhead.reset();
    FCandidate.reset();
    FKeyFrames.clear();
    FKeySpacing = 0;
    FLastKey = INT64_MIN;
    TCustomAVProbe::CloseFile();
}

TBitmap &TAVProbe::LastFrame()
{
    if (!FLastFrame) FLastFrame = std::make_unique<TBitmap>();
    return *FLastFrame;
}

void TAVProbe::RememberRequest(int32_t index, int64_t position)
{
    FLastPosition = position;
    FLastIndex = index;
}

bool TAVProbe::SeekTo(int32_t index, bool backwardFallback, int64_t position)
{
    FPrecise = false;
    if (!FContext) {
        Fail(AV_LOG_INFO, "file not loaded.");
        return false;
    }
    if (FormatIsImage2()) {
        lav::av_log(nullptr, AV_LOG_INFO, "\"image2\" format cannot to be seeked.\n");
        return true;
    }
    int64_t ts = std::max<int64_t>(position, 0);
    if (index < 0) {
        index = FFirstVideoStream >= 0   ? FFirstVideoStream
                : FFirstAudioStream >= 0 ? FFirstAudioStream
                                         : FFirstSubtitleStream;
    } else if (index >= FStreamCount) {
        Fail(AV_LOG_ERROR, Format("stream index #%d is invalid.", index));
        return false;
    }

    int64_t start = AV_NOPTS_VALUE;
    if (index >= 0) {
        const AVStream *st = FContext->streams[index];
        ts = lav::av_rescale_q(ts, MicrosecondBase, st->time_base);
        start = st->start_time;
    } else {
        start = FContext->start_time;
    }
    if (start != AV_NOPTS_VALUE) ts += start;

    if (FDecoder) lav::avcodec_flush_buffers(FDecoder);
    ForgetWalk();
    FLastPosition = -1;
    FLastIndex = -1;
    FEndReached = false;

    int r;
    if (position > 0) {
        r = lav::av_seek_frame(FContext, index, ts, 0);
        if (r < 0 && backwardFallback) {
            FPrecise = true;
            r = lav::av_seek_frame(FContext, index, ts, AVSEEK_FLAG_BACKWARD);
        }
    } else {
        r = lav::av_seek_frame(FContext, index, 0, AVSEEK_FLAG_BACKWARD);
        if (r < 0) r = lav::av_seek_frame(FContext, index, ts, 0);
    }
    if (r < 0) {
        Fail(AV_LOG_ERROR, Format("could not seek to position %0.3f", double(position) / 1000000));
        return false;
    }
    return true;
}

void TAVProbe::ForgetWalk()
{
    if (FAhead) lav::av_frame_unref(FAhead.get());
    FAheadValid = false;
    FWalking = false;
    FDraining = false;
    FWaitKey = false;
    FShownTs = INT64_MIN;
    FLastKey = INT64_MIN;
    FLastPictureTs = INT64_MIN;
    FUntimed.clear();
    FUntimedNext = 0;
    FFirstKeyDts = INT64_MIN;
    FUntimedGuessed = false;
    FGuessed = false;
}

bool TAVProbe::OpenDecoder(int32_t index)
{
    CloseDecoder();
    ForgetWalk();
    FKeyFrames.clear();
    FKeySpacing = 0;
    const AVStream *st = FContext->streams[index];
    const AVCodec *codec = lav::avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) {
        Fail(AV_LOG_ERROR, Format("Unsupported codec (id=%d) for input file stream #%d",
                                  int(st->codecpar->codec_id), index));
        return false;
    }
    AVCodecContext *decoder = lav::avcodec_alloc_context3(codec);
    int r = decoder ? lav::avcodec_parameters_to_context(decoder, st->codecpar) : AVERROR(ENOMEM);
    if (r >= 0) {
        decoder->pkt_timebase = st->time_base;
        // The walk to a position decodes many pictures to show one: every
        // core helps.
        decoder->thread_count = 0;
        decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        std::lock_guard<std::mutex> lock(CodecLock);
        r = lav::avcodec_open2(decoder, codec, nullptr);
    }
    if (r < 0) {
        if (decoder) {
            std::lock_guard<std::mutex> lock(CodecLock);
            lav::avcodec_free_context(&decoder);
        }
        Fail(AV_LOG_ERROR, Format("Error while opening codec for input file stream #%d", index));
        return false;
    }
    FDecoder = decoder;
    FDecoderStream = index;
    return true;
}

TBitmap &TAVProbe::ReadFrame(int32_t index, int64_t position)
{
    const bool wasValid = FFrameValid;
    FFrameValid = false;
    FFramePTS = -1;

    if (FContext && !FOwned) {
        Fail(AV_LOG_INFO, "frame cannot be read, handle is readonly.");
        throw AVProbeException(FLastError);
    }
    if (!FConverter.Bitmap) FConverter.Bitmap = std::make_unique<TBitmap>();
    TBitmap &bitmap = *FConverter.Bitmap;

    if (!FContext) {
        Fail(AV_LOG_INFO, "file not loaded.");
        return bitmap;
    }
    if (index < 0) {
        index = FFirstVideoStream;
        if (index < 0) {
            Fail(AV_LOG_INFO, "no video stream.");
            bitmap.SetSize(0, 0);
            return bitmap;
        }
    } else if (index >= FStreamCount) {
        Fail(AV_LOG_INFO, Format("stream index #%d is invalid.", index));
        bitmap.SetSize(0, 0);
        return bitmap;
    } else if (FContext->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
        Fail(AV_LOG_INFO, Format("stream #%d is not video stream.", index));
        bitmap.SetSize(0, 0);
        return bitmap;
    }

    // A still picture shows its one picture for every position.
    if (FIsImage2 && FormatIsImage2()) {
        CopyBitmap(bitmap, LastFrame());
        FFrameValid = true;
        return bitmap;
    }

    const AVStream *st = FContext->streams[index];
    if (position >= 0) {
        const bool sameRequest = position == FLastPosition && index == FLastIndex;
        if (wasValid && sameRequest) {
            CopyBitmap(bitmap, LastFrame());
            FFrameValid = true;
            FFramePTS = FLastFramePTS;
            return bitmap;
        }
        if (FEndReached && sameRequest) {
            Fail(AV_LOG_DEBUG, "stream eof reached.");
            bitmap.FillBlack();
            return bitmap;
        }
    }

    if (st->codecpar->width <= 0 || st->codecpar->height <= 0) {
        lav::av_log(nullptr, AV_LOG_INFO, "frame size of codec is invalid.\n");
        FLastError = "frame size of codec is invalid";
        bitmap.SetSize(0, 0);
        return bitmap;
    }
    if (!FDecoder || FDecoderStream != index) {
        if (!OpenDecoder(index)) {
            bitmap.SetSize(0, 0);
            return bitmap;
        }
    }
    if (!FPicture) FPicture.reset(lav::av_frame_alloc());
    if (!FPacket) FPacket.reset(lav::av_packet_alloc());
    if (!FAhead) FAhead.reset(lav::av_frame_alloc());
    if (!FCandidate) FCandidate.reset(lav::av_frame_alloc());
    if (!FPicture || !FPacket || !FAhead || !FCandidate) {
        Fail(AV_LOG_ERROR, "Cannot initialize the toRGB conversion context");
        bitmap.FillBlack();
        return bitmap;
    }
    if (bitmap.Width() != st->codecpar->width || bitmap.Height() != st->codecpar->height)
        bitmap.SetSize(st->codecpar->width, st->codecpar->height);
    if (position < 0)
        DecodeNext(index, position);
    else
        DecodeAt(index, position);
    return bitmap;
}

namespace {
int64_t PictureTime(const AVFrame *frame)
{
    return frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
}
} // namespace

bool TAVProbe::NextPicture(int32_t index, AVFrame *frame, int64_t target)
{
    const AVStream *st = FContext->streams[index];
    AVPacket *packet = FPacket.get();
    int64_t length = 0;
    if (st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0)
        length = lav::av_rescale_q(1, av_inv_q(st->avg_frame_rate), st->time_base);
    // Pictures kept back for their time stamps go first.
    if (FUntimedNext < FUntimed.size()) {
        lav::av_frame_move_ref(frame, FUntimed[FUntimedNext++].get());
        FGuessed = FUntimedGuessed;
        if (FUntimedNext == FUntimed.size()) {
            FUntimed.clear();
            FUntimedNext = 0;
            FUntimedGuessed = false;
        }
        return true;
    }
    FGuessed = false;
    // Pictures come out of the decoder after the packets that carry them;
    // at the end of the file the decoder gives up the ones it still holds.
    for (;;) {
        int r = lav::avcodec_receive_frame(FDecoder, frame);
        if (r == 0) {
            if (FWaitKey && !frame->key_frame) {
                lav::av_frame_unref(frame);
                continue;
            }
            FWaitKey = false;
            // Some containers give time stamps to a few packets only (and
            // none right after a seek): the others follow from the last one
            // known, or go back from the next one.
            const int64_t step = std::max<int64_t>(frame->pkt_duration > 0 ? frame->pkt_duration : length, 1);
            if (PictureTime(frame) == AV_NOPTS_VALUE) {
                if (FLastPictureTs != INT64_MIN) {
                    frame->best_effort_timestamp = FLastPictureTs + step;
                } else {
                    std::unique_ptr<AVFrame, TFrameDeleter> kept(lav::av_frame_alloc());
                    if (!kept) return false;
                    lav::av_frame_move_ref(kept.get(), frame);
                    FUntimed.push_back(std::move(kept));
                    continue;
                }
            }
            FLastPictureTs = PictureTime(frame);
            if (FUntimed.empty()) return true;
            const int64_t known = FLastPictureTs;
            for (size_t i = 0; i < FUntimed.size(); ++i)
                FUntimed[i]->best_effort_timestamp = known - int64_t(FUntimed.size() - i) * step;
            std::unique_ptr<AVFrame, TFrameDeleter> kept(lav::av_frame_alloc());
            if (!kept) return false;
            lav::av_frame_move_ref(kept.get(), frame);
            FUntimed.push_back(std::move(kept));
            lav::av_frame_move_ref(frame, FUntimed[0].get());
            FUntimedNext = 1;
            return true;
        }
        if (r != AVERROR(EAGAIN) || FDraining) {
            // Nothing is left in the decoder (or it fails): the stream ends
            // here, after the pictures that never got a time stamp.
            FDraining = true;
            if (FUntimedNext < FUntimed.size()) {
                // No picture of this walk has a time stamp: they count from
                // the first key frame's decoding time.
                if (FUntimedNext == 0 && FFirstKeyDts != INT64_MIN) {
                    for (size_t i = 0; i < FUntimed.size(); ++i)
                        FUntimed[i]->best_effort_timestamp =
                            FFirstKeyDts + int64_t(i) * std::max<int64_t>(length, 1);
                    FUntimedGuessed = true;
                }
                lav::av_frame_move_ref(frame, FUntimed[FUntimedNext++].get());
                FGuessed = FUntimedGuessed;
                return true;
            }
            return false;
        }
        r = lav::av_read_frame(FContext, packet);
        if (r < 0) {
            FDraining = true;
            lav::avcodec_send_packet(FDecoder, nullptr);
            continue;
        }
        if (packet->stream_index != index) {
            lav::av_packet_unref(packet);
            continue;
        }
        const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if ((packet->flags & AV_PKT_FLAG_KEY) && ts != AV_NOPTS_VALUE) {
            // Learnt as the walk goes: where the key frames are and how far
            // apart, to choose between seeking and decoding on.
            const TKeyFrame key{ts, packet->dts != AV_NOPTS_VALUE ? std::min(packet->dts, ts) : ts};
            auto at = std::lower_bound(FKeyFrames.begin(), FKeyFrames.end(), key);
            if (at == FKeyFrames.end() || at->Pts != ts) FKeyFrames.insert(at, key);
            if (FLastKey != INT64_MIN && ts > FLastKey) FKeySpacing = std::max(FKeySpacing, ts - FLastKey);
            FLastKey = ts;
            if (FFirstKeyDts == INT64_MIN) FFirstKeyDts = key.Dts;
        }
        // A picture well before the target is never shown: what nothing
        // refers to is left out. (The loop filter stays on: the pictures
        // after a reference decoded without it would differ from the file's.)
        const int64_t span = packet->duration > 0 ? packet->duration : length;
        const bool far = target != AV_NOPTS_VALUE && packet->pts != AV_NOPTS_VALUE && span > 0 &&
                         packet->pts + 2 * span <= target;
        FDecoder->skip_frame = far ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
        lav::avcodec_send_packet(FDecoder, packet);
        lav::av_packet_unref(packet);
    }
}

bool TAVProbe::ShowPicture(int32_t index, AVFrame *frame)
{
    TBitmap &bitmap = *FConverter.Bitmap;
    const AVStream *st = FContext->streams[index];
    const bool converted = PictureToBitmap(FConverter, frame->data, frame->linesize,
                                           AVPixelFormat(frame->format), frame->height, frame->width);
    if (!converted) {
        Fail(AV_LOG_ERROR, "Cannot initialize the toRGB conversion context");
        bitmap.FillBlack();
        return false;
    }
    int64_t ts = PictureTime(frame);
    FShownTs = ts;
    if (ts != AV_NOPTS_VALUE) {
        if (st->start_time != AV_NOPTS_VALUE) ts -= st->start_time;
        FFramePTS = lav::av_rescale_q(ts, st->time_base, MicrosecondBase);
    }
    FLastFramePTS = FFramePTS;
    CopyBitmap(LastFrame(), bitmap);
    FIsImage2 = FormatIsImage2();
    FFrameValid = true;
    return true;
}

void TAVProbe::ShowEnd(int32_t index, int64_t position)
{
    Fail(AV_LOG_DEBUG, "stream eof reached.");
    FConverter.Bitmap->FillBlack();
    RememberRequest(index, position);
    FEndReached = true;
}

void TAVProbe::DecodeNext(int32_t index, int64_t position)
{
    AVFrame *picture = FPicture.get();
    if (FAheadValid) {
        lav::av_frame_move_ref(picture, FAhead.get());
        FAheadValid = false;
    } else if (!NextPicture(index, picture, AV_NOPTS_VALUE)) {
        lav::avcodec_flush_buffers(FDecoder);
        ForgetWalk();
        ShowEnd(index, position);
        return;
    }
    const bool shown = ShowPicture(index, picture);
    lav::av_frame_unref(picture);
    if (!shown) return;
    FWalking = true;
    RememberRequest(index, position);
}

bool TAVProbe::SeekBack(int32_t index, int64_t ts, int64_t position, bool toStart)
{
    lav::avcodec_flush_buffers(FDecoder);
    ForgetWalk();
    int r = -1;
    if (toStart) {
        // Containers that seek by decoding time stamps keep the first key
        // frame before the stream's start time: a little further back, or
        // the first byte.
        const AVStream *st = FContext->streams[index];
        const int64_t margin = lav::av_rescale_q(10000000, MicrosecondBase, st->time_base);
        r = lav::av_seek_frame(FContext, index, ts - margin, AVSEEK_FLAG_BACKWARD);
    }
    if (r < 0) r = lav::av_seek_frame(FContext, index, ts, AVSEEK_FLAG_BACKWARD);
    if (r < 0 && toStart && !(FContext->iformat->flags & AVFMT_NO_BYTE_SEEK))
        r = lav::av_seek_frame(FContext, -1, 0, AVSEEK_FLAG_BYTE);
    if (r < 0) r = lav::av_seek_frame(FContext, index, ts, 0);
    if (r < 0) {
        Fail(AV_LOG_ERROR, Format("could not seek to position %0.3f", double(position) / 1000000));
        return false;
    }
    FWalking = true;
    FWaitKey = true;
    return true;
}

TAVProbe::TWalk TAVProbe::Walk(int32_t index, int64_t target, bool fromSeek, bool fromStart)
{
    // Walking to the end, every picture may be the last one.
    const int64_t skipBefore = target == INT64_MAX ? AV_NOPTS_VALUE : target;
    AVFrame *picture = FPicture.get();
    AVFrame *candidate = FCandidate.get();
    // The best picture so far: none, the one on show already, or `candidate`.
    enum { bsNone, bsShown, bsCandidate } best = bsNone;
    bool guessed = false; // the candidate's time stamp is only a lower bound
    if (!fromSeek && FShownTs != AV_NOPTS_VALUE && FShownTs != INT64_MIN && FShownTs <= target)
        best = bsShown;
    lav::av_frame_unref(candidate);

    auto answer = [&]() -> TWalk {
        if (best == bsCandidate) {
            const bool shown = ShowPicture(index, candidate);
            lav::av_frame_unref(candidate);
            return shown ? wkFound : wkFailed;
        }
        CopyBitmap(*FConverter.Bitmap, LastFrame());
        FFramePTS = FLastFramePTS;
        FFrameValid = true;
        return wkFound;
    };

    bool first = fromSeek;
    for (;;) {
        if (FAheadValid) {
            lav::av_frame_move_ref(picture, FAhead.get());
            FAheadValid = false;
        } else if (!NextPicture(index, picture, skipBefore)) {
            // The end of the stream: the last picture stays on show.
            lav::avcodec_flush_buffers(FDecoder);
            FWalking = false;
            FDraining = false;
            // A seek past the last key frame finds no picture at all; one
            // whose pictures have no time stamps cannot tell which is on
            // show. Both go further back.
            if (fromSeek && !fromStart && (best == bsNone || (best == bsCandidate && guessed)))
                return wkTooLate;
            if (best != bsNone) return answer();
            return wkEnd;
        }
        const int64_t ts = PictureTime(picture);
        if (first) {
            first = false;
            // A seek that landed after the position: the key frame before it
            // is further back (a container without an index).
            const int64_t when = ts != AV_NOPTS_VALUE ? ts : FFirstKeyDts;
            if (when != AV_NOPTS_VALUE && when != INT64_MIN && when > target && !fromStart) {
                lav::av_frame_unref(picture);
                return wkTooLate;
            }
        }
        if (ts != AV_NOPTS_VALUE && ts > target) {
            if (best == bsNone) {
                // The position comes before the stream's first picture.
                lav::av_frame_move_ref(candidate, picture);
                best = bsCandidate;
            } else {
                lav::av_frame_move_ref(FAhead.get(), picture);
                FAheadValid = true;
            }
            return answer();
        }
        lav::av_frame_unref(candidate);
        lav::av_frame_move_ref(candidate, picture);
        best = bsCandidate;
        guessed = FGuessed;
    }
}

void TAVProbe::DecodeAt(int32_t index, int64_t position)
{
    const AVStream *st = FContext->streams[index];
    FPrecise = true;
    // Past the file's duration there is nothing on show.
    if (FContext->duration != AV_NOPTS_VALUE && FContext->duration > 0 && position > FContext->duration) {
        ShowEnd(index, position);
        return;
    }
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    // At the duration (the slider's end) the last picture is on show,
    // whatever its time stamp; the walk goes to the end of the stream.
    const bool atEnd =
        FContext->duration != AV_NOPTS_VALUE && FContext->duration > 0 && position >= FContext->duration;
    // Rounded down: a picture a fraction of a tick after the position is not
    // on show yet.
    const int64_t at = lav::av_rescale_q_rnd(position, MicrosecondBase, st->time_base, AV_ROUND_DOWN) + start;
    const int64_t target = atEnd ? INT64_MAX : at;

    // Decode on from where the last walk stands when no key frame is known
    // between there and the target and the target is no further than the
    // widest key-frame distance seen (at least a second): seeking back would
    // land no later.
    const int64_t second = lav::av_rescale_q(1000000, MicrosecondBase, st->time_base);
    bool goOn = false;
    if (FWalking && FShownTs != INT64_MIN && FShownTs != AV_NOPTS_VALUE && target >= FShownTs) {
        const int64_t from = FAheadValid ? PictureTime(FAhead.get()) : FShownTs;
        auto key = std::upper_bound(FKeyFrames.begin(), FKeyFrames.end(), TKeyFrame{from, from});
        const bool keyBetween = key != FKeyFrames.end() && key->Pts <= target;
        goOn = from == AV_NOPTS_VALUE || target < from ||
               (!keyBetween && target - from <= std::max(FKeySpacing, second));
    }

    TWalk walk = wkFailed;
    if (goOn) {
        walk = Walk(index, target, false, false);
    } else {
        // Seek to the position; when that lands after it, further back: to
        // a key frame known before it, or a step back that doubles each time.
        int64_t seekTs = at;
        int64_t step = std::max(FKeySpacing, second);
        for (;;) {
            const bool fromStart = seekTs <= start;
            if (!SeekBack(index, fromStart ? start : seekTs, position, fromStart)) {
                lav::av_log(nullptr, AV_LOG_ERROR, "%s\n", FLastError.c_str());
                FConverter.Bitmap->FillBlack();
                return;
            }
            walk = Walk(index, target, true, fromStart);
            if (walk != wkTooLate) break;
            auto key = std::upper_bound(FKeyFrames.begin(), FKeyFrames.end(), TKeyFrame{at, at});
            const int64_t known = key == FKeyFrames.begin() ? INT64_MIN : std::prev(key)->Dts;
            seekTs = known != INT64_MIN && known < seekTs ? known : seekTs - step;
            step *= 2;
        }
    }
    switch (walk) {
    case wkFound: RememberRequest(index, position); break;
    case wkEnd:
        ForgetWalk();
        ShowEnd(index, position);
        break;
    default: break;
    }
}
