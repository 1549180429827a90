// A profile made from a sample video converts like the sample: vidmorph-cli's
// preset mode analyses the sample as the window does and converts on the
// sample tab; each output is decoded whole by ffprobe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "MediaFixtures.h"
#include "ProbeOutput.h"

namespace fs = std::filesystem;

namespace {

struct TSampleCase {
    const char *Sample;
    const char *Width, *Height, *FrameRate; // what the output must have
    const char *AudioCodec;                 // of the output; empty: any
};

void PrintTo(const TSampleCase &c, std::ostream *os) { *os << c.Sample; }

class SampleProfile : public testing::TestWithParam<TSampleCase> {};

} // namespace

TEST_P(SampleProfile, OutputHasTheSamplesPictureSizeRateAndSound)
{
    const TSampleCase &c = GetParam();
    const fs::path folder = fs::temp_directory_path() / ("vidmorph-sample-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string command =
        std::string(VIDMORPH_CLI) + " --sample " + ShellQuote(MediaFixture(c.Sample)) + " --output-folder " +
        ShellQuote(folder.string()) + " " + ShellQuote(MediaFixture("clip.mp4")) + " 2>&1";
    const std::string log = CaptureOutput(command);
    // The output is named after the upper-cased source, with the sample's extension.
    const fs::path out = folder / "CLIP_(new).mp4";
    ASSERT_TRUE(fs::exists(out)) << log;
    const std::vector<TStreamFields> streams = ProbeStreams(out.string());
    const TStreamFields *video = StreamOfType(streams, "video");
    ASSERT_NE(video, nullptr) << log;
    EXPECT_EQ(video->at("width"), c.Width);
    EXPECT_EQ(video->at("height"), c.Height);
    EXPECT_EQ(video->at("r_frame_rate"), c.FrameRate);
    EXPECT_GT(std::atoi(video->at("nb_read_frames").c_str()), 0);
    const TStreamFields *audio = StreamOfType(streams, "audio");
    ASSERT_NE(audio, nullptr) << log;
    if (*c.AudioCodec) {
        EXPECT_EQ(audio->at("codec_name"), c.AudioCodec);
    }
    EXPECT_GT(std::atoi(audio->at("nb_read_frames").c_str()), 0);
    fs::remove_all(folder);
}

// A 640x480 25 fps sample with AAC; a 29.97 fps sample converts at the
// 24 fps that its fractional rate reads back as.
INSTANTIATE_TEST_SUITE_P(Samples, SampleProfile,
                         testing::Values(TSampleCase{"sample-640x480.mp4", "640", "480", "25/1", "aac"},
                                         TSampleCase{"sample-ntsc.mp4", "320", "240", "24/1", ""}),
                         [](const testing::TestParamInfo<TSampleCase> &info) {
                             std::string name = info.param.Sample;
                             for (char &ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });
