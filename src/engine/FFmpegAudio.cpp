// The audio path: one decoded block of an input stream into one transcoded
// audio output stream. It keeps the output in step with the input clock
// (samples discarded, silence inserted, or the resampler asked to stretch
// time), resamples and converts through the stream's SwrContext, cuts the
// result into encoder frames through the stream's FIFO and encodes them.
//
// Sizes are samples per channel. The figures that were counted in bytes of
// 16-bit audio (the 131,072-byte cap on a block with inserted silence) are
// kept as the same amount of audio: bytes / (2 x channels) samples.
#include <algorithm>
#include <cmath>

#include "Assert.h"
#include "FFmpeg.h"
#include "FFmpegLoader.h"

namespace {
constexpr int MaxPlanes = 64;      // the resampler's channel limit
constexpr int SilenceCap = 131072; // bytes of 16-bit audio in one block with silence

// Gives `frame` room for `samples` samples of the format, layout and rate,
// without keeping its content. A frame the encoder still holds a reference
// to gets a new buffer rather than a copy of the old one.
bool Reserve(AVFrame *frame, AVSampleFormat format, const AVChannelLayout &layout, int rate, int samples)
{
    const bool fits = frame->buf[0] && frame->format == format && frame->sample_rate == rate &&
                      lav::av_channel_layout_compare(&frame->ch_layout, &layout) == 0 &&
                      frame->nb_samples >= samples && lav::av_frame_is_writable(frame);
    if (fits) return true;
    lav::av_frame_unref(frame);
    frame->format = format;
    frame->sample_rate = rate;
    frame->nb_samples = std::max(samples, 1);
    if (lav::av_channel_layout_copy(&frame->ch_layout, &layout) < 0) return false;
    return lav::av_frame_get_buffer(frame, 0) >= 0;
}

// The layout to give the resampler: an unspecified order becomes the
// default layout of that many channels.
AVChannelLayout UsableLayout(const AVChannelLayout &layout)
{
    AVChannelLayout out{};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || layout.nb_channels <= 0)
        lav::av_channel_layout_default(&out, std::max(layout.nb_channels, 1));
    else
        lav::av_channel_layout_copy(&out, &layout);
    return out;
}
} // namespace

