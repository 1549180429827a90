// The main loop of a transcode: the output headers, the choice of the next
// input by output (or input) position, the limits, reading one packet and
// correcting its time stamps, dispatching it, the periodic report, and the
// end of the run (flush, trailers, final report, closing the codecs).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "FFmpeg.h"
#include "FFmpegLoader.h"

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }
} // namespace

void TCustomFFmpeg::WriteHeaders(AVFormatContext **outputFiles, int32_t numOutputFiles)
{
    bool sdp = true;
    for (int32_t f = 0; f < numOutputFiles; ++f) {
        AVFormatContext *file = outputFiles[f];
        // The private options this muxer took when the file was created.
        AVDictionary *options = nullptr;
        if (OutputMuxerOptions[f]) lav::av_dict_copy(&options, OutputMuxerOptions[f], 0);
        const int result = lav::avformat_write_header(file, &options);
        lav::av_dict_free(&options);
        if (result < 0)
            throw FFmpegException(
                FormatText("Could not write header for output file #%d (incorrect codec parameters ?)", f));
        if (std::strcmp(file->oformat->name, "rtp") != 0) sdp = false;
    }
    if (sdp && LogHandler) {
        char text[2048] = {};
        lav::av_sdp_create(outputFiles, numOutputFiles, text, sizeof text);
        std::string s = text;
        while (!s.empty() && IsBlank(s.back())) s.pop_back();
        size_t start = 0;
        while (start < s.size() && IsBlank(s[start])) ++start;
        Log(1, "SDP: " + s.substr(start));
    }
    TimerStart = lav::av_gettime();
}

void TCustomFFmpeg::RunMainLoop(AVFormatContext **inputFiles)
{
    int64_t lastReport = TimerStart;
    AVPacket *packet = ReadPacket;
    while (!StopRequested) {
        WaitWhilePaused();
        if (StopRequested) break;

        double minInputTime = 1e100, minOutputTime = 1e100;
        int32_t chosen = -1;
        // Streams other than subtitles that still take data: when the
        // output's "t" has ended all of them, the run is over.
        int timed = 0, ended = 0;
        for (const auto &owned : OutputStreamStates) {
            const TOutputStreamState &ost = *owned;
            const TInputStreamState &ist = *InputStreamStates[size_t(ost.SourceIndex)];
            const AVMediaType type = ost.Stream->codecpar->codec_type;
            const int typeIndex = type >= 0 && type < 4 ? int(type) : 2;
            if (MaxFrames[typeIndex] <= ost.FrameNumber) {
                chosen = -1;
                break;
            }
            if (type != AVMEDIA_TYPE_SUBTITLE) {
                ++timed;
                if (ost.LimitReached) ++ended;
            }
            if (ost.LimitReached) continue;
            double outputTime;
            if (type == AVMEDIA_TYPE_VIDEO && ost.EncodingNeeded && ost.Encoder) {
                outputTime = double(ost.SyncOutPos) * vm::av_q2d(ost.Encoder->time_base);
            } else {
                // Copied pictures count in the stream's time base (1/1000
                // in Matroska), not as frames of an encoder.
                const int64_t now = ost.CurrentPts == AV_NOPTS_VALUE ? 0 : ost.CurrentPts;
                outputTime = double(now) * vm::av_q2d(ost.Stream->time_base);
            }
            const double inputTime = double(ist.Pts);
            if (!InputFileStates[size_t(ist.FileIndex)]->EofReached) {
                if (inputTime < minInputTime) {
                    minInputTime = inputTime;
                    if (InputSync) chosen = ist.FileIndex;
                }
                if (outputTime < minOutputTime) {
                    minOutputTime = outputTime;
                    if (!InputSync) chosen = ist.FileIndex;
                }
            }
        }
        if (chosen < 0 || (timed > 0 && ended == timed)) break;
        if (double(RecordingTime) / 1000000.0 <= minOutputTime) break;
        if (LimitFileSize != 0 && OutputFiles[0] && OutputFiles[0]->pb &&
            lav::avio_seek(OutputFiles[0]->pb, 0, SEEK_CUR) > LimitFileSize)
            break;

        AVFormatContext *file = inputFiles[chosen];
        TInputFileState &fileState = *InputFileStates[size_t(chosen)];
        const int read = lav::av_read_frame(file, packet);
        if (read == AVERROR(EAGAIN) && std::strcmp(file->iformat->name, "ffm") != 0) continue;
        if (read < 0) {
            fileState.EofReached = 1;
            if (Shortest) break;
            continue;
        }
        if (PacketDump)
            lav::av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, packet, HexDump,
                                  file->streams[packet->stream_index]);

        if (packet->stream_index >= 0 && packet->stream_index < fileState.StreamCount) {
            const int32_t index = fileState.FirstStream + packet->stream_index;
            TInputStreamState &ist = *InputStreamStates[size_t(index)];
            if (!ist.Discard) {
                const AVRational tb = ist.Stream->time_base;
                if (InputTsOffset[chosen] != 0) {
                    const int64_t offset = lav::av_rescale_q(InputTsOffset[chosen], AV_TIME_BASE_Q, tb);
                    if (packet->dts != AV_NOPTS_VALUE) packet->dts += offset;
                    if (packet->pts != AV_NOPTS_VALUE) packet->pts += offset;
                }
                const double scale = InputTsScale[chosen][packet->stream_index];
                if (scale != 0) {
                    if (packet->dts != AV_NOPTS_VALUE) packet->dts = std::llrint(double(packet->dts) * scale);
                    if (packet->pts != AV_NOPTS_VALUE) packet->pts = std::llrint(double(packet->pts) * scale);
                }
                if (packet->dts != AV_NOPTS_VALUE && ist.NextPts != AV_NOPTS_VALUE &&
                    (file->iformat->flags & AVFMT_TS_DISCONT)) {
                    const int64_t packetDtsUs = lav::av_rescale_q(packet->dts, tb, AV_TIME_BASE_Q);
                    const int64_t delta = packetDtsUs - ist.NextPts;
                    if ((std::llabs(delta) > SaturatedCast<int64_t>(double(DtsDeltaThreshold) * 1000000.0) ||
                         packetDtsUs + 1 < ist.Pts) &&
                        !CopyTs) {
                        InputTsOffset[chosen] -= delta;
                        if (Verbose > 2 && LogHandler)
                            Log(1, FormatText("timestamp discontinuity %lld, new offset= %lld",
                                              (long long)delta, (long long)InputTsOffset[chosen]));
                        const int64_t shift = lav::av_rescale_q(delta, AV_TIME_BASE_Q, tb);
                        packet->dts -= shift;
                        if (packet->pts != AV_NOPTS_VALUE) packet->pts -= shift;
                    }
                }
                if (DecodeAndDispatch(ist, index, packet) < 0) {
                    const std::string message =
                        FormatText("Error while decoding stream #%d.%d", ist.FileIndex, ist.StreamIndex);
                    if (ExitOnError) throw FFmpegException(message);
                    if (Verbose >= 0) Log(1, message);
                    lav::av_packet_unref(packet);
                    continue;
                }
            }
        }
        lav::av_packet_unref(packet);

        const int64_t now = lav::av_gettime();
        if (now - lastReport > ProgressInterval) {
            lastReport = now;
            ReportProgress(OutputFiles, false);
        }
    }
    lav::av_packet_unref(packet);
}

