#include "Threads.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
int CurrentThreadId() { return int(syscall(SYS_gettid)); }

void ApplyNice(int threadId, TThreadPriority priority)
{
    // A refusal (raising the priority without the privilege) keeps the
    // inherited value; the thread runs anyway.
    if (threadId) setpriority(PRIO_PROCESS, id_t(threadId), NiceValueOf(priority));
}
} // namespace

int NiceValueOf(TThreadPriority priority)
{
    switch (priority) {
    case tpIdle: return 19;
    case tpLowest: return 15;
    case tpLower: return 10;
    case tpNormal: return 0;
    case tpHigher: return -5;
    case tpHighest: return -10;
    case tpTimeCritical: return -15;
    }
    return 0;
}

int CurrentThreadNiceValue() { return getpriority(PRIO_PROCESS, id_t(CurrentThreadId())); }

void TPauseGate::Pause()
{
    std::lock_guard<std::mutex> lock(FLock);
    FPaused = true;
}

void TPauseGate::Resume()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FPaused = false;
    }
    FOpened.notify_all();
}

bool TPauseGate::Paused() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FPaused;
}

void TPauseGate::Wait()
{
    std::unique_lock<std::mutex> lock(FLock);
    if (!FPaused) return;
    ++FWaiters;
    FOpened.wait(lock, [this] { return !FPaused; });
    --FWaiters;
}

int TPauseGate::Waiters() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FWaiters;
}

TPriorityThread::TPriorityThread(std::function<void()> body, TThreadPriority priority)
    : FBody(std::move(body)), FState(std::make_shared<TState>())
{
    FState->Priority = priority;
}

TPriorityThread::~TPriorityThread() { Join(); }

void TPriorityThread::SetPriority(TThreadPriority priority)
{
    std::lock_guard<std::mutex> lock(FState->Lock);
    FState->Priority = priority;
    ApplyNice(FState->ThreadId, priority);
}

void TPriorityThread::Start()
{
    if (Started()) return;
    // The new thread waits for this lock before its body runs, so a body
    // that releases its owner cannot do so while FThread is being assigned.
    std::lock_guard<std::mutex> lock(FState->Lock);
    FThread = std::thread([state = FState, body = FBody] {
        {
            std::lock_guard<std::mutex> lock(state->Lock);
            state->ThreadId = CurrentThreadId();
            ApplyNice(state->ThreadId, state->Priority);
        }
        if (body) body();
        state->Finished = true;
    });
}

void TPriorityThread::Join()
{
    if (!FThread.joinable()) return;
    if (FThread.get_id() == std::this_thread::get_id())
        FThread.detach();
    else
        FThread.join();
}

bool TPriorityThread::IsCurrentThread() const
{
    return FThread.joinable() && FThread.get_id() == std::this_thread::get_id();
}
