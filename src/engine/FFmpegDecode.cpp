// Decoding and dispatch: one packet of one input stream is decoded when the
// stream is transcoded, its time stamps kept (Pts, NextPts), and what comes
// out handed to every output stream it feeds; stream-copied outputs get the
// packet itself, re-timed. Without a packet the decoder is drained and then
// the encoders of the outputs it feeds.
#include <algorithm>
#include <cmath>
#include <limits>

#include "FFmpeg.h"
#include "FFmpegLoader.h"

namespace {
// Duration of one picture at the stream's frame rate, plus the extra fields
// a decoder asks to repeat (microseconds); 0 when the rate is unknown.
int64_t PictureDuration(const AVStream *stream, int repeatPict)
{
    const AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) return 0;
    return int64_t(1000000) * rate.den * (2 + std::max(repeatPict, 0)) / (int64_t(2) * rate.num);
}

template <typename T> void ScaleIntegers(T *samples, size_t count, int volume)
{
    using Wide = int64_t;
    constexpr Wide low = std::numeric_limits<T>::min(), high = std::numeric_limits<T>::max();
    for (size_t i = 0; i < count; ++i) {
        const Wide v = (Wide(samples[i]) * volume + 128) >> 8;
        samples[i] = T(std::clamp(v, low, high));
    }
}
} // namespace

void TCustomFFmpeg::ApplyVolume(AVFrame *frame)
{
    if (lav::av_frame_make_writable(frame) < 0) return;
    const AVSampleFormat format = AVSampleFormat(frame->format);
    const bool planar = lav::av_sample_fmt_is_planar(format);
    const int channels = frame->ch_layout.nb_channels;
    const int planes = planar ? channels : 1;
    const size_t count = size_t(frame->nb_samples) * size_t(planar ? 1 : channels);
    const int volume = AudioVolume;
    for (int p = 0; p < planes; ++p) {
        uint8_t *data = frame->extended_data[p];
        switch (lav::av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            for (size_t i = 0; i < count; ++i) {
                const int v = (((int(data[i]) - 128) * volume + 128) >> 8) + 128;
                data[i] = uint8_t(std::clamp(v, 0, 255));
            }
            break;
        case AV_SAMPLE_FMT_S16: ScaleIntegers(reinterpret_cast<int16_t *>(data), count, volume); break;
        case AV_SAMPLE_FMT_S32: ScaleIntegers(reinterpret_cast<int32_t *>(data), count, volume); break;
        case AV_SAMPLE_FMT_S64: {
            // 64-bit samples have no wider type: scale in floating point.
            auto *s = reinterpret_cast<int64_t *>(data);
            for (size_t i = 0; i < count; ++i) {
                const long double v = (long double)s[i] * volume / 256;
                s[i] = v >= 9.2233720368547758e18L    ? std::numeric_limits<int64_t>::max()
                       : v <= -9.2233720368547758e18L ? std::numeric_limits<int64_t>::min()
                                                      : int64_t(v);
            }
            break;
        }
        case AV_SAMPLE_FMT_FLT: {
            auto *s = reinterpret_cast<float *>(data);
            const float factor = float(volume) / 256.0f;
            for (size_t i = 0; i < count; ++i) s[i] *= factor;
            break;
        }
        case AV_SAMPLE_FMT_DBL: {
            auto *s = reinterpret_cast<double *>(data);
            const double factor = double(volume) / 256.0;
            for (size_t i = 0; i < count; ++i) s[i] *= factor;
            break;
        }
        default: break;
        }
    }
}

void TCustomFFmpeg::EmulateRate(TInputStreamState &ist)
{
    if (!RateEmulation) return;
    const int64_t target = lav::av_rescale(ist.Pts, 1000000, 1000000);
    const int64_t elapsed = lav::av_gettime() - ist.Start;
    // A time stamp jump beyond the threshold is not waited for.
    if (target - elapsed > 1000 &&
        target - elapsed <= SaturatedCast<int64_t>(double(DtsDeltaThreshold) * 1000000.0))
        lav::av_usleep(unsigned((target - elapsed) / 1000 * 1000));
}

