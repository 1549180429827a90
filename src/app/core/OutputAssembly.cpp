#include "OutputAssembly.h"

#include <locale.h>
#include <sys/stat.h>
#include <wctype.h>

#include <cmath>

#include "AppSettings.h"
#include "CustomProfile.h"
#include "IniFile.h"
#include "RunControl.h"
#include "Services.h"
#include "SourceList.h"
#include "TextCodec.h"
#include "ZUzidiDOR.h"

namespace {

// Format presets, by format list position. Rows 29 fps are NTSC discs
// (30000/1001), 25 fps PAL; the target preset makes the stream.
const TProfileRow Format3GP[] = {
    {".3gp", "220x176", "mpeg4", 384000, 15}, {".3gp", "320x240", "mpeg4", 384000, 15},
    {".3gp", "352x288", "h263", 384000, 18},  {".3gp", "352x288", "mpeg4", 384000, 18},
    {".3gp", "176x144", "h263", 160000, 15},  {".3gp", "176x144", "mpeg4", 160000, 15},
};
const TProfileRow FormatMP4[] = {
    {".mp4", "320x240", "mpeg4", 288000, 18},   {".mp4", "320x240", "mpeg4", 384000, 18},
    {".mp4", "320x240", "mpeg4", 384000, 18},   {".mp4", "400x240", "mpeg4", 336000, 18},
    {".mp4", "400x240", "mpeg4", 448000, 18},   {".mp4", "400x240", "mpeg4", 448000, 18},
    {".mp4", "480x272", "mpeg4", 384000, 24},   {".mp4", "480x272", "mpeg4", 512000, 24},
    {".mp4", "480x272", "mpeg4", 512000, 24},   {".mp4", "480x360", "mpeg4", 512000, 24},
    {".mp4", "480x360", "mpeg4", 768000, 24},   {".mp4", "480x360", "mpeg4", 768000, 24},
    {".mp4", "1280x720", "mpeg4", 1800000, 25}, {".mp4", "480x360", "mpeg4", 576000, 25},
    {".mp4", "640x360", "mpeg4", 768000, 25},   {".mp4", "640x480", "mpeg4", 768000, 25},
    {".mp4", "720x480", "mpeg4", 1500000, 25},
};
const TProfileRow FormatAVI[] = {
    {".avi", "320x240", "mpeg4", 288000, 18},   {".avi", "320x240", "mpeg4", 384000, 15},
    {".avi", "320x240", "mpeg4", 384000, 18},   {".avi", "400x240", "mpeg4", 336000, 18},
    {".avi", "400x240", "mpeg4", 448000, 18},   {".avi", "400x240", "mpeg4", 448000, 18},
    {".avi", "480x272", "mpeg4", 384000, 24},   {".avi", "480x272", "mpeg4", 512000, 24},
    {".avi", "480x272", "mpeg4", 512000, 24},   {".avi", "480x360", "mpeg4", 512000, 24},
    {".avi", "480x360", "mpeg4", 768000, 24},   {".avi", "480x360", "mpeg4", 768000, 24},
    {".avi", "1280x720", "mpeg4", 1800000, 25}, {".avi", "480x360", "mpeg4", 576000, 25},
    {".avi", "640x360", "mpeg4", 768000, 25},   {".avi", "640x480", "mpeg4", 768000, 25},
    {".avi", "720x480", "mpeg4", 1500000, 25},
};
const TProfileRow FormatMPEG[] = {
    {".mpeg", "720x480", "mpeg2video", 6000000, 29, 3, 2},
    {".mpeg", "720x576", "mpeg2video", 6000000, 25, 3, 1},
    {".mpeg", "480x480", "mpeg2video", 2040000, 29, 2, 2},
    {".mpeg", "480x576", "mpeg2video", 2040000, 25, 2, 1},
    {".mpeg", "352x240", "mpeg1video", 1150000, 29, 1, 2},
    {".mpeg", "352x288", "mpeg1video", 1150000, 25, 1, 1},
};
const TProfileRow FormatWMV[] = {
    {".wmv", "320x240", "wmv2", 384000, 18},  {".wmv", "480x272", "wmv2", 512000, 25},
    {".wmv", "480x360", "wmv2", 768000, 25},  {".wmv", "640x360", "wmv2", 1200000, 25},
    {".wmv", "640x480", "wmv2", 1500000, 25},
};
// RealVideo 2 with AC-3 audio, three sizes.
const TProfileRow FormatRM[] = {
    {".rm", "320x240", "rv20", 384000, 25},
    {".rm", "480x360", "rv20", 640000, 25},
    {".rm", "640x480", "rv20", 1000000, 25},
};
const TProfileRow FormatMOV[] = {
    {".mov", "320x240", "mpeg4", 288000, 18},
    {".mov", "640x360", "mpeg4", 512000, 24},
    {".mov", "640x480", "mpeg4", 768000, 24},
};
const TProfileRow FormatMKV[] = {
    {".mkv", "1280x720", "mpeg4", 1800000, 25}, {".mkv", "1280x720", "mpeg4", 2400000, 25},
    {".mkv", "480x360", "mpeg4", 512000, 24},   {".mkv", "480x360", "mpeg4", 768000, 25},
    {".mkv", "640x360", "mpeg4", 768000, 25},   {".mkv", "640x360", "mpeg4", 1024000, 25},
    {".mkv", "640x480", "mpeg4", 864000, 25},   {".mkv", "640x480", "mpeg4", 1152000, 25},
};
const TProfileRow FormatFLV[] = {
    {".flv", "176x144", "flv", 18000, 18},
    {".flv", "320x240", "flv", 384000, 18},
    {".flv", "640x480", "flv", 512000, 18},
};

struct TTable {
    const TProfileRow *Rows;
    int32_t Count;
};
template <size_t N> constexpr TTable Table(const TProfileRow (&rows)[N]) { return {rows, int32_t(N)}; }

const TTable FormatTable[FormatItemCount] = {
    Table(Format3GP), Table(FormatMP4), Table(FormatAVI), Table(FormatMPEG), Table(FormatWMV),
    Table(FormatRM),  Table(FormatMOV), Table(FormatMKV), Table(FormatFLV),
};

// Device models, by brand folder position and model position.
const TProfileRow Brand0[] = {
    {".avi", "480x272", "mpeg4", 512000, 24},
    {".mp4", "320x240", "mpeg4", 384000, 24},
};
const TProfileRow Brand1[] = {
    {".avi", "320x240", "mpeg4", 384000, 18},
    {".avi", "320x240", "mpeg4", 384000, 18},
    {".avi", "480x272", "mpeg4", 512000, 24},
    {".mp4", "320x240", "mpeg4", 512000, 24},
};
const TProfileRow Brand2[] = {
    {".avi", "320x240", "mpeg4", 384000, 18},
    {".avi", "480x272", "mpeg4", 512000, 24},
    {".avi", "800x480", "mpeg4", 1800000, 24},
    {".mp4", "720x480", "mpeg4", 1600000, 24},
};
const TProfileRow Brand3[] = {
    {".mp4", "320x240", "mpeg4", 384000, 24}, {".mp4", "480x320", "mpeg4", 768000, 24},
    {".mp4", "320x240", "mpeg4", 384000, 24}, {".mp4", "320x240", "mpeg4", 384000, 24},
    {".mp4", "640x480", "mpeg4", 768000, 24}, {".mp4", "640x480", "mpeg4", 768000, 24},
};
const TProfileRow Brand4[] = {
    {".mp4", "320x240", "mpeg4", 384000, 24},
    {".mp4", "800x400", "mpeg4", 1600000, 24},
};
const TProfileRow Brand5[] = {
    {".wmv", "320x240", "wmv2", 384000, 18},
};
const TProfileRow Brand6[] = {
    {".avi", "320x240", "mpeg4", 384000, 24},
    {".avi", "640x480", "mpeg4", 1024000, 24},
};
const TProfileRow Brand7[] = {
    {".mp4", "800x480", "mpeg4", 1200000, 24},
    {".mp4", "400x240", "mpeg4", 512000, 24},
    {".mp4", "400x272", "mpeg4", 512000, 24},
};
const TProfileRow Brand8[] = {
    {".mp4", "320x240", "mpeg4", 384000, 25},
    {".mp4", "480x320", "mpeg4", 512000, 25},
};
const TProfileRow Brand9[] = {
    {".avi", "1280x720", "mpeg4", 1800000, 25}, {".avi", "480x360", "mpeg4", 576000, 25},
    {".avi", "640x360", "mpeg4", 768000, 25},   {".avi", "640x480", "mpeg4", 768000, 25},
    {".avi", "720x480", "mpeg4", 1500000, 25},
};
const TProfileRow Brand10[] = {
    {".mp4", "480x360", "mpeg4", 384000, 25}, {".mp4", "480x360", "mpeg4", 512000, 24},
    {".mp4", "640x480", "mpeg4", 576000, 24}, {".mp4", "640x480", "mpeg4", 768000, 24},
    {".mp4", "800x480", "mpeg4", 768000, 24}, {".mp4", "800x480", "mpeg4", 1024000, 24},
    {".mp4", "320x240", "mpeg4", 384000, 18}, {".mp4", "320x240", "mpeg4", 384000, 18},
};
const TProfileRow Brand11[] = {
    {".avi", "220x176", "mpeg4", 256000, 10},
    {".mp4", "480x272", "mpeg4", 512000, 24},
};
const TProfileRow Brand12[] = {
    {".avi", "400x240", "mpeg4", 384000, 18},  {".mp4", "800x480", "mpeg4", 1200000, 24},
    {".mp4", "320x240", "mpeg4", 384000, 18},  {".mp4", "480x240", "mpeg4", 512000, 18},
    {".mp4", "400x240", "mpeg4", 384000, 18},  {".mp4", "320x240", "mpeg4", 384000, 18},
    {".mp4", "800x480", "mpeg4", 1000000, 24}, {".mp4", "400x240", "mpeg4", 384000, 18},
    {".mp4", "320x240", "mpeg4", 288000, 18},  {".mp4", "320x240", "mpeg4", 384000, 18},
};
const TProfileRow Brand13[] = {
    {".avi", "320x240", "mpeg4", 384000, 18}, {".mp4", "320x240", "mpeg4", 288000, 24},
    {".mp4", "320x240", "mpeg4", 384000, 24}, {".mp4", "480x320", "mpeg4", 576000, 24},
    {".mp4", "480x320", "mpeg4", 768000, 24},
};
const TProfileRow Brand14[] = {
    {".mp4", "1280x720", "mpeg4", 1800000, 25}, {".mp4", "1280x730", "mpeg4", 2400000, 25},
    {".mp4", "480x360", "mpeg4", 576000, 25},   {".mp4", "480x360", "mpeg4", 768000, 25},
    {".mp4", "720x480", "mpeg4", 1500000, 25},  {".mp4", "720x480", "mpeg4", 2000000, 25},
    {".mp4", "320x240", "mpeg4", 384000, 25},   {".mp4", "320x240", "mpeg4", 384000, 25},
    {".mp4", "640x480", "mpeg4", 512000, 25},   {".mp4", "640x480", "mpeg4", 768000, 25},
};
const TProfileRow Brand15[] = {
    {".mp4", "320x240", "mpeg4", 384000, 15}, {".mp4", "160x128", "mpeg4", 128000, 15},
    {".mp4", "320x240", "mpeg4", 288000, 18}, {".mp4", "320x240", "mpeg4", 384000, 18},
    {".mp4", "320x240", "mpeg4", 384000, 15}, {".mp4", "176x144", "mpeg4", 256000, 15},
};
const TProfileRow Brand16[] = {
    {".3gp", "176x144", "mpeg4", 192000, 15},  {".3gp", "352x288", "mpeg4", 384000, 15},
    {".mp4", "640x360", "mpeg4", 768000, 25},  {".mp4", "176x144", "mpeg4", 192000, 15},
    {".mp4", "320x240", "mpeg4", 384000, 15},  {".mp4", "320x240", "mpeg4", 384000, 15},
    {".mp4", "320x240", "mpeg4", 288000, 18},  {".mp4", "320x240", "mpeg4", 384000, 18},
    {".mp4", "640x480", "mpeg4", 1024000, 24}, {".mp4", "640x360", "mpeg4", 768000, 24},
    {".mp4", "480x320", "mpeg4", 512000, 24},  {".mp4", "320x240", "mpeg4", 384000, 24},
};
const TProfileRow Brand17[] = {
    {".avi", "320x240", "mpeg4", 384000, 24},
    {".avi", "800x480", "mpeg4", 1500000, 24},
    {".mp4", "400x240", "mpeg4", 512000, 24},
    {".mp4", "480x272", "mpeg4", 512000, 24},
};
const TProfileRow Brand18[] = {
    {".avi", "320x240", "mpeg4", 512000, 24},  {".avi", "432x240", "mpeg4", 512000, 24},
    {".avi", "400x240", "mpeg4", 512000, 24},  {".avi", "320x240", "mpeg4", 512000, 24},
    {".avi", "800x576", "mpeg4", 1500000, 24}, {".avi", "320x240", "mpeg4", 512000, 24},
};
const TProfileRow Brand19[] = {
    {".mp4", "320x240", "mpeg4", 384000, 18},
};
const TProfileRow Brand20[] = {
    {".avi", "400x240", "mpeg4", 384000, 24},
    {".mp4", "400x240", "mpeg4", 512000, 24},
};
const TProfileRow Brand21[] = {
    {".mp4", "240x180", "mpeg4", 256000, 18}, {".mp4", "320x240", "avc", 288000, 18},
    {".mp4", "320x240", "mpeg4", 384000, 18}, {".mp4", "480x320", "mpeg4", 576000, 24},
    {".mp4", "480x360", "mpeg4", 576000, 24}, {".mp4", "480x360", "mpeg4", 768000, 24},
};
const TProfileRow Brand22[] = {
    {".avi", "320x240", "mpeg4", 384000, 15}, {".mp4", "320x240", "mpeg4", 288000, 18},
    {".mp4", "320x240", "mpeg4", 384000, 18}, {".mp4", "320x240", "mpeg4", 384000, 15},
    {".mp4", "480x272", "mpeg4", 512000, 24},
};
const TProfileRow Brand23[] = {
    {".mp4", "1280x720", "mpeg4", 1800000, 24}, {".mp4", "480x360", "mpeg4", 576000, 24},
    {".mp4", "720x480", "mpeg4", 1500000, 24},  {".mp4", "368x208", "mpeg4", 384000, 24},
    {".mp4", "368x272", "mpeg4", 320000, 24},   {".mp4", "368x272", "mpeg4", 384000, 24},
    {".mp4", "480x272", "mpeg4", 384000, 24},   {".mp4", "320x240", "mpeg4", 384000, 18},
    {".mp4", "320x240", "mpeg4", 384000, 18},   {".mp4", "320x240", "mpeg4", 384000, 24},
    {".mp4", "800x480", "mpeg4", 1500000, 24},  {".mp4", "800x480", "mpeg4", 1800000, 24},
};
const TProfileRow Brand24[] = {
    {".mp4", "320x240", "mpeg4", 384000, 18}, {".mp4", "320x240", "mpeg4", 288000, 18},
    {".mp4", "320x240", "mpeg4", 384000, 18}, {".mp4", "640x360", "mpeg4", 512000, 24},
    {".mp4", "160x128", "mpeg4", 256000, 15}, {".mp4", "220x176", "mpeg4", 384000, 15},
    {".mp4", "320x240", "mpeg4", 384000, 18},
};
const TProfileRow Brand25[] = {
    {".avi", "432x240", "mpeg4", 512000, 24},
    {".avi", "480x272", "mpeg4", 512000, 24},
    {".avi", "432x240", "mpeg4", 512000, 24},
};

const TTable DeviceTable[] = {
    Table(Brand0),  Table(Brand1),  Table(Brand2),  Table(Brand3),  Table(Brand4),  Table(Brand5),
    Table(Brand6),  Table(Brand7),  Table(Brand8),  Table(Brand9),  Table(Brand10), Table(Brand11),
    Table(Brand12), Table(Brand13), Table(Brand14), Table(Brand15), Table(Brand16), Table(Brand17),
    Table(Brand18), Table(Brand19), Table(Brand20), Table(Brand21), Table(Brand22), Table(Brand23),
    Table(Brand24), Table(Brand25),
};
constexpr int32_t DeviceBrands = int32_t(sizeof DeviceTable / sizeof DeviceTable[0]);

// The custom types: RM and MOV take their containers' usual encoders, and
// MPEG writes ".mpeg" (no muxer takes ".mpeg4").
const TCustomTypeRow CustomTable[FormatItemCount] = {
    {".3gp", "mpeg4"}, {".mp4", "avc"},   {".avi", "mpeg4"}, {".mpeg", "mpeg4"}, {".wmv", "wmv2"},
    {".rm", "rv20"},   {".mov", "mpeg4"}, {".mkv", "avc"},   {".flv", "flv"},
};

int32_t Even(int64_t n) { return int32_t((n / 2) * 2); }

// Nearest integer of a / b for a >= 0, b > 0, halves up.
int64_t RoundDiv(int64_t a, int64_t b) { return (2 * a + b) / (2 * b); }

bool SplitSize(const std::string &text, char separator, int32_t &width, int32_t &height)
{
    size_t at = text.find(separator);
    if (at == std::string::npos) return false;
    return ParseInt32(text.substr(0, at), width) && ParseInt32(text.substr(at + 1), height) && width > 0 &&
           height > 0;
}

bool FileExists(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Profile-file codec names (as the summary shows them) to encoder names.
std::string EncoderOfProfileCodec(const std::string &codec)
{
    std::string c;
    for (char ch : TrimBlanks(codec)) c += (ch >= 'A' && ch <= 'Z') ? char(ch - 'A' + 'a') : ch;
    if (c.empty()) return "";
    if (c == "h264" || c == "avc" || c == "x264" || c == "h.264") return "libx264";
    if (c == "xvid" || c == "divx" || c == "mpeg-4" || c == "mpeg4" || c == "mp4v") return "mpeg4";
    if (c == "h263" || c == "h.263") return "h263";
    if (c == "flv" || c == "flv1" || c == "sorenson") return "flv";
    if (c == "mpeg2" || c == "mpeg-2") return "mpeg2video";
    if (c == "mpeg1" || c == "mpeg-1") return "mpeg1video";
    if (c == "realvideo" || c == "rv" || c == "realvideo 2") return "rv20";
    return c;
}

// The audio encoders a container can carry, and the one it takes otherwise.
struct TContainerAudio {
    const char *Ext;
    const char *Allowed; // space-separated encoder names
    const char *Usual;
};
const TContainerAudio ContainerAudio[] = {
    {".3gp", "libfaac aac", "libfaac"},
    {".flv", "libmp3lame libfaac aac", "libmp3lame"},
    {".rm", "ac3", "ac3"},
    {".avi", "libmp3lame ac3 libfaac aac", "libmp3lame"},
    {".wmv", "wmav2", "wmav2"},
    {".mpeg", "libmp3lame ac3 mp2", "libmp3lame"},
    {".mp4", "libfaac aac libmp3lame ac3", "libfaac"},
    {".mov", "libfaac aac libmp3lame ac3", "libfaac"},
};

bool WordIn(const std::string &word, const char *list)
{
    std::string all = std::string(" ") + list + " ";
    return all.find(" " + word + " ") != std::string::npos;
}

} // namespace

const TProfileRow *FormatTableRow(int32_t formatIndex, int32_t presetIndex)
{
    if (formatIndex < 0 || formatIndex >= FormatItemCount) return nullptr;
    const TTable &t = FormatTable[formatIndex];
    return presetIndex >= 0 && presetIndex < t.Count ? &t.Rows[presetIndex] : nullptr;
}

const TProfileRow *DeviceTableRow(int32_t brandIndex, int32_t modelIndex)
{
    if (brandIndex < 0 || brandIndex >= DeviceBrands) return nullptr;
    const TTable &t = DeviceTable[brandIndex];
    return modelIndex >= 0 && modelIndex < t.Count ? &t.Rows[modelIndex] : nullptr;
}

int32_t FormatTableRowCount(int32_t formatIndex)
{
    return formatIndex >= 0 && formatIndex < FormatItemCount ? FormatTable[formatIndex].Count : 0;
}

int32_t DeviceTableBrandCount() { return DeviceBrands; }

int32_t DeviceTableRowCount(int32_t brandIndex)
{
    return brandIndex >= 0 && brandIndex < DeviceBrands ? DeviceTable[brandIndex].Count : 0;
}

const TCustomTypeRow *CustomTableRow(int32_t typeIndex)
{
    return typeIndex >= 0 && typeIndex < FormatItemCount ? &CustomTable[typeIndex] : nullptr;
}

bool FitFrameSize(int32_t sourceWidth, int32_t sourceHeight, const std::string &targetSize, TFrameFit &fit)
{
    int32_t tW, tH;
    if (sourceWidth <= 0 || sourceHeight <= 0 || !SplitSize(targetSize, 'x', tW, tH)) return false;
    // r = sW / sH to two decimals, kept as hundredths.
    int64_t r100 = RoundDiv(int64_t(sourceWidth) * 100, sourceHeight);
    if (r100 <= 0) return false;
    int64_t hE = Even(RoundDiv(int64_t(tW) * 100, r100));
    int64_t d = hE - tH;
    TFrameFit result;
    if (d < 0) {
        int64_t inner = tH - (-d);
        int32_t p = Even(-d) / 2;
        if (p % 2 != 0) inner += 2;
        result.InnerSize = std::to_string(tW) + "X" + std::to_string(inner);
        result.Pad = p;
        result.BarsAboveBelow = true;
    } else {
        int64_t wE = Even(RoundDiv(int64_t(tH) * r100, 100));
        int64_t e = std::llabs(wE - tW);
        int64_t inner = tW - e;
        int32_t p = Even(e) / 2;
        if (p % 2 != 0) inner += 2;
        result.InnerSize = std::to_string(inner) + "X" + std::to_string(tH);
        result.Pad = p;
        result.BarsAboveBelow = false;
    }
    fit = result;
    return true;
}

std::string AudioEncoderOfSummary(const std::string &audioLine)
{
    if (audioLine == "音频编码：AAC") return "libfaac";
    if (audioLine == "音频编码：AC3") return "ac3";
    if (audioLine == "音频编码：FLAC") return "flac";
    if (audioLine == "音频编码：MP3") return "libmp3lame";
    return "";
}

std::string BaseNameOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name;
}

