// The option language: the table of option names and their handlers, the
// defaults of every option member, the general options and the generic store.
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

#include "Convert.h"
#include "FFmpeg.h"

struct TCustomFFmpeg::TOptionRow {
    const char *Name;
    void (*Handler)(TCustomFFmpeg &engine, const std::string &name, const std::string &value);
};

namespace {
int32_t Int(const std::string &value) { return StrToInt(value); }
// A value beyond the float range is no valid value for a float option.
float Float(const std::string &value)
{
    const double v = StrToFloat(value);
    if (!(std::fabs(v) <= double(std::numeric_limits<float>::max())))
        throw EConvertError("'" + value + "' is not a valid floating point value");
    return float(v);
}
// A codec thread count: 0 (the libraries choose) or more; a negative
// value is not a count.
int32_t ThreadCountOf(const std::string &value)
{
    const int32_t count = StrToInt(value);
    if (count < 0) throw EConvertError("'" + value + "' is not a valid integer value");
    return count;
}
// True unless the value is exactly "0".
bool Flag(const std::string &value) { return value != "0"; }

// The C library's strtol with base 0 and its strtod in the "C" locale, each
// reading as far as it can; `p` moves past what was read.
int32_t CInteger(const char *&p)
{
    char *end = nullptr;
    long v = std::strtol(p, &end, 0);
    p = end;
    return int32_t(v);
}

double CFloat(const char *&p)
{
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(0));
    char *end = nullptr;
    double v = strtod_l(p, &end, cLocale);
    p = end;
    return v;
}

void SkipOne(const char *&p)
{
    if (*p) ++p;
}
} // namespace

// clang-format off
#define VM_OPTION(optionName, body)                                                                      \
    {optionName, []([[maybe_unused]] TCustomFFmpeg &e, [[maybe_unused]] const std::string &n,            \
                    [[maybe_unused]] const std::string &v) { body; }}
#define VM_NOOP(optionName) VM_OPTION(optionName, e.Log(1, "Do nothing: option - " + n))

