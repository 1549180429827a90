// The transcode set-up: the working records, the binding of every output
// stream to the input stream that feeds it, stream copy or transcoding per
// output stream with its resources, two-pass statistics files, the stream
// mapping report, the encoders and decoders, and the metadata maps. Then the
// headers, the main loop and the end of the run (FFmpegMainLoop.cpp).
#include <algorithm>
#include <cstdarg>

#include "FFmpeg.h"
#include "FFmpegLoader.h"

std::string FormatText(const char *format, ...)
{
    char small[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return {};
    if (size_t(n) < sizeof small) return std::string(small, size_t(n));
    std::string out(size_t(n), '\0');
    va_start(args, format);
    std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    return out;
}

void TInputStreamState::Release()
{
    if (FilterGraph) lav::avfilter_graph_free(&FilterGraph);
    InFilter = OutFilter = nullptr;
    if (PictureRef) lav::av_frame_free(&PictureRef);
}

void TOutputStreamState::Release()
{
    if (LogFile) lav::my_fclose(LogFile);
    LogFile = nullptr;
    if (Fifo) lav::av_audio_fifo_free(Fifo);
    Fifo = nullptr;
    if (PictTmp) lav::av_frame_free(&PictTmp);
    if (ScaleContext) lav::sws_freeContext(ScaleContext);
    ScaleContext = nullptr;
    if (Resampler) lav::swr_free(&Resampler);
    for (AVBSFContext *&filter : Filters) lav::av_bsf_free(&filter);
    Filters.clear();
    for (AVPacket *&packet : FilterOutputs) lav::av_packet_free(&packet);
    FilterOutputs.clear();
    if (EncodeFrame) lav::av_frame_free(&EncodeFrame);
}

namespace {
AVMediaType OutputType(const TOutputStreamState &ost)
{
    if (ost.Encoder && ost.Encoder->codec_type != AVMEDIA_TYPE_UNKNOWN) return ost.Encoder->codec_type;
    return ost.Stream->codecpar->codec_type;
}

AVMediaType InputType(const TInputStreamState &ist) { return ist.Stream->codecpar->codec_type; }

// A picture of the given format and size with its own pixel buffer, or null.
AVFrame *AllocPicture(AVPixelFormat format, int width, int height)
{
    AVFrame *frame = lav::av_frame_alloc();
    if (!frame) return nullptr;
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (format == AV_PIX_FMT_NONE || width <= 0 || height <= 0 || lav::av_frame_get_buffer(frame, 0) < 0)
        lav::av_frame_free(&frame);
    return frame;
}

void DumpOutput(AVFormatContext *file, int index)
{
    lav::av_dump_format(file, index, file->url ? file->url : "", 1);
}
} // namespace

void TCustomFFmpeg::Transcode(AVFormatContext **outputFiles, int32_t numOutputFiles,
                              AVFormatContext **inputFiles, int32_t numInputFiles, TStreamMap *streamMaps,
                              int32_t numStreamMaps)
{
    try {
        SetUpTranscode(outputFiles, numOutputFiles, inputFiles, numInputFiles, streamMaps, numStreamMaps);
        WriteHeaders(outputFiles, numOutputFiles);
        RunMainLoop(inputFiles);
        EndOfRun(outputFiles, numOutputFiles);
    } catch (...) {
        ReleaseTranscodeState();
        throw;
    }
}

int32_t TCustomFFmpeg::FindStreamInProgram(AVFormatContext **inputFiles, int32_t numInputFiles,
                                           int32_t programId, AVMediaType type)
{
    for (int32_t f = 0; f < numInputFiles; ++f) {
        AVFormatContext *file = inputFiles[f];
        const TInputFileState &state = *InputFileStates[size_t(f)];
        for (unsigned p = 0; p < file->nb_programs; ++p) {
            const AVProgram *program = file->programs[p];
            if (program->id != programId) continue;
            for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
                const int32_t s = int32_t(program->stream_index[k]);
                if (s >= state.StreamCount) continue;
                const int32_t candidate = state.FirstStream + s;
                const TInputStreamState &ist = *InputStreamStates[size_t(candidate)];
                if (ist.Discard && InputType(ist) == type) return candidate;
            }
        }
    }
    return -1;
}

