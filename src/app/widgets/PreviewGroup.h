// The group "视频预览窗口": a still picture of the file shown in the source
// list, a track bar to move through it, and the clip marks that limit the
// conversion.
//
// The picture comes from the component's probe, which this group borrows on
// the user-interface thread. While the track bar moves, decodes are
// coalesced: a position change only records the position and schedules one
// decode, which shows the latest position when it runs, so a drag never
// builds up a backlog and the position where it stops is decoded last.
#pragma once

#include <QWidget>
#include <QImage>

#include <cstdint>

#include "ClipRange.h"
#include "PreviewRequests.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TAVProbe;
class TTrackBar;

// A picture of fixed size that keeps what was drawn on it (imgPreview).
class TPictureBox : public QWidget {
    Q_OBJECT
public:
    TPictureBox(int width, int height, QWidget *parent = nullptr);
    QImage &Canvas() { return FCanvas; }
    const QImage &Canvas() const { return FCanvas; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage FCanvas;
};

// The contents of the group "视频预览窗口", laid out in the group's own
// coordinates: made as a child of the group box, it covers it whole.
class TPreviewGroup : public QWidget {
    Q_OBJECT
public:
    static constexpr int PictureWidth = 220;
    static constexpr int PictureHeight = 145;
    static constexpr QRgb SkyBlue = 0xFFA6CAF0; // RGB(166, 202, 240)

    // `clip` holds the track bar's numbers and the marks; the window's task
    // building reads it. It must outlive the group.
    explicit TPreviewGroup(ClipRange &clip, QWidget *parent = nullptr);

    // Takes the probe's open file: the picture turns sky blue, the track bar
    // is set up for the file (selection reset) and its first position shown.
    void OpenPreview(TAVProbe &probe);
    // Shows the placeholder picture (the list was cleared or the row removed).
    void ClearPicture();
    // Forgets the probe: no more decodes until the next OpenPreview.
    void ClosePreview();

    // Decodes and draws the picture at the track bar's position now, and
    // sets the time label.
    void ShowPreviewFrame();

    // The clip marks and the track bar's numbers (the option assembly reads
    // the clip from here).
    const ClipRange &Clip() const { return FClip; }
    bool ClipActive() const { return FClip.ClipActive(); }
    int32_t ClipStartMs() const { return FClip.ClipStartMs(); }
    int32_t ClipLengthMs() const { return FClip.ClipLengthMs(); }

    // The last decoded picture at its own size (null before the first),
    // the time asked for and the picture's own time stamp (-1 when none).
    const QImage &Frame() const { return FFrame; }
    int64_t FrameTime() const { return FFrameTime; }
    int64_t FramePTS() const { return FFramePTS; }
    const TPreviewRequests &Requests() const { return FRequests; }
    // True when no decode is waiting and the track bar's position is shown.
    bool Settled() const;

    TTrackBar *TrackBar() const { return FTrack; }
    TPictureBox *PictureBox() const { return FPicture; }

signals:
    // A picture was decoded for `position` and drawn.
    void FrameShown(int position);

private:
    void SetupPreviewTrack();
    void PositionChanged(int position);
    void DecodePending();
    void DecodeAt(int position);
    void DrawFitted(const QImage &frame);
    void DrawPlaceholder();
    void MarkStart();
    void MarkEnd();

    TPictureBox *FPicture;
    TTrackBar *FTrack;
    QLabel *FPTS;
    QPushButton *FStartButton;
    QLineEdit *FStartEdit;
    QPushButton *FEndButton;
    QLineEdit *FEndEdit;
    QCheckBox *FCutClip;

    TAVProbe *FProbe = nullptr;
    int32_t FVideoStream = -1;
    int64_t FDuration = -1;
    bool FBusy = false;
    ClipRange &FClip;
    TPreviewRequests FRequests;
    QImage FFrame;
    int64_t FFrameTime = -1;
    int64_t FFramePTS = -1;
};
