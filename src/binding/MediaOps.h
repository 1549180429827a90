// Media operations shared by the engine, the frame hooks and the probe: the
// texts of open and write failures, the store of generic library options, the
// conversion of a decoded picture into a 24-bit bitmap, and metadata lookup.
// Everything here calls the libraries through the bound tables, so the
// libraries must be loaded first.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "EntryPoints.h"

// The text for a library error code met while opening or writing `name`.
std::string OpenErrorText(const std::string &name, int code);

// Option-type flags per codec type (video, audio, data, subtitle, attachment).
constexpr int CodecTypeOptionFlags[5] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                         AV_OPT_FLAG_SUBTITLE_PARAM, 0};

// The default library contexts that collect generic options ("b", "g",
// "flags", "probesize", "sws_flags" ...) before the real contexts exist. One
// per engine; used by the engine's thread only.
struct TOptionContexts {
    std::vector<std::string> Names; // the library's own names of the options set so far
    AVCodecContext *Codec[5] = {};  // by codec type, video first
    AVFormatContext *Format = nullptr;
    SwsContext *Scaler = nullptr;
    // Raises the owner's log level when an option turned debugging on; when
    // unset the libraries' level is raised directly.
    std::function<void(int)> LogLevelCallback;

    size_t Count() const { return Names.size(); }
};

void InitOptionContexts(TOptionContexts &contexts);
void AllocOptionContexts(TOptionContexts &contexts, int scalerFlags);
void FreeOptionContexts(TOptionContexts &contexts);
// Sets a generic option on every default context that knows it. False for an
// empty name or value, a name no context knows (silently), or a value the
// library refuses (logged as "Invalid value ...").
bool SetDefaultOption(TOptionContexts &contexts, const std::string &name, const std::string &value);
// Copies each recorded option from `source` to `target` when the option's
// flags contain every bit of `flags` (AV_OPT_FLAG_* combinations).
void CopyContextOptions(const TOptionContexts &contexts, void *target, void *source, int flags);

// Four plane pointers and four line sizes.
struct TPicture {
    uint8_t *data[4] = {};
    int linesize[4] = {};
};

// Turns pictures of any pixel format into a 24-bit bitmap, reusing its
// buffers and scaler from picture to picture. One per picture consumer.
struct TBitmapConverter {
    AVPixelFormat TargetPixelFormat = AV_PIX_FMT_BGR24;
    int BitmapBits = 24;
    std::unique_ptr<TBitmap> Bitmap;
    uint8_t *Buffer = nullptr;
    int BufferSize = 0;
    TPicture Picture;                            // the converted picture (in Buffer)
    const uint8_t *const *CurrentData = nullptr; // the rows copied into Bitmap
    const int *CurrentLinesize = nullptr;
    SwsContext *Scaler = nullptr;     // to BGR24
    SwsContext *BackScaler = nullptr; // from BGR24, for the custom hook

    TBitmapConverter() = default;
    TBitmapConverter(const TBitmapConverter &) = delete;
    TBitmapConverter &operator=(const TBitmapConverter &) = delete;
};

// Releases the bitmap, the buffer and both scalers; the converter is as new.
void ResetBitmapConverter(TBitmapConverter &converter);
// Converts (or, for a BGR24 source, copies) the picture into converter.Bitmap,
// which is made width x height when it has another size. False when no
// scaler can be made for the source format.
bool PictureToBitmap(TBitmapConverter &converter, const uint8_t *const data[4], const int linesize[4],
                     AVPixelFormat sourceFormat, int height, int width);

std::string MetadataValue(const AVDictionary *metadata, const std::string &key,
                          const std::string &defaultValue);
