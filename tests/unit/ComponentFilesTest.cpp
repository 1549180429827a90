// AddTask and SetOutput on real files: what they open, what they refuse,
// and the extra options that need an opened file.
#include "ComponentTestSupport.h"
#include "MediaFixtures.h"

namespace {

class ComponentFiles : public ComponentTest {
protected:
    int32_t AddColours(TInputOptions *options = nullptr)
    {
        const int32_t index = Component.AddTask(U16(MediaFixture("colours.mp4")), options);
        EXPECT_GE(index, 0) << Component.LastError();
        return index;
    }

    // Streams of the task's first output by media type.
    std::vector<int> OutputStreamTypes(int32_t index)
    {
        std::vector<int> types;
        TFFmpeg *task = Component.Tasks().Item(index);
        if (!task || task->NumOutputFiles < 1) return types;
        const AVFormatContext *output = task->OutputFiles[0];
        for (unsigned i = 0; i < output->nb_streams; ++i)
            types.push_back(output->streams[i]->codecpar->codec_type);
        return types;
    }

    TTempFolder Folder;
};

TEST_F(ComponentFiles, AddTaskOpensTheInputAndAttachesTheTaskProbe)
{
    TInputOptions options;
    const int32_t index = AddColours(&options);
    ASSERT_EQ(index, 0);
    TFFmpeg &task = *Component.Tasks().Item(0);
    EXPECT_EQ(options.FileName, U16(MediaFixture("colours.mp4")));
    EXPECT_EQ(task.InputOptions.FileName, options.FileName);
    EXPECT_EQ(task.TaskIndex, 0);
    EXPECT_EQ(task.NumInputFiles, 1);
    ASSERT_TRUE(task.Probe().Active());
    EXPECT_FALSE(task.Probe().Owned());
    EXPECT_EQ(task.Probe().Context(), task.InputFiles[0]);
    EXPECT_EQ(task.Probe().VideoStreamCount(), 1);
    EXPECT_EQ(task.Probe().AudioStreamCount(), 1);

    EXPECT_EQ(Component.AddTask(U16(MediaFixture("tiny.mp4"))), 1);
    EXPECT_EQ(Component.Tasks().Count(), 2);
}

TEST_F(ComponentFiles, FilesThatCannotBeOpenedOrCreatedFailByResult)
{
    EXPECT_EQ(Component.AddTask(U16(Folder.File("missing.mp4"))), -1);
    EXPECT_FALSE(Component.LastError().empty());
    EXPECT_EQ(Component.Tasks().Count(), 0);

    ASSERT_EQ(AddColours(), 0);
    EXPECT_FALSE(Component.SetOutput(0, U16(Folder.File("no/such/folder/out.avi")), nullptr));
    EXPECT_FALSE(Component.LastError().empty());
    EXPECT_EQ(Component.Tasks().Count(), 1);

    TOutputOptions o;
    o.FrameSize = "abc";
    EXPECT_FALSE(Component.SetOutput(0, U16(Folder.File("out.avi")), &o));
    EXPECT_EQ(Component.LastError(), "Incorrect frame size");
    o.FrameSize.clear();
    o.FileFormat = "nosuchformat";
    EXPECT_FALSE(Component.SetOutput(0, U16(Folder.File("out.avi")), &o));
    EXPECT_EQ(Component.LastError(), "Unknown output format: nosuchformat");
    EXPECT_EQ(Component.Tasks().Count(), 1);
}

TEST_F(ComponentFiles, VnInAnInputsExtraOptionsDisablesVideoLikeTheOption)
{
    TInputOptions options;
    options.ExtOptions = "vn=1";
    ASSERT_EQ(AddColours(&options), 0);
    const AVFormatContext *input = Component.Tasks().Item(0)->InputFiles[0];
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        if (input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            EXPECT_EQ(input->streams[i]->discard, AVDISCARD_ALL);
        }
    }
    ASSERT_TRUE(Component.SetOutput(0, U16(Folder.File("out.avi")), nullptr)) << Component.LastError();
    EXPECT_EQ(OutputStreamTypes(0), std::vector<int>{AVMEDIA_TYPE_AUDIO});
}

TEST_F(ComponentFiles, NewaudioActsOnlyOnTheOpenedOutput)
{
    // In an input's options it is never applied, so it cannot fail there.
    TInputOptions input;
    input.ExtOptions = "newaudio";
    ASSERT_EQ(AddColours(&input), 0);
    ASSERT_EQ(AddColours(), 1);

    TOutputOptions plain;
    ASSERT_TRUE(Component.SetOutput(0, U16(Folder.File("plain.avi")), &plain)) << Component.LastError();
    EXPECT_EQ(OutputStreamTypes(0), (std::vector<int>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}));

    TOutputOptions more;
    more.ExtOptions = "newaudio";
    ASSERT_TRUE(Component.SetOutput(1, U16(Folder.File("more.avi")), &more)) << Component.LastError();
    EXPECT_EQ(OutputStreamTypes(1),
              (std::vector<int>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_AUDIO}));
}

TEST_F(ComponentFiles, TargetNormComesFromTheInputOrTheDefault)
{
    // colours.mp4 runs at 25 fps: the input decides PAL whatever the default.
    ASSERT_EQ(AddColours(), 0);
    TOutputOptions o;
    o.Target = 2;
    o.TargetDefaultNorm = 2;
    o.VideoBitrate = 1500000;
    ASSERT_TRUE(Component.SetOutput(0, U16(Folder.File("out.mpg")), &o)) << Component.LastError();
    TFFmpeg &task = *Component.Tasks().Item(0);
    EXPECT_EQ(task.FrameWidth, 480);
    EXPECT_EQ(task.FrameHeight, 576);
}

} // namespace
