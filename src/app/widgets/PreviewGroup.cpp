#include "PreviewGroup.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>

#include "AVProbe.h"
#include "TrackBar.h"

TPictureBox::TPictureBox(int width, int height, QWidget *parent)
    : QWidget(parent), FCanvas(width, height, QImage::Format_RGB32)
{
    setFixedSize(width, height);
    setAttribute(Qt::WA_OpaquePaintEvent);
    FCanvas.fill(Qt::black);
}

void TPictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), FCanvas);
}

TPreviewGroup::TPreviewGroup(ClipRange &clip, QWidget *parent) : QWidget(parent), FClip(clip)
{
    setObjectName("PreviewGroup");
    setGeometry(0, 0, 234, 295);

    FPicture = new TPictureBox(PictureWidth, PictureHeight, this);
    FPicture->setObjectName("imgPreview");
    FPicture->move(7, 18);

    FTrack = new TTrackBar(this);
    FTrack->setObjectName("trcPreview");
    FTrack->setGeometry(7, 166, 220, 28);
    FTrack->setRange(0, 0);

    FPTS = new QLabel(QStringLiteral("--"), this);
    FPTS->setObjectName("lblPTS");
    FPTS->setGeometry(10, 196, 214, 18);

    FStartButton = new QPushButton(QStringLiteral("起始位置"), this);
    FStartButton->setObjectName("btnStartTime");
    FStartButton->setGeometry(7, 218, 75, 25);
    FStartEdit = new QLineEdit(QStringLiteral("0"), this);
    FStartEdit->setObjectName("edtStartTime");
    FStartEdit->setReadOnly(true);
    FStartEdit->setGeometry(88, 220, 62, 21);

    FEndButton = new QPushButton(QStringLiteral("结束位置"), this);
    FEndButton->setObjectName("btnEndTime");
    FEndButton->setGeometry(7, 250, 75, 25);
    FEndEdit = new QLineEdit(QStringLiteral("0"), this);
    FEndEdit->setObjectName("edtEndTime");
    FEndEdit->setReadOnly(true);
    FEndEdit->setGeometry(88, 252, 62, 21);

    FCutClip = new QCheckBox(QStringLiteral("是否裁剪"), this);
    FCutClip->setObjectName("chkCutClip");
    FCutClip->setGeometry(155, 236, 76, 21);
    FCutClip->setEnabled(FClip.CutClipEnabled());

    connect(FTrack, &QSlider::valueChanged, this, &TPreviewGroup::PositionChanged);
    connect(FStartButton, &QPushButton::clicked, this, &TPreviewGroup::MarkStart);
    connect(FEndButton, &QPushButton::clicked, this, &TPreviewGroup::MarkEnd);
    connect(FCutClip, &QCheckBox::toggled, this, [this](bool checked) { FClip.SetCutClipChecked(checked); });

    DrawPlaceholder();
}

void TPreviewGroup::OpenPreview(TAVProbe &probe)
{
    FProbe = &probe;
    FVideoStream = probe.FirstVideoStream();
    FFrame = QImage();
    FFrameTime = FFramePTS = -1;
    if (probe.Active() && probe.VideoStreamCount() > 0)
        FPicture->Canvas().fill(QColor::fromRgb(SkyBlue));
    else
        DrawPlaceholder(); // nothing to show: a file without pictures
    FPicture->update();
    SetupPreviewTrack();
    ShowPreviewFrame();
}

void TPreviewGroup::ClearPicture()
{
    DrawPlaceholder();
    FRequests.Reset();
}

void TPreviewGroup::ClosePreview()
{
    FProbe = nullptr;
    FVideoStream = -1;
    FRequests.Reset();
}

void TPreviewGroup::SetupPreviewTrack()
{
    FBusy = true;
    TFileStreamInfo info;
    bool image2 = false;
    if (FProbe && FProbe->Active()) {
        FProbe->GetFileStreamInfo(info);
        image2 = FProbe->GetFormatName() == "image2";
    }
    FDuration = info.Duration;
    // A file of unknown length has no positions: it shows its first picture
    // with the slider hidden, as a still picture does.
    FClip.Setup(FDuration, image2 || FDuration <= 0, FTrack->width());
    const TPreviewTrack &track = FClip.Track();
    FTrack->setVisible(track.SliderVisible);
    FTrack->SetSelection(0, 0);
    FTrack->setRange(0, track.Maximum);
    FTrack->setTickInterval(track.TickSpacing);
    FTrack->setSingleStep(track.LineSize);
    FTrack->setPageStep(track.PageSize);
    FTrack->setValue(0);
    FBusy = false;
}

