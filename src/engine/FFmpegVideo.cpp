// The video path: one decoded (and pre-processed) picture into zero, one or
// several frames of one transcoded video output stream. Video sync decides
// how many (drop, keep, duplicate); crop and pad are views and band painting
// on existing pictures, scaling writes into the stream's temporary picture;
// with a filter description the filter chain ("buffer" -> graph ->
// "buffersink") does cropping to size and scaling instead.
#include <algorithm>
#include <cmath>

#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "PictureOps.h"

namespace {
TPicture PictureOf(const AVFrame *frame)
{
    TPicture picture;
    for (int k = 0; k < 4; ++k) {
        picture.data[k] = frame->data[k];
        picture.linesize[k] = frame->linesize[k];
    }
    return picture;
}

// Makes `frame` safe to write without keeping its content: when an encoder
// still holds a reference to its pixels, it gets a fresh buffer.
bool MakeWritableWithoutCopy(AVFrame *frame)
{
    if (lav::av_frame_is_writable(frame)) return true;
    const int format = frame->format, width = frame->width, height = frame->height;
    lav::av_frame_unref(frame);
    frame->format = format;
    frame->width = width;
    frame->height = height;
    return lav::av_frame_get_buffer(frame, 0) >= 0;
}
} // namespace

bool TCustomFFmpeg::FollowInputGeometry(TOutputStreamState &ost, const AVFrame *decoded)
{
    if (decoded->width == ost.ScaleInWidth && decoded->height == ost.ScaleInHeight &&
        decoded->format == ost.ScaleInFormat)
        return true;
    // The input changed its picture size or format: scale from now on.
    AVCodecContext *enc = ost.Encoder;
    const int width = decoded->width - CropLeft - CropRight, height = decoded->height - CropTop - CropBottom;
    SwsContext *scaler = nullptr;
    if (width > 0 && height > 0)
        scaler = lav::sws_getCachedContext(ost.ScaleContext, width, height, AVPixelFormat(decoded->format),
                                           enc->width - PadLeft - PadRight, enc->height - PadTop - PadBottom,
                                           enc->pix_fmt, int(SwsFlags), nullptr, nullptr, nullptr);
    if (!scaler) {
        if (!ost.SizeReported && LogHandler)
            Log(0, FormatText("Cannot scale a %dx%d picture for output stream #%d.%d", decoded->width,
                              decoded->height, ost.FileIndex, ost.StreamIndex));
        ost.SizeReported = true;
        return false;
    }
    ost.ScaleContext = scaler;
    if (!ost.PictTmp) {
        ost.PictTmp = lav::av_frame_alloc();
        if (!ost.PictTmp) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
        ost.PictTmp->format = enc->pix_fmt;
        ost.PictTmp->width = enc->width;
        ost.PictTmp->height = enc->height;
        if (lav::av_frame_get_buffer(ost.PictTmp, 0) < 0)
            throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    }
    ost.NeedsScaling = 1;
    ost.ResampleHeight = height;
    ost.ScaleInWidth = decoded->width;
    ost.ScaleInHeight = decoded->height;
    ost.ScaleInFormat = AVPixelFormat(decoded->format);
    return true;
}

