#include "ClipRange.h"

#include <cmath>
#include <cstdio>

std::string FormatSeconds(int64_t microseconds)
{
    char text[48];
    std::snprintf(text, sizeof text, "%lld.%.3lld", (long long)(microseconds / 1000000),
                  (long long)((microseconds / 1000) % 1000));
    return text;
}

TFitRect FitRect(int32_t frameWidth, int32_t frameHeight, int32_t destWidth, int32_t destHeight)
{
    TFitRect r;
    if (frameWidth <= 0 || frameHeight <= 0 || destWidth <= 0 || destHeight <= 0) return r;
    double a = double(frameWidth) / destWidth;
    double b = double(frameHeight) / destHeight;
    if (a >= b) {
        // Halves to even: nearbyint in the default rounding mode.
        int32_t c = int32_t(std::nearbyint((destHeight - frameHeight / a) / 2));
        r = {0, c, destWidth, destHeight - 2 * c};
    } else {
        int32_t c = int32_t(std::nearbyint((destWidth - frameWidth / b) / 2));
        r = {c, 0, destWidth - 2 * c, destHeight};
    }
    return r;
}

void ClampClip(int64_t &s, int64_t &e, int64_t d)
{
    if (s < 0 || s >= d) s = 0;
    if (s >= e || e > d) e = d;
}

TPreviewTrack ClipRange::PreviewTrack(int64_t durationUs, bool image2, int32_t trackWidth)
{
    TPreviewTrack t;
    // A still-image sequence, or a file whose duration is unknown: no slider.
    if (image2 || durationUs <= 0) {
        t.SliderVisible = false;
        return t;
    }
    while (durationUs / t.PreviewStep > 32767) t.PreviewStep *= 10;
    t.Maximum = int32_t(durationUs / t.PreviewStep);
    int32_t divisor = (trackWidth - 12) / 10;
    t.TickSpacing = divisor > 0 ? t.Maximum / divisor : 0;
    if (t.Maximum >= 10001)
        t.LineSize = 1000;
    else if (t.Maximum >= 1001)
        t.LineSize = 100;
    else if (t.Maximum >= 101)
        t.LineSize = 10;
    else
        t.LineSize = 1;
    t.PageSize = 5 * t.LineSize;
    return t;
}

void ClipRange::Setup(int64_t durationUs, bool image2, int32_t trackWidth)
{
    FTrack = PreviewTrack(durationUs, image2, trackWidth);
    FDuration = durationUs;
    FSelStart = 0;
    FSelEnd = 0;
}

int64_t ClipRange::FrameTime(int32_t position) const
{
    if (position == FTrack.Maximum) return FDuration > 0 ? FDuration : 0;
    return position * FTrack.PreviewStep;
}

std::string ClipRange::PositionLabel(int32_t position) const
{
    return "PTS: " + FormatSeconds(position * FTrack.PreviewStep);
}

std::string ClipRange::MarkStart(int32_t position)
{
    FSelStart = position;
    FCutClipEnabled = FSelEnd >= 1 && FSelStart < FSelEnd;
    return FormatSeconds(position * FTrack.PreviewStep);
}

std::string ClipRange::MarkEnd(int32_t position)
{
    FSelEnd = position;
    FCutClipEnabled = FSelEnd >= 1 && FSelStart < FSelEnd;
    return FormatSeconds(position * FTrack.PreviewStep);
}

bool ClipRange::ClipActive() const
{
    return FCutClipEnabled && FCutClipChecked && FSelEnd > 0 && FSelEnd > FSelStart;
}

int32_t ClipRange::ClipStartMs() const
{
    int64_t s = FSelStart * FTrack.PreviewStep / 1000, e = FSelEnd * FTrack.PreviewStep / 1000,
            d = FDuration / 1000;
    ClampClip(s, e, d);
    return int32_t(s);
}

int32_t ClipRange::ClipLengthMs() const
{
    int64_t s = FSelStart * FTrack.PreviewStep / 1000, e = FSelEnd * FTrack.PreviewStep / 1000,
            d = FDuration / 1000;
    ClampClip(s, e, d);
    return int32_t(e - s);
}
