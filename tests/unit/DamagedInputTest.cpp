// Damaged inputs: variants of fixtures in four containers (truncated, bytes
// flipped at random with a fixed seed, the header zeroed) and inputs that are
// no media at all (an empty file, random bytes, a directory, a file that
// cannot be read, a name that cannot be opened). Each goes through OpenInput
// and, when that succeeds, a full conversion on the engine's worker thread.
// Each must end on its own, either with HasError and a message or with a
// finished output, notify its end exactly once, stay within a sensible
// output length, and leave the input as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "FFmpeg.h"
#include "MediaFixtures.h"
#include "MyUtils.h"
#include "TestSupport.h"

namespace {

using namespace std::chrono_literals;

// Ample for a 2 s clip under the sanitizers: a conversion still running then
// hangs or runs away.
constexpr auto TimeBound = 120s;
// Every source is 2 s long. Gaps in the time stamps are only filled up to the
// input's known duration plus the time stamp threshold (10 s by default), so
// no output may be longer than this.
constexpr double LongestOutput = 2.0 + 10.0 + 1.0;

enum class TDamage { Truncate, Flip, ZeroHeader, Empty, Random, Directory, Unreadable, BadName };

struct TCase {
    const char *Name;
    TDamage Damage;
    const char *Fixture; // the source, or null
    double Amount;       // where to truncate (a fraction, or bytes when >= 1)
};

std::ostream &operator<<(std::ostream &out, const TCase &c) { return out << c.Name; }

// clang-format off
const TCase Cases[] = {
    {"avi_truncated_header", TDamage::Truncate, "damage.avi", 64},
    {"avi_truncated_third", TDamage::Truncate, "damage.avi", 1.0 / 3},
    {"avi_truncated_two_thirds", TDamage::Truncate, "damage.avi", 2.0 / 3},
    {"avi_flipped", TDamage::Flip, "damage.avi", 0},
    {"avi_header_zeroed", TDamage::ZeroHeader, "damage.avi", 0},
    {"mp4_truncated_header", TDamage::Truncate, "clip.mp4", 64},
    {"mp4_truncated_third", TDamage::Truncate, "clip.mp4", 1.0 / 3},
    {"mp4_truncated_two_thirds", TDamage::Truncate, "clip.mp4", 2.0 / 3},
    {"mp4_flipped", TDamage::Flip, "clip.mp4", 0},
    {"mp4_header_zeroed", TDamage::ZeroHeader, "clip.mp4", 0},
    {"mkv_truncated_header", TDamage::Truncate, "damage.mkv", 64},
    {"mkv_truncated_third", TDamage::Truncate, "damage.mkv", 1.0 / 3},
    {"mkv_truncated_two_thirds", TDamage::Truncate, "damage.mkv", 2.0 / 3},
    {"mkv_flipped", TDamage::Flip, "damage.mkv", 0},
    {"mkv_header_zeroed", TDamage::ZeroHeader, "damage.mkv", 0},
    {"ts_truncated_header", TDamage::Truncate, "damage.ts", 64},
    {"ts_truncated_third", TDamage::Truncate, "damage.ts", 1.0 / 3},
    {"ts_truncated_two_thirds", TDamage::Truncate, "damage.ts", 2.0 / 3},
    {"ts_flipped", TDamage::Flip, "damage.ts", 0},
    {"ts_header_zeroed", TDamage::ZeroHeader, "damage.ts", 0},
    {"empty_file", TDamage::Empty, nullptr, 0},
    {"random_bytes", TDamage::Random, nullptr, 0},
    {"directory", TDamage::Directory, nullptr, 0},
    {"unreadable_file", TDamage::Unreadable, nullptr, 0},
    {"name_too_long", TDamage::BadName, nullptr, 0},
};
// clang-format on

// FNV-1a of a file's bytes (empty for what is not a regular file).
uint64_t Checksum(const std::string &path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return 0;
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : ReadFile(path)) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// The output's duration in seconds by ffprobe, or -1.
double ProbedDuration(const std::string &path)
{
    const std::string command =
        "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char text[64] = {};
    const bool read = std::fgets(text, sizeof text, pipe) != nullptr;
    pclose(pipe);
    double seconds = -1;
    if (read && std::sscanf(text, "%lf", &seconds) != 1) seconds = -1;
    return seconds;
}

class DamagedInput : public ::testing::TestWithParam<TCase> {
protected:
    void SetUp() override { LoadMediaLibrariesForTest(); }

