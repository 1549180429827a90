// The video, audio and subtitle options: sizes, rates, crops and pads,
// formats, quality, codec choice, tags, matrices, passes, statistics files,
// frame hooks and bitstream filters.
#include <cstring>
#include <ctime>

#include "Assert.h"
#include "Convert.h"
#include "FFmpeg.h"
#include "MyUtils.h"
#include "ProgramFolder.h"

namespace {
std::string Trim(const std::string &s)
{
    const size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    const size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

const char *const VerticalCropRange =
    "Vertical crop dimensions are outside the range of the original image.\n"
    "Remember to crop first and scale second.";
const char *const HorizontalCropRange = "Horizontal crop dimensions are outside the range of the original "
                                        "image.\nRemember to crop first and scale second.";

// Shared steps of the four crop setters: `size` is the frame height or width
// that the crop is taken from.
void ApplyCrop(int32_t n, const char *oddMessage, const char *rangeMessage, int32_t &crop, int32_t &size)
{
    if (n < 0) return;
    if (n % 2) throw FFmpegException(oddMessage);
    if (n >= size) throw FFmpegException(rangeMessage);
    crop = n;
    size -= n;
}

void ApplyPad(int32_t n, const char *oddMessage, int32_t &pad)
{
    if (n < 0) return;
    if (n % 2) throw FFmpegException(oddMessage);
    pad = n;
}

// The failure of a four-character tag: the runtime's assertion message with
// the module's source name and the line.
[[noreturn]] void TagAssertion(const char *message, int line)
{
    const char *file = std::strrchr(__FILE__, '/');
    throw EAssertionFailed(std::string(message) + " (" + (file ? file + 1 : __FILE__) + ", line " +
                           std::to_string(line) + ")");
}

// First character in the lowest byte.
uint32_t PackTag(const std::string &text)
{
    return uint32_t(uint8_t(text[0])) | uint32_t(uint8_t(text[1])) << 8 | uint32_t(uint8_t(text[2])) << 16 |
           uint32_t(uint8_t(text[3])) << 24;
}
} // namespace

void TCustomFFmpeg::SetFrameRate(const std::string &text)
{
    if (text.empty()) return;
    AVRational rate{0, 0};
    if (lav::av_parse_video_rate(&rate, text.c_str()) < 0) throw FFmpegException("Incorrect frame rate");
    FrameRate = rate;
}

void TCustomFFmpeg::SetFrameSize(const std::string &text)
{
    int width = 0, height = 0;
    if (lav::av_parse_video_size(&width, &height, text.c_str()) < 0)
        throw FFmpegException("Incorrect frame size");
    FrameWidth = width;
    FrameHeight = height;
    if ((width % 2) || (height % 2)) throw FFmpegException("Frame size must be a multiple of 2");
}

void TCustomFFmpeg::SetAspectRatio(const std::string &text)
{
    if (text.empty()) return;
    double ratio = 0;
    const size_t colon = text.find(':');
    if (colon != std::string::npos) {
        int32_t x = 0, y = 0;
        if (!TryStrToInt(text.substr(0, colon), x)) x = 0;
        if (!TryStrToInt(text.substr(colon + 1), y)) y = 0;
        ratio = y > 0 ? double(x) / y : 0;
    } else if (!TryStrToFloat(text, ratio)) {
        ratio = 0;
    }
    if (ratio == 0) throw FFmpegException("Incorrect aspect ratio specification.");
    FrameAspectRatio = float(ratio);
}

void TCustomFFmpeg::SetPixelFormat(const std::string &text)
{
    if (text == "list")
        ListPixelFormats();
    else
        FramePixFmt = lav::av_get_pix_fmt(text.c_str());
}

void TCustomFFmpeg::SetSampleFormat(const std::string &text)
{
    if (text == "list")
        ListSampleFormats();
    else
        AudioSampleFmt = lav::av_get_sample_fmt(text.c_str());
}

void TCustomFFmpeg::ListPixelFormats()
{
    if (!LogHandler) return;
    char line[256];
    Log(1, Trim(lav::av_get_pix_fmt_string(line, sizeof line, AV_PIX_FMT_NONE)));
    for (const AVPixFmtDescriptor *d = lav::av_pix_fmt_desc_next(nullptr); d;
         d = lav::av_pix_fmt_desc_next(d))
        Log(1, Trim(lav::av_get_pix_fmt_string(line, sizeof line, lav::av_pix_fmt_desc_get_id(d))));
}

void TCustomFFmpeg::ListSampleFormats()
{
    if (!LogHandler) return;
    char line[256];
    for (int f = AV_SAMPLE_FMT_NONE; f < AV_SAMPLE_FMT_NB; ++f)
        Log(1, Trim(lav::av_get_sample_fmt_string(line, sizeof line, AVSampleFormat(f))));
}

void TCustomFFmpeg::SetCropTop(int32_t n)
{
    ApplyCrop(n, "Top crop size must be a multiple of 2", VerticalCropRange, CropTop, FrameHeight);
}

void TCustomFFmpeg::SetCropBottom(int32_t n)
{
    ApplyCrop(n, "Bottom crop size must be a multiple of 2", VerticalCropRange, CropBottom, FrameHeight);
}

void TCustomFFmpeg::SetCropLeft(int32_t n)
{
    ApplyCrop(n, "Left crop size must be a multiple of 2", HorizontalCropRange, CropLeft, FrameWidth);
}

void TCustomFFmpeg::SetCropRight(int32_t n)
{
    ApplyCrop(n, "Right crop size must be a multiple of 2", HorizontalCropRange, CropRight, FrameWidth);
}

void TCustomFFmpeg::SetPadTop(int32_t n) { ApplyPad(n, "Top pad size must be a multiple of 2", PadTop); }
void TCustomFFmpeg::SetPadBottom(int32_t n)
{
    ApplyPad(n, "Bottom pad size must be a multiple of 2", PadBottom);
}
void TCustomFFmpeg::SetPadLeft(int32_t n) { ApplyPad(n, "Left pad size must be a multiple of 2", PadLeft); }
void TCustomFFmpeg::SetPadRight(int32_t n)
{
    ApplyPad(n, "Right pad size must be a multiple of 2", PadRight);
}

void TCustomFFmpeg::SetPadColor(int32_t color)
{
    // Full-range RGB to Y, Cb, Cr with 10-bit fixed-point coefficients.
    const int r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
    PadColor[0] = int32_t(unsigned(307 * r + 602 * g + 117 * b + 512) >> 10);
    PadColor[1] = ((-173 * r - 340 * g + 512 * b + 511) >> 10) + 128;
    PadColor[2] = ((512 * r - 429 * g - 84 * b + 511) >> 10) + 128;
}

void TCustomFFmpeg::SetVideoQscale(float value)
{
    if (!(value > 0) || value > 255) throw FFmpegException("qscale must be > 0.0 and <= 255");
    VideoQscale = value;
}

void TCustomFFmpeg::SetRcOverride(const std::string &text) { VideoRcOverride = text; }
void TCustomFFmpeg::SetMeThreshold(int32_t value) { MeThreshold = value; }
void TCustomFFmpeg::SetTopFieldFirst(int32_t value) { TopFieldFirst = value; }

void TCustomFFmpeg::SetCodec(bool &streamCopy, std::string &codecName, const std::string &value)
{
    if (value.empty()) return;
    codecName.clear();
    if (value == "copy")
        streamCopy = true;
    else
        codecName = value;
}

void TCustomFFmpeg::SetVideoCodec(const std::string &name)
{
    SetCodec(VideoStreamCopy, VideoCodecName, name);
}
void TCustomFFmpeg::SetAudioCodec(const std::string &name)
{
    SetCodec(AudioStreamCopy, AudioCodecName, name);
}

void TCustomFFmpeg::SetSubtitleCodec(const std::string &name)
{
    SetCodec(SubtitleStreamCopy, SubtitleCodecName, name);
}

void TCustomFFmpeg::SetVideoTag(const std::string &text)
{
    if (text.empty()) return;
    if (text.size() != 4) TagAssertion("video tag parameter must be 4 chars", __LINE__);
    VideoCodecTag = PackTag(text);
}

void TCustomFFmpeg::SetAudioTag(const std::string &text)
{
    if (text.empty()) return;
    if (text.size() != 4) TagAssertion("audio tag parameter must be 4 chars", __LINE__);
    AudioCodecTag = PackTag(text);
}

void TCustomFFmpeg::SetVideoFilters(const std::string &text)
{
    if (!text.empty()) VideoFilters = text;
}

void TCustomFFmpeg::AddVideoHook(const std::string &commandLine)
{
    // The hook's arguments point into this copy, which lives as long as the hook.
    std::string &copy = HookCommandLines.emplace_back(commandLine);
    const char separator = copy.find('|') != std::string::npos ? '|' : ' ';
    std::vector<char *> argv;
    for (size_t i = 0; i < copy.size() && argv.size() < 254;) {
        if (copy[i] == separator) {
            ++i;
            continue;
        }
        argv.push_back(&copy[i]);
        const size_t end = copy.find(separator, i);
        if (end == std::string::npos) break;
        copy[end] = '\0';
        i = end + 1;
    }
    const int result = AddFrameHook(HookList, int(argv.size()), argv.data());
    if (result != 0) {
        HookCommandLines.pop_back();
        throw FFmpegException("Failed to add video hook function: " + commandLine);
    }
    UsingHooks = true;
}

void TCustomFFmpeg::SetMatrix(std::unique_ptr<std::array<uint16_t, 64>> &matrix, const std::string &text)
{
    if (!matrix) matrix = std::make_unique<std::array<uint16_t, 64>>();
    matrix->fill(0);
    const char *p = text.c_str();
    for (int i = 0; i < 64; ++i) {
        (*matrix)[size_t(i)] = uint16_t(std::strtol(p, nullptr, 10));
        if (i == 63) break;
        p = std::strchr(p, ',');
        if (!p)
            throw FFmpegException("Syntax error in matrix \"" + text + "\" at coeff " + std::to_string(i));
        ++p;
    }
}

void TCustomFFmpeg::SetIntraMatrix(const std::string &text) { SetMatrix(IntraMatrix, text); }
void TCustomFFmpeg::SetInterMatrix(const std::string &text) { SetMatrix(InterMatrix, text); }

void TCustomFFmpeg::SetPass(int32_t pass)
{
    if (pass != 1 && pass != 2) throw FFmpegException("pass number can be only 1 or 2");
    DoPass = pass;
}

void TCustomFFmpeg::SetVstats(bool enable)
{
    VstatsFileName.clear();
    if (!enable) return;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[16];
    std::strftime(stamp, sizeof stamp, "%H%M%S", &local);
    VstatsFileName = MyUtils::Utf16ToUtf8(ProgramFolder()) + "vstats_" + stamp + ".log";
}

void TCustomFFmpeg::SetVstatsFile(const std::string &name) { VstatsFileName = name; }

void TCustomFFmpeg::SetAudioRate(int32_t rate)
{
    if (rate > 0) AudioSampleRate = rate;
}

void TCustomFFmpeg::SetAudioChannels(int32_t channels)
{
    if (channels > 0) AudioChannels = channels;
}

void TCustomFFmpeg::SetAudioVolume(int32_t volume)
{
    if (volume >= 0) AudioVolume = volume;
}

void TCustomFFmpeg::SetVideoChannel(int32_t channel) { VideoChannel = channel; }
void TCustomFFmpeg::SetVideoStandard(const std::string &text) { VideoStandard = text; }

void TCustomFFmpeg::SetBitrate(const std::string &name, const std::string &value)
{
    if (name.empty() || value.empty()) return;
    if (!SetDefaultOption(OptionContexts, name, value) || !LogHandler) return;
    AVCodecContext *context = OptionContexts.Codec[name[0] == 'a' ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO];
    int64_t bitRate = 0;
    if (context && lav::av_opt_get_int(context, "b", 0, &bitRate) >= 0 && bitRate < 1000)
        Log(1, "WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s");
}

void TCustomFFmpeg::AddBitstreamFilter(const std::string &name, const std::string &value)
{
    if (name.empty() || value.empty() || value[0] == '=') return;
    const std::string filterName = value.substr(0, value.find('='));
    const AVBitStreamFilter *filter = lav::av_bsf_get_by_name(filterName.c_str());
    if (!filter) throw FFmpegException("Unknown bitstream filter " + Trim(value));
    auto &chain = name[0] == 'v'   ? VideoBitstreamFilters
                  : name[0] == 'a' ? AudioBitstreamFilters
                                   : SubtitleBitstreamFilters;
    chain.push_back(filter);
}