std::string UpperCaseText(const std::string &text)
{
    // C.UTF-8 maps every script's letters, independent of the user's locale.
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    std::u16string wide = Utf8ToUtf16(text);
    std::u32string cps;
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        if (utf8)
            c = char32_t(towupper_l(wint_t(c), utf8));
        else if (c >= 'a' && c <= 'z')
            c = c - 'a' + 'A';
        cps.push_back(c);
    }
    std::u16string out;
    for (char32_t c : cps) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(char16_t(0xD800 + (c >> 10)));
            out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(char16_t(c));
        }
    }
    return Utf16ToUtf8(out);
}

std::string OutputFileName(const std::string &folder, const std::string &baseName, const std::string &fileExt)
{
    std::string stem = folder;
    if (stem.empty() || stem.back() != '/') stem += '/';
    stem += baseName;
    std::string name = stem + "_(new)" + fileExt;
    for (int n = 1; FileExists(name); ++n) name = stem + "_(new_" + std::to_string(n) + ")" + fileExt;
    return name;
}

OutputAssembly::OutputAssembly(const ProfileStore &store, const SourceList &sources,
                               TMessageService &messages)
    : FStore(store), FSources(sources), FMessages(messages)
{
}

namespace {

const char *const NoProfileMessage = "请先选择一个输出方案！";
const char *const IncompleteProfileMessage = "所选方案缺少视频尺寸、码率或帧速率，请另选方案！";
const char *const SampleWithoutPictureMessage =
    "样本视频没有图像，无法按它生成视频，请重新分析一个视频文件！";

// Values of a profile file for a position beyond the built-in table:
// false when the file lacks the size, bit rate, frame rate or container.
bool ChoiceFromProfileFile(const std::string &path, const std::string &ext, const char *usualCodec,
                           choice_rec &choice)
{
    if (path.empty()) return false;
    profile_rec p = ProfileStore::LoadProfile(path);
    std::string fileExt = ext;
    if (fileExt.empty()) {
        std::string type = TrimBlanks(p.Type);
        if (!type.empty() && type[0] == '.') type.erase(0, 1);
        if (!type.empty()) fileExt = "." + type;
    }
    int32_t fps = int32_t(std::lround(std::max(0.0, std::min(p.FPS, 1000.0))));
    if (fileExt.empty() || p.Width <= 0 || p.Height <= 0 || p.VideoBitrate <= 0 || fps <= 0) return false;
    std::string codec = EncoderOfProfileCodec(p.VideoCodec);
    choice.Ext = fileExt;
    choice.Size = std::to_string(p.Width) + "x" + std::to_string(p.Height);
    if (!codec.empty())
        choice.Codec = codec;
    else if (usualCodec)
        choice.Codec = usualCodec;
    choice.Bitrate = p.VideoBitrate;
    choice.Fps = fps;
    choice.Target = 0;
    choice.TargetNorm = 0;
    return true;
}

void ChoiceFromRow(const TProfileRow &row, choice_rec &choice)
{
    choice.Ext = row.Ext;
    choice.Size = row.Size;
    if (row.Codec) choice.Codec = row.Codec;
    choice.Bitrate = row.Bitrate;
    choice.Fps = row.Fps;
    choice.Target = row.Target;
    choice.TargetNorm = row.TargetNorm;
}

} // namespace

