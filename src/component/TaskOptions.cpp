#include "TaskOptions.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "Convert.h"
#include "FFmpeg.h"

namespace {
// Blanks and control characters off both ends.
std::string Trim(const std::string &text)
{
    size_t first = 0, last = text.size();
    while (first < last && uint8_t(text[first]) <= ' ') ++first;
    while (last > first && uint8_t(text[last - 1]) <= ' ') --last;
    return text.substr(first, last - first);
}

const char *NormText(int32_t norm) { return norm == 1 ? "pal" : norm == 2 ? "ntsc" : "auto"; }

// A colour with the top byte set names a system colour of the platform the
// records come from; there are none here, so it counts as black.
int32_t ResolveColor(int32_t color) { return (color & int32_t(0xFF000000)) ? 0 : color; }

const char *Flag(bool value) { return value ? "1" : "0"; }

// Milliseconds as text to microseconds; text that is not a number is -1 ms.
int64_t RangeTime(const std::string &text)
{
    int64_t ms = 0;
    if (!TryStrToInt64(text, ms)) ms = -1;
    constexpr int64_t limit = INT64_MAX / 1000;
    return std::clamp(ms, -limit, limit) * 1000;
}

// Offset of local standard time from UTC, in seconds, at `when`.
long StandardOffset(time_t when)
{
    tm local{};
    localtime_r(&when, &local);
    if (local.tm_isdst <= 0) return local.tm_gmtoff;
    // Daylight saving is on now: take the offset of a day of this year on
    // which it is off (January in the north, July in the south).
    for (int month : {0, 6}) {
        tm probe{};
        probe.tm_year = local.tm_year;
        probe.tm_mon = month;
        probe.tm_mday = 1;
        probe.tm_hour = 12;
        probe.tm_isdst = -1;
        const time_t t = mktime(&probe);
        tm other{};
        localtime_r(&t, &other);
        if (other.tm_isdst == 0) return other.tm_gmtoff;
    }
    return local.tm_gmtoff - 3600;
}
} // namespace

void InitInputOptions(TInputOptions &options) { options = TInputOptions{}; }

void InitOutputOptions(TOutputOptions &options) { options = TOutputOptions{}; }

void ApplyExtraOptions(TCustomFFmpeg &engine, const std::string &text, bool secondPass)
{
    std::string rest;
    const std::string trimmed = Trim(text);
    rest.reserve(trimmed.size());
    for (size_t i = 0; i < trimmed.size(); ++i) {
        if (trimmed[i] == '\r') {
            rest += '\n';
            if (i + 1 < trimmed.size() && trimmed[i + 1] == '\n') ++i;
        } else {
            rest += trimmed[i];
        }
    }

    size_t pos = 0;
    while (pos < rest.size()) {
        size_t end = rest.find('\n', pos);
        if (end == std::string::npos) end = rest.size();
        const std::string line = rest.substr(pos, end - pos);
        pos = end + 1;

        const size_t equals = line.find('=');
        const std::string name = line.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
        const bool addsStream = name == "newvideo" || name == "newaudio" || name == "newsubtitle";
        if (addsStream == secondPass) engine.SetOption(name, value);
    }
}

void ApplyInputOptions(TCustomFFmpeg &engine, const TInputOptions &options)
{
    ApplyExtraOptions(engine, options.ExtOptions, false);
    if (!options.FileFormat.empty()) engine.SetInputFormat(options.FileFormat);
    if (options.StartTimeMS > 0) engine.SetStartTime(int64_t(options.StartTimeMS) * 1000);
    if (options.StartTimeUS > 0) engine.SetStartTime(options.StartTimeUS);
    if (options.ProgramID >= 0) engine.SetProgramId(options.ProgramID);
}

