// The preview of encoded pictures: at most one picture per PreviewInterval,
// handed as a bitmap to PreviewBitmapHandler or shown in the previewer.
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <mutex>

#include "FFmpeg.h"
#include "Previewer.h"

namespace {
std::mutex FactoryLock;
TPreviewerFactory Factory;
} // namespace

void SetPreviewerFactory(TPreviewerFactory factory)
{
    std::lock_guard<std::mutex> lock(FactoryLock);
    Factory = std::move(factory);
}

bool HasPreviewerFactory()
{
    std::lock_guard<std::mutex> lock(FactoryLock);
    return bool(Factory);
}

std::unique_ptr<TPreviewer> CreatePreviewer()
{
    TPreviewerFactory factory;
    {
        std::lock_guard<std::mutex> lock(FactoryLock);
        factory = Factory;
    }
    return factory ? factory() : nullptr;
}

std::string FormatPTS(int64_t pts)
{
    if (pts == AV_NOPTS_VALUE) return "N/A";
    const int64_t hours = pts / (int64_t(3600) * 1000000);
    const int64_t minutes = (pts / (int64_t(60) * 1000000)) % 60;
    const int64_t seconds = (pts / 1000000) % 60;
    const int64_t millis = (pts % 1000000) * 1000 / 1000000;
    char text[64];
    std::snprintf(text, sizeof text, "%.2" PRId64 ":%.2" PRId64 ":%.2" PRId64 ".%.3" PRId64, hours, minutes,
                  seconds, millis);
    return text;
}

namespace {
// The scaler aborts on a format it does not know at all, so a format is
// offered to it only when it reads it.
bool ConvertibleToBitmap(AVPixelFormat format)
{
    return format == AV_PIX_FMT_BGR24 || (format > AV_PIX_FMT_NONE && lav::sws_isSupportedInput(format) > 0);
}

std::string ExceptionText()
{
    try {
        throw;
    } catch (const std::exception &e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}
} // namespace

void TCustomFFmpeg::PreviewPicture(const TPicture &picture, AVCodecContext *encoder, int64_t ptsUs)
{
    if (!encoder) return;
    std::lock_guard<std::mutex> lock(PreviewLock);
    uint8_t flags = PreviewFlags;

    // A monotonic clock, so that setting the system clock back cannot hold
    // previews off; the first picture of a job is always due.
    const int64_t now = lav::av_gettime_relative();
    const bool due = Preview.LastTime == 0 || now - Preview.LastTime > PreviewInterval;
    auto convert = [&] {
        Preview.CurrentTime = now;
        const bool ok = ConvertibleToBitmap(encoder->pix_fmt) &&
                        PictureToBitmap(Preview.Converter, picture.data, picture.linesize, encoder->pix_fmt,
                                        encoder->height, encoder->width);
        if (!ok) Log(0, "Cannot initialize the toRGB conversion context");
        return ok;
    };

    if ((flags & PreviewToBitmap) && PreviewBitmapHandler) {
        if (due) {
            if (convert()) {
                try {
                    PreviewBitmapHandler(*this, *Preview.Converter.Bitmap, ptsUs, PictureCounter);
                } catch (...) {
                    // Preview is an aside: a failing handler ends the previews,
                    // not the conversion.
                    Log(0, "Error occurs OnPreviewBitmap: " + ExceptionText());
                    flags &= uint8_t(~PreviewToBitmap);
                }
            } else {
                flags &= uint8_t(~PreviewToBitmap);
            }
            Preview.LastTime = now;
        }
    } else if ((flags & PreviewToWindow) && (Preview.Window || HasPreviewerFactory())) {
        if (due) {
            bool ok = convert();
            if (ok) {
                if (!Preview.Window) Preview.Window = CreatePreviewer();
                try {
                    ok = Preview.Window &&
                         Preview.Window->ShowPicture(*Preview.Converter.Bitmap, PictureCounter, ptsUs);
                } catch (...) {
                    Log(0, "Error occurs in the previewer: " + ExceptionText());
                    ok = false;
                }
            }
            if (!ok) flags &= uint8_t(~PreviewToWindow);
            Preview.LastTime = now;
        }
    }

    if (!(flags & PreviewToWindow)) Preview.Window.reset();
    PreviewFlags = flags;
}