void TCustomFFmpeg::SetUpTranscode(AVFormatContext **outputFiles, int32_t numOutputFiles,
                                   AVFormatContext **inputFiles, int32_t numInputFiles,
                                   TStreamMap *streamMaps, int32_t numStreamMaps)
{
    // The records of an earlier run are gone from the open-codec lists now.
    if (OpenedEncoders.empty() && OpenedDecoders.empty()) {
        RetiredInputStreams.clear();
        RetiredOutputStreams.clear();
    }
    AudioBytes = VideoBytes = ExtraBytes = 0;
    DupFrames = DroppedFrames = 0;
    ReportedTime = 0;

    ReadPacket = lav::av_packet_alloc();
    EncodedPacket = lav::av_packet_alloc();
    CopiedPacket = lav::av_packet_alloc();
    DecodedFrame = lav::av_frame_alloc();
    FilterInput = lav::av_frame_alloc();
    if (!ReadPacket || !EncodedPacket || !CopiedPacket || !DecodedFrame || !FilterInput)
        throw FFmpegException("av_malloc fail");

    // 1, 2: input files and streams.
    int32_t inputStreamCount = 0;
    for (int32_t f = 0; f < numInputFiles; ++f) {
        auto state = std::make_unique<TInputFileState>();
        state->FirstStream = inputStreamCount;
        // The engine's tables hold MAX_STREAMS streams per file; packets of
        // streams beyond them are dropped like those of late streams.
        state->StreamCount = int32_t(std::min<unsigned>(inputFiles[f]->nb_streams, MAX_STREAMS));
        inputStreamCount += state->StreamCount;
        InputFileStates.push_back(std::move(state));
    }
    for (int32_t f = 0; f < numInputFiles; ++f) {
        for (int32_t s = 0; s < InputFileStates[size_t(f)]->StreamCount; ++s) {
            auto ist = std::make_unique<TInputStreamState>();
            ist->FileIndex = f;
            ist->StreamIndex = s;
            ist->Stream = inputFiles[f]->streams[s];
            const auto &decoders = InputDecoders[f];
            ist->Decoder = size_t(s) < decoders.size() ? decoders[size_t(s)] : nullptr;
            ist->Discard = 1;
            if (RateEmulation) ist->Start = lav::av_gettime();
            InputStreamStates.push_back(std::move(ist));
        }
    }

    // 3: every output file has streams.
    int32_t outputStreamCount = 0;
    for (int32_t f = 0; f < numOutputFiles; ++f) {
        AVFormatContext *file = outputFiles[f];
        if (!file->nb_streams) {
            DumpOutput(file, f);
            throw FFmpegException(FormatText("Output file #%d does not contain any stream", f));
        }
        outputStreamCount += int32_t(std::min<unsigned>(file->nb_streams, MAX_STREAMS));
    }

    // 4: stream maps.
    if (numStreamMaps > 0 && numStreamMaps != outputStreamCount)
        throw FFmpegException("Number of stream maps must match number of output streams");
    for (int32_t m = 0; m < numStreamMaps; ++m) {
        const TStreamMap &map = streamMaps[m];
        auto exists = [&](int32_t file, int32_t stream) {
            return file >= 0 && file < numInputFiles && stream >= 0 &&
                   stream < InputFileStates[size_t(file)]->StreamCount;
        };
        if (!exists(map.FileIndex, map.StreamIndex))
            throw FFmpegException(
                FormatText("Could not find input stream #%d.%d", map.FileIndex, map.StreamIndex));
        if (!exists(map.SyncFileIndex, map.SyncStreamIndex))
            throw FFmpegException(
                FormatText("Could not find sync stream #%d.%d", map.SyncFileIndex, map.SyncStreamIndex));
    }

    // 5: output streams and their sources.
    int32_t n = 0;
    for (int32_t f = 0; f < numOutputFiles; ++f) {
        AVFormatContext *file = outputFiles[f];
        const int32_t count = int32_t(std::min<unsigned>(file->nb_streams, MAX_STREAMS));
        for (int32_t s = 0; s < count; ++s, ++n) {
            auto owned = std::make_unique<TOutputStreamState>();
            TOutputStreamState &ost = *owned;
            OutputStreamStates.push_back(std::move(owned));
            ost.FileIndex = f;
            ost.StreamIndex = s;
            ost.Stream = file->streams[s];
            ost.Encoder = size_t(s) < OutputEncoders[f].size() ? OutputEncoders[f][size_t(s)] : nullptr;
            ost.StreamCopy = size_t(s) < OutputStreamCopy[f].size() && OutputStreamCopy[f][size_t(s)];
            const AVMediaType type = OutputType(ost);
            int32_t source = -1;
            if (numStreamMaps > 0) {
                const TStreamMap &map = streamMaps[n];
                source = InputFileStates[size_t(map.FileIndex)]->FirstStream + map.StreamIndex;
                if (InputType(*InputStreamStates[size_t(source)]) != type) {
                    DumpOutput(file, f);
                    throw FFmpegException(FormatText("Codec type mismatch for mapping #%d.%d -> #%d.%d",
                                                     map.FileIndex, map.StreamIndex, f, s));
                }
            } else {
                if (ProgramId) {
                    source = FindStreamInProgram(inputFiles, numInputFiles, ProgramId, type);
                } else {
                    for (int32_t j = 0; j < inputStreamCount && source < 0; ++j) {
                        const TInputStreamState &ist = *InputStreamStates[size_t(j)];
                        if (ist.Discard && InputType(ist) == type) source = j;
                    }
                    // Second pass: several output streams may take one input stream.
                    if (source < 0)
                        for (int32_t j = inputStreamCount - 1; j >= 0 && source < 0; --j)
                            if (InputType(*InputStreamStates[size_t(j)]) == type) source = j;
                }
                if (source < 0) {
                    DumpOutput(file, f);
                    throw FFmpegException(
                        FormatText("Could not find input stream matching output stream #%d.%d", f, s));
                }
            }
            ost.SourceIndex = source;
            InputStreamStates[size_t(source)]->Discard = 0;
            if (numStreamMaps > 0) {
                const TStreamMap &map = streamMaps[n];
                ost.SyncInput =
                    InputStreamStates[size_t(InputFileStates[size_t(map.SyncFileIndex)]->FirstStream +
                                             map.SyncStreamIndex)]
                        .get();
            } else {
                ost.SyncInput = InputStreamStates[size_t(source)].get();
            }
        }
    }

    // 7: parameters and resources per output stream.
    for (size_t i = 0; i < OutputStreamStates.size(); ++i) {
        TOutputStreamState &ost = *OutputStreamStates[i];
        TInputStreamState &ist = *InputStreamStates[size_t(ost.SourceIndex)];
        const AVDictionaryEntry *language = lav::av_dict_get(ist.Stream->metadata, "language", nullptr, 0);
        if (language && !lav::av_dict_get(ost.Stream->metadata, "language", nullptr, 0))
            lav::av_dict_set(&ost.Stream->metadata, "language", language->value, 0);
        ost.Stream->disposition = ist.Stream->disposition;

        if (ost.StreamCopy) {
            SetUpStreamCopy(ost, ist);
            continue;
        }
        if (!ost.Encoder) throw FFmpegException("invalid codec_type of output stream");
        switch (OutputType(ost)) {
        case AVMEDIA_TYPE_AUDIO: {
            AVCodecContext *enc = ost.Encoder;
            ost.Fifo =
                lav::av_audio_fifo_alloc(enc->sample_fmt, std::max(enc->ch_layout.nb_channels, 1), 1024);
            if (!ost.Fifo) throw FFmpegException("av_fifo_init fail");
            ost.ConvertPair = -6;
            const int inputRate = ist.Decoder ? ist.Decoder->sample_rate : ist.Stream->codecpar->sample_rate;
            ost.AudioResample = enc->sample_rate != inputRate || AudioSyncMethod > 1;
            ist.DecodingNeeded = 1;
            ost.EncodingNeeded = 1;
            break;
        }
        case AVMEDIA_TYPE_VIDEO: SetUpVideoTranscode(ost, ist); break;
        case AVMEDIA_TYPE_SUBTITLE:
            ost.EncodingNeeded = 1;
            ist.DecodingNeeded = 1;
            break;
        default: throw FFmpegException("invalid codec_type of output stream");
        }
        SetUpPassLogFile(ost, int32_t(i));
    }

    // 9: the outputs as they will be written.
    for (int32_t f = 0; f < numOutputFiles; ++f) DumpOutput(outputFiles[f], f);

    // 10: the stream mapping.
    if (Verbose >= 0 && LogHandler) {
        Log(1, "Stream mapping:");
        for (const auto &ost : OutputStreamStates) {
            const TInputStreamState &source = *InputStreamStates[size_t(ost->SourceIndex)];
            Log(1, FormatText("  Stream #%d.%d -> #%d.%d", source.FileIndex, source.StreamIndex,
                              ost->FileIndex, ost->StreamIndex));
            if (ost->SyncInput != &source)
                Log(1, FormatText(" [sync #%d.%d]", ost->SyncInput->FileIndex, ost->SyncInput->StreamIndex));
        }
    }

    // 11, 12: encoders, then decoders.
    for (size_t i = 0; i < OutputStreamStates.size(); ++i) {
        TOutputStreamState &ost = *OutputStreamStates[i];
        if (ost.EncodingNeeded) OpenEncoder(ost, int32_t(i));
    }
    for (size_t i = 0; i < InputStreamStates.size(); ++i) {
        TInputStreamState &ist = *InputStreamStates[i];
        if (ist.DecodingNeeded) OpenDecoder(ist, int32_t(i));
    }
    for (const auto &ost : OutputStreamStates) InitBitstreamFilters(*ost);

    // 13: input time stamps.
    for (const auto &ist : InputStreamStates) {
        ist->Pts = 0;
        ist->NextPts = AV_NOPTS_VALUE;
        ist->IsStart = 1;
        ist->NextPictureTime = AV_NOPTS_VALUE;
        const int64_t clip = InputClipStart[ist->FileIndex];
        ist->CutTime = StartTime != 0 ? StartTime : AV_NOPTS_VALUE;
        if (clip != AV_NOPTS_VALUE && (ist->CutTime == AV_NOPTS_VALUE || clip > ist->CutTime))
            ist->CutTime = clip;
    }

    // 14: metadata maps.
    CopyMetadataMaps(outputFiles, numOutputFiles, inputFiles, numInputFiles);
}