int TCustomFFmpeg::DecodeAndDispatch(TInputStreamState &ist, int32_t index, AVPacket *packet)
{
    if (ist.NextPts == AV_NOPTS_VALUE) ist.NextPts = ist.Pts;
    if (packet && packet->dts != AV_NOPTS_VALUE)
        ist.Pts = ist.NextPts = lav::av_rescale_q(packet->dts, ist.Stream->time_base, AV_TIME_BASE_Q);
    const int64_t packetTime = ist.Pts;
    const AVMediaType type = ist.Stream->codecpar->codec_type;
    AVCodecContext *dec = ist.Decoder;
    int result = 0;

    if (ist.DecodingNeeded && dec) {
        switch (type) {
        case AVMEDIA_TYPE_AUDIO:
        case AVMEDIA_TYPE_VIDEO: {
            int sent = lav::avcodec_send_packet(dec, packet);
            if (sent < 0 && sent != AVERROR_EOF && sent != AVERROR(EAGAIN)) {
                if (packet) return -1;
                break;
            }
            AVFrame *frame = DecodedFrame;
            for (int frames = 0;; ++frames) {
                const int got = lav::avcodec_receive_frame(dec, frame);
                if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) break;
                if (got < 0) {
                    result = -1;
                    break;
                }
                if (frames > 0 && packet && Verbose > 0 && LogHandler)
                    Log(0, FormatText("Multiple frames in a packet from stream %d", packet->stream_index));
                ist.Pts = ist.NextPts;
                if (type == AVMEDIA_TYPE_AUDIO) {
                    if (frame->sample_rate > 0)
                        ist.NextPts += int64_t(1000000) * frame->nb_samples / frame->sample_rate;
                    if (CutSamples(ist, frame)) DispatchSamples(ist, index, frame);
                } else {
                    const int64_t duration = PictureDuration(ist.Stream, frame->repeat_pict);
                    ist.NextPts += duration;
                    // A picture is timed by its own time stamp: decoder threads
                    // deliver pictures some packets late, so the packet clock
                    // would be ahead of it.
                    const int64_t own = frame->best_effort_timestamp;
                    if (own != AV_NOPTS_VALUE)
                        ist.Pts = lav::av_rescale_q(own, ist.Stream->time_base, AV_TIME_BASE_Q);
                    else if (ist.NextPictureTime != AV_NOPTS_VALUE)
                        ist.Pts = ist.NextPictureTime;
                    ist.NextPictureTime = ist.Pts + duration;
                    ist.Quality = float(frame->quality);
                    // Pictures that end before the cut are only decoded.
                    const bool before =
                        ist.CutTime != AV_NOPTS_VALUE &&
                        (duration > 0 ? ist.Pts + duration <= ist.CutTime : ist.Pts < ist.CutTime);
                    if (!before) DispatchPicture(ist, index, frame);
                }
                lav::av_frame_unref(frame);
            }
            if (!packet && type == AVMEDIA_TYPE_VIDEO && UsingVideoFilters && ist.InFilter)
                DispatchPicture(ist, index, nullptr);
            break;
        }
        case AVMEDIA_TYPE_SUBTITLE: {
            if (!packet && !(dec->codec && (dec->codec->capabilities & AV_CODEC_CAP_DELAY))) break;
            AVPacket *input = packet;
            if (!input) {
                // An empty packet drains a subtitle decoder with delay.
                lav::av_packet_unref(CopiedPacket);
                input = CopiedPacket;
            }
            AVSubtitle subtitle{};
            int got = 0;
            ist.Pts = ist.NextPts;
            if (lav::avcodec_decode_subtitle2(dec, &subtitle, &got, input) < 0) {
                if (packet) return -1;
                break;
            }
            if (got) {
                EmulateRate(ist);
                if (packet && (ist.CutTime == AV_NOPTS_VALUE || ist.Pts >= ist.CutTime)) {
                    for (const auto &ost : OutputStreamStates)
                        if (ost->SourceIndex == index && ost->EncodingNeeded)
                            EmitSubtitle(*ost, ist, subtitle, packet->pts);
                }
                lav::avsubtitle_free(&subtitle);
            }
            break;
        }
        default: return -1;
        }
    } else if (ist.DecodingNeeded) {
        return -1;
    }

    if (packet) {
        if (!ist.DecodingNeeded) {
            ist.Pts = ist.NextPts;
            const AVCodecParameters *par = ist.Stream->codecpar;
            if (type == AVMEDIA_TYPE_AUDIO && par->sample_rate > 0)
                ist.NextPts += int64_t(1000000) * par->frame_size / par->sample_rate;
            else if (type == AVMEDIA_TYPE_VIDEO)
                ist.NextPts += PictureDuration(ist.Stream, 0);
            EmulateRate(ist);
        }
        if (StartTime == 0 || packetTime >= StartTime) {
            for (const auto &ost : OutputStreamStates)
                if (ost->SourceIndex == index && !ost->EncodingNeeded)
                    CopyPacket(*ost, ist, *packet, packetTime);
        }
    } else {
        DrainEncoders(index);
    }
    return result;
}