void TCustomFFmpeg::EmitAudio(TOutputStreamState &ost, TInputStreamState &ist, AVFrame *frame)
{
    AVCodecContext *enc = ost.Encoder;
    const AVSampleFormat inFormat = AVSampleFormat(frame->format);
    const int inChannels = frame->ch_layout.nb_channels;
    const int inRate = frame->sample_rate;
    const int encChannels = enc->ch_layout.nb_channels;
    const int encRate = enc->sample_rate;
    const AVSampleFormat encFormat = enc->sample_fmt;
    int samples = frame->nb_samples;
    if (ost.LimitReached) return;
    if (inChannels <= 0 || inChannels > MaxPlanes || inRate <= 0 || encRate <= 0 || samples <= 0) return;

    // A channel count (or, mid-stream, a rate) of its own needs the resampler.
    if (encChannels != inChannels || encRate != inRate) ost.AudioResample = 1;

    // One context does rate, channel and format conversion.
    const int32_t pair = int32_t(encFormat) + int32_t(AV_SAMPLE_FMT_NB) * int32_t(inFormat);
    if ((ost.AudioResample || inFormat != encFormat) &&
        (!ost.Resampler || pair != ost.ConvertPair || inRate != ost.ResamplerInRate ||
         inChannels != ost.ResamplerInChannels)) {
        lav::swr_free(&ost.Resampler);
        AVChannelLayout outLayout = UsableLayout(enc->ch_layout), inLayout = UsableLayout(frame->ch_layout);
        int made = lav::swr_alloc_set_opts2(&ost.Resampler, &outLayout, encFormat, encRate, &inLayout,
                                            inFormat, inRate, 0, nullptr);
        lav::av_channel_layout_uninit(&outLayout);
        lav::av_channel_layout_uninit(&inLayout);
        if (made >= 0) {
            lav::av_opt_set_int(ost.Resampler, "filter_size", 16, 0);
            lav::av_opt_set_int(ost.Resampler, "phase_shift", 10, 0);
            lav::av_opt_set_int(ost.Resampler, "linear_interp", 0, 0);
            lav::av_opt_set_double(ost.Resampler, "cutoff", 0.8, 0);
            made = lav::swr_init(ost.Resampler);
        }
        if (made < 0) {
            lav::swr_free(&ost.Resampler);
            if (ost.AudioResample)
                throw FFmpegException(
                    FormatText("Can not resample %d channels @ %d Hz to %d channels @ %d Hz", inChannels,
                               inRate, encChannels, encRate));
            const char *from = lav::av_get_sample_fmt_name(inFormat);
            const char *to = lav::av_get_sample_fmt_name(encFormat);
            throw FFmpegException(FormatText("Cannot convert %s sample format to %s sample format",
                                             from ? from : "none", to ? to : "none"));
        }
        ost.ConvertPair = pair;
        ost.ResamplerInRate = inRate;
        ost.ResamplerInChannels = inChannels;
    }

    // The block as plane pointers, so that discarding moves them only.
    const bool planar = lav::av_sample_fmt_is_planar(inFormat);
    const int planes = planar ? inChannels : 1;
    const int sampleBytes = lav::av_get_bytes_per_sample(inFormat) * (planar ? 1 : inChannels);
    const uint8_t *data[MaxPlanes];
    for (int p = 0; p < planes; ++p) data[p] = frame->extended_data[p];
    AVFrame *holder = frame;

    const double syncTime = double(ost.SyncInput->Pts - StartTime) / 1000000.0;
    const int64_t queued = ost.Fifo ? lav::av_audio_fifo_size(ost.Fifo) : 0;
    if (AudioSyncMethod) {
        const double delta = syncTime * encRate - double(ost.SyncOutPos) - double(queued);
        const int64_t idelta = int64_t(delta * inRate / encRate);
        if (std::fabs(delta) > 50) {
            if (ist.IsStart || std::fabs(delta) > encRate * double(AudioDriftThreshold)) {
                if (idelta < 0) {
                    const int drop = int(std::min<int64_t>(-idelta, samples));
                    for (int p = 0; p < planes; ++p) data[p] += ptrdiff_t(drop) * sampleBytes;
                    samples -= drop;
                    if (Verbose > 2 && LogHandler)
                        Log(1, FormatText("discarding %lld audio samples", (long long)(int64_t)-delta));
                    if (samples == 0) return;
                    ist.IsStart = 0;
                } else {
                    // The whole gap is filled before the block, in pieces of
                    // at most the cap, so that the block's own samples come
                    // after all of the silence.
                    const int64_t cap = std::max<int64_t>(SilenceCap / (2 * inChannels), 1);
                    if (!SilenceFrame) SilenceFrame = lav::av_frame_alloc();
                    AVChannelLayout layout = UsableLayout(frame->ch_layout);
                    const bool ready = SilenceFrame && Reserve(SilenceFrame, inFormat, layout, inRate,
                                                               int(std::min<int64_t>(idelta, cap)));
                    lav::av_channel_layout_uninit(&layout);
                    if (!ready) throw FFmpegException("av_malloc failed");
                    lav::av_samples_set_silence(SilenceFrame->extended_data, 0,
                                                int(std::min<int64_t>(idelta, cap)), inChannels, inFormat);
                    if (Verbose > 2 && LogHandler)
                        Log(1, FormatText("adding %lld audio samples of silence", (long long)(int64_t)delta));
                    for (int64_t left = idelta; left > 0 && !ost.LimitReached && !StopRequested;) {
                        const int piece = int(std::min<int64_t>(left, cap));
                        ConvertAndEncode(ost, SilenceFrame, SilenceFrame->extended_data, piece);
                        left -= piece;
                    }
                    ist.IsStart = 0;
                }
            } else if (AudioSyncMethod > 1) {
                const int comp = int(std::clamp(delta, -double(AudioSyncMethod), double(AudioSyncMethod)));
                Assert(ost.Resampler != nullptr, "audio drift compensation without a resampler");
                if (Verbose > 2 && LogHandler)
                    Log(1, FormatText("compensating audio timestamp drift:%f compensation:%d in:%d", delta,
                                      comp, encRate));
                lav::swr_set_compensation(ost.Resampler, comp, encRate);
            }
        }
    } else {
        ost.SyncOutPos = std::llrint(syncTime * encRate) - queued;
    }
    ConvertAndEncode(ost, holder, data, samples);
}

void TCustomFFmpeg::ConvertAndEncode(TOutputStreamState &ost, AVFrame *holder, const uint8_t *const *data,
                                     int samples)
{
    AVCodecContext *enc = ost.Encoder;
    const AVSampleFormat encFormat = enc->sample_fmt;
    const int encRate = enc->sample_rate;
    if (ost.LimitReached || samples <= 0) return;
    if (!ost.Resampler) {
        EncodeAudioBlock(ost, holder, data, samples);
        return;
    }
    if (!ConvertFrame) ConvertFrame = lav::av_frame_alloc();
    const int capacity = lav::swr_get_out_samples(ost.Resampler, samples);
    if (!ConvertFrame || capacity < 0 ||
        !Reserve(ConvertFrame, encFormat, enc->ch_layout, encRate, std::max(capacity, 1)))
        throw FFmpegException("av_malloc failed");
    const int converted = lav::swr_convert(ost.Resampler, ConvertFrame->extended_data, capacity,
                                           const_cast<const uint8_t **>(data), samples);
    if (converted < 0) {
        if (ExitOnError) throw FFmpegException("av_audio_convert() failed");
        Log(0, "av_audio_convert() failed");
        return;
    }
    if (converted == 0) return;
    EncodeAudioBlock(ost, ConvertFrame, ConvertFrame->extended_data, converted);
}

