// Threads with a priority, created without running, and a pause gate.
//
// A TPriorityThread is made with its body and does not run until Start; its
// priority is the thread's nice value (idle 19, lowest 15, lower 10, normal
// 0; the raised levels ask for -5, -10 and -15, which an unprivileged process
// is refused, leaving the thread at its inherited value). The owner joins the
// thread: destroying the object joins it, except on the thread itself, where
// it is detached (a body may end by releasing its own owner).
//
// A TPauseGate stands in for suspending a thread: the paused thread stops at
// its next Wait, so it is never held in the middle of its work. Any thread may
// call Pause, Resume and Paused; Wait is called by the thread to be paused.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// The nice value that stands for a priority.
int NiceValueOf(TThreadPriority priority);
// The calling thread's nice value.
int CurrentThreadNiceValue();

class TPauseGate {
public:
    void Pause();
    void Resume();
    bool Paused() const;
    // Returns at once while the gate is open; blocks while it is paused.
    void Wait();
    // Threads blocked in Wait right now.
    int Waiters() const;

private:
    mutable std::mutex FLock;
    std::condition_variable FOpened;
    bool FPaused = false;
    int FWaiters = 0;
};

class TPriorityThread {
public:
    explicit TPriorityThread(std::function<void()> body, TThreadPriority priority = tpNormal);
    TPriorityThread(const TPriorityThread &) = delete;
    TPriorityThread &operator=(const TPriorityThread &) = delete;
    virtual ~TPriorityThread();

    // Before Start it is applied when the thread begins; afterwards at once.
    void SetPriority(TThreadPriority priority);
    TThreadPriority Priority() const { return FState->Priority; }
    // Lets the thread run; a second call does nothing.
    void Start();
    bool Started() const { return FThread.joinable() || FState->Finished; }
    // The body has returned.
    bool Finished() const { return FState->Finished; }
    // Waits for the body to end (nothing when not started, or on the thread
    // itself, which is detached instead).
    void Join();
    // True on the thread that runs the body.
    bool IsCurrentThread() const;

private:
    // Shared with the running thread, so that a detached thread outlives
    // this object safely.
    struct TState {
        std::mutex Lock; // orders the priority changes of both threads
        std::atomic<TThreadPriority> Priority{tpNormal};
        int ThreadId = 0;
        std::atomic<bool> Finished{false};
    };
    std::function<void()> FBody;
    std::shared_ptr<TState> FState;
    std::thread FThread;
};
