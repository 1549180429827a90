#include "ComponentBridge.h"

#include <QCoreApplication>
#include <QMetaObject>

TComponentBridge::TComponentBridge(TZUzidiDOR &component, QObject *parent)
    : QObject(parent), FLink(std::make_shared<TLink>())
{
    FLink->Target = this;
    std::shared_ptr<TLink> link = FLink;

    component.SetDispatcher([](std::function<void()> call) {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
    });

    component.OnProgress = [link](int32_t index, int32_t frameNumber, int32_t fps, int32_t currentDuration,
                                  float quality, float bitRate, int64_t currentSize, int32_t totalDuration) {
        TProgressFigures figures{frameNumber, fps,         currentDuration, quality,
                                 bitRate,     currentSize, totalDuration};
        std::lock_guard<std::mutex> guard(link->Lock);
        TComponentBridge *target = link->Target;
        if (!target) return;
        // The bridge is the context: a call still queued when it dies is dropped.
        QMetaObject::invokeMethod(
            target,
            [target, index, figures] {
                if (target->FAttached) emit target->Progress(index, figures);
            },
            Qt::QueuedConnection);
    };

    component.OnTerminate = [link](int32_t index, bool finished, bool exception, const std::string &message) {
        const QString text = QString::fromStdString(message);
        std::lock_guard<std::mutex> guard(link->Lock);
        TComponentBridge *target = link->Target;
        if (!target) return;
        QMetaObject::invokeMethod(
            target,
            [target, index, finished, exception, text] {
                if (target->FAttached) emit target->Terminate(index, finished, exception, text);
            },
            Qt::QueuedConnection);
    };
}

TComponentBridge::~TComponentBridge() { Detach(); }

void TComponentBridge::Detach()
{
    FAttached = false;
    std::lock_guard<std::mutex> guard(FLink->Lock);
    FLink->Target = nullptr;
}
