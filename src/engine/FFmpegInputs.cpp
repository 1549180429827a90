// Input files: the demuxer opened with the options given so far, one decoder
// context per stream, and the input's picture and sound parameters taken over
// as the defaults of the outputs that follow. Also what inputs and outputs
// share: codec lookup by name, the private options offered to demuxers,
// decoders, muxers and encoders, and the release of the per-stream tables.
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>

#include <sys/stat.h>

#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "UnicodeProtocol.h"

namespace {
std::string Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// Codec names that only the old libraries had (or that the window's tables
// use), and the codec that does their work now.
struct TRenamedCodec {
    const char *Name;
    bool Encoder;
    const char *CurrentName;
};
const TRenamedCodec RenamedCodecs[] = {
    {"libfaac", true, "aac"}, {"libfaad", false, "aac"}, {"avc", true, "libx264"}};

double RatioOf(AVRational r) { return r.den ? double(r.num) / r.den : 0.0; }

// Everything an input holds until it is recorded in the engine's tables; what
// is still here when it goes is released.
struct TPendingInput {
    AVFormatContext *Context = nullptr;
    bool Opened = false; // avformat_open_input succeeded
    AVIOContext *UnicodeIO = nullptr;
    AVDictionary *Parameters = nullptr;
    std::vector<AVCodecContext *> Decoders;

    ~TPendingInput()
    {
        for (AVCodecContext *&c : Decoders) lav::avcodec_free_context(&c);
        if (Opened)
            lav::avformat_close_input(&Context);
        else if (Context)
            lav::avformat_free_context(Context);
        if (UnicodeIO) CloseUnicodeIO(&UnicodeIO);
        lav::av_dict_free(&Parameters);
    }
};
} // namespace

const AVCodec *TCustomFFmpeg::FindCodecByName(const std::string &name, bool encoder)
{
    std::string lookup = name;
    for (const TRenamedCodec &renamed : RenamedCodecs)
        if (renamed.Encoder == encoder && name == renamed.Name) {
            lookup = renamed.CurrentName;
            const std::string note = std::string(encoder ? "encoder" : "decoder") + " " + name;
            bool logged = false;
            for (const std::string &n : FRenamedCodecsLogged) logged = logged || n == note;
            if (!logged) {
                FRenamedCodecsLogged.push_back(note);
                Log(1, "The " + note + " is now the " + lookup + " " + (encoder ? "encoder" : "decoder"));
            }
        }
    return encoder ? lav::avcodec_find_encoder_by_name(lookup.c_str())
                   : lav::avcodec_find_decoder_by_name(lookup.c_str());
}

bool TCustomFFmpeg::FindCodec(const std::string &name, AVMediaType type, bool encoder, const AVCodec *&codec)
{
    codec = nullptr;
    if (name.empty()) return true;
    const char *word = encoder ? "encoder" : "decoder";
    const AVCodec *found = FindCodecByName(name, encoder);
    if (!found) {
        LastError = Printf("Unknown %s '%s'", word, name.c_str());
        return false;
    }
    if (found->type != type) {
        LastError = Printf("Invalid %s type '%s'", word, name.c_str());
        return false;
    }
    codec = found;
    return true;
}

bool TCustomFFmpeg::FindCodecId(const std::string &name, AVMediaType type, bool encoder, AVCodecID &id)
{
    const AVCodec *codec = nullptr;
    const bool found = FindCodec(name, type, encoder, codec);
    id = codec ? codec->id : AV_CODEC_ID_NONE;
    return found;
}

void TCustomFFmpeg::check_audio_video_sub_inputs(bool &hasVideo, bool &hasAudio, bool &hasSubtitle)
{
    hasVideo = hasAudio = hasSubtitle = false;
    for (int f = 0; f < NumInputFiles && f < MAX_FILES; ++f) {
        const AVFormatContext *input = InputFiles[f];
        if (!input) continue;
        for (unsigned s = 0; s < input->nb_streams; ++s) {
            const int type = input->streams[s]->codecpar->codec_type;
            if (type < AVMEDIA_TYPE_UNKNOWN || type >= AVMEDIA_TYPE_NB)
                throw FFmpegException("invalid codec_type of input file");
            hasVideo = hasVideo || type == AVMEDIA_TYPE_VIDEO;
            hasAudio = hasAudio || type == AVMEDIA_TYPE_AUDIO;
            hasSubtitle = hasSubtitle || type == AVMEDIA_TYPE_SUBTITLE;
        }
    }
}