const TCustomFFmpeg::TOptionRow TCustomFFmpeg::OptionTable[] = {
    VM_NOOP("L"),
    VM_NOOP("h"),
    VM_NOOP("version"),
    VM_NOOP("formats"),
    VM_OPTION("f", e.SetFormat(v)),
    VM_NOOP("i"),
    VM_NOOP("y"),
    VM_OPTION("map", e.AddStreamMap(v)),
    VM_OPTION("map_meta_data", e.AddMetadataMap(v)),
    VM_OPTION("t", {
        int64_t t = e.ParseTimeOrFail(n, v, true);
        if (t > 0) {
            e.RecordingTime = t;
            e.TotalDuration = int32_t(t / 1000);
        }
    }),
    VM_OPTION("fs", e.LimitFileSize = StrToInt64(v)),
    VM_OPTION("ss", e.StartTime = e.ParseTimeOrFail(n, v, true)),
    VM_OPTION("itsoffset", e.InputTsOffsetOption = e.ParseTimeOrFail(n, v, true)),
    VM_OPTION("itsscale", e.SetInputTsScale(v)),
    VM_OPTION("timestamp", e.RecTimestamp = std::llround(double(e.ParseTimeOrFail(n, v, false)) / 1000000.0)),
    VM_OPTION("metadata", e.AddMetadata(v)),
    VM_OPTION("dframes", e.MaxFrames[AVMEDIA_TYPE_DATA] = Int(v)),
    VM_NOOP("benchmark"),
    VM_OPTION("dump", e.PacketDump = Flag(v)),
    VM_OPTION("hex", e.HexDump = Flag(v)),
    VM_OPTION("re", e.RateEmulation = Flag(v)),
    VM_OPTION("loop_input", e.LoopInput = Flag(v)),
    VM_OPTION("loop_output", e.LoopOutput = Int(v)),
    VM_OPTION("v", e.SetVerbose(Int(v))),
    VM_OPTION("target", e.SetTargetText(v)),
    VM_OPTION("threads", e.ThreadCount = ThreadCountOf(v)),
    VM_OPTION("vsync", e.VideoSyncMethod = Int(v)),
    VM_OPTION("async", e.AudioSyncMethod = Int(v)),
    VM_OPTION("adrift_threshold", e.AudioDriftThreshold = Float(v)),
    VM_OPTION("vglobal", e.VideoGlobalHeader = Int(v)),
    VM_OPTION("copyts", e.CopyTs = true),
    VM_OPTION("shortest", e.Shortest = Flag(v)),
    VM_OPTION("dts_delta_threshold", e.DtsDeltaThreshold = Float(v)),
    VM_OPTION("programid", e.ProgramId = Int(v)),
    VM_OPTION("xerror", e.ExitOnError = true),
    VM_OPTION("copyinkf", e.CopyInitialNonKeyframes = Int(v)),
    // Video options.
    VM_OPTION("b", e.SetBitrate(n, v)),
    VM_OPTION("vb", e.SetBitrate(n, v)),
    VM_OPTION("vframes", e.MaxFrames[AVMEDIA_TYPE_VIDEO] = Int(v)),
    VM_OPTION("r", e.SetFrameRate(v)),
    VM_OPTION("s", e.SetFrameSize(v)),
    VM_OPTION("aspect", e.SetAspectRatio(v)),
    VM_OPTION("pix_fmt", e.SetPixelFormat(v)),
    VM_OPTION("croptop", e.SetCropTop(Int(v))),
    VM_OPTION("cropbottom", e.SetCropBottom(Int(v))),
    VM_OPTION("cropleft", e.SetCropLeft(Int(v))),
    VM_OPTION("cropright", e.SetCropRight(Int(v))),
    VM_OPTION("padtop", e.SetPadTop(Int(v))),
    VM_OPTION("padbottom", e.SetPadBottom(Int(v))),
    VM_OPTION("padleft", e.SetPadLeft(Int(v))),
    VM_OPTION("padright", e.SetPadRight(Int(v))),
    VM_OPTION("padcolor", e.SetPadColor(Int(v))),
    VM_OPTION("intra", e.IntraOnly = Flag(v)),
    VM_OPTION("vn", e.VideoDisable = Flag(v)),
    VM_OPTION("vdt", e.VideoDiscard = Int(v)),
    VM_OPTION("qscale", e.SetVideoQscale(Float(v))),
    VM_OPTION("rc_override", e.SetRcOverride(v)),
    VM_OPTION("vcodec", e.SetVideoCodec(v)),
    VM_OPTION("me_threshold", e.SetMeThreshold(Int(v))),
    VM_OPTION("sameq", e.SameQuality = Flag(v)),
    VM_OPTION("pass", e.SetPass(Int(v))),
    VM_OPTION("passlogfile", e.PassLogFilePrefix = v),
    VM_OPTION("deinterlace", e.Deinterlace = Flag(v)),
    VM_OPTION("psnr", e.DoPsnr = Flag(v)),
    VM_OPTION("vstats", e.SetVstats(true)),
    VM_OPTION("vstats_file", e.SetVstatsFile(v)),
    VM_OPTION("vhook", e.AddVideoHook(v)),
    VM_OPTION("vfilters", e.SetVideoFilters(v)),
    VM_OPTION("intra_matrix", e.SetIntraMatrix(v)),
    VM_OPTION("inter_matrix", e.SetInterMatrix(v)),
    VM_OPTION("top", e.SetTopFieldFirst(Int(v))),
    VM_OPTION("dc", e.IntraDcPrecision = Int(v)),
    VM_OPTION("vtag", e.SetVideoTag(v)),
    VM_OPTION("newvideo", e.NewVideoStream()),
    VM_OPTION("qphist", e.QpHist = Flag(v)),
    VM_OPTION("force_fps", e.ForceFps = Flag(v)),
    // Audio options.
    VM_OPTION("ab", e.SetBitrate(n, v)),
    VM_OPTION("aframes", e.MaxFrames[AVMEDIA_TYPE_AUDIO] = Int(v)),
    VM_OPTION("aq", e.AudioQscale = Float(v)),
    VM_OPTION("ar", e.SetAudioRate(Int(v))),
    VM_OPTION("ac", e.SetAudioChannels(Int(v))),
    VM_OPTION("an", e.AudioDisable = Flag(v)),
    VM_OPTION("acodec", e.SetAudioCodec(v)),
    VM_OPTION("atag", e.SetAudioTag(v)),
    VM_OPTION("vol", e.AudioVolume = Int(v)),
    VM_OPTION("newaudio", e.NewAudioStream()),
    VM_OPTION("alang", e.AudioLanguage = v),
    VM_OPTION("sample_fmt", e.SetSampleFormat(v)),
    // Subtitle options.
    VM_OPTION("sn", e.SubtitleDisable = Flag(v)),
    VM_OPTION("scodec", e.SetSubtitleCodec(v)),
    VM_OPTION("newsubtitle", e.NewSubtitleStream()),
    VM_OPTION("slang", e.SubtitleLanguage = v),
    // Capture inputs.
    VM_OPTION("vc", e.SetVideoChannel(Int(v))),
    VM_OPTION("tvstd", e.SetVideoStandard(v)),
    // Muxing.
    VM_OPTION("isync", e.InputSync = Flag(v)),
    VM_OPTION("muxdelay", e.MuxMaxDelay = Float(v)),
    VM_OPTION("muxpreload", e.MuxPreload = Float(v)),
    VM_OPTION("absf", e.AddBitstreamFilter(n, v)),
    VM_OPTION("vbsf", e.AddBitstreamFilter(n, v)),
    VM_OPTION("sbsf", e.AddBitstreamFilter(n, v)),
    VM_NOOP("apre"),
    VM_NOOP("vpre"),
    VM_NOOP("spre"),
};
#undef VM_NOOP
#undef VM_OPTION
// clang-format on

