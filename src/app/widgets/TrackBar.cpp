#include "TrackBar.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionSlider>

TTrackBar::TTrackBar(QWidget *parent) : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::TicksAbove);
    setFocusPolicy(Qt::StrongFocus);
}

void TTrackBar::SetSelStart(int value)
{
    FSelStart = value;
    update();
}

void TTrackBar::SetSelEnd(int value)
{
    FSelEnd = value;
    update();
}

void TTrackBar::SetSelection(int start, int end)
{
    FSelStart = start;
    FSelEnd = end;
    update();
}

int TTrackBar::PositionX(int value) const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = groove.width() - handle.width();
    return groove.x() + handle.width() / 2 +
           QStyle::sliderPositionFromValue(minimum(), maximum(), value, span, option.upsideDown);
}

void TTrackBar::paintEvent(QPaintEvent *event)
{
    QSlider::paintEvent(event);
    if (FSelEnd <= FSelStart || maximum() <= minimum()) return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const int x1 = PositionX(qBound(minimum(), FSelStart, maximum()));
    const int x2 = PositionX(qBound(minimum(), FSelEnd, maximum()));
    const int y = groove.center().y();

    QPainter painter(this);
    // The band under the handle, so that the handle stays visible.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 120, 215, 150));
    painter.drawRect(QRect(QPoint(x1, y - 2), QPoint(x2, y + 2)));
    // The two ends as small triangles under the groove, as a track bar marks them.
    painter.setBrush(Qt::black);
    const int base = groove.bottom() + 2;
    for (int x : {x1, x2}) {
        const QPoint tip[3] = {QPoint(x, base), QPoint(x - 3, base + 4), QPoint(x + 3, base + 4)};
        painter.drawPolygon(tip, 3);
    }
}

void TTrackBar::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up: triggerAction(SliderSingleStepSub); break;
    case Qt::Key_Right:
    case Qt::Key_Down: triggerAction(SliderSingleStepAdd); break;
    case Qt::Key_PageUp: triggerAction(SliderPageStepSub); break;
    case Qt::Key_PageDown: triggerAction(SliderPageStepAdd); break;
    case Qt::Key_Home: triggerAction(SliderToMinimum); break;
    case Qt::Key_End: triggerAction(SliderToMaximum); break;
    default: QSlider::keyPressEvent(event); return;
    }
    event->accept();
}
