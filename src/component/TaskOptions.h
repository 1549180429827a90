// The two records that describe a conversion task to the component, and
// their translation into the settings of a task's engine.
//
// Every field starts at a value that means "not set"; the translation skips
// such a field, so the engine keeps its own default. Strings are narrow
// (UTF-8) unless they are file names, which are wide (UTF-16).
//
// The translation functions run on the caller's thread before the task
// starts. They raise what the engine's option handlers raise
// (FFmpegException, EConvertError, EAssertionFailed); AddTask and SetOutput
// catch it and report it through LastError.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class TCustomFFmpeg;

// One input of a task.
struct TInputOptions {
    std::u16string FileName; // filled in by AddTask from its argument when empty
    std::string FileFormat;  // forced container format; empty: detected
    int32_t StartTimeMS = -1;
    int64_t StartTimeUS = -1; // wins over StartTimeMS when both are set
    int32_t ProgramID = -1;
    std::string ExtOptions; // extra engine options, "name=value" per line
};

// Metadata and creation time of the output file.
struct TStreamInfo {
    // Days since 30 December 1899, the fraction being the local time of day.
    // 0: now; > 0: this time; < 0: none.
    double Timestamp = -1.0;
    int32_t Year = -1;
    int32_t Track = -1;
    std::string Title;
    std::string Author;
    std::string CopyrightText;
    std::string Comment;
    std::string Album;
    std::string Genre;
};

// The output of a task.
struct TOutputOptions {
    std::u16string FileName; // filled in by SetOutput from its argument when empty
    std::string FileExt;     // kept for the caller, not translated
    std::string FileFormat;
    int32_t PacketSize = -1;
    int32_t MuxRate = -1;
    float MuxDelay = -1.0f;   // seconds
    float MuxPreload = -1.0f; // seconds
    std::string AudioCodec;
    bool DisableAudio = false;
    int32_t AudioVolume = -1; // 256 = unchanged
    int32_t AudioChannels = -1;
    int32_t AudioSampleRate = -1;
    int32_t AudioBitrate = -1; // bits/s
    int32_t AudioBitrateTolerance = -1;
    std::string AudioLanguage;
    int32_t AudioSync = 0;
    std::string AudioTag; // four characters
    std::string VideoCodec;
    bool DisableVideo = false;
    std::string FrameRate;
    std::string FrameSize;
    std::string FrameAspectRatio;
    int32_t CropTop = -1, CropBottom = -1, CropLeft = -1, CropRight = -1;
    int32_t PadTop = -1, PadBottom = -1, PadLeft = -1, PadRight = -1;
    int32_t PadColor = 0; // 0x00BBGGRR
    int32_t GopSize = -1;
    int32_t VideoBitrate = -1; // bits/s
    int32_t MaxRate = -1;
    int32_t MinRate = -1;
    int32_t VideoBitrateTolerance = -1;
    int32_t BufferSize = -1;
    int32_t VideoSync = -1;
    std::string VideoTag; // four characters
    std::string VideoFilters;
    bool DisableSubtitle = false;
    std::string SubtitleLanguage;
    bool CopyTimestamp = false;
    int32_t StartTimeMS = -1;
    int64_t StartTimeUS = -1; // wins over StartTimeMS
    int32_t DurationMS = -1;
    int64_t DurationUS = -1; // wins over DurationMS
    TStreamInfo Info;
    int32_t Target = 0;            // 1 "vcd", 2 "svcd", 3 "dvd", others none
    int32_t TargetNorm = 0;        // 0 "auto", 1 "pal", 2 "ntsc"
    int32_t TargetDefaultNorm = 1; // 1 "pal", others "ntsc"
    bool CustomHook = false;       // OnCustomHook for every decoded picture
    bool BeforeHook = false;       // OnBeforeHook decides on the frame-hook modules; without CustomHook
    std::string TimeRanges;        // "start-end" ms, comma-separated; without either hook
    std::string ExtOptions;        // extra engine options, "name=value" per line
};

void InitInputOptions(TInputOptions &options);
void InitOutputOptions(TOutputOptions &options);

// Applies the "name=value" lines of `text` through the engine's option
// parser: "newvideo", "newaudio" and "newsubtitle" only in the second pass
// (after the output is open), every other name only in the first.
void ApplyExtraOptions(TCustomFFmpeg &engine, const std::string &text, bool secondPass);

// The input record's fields, in order: extra options (first pass), format,
// start position, program. FileName is not looked at.
void ApplyInputOptions(TCustomFFmpeg &engine, const TInputOptions &options);
// The output record up to the frame hooks: the target preset, the extra
// options (first pass), then every field in the record's order.
void ApplyOutputOptions(TCustomFFmpeg &engine, const TOutputOptions &options);

// The ranges of a TimeRanges text, (start, end) in microseconds, in the
// text's order; items that do not parse or end before they start are left out.
std::vector<std::pair<int64_t, int64_t>> ParseTimeRanges(const std::string &text);
// Replaces the engine's range list by the ranges of `text`, sorted by end.
void ApplyTimeRanges(TCustomFFmpeg &engine, const std::string &text);

// Seconds since 1970-01-01 UTC of a local date-time value (days since
// 1899-12-30), with the local offset from UTC taken without daylight saving.
int64_t DateTimeToUnixTime(double value);