void TCustomFFmpeg::SetOption(const std::string &name, const std::string &value)
{
    for (const TOptionRow &row : OptionTable)
        if (name == row.Name) {
            row.Handler(*this, name, value);
            return;
        }
    SetGenericOption(name, value);
}

std::vector<std::string> TCustomFFmpeg::OptionNames()
{
    std::vector<std::string> names;
    for (const TOptionRow &row : OptionTable) names.emplace_back(row.Name);
    return names;
}

void TCustomFFmpeg::ResetOptions()
{
    // Files and library objects still held are released, not forgotten; the
    // option store comes back fresh when it was allocated.
    const bool hadStore = OptionContexts.Codec[0] != nullptr;
    if (hadStore || NumInputFiles || NumOutputFiles || !HookList.Empty() || HookBuffer) {
        // Metadata is not an option member: it waits for the next output.
        auto metadata = std::move(Metadata);
        Cleanup();
        Metadata = std::move(metadata);
    }

    std::fill(std::begin(InputFiles), std::end(InputFiles), nullptr);
    std::fill(std::begin(OutputFiles), std::end(OutputFiles), nullptr);
    NumInputFiles = 0;
    NumOutputFiles = 0;
    std::fill(std::begin(InputTsOffset), std::end(InputTsOffset), 0);
    std::fill(std::begin(InputClipStart), std::end(InputClipStart), AV_NOPTS_VALUE);
    for (auto &file : InputTsScale) std::fill(std::begin(file), std::end(file), 0.0);
    NumStreamMaps = 0;
    NumMetadataMaps = 0;

    InputFormat = nullptr;
    OutputFormat = nullptr;
    PgmyuvCompat = false;
    RecordingTime = INT64_MAX;
    StartTime = 0;
    RecTimestamp = 0;
    InputTsOffsetOption = 0;
    LimitFileSize = 0;
    std::fill(std::begin(MaxFrames), std::end(MaxFrames), INT32_MAX);
    PacketDump = false;
    HexDump = false;
    RateEmulation = false;
    LoopInput = false;
    LoopOutput = -1;
    Verbose = 1;
    ThreadCount = 0;
    VideoSyncMethod = -1;
    AudioSyncMethod = 0;
    AudioDriftThreshold = 0.1f;
    CopyTs = false;
    Shortest = false;
    DtsDeltaThreshold = 10.0f;
    ProgramId = 0;
    ExitOnError = false;
    CopyInitialNonKeyframes = 0;
    InputSync = false;
    MuxPreload = 0.5f;
    MuxMaxDelay = 0.7f;
    SwsFlags = SWS_BICUBIC;
    InitOptionContexts(OptionContexts);
    PendingPrivateOptions.clear();

    FrameWidth = 0;
    FrameHeight = 0;
    FrameAspectRatio = 0;
    FramePixFmt = -1;
    FrameRate = AVRational{0, 0};
    PadTop = PadBottom = PadLeft = PadRight = 0;
    PadColor[0] = 16;
    PadColor[1] = 128;
    PadColor[2] = 128;
    CropTop = CropBottom = CropLeft = CropRight = 0;
    VideoQscale = 0;
    IntraMatrix.reset();
    InterMatrix.reset();
    VideoRcOverride.clear();
    VideoDisable = false;
    VideoDiscard = 0;
    VideoCodecName.clear();
    VideoStreamCopy = false;
    VideoCodecTag = 0;
    SameQuality = false;
    Deinterlace = false;
    TopFieldFirst = -1;
    MeThreshold = 0;
    IntraDcPrecision = 8;
    QpHist = false;
    ForceFps = false;
    IntraOnly = false;
    VideoGlobalHeader = 0;
    VideoFilters.clear();
    UsingHooks = false;
    UsingVideoFilters = false;
    DoPass = 0;
    PassLogFilePrefix.clear();
    DoPsnr = false;
    VstatsFileName.clear();
    VideoChannel = 0;
    VideoStandard.clear();
    VideoBitstreamFilters.clear();
    AudioBitstreamFilters.clear();
    SubtitleBitstreamFilters.clear();
    AudioSampleRate = 44100;
    AudioChannels = 2;
    AudioChannelLayout = 0;
    AudioSampleFmt = -1;
    AudioQscale = -99999.0f;
    AudioDisable = false;
    AudioCodecName.clear();
    AudioStreamCopy = false;
    AudioCodecTag = 0;
    AudioLanguage.clear();
    AudioVolume = 256;
    SubtitleDisable = false;
    SubtitleCodecName.clear();
    SubtitleStreamCopy = false;
    SubtitleLanguage.clear();

    PictureCounter = 0;
    HookAction = haContinue;
    HookRanges.clear();
    HookRangeIndex = 0;

    WorkerThread = nullptr;
    TotalDuration = -1;
    PreviewFlags = 0;
    HasError = false;

    if (hadStore) AllocOptionContexts(OptionContexts, int(SwsFlags));
}

