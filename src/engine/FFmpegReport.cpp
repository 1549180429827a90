// The progress report (figures to ProgressHandler, or a status line to the
// log), the final size summary, and the per-frame video statistics file.
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>

#include "FFmpeg.h"
#include "FFmpegLoader.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace {
// The quantiser histogram: one for the whole process, never reset.
std::atomic<uint32_t> QpHistogram[52];

double Psnr(double d) { return -10.0 * std::log10(d); }
} // namespace

void TCustomFFmpeg::NoteCodedPacket(TOutputStreamState &ost, const AVPacket *packet)
{
    size_t size = 0;
    const uint8_t *stats = lav::av_packet_get_side_data(packet, AV_PKT_DATA_QUALITY_STATS, &size);
    if (stats && size >= 5) {
        ost.CodedQuality = int32_t(AV_RL32(stats));
        ost.CodedPictType = stats[4];
        const int errors = size >= 6 ? stats[5] : 0;
        for (int i = 0; i < errors && i < 4 && size_t(16 + 8 * i) <= size; ++i)
            ost.CodedError[i] = AV_RL64(stats + 8 + 8 * i);
    }
    ost.CodedKey = (packet->flags & AV_PKT_FLAG_KEY) != 0;
    ost.CodedPts = packet->pts;
}

void TCustomFFmpeg::ReportProgress(AVFormatContext **outputFiles, bool final)
{
    int32_t frameNumber = -1, fps = -1;
    float quality = -1.0f;
    std::string line;
    double tOut = 1e10;

    AVIOContext *io = outputFiles[0] ? outputFiles[0]->pb : nullptr;
    int64_t totalSize = 0;
    if (io) {
        totalSize = lav::avio_size(io);
        if (totalSize < 0) totalSize = lav::avio_seek(io, 0, SEEK_CUR);
        totalSize = std::max<int64_t>(totalSize, 0);
    }

    bool firstVideo = true;
    for (const auto &owned : OutputStreamStates) {
        const TOutputStreamState &ost = *owned;
        const AVCodecContext *enc = ost.Encoder;
        if (ost.Stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            const float q = ost.EncodingNeeded ? float(ost.CodedQuality) / FF_QP2LAMBDA : -1.0f;
            if (!firstVideo) {
                line += FormatText("q=%2.1f ", double(q));
            } else {
                firstVideo = false;
                const double elapsed = double(lav::av_gettime() - TimerStart) / 1000000.0;
                frameNumber = ost.FrameNumber;
                if (frameNumber < 1) return;
                fps = elapsed > 1.0 ? int32_t(frameNumber / elapsed + 0.5) : 0;
                quality = q;
                line += FormatText("frame=%5d fps=%3d q=%3.1f ", frameNumber, fps, double(quality));
                if (final) line += "L";
                if (QpHist) {
                    const long qp = std::lrint(double(ost.CodedQuality) / FF_QP2LAMBDA);
                    if (qp >= 0 && qp < 52) QpHistogram[qp].fetch_add(1, std::memory_order_relaxed);
                    for (int j = 0; j < 32; ++j)
                        line += FormatText("%X",
                                           int(std::lrint(std::log2(
                                               double(QpHistogram[j].load(std::memory_order_relaxed)) + 1))));
                }
                if (enc && (enc->flags & AV_CODEC_FLAG_PSNR)) {
                    line += "PSNR=";
                    double errorSum = 0, scaleSum = 0;
                    static const char letters[] = "YUV";
                    for (int j = 0; j < 3; ++j) {
                        const double error = double(final ? enc->error[j] : ost.CodedError[j]);
                        double scale = double(enc->width) * enc->height * 255.0 * 255.0;
                        if (final) scale *= frameNumber;
                        if (j) scale /= 4;
                        line += FormatText("%c:%2.2f ", letters[j], Psnr(error / scale));
                        errorSum += error;
                        scaleSum += scale;
                    }
                    line += FormatText("*:%2.2f ", Psnr(errorSum / scaleSum));
                }
            }
        }
        if (ost.CurrentPts != AV_NOPTS_VALUE) {
            const double t = vm::av_q2d(ost.Stream->time_base) * double(ost.CurrentPts);
            if (t < tOut && t > 0) tOut = t;
        }
    }
    // No stream has a time yet: the report says 0 rather than 1e10 seconds.
    const bool noTime = tOut >= 1e10;
    // A stream whose encoder holds its first packets back longer than the
    // others joins late; the time reached does not go back for it.
    if (!noTime) {
        tOut = std::max(tOut, ReportedTime);
        ReportedTime = tOut;
    }
    if (tOut < 0.01) tOut = 0.01;

    if (ProgressHandler || Verbose > 0 || final) {
        const double bitRate = double(totalSize) * 8 / tOut / 1000;
        line += FormatText("size=%8.0fkB time=%0.2f bitrate=%6.1fkbits/s", double(totalSize) / 1024,
                           noTime ? 0.0 : tOut, bitRate);
        if (Verbose > 1) line += FormatText(" dup=%d drop=%d", DupFrames, DroppedFrames);
        ProgressLine = line;
        ProgressFinal = final;
        if (ProgressHandler) {
            const double ms = noTime ? 0.0 : std::min(tOut * 1000, double(INT32_MAX));
            ProgressHandler(*this, frameNumber, fps, int32_t(ms), quality, float(bitRate), totalSize,
                            TotalDuration);
        } else if (Verbose >= 0 && LogHandler) {
            Log(1, line);
        }
    }

    if (final && Verbose >= 0 && LogHandler) {
        const double raw = double(VideoBytes + AudioBytes + ExtraBytes);
        const double overhead = raw > 0 ? (double(totalSize) - raw) * 100.0 / raw : 0.0;
        Log(1, FormatText("video:%1.0fkB audio:%1.0fkB global headers:%1.0fkB muxing overhead %f%%\r\n",
                          double(VideoBytes) / 1024, double(AudioBytes) / 1024, double(ExtraBytes) / 1024,
                          overhead));
    }
}

void TCustomFFmpeg::WriteVideoStats(TOutputStreamState &ost, int frameSize)
{
    if (!VstatsFile) {
        VstatsFile = lav::my_fopen(VstatsFileName.c_str(), "w");
        if (!VstatsFile) throw FFmpegException("fopen fail: " + VstatsFileName);
    }
    const AVCodecContext *enc = ost.Encoder;
    if (!enc || enc->codec_type != AVMEDIA_TYPE_VIDEO) return;
    lav::my_fprintf(VstatsFile, "frame= %5d q= %2.1f ", ost.FrameNumber,
                    double(ost.CodedQuality) / FF_QP2LAMBDA);
    if (enc->flags & AV_CODEC_FLAG_PSNR)
        lav::my_fprintf(VstatsFile, "PSNR= %6.2f ",
                        Psnr(double(ost.CodedError[0]) / (double(enc->width) * enc->height * 255.0 * 255.0)));
    lav::my_fprintf(VstatsFile, "f_size= %6d ", frameSize);
    const double tick = vm::av_q2d(enc->time_base);
    const double ti = std::max(double(ost.SyncOutPos) * tick, 0.01);
    const double bitRate = frameSize * 8 / tick / 1000;
    const double average = double(VideoBytes) * 8 / ti / 1000;
    lav::my_fprintf(VstatsFile, "s_size= %8.0fkB time= %0.3f br= %7.1fkbits/s avg_br= %7.1fkbits/s ",
                    double(VideoBytes) / 1024, ti, bitRate, average);
    lav::my_fprintf(VstatsFile, "type= %c\n",
                    lav::av_get_picture_type_char(AVPictureType(ost.CodedPictType)));
}
