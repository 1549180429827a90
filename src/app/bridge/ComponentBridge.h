// Carries the component's progress and terminate events from the threads
// that raise them (workers, the short-lived stop threads) to the
// user-interface thread.
//
// The bridge installs the component's OnProgress and OnTerminate handlers
// when it is made (no task may run then) and never changes them again. A
// handler copies what the event carries and posts it as a queued call to
// the bridge; it never waits for the user-interface thread, so a worker
// never blocks on a window that is busy or closing. The signals are emitted
// on the user-interface thread, in the order the events were raised; slots
// connected to them may do anything there, including ClearTasks at the end
// of the queue, because the reporting thread has left the event by then
// (the component's task destructor waits for that in any case).
//
// The bridge also installs the component's dispatcher: a hand-over from a
// worker (preview pictures, the previewer window) becomes a queued call on
// the user-interface thread, posted to the application object, so that a
// call queued after the component or the bridge died simply does nothing.
//
// Destroying the bridge (or Detach) withdraws it: events raised afterwards,
// and queued calls not yet delivered, are dropped. The handlers stay
// installed and harmless, so the component may outlive the bridge.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>

#include "ZUzidiDOR.h"

// The figures of one progress event.
struct TProgressFigures {
    int32_t FrameNumber = 0;
    int32_t FPS = 0;
    int32_t CurrentDuration = 0; // milliseconds of output reached
    float Quality = 0;
    float BitRate = 0;
    int64_t CurrentSize = 0;
    int32_t TotalOutputDuration = 0; // milliseconds expected, < 1 when unknown
};

class TComponentBridge : public QObject {
    Q_OBJECT
public:
    // User-interface thread, while no task of the component runs.
    explicit TComponentBridge(TZUzidiDOR &component, QObject *parent = nullptr);
    ~TComponentBridge() override;

    // Drops every event from now on. Returns at once: at most a post in
    // progress on another thread is waited for.
    void Detach();

signals:
    void Progress(int index, const TProgressFigures &figures);
    // index -1: the whole queue has ended.
    void Terminate(int index, bool finished, bool exception, const QString &message);

private:
    // Shared with the handlers, which outlive the bridge.
    struct TLink {
        std::mutex Lock; // held only while a handler posts
        TComponentBridge *Target = nullptr;
    };
    std::shared_ptr<TLink> FLink;
    bool FAttached = true; // user-interface thread only
};
