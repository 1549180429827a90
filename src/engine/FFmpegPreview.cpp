// The preview of encoded pictures: at most one picture per PreviewInterval,
// handed as a bitmap to PreviewBitmapHandler or shown in the previewer.
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <mutex>

#include "ExceptionText.h"
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

void TCustomFFmpeg::PreviewPicture(const TPicture &picture, AVCodecContext *encoder, int64_t ptsUs)
{
    if (!encoder) return;
    std::unique_lock<std::mutex> lock(PreviewLock);
    const uint8_t flags = PreviewFlags;
    const bool toBitmap = (flags & PreviewToBitmap) && PreviewBitmapHandler;
    const bool toWindow = !toBitmap && (flags & PreviewToWindow) && (Preview.Window || HasPreviewerFactory());
    if (!toBitmap && !toWindow) return;

    // A monotonic clock, so that setting the system clock back cannot hold
    // previews off; the first picture of a job is always due.
    const int64_t now = lav::av_gettime_relative();
    if (Preview.LastTime != 0 && now - Preview.LastTime <= PreviewInterval) return;
    Preview.CurrentTime = now;
    Preview.LastTime = now;
    const uint8_t used = toBitmap ? PreviewToBitmap : PreviewToWindow;

    std::string failure;
    bool ok = PictureToBitmap(Preview.Converter, picture.data, picture.linesize, encoder->pix_fmt,
                              encoder->height, encoder->width);
    if (!ok) failure = "Cannot initialize the toRGB conversion context";

    std::unique_ptr<TPreviewer> previewer;
    if (ok) {
        // The handler and the previewer hand the picture to the user-interface
        // thread and wait for it, and that thread takes this lock to change
        // the switches; so the lock is let go meanwhile. The previewer is
        // taken out for the time, so that a switch change cannot destroy it
        // while it draws. Only this thread uses the converter during a job.
        if (toWindow) previewer = Preview.Window ? std::move(Preview.Window) : CreatePreviewer();
        TBitmap &bitmap = *Preview.Converter.Bitmap;
        const int32_t frameNumber = PictureCounter;
        lock.unlock();
        try {
            if (toBitmap)
                PreviewBitmapHandler(*this, bitmap, ptsUs, frameNumber);
            else
                ok = previewer && previewer->ShowPicture(bitmap, frameNumber, ptsUs);
        } catch (...) {
            // Preview is an aside: a failing handler ends the previews, not
            // the conversion.
            failure = (toBitmap ? "Error occurs OnPreviewBitmap: " : "Error occurs in the previewer: ") +
                      ExceptionText();
            ok = false;
        }
        lock.lock();
    }

    // The switches as they are now, less the one that failed; a previewer
    // whose switch went off meanwhile (or that the user closed) goes.
    if (!ok) PreviewFlags = uint8_t(PreviewFlags & ~used);
    if (previewer && (PreviewFlags & PreviewToWindow) && !Preview.Window)
        Preview.Window = std::move(previewer);
    if (!(PreviewFlags & PreviewToWindow)) Preview.Window.reset();
    lock.unlock();
    previewer.reset(); // outside the lock: closing the window waits for the user-interface thread
    if (!failure.empty()) Log(0, failure);
}
