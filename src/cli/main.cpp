// vidmorph-cli: the transcoding engine from the command line.
//
// The arguments are read left to right, as the engine's option language
// expects: "-NAME VALUE" sets an option, "-i FILE" opens an input with the
// options given so far, and any other argument is an output file, created
// with the options given so far. Options that take no value get "1". Then the
// job runs on the engine's worker thread; Ctrl-C stops it so that the outputs
// are finished properly. While it runs, the engine's status line is shown on
// stderr (rewritten in place on a terminal) with the share done and the time
// left when the total duration is known; at the end come the engine's size
// summary and the outputs written. Exit status: 0 when the job finished, 1
// when an option, an input or an output was refused or the job failed, 130
// after Ctrl-C.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ArgumentReader.h"
#include "FFmpeg.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "PresetMode.h"
#include "ProgramFolder.h"

namespace {

std::string VersionText(unsigned v)
{
    if (!v) return "-";
    return std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." + std::to_string(v & 0xFF);
}

// Loads the libraries from the program's library folder and prints one line
// per library: its file, its version and whether it loaded.
int PrintVersion()
{
    TFFmpegLoader &loader = FFmpegLoader();
    loader.SetLibraryPath(DefaultLibraryFolder());
    bool ok = loader.LoadLibraries(RequiredLibraries);
    std::printf("vidmorph-cli %s\n", "0.1");
    std::printf("library folder: %s\n", MyUtils::Utf16ToUtf8(loader.LibraryPath()).c_str());
    for (int i = 0; i < MediaLibraryCount; ++i) {
        auto lib = TMediaLibrary(i);
        std::printf("  %-22s %-10s %s\n", MyUtils::Utf16ToUtf8(loader.BuiltFileName(lib)).c_str(),
                    VersionText(loader.LibraryVersion(lib)).c_str(),
                    loader.LibraryLoaded(lib) ? "loaded" : "not loaded");
    }
    if (!ok) {
        std::fprintf(stderr, "%s\n", loader.LastErrorMessage().c_str());
        return 1;
    }
    return 0;
}

struct THelpLine {
    const char *Name; // null: a heading in Argument
    const char *Argument;
    const char *Text;
};

// clang-format off
const THelpLine HelpLines[] = {
    {nullptr, "Main options:", nullptr},
    {"i", "file", "open an input file with the options given before it"},
    {"f", "fmt", "force the format of the next input or output"},
    {"y", "", "overwrite output files (they always are)"},
    {"t", "duration", "stop after this duration (seconds or hh:mm:ss[.xxx])"},
    {"fs", "bytes", "limit the output file size"},
    {"ss", "position", "start the next input at this position"},
    {"itsoffset", "offset", "time stamp offset of the next input"},
    {"itsscale", "stream:scale", "time stamp scale of a stream of the next input"},
    {"timestamp", "date", "recording date of the next output"},
    {"metadata", "key=value", "metadata of the next output"},
    {"map", "file.stream[:syncfile.syncstream]", "take an output stream from this input stream"},
    {"map_meta_data", "outfile:infile", "copy the metadata of an input to an output"},
    {"target", "type", "vcd, svcd, dvd, dv, dv50, optionally with pal-, ntsc- or film-"},
    {"dframes", "number", "number of data frames to write"},
    {"v", "level", "log level (-1 quiet, 0 errors, 1 information, 2 debugging)"},
    {"threads", "count", "not supported"},
    {"h", "", "show this help"},
    {"version", "", "show the media libraries and their versions"},
    {"formats", "", "accepted, does nothing"},
    {"L", "", "accepted, does nothing"},
    {nullptr, "Video options:", nullptr},
    {"b", "bitrate", "video bit rate in bits/s"},
    {"vb", "bitrate", "video bit rate in bits/s"},
    {"vframes", "number", "number of video frames to write"},
    {"r", "rate", "frame rate (25, 30000/1001, ntsc ...)"},
    {"s", "size", "frame size (WxH or an abbreviation)"},
    {"aspect", "ratio", "display aspect ratio (4:3, 16:9, 1.7777)"},
    {"pix_fmt", "format", "pixel format, \"list\" lists them"},
    {"croptop", "pixels", "rows cropped at the top (even)"},
    {"cropbottom", "pixels", "rows cropped at the bottom (even)"},
    {"cropleft", "pixels", "columns cropped at the left (even)"},
    {"cropright", "pixels", "columns cropped at the right (even)"},
    {"padtop", "pixels", "rows padded at the top (even)"},
    {"padbottom", "pixels", "rows padded at the bottom (even)"},
    {"padleft", "pixels", "columns padded at the left (even)"},
    {"padright", "pixels", "columns padded at the right (even)"},
    {"padcolor", "0xBBGGRR", "colour of the padding"},
    {"vn", "", "no video"},
    {"vcodec", "codec", "video codec, \"copy\" copies the stream"},
    {"vtag", "fourcc", "video codec tag"},
    {"qscale", "q", "fixed video quality (0 < q <= 255)"},
    {"sameq", "", "encode video at the bit rate of the source"},
    {"intra", "", "intra frames only"},
    {"pass", "n", "pass 1 or 2 of a two-pass encoding"},
    {"passlogfile", "prefix", "name prefix of the two-pass statistics files"},
    {"vfilters", "chain", "video filter chain"},
    {"vhook", "module [args]", "add a frame-hook module"},
    {"deinterlace", "", "deinterlace pictures"},
    {"newvideo", "", "add one more video stream to the last output"},
    {"vbsf", "filter", "video bitstream filter"},
    {"vpre", "preset", "accepted, does nothing"},
    {nullptr, "Advanced video options:", nullptr},
    {"vdt", "level", "discard level of input video"},
    {"rc_override", "start,end,q/...", "rate control override for frame ranges"},
    {"me_threshold", "n", "motion estimation threshold"},
    {"intra_matrix", "64 values", "intra quantiser matrix"},
    {"inter_matrix", "64 values", "inter quantiser matrix"},
    {"top", "n", "top field first: 1, bottom first: 0, as decoded: -1"},
    {"dc", "bits", "intra DC precision"},
    {"psnr", "", "compute the PSNR of the encoded pictures"},
    {"vstats", "", "write video statistics to vstats_HHMMSS.log"},
    {"vstats_file", "file", "write video statistics to this file"},
    {"qphist", "", "show the quantiser histogram"},
    {"force_fps", "", "keep the frame rate even when the encoder lists others"},
    {"vglobal", "n", "global headers: 1 force, 2 local, 0 as the format wants"},
    {"vsync", "method", "video sync method"},
    {"vc", "channel", "video channel of a capture input"},
    {"tvstd", "standard", "TV standard of a capture input"},
    {nullptr, "Audio options:", nullptr},
    {"ab", "bitrate", "audio bit rate in bits/s"},
    {"aframes", "number", "number of audio frames to write"},
    {"aq", "q", "audio quality"},
    {"ar", "rate", "audio sample rate (Hz)"},
    {"ac", "channels", "audio channels"},
    {"an", "", "no audio"},
    {"acodec", "codec", "audio codec, \"copy\" copies the stream"},
    {"atag", "fourcc", "audio codec tag"},
    {"vol", "volume", "audio volume (256 = unchanged)"},
    {"alang", "code", "language of the next audio stream"},
    {"sample_fmt", "format", "audio sample format, \"list\" lists them"},
    {"newaudio", "", "add one more audio stream to the last output"},
    {"async", "method", "audio sync method"},
    {"adrift_threshold", "seconds", "audio drift that is corrected at once"},
    {"absf", "filter", "audio bitstream filter"},
    {"apre", "preset", "accepted, does nothing"},
    {nullptr, "Subtitle options:", nullptr},
    {"sn", "", "no subtitles"},
    {"scodec", "codec", "subtitle codec, \"copy\" copies the stream"},
    {"slang", "code", "language of the next subtitle stream"},
    {"newsubtitle", "", "add one more subtitle stream to the last output"},
    {"sbsf", "filter", "subtitle bitstream filter"},
    {"spre", "preset", "accepted, does nothing"},
    {nullptr, "Advanced options:", nullptr},
    {"re", "", "read inputs at their native rate"},
    {"loop_input", "", "loop the input"},
    {"loop_output", "count", "loop count of the output (-1 none)"},
    {"copyts", "", "keep the input time stamps"},
    {"copyinkf", "n", "copy non-key frames before the first key frame"},
    {"shortest", "", "end with the shortest input stream"},
    {"dts_delta_threshold", "seconds", "time stamp discontinuity threshold"},
    {"programid", "id", "use only this program of the inputs"},
    {"isync", "", "synchronise the inputs"},
    {"muxdelay", "seconds", "maximum demux-decode delay"},
    {"muxpreload", "seconds", "initial demux-decode delay"},
    {"dump", "", "log every packet"},
    {"hex", "", "log packet contents too"},
    {"xerror", "", "stop at the first error"},
    {"benchmark", "", "accepted, does nothing"},
};
// clang-format on

void PrintUsage()
{
    std::printf(
        "usage: vidmorph-cli [options] [[infile options] -i infile]... {[outfile options] outfile}...\n"
        "Options apply to the next input or output named after them. Names that are not listed\n"
        "are options of the media libraries' codecs and formats (-g 12, -maxrate 2000000 ...).\n");
    for (const THelpLine &line : HelpLines) {
        if (!line.Name) {
            std::printf("\n%s\n", line.Argument);
            continue;
        }
        std::string left = std::string("-") + line.Name + (*line.Argument ? " " : "") + line.Argument;
        std::printf("  %-36s %s\n", left.c_str(), line.Text);
    }
    PrintPresetModeUsage();
}

std::mutex OutputLock;
// A status line is on the terminal without its line end (guarded by OutputLock).
bool StatusShown = false;
const bool StderrIsTerminal = isatty(STDERR_FILENO) == 1;

// Ends a status line left open, so that the next text starts on its own line.
void EndStatusLine()
{
    if (!StatusShown) return;
    std::fputs("\n", stderr);
    StatusShown = false;
}

void ErrorLine(const std::string &message)
{
    std::lock_guard<std::mutex> lock(OutputLock);
    EndStatusLine();
    std::fprintf(stderr, "Error: %s\n", message.c_str());
}

void LogLine(int level, std::string message)
{
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    if (level < 0) return ErrorLine(message);
    std::lock_guard<std::mutex> lock(OutputLock);
    EndStatusLine();
    std::fprintf(stderr, "%s\n", message.c_str());
}

std::string Clock(double seconds)
{
    const long s = long(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// The engine's status line, with the share of the total duration done and
// the time left when the total is known.
void ShowProgress(const std::string &engineLine, bool final, int32_t currentMs, int32_t totalMs,
                  double elapsed)
{
    std::string line = engineLine;
    if (totalMs > 0 && currentMs > 0 && !final) {
        const double done = std::min(1.0, double(currentMs) / totalMs);
        char share[32];
        std::snprintf(share, sizeof share, " %3.0f%%", done * 100);
        line += share;
        if (done < 1.0) line += " " + Clock(elapsed * (1.0 - done) / done) + " left";
    }
    std::lock_guard<std::mutex> lock(OutputLock);
    if (StderrIsTerminal) {
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
        StatusShown = true;
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

// Runs the job on the engine's worker thread and waits for its end; the first
// Ctrl-C stops the job, a second one leaves at once.
int RunJob(TCustomFFmpeg &engine)
{
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigaddset(&interrupt, SIGUSR1);
    // Blocked here, and so in every thread started from now on; both are
    // taken below with sigtimedwait. SIGUSR1 says that the job has ended.
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);

    std::mutex lock;
    bool done = false;
    const pthread_t waiter = pthread_self();
    engine.TerminateHandler = [&](TCustomFFmpeg &) {
        std::lock_guard<std::mutex> guard(lock);
        done = true;
        pthread_kill(waiter, SIGUSR1);
    };
    const auto started = std::chrono::steady_clock::now();
    engine.ProgressHandler = [started](TCustomFFmpeg &sender, int32_t, int32_t, int32_t currentMs, float,
                                       float, int64_t, int32_t totalMs) {
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
        ShowProgress(sender.ProgressLine, sender.ProgressFinal, currentMs, totalMs, elapsed.count());
    };
    TFFmpegThread *thread = engine.Start(true, tpNormal);
    if (!thread) return engine.Finished ? 0 : 1;
    thread->Start();

    bool interrupted = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(lock);
            if (done) break;
        }
        timespec wait{1, 0};
        if (sigtimedwait(&interrupt, nullptr, &wait) == SIGINT) {
            if (interrupted) _exit(130);
            interrupted = true;
            engine.Stop();
        }
    }
    {
        std::lock_guard<std::mutex> guard(OutputLock);
        EndStatusLine();
    }
    if (interrupted) return 130;
    return engine.Finished && !engine.HasError ? 0 : 1;
}

// The outputs the job left, with their sizes.
void PrintOutputs(const std::vector<std::string> &outputs)
{
    for (const std::string &name : outputs) {
        struct stat st {};
        if (stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        std::fprintf(stderr, "Output: %s (%lld bytes)\n", name.c_str(), (long long)st.st_size);
    }
}

} // namespace

int main(int argc, char **argv)
{
    std::setlocale(LC_ALL, "");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-version") == 0) return PrintVersion();
        if (std::strcmp(argv[i], "-h") == 0) {
            PrintUsage();
            return 0;
        }
    }
    if (argc < 2) {
        PrintUsage();
        return 1;
    }
    if (IsPresetMode(argc, argv)) return RunPresetMode(argc, argv);

    TFFmpegLoader &loader = FFmpegLoader();
    loader.SetLibraryPath(DefaultLibraryFolder());
    if (!loader.LoadLibraries(RequiredLibraries)) {
        ErrorLine(loader.LastErrorMessage());
        return 1;
    }
    int status = 1;
    {
        TCustomFFmpeg engine;
        engine.Reset();
        engine.LogHandler = [](TCustomFFmpeg &, int level, const std::string &message) {
            LogLine(level, message);
        };
        std::vector<std::string> outputs;
        std::string error;
        if (RefuseOutputsThatAreInputs(argc, argv, error) &&
            ReadArguments(argc, argv, EngineSteps(engine, outputs), error)) {
            status = RunJob(engine);
            PrintOutputs(outputs);
        } else {
            ErrorLine(error);
        }
    }
    loader.UnloadLibraries(RequiredLibraries);
    return status;
}