int TCustomFFmpeg::OfferPrivateOptions(void *privateContext, const AVClass *privateClass,
                                       AVDictionary **taken)
{
    // Only private data with a class has options (and starts with the class).
    if (!privateContext || !privateClass) return 0;
    int result = 0;
    for (const auto &[name, value] : PendingPrivateOptions) {
        const int r = lav::av_opt_set(privateContext, name.c_str(), value.c_str(), 0);
        if (r == AVERROR_OPTION_NOT_FOUND) continue;
        if (r < 0) {
            Log(0, "Invalid value \"" + value + "\" for option \"" + name + "\"");
            if (result == 0) result = r;
            continue;
        }
        MarkPrivateOptionTaken(name);
        if (taken) lav::av_dict_set(taken, name.c_str(), value.c_str(), 0);
    }
    return result;
}

void TCustomFFmpeg::MarkPrivateOptionTaken(const std::string &name)
{
    for (const std::string &n : FPrivateOptionsTaken)
        if (n == name) return;
    FPrivateOptionsTaken.push_back(name);
}

void TCustomFFmpeg::ReportUnusedPrivateOptions()
{
    for (const auto &option : PendingPrivateOptions) {
        bool known = false;
        for (const std::string &n : FPrivateOptionsTaken) known = known || n == option.first;
        for (const std::string &n : FPrivateOptionsReported) known = known || n == option.first;
        if (known) continue;
        FPrivateOptionsReported.push_back(option.first);
        Log(0,
            "Option " + option.first + " (" + option.second + ") was not used by any input, output or codec");
    }
}

void TCustomFFmpeg::ForgetCodecContext(const AVCodecContext *context)
{
    if (!context) return;
    for (auto &file : InputDecoders)
        for (AVCodecContext *&c : file)
            if (c == context) c = nullptr;
    for (auto &file : OutputEncoders)
        for (AVCodecContext *&c : file)
            if (c == context) c = nullptr;
}

void TCustomFFmpeg::ReleaseOutputStreamTables(int32_t fileIndex)
{
    if (fileIndex < 0 || fileIndex >= MAX_FILES) return;
    for (AVCodecContext *&c : OutputEncoders[fileIndex]) {
        std::lock_guard<std::mutex> lock(CodecLock);
        lav::avcodec_free_context(&c);
    }
    OutputEncoders[fileIndex].clear();
    for (AVDictionary *&d : OutputEncoderOptions[fileIndex]) lav::av_dict_free(&d);
    OutputEncoderOptions[fileIndex].clear();
    OutputStreamCopy[fileIndex].clear();
    BitstreamFilters[fileIndex].clear();
    lav::av_dict_free(&OutputMuxerOptions[fileIndex]);
}

void TCustomFFmpeg::ReleaseFileTables()
{
    for (auto &file : InputDecoders) {
        for (AVCodecContext *&c : file) {
            std::lock_guard<std::mutex> lock(CodecLock);
            lav::avcodec_free_context(&c);
        }
        file.clear();
    }
    for (int f = 0; f < MAX_FILES; ++f) ReleaseOutputStreamTables(f);
    InputCodecs.clear();
    OutputCodecs.clear();
    FPrivateOptionsTaken.clear();
    FPrivateOptionsReported.clear();
}

TCustomFFmpeg::TFileIdentity TCustomFFmpeg::IdentityOf(const std::string &name)
{
    TFileIdentity identity;
    identity.Name = name;
    std::string path = name;
    if (path.compare(0, 5, "file:") == 0) path.erase(0, 5);
    if (path.empty() || path == "-" || path.compare(0, 5, "pipe:") == 0) return identity;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return identity;
    identity.Known = true;
    identity.Regular = S_ISREG(st.st_mode);
    identity.Device = uint64_t(st.st_dev);
    identity.Inode = uint64_t(st.st_ino);
    return identity;
}