bool OutputAssembly::PickProfileSettings(const TAssemblyContext &context)
{
    choice_rec next = Choice;
    switch (context.TabIndex) {
    case 0: {
        if (const TProfileRow *row = FormatTableRow(context.FormatIndex, context.PresetIndex)) {
            ChoiceFromRow(*row, next);
            break;
        }
        // A preset the user added beyond the table: its own file's values,
        // in the format's container.
        const TProfileRow *first = FormatTableRow(context.FormatIndex, 0);
        if (!first || context.PresetFile.empty()) {
            FMessages.ShowMessage(mkError, NoProfileMessage);
            return false;
        }
        const char *usual = first->Target ? "mpeg2video" : first->Codec;
        if (!ChoiceFromProfileFile(context.PresetFile, first->Ext, usual, next)) {
            FMessages.ShowMessage(mkError, IncompleteProfileMessage);
            return false;
        }
        break;
    }
    case 1: {
        if (const TProfileRow *row = DeviceTableRow(context.BrandIndex, context.ModelIndex)) {
            ChoiceFromRow(*row, next);
            break;
        }
        if (context.ModelFile.empty()) {
            FMessages.ShowMessage(mkError, NoProfileMessage);
            return false;
        }
        if (!ChoiceFromProfileFile(context.ModelFile, "", "mpeg4", next)) {
            FMessages.ShowMessage(mkError, IncompleteProfileMessage);
            return false;
        }
        break;
    }
    case 2: {
        TExtFileValues ext = FStore.ReadExtFile();
        int32_t w = 0, h = 0;
        if (!ParseInt32(ext.Width, w) || !ParseInt32(ext.Height, h) || w <= 0 || h <= 0) {
            FMessages.ShowMessage(mkError, SampleWithoutPictureMessage);
            return false;
        }
        next.Ext = "." + ext.Type;
        next.Size = TrimBlanks(ext.Width) + "x" + TrimBlanks(ext.Height);
        next.Codec = "mpeg4";
        next.Bitrate = ext.VideoBitrate;
        next.Fps = ext.FPS;
        next.Target = 0;
        next.TargetNorm = 0;
        break;
    }
    case 3: {
        CustomProfile none;
        const CustomProfile &custom = context.Custom ? *context.Custom : none;
        std::string message = custom.PickCheck();
        if (!message.empty()) {
            FMessages.ShowMessage(mkError, message);
            return false;
        }
        const TCustomTypeRow *row = CustomTableRow(custom.TypeIndex);
        if (!row) {
            FMessages.ShowMessage(mkError, "请选择视频要转换的类型！");
            return false;
        }
        Choice.FallbackAudio = "libmp3lame";
        next.FallbackAudio = "libmp3lame";
        next.Ext = row->Ext;
        if (row->Codec) next.Codec = row->Codec;
        next.Size = TrimBlanks(custom.Width) + "x" + TrimBlanks(custom.Height);
        next.Bitrate = custom.BitrateValue();
        next.Fps = custom.FpsValue();
        next.Target = 0;
        next.TargetNorm = 0;
        break;
    }
    default: FMessages.ShowMessage(mkError, NoProfileMessage); return false;
    }
    Choice = next;
    return true;
}