void TCustomFFmpeg::EmitVideo(TOutputStreamState &ost, TInputStreamState &ist, const TPicture &picture,
                              AVFrame *holder, const AVFrame *decoded, int &frameSize)
{
    frameSize = 0;
    if (ost.LimitReached) return;
    AVCodecContext *enc = ost.Encoder;
    AVFormatContext *file = OutputFiles[ost.FileIndex];
    const double tb = vm::av_q2d(enc->time_base);
    const double syncTime = double(ost.SyncInput->Pts - StartTime) / 1000000.0;

    int64_t n = 1;
    if (VideoSyncMethod > 0 || (VideoSyncMethod < 0 && tb > 0.001)) {
        const double vdelta = syncTime / tb - double(ost.SyncOutPos);
        if (vdelta < -1.1) {
            n = 0;
        } else if (VideoSyncMethod == 2 ||
                   (VideoSyncMethod < 0 && (file->oformat->flags & AVFMT_VARIABLE_FPS))) {
            if (vdelta <= -0.6)
                n = 0;
            else if (vdelta > 0.6)
                ost.SyncOutPos = std::llrint(syncTime / tb);
        } else if (vdelta > 1.1) {
            n = std::llrint(vdelta);
        }
        if (n == 0) {
            ++DroppedFrames;
            if (Verbose > 2 && LogHandler) Log(1, "*** drop!");
        } else if (n > 1) {
            DupFrames += int32_t(n - 1);
            if (Verbose > 2 && LogHandler) Log(1, FormatText("*** %d dup!", int(n - 1)));
        }
    } else {
        ost.SyncOutPos = std::llrint(syncTime / tb);
    }
    n = std::min<int64_t>(n, int64_t(MaxFrames[AVMEDIA_TYPE_VIDEO]) - ost.FrameNumber);
    if (n <= 0) return;

    if (UsingVideoFilters) {
        // Resizing happens in the chain; a picture of another size cannot be encoded.
        if (decoded->width + PadLeft + PadRight != enc->width ||
            decoded->height + PadTop + PadBottom != enc->height) {
            if (!ost.SizeReported && LogHandler)
                Log(0, FormatText("Filtered picture of %dx%d does not fit output stream #%d.%d",
                                  decoded->width, decoded->height, ost.FileIndex, ost.StreamIndex));
            ost.SizeReported = true;
            return;
        }
    } else if (!FollowInputGeometry(ost, decoded)) {
        return;
    }

    auto fail = [&](const char *message) {
        if (ExitOnError) throw FFmpegException(message);
        Log(0, message);
    };
    const AVPixelFormat decFormat = AVPixelFormat(decoded->format);
    TPicture formatted = picture;
    if (!UsingVideoFilters && ost.CropEnabled &&
        PictureCrop(formatted, picture, decFormat, ost.TopBand, ost.LeftBand) < 0)
        return fail("error cropping picture");

    TPicture finalPicture = formatted;
    AVFrame *finalHolder = holder;
    const TPicture *padSource = &formatted;
    const bool usesTmp = ost.PictTmp && (ost.PadEnabled || (ost.NeedsScaling && !UsingVideoFilters));
    if (usesTmp && !MakeWritableWithoutCopy(ost.PictTmp))
        throw FFmpegException("Cannot allocate temp picture, check pix fmt");
    TPicture tmp = ost.PictTmp ? PictureOf(ost.PictTmp) : TPicture{};
    TPicture padView;
    TPicture *scaleTarget = UsingVideoFilters ? nullptr : &tmp;
    if (ost.PadEnabled) {
        if (!ost.PictTmp) return fail("error padding picture");
        finalPicture = tmp;
        finalHolder = ost.PictTmp;
        if (ost.NeedsScaling) {
            if (PictureCrop(padView, tmp, enc->pix_fmt, ost.PadTopSize, ost.PadLeftSize) < 0)
                return fail("error padding picture");
            if (!UsingVideoFilters) scaleTarget = &padView;
        }
    }
    if (!UsingVideoFilters && ost.NeedsScaling) {
        padSource = nullptr;
        finalPicture = tmp;
        finalHolder = ost.PictTmp;
        lav::sws_scale(ost.ScaleContext, formatted.data, formatted.linesize, 0, ost.ResampleHeight,
                       scaleTarget->data, scaleTarget->linesize);
    }
    if (ost.PadEnabled &&
        PicturePad(finalPicture, padSource, enc->height, enc->width, enc->pix_fmt, ost.PadTopSize,
                   ost.PadBottomSize, ost.PadLeftSize, ost.PadRightSize, PadColor) < 0)
        return fail("error padding picture");

    const AVCodecContext *options = OptionContexts.Codec[AVMEDIA_TYPE_VIDEO];
    const bool interlacedCoding =
        options && (options->flags & (AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME));
    AVFrame *out = ost.EncodeFrame;
    for (int64_t i = 0; i < n; ++i) {
        WaitWhilePaused();
        if (StopRequested) break;
        int64_t pts = ost.SyncOutPos;
        if (ost.LastVideoPts != AV_NOPTS_VALUE && pts <= ost.LastVideoPts) pts = ost.LastVideoPts + 1;
        // The output's "t": no picture at or after it.
        if (RecordingTime != INT64_MAX &&
            lav::av_rescale_q(pts, enc->time_base, AV_TIME_BASE_Q) >= RecordingTime) {
            ost.LimitReached = true;
            break;
        }
        lav::av_frame_unref(out);
        // A frame that holds a reference to the pixels, so that the encoder
        // can keep them; pictures only in the hook buffer are copied by it.
        if (finalHolder && lav::av_frame_ref(out, finalHolder) < 0)
            throw FFmpegException("Video encoding failed");
        for (int k = 0; k < 4; ++k) {
            out->data[k] = finalPicture.data[k];
            out->linesize[k] = finalPicture.linesize[k];
        }
        out->extended_data = out->data;
        out->format = enc->pix_fmt;
        out->width = enc->width;
        out->height = enc->height;
        out->crop_top = out->crop_bottom = out->crop_left = out->crop_right = 0;
        out->sample_aspect_ratio = enc->sample_aspect_ratio;
        out->interlaced_frame = decoded->interlaced_frame;
        if (interlacedCoding)
            out->top_field_first = TopFieldFirst == -1 ? decoded->top_field_first : TopFieldFirst;
        out->quality = int(std::lrint(SameQuality ? ist.Quality : ost.Quality));
        out->pict_type = MeThreshold == 0 ? AV_PICTURE_TYPE_NONE : decoded->pict_type;
        ost.LastVideoPts = pts;
        out->pts = pts;
        int lastSize = 0;
        const int packets = EncodeAndMux(ost, out, lastSize);
        lav::av_frame_unref(out);
        if (packets > 0) {
            frameSize = lastSize;
            if (PreviewFlags != 0) {
                const int64_t coded = ost.CodedPts == AV_NOPTS_VALUE
                                          ? AV_NOPTS_VALUE
                                          : lav::av_rescale_q(ost.CodedPts, enc->time_base, AV_TIME_BASE_Q);
                PreviewPicture(finalPicture, enc, coded);
            }
        }
        ++ost.SyncOutPos;
        ++ost.FrameNumber;
    }
}

