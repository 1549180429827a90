// A horizontal track bar: a QSlider that also shows a selection range (the
// clip marks) as a band in its groove with a mark at each end, and that
// steps with the keys as a track bar does: Left/Up one line back,
// Right/Down one line on, Page Up/Page Down one page, Home/End to the ends.
#pragma once

#include <QSlider>

class TTrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TTrackBar(QWidget *parent = nullptr);

    int SelStart() const { return FSelStart; }
    int SelEnd() const { return FSelEnd; }
    void SetSelStart(int value);
    void SetSelEnd(int value);
    void SetSelection(int start, int end);

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The x coordinate of the centre of the handle at `value`.
    int PositionX(int value) const;

    int FSelStart = 0;
    int FSelEnd = 0;
};
