// Seek latency of the media probe: ReadFrame at 20 random positions (fixed
// seed) of one file, each timed on its own; prints every position, the
// median and the worst. With --baseline, Debian's ffmpeg decodes one picture
// at each position too, for scale: one process per position (its start-up
// counts), seeking to the key frame before the position.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "AVProbe.h"
#include "FFmpegLoader.h"
#include "MyUtils.h"
#include "ProgramFolder.h"

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    bool baseline = false;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--baseline") == 0)
            baseline = true;
        else
            file = argv[i];
    }
    if (file.empty()) {
        std::fprintf(stderr, "usage: bench_seek [--baseline] FILE\n");
        return 2;
    }

    TFFmpegLoader &loader = FFmpegLoader();
    loader.SetLibraryPath(DefaultLibraryFolder());
    if (!loader.LoadLibraries(RequiredLibraries)) {
        std::fprintf(stderr, "%s\n", loader.LastErrorMessage().c_str());
        return 1;
    }
    lav::av_log_set_level(AV_LOG_ERROR);

    std::vector<double> times;
    std::vector<int64_t> positions;
    {
        TAVProbe probe;
        if (!probe.OpenFile(MyUtils::Utf8ToUtf16(file))) {
            std::fprintf(stderr, "%s\n", probe.LastError().c_str());
            return 1;
        }
        TFileStreamInfo info;
        probe.GetFileStreamInfo(info);
        std::printf("file: %s, %.1f s, %dx%d\n", file.c_str(), double(info.Duration) / 1e6,
                    probe.ReadFrame(-1, 0).Width(), probe.ReadFrame(-1, 0).Height());

        std::mt19937_64 random(20100101);
        std::uniform_int_distribution<int64_t> any(0, std::max<int64_t>(info.Duration - 1, 0));
        for (int i = 0; i < 20; ++i) positions.push_back(any(random));

        for (int64_t position : positions) {
            auto start = Clock::now();
            probe.ReadFrame(-1, position);
            double ms = Milliseconds(Clock::now() - start);
            times.push_back(ms);
            std::printf("  %8.3f s -> picture %8.3f s %s %7.1f ms\n", double(position) / 1e6,
                        double(probe.FramePTS()) / 1e6, probe.Precise() ? "(back)" : "      ", ms);
            if (!probe.FrameValid()) std::printf("    failed: %s\n", probe.LastError().c_str());
        }
        // After the last key frame: the backward seek, then decoding up to the position.
        int64_t late = std::max<int64_t>(info.Duration - 200000, 0);
        auto start = Clock::now();
        probe.ReadFrame(-1, late);
        std::printf(
            "  %8.3f s -> picture %8.3f s %s %7.1f ms (after the last key frame, not in the figures)\n",
            double(late) / 1e6, double(probe.FramePTS()) / 1e6, probe.Precise() ? "(back)" : "      ",
            Milliseconds(Clock::now() - start));
    }
    double median = Median(times);
    double worst = *std::max_element(times.begin(), times.end());
    std::printf("ReadFrame at 20 positions: median %.1f ms, worst %.1f ms (target: median <= 50 ms)\n",
                median, worst);

    if (baseline) {
        std::vector<double> base;
        for (int64_t position : positions) {
            std::string command = "ffmpeg -nostdin -loglevel error -ss " +
                                  std::to_string(double(position) / 1e6) + " -noaccurate_seek -i '" + file +
                                  "' -frames:v 1 -an -f null -";
            auto start = Clock::now();
            if (std::system(command.c_str()) != 0)
                std::fprintf(stderr, "baseline failed: %s\n", command.c_str());
            base.push_back(Milliseconds(Clock::now() - start));
        }
        double baseMedian = Median(base);
        std::printf("ffmpeg -ss POS -noaccurate_seek -i FILE -frames:v 1, a process each: median %.1f ms, "
                    "worst %.1f ms; "
                    "probe/ffmpeg median %.2f\n",
                    baseMedian, *std::max_element(base.begin(), base.end()), median / baseMedian);
    }
    loader.UnloadLibraries(RequiredLibraries);
    return median <= 50.0 ? 0 : 1;
}