bool OutputAssembly::FitFrameSize(const std::string &baseName, const std::string &targetSize,
                                  TFrameFit &fit) const
{
    int32_t w, h;
    if (!FSources.FindResolution(baseName, w, h)) return false;
    return ::FitFrameSize(w, h, targetSize, fit);
}

bool OutputAssembly::BuildOutputOptions(const TAssemblyContext &context, const std::string &sourceFile,
                                        TOutputOptions &options)
{
    TOutputOptions o;
    InitOutputOptions(o);
    if (!PickProfileSettings(context)) return false;
    const choice_rec &c = Choice;
    std::string ext = c.Ext;
    o.VideoCodec = c.Codec;
    o.AudioCodec = c.FallbackAudio;

    std::string baseName = BaseNameOf(UpperCaseText(TrimBlanks(sourceFile)));
    TFrameFit fit;
    if (FitFrameSize(baseName, c.Size, fit)) {
        o.FrameSize = fit.InnerSize;
        int32_t pad = Even(fit.Pad);
        if (fit.BarsAboveBelow)
            o.PadTop = o.PadBottom = pad;
        else
            o.PadLeft = o.PadRight = pad;
    } else {
        // No picture size to keep: the target size as it is.
        o.FrameSize = c.Size;
    }
    o.PadColor = 0;
    o.VideoBitrate = c.Bitrate;
    o.FrameRate = std::to_string(c.Fps);

    std::string audio = AudioEncoderOfSummary(context.AudioSummaryLine);
    if (!audio.empty()) o.AudioCodec = audio;

    o.CopyTimestamp = false;
    o.CustomHook = false;
    if (context.ClipActive) o.DurationMS = context.ClipLengthMs;

    if (ext == ".flv" || ext == ".swf") {
        if (o.AudioSampleRate != 11025 && o.AudioSampleRate != 22050 && o.AudioSampleRate != 44100)
            o.AudioSampleRate = 22050;
    } else if (ext == ".ogg") {
        o.VideoCodec = "libtheora";
        o.AudioCodec = "flac";
    } else if (ext == ".psp") {
        o.FileFormat = "psp";
        o.VideoCodec = "mpeg4";
        o.AudioCodec = "libfaac";
        o.AudioSampleRate = 24000;
        o.FrameRate = "15000/1001";
        ext = "_psp.mp4";
    } else if (ext == ".ipod") {
        o.VideoCodec = "mpeg4";
        o.AudioCodec = "libfaac";
        o.FrameSize = "320x240";
        ext = "_ipod.mp4";
    } else if (ext == ".rm10") {
        o.VideoCodec = "rv10";
        ext = "_rv10.rm";
    } else if (ext == ".rm20") {
        o.VideoCodec = "rv20";
        ext = "_rv20.rm";
    } else if (ext == ".mp4") {
    } else if (ext == ".wmv") {
        o.VideoCodec = "wmv2";
        o.AudioCodec = "wmav2";
    } else if (ext == ".mkv") {
        o.VideoCodec = "libx264";
    } else if (ext == ".wma") {
        o.DisableVideo = true;
        o.AudioCodec = "wmav2";
    } else if (ext == ".3gp") {
        o.AudioChannels = 1;
        o.AudioSampleRate = 8000;
        o.AudioBitrate = 7400;
    }

    // An audio encoder the container cannot carry (a summary line left by
    // another tab) gives way to the container's usual one.
    const size_t dot = ext.rfind('.');
    const std::string container = dot == std::string::npos ? ext : ext.substr(dot);
    for (const TContainerAudio &ca : ContainerAudio) {
        if (container == ca.Ext && !o.AudioCodec.empty() && !WordIn(o.AudioCodec, ca.Allowed))
            o.AudioCodec = ca.Usual;
    }

    // Disc rows: the target preset makes the stream, its own audio included.
    if (c.Target >= 1 && c.Target <= 3) {
        o.Target = c.Target;
        o.TargetNorm = c.TargetNorm;
        o.TargetDefaultNorm = c.TargetNorm == 1 ? 1 : 2;
        o.VideoCodec.clear();
        o.AudioCodec.clear();
        o.FrameRate = c.TargetNorm == 2 ? "30000/1001" : "25";
    }

    o.Info.Timestamp = 0;

    if (!ext.empty() && std::string(".vcd.svcd.dvd").find(ext) != std::string::npos) {
        const char *ending = o.TargetNorm == 1 ? "_pal.mpg" : o.TargetNorm == 2 ? "_ntsc.mpg" : "_auto.mpg";
        ext = "_" + ext.substr(1) + ending;
    }

    o.DisableSubtitle = true;
    o.FileExt = ext;
    o.FileName = Utf8ToUtf16(OutputFileName(context.OutputFolder, baseName, o.FileExt));
    options = o;
    return true;
}

