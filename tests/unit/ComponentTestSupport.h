// Helpers shared by the component's tests: a component whose dispatchers
// the tests may call, and a recorder of its events.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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
    using TCustomZUzidiDOR::DoTerminate;
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

// A stand-in for the host's user-interface thread: the dispatcher queues
// calls, which wait until the test thread runs them (or forever, when it
// never does).
class TUiQueue {
public:
    TUiDispatcher Dispatcher()
    {
        return [this](std::function<void()> call) {
            {
                std::lock_guard<std::mutex> lock(FLock);
                FQueue.push_back(std::move(call));
            }
            FChanged.notify_all();
        };
    }
    // Runs one queued call; false when none came within `patience`.
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
    // Runs every queued call; their number.
    int RunAll()
    {
        int n = 0;
        while (RunOne(std::chrono::milliseconds(0))) ++n;
        return n;
    }
    // Waits until a call is queued.
    bool WaitQueued()
    {
        std::unique_lock<std::mutex> lock(FLock);
        return FChanged.wait_for(lock, std::chrono::seconds(10), [this] { return !FQueue.empty(); });
    }
    size_t Queued()
    {
        std::lock_guard<std::mutex> lock(FLock);
        return FQueue.size();
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<std::function<void()>> FQueue;
};

// Ends the test process when the scope that made it has not been left
// within `patience`: a hang fails the test with a message instead of
// blocking the suite. A test whose own thread may hang uses one.
class TWatchdog {
public:
    TWatchdog(std::chrono::seconds patience, std::string what) : FWhat(std::move(what))
    {
        FThread = std::thread([this, patience] {
            std::unique_lock<std::mutex> lock(FLock);
            if (FChanged.wait_for(lock, patience, [this] { return FDone; })) return;
            std::fprintf(stderr, "hang: %s did not return within %d s\n", FWhat.c_str(),
                         int(patience.count()));
            std::fflush(stderr);
            std::_Exit(3);
        });
    }
    ~TWatchdog()
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FDone = true;
        }
        FChanged.notify_all();
        FThread.join();
    }
    TWatchdog(const TWatchdog &) = delete;
    TWatchdog &operator=(const TWatchdog &) = delete;

private:
    std::string FWhat;
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FDone = false;
    std::thread FThread;
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
