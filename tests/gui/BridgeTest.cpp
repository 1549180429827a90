// The bridge from the component's events to the user-interface thread:
// events raised on several threads arrive on the user-interface thread in
// each thread's order with their data; after Detach nothing more arrives,
// and the raising threads never wait for the user-interface thread.
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>
#include <vector>

#include "ComponentBridge.h"

class TBridgeTest : public QObject {
    Q_OBJECT

private slots:
    void EventsArriveOnTheUserInterfaceThreadInOrder();
    void NothingArrivesAfterDetachAndWorkersNeverWait();
    void HandOversRunOnTheUserInterfaceThread();
};

namespace {

constexpr int Threads = 4;
constexpr int EventsPerThread = 200;

// Raises `count` progress events (current duration = thread * 100000 + i)
// and one terminate event with the thread's number as message.
void Raise(TZUzidiDOR &component, int thread, int count)
{
    for (int i = 0; i < count; ++i)
        component.OnProgress(thread, i, 25, thread * 100000 + i, 2.5f, 300.0f, 1000 + i, 5000);
    component.OnTerminate(thread, true, thread == 0, std::to_string(thread));
}

} // namespace

void TBridgeTest::EventsArriveOnTheUserInterfaceThreadInOrder()
{
    TZUzidiDOR component;
    TComponentBridge bridge(component);
    std::vector<std::vector<int>> seen(Threads);
    std::vector<QString> ends(Threads);
    bool offThread = false;
    connect(&bridge, &TComponentBridge::Progress, this, [&](int index, const TProgressFigures &figures) {
        offThread |= QThread::currentThread() != thread();
        QCOMPARE(figures.TotalOutputDuration, 5000);
        QCOMPARE(figures.CurrentSize, int64_t(1000 + figures.FrameNumber));
        seen[index].push_back(figures.CurrentDuration - index * 100000);
    });
    connect(&bridge, &TComponentBridge::Terminate, this,
            [&](int index, bool finished, bool exception, const QString &message) {
                QVERIFY(finished);
                QCOMPARE(exception, index == 0);
                QCOMPARE(int(seen[index].size()), EventsPerThread); // after every progress of its thread
                ends[index] = message;
            });

    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) workers.emplace_back(Raise, std::ref(component), t, EventsPerThread);
    for (std::thread &worker : workers) worker.join();
    QTRY_VERIFY_WITH_TIMEOUT(!ends[Threads - 1].isEmpty() && !ends[0].isEmpty(), 10000);
    QCoreApplication::processEvents();
    QVERIFY(!offThread);
    for (int t = 0; t < Threads; ++t) {
        QCOMPARE(ends[t], QString::number(t));
        QCOMPARE(int(seen[t].size()), EventsPerThread);
        for (int i = 0; i < EventsPerThread; ++i) QCOMPARE(seen[t][i], i);
    }
}

void TBridgeTest::NothingArrivesAfterDetachAndWorkersNeverWait()
{
    TZUzidiDOR component;
    auto bridge = std::make_unique<TComponentBridge>(component);
    QSignalSpy progress(bridge.get(), &TComponentBridge::Progress);
    QSignalSpy terminate(bridge.get(), &TComponentBridge::Terminate);

    // Events queued but not yet delivered when the bridge is detached.
    std::thread early(Raise, std::ref(component), 1, 50);
    early.join();
    bridge->Detach();
    QCoreApplication::processEvents();
    QCOMPARE(progress.count(), 0);
    QCOMPARE(terminate.count(), 0);

    // Workers still raising while the bridge dies, with the user-interface
    // thread not running its queue: they all finish on their own.
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    auto second = std::make_unique<TComponentBridge>(component);
    for (int t = 0; t < Threads; ++t)
        workers.emplace_back([&component, &finished, t] {
            Raise(component, t, EventsPerThread);
            ++finished;
        });
    second.reset();
    bridge.reset();
    for (std::thread &worker : workers) worker.join();
    QCOMPARE(finished.load(), Threads);
    QCoreApplication::processEvents(); // queued calls of the dead bridges are dropped
}

void TBridgeTest::HandOversRunOnTheUserInterfaceThread()
{
    TZUzidiDOR component;
    TComponentBridge bridge(component);
    std::atomic<bool> done{false}, result{false};
    QThread *ranOn = nullptr;
    std::thread worker([&] {
        result = component.HandOver([&] { ranOn = QThread::currentThread(); });
        done = true;
    });
    // The worker waits until this thread runs its queue.
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
    worker.join();
    QVERIFY(result.load());
    QCOMPARE(ranOn, thread());
}

QTEST_GUILESS_MAIN(TBridgeTest)

#include "BridgeTest.moc"
