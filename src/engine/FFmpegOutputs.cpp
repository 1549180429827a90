// Output files and their streams: the container chosen by the file name or
// the forced format, the video, audio and subtitle streams made from the
// option state (each with the engine's own encoder context), the pending
// metadata, the muxer's parameters and the file opened for writing. The
// headers are written by the transcode.
#include <algorithm>
#include <climits>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

namespace {
std::string Trim(const std::string &s)
{
    const size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    const size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

// Whether the filter chain changes the picture size: some item, by its name
// before any "=", is one of the resizing filters.
bool FiltersResize(const std::string &filters)
{
    std::string chain = filters;
    std::transform(chain.begin(), chain.end(), chain.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    size_t start = 0;
    for (;;) {
        const size_t comma = chain.find(',', start);
        const std::string item =
            chain.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::string name = Trim(item.substr(0, item.find('=')));
        if (name == "crop" || name == "rotate" || name == "scale" || name == "transpose") return true;
        if (comma == std::string::npos) return false;
        start = comma + 1;
    }
}

// An integer as far as it goes; false when no digit was read.
bool ReadInteger(const char *&p, int &value)
{
    char *end = nullptr;
    const long v = std::strtol(p, &end, 10);
    if (end == p) return false;
    value = int(v);
    p = end;
    return true;
}

// Matrices and overrides belong to the codec context, which frees them.
uint16_t *CopyMatrix(const std::array<uint16_t, 64> &matrix)
{
    auto *copy = static_cast<uint16_t *>(lav::av_malloc(sizeof(uint16_t) * 64));
    if (copy) std::copy(matrix.begin(), matrix.end(), copy);
    return copy;
}

// The closest fraction with terms up to 255 of the display aspect over the
// picture's width / height (3/4 when the size is unknown).
AVRational SampleAspectRatio(float displayAspect, int width, int height)
{
    // Tested apart: the product of two large sizes overflows.
    const double ratio =
        width != 0 && height != 0 ? double(displayAspect) * height / width : double(displayAspect) * 3 / 4;
    return lav::av_d2q(ratio, 255);
}

bool Contains(const AVPixelFormat *list, int format)
{
    for (; list && *list != AV_PIX_FMT_NONE; ++list)
        if (*list == format) return true;
    return false;
}

bool Contains(const AVSampleFormat *list, int format)
{
    for (; list && *list != AV_SAMPLE_FMT_NONE; ++list)
        if (*list == format) return true;
    return false;
}

// The JPEG encoders list the limited-range YUV formats but open them only
// when non-standard files are allowed: they get the full-range twin, which
// they take at any strictness.
AVPixelFormat FullRangeTwin(const AVCodec *encoder, AVPixelFormat format, int strictness)
{
    if (!encoder || (encoder->id != AV_CODEC_ID_MJPEG && encoder->id != AV_CODEC_ID_LJPEG) ||
        strictness <= FF_COMPLIANCE_UNOFFICIAL)
        return format;
    const std::pair<AVPixelFormat, AVPixelFormat> twins[] = {{AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P},
                                                             {AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUVJ422P},
                                                             {AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUVJ444P}};
    for (const auto &[limited, full] : twins)
        if (format == limited) return Contains(encoder->pix_fmts, full) ? full : format;
    return format;
}
} // namespace

bool TCustomFFmpeg::ParseRcOverride(const std::string &text, std::vector<RcOverride> &overrides)
{
    overrides.clear();
    const char *p = text.c_str();
    while (*p) {
        int start = 0, end = 0, q = 0;
        // start and end are each followed by one separating character.
        if (!ReadInteger(p, start) || !*p++) return false;
        if (!ReadInteger(p, end) || !*p++) return false;
        if (!ReadInteger(p, q)) return false;
        RcOverride o{};
        o.start_frame = start;
        o.end_frame = end;
        if (q > 0) {
            o.qscale = q;
            o.quality_factor = 1.0f;
        } else {
            o.qscale = 0;
            o.quality_factor = float(-double(q) / 100.0); // -q overflows for the smallest int
        }
        overrides.push_back(o);
        const char *slash = std::strchr(p, '/');
        if (!slash) break;
        p = slash + 1;
    }
    return true;
}

AVCodecContext *TCustomFFmpeg::AddOutputStream(AVFormatContext *oc, int32_t fileIndex, const AVCodec *encoder,
                                               AVMediaType type, bool streamCopy,
                                               std::vector<const AVBitStreamFilter *> filters,
                                               AVStream *&stream)
{
    stream = nullptr;
    if (fileIndex < 0 || fileIndex >= MAX_FILES) return nullptr;
    AVCodecContext *c = lav::avcodec_alloc_context3(encoder);
    if (!c) return nullptr;
    stream = lav::avformat_new_stream(oc, nullptr);
    if (!stream) {
        lav::avcodec_free_context(&c);
        return nullptr;
    }
    c->codec_type = type;
    const size_t n = stream->index;
    OutputEncoders[fileIndex].resize(n + 1, nullptr);
    OutputEncoders[fileIndex][n] = c;
    OutputEncoderOptions[fileIndex].resize(n + 1, nullptr);
    OutputStreamCopy[fileIndex].resize(n + 1, false);
    OutputStreamCopy[fileIndex][n] = streamCopy;
    BitstreamFilters[fileIndex].resize(n + 1);
    BitstreamFilters[fileIndex][n] = std::move(filters);
    return c;
}

void TCustomFFmpeg::new_video_stream(AVFormatContext *oc, int32_t fileIndex)
{
    // The pending chain belongs to this stream, made or not.
    std::vector<const AVBitStreamFilter *> filters = std::move(VideoBitstreamFilters);
    VideoBitstreamFilters.clear();

    // Everything that can refuse is decided before the stream exists, so a
    // refused stream leaves nothing behind in the file.
    const AVCodec *named = nullptr, *encoder = nullptr;
    AVCodecID codecId = AV_CODEC_ID_NONE;
    std::vector<RcOverride> overrides;
    if (!VideoStreamCopy) {
        if (!VideoCodecName.empty()) {
            if (!FindCodec(VideoCodecName, AVMEDIA_TYPE_VIDEO, true, named)) {
                VideoCodecName.clear();
                throw FFmpegException(LastError);
            }
            encoder = named;
            codecId = named->id;
        } else {
            codecId = lav::av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, AVMEDIA_TYPE_VIDEO);
            encoder = lav::avcodec_find_encoder(codecId);
        }
        if (!ParseRcOverride(VideoRcOverride, overrides)) {
            VideoCodecName.clear();
            throw FFmpegException("error parsing rc_override");
        }
        // A padded side that does not fit an int is no picture size.
        if (int64_t(FrameWidth) + PadLeft + PadRight > INT_MAX ||
            int64_t(FrameHeight) + PadTop + PadBottom > INT_MAX) {
            VideoCodecName.clear();
            throw FFmpegException("Incorrect frame size");
        }
    }

    AVStream *st = nullptr;
    AVCodecContext *c = AddOutputStream(oc, fileIndex, VideoStreamCopy ? nullptr : encoder,
                                        AVMEDIA_TYPE_VIDEO, VideoStreamCopy, std::move(filters), st);
    if (!c) {
        VideoCodecName.clear();
        throw FFmpegException("Could not alloc stream");
    }
    AVCodecContext *options = OptionContexts.Codec[AVMEDIA_TYPE_VIDEO];

    if (ThreadCount > 1) c->thread_count = ThreadCount;
    if (VideoCodecTag) c->codec_tag = VideoCodecTag;
    if ((VideoGlobalHeader & 1) || (VideoGlobalHeader == 0 && (oc->oformat->flags & AVFMT_GLOBALHEADER))) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (options) options->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (VideoGlobalHeader & 2) {
        c->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
        if (options) options->flags2 |= AV_CODEC_FLAG2_LOCAL_HEADER;
    }

    if (VideoStreamCopy) {
        c->sample_aspect_ratio = SampleAspectRatio(FrameAspectRatio, FrameWidth, FrameHeight);
        st->sample_aspect_ratio = c->sample_aspect_ratio;
    } else {
        AVRational fps = FrameRate.num ? FrameRate : AVRational{25, 1};
        c->codec_id = codecId;
        CopyContextOptions(OptionContexts, c, options, AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        OfferPrivateOptions(c->priv_data, c->codec ? c->codec->priv_class : nullptr,
                            &OutputEncoderOptions[fileIndex][size_t(st->index)]);
        if (encoder && encoder->supported_framerates && !ForceFps)
            fps =
                encoder->supported_framerates[lav::av_find_nearest_q_idx(fps, encoder->supported_framerates)];
        c->time_base = AVRational{fps.den, fps.num};
        c->framerate = fps;
        c->width = FrameWidth + PadLeft + PadRight;
        c->height = FrameHeight + PadTop + PadBottom;
        c->sample_aspect_ratio = SampleAspectRatio(FrameAspectRatio, c->width, c->height);
        st->sample_aspect_ratio = c->sample_aspect_ratio;
        c->pix_fmt = AVPixelFormat(FramePixFmt);
        if (encoder && encoder->pix_fmts && !Contains(encoder->pix_fmts, c->pix_fmt))
            c->pix_fmt = encoder->pix_fmts[0];
        c->pix_fmt = FullRangeTwin(encoder, c->pix_fmt, c->strict_std_compliance);
        if (IntraOnly) c->gop_size = 0;
        if (VideoQscale != 0 || SameQuality) {
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = int(FF_QP2LAMBDA * VideoQscale);
        }
        if (IntraMatrix) c->intra_matrix = CopyMatrix(*IntraMatrix);
        if (InterMatrix) c->inter_matrix = CopyMatrix(*InterMatrix);
        c->thread_count = ThreadCount;
        if (!overrides.empty()) {
            c->rc_override = static_cast<RcOverride *>(lav::av_malloc(sizeof(RcOverride) * overrides.size()));
            if (c->rc_override) {
                std::copy(overrides.begin(), overrides.end(), c->rc_override);
                c->rc_override_count = int(overrides.size());
            }
        }
        if (c->rc_initial_buffer_occupancy == 0) c->rc_initial_buffer_occupancy = c->rc_buffer_size * 3 / 4;
        c->intra_dc_precision = IntraDcPrecision - 8;
        if (DoPsnr) c->flags |= AV_CODEC_FLAG_PSNR;
        if (DoPass == 1) c->flags |= AV_CODEC_FLAG_PASS1;
        if (DoPass == 2) c->flags |= AV_CODEC_FLAG_PASS2;
    }
    // The stream shows the settings until the transcode fills in the rest.
    lav::avcodec_parameters_from_context(st->codecpar, c);

    OutputCodecs.push_back(named);
    VideoDisable = false;
    VideoCodecName.clear();
    VideoStreamCopy = false;
}

void TCustomFFmpeg::new_audio_stream(AVFormatContext *oc, int32_t fileIndex)
{
    std::vector<const AVBitStreamFilter *> filters = std::move(AudioBitstreamFilters);
    AudioBitstreamFilters.clear();

    const AVCodec *named = nullptr, *encoder = nullptr;
    AVCodecID codecId = AV_CODEC_ID_NONE;
    if (!AudioStreamCopy) {
        if (!AudioCodecName.empty()) {
            if (!FindCodec(AudioCodecName, AVMEDIA_TYPE_AUDIO, true, named)) {
                AudioCodecName.clear();
                throw FFmpegException(LastError);
            }
            encoder = named;
            codecId = named->id;
        } else {
            codecId = lav::av_guess_codec(oc->oformat, nullptr, oc->url, nullptr, AVMEDIA_TYPE_AUDIO);
            encoder = lav::avcodec_find_encoder(codecId);
            // The container's usual audio encoder may not be built into these
            // libraries (3GP's AMR-NB): AAC, which every such container takes.
            if (!encoder && codecId != AV_CODEC_ID_NONE) {
                if (const AVCodec *aac = lav::avcodec_find_encoder(AV_CODEC_ID_AAC)) {
                    const char *missing = lav::avcodec_get_name(codecId);
                    Log(1, std::string("No ") + (missing ? missing : "default") +
                               " audio encoder here: the audio is encoded as aac");
                    encoder = aac;
                    codecId = aac->id;
                }
            }
        }
    }

    AVStream *st = nullptr;
    AVCodecContext *c = AddOutputStream(oc, fileIndex, AudioStreamCopy ? nullptr : encoder,
                                        AVMEDIA_TYPE_AUDIO, AudioStreamCopy, std::move(filters), st);
    if (!c) {
        AudioCodecName.clear();
        AudioLanguage.clear();
        throw FFmpegException("Could not alloc stream");
    }
    AVCodecContext *options = OptionContexts.Codec[AVMEDIA_TYPE_AUDIO];

    if (ThreadCount > 1) c->thread_count = ThreadCount;
    if (AudioCodecTag) c->codec_tag = AudioCodecTag;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (options) options->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }

    // The channel layout: the input's when it has the channel count in
    // force, otherwise the usual layout of that many channels.
    AVChannelLayout layout{};
    if (AudioChannelLayout != 0 && __builtin_popcountll(uint64_t(AudioChannelLayout)) == AudioChannels)
        lav::av_channel_layout_from_mask(&layout, uint64_t(AudioChannelLayout));
    else
        lav::av_channel_layout_default(&layout, AudioChannels);

    if (AudioStreamCopy) {
        lav::av_channel_layout_uninit(&c->ch_layout);
        lav::av_channel_layout_copy(&c->ch_layout, &layout);
    } else {
        CopyContextOptions(OptionContexts, c, options, AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        OfferPrivateOptions(c->priv_data, c->codec ? c->codec->priv_class : nullptr,
                            &OutputEncoderOptions[fileIndex][size_t(st->index)]);
        c->codec_id = codecId;
        if (AudioQscale > -99999.0f) {
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = SaturatedCast<int>(FF_QP2LAMBDA * AudioQscale);
        }
        c->thread_count = ThreadCount;
        lav::av_channel_layout_uninit(&c->ch_layout);
        lav::av_channel_layout_copy(&c->ch_layout, &layout);
        c->sample_fmt = AVSampleFormat(AudioSampleFmt);
        if (encoder && encoder->sample_fmts && !Contains(encoder->sample_fmts, c->sample_fmt))
            c->sample_fmt = encoder->sample_fmts[0];
    }
    lav::av_channel_layout_uninit(&layout);

    OutputCodecs.push_back(named);
    c->sample_rate = AudioSampleRate;
    c->time_base = AVRational{1, AudioSampleRate};
    if (!AudioLanguage.empty()) {
        lav::av_dict_set(&st->metadata, "language", AudioLanguage.c_str(), 0);
        AudioLanguage.clear();
    }
    lav::avcodec_parameters_from_context(st->codecpar, c);

    AudioDisable = false;
    AudioCodecName.clear();
    AudioStreamCopy = false;
}

void TCustomFFmpeg::new_subtitle_stream(AVFormatContext *oc, int32_t fileIndex)
{
    std::vector<const AVBitStreamFilter *> filters = std::move(SubtitleBitstreamFilters);
    SubtitleBitstreamFilters.clear();

    const AVCodec *named = nullptr;
    if (!SubtitleStreamCopy && !FindCodec(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, true, named)) {
        SubtitleCodecName.clear();
        throw FFmpegException(LastError);
    }

    AVStream *st = nullptr;
    AVCodecContext *c = AddOutputStream(oc, fileIndex, named, AVMEDIA_TYPE_SUBTITLE, SubtitleStreamCopy,
                                        std::move(filters), st);
    if (!c) {
        SubtitleCodecName.clear();
        SubtitleLanguage.clear();
        throw FFmpegException("Could not alloc stream");
    }
    if (!SubtitleStreamCopy) {
        // Generic subtitle options go into the encoder, as for video and audio.
        CopyContextOptions(OptionContexts, c, OptionContexts.Codec[AVMEDIA_TYPE_SUBTITLE],
                           AV_OPT_FLAG_SUBTITLE_PARAM | AV_OPT_FLAG_ENCODING_PARAM);
        OfferPrivateOptions(c->priv_data, c->codec ? c->codec->priv_class : nullptr,
                            &OutputEncoderOptions[fileIndex][size_t(st->index)]);
        c->codec_id = named ? named->id : AV_CODEC_ID_NONE;
    }

    OutputCodecs.push_back(named);
    if (!SubtitleLanguage.empty()) {
        lav::av_dict_set(&st->metadata, "language", SubtitleLanguage.c_str(), 0);
        SubtitleLanguage.clear();
    }
    lav::avcodec_parameters_from_context(st->codecpar, c);

    SubtitleDisable = false;
    SubtitleCodecName.clear();
    SubtitleStreamCopy = false;
}

namespace {
void RequireAnOutput(int32_t numOutputFiles)
{
    if (numOutputFiles < 1) throw FFmpegException("At least one output file must be specified");
}
} // namespace

void TCustomFFmpeg::NewVideoStream()
{
    RequireAnOutput(NumOutputFiles);
    new_video_stream(OutputFiles[NumOutputFiles - 1], NumOutputFiles - 1);
}

void TCustomFFmpeg::NewAudioStream()
{
    RequireAnOutput(NumOutputFiles);
    new_audio_stream(OutputFiles[NumOutputFiles - 1], NumOutputFiles - 1);
}

void TCustomFFmpeg::NewSubtitleStream()
{
    RequireAnOutput(NumOutputFiles);
    new_subtitle_stream(OutputFiles[NumOutputFiles - 1], NumOutputFiles - 1);
}

int32_t TCustomFFmpeg::OpenOutput(const std::u16string &fileName)
{
    if (NumOutputFiles >= MAX_FILES)
        throw FFmpegException("Too many output files (at most " + std::to_string(MAX_FILES) + ")");

    const std::string displayName = MyUtils::Utf16ToUtf8(fileName);
    const std::string name = ProtocolFileName(fileName);
    const int32_t index = NumOutputFiles;
    const size_t outputCodecsBefore = OutputCodecs.size();
    AVFormatContext *oc = nullptr;
    bool registered = false;

    // Every refusal: the message, and the tables as they were before the call.
    auto fail = [&](const std::string &message) {
        LastError = message;
        if (registered) {
            NumOutputFiles = index;
            OutputFiles[index] = nullptr;
        }
        ReleaseOutputStreamTables(index);
        if (oc) {
            if (oc->pb && (oc->flags & AVFMT_FLAG_CUSTOM_IO))
                CloseUnicodeIO(&oc->pb);
            else if (oc->pb)
                lav::avio_closep(&oc->pb);
            lav::avformat_free_context(oc);
        }
        OutputCodecs.resize(outputCodecsBefore);
        OutputFormat = nullptr;
        InputFormat = nullptr;
        return -1;
    };
    // Tables left over from an output that was never registered are not this one's.
    ReleaseOutputStreamTables(index);

    if (!VideoFilters.empty() && CropTop + CropBottom + CropLeft + CropRight != 0)
        return fail("Cannot enable crop options and filters at the same time.");
    if ((PadTop | PadBottom | PadLeft | PadRight) != 0 && FiltersResize(VideoFilters))
        return fail("Cannot enable pad options and the filters which resize frame at the same time. (crop, "
                    "rotate, scale, transpose, etc.)");
    UsingVideoFilters = !VideoFilters.empty();

    if (!OutputFormat) OutputFormat = lav::av_guess_format(nullptr, name.c_str(), nullptr);
    if (!OutputFormat) return fail("Unable to find a suitable output format for '" + displayName + "'");
    // The muxer's private data comes with the context, so that its options
    // can be set before the header is written.
    const int allocated = lav::avformat_alloc_output_context2(&oc, OutputFormat, nullptr, name.c_str());
    if (allocated < 0 || !oc)
        return fail(OpenErrorText(displayName, allocated < 0 ? allocated : AVERROR(ENOMEM)));
    const AVOutputFormat *format = oc->oformat;

    try {
        bool useVideo = format->video_codec != AV_CODEC_ID_NONE || VideoStreamCopy || !VideoCodecName.empty();
        bool useAudio = format->audio_codec != AV_CODEC_ID_NONE || AudioStreamCopy || !AudioCodecName.empty();
        bool useSubtitle =
            format->subtitle_codec != AV_CODEC_ID_NONE || SubtitleStreamCopy || !SubtitleCodecName.empty();
        if (NumInputFiles > 0) {
            bool hasVideo = false, hasAudio = false, hasSubtitle = false;
            try {
                check_audio_video_sub_inputs(hasVideo, hasAudio, hasSubtitle);
            } catch (const FFmpegException &e) {
                return fail(std::string("check_audio_video_sub_inputs fail: ") + e.what());
            }
            useVideo = useVideo && hasVideo;
            useAudio = useAudio && hasAudio;
            useSubtitle = useSubtitle && hasSubtitle;
        }
        useAudio = useAudio && !AudioDisable;
        useVideo = useVideo && !VideoDisable;
        useSubtitle = useSubtitle && !SubtitleDisable;

        const char *creator = "";
        try {
            if (useVideo) {
                creator = "new_video_stream";
                new_video_stream(oc, index);
            }
            if (useAudio) {
                creator = "new_audio_stream";
                new_audio_stream(oc, index);
            }
            if (useSubtitle) {
                creator = "new_subtitle_stream";
                new_subtitle_stream(oc, index);
            }
        } catch (const FFmpegException &e) {
            return fail(std::string(creator) + " fail: " + e.what());
        }
    } catch (const std::exception &e) {
        return fail(e.what());
    }

    // The recording date is the muxers' creation time now.
    if (RecTimestamp != 0) {
        const std::time_t seconds = std::time_t(RecTimestamp);
        std::tm utc{};
        char text[32];
        if (gmtime_r(&seconds, &utc) && std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc))
            lav::av_dict_set(&oc->metadata, "creation_time", text, 0);
    }
    // Last given first, so that the first of two equal keys stays.
    for (auto pair = Metadata.rbegin(); pair != Metadata.rend(); ++pair)
        lav::av_dict_set(&oc->metadata, pair->first.c_str(), pair->second.c_str(), 0);
    Metadata.clear();

    OutputFiles[index] = oc;
    NumOutputFiles = index + 1;
    registered = true;

    if ((format->flags & AVFMT_NEEDNUMBER) && !lav::av_filename_number_test(name.c_str()))
        return fail(OpenErrorText(displayName, AVERROR(EDOM)));

    // The muxer's parameters come before the file is opened, so that a
    // refused one creates no file.
    if (OfferPrivateOptions(oc->priv_data, format->priv_class, &OutputMuxerOptions[index]) < 0)
        return fail(displayName + ": Invalid encoding parameters");
    const bool muxerOptions = oc->priv_data && format->priv_class;
    if (muxerOptions && lav::av_opt_find(oc->priv_data, "preload", nullptr, 0, 0))
        lav::av_opt_set_int(oc->priv_data, "preload", SaturatedCast<int>(MuxPreload * 1000000.0f), 0);
    oc->max_delay = SaturatedCast<int>(MuxMaxDelay * 1000000.0f);
    if (muxerOptions && lav::av_opt_find(oc->priv_data, "loop", nullptr, 0, 0))
        lav::av_opt_set_int(oc->priv_data, "loop", LoopOutput, 0);
    CopyContextOptions(OptionContexts, oc, OptionContexts.Format, AV_OPT_FLAG_ENCODING_PARAM);

    if (!(format->flags & AVFMT_NOFILE)) {
        int r;
        if (IsUnicodeProtocolName(name)) {
            r = OpenUnicodeIO(name, AVIO_FLAG_WRITE, &oc->pb);
            if (r >= 0) oc->flags |= AVFMT_FLAG_CUSTOM_IO;
        } else {
            r = lav::avio_open(&oc->pb, name.c_str(), AVIO_FLAG_WRITE);
        }
        if (r < 0) return fail("Could not open '" + displayName + "'");
    }

    OutputFormat = nullptr;
    InputFormat = nullptr;
    return NumOutputFiles;
}
