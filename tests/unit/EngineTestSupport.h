// Helpers shared by the engine's tests: a reset engine with its log and
// terminate notifications recorded, and small files put straight into the
// engine's tables.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FFmpeg.h"
#include "TestSupport.h"

struct TLogLine {
    int Level;
    std::string Message;
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LoadMediaLibrariesForTest();
        Engine.Reset();
        Engine.LogHandler = [this](TCustomFFmpeg &, int level, const std::string &message) {
            std::lock_guard<std::mutex> lock(Lock);
            Logs.push_back({level, message});
        };
        Engine.TerminateHandler = [this](TCustomFFmpeg &) {
            std::lock_guard<std::mutex> lock(Lock);
            TerminateThreads.push_back(std::this_thread::get_id());
        };
    }

    std::vector<TLogLine> LogLines()
    {
        std::lock_guard<std::mutex> lock(Lock);
        return Logs;
    }
    std::vector<std::string> LogsAt(int level)
    {
        std::vector<std::string> out;
        for (const TLogLine &l : LogLines())
            if (l.Level == level) out.push_back(l.Message);
        return out;
    }
    size_t TerminateCount()
    {
        std::lock_guard<std::mutex> lock(Lock);
        return TerminateThreads.size();
    }

    // The message of the exception SetOption raises, or "" when it raises none.
    template <typename E = std::exception>
    std::string OptionError(const std::string &name, const std::string &value)
    {
        try {
            Engine.SetOption(name, value);
        } catch (const E &e) {
            return e.what();
        }
        return "";
    }

    std::mutex Lock;
    std::vector<TLogLine> Logs;
    std::vector<std::thread::id> TerminateThreads;
    TCustomFFmpeg Engine;
};

// A YUV4MPEG2 file of `frames` 16x16 frames at the given rate.
inline void WriteY4m(const std::string &path, const std::string &rate, int frames = 2)
{
    std::string data = "YUV4MPEG2 W16 H16 F" + rate + " Ip A1:1 C420jpeg\n";
    for (int i = 0; i < frames; ++i) data += "FRAME\n" + std::string(16 * 16 * 3 / 2, char(0x80));
    WriteFile(path, data);
}

// Opens a file with the libraries and appends it to the engine's input table.
inline void InjectInput(TCustomFFmpeg &engine, const std::string &path)
{
    AVFormatContext *context = nullptr;
    ASSERT_EQ(lav::avformat_open_input(&context, path.c_str(), nullptr, nullptr), 0) << path;
    ASSERT_GE(lav::avformat_find_stream_info(context, nullptr), 0);
    engine.InputFiles[engine.NumInputFiles++] = context;
}

// Creates an output file of the given format (opened for writing, nothing
// written yet) and appends it to the engine's output table.
inline void InjectOutput(TCustomFFmpeg &engine, const std::string &path, const char *format = "wav")
{
    AVFormatContext *context = nullptr;
    ASSERT_GE(lav::avformat_alloc_output_context2(&context, nullptr, format, path.c_str()), 0);
    ASSERT_GE(lav::avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE), 0) << path;
    engine.OutputFiles[engine.NumOutputFiles++] = context;
}