void OutputAssembly::BuildInputOptions(const TAssemblyContext &context, const std::string &sourceFile,
                                       TInputOptions &options) const
{
    TInputOptions i;
    InitInputOptions(i);
    // The file is opened by the path that exists: names are case-sensitive here.
    std::string trimmed = TrimBlanks(sourceFile);
    i.FileName = Utf8ToUtf16(FileExists(trimmed) ? trimmed : sourceFile);
    if (context.ClipActive) i.StartTimeMS = context.ClipStartMs;
    options = i;
}

int32_t OutputAssembly::QueueTask(TCustomZUzidiDOR &component, TInputOptions &input, TOutputOptions &output)
{
    int32_t index = component.AddTask(input.FileName, &input);
    if (index >= 0 && !component.SetOutput(index, output.FileName, &output)) {
        component.RemoveTask(index);
        return -1;
    }
    return index;
}

int32_t OutputAssembly::QueueSources(TCustomZUzidiDOR &component, const TAssemblyContext &context,
                                     RunControl &run, const std::function<void()> &betweenRows)
{
    SkippedRows.clear();
    run.ClearTaskRows();
    if (!PickProfileSettings(context)) return 0;
    std::string message;
    if (!AppSettings::EnsureOutputFolder(context.OutputFolder, message) ||
        !AppSettings::CheckOutputFolderWritable(context.OutputFolder, message)) {
        FMessages.ShowMessage(mkError, message);
        return 0;
    }
    int32_t queued = 0;
    const std::vector<std::string> &files = FSources.SourceFiles();
    for (int32_t row = 0; row < int32_t(files.size()); ++row) {
        if (betweenRows) betweenRows();
        TOutputOptions output;
        TInputOptions input;
        if (!BuildOutputOptions(context, files[row], output)) {
            SkippedRows.emplace_back(row, "no output profile");
            continue;
        }
        BuildInputOptions(context, files[row], input);
        int32_t index = QueueTask(component, input, output);
        if (index < 0) {
            SkippedRows.emplace_back(row, component.LastError());
            continue;
        }
        run.MapTask(index, row);
        ++queued;
    }
    return queued;
}
