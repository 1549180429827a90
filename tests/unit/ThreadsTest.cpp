// Threads with priorities and the pause gate.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "Threads.h"

namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()> &condition)
{
    for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(5ms);
    return condition();
}

int Expected(TThreadPriority priority) { return std::max(NiceValueOf(priority), CurrentThreadNiceValue()); }

TEST(PriorityThread, RunsOnlyWhenStartedAtItsPriority)
{
    std::atomic<int> nice{-100};
    std::atomic<bool> ran{false};
    TPriorityThread thread(
        [&] {
            nice = CurrentThreadNiceValue();
            ran = true;
        },
        tpIdle);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(ran);
    EXPECT_FALSE(thread.Started());
    thread.SetPriority(tpLower);
    thread.Start();
    thread.Start(); // a second call does nothing
    thread.Join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(thread.Finished());
    EXPECT_EQ(nice.load(), Expected(tpLower));
    EXPECT_NE(CurrentThreadNiceValue(), 10) << "the caller's own priority is untouched";
}

TEST(PriorityThread, PriorityChangesWhileRunning)
{
    std::atomic<bool> go{false};
    std::atomic<int> nice{-100};
    TPriorityThread thread([&] {
        while (!go) std::this_thread::sleep_for(1ms);
        nice = CurrentThreadNiceValue();
    });
    thread.Start();
    thread.SetPriority(tpLowest);
    go = true;
    thread.Join();
    EXPECT_EQ(nice.load(), Expected(tpLowest));
}

TEST(PriorityThread, ABodyMayReleaseItsOwnThread)
{
    std::atomic<bool> done{false};
    auto owner = std::make_unique<std::unique_ptr<TPriorityThread>>();
    auto *slot = owner.get();
    *slot = std::make_unique<TPriorityThread>([slot, &done] {
        slot->reset(); // detaches instead of joining itself
        done = true;
    });
    (*slot)->Start();
    EXPECT_TRUE(WaitFor([&] { return done.load(); }));
}

TEST(PauseGate, HoldsTheWorkerAtItsNextWaitUntilResumed)
{
    TPauseGate gate;
    std::atomic<bool> stop{false};
    std::atomic<long> steps{0};
    gate.Wait(); // open: returns at once
    TPriorityThread worker([&] {
        while (!stop) {
            gate.Wait();
            ++steps;
        }
    });
    worker.Start();
    ASSERT_TRUE(WaitFor([&] { return steps > 0; }));

    gate.Pause();
    EXPECT_TRUE(gate.Paused());
    ASSERT_TRUE(WaitFor([&] { return gate.Waiters() == 1; }));
    const long held = steps;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(steps.load(), held) << "no step while paused";

    gate.Resume();
    EXPECT_FALSE(gate.Paused());
    EXPECT_TRUE(WaitFor([&] { return steps > held; }));
    stop = true;
    worker.Join();
    EXPECT_EQ(gate.Waiters(), 0);
}

} // namespace