void TPreviewGroup::ShowPreviewFrame()
{
    if (FBusy) return;
    const int position = FTrack->value();
    FPTS->setText(QString::fromStdString(FClip.PositionLabel(position)));
    FRequests.Reset();
    FRequests.Request(position);
    int64_t taken = 0;
    if (FRequests.Take(taken)) DecodeAt(int(taken));
}

bool TPreviewGroup::Settled() const { return !FRequests.Scheduled() && FRequests.Shown() == FTrack->value(); }

void TPreviewGroup::PositionChanged(int position)
{
    if (FBusy) return;
    // The label follows at once; the picture when its decode runs.
    FPTS->setText(QString::fromStdString(FClip.PositionLabel(position)));
    if (FRequests.Request(position)) QTimer::singleShot(0, this, &TPreviewGroup::DecodePending);
}

void TPreviewGroup::DecodePending()
{
    int64_t position = 0;
    if (FRequests.Take(position)) DecodeAt(int(position));
}

void TPreviewGroup::DecodeAt(int position)
{
    if (!FProbe || !FProbe->Active() || FProbe->VideoStreamCount() < 1) return;
    const int64_t time = FDuration <= 0 ? 0 : FClip.FrameTime(position);
    QImage frame;
    try {
        TBitmap *bitmap = &FProbe->ReadFrame(FVideoStream, time);
        // A stream without a duration may not seek either; its first picture
        // is the next one of the file just opened.
        if (!FProbe->FrameValid() && FDuration <= 0) bitmap = &FProbe->ReadFrame(FVideoStream, -1);
        if (bitmap->Width() > 0 && bitmap->Height() > 0)
            frame = QImage(bitmap->Pixels(), bitmap->Width(), bitmap->Height(), bitmap->RowSize(),
                           QImage::Format_BGR888)
                        .convertToFormat(QImage::Format_RGB32);
        FFramePTS = FProbe->FrameValid() ? FProbe->FramePTS() : -1;
    } catch (const std::exception &) {
        // A probe attached to a running task's input cannot decode: the
        // picture stays as it is.
        FFramePTS = -1;
    }
    FFrame = frame;
    FFrameTime = time;
    DrawFitted(frame);
    emit FrameShown(position);
}

void TPreviewGroup::DrawFitted(const QImage &frame)
{
    if (frame.isNull()) return;
    QImage &canvas = FPicture->Canvas();
    const TFitRect fit = FitRect(frame.width(), frame.height(), canvas.width(), canvas.height());
    if (fit.Width <= 0 || fit.Height <= 0) return;
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(fit.Left, fit.Top, fit.Width, fit.Height), frame);
    painter.end();
    FPicture->update();
}

void TPreviewGroup::DrawPlaceholder()
{
    QImage &canvas = FPicture->Canvas();
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, canvas.height());
    background.setColorAt(0, QColor(58, 66, 80));
    background.setColorAt(1, QColor(28, 32, 40));
    painter.fillRect(canvas.rect(), background);
    // A film frame with a play mark.
    const QRectF film(canvas.width() / 2.0 - 40, canvas.height() / 2.0 - 28, 80, 56);
    painter.setPen(QPen(QColor(150, 160, 175), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(film, 6, 6);
    QPainterPath play;
    play.moveTo(film.center() + QPointF(-10, -14));
    play.lineTo(film.center() + QPointF(16, 0));
    play.lineTo(film.center() + QPointF(-10, 14));
    play.closeSubpath();
    painter.fillPath(play, QColor(150, 160, 175));
    painter.end();
    FPicture->update();
}

void TPreviewGroup::MarkStart()
{
    FStartEdit->setText(QString::fromStdString(FClip.MarkStart(FTrack->value())));
    FTrack->SetSelection(FClip.SelectionStart(), FClip.SelectionEnd());
    FCutClip->setEnabled(FClip.CutClipEnabled());
}

void TPreviewGroup::MarkEnd()
{
    FEndEdit->setText(QString::fromStdString(FClip.MarkEnd(FTrack->value())));
    FTrack->SetSelection(FClip.SelectionStart(), FClip.SelectionEnd());
    FCutClip->setEnabled(FClip.CutClipEnabled());
}
