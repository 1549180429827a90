// The run driver: start validation, synchronous and threaded runs, stop,
// pause, clean-up of files, the open-codec lists and the preview switch.
#include <chrono>
#include <filesystem>

#include "EngineTestSupport.h"

namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()> &condition)
{
    for (int i = 0; i < 1000 && !condition(); ++i) std::this_thread::sleep_for(10ms);
    return condition();
}

int ExpectedNice(TThreadPriority priority)
{
    return std::max(NiceValueOf(priority), CurrentThreadNiceValue());
}

TEST_F(EngineTest, StartWithoutOutputsEndsAtOnce)
{
    for (bool inThread : {false, true}) {
        SCOPED_TRACE(inThread ? "in thread" : "synchronous");
        Engine.Reset();
        Logs.clear();
        TerminateThreads.clear();
        EXPECT_EQ(Engine.Start(inThread), nullptr);
        EXPECT_EQ(LogsAt(-1), std::vector<std::string>{"At least one output file must be specified"})
            << "only the output message, though there is no input either";
        EXPECT_TRUE(Engine.HasError);
        EXPECT_EQ(Engine.TerminateMessage, "At least one output file must be specified");
        ASSERT_EQ(TerminateCount(), 1u);
        EXPECT_EQ(TerminateThreads[0], std::this_thread::get_id());
        EXPECT_TRUE(Engine.Terminated);
        EXPECT_FALSE(Engine.Running);

        // Terminated: a second Start does nothing at all.
        EXPECT_EQ(Engine.Start(inThread), nullptr);
        EXPECT_EQ(LogLines().size(), 1u);
        EXPECT_EQ(TerminateCount(), 1u);
    }
    // Reset makes the engine idle again.
    Engine.Reset();
    EXPECT_FALSE(Engine.Terminated || Engine.HasError);
}

TEST_F(EngineTest, StartWithoutInputsReleasesTheOutputs)
{
    TTempFolder folder;
    InjectOutput(Engine, folder.File("empty.wav"));
    InjectOutput(Engine, folder.File("partial.wav"));
    lav::avio_write(Engine.OutputFiles[1]->pb, reinterpret_cast<const unsigned char *>("RIFF"), 4);
    ASSERT_TRUE(std::filesystem::exists(folder.File("empty.wav")));

    EXPECT_EQ(Engine.Start(false), nullptr);
    EXPECT_EQ(LogsAt(-1), std::vector<std::string>{"At least one input file must be specified"});
    EXPECT_EQ(Engine.TerminateMessage, "At least one input file must be specified");
    EXPECT_EQ(TerminateCount(), 1u);
    EXPECT_EQ(Engine.NumOutputFiles, 0);
    EXPECT_FALSE(std::filesystem::exists(folder.File("empty.wav"))) << "a 0-byte output is deleted";
    ASSERT_TRUE(std::filesystem::exists(folder.File("partial.wav"))) << "a non-empty output stays";
    EXPECT_EQ(ReadFile(folder.File("partial.wav")), "RIFF");
}

TEST_F(EngineTest, SynchronousRunReturnsAfterTheWholeJob)
{
    TTempFolder folder;
    WriteY4m(folder.File("in.y4m"), "25:1");
    InjectInput(Engine, folder.File("in.y4m"));
    InjectOutput(Engine, folder.File("out.wav"));

    EXPECT_EQ(Engine.Start(false), nullptr);
    // Whatever the job's outcome, it is over when Start returns.
    ASSERT_EQ(TerminateCount(), 1u);
    EXPECT_EQ(TerminateThreads[0], std::this_thread::get_id());
    EXPECT_FALSE(Engine.Running);
    EXPECT_TRUE(Engine.Terminated);
    EXPECT_EQ(Engine.NumInputFiles, 0);
    EXPECT_EQ(Engine.NumOutputFiles, 0);
    EXPECT_EQ(Engine.OpenedEncoderCount() + Engine.OpenedDecoderCount(), 0u);
    EXPECT_FALSE(Engine.HasError && Engine.Finished);
    if (Engine.HasError) {
        EXPECT_EQ(LogsAt(-1), std::vector<std::string>{Engine.TerminateMessage});
    }
    EXPECT_EQ(Engine.Start(false), nullptr);
    EXPECT_EQ(TerminateCount(), 1u);
}