    // Makes the damaged input of the case in the folder; returns its name.
    std::string MakeInput(const TCase &c)
    {
        // Flipped and zeroed files have a name outside the C locale's
        // character set, so they are read through the unicode protocol's
        // own I/O; the others through the libraries' file protocol.
        const bool unicodeName = c.Damage == TDamage::Flip || c.Damage == TDamage::ZeroHeader;
        const std::string path = Folder.File(std::string(unicodeName ? "besch\xC3\xA4"
                                                                       "digt-"
                                                                     : "damaged-") +
                                             c.Name + (c.Fixture ? std::strrchr(c.Fixture, '.') : ".bin"));
        std::string data = c.Fixture ? ReadFile(MediaFixture(c.Fixture)) : std::string();
        std::mt19937 random(20260610u + unsigned(data.size()));
        switch (c.Damage) {
        case TDamage::Truncate:
            data.resize(size_t(c.Amount >= 1 ? c.Amount : double(data.size()) * c.Amount));
            break;
        case TDamage::Flip:
            // About one byte in 200, each XORed with a non-zero value.
            for (char &b : data)
                if (random() % 200 == 0) b = char(uint8_t(b) ^ uint8_t(1 + random() % 255));
            break;
        case TDamage::ZeroHeader: std::fill(data.begin(), data.begin() + 1024, '\0'); break;
        case TDamage::Empty: break;
        case TDamage::Random:
            data.resize(64 * 1024);
            for (char &b : data) b = char(random());
            break;
        case TDamage::Directory: std::filesystem::create_directory(path); return path;
        // Opening succeeds, every read fails (EIO): the file system gives no
        // such file, and permissions do not stop a root process.
        case TDamage::Unreadable: return "/proc/self/mem";
        // A name longer than the file system allows: opening fails (ENAMETOOLONG).
        case TDamage::BadName: return Folder.File(std::string(300, 'n') + ".avi");
        }
        WriteFile(path, data);
        return path;
    }

    TTempFolder Folder;
};

TEST_P(DamagedInput, EndsOnItsOwnWithAMessageOrAFinishedOutput)
{
    const TCase &c = GetParam();
    const std::string input = MakeInput(c);
    const uint64_t before = Checksum(input);
    const std::string output = Folder.File("converted.mp4");
    std::mutex lock;
    std::condition_variable ended;
    int terminations = 0;
    auto engine = std::make_unique<TCustomFFmpeg>();
    engine->Reset();
    engine->TerminateHandler = [&](TCustomFFmpeg &) {
        std::lock_guard<std::mutex> guard(lock);
        ++terminations;
        ended.notify_all();
    };
    bool started = false;
    if (!engine->OpenInput(MyUtils::Utf8ToUtf16(input))) {
        EXPECT_FALSE(engine->LastError.empty()) << "a refused input says why";
    } else {
        engine->SetOption("vcodec", "mpeg4");
        engine->SetOption("acodec", "aac");
        if (engine->OpenOutput(MyUtils::Utf8ToUtf16(output)) < 0) {
            EXPECT_FALSE(engine->LastError.empty()) << "a refused output says why";
        } else {
            started = true;
            TFFmpegThread *thread = engine->Start(true);
            if (thread) thread->Start();
            std::unique_lock<std::mutex> guard(lock);
            if (!ended.wait_for(guard, TimeBound, [&] { return terminations > 0; })) {
                guard.unlock();
                engine->Stop();
                ADD_FAILURE() << "the conversion did not end on its own";
            }
        }
    }
    if (started && engine->HasError) {
        EXPECT_FALSE(engine->TerminateMessage.empty()) << "a failed conversion says why";
    } else if (started) {
        EXPECT_TRUE(engine->Finished) << engine->TerminateMessage;
        EXPECT_TRUE(std::filesystem::is_regular_file(output)) << "a finished conversion leaves its output";
        EXPECT_LE(ProbedDuration(output), LongestOutput) << "the output runs away";
    }
    // A destroyed engine has joined its threads: no notification can follow.
    engine.reset();
    EXPECT_EQ(terminations, started ? 1 : 0) << "one notification per run";
    EXPECT_EQ(Checksum(input), before) << "the input is never written";
    if (c.Damage == TDamage::Directory) {
        EXPECT_TRUE(std::filesystem::is_empty(input));
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, DamagedInput, ::testing::ValuesIn(Cases),
                         [](const ::testing::TestParamInfo<TCase> &info) {
                             return std::string(info.param.Name);
                         });

} // namespace
