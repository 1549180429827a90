// The preview track bar's numbers and the clip range marked on it.
//
// Position p of the track bar stands for p * PreviewStep microseconds from
// the start of the file. The clip is the track bar's selection; when the
// clip check box is enabled and checked it limits every task built while it
// is set. User-interface thread only.
#pragma once

#include <cstdint>
#include <string>

// The track bar's set-up for a file.
struct TPreviewTrack {
    bool SliderVisible = true; // false for a still-image sequence ("image2")
    int64_t PreviewStep = 10;  // microseconds per position, a power of ten >= 10
    int32_t Maximum = 0;       // N = duration div PreviewStep (<= 32767); 0 when hidden
    int32_t TickSpacing = 0;   // N div ((track width - 12) div 10)
    int32_t LineSize = 1;      // arrow keys
    int32_t PageSize = 5;      // 5 * LineSize
};

// "%d.%.3d" of whole seconds and milliseconds: 95500000 gives "95.500".
std::string FormatSeconds(int64_t microseconds);

struct TFitRect {
    int32_t Left = 0, Top = 0, Width = 0, Height = 0;
};
// The part of a destination of destWidth x destHeight that a frame of
// frameWidth x frameHeight fills, keeping its shape and centred; margins
// rounded to the nearest integer, halves to even. Empty for an empty frame
// or destination.
TFitRect FitRect(int32_t frameWidth, int32_t frameHeight, int32_t destWidth, int32_t destHeight);

// Clip start s and end e (milliseconds) held within a duration d: a start
// outside [0, d) becomes 0; an end not after the start or beyond d becomes d.
void ClampClip(int64_t &s, int64_t &e, int64_t d);

class ClipRange {
public:
    // The set-up for a file of `durationUs` (SetupPreviewTrack's numbers).
    static TPreviewTrack PreviewTrack(int64_t durationUs, bool image2, int32_t trackWidth = 220);

    // OpenPreview: takes the file's numbers and resets the selection to 0.
    // The check box keeps its enabled state and mark (the window resets
    // neither), as do the two time texts.
    void Setup(int64_t durationUs, bool image2, int32_t trackWidth = 220);

    const TPreviewTrack &Track() const { return FTrack; }
    int64_t PreviewStep() const { return FTrack.PreviewStep; }
    int64_t Duration() const { return FDuration; }

    // The time whose picture the preview shows at `position`: the file's
    // duration at the maximum, else position * PreviewStep.
    int64_t FrameTime(int32_t position) const;
    // The label under the preview: "PTS: " + FormatSeconds(position * PreviewStep).
    std::string PositionLabel(int32_t position) const;

    // The start and end buttons: set the selection mark and return the
    // text of its edit; both then re-evaluate whether the check box is enabled.
    std::string MarkStart(int32_t position);
    std::string MarkEnd(int32_t position);
    int32_t SelectionStart() const { return FSelStart; }
    int32_t SelectionEnd() const { return FSelEnd; }

    // chkCutClip: enabled exactly when selection end >= 1 and start < end
    // (after a mark); the user sets the check mark.
    bool CutClipEnabled() const { return FCutClipEnabled; }
    bool CutClipChecked() const { return FCutClipChecked; }
    void SetCutClipChecked(bool checked) { FCutClipChecked = checked; }

    // The clip applies: check box enabled and checked, end > 0 and end > start.
    bool ClipActive() const;
    // The clamped clip in milliseconds.
    int32_t ClipStartMs() const;
    int32_t ClipLengthMs() const;

private:
    TPreviewTrack FTrack;
    int64_t FDuration = 0;
    int32_t FSelStart = 0;
    int32_t FSelEnd = 0;
    bool FCutClipEnabled = false;
    bool FCutClipChecked = false;
};