TEST_F(EngineTest, WorkerThreadRunsWhenTheCallerStartsIt)
{
    TTempFolder folder;
    WriteY4m(folder.File("in.y4m"), "25:1");
    InjectInput(Engine, folder.File("in.y4m"));
    InjectOutput(Engine, folder.File("out.wav"));
    std::atomic<int> handlerNice{-100};
    std::atomic<TFFmpegThread *> workerSeenByHandler{nullptr};
    auto recordThread = Engine.TerminateHandler;
    Engine.TerminateHandler = [&](TCustomFFmpeg &sender) {
        handlerNice = CurrentThreadNiceValue();
        workerSeenByHandler = sender.WorkerThread.load();
        recordThread(sender);
    };

    TFFmpegThread *thread = Engine.Start(true, tpLower);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->Engine, &Engine);
    EXPECT_EQ(Engine.WorkerThread.load(), thread);
    EXPECT_TRUE(Engine.Running);
    EXPECT_EQ(thread->Priority(), tpLower);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(TerminateCount(), 0u) << "created suspended";

    Engine.Pause();
    EXPECT_TRUE(Engine.Paused());
    Engine.Resume();
    EXPECT_FALSE(Engine.Paused());
    Engine.Pause();
    Engine.Stop(); // a stop while paused opens the gate
    EXPECT_TRUE(Engine.StopRequested);
    EXPECT_FALSE(Engine.Paused());

    thread->Start();
    ASSERT_TRUE(WaitFor([&] { return TerminateCount() == 1; }));
    EXPECT_NE(TerminateThreads[0], std::this_thread::get_id());
    EXPECT_EQ(handlerNice.load(), ExpectedNice(tpLower));
    EXPECT_EQ(workerSeenByHandler.load(), nullptr) << "cleared before the notification";
    EXPECT_FALSE(Engine.Running);
    EXPECT_TRUE(Engine.Terminated);
    EXPECT_FALSE(Engine.Finished) << "a stop was requested";
    EXPECT_EQ(Engine.Start(true), nullptr);
    // Without a worker, pause does nothing.
    Engine.Pause();
    EXPECT_FALSE(Engine.Paused());
}

TEST_F(EngineTest, DestroyingARunningEngineWaitsForItsWorker)
{
    TTempFolder folder;
    WriteY4m(folder.File("in.y4m"), "25:1");
    std::atomic<int> notifications{0};
    {
        TCustomFFmpeg engine;
        engine.Reset();
        engine.TerminateHandler = [&](TCustomFFmpeg &) {
            std::this_thread::sleep_for(50ms); // still busy when the destructor starts
            ++notifications;
        };
        InjectInput(engine, folder.File("in.y4m"));
        InjectOutput(engine, folder.File("out.wav"));
        TFFmpegThread *thread = engine.Start(true);
        ASSERT_NE(thread, nullptr);
        thread->Start();
    }
    EXPECT_EQ(notifications.load(), 1);

    // A worker never started does not hold the destructor up.
    const auto begin = std::chrono::steady_clock::now();
    {
        TCustomFFmpeg engine;
        engine.Reset();
        InjectInput(engine, folder.File("in.y4m"));
        InjectOutput(engine, folder.File("out2.wav"));
        ASSERT_NE(engine.Start(true), nullptr);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 900ms);
    EXPECT_FALSE(std::filesystem::exists(folder.File("out2.wav")));
}

