// The conversion previewer: a small always-on-top tool window that shows
// the pictures a task encodes, titled with the picture's time, sized to the
// picture and dragged by it. The engine calls TPreviewer::ShowPicture on
// the task's thread; the picture is copied and posted to the user-interface
// thread, so the worker never waits for a window that is busy or closing.
// Once the user closes the window it stays closed: ShowPicture answers false
// and the engine turns the task's previewer off.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <memory>

#include "Previewer.h"

struct TPreviewerState;

// The window itself; user-interface thread only. Its object name is
// "PreviewerWindow".
class TPreviewerWidget : public QWidget {
    Q_OBJECT
public:
    explicit TPreviewerWidget(std::shared_ptr<TPreviewerState> state);
    ~TPreviewerWidget() override;

    // Shows `picture` at the top-left corner, the window sized to it, titled
    // with FormatPTS(pts).
    void SetPicture(const QImage &picture, int64_t pts);
    const QImage &Picture() const { return FPicture; }

    // Windows made since the program started (for the window's tests).
    static int CreatedCount();

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    std::shared_ptr<TPreviewerState> FState;
    QImage FPicture;
    bool FPlaced = false;
    bool FDragging = false;
    QPoint FDragOffset;
};

// The engine's handle of one previewer window. Made by the factory that
// InstallPreviewerWindow installs, on the task's thread; destroyed on
// either thread (the window goes on the user-interface thread).
class TPreviewerWindow : public TPreviewer {
public:
    TPreviewerWindow();
    ~TPreviewerWindow() override;
    bool ShowPicture(TBitmap &bitmap, int32_t frameNumber, int64_t pts) override;

private:
    std::shared_ptr<TPreviewerState> FState;
};

// Makes the engine show its previews in TPreviewerWindow windows. Call once
// on the user-interface thread after the QApplication exists.
void InstallPreviewerWindow();