void TCustomFFmpeg::EncodeAudioBlock(TOutputStreamState &ost, AVFrame *holder, const uint8_t *const *data,
                                     int samples)
{
    AVCodecContext *enc = ost.Encoder;
    AVFrame *out = ost.EncodeFrame;
    const AVRational sampleClock{1, enc->sample_rate};
    int lastSize = 0;
    if (RecordingTime != INT64_MAX) {
        // The output's "t" in samples: what goes beyond it is left out.
        const int64_t limit = lav::av_rescale(RecordingTime, enc->sample_rate, 1000000);
        const int64_t taken =
            ost.NextAudioPts + (enc->frame_size > 1 ? lav::av_audio_fifo_size(ost.Fifo) : 0);
        if (taken + samples >= limit) {
            ost.LimitReached = true;
            samples = int(std::max<int64_t>(limit - taken, 0));
            if (samples == 0) return;
        }
    }
    if (enc->frame_size > 1) {
        // Frame-based encoders: whole encoder frames out of the FIFO.
        if (lav::av_audio_fifo_write(ost.Fifo, reinterpret_cast<void **>(const_cast<uint8_t **>(data)),
                                     samples) < samples)
            throw FFmpegException("av_fifo_realloc2() failed");
        while (lav::av_audio_fifo_size(ost.Fifo) >= enc->frame_size) {
            if (!Reserve(out, enc->sample_fmt, enc->ch_layout, enc->sample_rate, enc->frame_size))
                throw FFmpegException("av_malloc failed");
            out->nb_samples = enc->frame_size;
            lav::av_audio_fifo_read(ost.Fifo, reinterpret_cast<void **>(out->extended_data), enc->frame_size);
            out->pts = lav::av_rescale_q(ost.NextAudioPts, sampleClock, enc->time_base);
            ost.NextAudioPts += enc->frame_size;
            EncodeAndMux(ost, out, lastSize);
            ost.SyncOutPos += enc->frame_size;
        }
        return;
    }
    // Sample-based encoders (PCM): the block at once, without a copy.
    ost.SyncOutPos += samples;
    lav::av_frame_unref(out);
    if (lav::av_frame_ref(out, holder) < 0) throw FFmpegException("av_malloc failed");
    const int planes =
        lav::av_sample_fmt_is_planar(AVSampleFormat(out->format)) ? out->ch_layout.nb_channels : 1;
    for (int p = 0; p < planes; ++p) {
        out->extended_data[p] = const_cast<uint8_t *>(data[p]);
        if (p < AV_NUM_DATA_POINTERS) out->data[p] = const_cast<uint8_t *>(data[p]);
    }
    out->nb_samples = samples;
    out->pts = lav::av_rescale_q(ost.NextAudioPts, sampleClock, enc->time_base);
    ost.NextAudioPts += samples;
    EncodeAndMux(ost, out, lastSize);
    lav::av_frame_unref(out);
}

void TCustomFFmpeg::FlushAudio(TOutputStreamState &ost)
{
    AVCodecContext *enc = ost.Encoder;
    if (enc->frame_size <= 1) return;
    int lastSize = 0;
    const int left = ost.Fifo ? lav::av_audio_fifo_size(ost.Fifo) : 0;
    const int shortFrame = AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
    if (left > 0 && enc->codec && (enc->codec->capabilities & shortFrame)) {
        AVFrame *out = ost.EncodeFrame;
        if (!Reserve(out, enc->sample_fmt, enc->ch_layout, enc->sample_rate, enc->frame_size))
            throw FFmpegException("av_malloc failed");
        out->nb_samples = left;
        lav::av_audio_fifo_read(ost.Fifo, reinterpret_cast<void **>(out->extended_data), left);
        out->pts = lav::av_rescale_q(ost.NextAudioPts, AVRational{1, enc->sample_rate}, enc->time_base);
        ost.NextAudioPts += left;
        EncodeAndMux(ost, out, lastSize);
        ost.SyncOutPos += left;
    }
    EncodeAndMux(ost, nullptr, lastSize);
}