int TCustomFFmpeg::BuildVideoFilters(TInputStreamState &ist, TOutputStreamState &ost)
{
    if (CropTop || CropBottom || CropLeft || CropRight) {
        LastError = "Cannot enable crop options and filters at the same time.";
        return -1;
    }
    const AVCodecContext *icodec = ist.Decoder;
    AVCodecContext *codec = ost.Encoder;
    if (ist.FilterGraph) lav::avfilter_graph_free(&ist.FilterGraph);
    ist.InFilter = ist.OutFilter = nullptr;
    ist.FilterGraph = lav::avfilter_graph_alloc();
    if (!ist.FilterGraph) return -1;
    AVFilterGraph *graph = ist.FilterGraph;
    graph->nb_threads = ThreadCount;
    if (!ist.PictureRef) ist.PictureRef = lav::av_frame_alloc();
    if (!ist.PictureRef) return -1;

    // Pictures go in with time stamps in microseconds.
    const AVRational aspect =
        icodec->sample_aspect_ratio.num ? icodec->sample_aspect_ratio : AVRational{1, 1};
    const std::string sourceArgs =
        FormatText("video_size=%dx%d:pix_fmt=%d:time_base=1/%d:pixel_aspect=%d/%d", icodec->width,
                   icodec->height, int(icodec->pix_fmt), AV_TIME_BASE, aspect.num, aspect.den);
    if (lav::avfilter_graph_create_filter(&ist.InFilter, lav::avfilter_get_by_name("buffer"), "src",
                                          sourceArgs.c_str(), nullptr, graph) < 0)
        return -1;
    ist.OutFilter = lav::avfilter_graph_alloc_filter(graph, lav::avfilter_get_by_name("buffersink"), "out");
    if (!ist.OutFilter) return -1;
    const AVPixelFormat sinkFormat = codec->pix_fmt;
    if (lav::av_opt_set_bin(ist.OutFilter, "pix_fmts", reinterpret_cast<const uint8_t *>(&sinkFormat),
                            sizeof sinkFormat, AV_OPT_SEARCH_CHILDREN) < 0 ||
        lav::avfilter_init_str(ist.OutFilter, nullptr) < 0)
        return -1;
    AVFilterContext *last = ist.InFilter;

    int64_t flags = SwsFlags;
    if (OptionContexts.Scaler) lav::av_opt_get_int(OptionContexts.Scaler, "sws_flags", 0, &flags);
    const int innerWidth = codec->width - PadLeft - PadRight,
              innerHeight = codec->height - PadTop - PadBottom;
    if (ost.CropEnabled) {
        AVFilterContext *crop = nullptr;
        const std::string args =
            FormatText("%d:%d:%d:%d", innerWidth, innerHeight, ost.LeftBand, ost.TopBand);
        if (lav::avfilter_graph_create_filter(&crop, lav::avfilter_get_by_name("crop"), "crop", args.c_str(),
                                              nullptr, graph) < 0 ||
            lav::avfilter_link(last, 0, crop, 0) < 0)
            return -1;
        last = crop;
    }
    if (icodec->width - (CropLeft + CropRight) + (PadLeft + PadRight) != codec->width ||
        icodec->height - (CropTop + CropBottom) + (PadTop + PadBottom) != codec->height) {
        AVFilterContext *scale = nullptr;
        const std::string args = FormatText("%d:%d:flags=%d", innerWidth, innerHeight, int(flags));
        if (lav::avfilter_graph_create_filter(&scale, lav::avfilter_get_by_name("scale"), "scale",
                                              args.c_str(), nullptr, graph) < 0 ||
            lav::avfilter_link(last, 0, scale, 0) < 0)
            return -1;
        last = scale;
    }

    if (!VideoFilters.empty()) {
        AVFilterInOut *outputs = lav::avfilter_inout_alloc();
        AVFilterInOut *inputs = lav::avfilter_inout_alloc();
        int parsed = -1;
        if (outputs && inputs) {
            outputs->name = lav::av_strdup("in");
            outputs->filter_ctx = last;
            outputs->pad_idx = 0;
            inputs->name = lav::av_strdup("out");
            inputs->filter_ctx = ist.OutFilter;
            inputs->pad_idx = 0;
            parsed = lav::avfilter_graph_parse_ptr(graph, VideoFilters.c_str(), &inputs, &outputs, nullptr);
        }
        lav::avfilter_inout_free(&inputs);
        lav::avfilter_inout_free(&outputs);
        if (parsed < 0) return -1;
    } else if (lav::avfilter_link(last, 0, ist.OutFilter, 0) < 0) {
        return -1;
    }
    lav::av_freep(&graph->scale_sws_opts);
    graph->scale_sws_opts = lav::av_strdup(FormatText("flags=%d", int(flags)).c_str());
    if (lav::avfilter_graph_config(graph, nullptr) < 0) return -1;

    const int w = lav::av_buffersink_get_w(ist.OutFilter), h = lav::av_buffersink_get_h(ist.OutFilter);
    if ((PadTop || PadBottom || PadLeft || PadRight) && (w != FrameWidth || h != FrameHeight)) {
        LastError =
            "Cannot enable pad options and the filters which resize frame at the same time. (crop, rotate, "
            "scale, transpose, etc.)";
        return -1;
    }
    codec->width = w + PadLeft + PadRight;
    codec->height = h + PadTop + PadBottom;
    return 0;
}