TEST_F(EngineTest, StopOnANeverStartedEngineNotifiesOnceFromAnotherThread)
{
    std::atomic<int> handlerNice{-100};
    auto recordThread = Engine.TerminateHandler;
    Engine.TerminateHandler = [&](TCustomFFmpeg &sender) {
        handlerNice = CurrentThreadNiceValue();
        recordThread(sender);
    };
    Engine.Stop();
    Engine.Stop(); // the notification is already on its way
    ASSERT_TRUE(WaitFor([&] { return TerminateCount() >= 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(TerminateCount(), 1u);
    EXPECT_NE(TerminateThreads[0], std::this_thread::get_id());
    EXPECT_EQ(handlerNice.load(), ExpectedNice(tpIdle));
    EXPECT_TRUE(Engine.Terminated);
    EXPECT_FALSE(Engine.HasError);
    Engine.Stop();
    EXPECT_EQ(Engine.Start(false), nullptr);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(TerminateCount(), 1u) << "terminated: Stop and Start do nothing";
    EXPECT_TRUE(LogLines().empty());
}

// An opened PCM codec context of the given direction.
AVCodecContext *OpenPcm(bool encoder)
{
    const AVCodec *codec = encoder ? lav::avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE)
                                   : lav::avcodec_find_decoder(AV_CODEC_ID_PCM_S16LE);
    AVCodecContext *c = lav::avcodec_alloc_context3(codec);
    c->sample_rate = 8000;
    c->sample_fmt = AV_SAMPLE_FMT_S16;
    lav::av_channel_layout_default(&c->ch_layout, 1);
    c->time_base = AVRational{1, 8000};
    EXPECT_EQ(lav::avcodec_open2(c, codec, nullptr), 0);
    return c;
}

TEST_F(EngineTest, OpenCodecListsCloseWhatIsStillRegistered)
{
    TOutputStreamState encoding, copied, unregistered;
    encoding.EncodingNeeded = 1;
    encoding.Encoder = OpenPcm(true);
    encoding.Encoder->stats_in = lav::av_strdup("pass 1 statistics");
    copied.Encoder = OpenPcm(true); // not encoding: left alone
    unregistered.EncodingNeeded = 1;
    unregistered.Encoder = OpenPcm(true);
    Engine.RegisterEncoder(&encoding);
    Engine.RegisterEncoder(&copied);
    Engine.RegisterEncoder(&unregistered);
    Engine.UnregisterEncoder(&unregistered);
    Engine.UnregisterEncoder(&unregistered); // no match: nothing happens
    EXPECT_EQ(Engine.OpenedEncoderCount(), 2u);
    Engine.CloseEncoders();
    EXPECT_EQ(Engine.OpenedEncoderCount(), 0u);
    EXPECT_EQ(encoding.Encoder, nullptr);
    EXPECT_NE(copied.Encoder, nullptr);
    EXPECT_NE(unregistered.Encoder, nullptr);
    lav::avcodec_free_context(&copied.Encoder);
    lav::avcodec_free_context(&unregistered.Encoder);

    TInputStreamState decoding, discarded;
    decoding.DecodingNeeded = 1;
    decoding.Decoder = OpenPcm(false);
    discarded.Decoder = OpenPcm(false);
    Engine.RegisterDecoder(&decoding);
    Engine.RegisterDecoder(&discarded);
    Engine.RegisterDecoder(&decoding); // twice: unregistering removes one
    Engine.UnregisterDecoder(&decoding);
    EXPECT_EQ(Engine.OpenedDecoderCount(), 2u);
    Engine.CloseDecoders();
    EXPECT_EQ(Engine.OpenedDecoderCount(), 0u);
    EXPECT_EQ(decoding.Decoder, nullptr);
    ASSERT_NE(discarded.Decoder, nullptr);
    lav::avcodec_free_context(&discarded.Decoder);
}

class TRecordingWindow : public TPreviewer {
public:
    explicit TRecordingWindow(int &destroyed) : Destroyed(destroyed) {}
    ~TRecordingWindow() override { ++Destroyed; }
    bool ShowPicture(TBitmap &, int32_t, int64_t) override { return true; }
    int &Destroyed;
};

TEST_F(EngineTest, PreviewWindowGoesWhenItsSwitchIsTurnedOff)
{
    int destroyed = 0;
    Engine.SetPreviewFlags(PreviewToWindow);
    Engine.Preview.Window = std::make_unique<TRecordingWindow>(destroyed);
    Engine.SetPreviewFlags(PreviewToWindow | PreviewToBitmap);
    EXPECT_EQ(destroyed, 0);
    Engine.SetPreviewFlags(PreviewToBitmap);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(Engine.Preview.Window, nullptr);
    EXPECT_EQ(Engine.PreviewFlags.load(), PreviewToBitmap);

    // Clean-up also closes it.
    Engine.Preview.Window = std::make_unique<TRecordingWindow>(destroyed);
    Engine.Reset();
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(Engine.PreviewFlags.load(), 0);
}

} // namespace
