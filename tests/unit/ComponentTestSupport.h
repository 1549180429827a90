// Helpers shared by the component's tests: a component whose dispatchers
// the tests may call, and a recorder of its events.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "TestSupport.h"
#include "ZUzidiDOR.h"

// The component with its dispatchers open to the tests.
class TTestComponent : public TZUzidiDOR {
public:
    using TCustomZUzidiDOR::DoLog;
    using TCustomZUzidiDOR::DoPreviewBitmap;
    using TCustomZUzidiDOR::DoProgress;
};

inline std::u16string U16(const std::string &text) { return MyUtils::Utf8ToUtf16(text); }

struct TLogRecord {
    int32_t Index;
    TLogLevel Level;
    std::string Message;
    std::thread::id Thread;
};

struct TTerminateRecord {
    int32_t Index;
    bool Finished;
    bool Exception;
    std::string Message;
    std::thread::id Thread;
};

// Records OnLog and OnTerminate of a component, from any thread.
class TEventRecorder {
public:
    void Attach(TZUzidiDOR &component)
    {
        component.OnLog = [this](int32_t index, TLogLevel level, const std::string &message) {
            std::lock_guard<std::mutex> lock(FLock);
            FLogs.push_back({index, level, message, std::this_thread::get_id()});
        };
        component.OnTerminate = [this](int32_t index, bool finished, bool exception,
                                       const std::string &message) {
            {
                std::lock_guard<std::mutex> lock(FLock);
                FTerminates.push_back({index, finished, exception, message, std::this_thread::get_id()});
            }
            FChanged.notify_all();
        };
    }

    std::vector<TLogRecord> Logs()
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FLogs;
    }
    std::vector<TTerminateRecord> Terminates()
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FTerminates;
    }
    // The lines logged with `message` exactly.
    std::vector<TLogRecord> LogsWith(const std::string &message)
    {
        std::vector<TLogRecord> out;
        for (const TLogRecord &r : Logs())
            if (r.Message == message) out.push_back(r);
        return out;
    }
    // Waits (at most a minute) until OnTerminate(-1, ...) was recorded.
    bool WaitForRunEnd()
    {
        std::unique_lock<std::mutex> lock(FLock);
        return FChanged.wait_for(lock, std::chrono::seconds(60), [this] {
            for (const TTerminateRecord &t : FTerminates)
                if (t.Index == -1) return true;
            return false;
        });
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<TLogRecord> FLogs;
    std::vector<TTerminateRecord> FTerminates;
};

// A stand-in for the host's user-interface thread: hand-overs wait in a
// queue until the test thread runs them.
class TUiQueue {
public:
    TUiDispatcher Dispatcher()
    {
        return [this](const std::function<void()> &call) {
            std::promise<void> done;
            {
                std::lock_guard<std::mutex> lock(FLock);
                FQueue.push_back([&] {
                    call();
                    done.set_value();
                });
            }
            FChanged.notify_all();
            done.get_future().wait();
        };
    }
    // Runs one hand-over; false when none came within `patience`.
    bool RunOne(std::chrono::milliseconds patience = std::chrono::seconds(10))
    {
        std::function<void()> next;
        {
            std::unique_lock<std::mutex> lock(FLock);
            if (!FChanged.wait_for(lock, patience, [this] { return !FQueue.empty(); })) return false;
            next = std::move(FQueue.front());
            FQueue.pop_front();
        }
        next();
        return true;
    }
    // Waits until a hand-over is queued.
    bool WaitQueued()
    {
        std::unique_lock<std::mutex> lock(FLock);
        return FChanged.wait_for(lock, std::chrono::seconds(10), [this] { return !FQueue.empty(); });
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::function<void()>> FQueue;
};

// A component with the libraries loaded through it.
class ComponentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadMediaLibrariesForTest();
        ASSERT_TRUE(Component.LoadMediaLibraries(U16(VIDMORPH_LIBAV_DIR))) << Component.LastError();
        Events.Attach(Component);
    }

    TEventRecorder Events;
    TTestComponent Component;
};
