// The single writing point of the engine (MuxPacket: the stream's bitstream
// filters, then the muxer's interleaving writer) and the subtitle path.
#include <algorithm>

#include "FFmpeg.h"
#include "FFmpegLoader.h"

namespace {
constexpr int SubtitleBufferSize = 65536;

const char *CodecName(const TOutputStreamState &ost)
{
    return ost.EncodingNeeded && ost.Encoder && ost.Encoder->codec ? ost.Encoder->codec->name : "copy";
}
} // namespace

void TCustomFFmpeg::MuxPacket(TOutputStreamState &ost, AVPacket *packet)
{
    if (packet && packet->size < 0) {
        lav::av_packet_unref(packet);
        return;
    }
    // An empty packet would tell a filter that the stream ended.
    if (ost.Filters.empty() || (packet && !packet->data && !packet->side_data_elems)) {
        WritePacket(ost, packet);
        return;
    }
    // Each filter's output goes through the filters after it; a filter that
    // fails passes the packet on as it got it.
    auto run = [&](auto &&self, size_t index, AVPacket *in) -> void {
        if (index == ost.Filters.size()) {
            if (in) WritePacket(ost, in);
            return;
        }
        AVBSFContext *filter = ost.Filters[index];
        auto failed = [&](int result) {
            if (!LogHandler && !ExitOnError) return;
            const std::string message =
                OpenErrorText(FormatText("%s failed for stream %d, codec %s", filter->filter->name,
                                         ost.StreamIndex, CodecName(ost)),
                              result);
            if (ExitOnError) throw FFmpegException(message);
            Log(0, message);
        };
        const int sent = lav::av_bsf_send_packet(filter, in);
        if (sent < 0) {
            failed(sent);
            self(self, index + 1, in);
            return;
        }
        AVPacket *out = ost.FilterOutputs[index];
        for (;;) {
            const int got = lav::av_bsf_receive_packet(filter, out);
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) break;
            if (got < 0) {
                failed(got);
                break;
            }
            self(self, index + 1, out);
            lav::av_packet_unref(out);
        }
        // End of stream goes on down the chain once this filter is empty.
        if (!in) self(self, index + 1, nullptr);
    };
    run(run, 0, packet);
    if (packet) lav::av_packet_unref(packet);
}

void TCustomFFmpeg::FlushBitstreamFilters(TOutputStreamState &ost)
{
    if (!ost.Filters.empty()) MuxPacket(ost, nullptr);
}

void TCustomFFmpeg::WritePacket(TOutputStreamState &ost, AVPacket *packet)
{
    if (!packet) return;
    // A pause holds every packet, also those the encoders give up after the
    // main loop.
    WaitWhilePaused();
    if (packet->size < 0) {
        lav::av_packet_unref(packet);
        return;
    }
    AVFormatContext *file = OutputFiles[ost.FileIndex];
    packet->stream_index = ost.StreamIndex;
    // Muxers take time stamps that only go forward; a damaged input must not
    // end the run here.
    if (!(file->oformat->flags & AVFMT_NOTIMESTAMPS) && packet->dts != AV_NOPTS_VALUE &&
        ost.LastDts != AV_NOPTS_VALUE) {
        const int64_t least = ost.LastDts + ((file->oformat->flags & AVFMT_TS_NONSTRICT) ? 0 : 1);
        if (packet->dts < least) {
            packet->dts = least;
            if (packet->pts != AV_NOPTS_VALUE && packet->pts < packet->dts) packet->pts = packet->dts;
        }
    }
    if (packet->dts != AV_NOPTS_VALUE) ost.LastDts = packet->dts;
    const int64_t at = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    if (at != AV_NOPTS_VALUE) {
        const int64_t end = at + std::max<int64_t>(packet->duration, 0);
        if (ost.CurrentPts == AV_NOPTS_VALUE || end > ost.CurrentPts) ost.CurrentPts = end;
    }
    const int result = lav::av_interleaved_write_frame(file, packet);
    if (result < 0) throw FFmpegException(OpenErrorText("av_interleaved_write_frame()", result));
}

void TCustomFFmpeg::EmitSubtitle(TOutputStreamState &ost, TInputStreamState &ist, AVSubtitle &subtitle,
                                 int64_t pts)
{
    if (ost.LimitReached) return;
    if (pts == AV_NOPTS_VALUE) {
        if (ExitOnError) throw FFmpegException("Subtitle packets must have a pts");
        Log(0, "Subtitle packets must have a pts");
        return;
    }
    // Output time: the output's "ss" is its 0, and a cue that starts at or
    // after its "t" ends the stream.
    const int64_t shown = lav::av_rescale_q(pts, ist.Stream->time_base, AV_TIME_BASE_Q) - StartTime +
                          int64_t(subtitle.start_display_time) * 1000;
    if (RecordingTime != INT64_MAX) {
        if (shown >= RecordingTime) {
            ost.LimitReached = true;
            return;
        }
        // A cue still shown at the limit ends there.
        const int64_t last = (RecordingTime - shown) / 1000 + subtitle.start_display_time;
        if (int64_t(subtitle.end_display_time) > last) subtitle.end_display_time = uint32_t(last);
    }
    if (!SubtitleBuffer) {
        SubtitleBuffer = static_cast<uint8_t *>(lav::av_malloc(SubtitleBufferSize));
        if (!SubtitleBuffer) throw FFmpegException("av_malloc fail");
    }
    AVCodecContext *enc = ost.Encoder;
    const AVRational out = ost.Stream->time_base, milliseconds{1, 1000};
    // A DVB subtitle needs one packet that shows it and one that clears it.
    const bool dvb = enc->codec_id == AV_CODEC_ID_DVB_SUBTITLE;
    const int count = dvb ? 2 : 1;
    const unsigned rects = subtitle.num_rects;
    for (int i = 0; i < count; ++i) {
        if (i == 1) subtitle.num_rects = 0;
        const int size = lav::avcodec_encode_subtitle(enc, SubtitleBuffer, SubtitleBufferSize, &subtitle);
        subtitle.num_rects = rects;
        if (size < 0) {
            if (ExitOnError) throw FFmpegException("Subtitle encoding failed");
            Log(0, "Subtitle encoding failed");
            return;
        }
        AVPacket *packet = EncodedPacket;
        lav::av_packet_unref(packet);
        packet->stream_index = ost.StreamIndex;
        packet->data = SubtitleBuffer;
        packet->size = size;
        packet->pts = lav::av_rescale_q(pts, ist.Stream->time_base, out) -
                      lav::av_rescale_q(StartTime, AV_TIME_BASE_Q, out);
        const uint32_t display = i == 0 ? subtitle.start_display_time : subtitle.end_display_time;
        packet->pts += lav::av_rescale_q(int64_t(display), milliseconds, out);
        if (!dvb && subtitle.end_display_time > subtitle.start_display_time)
            packet->duration = lav::av_rescale_q(
                int64_t(subtitle.end_display_time - subtitle.start_display_time), milliseconds, out);
        packet->dts = packet->pts;
        packet->flags |= AV_PKT_FLAG_KEY;
        MuxPacket(ost, packet);
        lav::av_packet_unref(packet);
    }
}
