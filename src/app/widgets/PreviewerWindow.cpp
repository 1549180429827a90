#include "PreviewerWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QWindow>

#include <atomic>
#include <mutex>

// What the engine's handle and the window share. The handle writes the
// newest picture and posts one call to the user-interface thread; pictures
// that arrive before that call runs replace the waiting one.
struct TPreviewerState {
    std::atomic<bool> Closed{false}; // the user closed the window
    std::mutex Lock;                 // guards the fields below
    QImage Picture;
    int64_t PTS = 0;
    bool Posted = false;               // a call to show Picture is on its way
    bool Gone = false;                 // the handle was destroyed
    QPointer<TPreviewerWidget> Window; // user-interface thread only
};

namespace {
std::atomic<int> WindowsCreated{0};

bool OnUserInterfaceThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// User-interface thread: shows the waiting picture, making the window first.
void ShowWaitingPicture(const std::shared_ptr<TPreviewerState> &state)
{
    QImage picture;
    int64_t pts = 0;
    {
        std::lock_guard<std::mutex> lock(state->Lock);
        state->Posted = false;
        if (state->Gone) return;
        picture = std::move(state->Picture);
        state->Picture = QImage();
        pts = state->PTS;
    }
    if (state->Closed || picture.isNull()) return;
    if (!state->Window) state->Window = new TPreviewerWidget(state);
    state->Window->SetPicture(picture, pts);
}
} // namespace

TPreviewerWidget::TPreviewerWidget(std::shared_ptr<TPreviewerState> state)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      FState(std::move(state))
{
    setObjectName("PreviewerWindow");
    setAttribute(Qt::WA_OpaquePaintEvent);
    ++WindowsCreated;
}

TPreviewerWidget::~TPreviewerWidget() = default;

int TPreviewerWidget::CreatedCount() { return WindowsCreated; }

void TPreviewerWidget::SetPicture(const QImage &picture, int64_t pts)
{
    FPicture = picture;
    setWindowTitle(QString::fromStdString(FormatPTS(pts)));
    if (size() != picture.size()) setFixedSize(picture.size());
    if (!FPlaced) {
        // Centred on the screen the first time; the user may move it after.
        FPlaced = true;
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), picture.size());
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    if (!isVisible()) show();
    update();
}

void TPreviewerWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (FPicture.isNull())
        painter.fillRect(rect(), Qt::black);
    else
        painter.drawImage(QPoint(0, 0), FPicture);
}

void TPreviewerWidget::closeEvent(QCloseEvent *event)
{
    // Closed for the rest of the task: the window hides and the engine's next
    // picture learns it and turns the previewer off.
    FState->Closed = true;
    event->accept();
}

void TPreviewerWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    // Dragging the picture moves the window, as dragging its title would.
    if (windowHandle() && windowHandle()->startSystemMove()) return;
    FDragging = true;
    FDragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void TPreviewerWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (FDragging) move(event->globalPosition().toPoint() - FDragOffset);
}

void TPreviewerWidget::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) FDragging = false;
}

TPreviewerWindow::TPreviewerWindow() : FState(std::make_shared<TPreviewerState>()) {}

TPreviewerWindow::~TPreviewerWindow()
{
    {
        std::lock_guard<std::mutex> lock(FState->Lock);
        FState->Gone = true;
        FState->Picture = QImage();
    }
    auto close = [state = FState] { delete state->Window.data(); };
    if (OnUserInterfaceThread())
        close();
    else if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, close, Qt::QueuedConnection);
}

bool TPreviewerWindow::ShowPicture(TBitmap &bitmap, int32_t, int64_t pts)
{
    if (FState->Closed) return false;
    if (bitmap.Width() <= 0 || bitmap.Height() <= 0) return true;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) return false;
    // A copy: the bitmap is the engine's and is reused for the next picture.
    QImage picture(bitmap.Pixels(), bitmap.Width(), bitmap.Height(), bitmap.RowSize(), QImage::Format_BGR888);
    picture = picture.copy();
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(FState->Lock);
        FState->Picture = std::move(picture);
        FState->PTS = pts;
        post = !FState->Posted;
        FState->Posted = true;
    }
    if (post)
        QMetaObject::invokeMethod(
            app, [state = FState] { ShowWaitingPicture(state); }, Qt::QueuedConnection);
    return !FState->Closed;
}

void InstallPreviewerWindow()
{
    SetPreviewerFactory([] { return std::unique_ptr<TPreviewer>(new TPreviewerWindow()); });
}