void TCustomFFmpeg::EndOfRun(AVFormatContext **outputFiles, int32_t numOutputFiles)
{
    for (size_t i = 0; i < InputStreamStates.size(); ++i) {
        TInputStreamState &ist = *InputStreamStates[i];
        if (ist.DecodingNeeded) DecodeAndDispatch(ist, int32_t(i), nullptr);
    }
    for (const auto &ost : OutputStreamStates) FlushBitstreamFilters(*ost);
    // A trailer that cannot be written means data that never reached the
    // file (the I/O buffer is flushed here last): the run fails with it.
    int trailerError = 0;
    for (int32_t f = 0; f < numOutputFiles; ++f) {
        const int result = lav::av_write_trailer(outputFiles[f]);
        if (result < 0 && !trailerError) trailerError = result;
    }
    ReportProgress(outputFiles, true);

    for (const auto &ost : OutputStreamStates) {
        if (!ost->EncodingNeeded || !ost->Encoder) continue;
        lav::av_freep(&ost->Encoder->stats_in);
        ForgetCodecContext(ost->Encoder);
        std::lock_guard<std::mutex> lock(CodecLock);
        lav::avcodec_free_context(&ost->Encoder);
        UnregisterEncoder(ost.get());
    }
    for (const auto &ist : InputStreamStates) {
        if (!ist->DecodingNeeded || !ist->Decoder) continue;
        ForgetCodecContext(ist->Decoder);
        std::lock_guard<std::mutex> lock(CodecLock);
        lav::avcodec_free_context(&ist->Decoder);
        UnregisterDecoder(ist.get());
    }
    ReleaseTranscodeState();
    if (trailerError) throw FFmpegException(OpenErrorText("av_write_trailer()", trailerError));
    Finished = !StopRequested;
}
