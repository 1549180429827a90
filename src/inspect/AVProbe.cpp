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

bool TAVProbe::OpenDecoder(int32_t index)
{
    CloseDecoder();
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
    int64_t target = -1;
    if (position >= 0) {
        const bool sameRequest = position == FLastPosition && index == FLastIndex;
        if (wasValid && sameRequest) {
            CopyBitmap(bitmap, LastFrame());
            FFrameValid = true;
            return bitmap;
        }
        if (FEndReached && sameRequest) {
            Fail(AV_LOG_DEBUG, "stream eof reached.");
            bitmap.FillBlack();
            return bitmap;
        }
        // After a backward seek, later positions of the same stream are
        // reached by decoding on.
        const bool goOn =
            FPrecise && wasValid && FLastPosition >= 0 && FLastPosition < position && index == FLastIndex;
        if (!goOn && !SeekTo(index, true, position)) {
            lav::av_log(nullptr, AV_LOG_ERROR, "%s\n", FLastError.c_str());
            return bitmap;
        }
        target = lav::av_rescale_q(position, MicrosecondBase, st->time_base);
        if (st->start_time != AV_NOPTS_VALUE) target += st->start_time;
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
    bitmap.SetSize(st->codecpar->width, st->codecpar->height);
    DecodeFrame(index, position, target);
    return bitmap;
}

void TAVProbe::DecodeFrame(int32_t index, int64_t position, int64_t target)
{
    TBitmap &bitmap = *FConverter.Bitmap;
    const AVStream *st = FContext->streams[index];
    if (!FPicture) FPicture.reset(lav::av_frame_alloc());
    if (!FPacket) FPacket.reset(lav::av_packet_alloc());
    AVFrame *picture = FPicture.get();
    AVPacket *packet = FPacket.get();
    if (!picture || !packet) {
        Fail(AV_LOG_ERROR, "Cannot initialize the toRGB conversion context");
        bitmap.FillBlack();
        return;
    }

    // Pictures come out of the decoder after the packets that carry them;
    // at the end of the file the decoder gives up the ones it still holds.
    bool draining = false;
    for (;;) {
        int r = lav::avcodec_receive_frame(FDecoder, picture);
        if (r == 0) {
            int64_t ts = picture->best_effort_timestamp;
            if (ts == AV_NOPTS_VALUE) ts = picture->pts;
            if (FPrecise && ts != AV_NOPTS_VALUE && ts < target) {
                lav::av_frame_unref(picture);
                continue;
            }
            const bool converted =
                PictureToBitmap(FConverter, picture->data, picture->linesize, AVPixelFormat(picture->format),
                                picture->height, picture->width);
            lav::av_frame_unref(picture);
            if (!converted) {
                Fail(AV_LOG_ERROR, "Cannot initialize the toRGB conversion context");
                bitmap.FillBlack();
                return;
            }
            if (ts != AV_NOPTS_VALUE) {
                if (st->start_time != AV_NOPTS_VALUE) ts -= st->start_time;
                FFramePTS = lav::av_rescale_q(ts, st->time_base, MicrosecondBase);
            }
            CopyBitmap(LastFrame(), bitmap);
            FIsImage2 = FormatIsImage2();
            FFrameValid = true;
            RememberRequest(index, position);
            if (draining) lav::avcodec_flush_buffers(FDecoder);
            return;
        }
        if (draining) {
            // Nothing is left in the decoder (or it fails): the stream ends here.
            lav::avcodec_flush_buffers(FDecoder);
            Fail(AV_LOG_DEBUG, "stream eof reached.");
            bitmap.FillBlack();
            RememberRequest(index, position);
            FEndReached = true;
            return;
        }
        // The decoder wants more input (or rejected the last packet).
        r = lav::av_read_frame(FContext, packet);
        if (r < 0) {
            draining = true;
            lav::avcodec_send_packet(FDecoder, nullptr);
            continue;
        }
        if (packet->stream_index == index) lav::avcodec_send_packet(FDecoder, packet);
        lav::av_packet_unref(packet);
    }
}