namespace {
// Whether some demuxer recognises the contents of the file `name` (a local
// file, read again).
bool Recognised(const std::string &name)
{
    AVIOContext *pb = nullptr;
    const bool unicode = IsUnicodeProtocolName(name);
    if ((unicode ? OpenUnicodeIO(name, AVIO_FLAG_READ, &pb)
                 : lav::avio_open2(&pb, name.c_str(), AVIO_FLAG_READ, nullptr, nullptr)) < 0)
        return true;
    const AVInputFormat *format = nullptr;
    const int r = lav::av_probe_input_buffer2(pb, &format, name.c_str(), nullptr, 0, 0);
    if (unicode)
        CloseUnicodeIO(&pb);
    else
        lav::avio_closep(&pb);
    // A score of 1 is a match by the name's extension alone.
    return r > 1 && format;
}
} // namespace

bool TCustomFFmpeg::OpenInput(const std::u16string &fileName)
{
    if (NumInputFiles >= MAX_FILES)
        throw FFmpegException("Too many input files (at most " + std::to_string(MAX_FILES) + ")");

    // The options meant for this input are reset however the open ends.
    struct TResetInputOptions {
        TCustomFFmpeg &Engine;
        ~TResetInputOptions()
        {
            Engine.InputFormat = nullptr;
            Engine.OutputFormat = nullptr;
            Engine.VideoChannel = 0;
            Engine.VideoCodecName.clear();
            Engine.AudioCodecName.clear();
            Engine.SubtitleCodecName.clear();
        }
    } resetOptions{*this};

    const std::string displayName = MyUtils::Utf16ToUtf8(fileName);
    // "-" alone is standard input.
    std::string name = fileName == u"-" ? std::string("pipe:") : ProtocolFileName(fileName);
    // An image sequence's demuxer looks for its numbered files through the
    // libraries' own file checks, which know no custom I/O: it gets the
    // UTF-8 path itself, which the file system takes in any locale.
    if (IsUnicodeProtocolName(name) && lav::av_filename_number_test(displayName.c_str())) name = displayName;
    const int32_t index = NumInputFiles;
    const size_t inputCodecsBefore = InputCodecs.size();
    TPendingInput input;
    auto fail = [&](const std::string &message) {
        InputCodecs.resize(inputCodecsBefore);
        LastError = message;
        return false;
    };

    // An output already being written is no input.
    const TFileIdentity identity = IdentityOf(displayName);
    for (int k = 0; identity.Known && k < NumOutputFiles && k < MAX_FILES; ++k)
        if (OutputIdentities[k].Known && OutputIdentities[k].Device == identity.Device &&
            OutputIdentities[k].Inode == identity.Inode)
            return fail("Input file '" + displayName + "' is the output file '" + OutputIdentities[k].Name +
                        "'");

    input.Context = lav::avformat_alloc_context();
    if (!input.Context) return fail(OpenErrorText(displayName, AVERROR(ENOMEM)));
    AVFormatContext *ic = input.Context;
    UseUnicodeIOFor(ic);

    // What the demuxer may take: the picture and sound parameters given so
    // far, and the private options nothing else knows. Unset values stay out.
    AVDictionary *&parameters = input.Parameters;
    if (AudioSampleRate > 0) lav::av_dict_set_int(&parameters, "sample_rate", AudioSampleRate, 0);
    if (AudioChannels > 0) lav::av_dict_set_int(&parameters, "channels", AudioChannels, 0);
    if (FrameRate.num > 0 && FrameRate.den > 0)
        lav::av_dict_set(&parameters, "framerate",
                         (std::to_string(FrameRate.num) + "/" + std::to_string(FrameRate.den)).c_str(), 0);
    const int64_t width = int64_t(FrameWidth) + PadLeft + PadRight;
    const int64_t height = int64_t(FrameHeight) + PadTop + PadBottom;
    if (width > 0 && height > 0 && width <= INT_MAX && height <= INT_MAX)
        lav::av_dict_set(&parameters, "video_size",
                         (std::to_string(width) + "x" + std::to_string(height)).c_str(), 0);
    if (FramePixFmt >= 0) {
        if (const char *pixFmt = lav::av_get_pix_fmt_name(AVPixelFormat(FramePixFmt)))
            lav::av_dict_set(&parameters, "pixel_format", pixFmt, 0);
    }
    if (VideoChannel != 0) lav::av_dict_set_int(&parameters, "channel", VideoChannel, 0);
    if (!VideoStandard.empty()) lav::av_dict_set(&parameters, "standard", VideoStandard.c_str(), 0);
    for (const auto &[optionName, value] : PendingPrivateOptions)
        if (!lav::av_dict_get(parameters, optionName.c_str(), nullptr, 0))
            lav::av_dict_set(&parameters, optionName.c_str(), value.c_str(), 0);

    // Decoders forced by name: the demuxer reports their codec ids.
    AVCodecID videoId = AV_CODEC_ID_NONE, audioId = AV_CODEC_ID_NONE, subtitleId = AV_CODEC_ID_NONE;
    if (!FindCodecId(VideoCodecName, AVMEDIA_TYPE_VIDEO, false, videoId)) return fail(LastError);
    if (!FindCodecId(AudioCodecName, AVMEDIA_TYPE_AUDIO, false, audioId)) return fail(LastError);
    CopyContextOptions(OptionContexts, ic, OptionContexts.Format, AV_OPT_FLAG_DECODING_PARAM);
    if (!FindCodecId(SubtitleCodecName, AVMEDIA_TYPE_SUBTITLE, false, subtitleId)) return fail(LastError);
    ic->video_codec_id = videoId != AV_CODEC_ID_NONE ? videoId : PgmyuvCompat ? AV_CODEC_ID_PGMYUV : videoId;
    ic->audio_codec_id = audioId;
    ic->subtitle_codec_id = subtitleId;

    int r = 0;
    if (IsUnicodeProtocolName(name)) {
        r = OpenUnicodeIO(name, AVIO_FLAG_READ, &input.UnicodeIO);
        if (r >= 0) {
            ic->pb = input.UnicodeIO;
            ic->flags |= AVFMT_FLAG_CUSTOM_IO;
        }
    }
    if (r >= 0) {
        // The library frees the context when the open fails.
        r = lav::avformat_open_input(&input.Context, name.c_str(), InputFormat, &parameters);
        input.Opened = r >= 0;
        ic = input.Context;
    }
    if (r == AVERROR_INVALIDDATA && !InputFormat && identity.Regular && !Recognised(name))
        r = AVERROR_DEMUXER_NOT_FOUND;
    if (r < 0) return fail(OpenErrorText(displayName, r));
    for (const auto &option : PendingPrivateOptions)
        if (!lav::av_dict_get(parameters, option.first.c_str(), nullptr, 0))
            MarkPrivateOptionTaken(option.first);

    if (ProgramId != 0)
        for (unsigned p = 0; p < ic->nb_programs; ++p)
            if (ic->programs[p]->id != ProgramId) ic->programs[p]->discard = AVDISCARD_ALL;

    {
        std::lock_guard<std::mutex> lock(CodecLock);
        r = lav::avformat_find_stream_info(ic, nullptr);
    }
    if (r < 0 && Verbose >= 0)
        return fail(Printf("%s: could not find codec parameters", displayName.c_str()));

    int64_t timestamp = StartTime;
    if (ic->start_time != AV_NOPTS_VALUE) timestamp += ic->start_time;
    const bool seeked = StartTime != 0;
    if (seeked) {
        // A failed seek leaves the file where the library put it.
        lav::av_seek_frame(ic, -1, timestamp, AVSEEK_FLAG_BACKWARD);
        StartTime = 0;
    }

    for (unsigned s = 0; s < ic->nb_streams; ++s) {
        AVStream *st = ic->streams[s];
        const int type = st->codecpar->codec_type;
        if (type < AVMEDIA_TYPE_UNKNOWN || type >= AVMEDIA_TYPE_NB) {
            InputCodecs.resize(inputCodecsBefore);
            throw FFmpegException("invalid codec_type");
        }
        const std::string &codecName = type == AVMEDIA_TYPE_VIDEO      ? VideoCodecName
                                       : type == AVMEDIA_TYPE_AUDIO    ? AudioCodecName
                                       : type == AVMEDIA_TYPE_SUBTITLE ? SubtitleCodecName
                                                                       : std::string();
        const AVCodec *named = codecName.empty() ? nullptr : FindCodecByName(codecName, false);
        const AVCodec *decoder = named ? named : lav::avcodec_find_decoder(st->codecpar->codec_id);

        AVCodecContext *c = lav::avcodec_alloc_context3(decoder);
        if (c) input.Decoders.push_back(c);
        if (!c || lav::avcodec_parameters_to_context(c, st->codecpar) < 0)
            return fail(OpenErrorText(displayName, AVERROR(ENOMEM)));
        c->pkt_timebase = st->time_base;
        c->thread_count = ThreadCount;
        OfferPrivateOptions(c->priv_data, c->codec ? c->codec->priv_class : nullptr, nullptr);

        switch (type) {
        case AVMEDIA_TYPE_VIDEO: {
            CopyContextOptions(OptionContexts, c, OptionContexts.Codec[AVMEDIA_TYPE_VIDEO],
                               AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
            FrameHeight = c->height;
            FrameWidth = c->width;
            double aspect = st->sample_aspect_ratio.num ? RatioOf(st->sample_aspect_ratio)
                                                        : RatioOf(c->sample_aspect_ratio);
            if (c->width != 0 && c->height != 0) // a damaged size's product may overflow
                aspect = aspect != 0 ? aspect * c->width / c->height : double(c->width) / c->height;
            else if (aspect == 0)
                aspect = 4.0 / 3.0;
            FrameAspectRatio = float(aspect);
            if (c->pix_fmt == AV_PIX_FMT_NONE) c->pix_fmt = AVPixelFormat(0);
            FramePixFmt = c->pix_fmt;
            // The codec's frame rate is the stream's average rate now; the
            // container's is its real base rate.
            const AVRational codecRate = st->avg_frame_rate, realRate = st->r_frame_rate;
            if ((codecRate.num != realRate.num || codecRate.den != realRate.den) && Verbose > 0 && LogHandler)
                Log(1,
                    Printf(
                        "Seems stream %d codec frame rate differs from container frame rate: %2.2f (%d/%d) "
                        "-> %2.2f (%d/%d)",
                        int(s), RatioOf(codecRate), codecRate.num, codecRate.den, RatioOf(realRate),
                        realRate.num, realRate.den));
            FrameRate = realRate;
            InputCodecs.push_back(named);
            if (VideoDisable)
                st->discard = AVDISCARD_ALL;
            else if (VideoDiscard != 0)
                st->discard = AVDiscard(VideoDiscard);
            break;
        }
        case AVMEDIA_TYPE_AUDIO:
            CopyContextOptions(OptionContexts, c, OptionContexts.Codec[AVMEDIA_TYPE_AUDIO],
                               AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
            AudioChannelLayout =
                c->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? int64_t(c->ch_layout.u.mask) : int64_t(0);
            AudioChannels = c->ch_layout.nb_channels;
            AudioSampleRate = c->sample_rate;
            AudioSampleFmt = c->sample_fmt;
            InputCodecs.push_back(named);
            if (AudioDisable) st->discard = AVDISCARD_ALL;
            break;
        case AVMEDIA_TYPE_DATA: break;
        case AVMEDIA_TYPE_SUBTITLE:
            InputCodecs.push_back(named);
            if (SubtitleDisable) st->discard = AVDISCARD_ALL;
            break;
        default: InputCodecs.push_back(nullptr); break;
        }
    }

    // The duration in milliseconds; an unknown one is far below any total.
    const int64_t duration = ic->duration / 1000;
    if (duration > TotalDuration) TotalDuration = int32_t(std::min<int64_t>(duration, INT32_MAX));

    InputFiles[index] = ic;
    InputDecoders[index] = std::move(input.Decoders);
    input.Decoders.clear();
    input.Context = nullptr;
    input.Opened = false;
    input.UnicodeIO = nullptr; // closed with the file by Cleanup
    InputTsOffset[index] = CopyTs ? InputTsOffsetOption : InputTsOffsetOption - timestamp;
    InputClipStart[index] = seeked ? timestamp + InputTsOffset[index] : AV_NOPTS_VALUE;
    InputIdentities[index] = identity;
    if (Verbose >= 0) lav::av_dump_format(ic, index, name.c_str(), 0);
    NumInputFiles = index + 1;
    return true;
}