int64_t TCustomFFmpeg::ParseTimeOrFail(const std::string &option, const std::string &text, bool isDuration)
{
    int64_t t = 0;
    if (lav::av_parse_time(&t, text.c_str(), isDuration ? 1 : 0) < 0)
        throw FFmpegException("Invalid " + std::string(isDuration ? "duration" : "date") +
                              " specification for " + option + ": " + text);
    return t;
}

void TCustomFFmpeg::SetFormat(const std::string &value)
{
    if (value.empty()) return;
    std::string name = value;
    if (name == "pgmyuv") {
        PgmyuvCompat = true;
        name = "image2";
        Log(1, "pgmyuv format is deprecated, use image2");
    }
    InputFormat = lav::av_find_input_format(name.c_str());
    OutputFormat = lav::av_guess_format(name.c_str(), nullptr, nullptr);
    if (!InputFormat && !OutputFormat) throw FFmpegException("Unknown input or output format: " + name);
}

void TCustomFFmpeg::SetInputFormat(const std::string &value)
{
    if (value.empty()) return;
    std::string name = value;
    if (name == "pgmyuv") {
        PgmyuvCompat = true;
        name = "image2";
        Log(1, "pgmyuv format is deprecated, use image2");
    }
    InputFormat = lav::av_find_input_format(name.c_str());
    if (!InputFormat) throw FFmpegException("Unknown input format: " + name);
}

void TCustomFFmpeg::SetOutputFormat(const std::string &value)
{
    if (value.empty()) return;
    std::string name = value;
    if (name == "pgmyuv") {
        PgmyuvCompat = true;
        name = "image2";
        Log(1, "pgmyuv format is deprecated, use image2");
    }
    OutputFormat = lav::av_guess_format(name.c_str(), nullptr, nullptr);
    if (!OutputFormat) throw FFmpegException("Unknown output format: " + name);
}

void TCustomFFmpeg::AddStreamMap(const std::string &value)
{
    if (NumStreamMaps >= MAX_STREAM_MAPS)
        throw FFmpegException("Too many stream maps (at most " + std::to_string(MAX_STREAM_MAPS) + ")");
    TStreamMap map;
    const char *p = value.c_str();
    map.FileIndex = CInteger(p);
    SkipOne(p);
    map.StreamIndex = CInteger(p);
    if (*p) {
        ++p;
        map.SyncFileIndex = CInteger(p);
        SkipOne(p);
        map.SyncStreamIndex = CInteger(p);
    } else {
        map.SyncFileIndex = map.FileIndex;
        map.SyncStreamIndex = map.StreamIndex;
    }
    StreamMaps[NumStreamMaps++] = map;
}