void TCustomFFmpeg::SetUpStreamCopy(TOutputStreamState &ost, TInputStreamState &ist)
{
    AVFormatContext *file = OutputFiles[ost.FileIndex];
    AVCodecParameters *par = ost.Stream->codecpar;
    const AVCodecParameters *in = ist.Stream->codecpar;
    const AVRational aspect = ost.Stream->sample_aspect_ratio;
    uint32_t tag = ost.Encoder ? ost.Encoder->codec_tag : par->codec_tag;
    if (lav::avcodec_parameters_copy(par, in) < 0) throw FFmpegException("av_malloc fail");
    if (!tag) {
        const AVCodecTag *const *tags = file->oformat->codec_tag;
        if (!tags || lav::av_codec_get_id(tags, in->codec_tag) != AV_CODEC_ID_NONE ||
            lav::av_codec_get_tag(tags, in->codec_id) == 0)
            tag = in->codec_tag;
    }
    par->codec_tag = tag;

    // A codec clock coarser than a fine stream clock gives the output one
    // tick per frame; otherwise it keeps the input stream's clock.
    AVRational timeBase = ist.Stream->time_base;
    const AVRational rate = ist.Stream->avg_frame_rate;
    if (rate.num > 0 && rate.den > 0) {
        const double perFrame = double(rate.den) / rate.num;
        const double streamTick = vm::av_q2d(ist.Stream->time_base);
        if (perFrame > streamTick && streamTick < 0.001) timeBase = AVRational{rate.den, rate.num};
    }
    ost.Stream->time_base = timeBase;
    if (ost.Encoder) ost.Encoder->time_base = timeBase;

    switch (par->codec_type) {
    case AVMEDIA_TYPE_AUDIO:
        if (AudioVolume != 256)
            throw FFmpegException("-acodec copy and -vol are incompatible (frames are not decoded)");
        if ((par->block_align == 1 && par->codec_id == AV_CODEC_ID_MP3) || par->codec_id == AV_CODEC_ID_AC3)
            par->block_align = 0;
        break;
    case AVMEDIA_TYPE_VIDEO:
        if (CustomHookHandler)
            throw FFmpegException("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
        if (UsingHooks)
            throw FFmpegException("-vcodec copy and -vhook are incompatible (frames are not decoded)");
        if (PreviewFlags != 0)
            throw FFmpegException("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
        if (aspect.num) par->sample_aspect_ratio = aspect;
        ost.Stream->avg_frame_rate = rate;
        break;
    case AVMEDIA_TYPE_SUBTITLE: break;
    default: throw FFmpegException("invalid codec_type of output stream");
    }
}

void TCustomFFmpeg::SetUpVideoTranscode(TOutputStreamState &ost, TInputStreamState &ist)
{
    AVCodecContext *enc = ost.Encoder;
    const AVCodecContext *dec = ist.Decoder;
    if (!dec)
        throw FFmpegException(FormatText("Unsupported codec (id=%d) for input stream #%d.%d",
                                         int(ist.Stream->codecpar->codec_id), ist.FileIndex,
                                         ist.StreamIndex));
    // Crops and pads are never negative; sizes are summed wide, as a damaged
    // input's size and large pads may not fit an int together.
    ost.CropEnabled = (CropTop | CropBottom | CropLeft | CropRight) != 0;
    ost.PadEnabled = (PadTop | PadBottom | PadLeft | PadRight) != 0;
    ost.NeedsScaling =
        enc->width != int64_t(dec->width) - (int64_t(CropLeft) + CropRight) + (int64_t(PadLeft) + PadRight) ||
        enc->height !=
            int64_t(dec->height) - (int64_t(CropTop) + CropBottom) + (int64_t(PadTop) + PadBottom) ||
        enc->pix_fmt != dec->pix_fmt;
    if (ost.CropEnabled) {
        ost.TopBand = CropTop;
        ost.LeftBand = CropLeft;
    }
    if (ost.PadEnabled) {
        ost.PadTopSize = PadTop;
        ost.PadBottomSize = PadBottom;
        ost.PadLeftSize = PadLeft;
        ost.PadRightSize = PadRight;
        if (!ost.NeedsScaling) {
            ost.PictTmp = AllocPicture(enc->pix_fmt, enc->width, enc->height);
            if (!ost.PictTmp) throw FFmpegException("avpicture_alloc fail");
        }
    }
    if (ost.NeedsScaling) {
        ost.PictTmp = AllocPicture(enc->pix_fmt, enc->width, enc->height);
        if (!ost.PictTmp) throw FFmpegException("Cannot allocate temp picture, check pix fmt");
        int64_t flags = SwsFlags;
        if (OptionContexts.Scaler) lav::av_opt_get_int(OptionContexts.Scaler, "sws_flags", 0, &flags);
        SwsFlags = uint32_t(flags);
        ost.ScaleContext = lav::sws_getContext(
            dec->width - CropLeft - CropRight, dec->height - CropTop - CropBottom, dec->pix_fmt,
            enc->width - PadLeft - PadRight, enc->height - PadTop - PadBottom, enc->pix_fmt, int(SwsFlags),
            nullptr, nullptr, nullptr);
        if (!ost.ScaleContext) throw FFmpegException("Cannot get resampling context");
        ost.ResampleHeight = UsingVideoFilters ? dec->height : dec->height - CropTop - CropBottom;
    }
    ost.ScaleInWidth = dec->width;
    ost.ScaleInHeight = dec->height;
    ost.ScaleInFormat = dec->pix_fmt;
    ost.EncodingNeeded = 1;
    ist.DecodingNeeded = 1;
    LastError.clear();
    if (UsingVideoFilters && BuildVideoFilters(ist, ost) < 0)
        throw FFmpegException(LastError.empty() ? "Error opening filters!"
                                                : "Error opening filters: " + LastError);
}

void TCustomFFmpeg::SetUpPassLogFile(TOutputStreamState &ost, int32_t index)
{
    AVCodecContext *enc = ost.Encoder;
    if (!ost.EncodingNeeded || !(enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2))) return;
    std::string name = (PassLogFilePrefix.empty() ? std::string("ffmpeg2pass") : PassLogFilePrefix) + "-" +
                       std::to_string(index) + ".log";
    if (name.size() >= 1024) name.resize(1023);
    if (enc->flags & AV_CODEC_FLAG_PASS1) {
        ost.LogFile = lav::my_fopen(name.c_str(), "w");
        if (!ost.LogFile)
            throw FFmpegException(FormatText("Cannot write log file %s for pass-1 encoding", name.c_str()));
        return;
    }
    FILE *file = lav::my_fopen(name.c_str(), "r");
    if (!file) throw FFmpegException(FormatText("Cannot read log file %s for pass-2 encoding", name.c_str()));
    lav::my_fseek(file, 0, SEEK_END);
    const long size = std::max(lav::my_ftell(file), 0L);
    lav::my_fseek(file, 0, SEEK_SET);
    char *buffer = static_cast<char *>(lav::av_malloc(size_t(size) + 1));
    if (!buffer) {
        lav::my_fclose(file);
        throw FFmpegException("Could not allocate log buffer");
    }
    const size_t got = lav::my_fread(buffer, 1, size_t(size), file);
    lav::my_fclose(file);
    buffer[got] = '\0';
    lav::av_freep(&enc->stats_in);
    enc->stats_in = buffer; // the encoder's from now on
}

void TCustomFFmpeg::OpenEncoder(TOutputStreamState &ost, int32_t index)
{
    AVCodecContext *enc = ost.Encoder;
    const AVCodec *codec = size_t(index) < OutputCodecs.size() ? OutputCodecs[size_t(index)] : nullptr;
    if (enc->codec) codec = enc->codec;
    if (!codec) codec = lav::avcodec_find_encoder(enc->codec_id);
    if (!codec)
        throw FFmpegException(
            FormatText("Unsupported codec for output stream #%d.%d", ost.FileIndex, ost.StreamIndex));
    TInputStreamState &ist = *InputStreamStates[size_t(ost.SourceIndex)];
    if (enc->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        // Text subtitle encoders take their style header from the decoder,
        // which makes it when it opens.
        if (ist.DecodingNeeded) OpenDecoder(ist, ost.SourceIndex);
        if (ist.Decoder && ist.Decoder->subtitle_header_size > 0 && !enc->subtitle_header) {
            enc->subtitle_header =
                static_cast<uint8_t *>(lav::av_mallocz(size_t(ist.Decoder->subtitle_header_size) + 1));
            if (enc->subtitle_header) {
                std::copy_n(ist.Decoder->subtitle_header, ist.Decoder->subtitle_header_size,
                            enc->subtitle_header);
                enc->subtitle_header_size = ist.Decoder->subtitle_header_size;
            }
        }
        if (enc->time_base.num <= 0 || enc->time_base.den <= 0) enc->time_base = ist.Stream->time_base;
    }
    // 0: frame and slice threads as the codec supports, one per core.
    enc->thread_count = ThreadCount;
    // The private options this encoder took when it was made.
    AVDictionary *options = nullptr;
    const auto &taken = OutputEncoderOptions[ost.FileIndex];
    if (size_t(ost.StreamIndex) < taken.size() && taken[size_t(ost.StreamIndex)])
        lav::av_dict_copy(&options, taken[size_t(ost.StreamIndex)], 0);
    {
        std::lock_guard<std::mutex> lock(CodecLock);
        const int result = lav::avcodec_open2(enc, codec, &options);
        if (result < 0) {
            lav::av_dict_free(&options);
            throw FFmpegException(FormatText("Error while opening codec for output stream #%d.%d - maybe "
                                             "incorrect parameters such as bit_rate, rate, width or height",
                                             ost.FileIndex, ost.StreamIndex));
        }
        RegisterEncoder(&ost);
    }
    lav::av_dict_free(&options);
    ExtraBytes += enc->extradata_size;
    ost.Quality = (enc->flags & AV_CODEC_FLAG_QSCALE) ? float(enc->global_quality) : 0.0f;

    if (lav::avcodec_parameters_from_context(ost.Stream->codecpar, enc) < 0)
        throw FFmpegException("av_malloc fail");
    ost.Stream->time_base = enc->time_base;
    if (enc->codec_type == AVMEDIA_TYPE_VIDEO)
        ost.Stream->avg_frame_rate = AVRational{enc->time_base.den, enc->time_base.num};
    if (enc->codec_type == AVMEDIA_TYPE_AUDIO || enc->codec_type == AVMEDIA_TYPE_VIDEO) {
        ost.EncodeFrame = lav::av_frame_alloc();
        if (!ost.EncodeFrame) throw FFmpegException("av_malloc fail");
    }
}

void TCustomFFmpeg::OpenDecoder(TInputStreamState &ist, int32_t index)
{
    if (ist.Decoder && lav::avcodec_is_open(ist.Decoder)) return;
    AVCodecContext *dec = ist.Decoder;
    const AVMediaType type = InputType(ist);
    const AVCodec *codec = size_t(index) < InputCodecs.size() ? InputCodecs[size_t(index)] : nullptr;
    if (codec && codec->type != type) codec = nullptr;
    if (dec && dec->codec) codec = dec->codec;
    if (!codec) codec = lav::avcodec_find_decoder(ist.Stream->codecpar->codec_id);
    if (!codec || !dec)
        throw FFmpegException(FormatText("Unsupported codec (id=%d) for input stream #%d.%d",
                                         int(ist.Stream->codecpar->codec_id), ist.FileIndex,
                                         ist.StreamIndex));
    dec->thread_count = ThreadCount;
    if (dec->pkt_timebase.num <= 0) dec->pkt_timebase = ist.Stream->time_base;
    std::lock_guard<std::mutex> lock(CodecLock);
    if (lav::avcodec_open2(dec, codec, nullptr) < 0)
        throw FFmpegException(
            FormatText("Error while opening codec for input stream #%d.%d", ist.FileIndex, ist.StreamIndex));
    RegisterDecoder(&ist);
}

void TCustomFFmpeg::InitBitstreamFilters(TOutputStreamState &ost)
{
    const auto &chains = BitstreamFilters[ost.FileIndex];
    if (size_t(ost.StreamIndex) >= chains.size()) return;
    const auto &chain = chains[size_t(ost.StreamIndex)];
    const AVCodecParameters *par = ost.Stream->codecpar;
    AVRational timeBase = ost.Stream->time_base;
    for (const AVBitStreamFilter *filter : chain) {
        if (!filter) continue;
        AVBSFContext *context = nullptr;
        if (lav::av_bsf_alloc(filter, &context) < 0) throw FFmpegException("av_malloc fail");
        int result = lav::avcodec_parameters_copy(context->par_in, par);
        if (result < 0) {
            lav::av_bsf_free(&context);
            throw FFmpegException("av_malloc fail");
        }
        context->time_base_in = timeBase;
        result = lav::av_bsf_init(context);
        if (result < 0) {
            // A filter that cannot take this stream is left out of its chain,
            // as a filter failure is (fatal only with "xerror").
            lav::av_bsf_free(&context);
            const std::string message = OpenErrorText(
                FormatText("%s failed for stream %d, codec %s", filter->name, ost.StreamIndex,
                           ost.EncodingNeeded && ost.Encoder && ost.Encoder->codec ? ost.Encoder->codec->name
                                                                                   : "copy"),
                result);
            if (ExitOnError) throw FFmpegException(message);
            Log(0, message);
            continue;
        }
        ost.Filters.push_back(context);
        ost.FilterOutputs.push_back(lav::av_packet_alloc());
        if (!ost.FilterOutputs.back()) throw FFmpegException("av_malloc fail");
        par = context->par_out;
        timeBase = context->time_base_out;
    }
    // The muxer writes what the last filter puts out (new extra data, say).
    if (!ost.Filters.empty()) {
        if (lav::avcodec_parameters_copy(ost.Stream->codecpar, ost.Filters.back()->par_out) < 0)
            throw FFmpegException("av_malloc fail");
        ost.Stream->time_base = ost.Filters.back()->time_base_out;
    }
}

void TCustomFFmpeg::CopyMetadataMaps(AVFormatContext **outputFiles, int32_t numOutputFiles,
                                     AVFormatContext **inputFiles, int32_t numInputFiles)
{
    for (int32_t m = 0; m < NumMetadataMaps && m < MAX_METADATA_MAPS; ++m) {
        const TMetadataMap &map = MetadataMaps[m];
        if (map.OutFile < 0 || map.OutFile >= numOutputFiles)
            throw FFmpegException(FormatText("Invalid output file index %d map_meta_data(%d,%d)", map.OutFile,
                                             map.OutFile, map.InFile));
        if (map.InFile < 0 || map.InFile >= numInputFiles)
            throw FFmpegException(FormatText("Invalid input file index %d map_meta_data(%d,%d)", map.InFile,
                                             map.OutFile, map.InFile));
        const AVDictionaryEntry *entry = nullptr;
        while ((entry = lav::av_dict_get(inputFiles[map.InFile]->metadata, "", entry, AV_DICT_IGNORE_SUFFIX)))
            lav::av_dict_set(&outputFiles[map.OutFile]->metadata, entry->key, entry->value, 0);
    }
}

void TCustomFFmpeg::ReleaseTranscodeState()
{
    InputFileStates.clear();
    // The records themselves stay until the next set-up: codecs still in
    // the open-codec lists are closed through them by the run driver.
    for (auto &ist : InputStreamStates) {
        ist->Release();
        RetiredInputStreams.push_back(std::move(ist));
    }
    InputStreamStates.clear();
    for (auto &ost : OutputStreamStates) {
        ost->Release();
        RetiredOutputStreams.push_back(std::move(ost));
    }
    OutputStreamStates.clear();
    if (ReadPacket) lav::av_packet_free(&ReadPacket);
    if (EncodedPacket) lav::av_packet_free(&EncodedPacket);
    if (CopiedPacket) lav::av_packet_free(&CopiedPacket);
    if (DecodedFrame) lav::av_frame_free(&DecodedFrame);
    if (FilterInput) lav::av_frame_free(&FilterInput);
    if (SilenceFrame) lav::av_frame_free(&SilenceFrame);
    if (ConvertFrame) lav::av_frame_free(&ConvertFrame);
    if (SubtitleBuffer) lav::av_freep(&SubtitleBuffer);
}