void TCustomFFmpeg::FeedVideoFilters(TInputStreamState &ist, AVFrame *frame, const TPicture &picture)
{
    if (!frame) {
        if (lav::av_buffersrc_add_frame_flags(ist.InFilter, nullptr, 0) < 0)
            Log(0, "Cannot end the filter chain");
        return;
    }
    AVFrame *in = frame;
    if (picture.data[0] != frame->data[0]) {
        // Pre-processed into the hook buffer: the chain takes a copy of it.
        lav::av_frame_unref(FilterInput);
        lav::av_frame_copy_props(FilterInput, frame);
        FilterInput->format = frame->format;
        FilterInput->width = frame->width;
        FilterInput->height = frame->height;
        for (int k = 0; k < 4; ++k) {
            FilterInput->data[k] = picture.data[k];
            FilterInput->linesize[k] = picture.linesize[k];
        }
        in = FilterInput;
    }
    in->pts = ist.Pts;
    const int added = lav::av_buffersrc_add_frame_flags(ist.InFilter, in, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (added < 0) Log(0, OpenErrorText("av_buffersrc_add_frame()", added));
    if (in == FilterInput) lav::av_frame_unref(FilterInput);
}

int TCustomFFmpeg::PullFilteredPicture(TInputStreamState &ist, TPicture &picture)
{
    if (lav::av_buffersink_get_frame(ist.OutFilter, ist.PictureRef) < 0) return -1;
    if (ist.PictureRef->pts != AV_NOPTS_VALUE)
        ist.Pts = lav::av_rescale_q(ist.PictureRef->pts, lav::av_buffersink_get_time_base(ist.OutFilter),
                                    AV_TIME_BASE_Q);
    picture = PictureOf(ist.PictureRef);
    return 1;
}