bool TCustomFFmpeg::CutSamples(TInputStreamState &ist, AVFrame *frame)
{
    if (ist.CutTime == AV_NOPTS_VALUE || ist.Pts >= ist.CutTime) return true;
    const int rate = frame->sample_rate, channels = frame->ch_layout.nb_channels;
    if (rate <= 0 || channels <= 0) return false;
    const int64_t skip = lav::av_rescale(ist.CutTime - ist.Pts, rate, 1000000);
    if (skip >= frame->nb_samples) return false;
    // The block starts later: its plane pointers move past the dropped samples.
    const AVSampleFormat format = AVSampleFormat(frame->format);
    const bool planar = lav::av_sample_fmt_is_planar(format);
    const ptrdiff_t step = ptrdiff_t(skip) * lav::av_get_bytes_per_sample(format) * (planar ? 1 : channels);
    for (int p = 0; p < (planar ? channels : 1); ++p) {
        frame->extended_data[p] += step;
        if (p < AV_NUM_DATA_POINTERS && frame->extended_data != frame->data) frame->data[p] += step;
    }
    frame->nb_samples -= int(skip);
    ist.Pts += skip * 1000000 / rate;
    return true;
}

void TCustomFFmpeg::DispatchSamples(TInputStreamState &ist, int32_t index, AVFrame *frame)
{
    if (AudioVolume != 256) ApplyVolume(frame);
    EmulateRate(ist);
    for (const auto &ost : OutputStreamStates)
        if (ost->SourceIndex == index && ost->EncodingNeeded &&
            ost->Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            EmitAudio(*ost, ist, frame);
}

void TCustomFFmpeg::DispatchPicture(TInputStreamState &ist, int32_t index, AVFrame *frame)
{
    const bool filtered = UsingVideoFilters && ist.InFilter && ist.OutFilter;
    TPicture picture;
    if (frame) {
        for (int k = 0; k < 4; ++k) {
            picture.data[k] = frame->data[k];
            picture.linesize[k] = frame->linesize[k];
        }
        PreProcessPicture(ist, picture);
        if (filtered) FeedVideoFilters(ist, frame, picture);
        EmulateRate(ist);
    } else if (filtered) {
        FeedVideoFilters(ist, nullptr, picture); // end of stream: the chain gives what it still holds
    } else {
        return;
    }

    if (!filtered) {
        // A picture the hooks processed lives in their buffer, not in the frame.
        AVFrame *holder = picture.data[0] == frame->data[0] ? frame : nullptr;
        for (const auto &ost : OutputStreamStates) {
            if (ost->SourceIndex != index || !ost->EncodingNeeded) continue;
            int frameSize = 0;
            EmitVideo(*ost, ist, picture, holder, frame, frameSize);
            if (!VstatsFileName.empty() && frameSize) WriteVideoStats(*ost, frameSize);
        }
        return;
    }

    TPicture out;
    while (PullFilteredPicture(ist, out) >= 0) {
        for (const auto &ost : OutputStreamStates) {
            if (ost->SourceIndex != index || !ost->EncodingNeeded) continue;
            if (ist.PictureRef->sample_aspect_ratio.num)
                ost->Encoder->sample_aspect_ratio = ist.PictureRef->sample_aspect_ratio;
            int frameSize = 0;
            EmitVideo(*ost, ist, out, ist.PictureRef, ist.PictureRef, frameSize);
            if (!VstatsFileName.empty() && frameSize) WriteVideoStats(*ost, frameSize);
        }
        lav::av_frame_unref(ist.PictureRef);
    }
}

void TCustomFFmpeg::CopyPacket(TOutputStreamState &ost, TInputStreamState &ist, const AVPacket &packet,
                               int64_t pts)
{
    if (ost.LimitReached) return;
    if (ost.FrameNumber == 0 && !(packet.flags & AV_PKT_FLAG_KEY) && !CopyInitialNonKeyframes) return;
    // The output's "t" ends every stream, copied ones too.
    if (RecordingTime != INT64_MAX && pts - StartTime >= RecordingTime) {
        ost.LimitReached = true;
        return;
    }
    const AVMediaType type = ost.Stream->codecpar->codec_type;
    if (type == AVMEDIA_TYPE_AUDIO) {
        AudioBytes += packet.size;
    } else if (type == AVMEDIA_TYPE_VIDEO) {
        VideoBytes += packet.size;
        ++ost.SyncOutPos;
    }
    AVPacket *copy = CopiedPacket;
    if (lav::av_packet_ref(copy, &packet) < 0) throw FFmpegException("av_malloc fail");
    const AVRational in = ist.Stream->time_base, out = ost.Stream->time_base;
    // The output's "ss" is the output's 0, for copied streams as for encoded ones.
    const int64_t start = lav::av_rescale_q(StartTime, AV_TIME_BASE_Q, out);
    copy->stream_index = ost.StreamIndex;
    copy->pts =
        packet.pts != AV_NOPTS_VALUE ? lav::av_rescale_q(packet.pts, in, out) - start : AV_NOPTS_VALUE;
    copy->dts = packet.dts != AV_NOPTS_VALUE ? lav::av_rescale_q(packet.dts, in, out) - start
                                             : lav::av_rescale_q(pts, AV_TIME_BASE_Q, out) - start;
    copy->duration = lav::av_rescale_q(packet.duration, in, out);
    copy->time_base = out;
    MuxPacket(ost, copy);
    lav::av_packet_unref(copy);
    ++ost.FrameNumber;
}

int TCustomFFmpeg::EncodeAndMux(TOutputStreamState &ost, AVFrame *frame, int &lastSize)
{
    AVCodecContext *enc = ost.Encoder;
    const bool video = enc->codec_type == AVMEDIA_TYPE_VIDEO;
    const char *failure = video ? "Video encoding failed" : "Audio encoding failed";
    const int sent = lav::avcodec_send_frame(enc, frame);
    if (sent < 0 && sent != AVERROR_EOF) throw FFmpegException(failure);
    AVPacket *packet = EncodedPacket;
    int count = 0;
    for (;;) {
        const int got = lav::avcodec_receive_packet(enc, packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) break;
        if (got < 0) throw FFmpegException(failure);
        ++count;
        lastSize = packet->size;
        NoteCodedPacket(ost, packet);
        if (video)
            VideoBytes += packet->size;
        else
            AudioBytes += packet->size;
        if (ost.LogFile && enc->stats_out) lav::my_fprintf(ost.LogFile, "%s", enc->stats_out);
        if (!video) packet->flags |= AV_PKT_FLAG_KEY;
        packet->stream_index = ost.StreamIndex;
        lav::av_packet_rescale_ts(packet, enc->time_base, ost.Stream->time_base);
        packet->time_base = ost.Stream->time_base;
        MuxPacket(ost, packet);
        lav::av_packet_unref(packet);
    }
    return count;
}

void TCustomFFmpeg::DrainEncoders(int32_t index)
{
    for (const auto &owned : OutputStreamStates) {
        TOutputStreamState &ost = *owned;
        if (ost.SourceIndex != index || !ost.EncodingNeeded || !ost.Encoder) continue;
        int lastSize = 0;
        switch (ost.Encoder->codec_type) {
        case AVMEDIA_TYPE_AUDIO: FlushAudio(ost); break;
        case AVMEDIA_TYPE_VIDEO: EncodeAndMux(ost, nullptr, lastSize); break;
        default: break;
        }
    }
}