void ApplyOutputOptions(TCustomFFmpeg &engine, const TOutputOptions &o)
{
    // The preset first, so that every field below overrides what it set.
    static const char *const targets[] = {"vcd", "svcd", "dvd"};
    if (o.Target >= 1 && o.Target <= 3)
        engine.SetTarget(targets[o.Target - 1], NormText(o.TargetNorm),
                         o.TargetDefaultNorm == 1 ? "pal" : "ntsc");

    ApplyExtraOptions(engine, o.ExtOptions, false);

    if (!o.FileFormat.empty()) engine.SetOutputFormat(o.FileFormat);
    if (o.PacketSize > 0) engine.ApplyGenericIntOption("packetsize", o.PacketSize);
    if (o.MuxRate > 0) engine.ApplyGenericIntOption("muxrate", o.MuxRate);
    if (o.MuxDelay > 0) engine.SetMuxMaxDelay(o.MuxDelay);
    if (o.MuxPreload > 0) engine.SetMuxPreload(o.MuxPreload);

    if (!o.AudioCodec.empty()) engine.SetAudioCodec(o.AudioCodec);
    engine.SetOption("an", Flag(o.DisableAudio));
    if (o.AudioVolume >= 0) engine.SetAudioVolume(o.AudioVolume);
    if (o.AudioChannels > 0) engine.SetAudioChannels(o.AudioChannels);
    if (o.AudioSampleRate > 0) engine.SetAudioRate(o.AudioSampleRate);
    if (o.AudioBitrate > 0) engine.ApplyGenericIntOption("ab", o.AudioBitrate);
    if (o.AudioBitrateTolerance > 0) engine.ApplyGenericIntOption("abt", o.AudioBitrateTolerance);
    engine.SetOption("alang", o.AudioLanguage);
    engine.SetAudioSyncMethod(o.AudioSync);
    if (!o.AudioTag.empty()) engine.SetAudioTag(o.AudioTag);

    if (!o.VideoCodec.empty()) engine.SetVideoCodec(o.VideoCodec);
    engine.SetOption("vn", Flag(o.DisableVideo));
    if (!o.FrameRate.empty()) engine.SetFrameRate(o.FrameRate);
    if (!o.FrameSize.empty()) engine.SetFrameSize(o.FrameSize);
    if (!o.FrameAspectRatio.empty()) engine.SetAspectRatio(o.FrameAspectRatio);
    if (o.CropTop >= 0) engine.SetCropTop(o.CropTop);
    if (o.CropBottom >= 0) engine.SetCropBottom(o.CropBottom);
    if (o.CropLeft >= 0) engine.SetCropLeft(o.CropLeft);
    if (o.CropRight >= 0) engine.SetCropRight(o.CropRight);
    if (o.PadTop >= 0) engine.SetPadTop(o.PadTop);
    if (o.PadBottom >= 0) engine.SetPadBottom(o.PadBottom);
    if (o.PadLeft >= 0) engine.SetPadLeft(o.PadLeft);
    if (o.PadRight >= 0) engine.SetPadRight(o.PadRight);
    engine.SetPadColor(ResolveColor(o.PadColor));
    // The libraries' name of the group-of-pictures size is "g".
    if (o.GopSize > 0) engine.ApplyGenericIntOption("g", o.GopSize);
    if (o.VideoBitrate > 0) engine.ApplyGenericIntOption("vb", o.VideoBitrate);
    if (o.MaxRate > 0) engine.ApplyGenericIntOption("maxrate", o.MaxRate);
    if (o.MinRate > 0) engine.ApplyGenericIntOption("minrate", o.MinRate);
    if (o.VideoBitrateTolerance > 0) engine.ApplyGenericIntOption("bt", o.VideoBitrateTolerance);
    if (o.BufferSize > 0) engine.ApplyGenericIntOption("bufsize", o.BufferSize);
    engine.SetVideoSyncMethod(o.VideoSync);
    if (!o.VideoTag.empty()) engine.SetVideoTag(o.VideoTag);
    if (!o.VideoFilters.empty()) engine.SetVideoFilters(o.VideoFilters);

    engine.SetOption("sn", Flag(o.DisableSubtitle));
    engine.SetOption("slang", o.SubtitleLanguage);
    // The "copyts" option only ever switches copying on; the record can
    // also leave it off.
    engine.CopyTs = o.CopyTimestamp;

    if (o.StartTimeMS > 0) engine.SetStartTime(int64_t(o.StartTimeMS) * 1000);
    if (o.StartTimeUS > 0) engine.SetStartTime(o.StartTimeUS);
    if (o.DurationMS > 0) engine.SetRecordingTimeMs(o.DurationMS);
    if (o.DurationUS > 0) engine.SetRecordingTime(o.DurationUS);

    const TStreamInfo &info = o.Info;
    // "Now" is the current time whatever the daylight saving: the local
    // value would come back an hour late while it is on.
    if (info.Timestamp == 0)
        engine.RecTimestamp = int64_t(time(nullptr));
    else if (info.Timestamp > 0)
        engine.RecTimestamp = DateTimeToUnixTime(info.Timestamp);
    if (info.Year > 0) engine.AddMetadataPair("year", std::to_string(info.Year));
    if (info.Track > 0) engine.AddMetadataPair("track", std::to_string(info.Track));
    if (!info.Title.empty()) engine.AddMetadataPair("title", info.Title);
    if (!info.Author.empty()) engine.AddMetadataPair("author", info.Author);
    if (!info.CopyrightText.empty()) engine.AddMetadataPair("copyright", info.CopyrightText);
    if (!info.Comment.empty()) engine.AddMetadataPair("comment", info.Comment);
    if (!info.Album.empty()) engine.AddMetadataPair("album", info.Album);
    if (!info.Genre.empty()) engine.AddMetadataPair("genre", info.Genre);
}

std::vector<std::pair<int64_t, int64_t>> ParseTimeRanges(const std::string &text)
{
    std::vector<std::pair<int64_t, int64_t>> ranges;
    const std::string all = Trim(text);
    if (all.empty()) return ranges;
    ranges.reserve(size_t(std::count(all.begin(), all.end(), ',')) + 1);
    size_t pos = 0;
    while (pos <= all.size()) {
        size_t comma = all.find(',', pos);
        if (comma == std::string::npos) comma = all.size();
        const std::string item = Trim(all.substr(pos, comma - pos));
        pos = comma + 1;

        const size_t dash = item.find('-');
        const int64_t start = RangeTime(Trim(item.substr(0, dash)));
        const int64_t end =
            RangeTime(dash == std::string::npos ? std::string() : Trim(item.substr(dash + 1)));
        if (end >= start && end >= 0) ranges.emplace_back(start, end);
    }
    return ranges;
}

void ApplyTimeRanges(TCustomFFmpeg &engine, const std::string &text)
{
    engine.HookRanges = ParseTimeRanges(text);
    engine.HookRangeIndex = 0;
    std::stable_sort(engine.HookRanges.begin(), engine.HookRanges.end(),
                     [](const auto &a, const auto &b) { return a.second < b.second; });
}

int64_t DateTimeToUnixTime(double value)
{
    const double zone = double(StandardOffset(time(nullptr))) / 86400.0;
    return std::llround((value - 25569.0 - zone) * 86400.0);
}
