// The pre-processing step of every decoded video picture: the hook decision
// (before hook or time ranges), the working picture in the hook buffer,
// deinterlacing, the custom hook and the frame-hook modules.
#include <algorithm>
#include <cstring>
#include <exception>

#include "ExceptionText.h"
#include "FFmpeg.h"
#include "PictureOps.h"

void TCustomFFmpeg::PreProcessPicture(TInputStreamState &ist, TPicture &picture)
{
    ++PictureCounter;
    AVCodecContext *decoder = ist.Decoder;
    if (!decoder) return;
    const int64_t t = ist.Pts;
    const AVPixelFormat format = decoder->pix_fmt;
    const int width = decoder->width, height = decoder->height;

    // Which pictures the modules see: the before hook decides per picture,
    // else the time ranges; the custom hook replaces both.
    if (!CustomHookHandler && UsingHooks) {
        if (BeforeHookHandler) {
            try {
                BeforeHookHandler(*this, HookAction, t);
            } catch (...) {
                Log(0, "Error occurs OnBeforeHook: " + ExceptionText());
                HookAction = haStop;
            }
            if (HookAction == haStop) UsingHooks = false;
        } else if (!HookRanges.empty()) {
            HookAction = haIgnore;
            const int32_t last = int32_t(HookRanges.size()) - 1;
            for (int32_t i = std::clamp(HookRangeIndex, 0, last); i <= last; ++i) {
                const auto &[start, end] = HookRanges[size_t(i)];
                if (start <= t && t <= end) {
                    HookRangeIndex = i;
                    HookAction = haContinue;
                    break;
                }
                if (i == last && end < t) {
                    HookAction = haStop;
                    UsingHooks = false;
                }
            }
        }
    }

    const bool runModules = UsingHooks && HookAction == haContinue;
    TPicture working = picture;
    if (Deinterlace || CustomHookHandler || runModules) {
        // The working picture is a copy in the hook buffer: the decoder may
        // still refer to the pixels of the picture it returned.
        const int size = lav::av_image_get_buffer_size(format, width, height, 1);
        if (size > 0 && (!HookBuffer || size > HookBufferSize)) {
            lav::av_freep(&HookBuffer);
            HookBuffer = static_cast<uint8_t *>(lav::av_malloc(size_t(size)));
            HookBufferSize = HookBuffer ? size : 0;
        }
        if (size <= 0 || !HookBuffer) {
            Log(0, "hook buf malloc error.");
            return;
        }
        lav::av_image_fill_arrays(working.data, working.linesize, HookBuffer, format, width, height, 1);
        bool copied = false;
        if (Deinterlace) {
            copied = PictureDeinterlace(working, picture, format, width, height) >= 0;
            if (!copied) Log(0, "Deinterlacing failed.");
        }
        if (!copied)
            lav::av_image_copy(working.data, working.linesize, const_cast<const uint8_t **>(picture.data),
                               picture.linesize, format, width, height);
    }

    if (CustomHookHandler)
        CustomHookStep(working, decoder, t);
    else if (runModules)
        RunFrameHooks(HookList, working, format, width, height, t);

    picture = working;
}

void TCustomFFmpeg::CustomHookStep(TPicture &picture, AVCodecContext *decoder, int64_t pts)
{
    const AVPixelFormat format = decoder->pix_fmt;
    const int width = decoder->width, height = decoder->height;
    TBitmapConverter &converter = HookConverter;

    bool stop = !PictureToBitmap(converter, picture.data, picture.linesize, format, height, width);
    if (stop) Log(0, "Cannot initialize the toRGB conversion context");

    if (!stop) {
        TBitmap &bitmap = *converter.Bitmap;
        bool update = true;
        bitmap.LockCanvas();
        try {
            CustomHookHandler(*this, bitmap, stop, update, pts, PictureCounter);
        } catch (...) {
            Log(0, "Error occurs OnCustomHook: " + ExceptionText());
            update = false;
        }
        bitmap.UnlockCanvas();
        // A handler that resized the bitmap has nothing to give back.
        if (bitmap.Width() != width || bitmap.Height() != height) update = false;

        if (update) {
            // BGR24 rows go back where PictureToBitmap took them from: the
            // working picture itself for a BGR24 decoder, else the
            // converter's picture, which is then scaled into the working one.
            const bool direct = format == converter.TargetPixelFormat;
            uint8_t *rows = direct ? picture.data[0] : converter.Picture.data[0];
            const int linesize = direct ? picture.linesize[0] : converter.Picture.linesize[0];
            const size_t rowBytes = size_t(width) * 3;
            for (int row = 0; row < height; ++row)
                std::memcpy(rows + ptrdiff_t(row) * linesize, bitmap.ScanLine(row), rowBytes);
            if (!direct) {
                SwsContext *back = nullptr;
                if (lav::sws_isSupportedOutput(format) > 0)
                    back = converter.BackScaler = lav::sws_getCachedContext(
                        converter.BackScaler, width, height, converter.TargetPixelFormat, width, height,
                        format, SWS_BICUBIC, nullptr, nullptr, nullptr);
                if (back) {
                    lav::sws_scale(converter.BackScaler, converter.Picture.data, converter.Picture.linesize,
                                   0, height, picture.data, picture.linesize);
                } else {
                    Log(0, "Cannot initialize the fromRGB conversion context");
                    stop = true;
                }
            }
        }
    }

    if (stop) {
        CustomHookHandler = nullptr;
        HookAction = haStop;
        UsingHooks = false;
    }
}