void TCustomFFmpeg::AddMetadataMap(const std::string &value)
{
    if (NumMetadataMaps >= MAX_METADATA_MAPS)
        throw FFmpegException("Too many metadata maps (at most " + std::to_string(MAX_METADATA_MAPS) + ")");
    TMetadataMap map;
    const char *p = value.c_str();
    map.OutFile = CInteger(p);
    SkipOne(p);
    map.InFile = CInteger(p);
    MetadataMaps[NumMetadataMaps++] = map;
}

void TCustomFFmpeg::SetInputTsScale(const std::string &value)
{
    const char *p = value.c_str();
    const int32_t index = CInteger(p);
    SkipOne(p);
    const double scale = CFloat(p);
    if (uint32_t(index) >= uint32_t(MAX_STREAMS))
        throw FFmpegException("stream index over MAX_STREAMS(" + std::to_string(MAX_STREAMS) + ")");
    // The scale is for the next input; there is no next one once the table is full.
    if (NumInputFiles >= MAX_FILES)
        throw FFmpegException("Too many input files (at most " + std::to_string(MAX_FILES) + ")");
    InputTsScale[NumInputFiles][index] = scale;
}

void TCustomFFmpeg::AddMetadata(const std::string &value)
{
    const size_t equals = value.find('=');
    if (equals == std::string::npos) throw FFmpegException("Missing =");
    Metadata.emplace_back(value.substr(0, equals), value.substr(equals + 1));
}

void TCustomFFmpeg::SetRecordingTime(int64_t microseconds)
{
    if (microseconds <= 0) return;
    RecordingTime = microseconds;
    TotalDuration = int32_t(microseconds / 1000);
}

void TCustomFFmpeg::SetRecordingTimeMs(int32_t milliseconds)
{
    if (milliseconds <= 0) return;
    RecordingTime = int64_t(milliseconds) * 1000;
    TotalDuration = milliseconds;
}

void TCustomFFmpeg::SetStartTime(int64_t microseconds)
{
    if (microseconds > 0) StartTime = microseconds;
}

void TCustomFFmpeg::SetProgramId(int32_t id)
{
    if (id >= 0) ProgramId = id;
}

void TCustomFFmpeg::SetAudioSyncMethod(int32_t method) { AudioSyncMethod = method; }
void TCustomFFmpeg::SetVideoSyncMethod(int32_t method) { VideoSyncMethod = method; }

void TCustomFFmpeg::SetMuxMaxDelay(float seconds)
{
    if (seconds > 0) MuxMaxDelay = seconds;
}

void TCustomFFmpeg::SetMuxPreload(float seconds)
{
    if (seconds > 0) MuxPreload = seconds;
}

void TCustomFFmpeg::AddMetadataPair(const std::string &key, const std::string &value)
{
    Metadata.emplace_back(key, value);
}

bool TCustomFFmpeg::ApplyGenericIntOption(const std::string &name, int32_t value)
{
    return SetGenericOption(name, std::to_string(value));
}

namespace {
bool Blank(const std::string &s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

// Whether a default context of the store has an option of that name, by the
// store's own rules (codec, format, scaler, then without a type prefix).
bool DefaultContextsKnow(const TOptionContexts &contexts, const std::string &name)
{
    auto knows = [](void *context, const char *n) {
        return context && lav::av_opt_find(context, n, nullptr, 0, 0) != nullptr;
    };
    if (knows(contexts.Codec[0], name.c_str()) || knows(contexts.Format, name.c_str()) ||
        knows(contexts.Scaler, name.c_str()))
        return true;
    if (name.size() > 1) {
        int type = name[0] == 'a'   ? AVMEDIA_TYPE_AUDIO
                   : name[0] == 'v' ? AVMEDIA_TYPE_VIDEO
                   : name[0] == 's' ? AVMEDIA_TYPE_SUBTITLE
                                    : -1;
        if (type >= 0 && knows(contexts.Codec[type], name.c_str() + 1)) return true;
    }
    return false;
}
} // namespace

bool TCustomFFmpeg::SetGenericOption(const std::string &name, const std::string &value)
{
    if (SetDefaultOption(OptionContexts, name, value)) return true;
    if (OptionContexts.Codec[0] && !Blank(name) && !Blank(value) &&
        !DefaultContextsKnow(OptionContexts, name))
        KeepPrivateOption(name, value);
    return false;
}

void TCustomFFmpeg::KeepPrivateOption(const std::string &name, const std::string &value)
{
    for (auto &option : PendingPrivateOptions)
        if (option.first == name) {
            option.second = value;
            return;
        }
    PendingPrivateOptions.emplace_back(name, value);
}
