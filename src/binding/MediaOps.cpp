#include "MediaOps.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "FFmpegLoader.h"

std::string OpenErrorText(const std::string &name, int code)
{
    const char *format;
    switch (code) {
    case AVERROR(EILSEQ):
    case AVERROR_DEMUXER_NOT_FOUND: format = "%s: Unknown format"; break;
    case AVERROR(EDOM):
        format = "%s: Incorrect image filename syntax.\r\n"
                 "Use '%%d' to specify the image number:\r\n"
                 "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
                 "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.";
        break;
    case AVERROR(EINVAL):
    case AVERROR_INVALIDDATA: // the current libraries' code for bad data
        format = "%s: Error while parsing header";
        break;
    case AVERROR(ENOMEM): format = "%s: memory allocation error occurred"; break;
    case AVERROR(EIO):
        format =
            "%s: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.";
        break;
    case AVERROR(ENOENT): format = "%s: no such file or directory"; break;
    default: format = "%s: Error while opening file"; break;
    }
    int n = std::snprintf(nullptr, 0, format, name.c_str());
    std::string out(size_t(std::max(n, 0)), '\0');
    std::snprintf(out.data(), out.size() + 1, format, name.c_str());
    return out;
}

void InitOptionContexts(TOptionContexts &contexts)
{
    contexts.Names.clear();
    std::fill(std::begin(contexts.Codec), std::end(contexts.Codec), nullptr);
    contexts.Format = nullptr;
    contexts.Scaler = nullptr;
}

void AllocOptionContexts(TOptionContexts &contexts, int scalerFlags)
{
    for (int t = 0; t < 5; ++t) {
        contexts.Codec[t] = lav::avcodec_alloc_context3(nullptr);
        if (contexts.Codec[t]) contexts.Codec[t]->codec_type = AVMediaType(t);
    }
    contexts.Format = lav::avformat_alloc_context();
    contexts.Scaler = lav::sws_alloc_context();
    if (contexts.Scaler) lav::av_opt_set_int(contexts.Scaler, "sws_flags", scalerFlags, 0);
}

void FreeOptionContexts(TOptionContexts &contexts)
{
    for (auto &c : contexts.Codec) lav::avcodec_free_context(&c);
    if (contexts.Format) lav::avformat_free_context(contexts.Format);
    contexts.Format = nullptr;
    if (contexts.Scaler) lav::sws_freeContext(contexts.Scaler);
    contexts.Scaler = nullptr;
    contexts.Names.clear();
}

namespace {
std::string Trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

// Looks `name` up on `context` and sets it there; null when unknown.
const AVOption *SetOn(void *context, const char *name, const char *value, int &result)
{
    if (!context) return nullptr;
    const AVOption *o = lav::av_opt_find(context, name, nullptr, 0, 0);
    if (o) result = lav::av_opt_set(context, name, value, 0);
    return o;
}
} // namespace

bool SetDefaultOption(TOptionContexts &contexts, const std::string &name, const std::string &value)
{
    if (Trim(name).empty() || Trim(value).empty()) return false;
    const AVOption *found = nullptr;
    int result = 0;
    const char *n = name.c_str();
    const char *v = value.c_str();
    for (int t = 0; t < 5 && contexts.Codec[0]; ++t) {
        const AVOption *o = lav::av_opt_find(contexts.Codec[0], n, nullptr, CodecTypeOptionFlags[t], 0);
        if (!o) continue;
        found = o;
        result = lav::av_opt_set(contexts.Codec[t], n, v, 0);
        if (result < 0) break;
    }
    if (!found) found = SetOn(contexts.Format, n, v, result);
    if (!found) found = SetOn(contexts.Scaler, n, v, result);
    if (!found && name.size() > 1) {
        int type = name[0] == 'a'   ? AVMEDIA_TYPE_AUDIO
                   : name[0] == 'v' ? AVMEDIA_TYPE_VIDEO
                   : name[0] == 's' ? AVMEDIA_TYPE_SUBTITLE
                                    : -1;
        if (type >= 0) found = SetOn(contexts.Codec[type], n + 1, v, result);
    }
    if (found && result < 0) {
        lav::av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", v, n);
        return false;
    }
    if (!found) return false;
    contexts.Names.emplace_back(found->name);
    bool debugging =
        (contexts.Codec[0] && contexts.Codec[0]->debug) || (contexts.Format && contexts.Format->debug);
    if (debugging) {
        if (contexts.LogLevelCallback)
            contexts.LogLevelCallback(2);
        else
            lav::av_log_set_level(LibraryLevelToAV(2));
    }
    return true;
}

void CopyContextOptions(const TOptionContexts &contexts, void *target, void *source, int flags)
{
    if (!target || !source) return;
    for (const std::string &name : contexts.Names) {
        const AVOption *o = lav::av_opt_find(source, name.c_str(), nullptr, 0, 0);
        if (!o || (o->flags & flags) != flags) continue;
        uint8_t *value = nullptr;
        if (lav::av_opt_get(source, name.c_str(), 0, &value) >= 0 && value)
            lav::av_opt_set(target, name.c_str(), reinterpret_cast<const char *>(value), 0);
        lav::av_free(value);
    }
}

void ResetBitmapConverter(TBitmapConverter &converter)
{
    converter.Bitmap.reset();
    lav::av_freep(&converter.Buffer);
    if (converter.Scaler) lav::sws_freeContext(converter.Scaler);
    if (converter.BackScaler) lav::sws_freeContext(converter.BackScaler);
    converter.Scaler = nullptr;
    converter.BackScaler = nullptr;
    converter.TargetPixelFormat = AV_PIX_FMT_BGR24;
    converter.BitmapBits = 24;
    converter.BufferSize = 0;
    converter.Picture = TPicture{};
    converter.CurrentData = nullptr;
    converter.CurrentLinesize = nullptr;
}

bool PictureToBitmap(TBitmapConverter &converter, const uint8_t *const data[4], const int linesize[4],
                     AVPixelFormat sourceFormat, int height, int width)
{
    if (width <= 0 || height <= 0) return false;
    if (!converter.Bitmap) converter.Bitmap = std::make_unique<TBitmap>();
    TBitmap &bitmap = *converter.Bitmap;
    if (bitmap.Width() != width || bitmap.Height() != height) bitmap.SetSize(width, height);

    if (sourceFormat == converter.TargetPixelFormat) {
        converter.CurrentData = data;
        converter.CurrentLinesize = linesize;
    } else {
        // The scaler aborts the process on a format it cannot read.
        if (sourceFormat < 0 || !lav::sws_isSupportedInput(sourceFormat)) return false;
        int size = lav::av_image_get_buffer_size(converter.TargetPixelFormat, width, height, 1);
        if (size <= 0) return false;
        if (!converter.Buffer || converter.BufferSize < size) {
            lav::av_freep(&converter.Buffer);
            converter.Buffer = static_cast<uint8_t *>(lav::av_malloc(size_t(size)));
            converter.BufferSize = converter.Buffer ? size : 0;
            if (!converter.Buffer) return false;
        }
        lav::av_image_fill_arrays(converter.Picture.data, converter.Picture.linesize, converter.Buffer,
                                  converter.TargetPixelFormat, width, height, 1);
        converter.Scaler =
            lav::sws_getCachedContext(converter.Scaler, width, height, sourceFormat, width, height,
                                      converter.TargetPixelFormat, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!converter.Scaler) return false;
        lav::sws_scale(converter.Scaler, data, linesize, 0, height, converter.Picture.data,
                       converter.Picture.linesize);
        converter.CurrentData = converter.Picture.data;
        converter.CurrentLinesize = converter.Picture.linesize;
    }
    const int rowBytes = std::min(std::abs(converter.CurrentLinesize[0]), bitmap.RowSize());
    for (int row = 0; row < height; ++row)
        std::memcpy(bitmap.ScanLine(row),
                    converter.CurrentData[0] + ptrdiff_t(row) * converter.CurrentLinesize[0],
                    size_t(rowBytes));
    return true;
}

std::string MetadataValue(const AVDictionary *metadata, const std::string &key,
                          const std::string &defaultValue)
{
    const AVDictionaryEntry *e = lav::av_dict_get(metadata, key.c_str(), nullptr, 0);
    return e ? e->value : defaultValue;
}
