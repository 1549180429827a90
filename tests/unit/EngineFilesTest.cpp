// Opening inputs and creating outputs: the option state an input leaves, the
// decoder and encoder contexts, the streams an output gets, private options,
// unicode names, and every refusal with its message.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "EngineTestSupport.h"
#include "MediaFixtures.h"
#include "MyUtils.h"

namespace {

using TOptions = std::vector<std::pair<std::string, std::string>>;

bool Exists(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

// A YUV4MPEG2 picture of the given size with an optional aspect field.
void WritePalY4m(const std::string &path, const std::string &aspectField)
{
    std::string data =
        "YUV4MPEG2 W720 H576 F25:1 Ip " + aspectField + (aspectField.empty() ? "" : " ") + "C420jpeg\n";
    data += "FRAME\n" + std::string(720 * 576 * 3 / 2, char(0x80));
    WriteFile(path, data);
}

// The exit status of a shell command (fork and exec, as the leak checker
// wants).
int RunShell(const std::string &command)
{
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    return status;
}

void WriteSubtitles(const std::string &path)
{
    WriteFile(path, "1\n00:00:00,500 --> 00:00:01,500\nHello\n\n2\n00:00:02,000 --> 00:00:03,000\nAgain\n");
}

class FilesTest : public EngineTest {
protected:
    void Set(const TOptions &options)
    {
        for (const auto &[name, value] : options) Engine.SetOption(name, value);
    }
    bool Open(const std::string &path) { return Engine.OpenInput(MyUtils::Utf8ToUtf16(path)); }
    int32_t Create(const std::string &path) { return Engine.OpenOutput(MyUtils::Utf8ToUtf16(path)); }

    // The media types of the streams of output `k`, checked against the
    // engine's encoder contexts.
    std::vector<int> OutputTypes(int k)
    {
        std::vector<int> types;
        const AVFormatContext *oc = Engine.OutputFiles[k];
        EXPECT_EQ(Engine.OutputEncoders[k].size(), oc->nb_streams);
        for (unsigned s = 0; s < oc->nb_streams; ++s) {
            types.push_back(oc->streams[s]->codecpar->codec_type);
            if (s < Engine.OutputEncoders[k].size()) {
                EXPECT_EQ(Engine.OutputEncoders[k][s]->codec_type, oc->streams[s]->codecpar->codec_type);
            }
        }
        return types;
    }

    AVCodecContext *Encoder(int k, int s) { return Engine.OutputEncoders[k].at(size_t(s)); }

    // Packets read until the end, counted per stream index.
    std::vector<int> PacketsPerStream(AVFormatContext *ic)
    {
        std::vector<int> counts(ic->nb_streams, 0);
        AVPacket *packet = lav::av_packet_alloc();
        while (lav::av_read_frame(ic, packet) >= 0) {
            counts[size_t(packet->stream_index)]++;
            lav::av_packet_unref(packet);
        }
        lav::av_packet_free(&packet);
        return counts;
    }

    TTempFolder Folder;
};

// ---- Inputs ---------------------------------------------------------------

TEST_F(FilesTest, AnInputSetsThePictureAndSoundOptions)
{
    WritePalY4m(Folder.File("sar.y4m"), "A16:15");
    WritePalY4m(Folder.File("nosar.y4m"), "");
    const struct {
        std::string file;
        int width, height;
        AVRational rate;
        float aspect;
    } table[] = {
        {MediaFixture("colours.mp4"), 160, 120, {25, 1}, 4.0f / 3},
        {MediaFixture("pal-16-15.mp4"), 720, 576, {25, 1}, 4.0f / 3},
        {Folder.File("sar.y4m"), 720, 576, {25, 1}, 4.0f / 3},
        {Folder.File("nosar.y4m"), 720, 576, {25, 1}, 1.25f},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.file);
        Engine.Reset();
        ASSERT_TRUE(Open(row.file)) << Engine.LastError;
        EXPECT_EQ(Engine.FrameWidth, row.width);
        EXPECT_EQ(Engine.FrameHeight, row.height);
        EXPECT_EQ(Engine.FrameRate.num, row.rate.num);
        EXPECT_EQ(Engine.FrameRate.den, row.rate.den);
        EXPECT_NEAR(Engine.FrameAspectRatio, row.aspect, 1e-4);
        EXPECT_EQ(Engine.FramePixFmt, AV_PIX_FMT_YUV420P);
    }

    // Sound parameters; a file without video leaves the picture options alone.
    Engine.Reset();
    Set({{"s", "320x240"}, {"r", "30"}, {"pix_fmt", "gray"}, {"aspect", "16:9"}});
    ASSERT_TRUE(Open(MediaFixture("tone.mp3"))) << Engine.LastError;
    EXPECT_EQ(Engine.FrameWidth, 320);
    EXPECT_EQ(Engine.FrameHeight, 240);
    EXPECT_EQ(Engine.FrameRate.num, 30);
    EXPECT_EQ(Engine.FramePixFmt, AV_PIX_FMT_GRAY8);
    EXPECT_NEAR(Engine.FrameAspectRatio, 16.0f / 9, 1e-4);
    EXPECT_EQ(Engine.AudioSampleRate, 44100);
    EXPECT_EQ(Engine.AudioChannels, 1);
    EXPECT_EQ(Engine.AudioChannelLayout, int64_t(AV_CH_LAYOUT_MONO));
    EXPECT_EQ(Engine.AudioSampleFmt, AV_SAMPLE_FMT_FLTP);
    EXPECT_EQ(Engine.NumInputFiles, 1);
}

TEST_F(FilesTest, TheFormatParametersReachTheDemuxer)
{
    // Raw files say nothing about themselves: size, format and rates come
    // from the options given before the input.
    WriteFile(Folder.File("grey.raw"), std::string(16 * 16 * 4, char(0x40)));
    Set({{"f", "rawvideo"}, {"s", "16x16"}, {"pix_fmt", "gray"}, {"r", "10"}});
    ASSERT_TRUE(Open(Folder.File("grey.raw"))) << Engine.LastError;
    EXPECT_EQ(Engine.FrameWidth, 16);
    EXPECT_EQ(Engine.FramePixFmt, AV_PIX_FMT_GRAY8);
    EXPECT_EQ(Engine.FrameRate.num, 10);
    EXPECT_EQ(Engine.FrameRate.den, 1);
    EXPECT_EQ(Engine.InputFormat, nullptr) << "the forced format is for one input only";

    WriteFile(Folder.File("tone.raw"), std::string(8000 * 2, '\0'));
    Set({{"f", "s16le"}, {"ar", "8000"}, {"ac", "1"}});
    ASSERT_TRUE(Open(Folder.File("tone.raw"))) << Engine.LastError;
    EXPECT_EQ(Engine.AudioSampleRate, 8000);
    EXPECT_EQ(Engine.AudioChannels, 1);
    EXPECT_EQ(Engine.AudioSampleFmt, AV_SAMPLE_FMT_S16);
    EXPECT_EQ(Engine.NumInputFiles, 2);
}

TEST_F(FilesTest, EveryInputStreamGetsADecoderContext)
{
    Set({{"skip_frame", "nokey"}, {"request_sample_fmt", "s16"}, {"dual_mono_mode", "sub"}});
    ASSERT_TRUE(Open(MediaFixture("colours.mp4"))) << Engine.LastError;
    const AVFormatContext *ic = Engine.InputFiles[0];
    ASSERT_EQ(Engine.InputDecoders[0].size(), ic->nb_streams);
    for (unsigned s = 0; s < ic->nb_streams; ++s) {
        const AVStream *st = ic->streams[s];
        const AVCodecContext *c = Engine.InputDecoders[0][s];
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->codec_type, st->codecpar->codec_type);
        EXPECT_EQ(c->codec_id, st->codecpar->codec_id);
        EXPECT_EQ(av_cmp_q(c->pkt_timebase, st->time_base), 0);
        ASSERT_NE(c->codec, nullptr);
        EXPECT_EQ(c->codec->id, st->codecpar->codec_id);
    }
    // Generic options by type and direction; a private one of the decoder.
    const AVCodecContext *video = Engine.InputDecoders[0][0], *audio = Engine.InputDecoders[0][1];
    ASSERT_EQ(video->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(video->width, 160);
    EXPECT_EQ(video->skip_frame, AVDISCARD_NONKEY);
    EXPECT_EQ(audio->request_sample_fmt, AV_SAMPLE_FMT_S16);
    int64_t dualMono = 0;
    ASSERT_GE(lav::av_opt_get_int(audio->priv_data, "dual_mono_mode", 0, &dualMono), 0);
    EXPECT_EQ(dualMono, 2);
    // No decoder was named: the set-up picks them by codec id.
    EXPECT_EQ(Engine.InputCodecs, (std::vector<const AVCodec *>{nullptr, nullptr}));

    // Reset frees them; a second job starts with empty tables.
    Engine.Reset();
    EXPECT_TRUE(Engine.InputDecoders[0].empty());
    EXPECT_TRUE(Engine.InputCodecs.empty());
}

TEST_F(FilesTest, DecodersChosenByName)
{
    Set({{"vcodec", "mpeg4"}, {"acodec", "libfaad"}});
    ASSERT_TRUE(Open(MediaFixture("colours.mp4"))) << Engine.LastError;
    const AVCodec *mpeg4 = lav::avcodec_find_decoder_by_name("mpeg4");
    const AVCodec *aac = lav::avcodec_find_decoder_by_name("aac");
    EXPECT_EQ(Engine.InputCodecs, (std::vector<const AVCodec *>{mpeg4, aac}));
    EXPECT_EQ(Engine.InputDecoders[0][0]->codec, mpeg4);
    EXPECT_EQ(Engine.InputDecoders[0][1]->codec, aac);
    EXPECT_TRUE(Engine.VideoCodecName.empty() && Engine.AudioCodecName.empty());

    // The old name is looked up as the new one and said so once.
    Set({{"acodec", "libfaad"}});
    ASSERT_TRUE(Open(MediaFixture("colours.mp4"))) << Engine.LastError;
    EXPECT_EQ(LogsAt(1), std::vector<std::string>{"The decoder libfaad is now the aac decoder"});
    EXPECT_EQ(Engine.InputCodecs.size(), 4u);
}

TEST_F(FilesTest, RefusedInputsLeaveNothingBehind)
{
    const std::string missing = Folder.File("missing.avi");
    const struct {
        TOptions options;
        std::string file;
        std::string error;
    } table[] = {
        {{}, missing, missing + ": no such file or directory"},
        {{{"vcodec", "nosuch"}}, MediaFixture("colours.mp4"), "Unknown decoder 'nosuch'"},
        {{{"vcodec", "mp2"}}, MediaFixture("colours.mp4"), "Invalid decoder type 'mp2'"},
        {{{"acodec", "mpeg4"}}, MediaFixture("colours.mp4"), "Invalid decoder type 'mpeg4'"},
        {{{"scodec", "nosuch"}}, MediaFixture("colours.mp4"), "Unknown decoder 'nosuch'"},
        {{{"acodec", "libfaac"}}, MediaFixture("colours.mp4"), "Unknown decoder 'libfaac'"},
        {{{"f", "mp3"}, {"vc", "3"}},
         MediaFixture("still.png"),
         MediaFixture("still.png") + ": Error while parsing header"},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.error);
        Set(row.options);
        EXPECT_FALSE(Open(row.file));
        EXPECT_EQ(Engine.LastError, row.error);
        EXPECT_EQ(Engine.NumInputFiles, 0);
        EXPECT_EQ(Engine.InputFiles[0], nullptr);
        EXPECT_TRUE(Engine.InputDecoders[0].empty());
        EXPECT_TRUE(Engine.InputCodecs.empty());
        // The per-input options are reset, so a retry starts clean.
        EXPECT_TRUE(Engine.VideoCodecName.empty() && Engine.AudioCodecName.empty() &&
                    Engine.SubtitleCodecName.empty());
        EXPECT_EQ(Engine.InputFormat, nullptr);
        EXPECT_EQ(Engine.OutputFormat, nullptr);
        EXPECT_EQ(Engine.VideoChannel, 0);
    }
    EXPECT_TRUE(Open(MediaFixture("colours.mp4"))) << Engine.LastError;
}

TEST_F(FilesTest, DisabledStreamsAreNotEvenDemuxed)
{
    const struct {
        TOptions options;
        AVDiscard video, audio;
    } table[] = {
        {{}, AVDISCARD_DEFAULT, AVDISCARD_DEFAULT},
        {{{"vn", "1"}}, AVDISCARD_ALL, AVDISCARD_DEFAULT},
        {{{"an", "1"}}, AVDISCARD_DEFAULT, AVDISCARD_ALL},
        {{{"vdt", "48"}}, AVDISCARD_ALL, AVDISCARD_DEFAULT},
        {{{"vn", "1"}, {"vdt", "32"}}, AVDISCARD_ALL, AVDISCARD_DEFAULT},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(testing::PrintToString(row.options));
        Engine.Reset();
        Set(row.options);
        ASSERT_TRUE(Open(MediaFixture("colours.mp4"))) << Engine.LastError;
        AVFormatContext *ic = Engine.InputFiles[0];
        EXPECT_EQ(ic->streams[0]->discard, row.video);
        EXPECT_EQ(ic->streams[1]->discard, row.audio);
        const std::vector<int> packets = PacketsPerStream(ic);
        // A discarded stream brings only what the stream-information probe
        // had already read.
        EXPECT_EQ(packets[0] <= 1, row.video == AVDISCARD_ALL) << packets[0];
        EXPECT_EQ(packets[1] <= 1, row.audio == AVDISCARD_ALL) << packets[1];
    }
    // A discard level below "all" is the demuxer's to honour.
    Engine.Reset();
    Set({{"vdt", "32"}});
    ASSERT_TRUE(Open(MediaFixture("colours.mp4")));
    EXPECT_EQ(Engine.InputFiles[0]->streams[0]->discard, AVDISCARD_NONKEY);
}

TEST_F(FilesTest, StartTimeSeeksAndSetsTheTimestampOffset)
{
    const struct {
        TOptions options;
        int64_t offset;
        double firstVideoSeconds;
    } table[] = {
        {{}, 0, 0.0},
        {{{"ss", "2"}}, -2000000, 2.0},
        {{{"ss", "2"}, {"itsoffset", "1.5"}}, -500000, 2.0},
        {{{"ss", "2"}, {"itsoffset", "1.5"}, {"copyts", "1"}}, 1500000, 2.0},
        {{{"itsoffset", "-1"}}, -1000000, 0.0},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(testing::PrintToString(row.options));
        Engine.Reset();
        Set(row.options);
        ASSERT_TRUE(Open(MediaFixture("colours.mp4"))) << Engine.LastError;
        EXPECT_EQ(Engine.StartTime, 0);
        EXPECT_EQ(Engine.InputTsOffset[0], row.offset);
        AVFormatContext *ic = Engine.InputFiles[0];
        AVPacket *packet = lav::av_packet_alloc();
        while (lav::av_read_frame(ic, packet) >= 0 && packet->stream_index != 0) lav::av_packet_unref(packet);
        ASSERT_EQ(packet->stream_index, 0);
        EXPECT_NEAR(double(packet->pts) * av_q2d(ic->streams[0]->time_base), row.firstVideoSeconds, 0.001);
        lav::av_packet_free(&packet);
    }
    // The file's own start time counts too.
    Engine.Reset();
    ASSERT_TRUE(Open(MediaFixture("programs.ts"))) << Engine.LastError;
    ASSERT_GT(Engine.InputFiles[0]->start_time, 0);
    EXPECT_EQ(Engine.InputTsOffset[0], -Engine.InputFiles[0]->start_time);
}

TEST_F(FilesTest, ProgramIdDiscardsTheOtherPrograms)
{
    Set({{"programid", "2"}});
    ASSERT_TRUE(Open(MediaFixture("programs.ts"))) << Engine.LastError;
    AVFormatContext *ic = Engine.InputFiles[0];
    ASSERT_EQ(ic->nb_programs, 2u);
    std::vector<bool> inProgram2(ic->nb_streams, false);
    for (unsigned p = 0; p < ic->nb_programs; ++p) {
        const AVProgram *program = ic->programs[p];
        EXPECT_EQ(program->discard == AVDISCARD_ALL, program->id != 2) << program->id;
        if (program->id == 2)
            for (unsigned i = 0; i < program->nb_stream_indexes; ++i)
                inProgram2[program->stream_index[i]] = true;
    }
    const std::vector<int> packets = PacketsPerStream(ic);
    for (unsigned s = 0; s < ic->nb_streams; ++s) EXPECT_EQ(packets[s] > 0, inProgram2[s]) << "stream " << s;

    // Without a program id nothing is discarded.
    Engine.Reset();
    ASSERT_TRUE(Open(MediaFixture("programs.ts")));
    for (unsigned p = 0; p < Engine.InputFiles[0]->nb_programs; ++p)
        EXPECT_NE(Engine.InputFiles[0]->programs[p]->discard, AVDISCARD_ALL);
}

TEST_F(FilesTest, TotalDurationIsTheLongestInput)
{
    for (const bool longerFirst : {true, false}) {
        SCOPED_TRACE(longerFirst);
        Engine.Reset();
        ASSERT_TRUE(Open(MediaFixture(longerFirst ? "colours.mp4" : "tone.mp3")));
        ASSERT_TRUE(Open(MediaFixture(longerFirst ? "tone.mp3" : "colours.mp4")));
        const int64_t colours = Engine.InputFiles[longerFirst ? 0 : 1]->duration / 1000;
        EXPECT_GE(colours, 4000);
        EXPECT_EQ(Engine.TotalDuration, colours);
    }
}

TEST_F(FilesTest, TheLibraryDescribesTheInputUnlessQuiet)
{
    for (const int verbose : {1, -1}) {
        Engine.Reset();
        Engine.SetOption("v", std::to_string(verbose));
        TLibraryLogCapture capture;
        ASSERT_TRUE(Open(MediaFixture("colours.mp4")));
        const bool described = capture.Text().find("Input #0, mov,mp4") != std::string::npos;
        EXPECT_EQ(described, verbose >= 0) << capture.Text();
    }
}

TEST_F(FilesTest, InputStreamTypes)
{
    bool video = true, audio = true, subtitle = true;
    Engine.check_audio_video_sub_inputs(video, audio, subtitle);
    EXPECT_FALSE(video || audio || subtitle);
    ASSERT_TRUE(Open(MediaFixture("tone.mp3")));
    Engine.check_audio_video_sub_inputs(video, audio, subtitle);
    EXPECT_TRUE(!video && audio && !subtitle);
    ASSERT_TRUE(Open(MediaFixture("video-only.mp4")));
    Engine.check_audio_video_sub_inputs(video, audio, subtitle);
    EXPECT_TRUE(video && audio && !subtitle);
    WriteSubtitles(Folder.File("subs.srt"));
    Set({{"sn", "1"}, {"scodec", "subrip"}});
    ASSERT_TRUE(Open(Folder.File("subs.srt"))) << Engine.LastError;
    Engine.check_audio_video_sub_inputs(video, audio, subtitle);
    EXPECT_TRUE(video && audio && subtitle);
    EXPECT_EQ(Engine.InputFiles[2]->streams[0]->discard, AVDISCARD_ALL);
    EXPECT_EQ(Engine.InputCodecs.back(), lav::avcodec_find_decoder_by_name("subrip"));
    EXPECT_EQ(Engine.InputCodecs.size(), 3u);

    AVCodecID id = AV_CODEC_ID_H264;
    EXPECT_TRUE(Engine.FindCodecId("", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_NONE);
    EXPECT_TRUE(Engine.FindCodecId("mp2", AVMEDIA_TYPE_AUDIO, true, id));
    EXPECT_EQ(id, AV_CODEC_ID_MP2);
    EXPECT_FALSE(Engine.FindCodecId("mp2", AVMEDIA_TYPE_VIDEO, true, id));
    EXPECT_EQ(Engine.LastError, "Invalid encoder type 'mp2'");
    EXPECT_FALSE(Engine.FindCodecId("libfaad", AVMEDIA_TYPE_AUDIO, true, id));
    EXPECT_EQ(Engine.LastError, "Unknown encoder 'libfaad'");
}

// ---- Outputs --------------------------------------------------------------

TEST_F(FilesTest, StreamsFollowTheInputsAndTheFormat)
{
    const int V = AVMEDIA_TYPE_VIDEO, A = AVMEDIA_TYPE_AUDIO, S = AVMEDIA_TYPE_SUBTITLE;
    const struct {
        std::vector<std::string> inputs;
        TOptions options;
        std::string output;
        std::vector<int> types;
    } table[] = {
        {{"colours.mp4"}, {}, "out.mp4", {V, A}},
        {{"colours.mp4"}, {{"vn", "1"}}, "out.mp4", {A}},
        {{"colours.mp4"}, {{"an", "1"}}, "out.mp4", {V}},
        {{"video-only.mp4"}, {}, "out.mp4", {V}},
        {{"tone.mp3"}, {}, "out.mp4", {A}},
        {{"tone.mp3"}, {{"vcodec", "mpeg4"}}, "out.mp4", {A}},
        {{}, {}, "out.avi", {V, A}},
        {{}, {}, "out.wav", {A}},
        {{}, {{"vcodec", "mjpeg"}}, "out.wav", {V, A}},
        {{}, {{"f", "wav"}}, "out.avi", {A}},
        {{"colours.mp4", "subs.srt"}, {}, "out.mkv", {V, A, S}},
        {{"colours.mp4", "subs.srt"}, {{"sn", "1"}}, "out.mkv", {V, A}},
        {{"colours.mp4", "subs.srt"}, {}, "out.avi", {V, A}},
        {{"colours.mp4", "subs.srt"}, {{"scodec", "srt"}}, "out.avi", {V, A, S}},
    };
    WriteSubtitles(Folder.File("subs.srt"));
    for (const auto &row : table) {
        SCOPED_TRACE(row.output + " " + testing::PrintToString(row.inputs) + " " +
                     testing::PrintToString(row.options));
        Engine.Reset();
        for (const std::string &input : row.inputs)
            ASSERT_TRUE(Open(input == "subs.srt" ? Folder.File(input) : MediaFixture(input)));
        Set(row.options);
        ASSERT_EQ(Create(Folder.File(row.output)), 1) << Engine.LastError;
        EXPECT_EQ(OutputTypes(0), row.types);
        EXPECT_EQ(Engine.OutputCodecs.size(), row.types.size());
        EXPECT_TRUE(Exists(Folder.File(row.output)));
        // The options of the streams made are spent; the forced format too.
        EXPECT_TRUE(Engine.VideoCodecName.empty() || row.types[0] != V);
        EXPECT_EQ(Engine.OutputFormat, nullptr);
    }
}

TEST_F(FilesTest, EncoderContextsTakeTheOptionState)
{
    ASSERT_TRUE(Open(MediaFixture("colours.mp4")));
    Set({{"padtop", "8"}, {"g", "12"}, {"ab", "96000"}, {"preset", "ultrafast"}, {"qscale", "3"}});
    ASSERT_EQ(Create(Folder.File("out.mp4")), 1) << Engine.LastError;
    const AVOutputFormat *mp4 = Engine.OutputFiles[0]->oformat;

    AVCodecContext *video = Encoder(0, 0);
    const AVCodec *h264 =
        lav::avcodec_find_encoder(lav::av_guess_codec(mp4, nullptr, "out.mp4", nullptr, AVMEDIA_TYPE_VIDEO));
    ASSERT_NE(h264, nullptr);
    EXPECT_EQ(video->codec, h264);
    EXPECT_EQ(video->codec_id, h264->id);
    EXPECT_EQ(video->width, 160);
    EXPECT_EQ(video->height, 128);
    EXPECT_EQ(av_cmp_q(video->time_base, AVRational{1, 25}), 0);
    EXPECT_EQ(video->pix_fmt, AV_PIX_FMT_YUV420P);
    EXPECT_EQ(video->gop_size, 12);
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_GLOBAL_HEADER) << "mp4 wants global headers";
    EXPECT_TRUE(video->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_EQ(video->global_quality, 3 * FF_QP2LAMBDA);
    // 4:3 over 160x128: the closest fraction with terms up to 255.
    EXPECT_EQ(av_cmp_q(video->sample_aspect_ratio, AVRational{16, 15}), 0);
    EXPECT_EQ(av_cmp_q(Engine.OutputFiles[0]->streams[0]->sample_aspect_ratio, AVRational{16, 15}), 0);
    uint8_t *preset = nullptr;
    ASSERT_GE(lav::av_opt_get(video->priv_data, "preset", 0, &preset), 0);
    EXPECT_STREQ(reinterpret_cast<char *>(preset), "ultrafast");
    lav::av_free(preset);
    const AVDictionaryEntry *kept = lav::av_dict_get(Engine.OutputEncoderOptions[0][0], "preset", nullptr, 0);
    ASSERT_NE(kept, nullptr);
    EXPECT_STREQ(kept->value, "ultrafast");

    AVCodecContext *audio = Encoder(0, 1);
    EXPECT_EQ(audio->codec_id, AV_CODEC_ID_AAC);
    EXPECT_EQ(audio->sample_rate, 44100);
    EXPECT_EQ(audio->ch_layout.nb_channels, 1);
    EXPECT_EQ(audio->sample_fmt, AV_SAMPLE_FMT_FLTP);
    EXPECT_EQ(av_cmp_q(audio->time_base, AVRational{1, 44100}), 0);
    EXPECT_EQ(audio->bit_rate, 96000);
    EXPECT_EQ(Engine.OutputEncoderOptions[0][1], nullptr) << "the aac encoder has no \"preset\"";
    EXPECT_FALSE(Engine.OutputStreamCopy[0][0] || Engine.OutputStreamCopy[0][1]);
    // No encoder was named: the set-up finds them by codec id.
    EXPECT_EQ(Engine.OutputCodecs, (std::vector<const AVCodec *>{nullptr, nullptr}));

    // Formats the encoder cannot take give way to its first one.
    Engine.Reset();
    Set({{"s", "64x48"}, {"pix_fmt", "rgb24"}, {"sample_fmt", "u8"}, {"vcodec", "mpeg4"}, {"acodec", "mp2"}});
    ASSERT_EQ(Create(Folder.File("out.avi")), 1) << Engine.LastError;
    EXPECT_EQ(Encoder(0, 0)->pix_fmt, lav::avcodec_find_encoder_by_name("mpeg4")->pix_fmts[0]);
    EXPECT_EQ(Encoder(0, 1)->sample_fmt, AV_SAMPLE_FMT_S16);
    EXPECT_FALSE(Encoder(0, 0)->flags & AV_CODEC_FLAG_GLOBAL_HEADER) << "avi wants none";
    EXPECT_EQ(Engine.OutputCodecs, (std::vector<const AVCodec *>{lav::avcodec_find_encoder_by_name("mpeg4"),
                                                                 lav::avcodec_find_encoder_by_name("mp2")}));
}

TEST_F(FilesTest, StreamCopyKeepsTheAspect)
{
    Set({{"s", "720x576"}, {"aspect", "16:9"}, {"vcodec", "copy"}, {"acodec", "copy"}, {"ac", "6"}});
    ASSERT_EQ(Create(Folder.File("copy.mkv")), 1) << Engine.LastError;
    ASSERT_EQ(Engine.OutputFiles[0]->nb_streams, 3u) << "mkv has a default subtitle codec";
    EXPECT_TRUE(Engine.OutputStreamCopy[0][0]);
    EXPECT_TRUE(Engine.OutputStreamCopy[0][1]);
    EXPECT_FALSE(Engine.OutputStreamCopy[0][2]);
    const AVCodecContext *video = Encoder(0, 0);
    EXPECT_EQ(video->codec, nullptr);
    EXPECT_EQ(video->codec_type, AVMEDIA_TYPE_VIDEO);
    EXPECT_EQ(av_cmp_q(video->sample_aspect_ratio, AVRational{64, 45}), 0);
    EXPECT_EQ(av_cmp_q(Engine.OutputFiles[0]->streams[0]->sample_aspect_ratio, AVRational{64, 45}), 0);
    EXPECT_EQ(Encoder(0, 1)->ch_layout.nb_channels, 6);
    EXPECT_EQ(Encoder(0, 1)->sample_rate, 44100);
    EXPECT_EQ(Engine.OutputCodecs[0], nullptr);
    EXPECT_FALSE(Engine.VideoStreamCopy || Engine.AudioStreamCopy);
}

TEST_F(FilesTest, FrameRateSnapsToTheEncodersList)
{
    const struct {
        TOptions options;
        AVRational timeBase;
    } table[] = {
        {{{"r", "31"}}, {1, 30}},
        {{{"r", "31"}, {"force_fps", "1"}}, {1, 31}},
        {{{"r", "13"}}, {1, 12}},
        {{{"r", "30000/1001"}}, {1001, 30000}},
        {{}, {1, 25}},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(testing::PrintToString(row.options));
        Engine.Reset();
        Set({{"s", "64x48"}, {"vcodec", "mpeg1video"}});
        Set(row.options);
        ASSERT_EQ(Create(Folder.File("out.mpg")), 1) << Engine.LastError;
        EXPECT_EQ(av_cmp_q(Encoder(0, 0)->time_base, row.timeBase), 0)
            << Encoder(0, 0)->time_base.num << "/" << Encoder(0, 0)->time_base.den;
    }
}

TEST_F(FilesTest, RateControlOverrides)
{
    const struct {
        std::string text;
        std::vector<RcOverride> overrides; // empty with ok false: refused
        bool ok;
    } table[] = {
        {"0,100,2/101,200,-50", {{0, 100, 2, 1.0f}, {101, 200, 0, 0.5f}}, true},
        {"5;9;0", {{5, 9, 0, 0.0f}}, true},
        {"1,2,3/", {{1, 2, 3, 1.0f}}, true},
        {"", {}, true},
        {"0,100", {}, false},
        {"0,100,", {}, false},
        {"a,1,2", {}, false},
        {"0,1,2/3,4", {}, false},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.text);
        Engine.Reset();
        Set({{"s", "64x48"}, {"vcodec", "mpeg4"}});
        if (!row.text.empty()) Set({{"rc_override", row.text}});
        const std::string name = Folder.File("rc.avi");
        if (!row.ok) {
            EXPECT_EQ(Create(name), -1);
            EXPECT_EQ(Engine.LastError, "new_video_stream fail: error parsing rc_override");
            EXPECT_EQ(Engine.NumOutputFiles, 0);
            EXPECT_FALSE(Exists(name));
            EXPECT_TRUE(Engine.VideoCodecName.empty());
            continue;
        }
        ASSERT_EQ(Create(name), 1) << Engine.LastError;
        const AVCodecContext *c = Encoder(0, 0);
        ASSERT_EQ(c->rc_override_count, int(row.overrides.size()));
        for (size_t i = 0; i < row.overrides.size(); ++i) {
            EXPECT_EQ(c->rc_override[i].start_frame, row.overrides[i].start_frame);
            EXPECT_EQ(c->rc_override[i].end_frame, row.overrides[i].end_frame);
            EXPECT_EQ(c->rc_override[i].qscale, row.overrides[i].qscale);
            EXPECT_FLOAT_EQ(c->rc_override[i].quality_factor, row.overrides[i].quality_factor);
        }
    }
}

TEST_F(FilesTest, MetadataTheFirstOfTwoEqualKeysStays)
{
    Set({{"metadata", "title=A"}, {"metadata", "title=B"}, {"metadata", "artist=C"}});
    Engine.RecTimestamp = 1577934245; // 2020-01-02 03:04:05 UTC
    ASSERT_EQ(Create(Folder.File("tags.mkv")), 1) << Engine.LastError;
    const AVDictionary *metadata = Engine.OutputFiles[0]->metadata;
    EXPECT_EQ(MetadataValue(metadata, "title", ""), "A");
    EXPECT_EQ(MetadataValue(metadata, "artist", ""), "C");
    EXPECT_EQ(MetadataValue(metadata, "creation_time", ""), "2020-01-02T03:04:05.000000Z");
    EXPECT_TRUE(Engine.Metadata.empty());
}

TEST_F(FilesTest, NewStreamsJoinTheLastOutput)
{
    ASSERT_TRUE(Open(MediaFixture("colours.mp4")));
    ASSERT_EQ(Create(Folder.File("first.mp4")), 1) << Engine.LastError;
    ASSERT_EQ(Create(Folder.File("out.mkv")), 2) << Engine.LastError;
    Set({{"alang", "eng"}, {"absf", "aac_adtstoasc"}, {"acodec", "mp2"}, {"newaudio", "1"}});
    Set({{"vbsf", "null"}, {"vcodec", "copy"}, {"newvideo", "1"}});
    Set({{"flags", "+bitexact"}, {"scodec", "srt"}, {"slang", "fre"}, {"newsubtitle", "1"}});

    const AVFormatContext *out = Engine.OutputFiles[1];
    EXPECT_EQ(Engine.OutputFiles[0]->nb_streams, 2u);
    EXPECT_EQ(OutputTypes(1), (std::vector<int>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_AUDIO,
                                                AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_SUBTITLE}));
    EXPECT_EQ(MetadataValue(out->streams[2]->metadata, "language", ""), "eng");
    EXPECT_EQ(MetadataValue(out->streams[1]->metadata, "language", ""), "");
    EXPECT_EQ(MetadataValue(out->streams[4]->metadata, "language", ""), "fre");
    EXPECT_EQ(Encoder(1, 2)->codec_id, AV_CODEC_ID_MP2);
    EXPECT_TRUE(Engine.OutputStreamCopy[1][3]);
    EXPECT_EQ(Encoder(1, 4)->codec_id, AV_CODEC_ID_SUBRIP);
    // The chains go to the output the streams belong to.
    ASSERT_EQ(Engine.BitstreamFilters[1].size(), 5u);
    EXPECT_EQ(Engine.BitstreamFilters[1][2],
              std::vector<const AVBitStreamFilter *>{lav::av_bsf_get_by_name("aac_adtstoasc")});
    EXPECT_EQ(Engine.BitstreamFilters[1][3],
              std::vector<const AVBitStreamFilter *>{lav::av_bsf_get_by_name("null")});
    EXPECT_TRUE(Engine.BitstreamFilters[2].empty());
    EXPECT_TRUE(Engine.VideoBitstreamFilters.empty() && Engine.AudioBitstreamFilters.empty());
    // Generic subtitle options reach the subtitle encoder.
    EXPECT_TRUE(Encoder(1, 4)->flags & AV_CODEC_FLAG_BITEXACT);
    EXPECT_EQ(Engine.OutputCodecs.size(), 7u);
    EXPECT_EQ(Engine.OutputCodecs[4], lav::avcodec_find_encoder_by_name("mp2"));
    EXPECT_EQ(Engine.OutputCodecs[6], lav::avcodec_find_encoder_by_name("srt"));

    // A refused new stream adds nothing and passes its message on.
    Set({{"acodec", "nosuch"}});
    EXPECT_EQ(OptionError<FFmpegException>("newaudio", "1"), "Unknown encoder 'nosuch'");
    EXPECT_EQ(out->nb_streams, 5u);
    EXPECT_EQ(Engine.OutputEncoders[1].size(), 5u);
    EXPECT_EQ(Engine.OutputCodecs.size(), 7u);
    EXPECT_TRUE(Engine.AudioCodecName.empty());
}

TEST_F(FilesTest, RefusedOutputsLeaveTheTablesAsTheyWere)
{
    ASSERT_TRUE(Open(MediaFixture("colours.mp4")));
    ASSERT_EQ(Create(Folder.File("good.mp4")), 1);
    const std::string missingFolder = Folder.File("no-such-folder/out.mp4");
    const std::string crop = "Cannot enable crop options and filters at the same time.";
    const std::string pad = "Cannot enable pad options and the filters which resize frame at the same time. "
                            "(crop, rotate, scale, transpose, etc.)";
    const struct {
        TOptions options;
        std::string file;
        std::string error; // empty: accepted
    } table[] = {
        {{}, missingFolder, "Could not open '" + missingFolder + "'"},
        {{{"f", "mp4"}}, missingFolder, "Could not open '" + missingFolder + "'"},
        {{},
         Folder.File("out.nosuchformat"),
         "Unable to find a suitable output format for '" + Folder.File("out.nosuchformat") + "'"},
        {{{"vcodec", "nosuch"}}, Folder.File("a.mp4"), "new_video_stream fail: Unknown encoder 'nosuch'"},
        {{{"acodec", "libx264"}},
         Folder.File("a.mp4"),
         "new_audio_stream fail: Invalid encoder type 'libx264'"},
        {{{"sn", "0"}, {"scodec", "nosuch"}}, Folder.File("s.mp4"), ""}, // no subtitle in the input
        {{{"s", "160x120"}, {"croptop", "8"}, {"vfilters", "hflip"}}, Folder.File("a.mp4"), crop},
        {{{"padtop", "8"}, {"vfilters", "scale=320:240"}}, Folder.File("a.mp4"), pad},
        {{{"padleft", "8"}, {"vfilters", "hflip, Transpose=1"}}, Folder.File("a.mp4"), pad},
        {{{"padtop", "8"}, {"vfilters", "hflip"}}, Folder.File("b.mp4"), ""},
        {{{"padtop", "8"}, {"vfilters", "scale2ref,hflip=x"}}, Folder.File("c.mp4"), ""},
        {{{"muxrate", "-5"}}, Folder.File("d.mpg"), Folder.File("d.mpg") + ": Invalid encoding parameters"},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(testing::PrintToString(row.options) + " " + row.file);
        const int32_t before = Engine.NumOutputFiles;
        const size_t codecsBefore = Engine.OutputCodecs.size();
        Set(row.options);
        const int32_t result = Create(row.file);
        if (row.error.empty()) {
            EXPECT_EQ(result, before + 1) << Engine.LastError;
            EXPECT_TRUE(Exists(row.file));
        } else {
            EXPECT_EQ(result, -1);
            EXPECT_EQ(Engine.LastError, row.error);
            EXPECT_EQ(Engine.NumOutputFiles, before);
            EXPECT_EQ(Engine.OutputFiles[before], nullptr);
            EXPECT_TRUE(Engine.OutputEncoders[before].empty());
            EXPECT_EQ(Engine.OutputCodecs.size(), codecsBefore);
            EXPECT_FALSE(Exists(row.file));
            EXPECT_EQ(Engine.OutputFormat, nullptr);
        }
        // Options that made the refusal stay for the next try; clear them.
        Engine.VideoFilters.clear();
        Engine.PadTop = Engine.PadLeft = Engine.CropTop = 0;
        Engine.SubtitleCodecName.clear();
        Engine.PendingPrivateOptions.clear();
    }
}

TEST_F(FilesTest, TargetPresetsReachTheMuxerAndTheEncoders)
{
    const struct {
        std::string target;
        const char *format;
        int64_t muxRate;
        int packetSize;
        int64_t preload;
    } table[] = {
        {"pal-vcd", "vcd", 1411200, 2324, 440000},
        {"pal-svcd", "svcd", 0, 2324, 500000},
        {"pal-dvd", "dvd", 10080000, 2048, 500000},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.target);
        Engine.Reset();
        Set({{"target", row.target}});
        ASSERT_EQ(Create(Folder.File("disc.mpg")), 1) << Engine.LastError;
        AVFormatContext *oc = Engine.OutputFiles[0];
        EXPECT_STREQ(oc->oformat->name, row.format);
        int64_t value = -1;
        ASSERT_GE(lav::av_opt_get_int(oc->priv_data, "muxrate", 0, &value), 0);
        EXPECT_EQ(value, row.muxRate);
        ASSERT_GE(lav::av_opt_get_int(oc->priv_data, "preload", 0, &value), 0);
        EXPECT_EQ(value, row.preload);
        EXPECT_EQ(oc->packet_size, unsigned(row.packetSize));
        EXPECT_EQ(oc->max_delay, 700000);
        EXPECT_EQ(row.muxRate != 0,
                  lav::av_dict_get(Engine.OutputMuxerOptions[0], "muxrate", nullptr, 0) != nullptr);
        if (row.format == std::string("svcd")) {
            ASSERT_GE(lav::av_opt_get_int(Encoder(0, 0)->priv_data, "scan_offset", 0, &value), 0);
            EXPECT_EQ(value, 1);
        }
        EXPECT_TRUE(LogsAt(0).empty());
        Engine.ReportUnusedPrivateOptions();
        EXPECT_TRUE(LogsAt(0).empty()) << LogsAt(0)[0];
    }
}

TEST_F(FilesTest, PrivateOptionsNothingTakesAreLoggedOnce)
{
    Set({{"preset", "ultrafast"}, {"nosuchoption", "7"}});
    ASSERT_TRUE(Open(MediaFixture("colours.mp4")));
    ASSERT_EQ(Create(Folder.File("out.mp4")), 1) << Engine.LastError;
    Engine.ReportUnusedPrivateOptions();
    Engine.ReportUnusedPrivateOptions();
    EXPECT_EQ(LogsAt(0),
              std::vector<std::string>{"Option nosuchoption (7) was not used by any input, output or codec"});
    // Start reports them once the files are open.
    Engine.Reset();
    Set({{"nosuchoption", "8"}});
    ASSERT_TRUE(Open(MediaFixture("tone.mp3")));
    ASSERT_EQ(Create(Folder.File("out.wav")), 1) << Engine.LastError;
    Engine.Start(false);
    const std::vector<std::string> errors = LogsAt(0);
    EXPECT_EQ(std::count(errors.begin(), errors.end(),
                         "Option nosuchoption (8) was not used by any input, output or codec"),
              1);
}

TEST_F(FilesTest, OldEncoderNamesAreLookedUpUnderTheirCurrentNames)
{
    struct TCase {
        const char *Option, *Name, *Output, *Current;
    };
    const TCase cases[] = {{"acodec", "libfaac", ".m4a", "aac"}, {"vcodec", "avc", ".mp4", "libx264"}};
    int outputs = 0;
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        Logs.clear();
        for (int i = 0; i < 2; ++i) {
            Set({{c.Option, c.Name}});
            ASSERT_EQ(Create(Folder.File("out" + std::to_string(outputs) + c.Output)), outputs + 1)
                << Engine.LastError;
            ++outputs;
            // The stream named by the option is the last one given an encoder by name.
            const AVCodec *named = nullptr;
            for (const AVCodec *codec : Engine.OutputCodecs)
                if (codec) named = codec;
            EXPECT_EQ(named, lav::avcodec_find_encoder_by_name(c.Current));
        }
        EXPECT_EQ(LogsAt(1), std::vector<std::string>{std::string("The encoder ") + c.Name + " is now the " +
                                                      c.Current + " encoder"});
    }
}

TEST_F(FilesTest, UnicodeNamesUnderTheCLocale)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    const std::string input = Folder.File("视频 一.mp4"), output = Folder.File("输出.mkv");
    std::filesystem::copy_file(MediaFixture("colours.mp4"), input);

    EXPECT_TRUE(Open(input)) << Engine.LastError;
    EXPECT_FALSE(Open(Folder.File("不存在.mp4")));
    EXPECT_EQ(Engine.LastError, Folder.File("不存在.mp4") + ": no such file or directory");
    EXPECT_EQ(Create(output), 1) << Engine.LastError;
    std::setlocale(LC_ALL, saved.c_str());

    ASSERT_EQ(Engine.NumInputFiles, 1);
    EXPECT_TRUE(Engine.InputFiles[0]->flags & AVFMT_FLAG_CUSTOM_IO);
    EXPECT_EQ(Engine.FrameWidth, 160);
    ASSERT_EQ(Engine.NumOutputFiles, 1);
    EXPECT_TRUE(Engine.OutputFiles[0]->flags & AVFMT_FLAG_CUSTOM_IO);
    EXPECT_EQ(OutputTypes(0), (std::vector<int>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}));
    EXPECT_TRUE(Exists(output));
    // Released with the job; an output left empty goes with it.
    Engine.Reset();
    EXPECT_FALSE(Exists(output));
    EXPECT_TRUE(Exists(input));

    // And the whole conversion, under the C locale.
    std::setlocale(LC_ALL, "C");
    Set({{"t", "1"}});
    ASSERT_TRUE(Open(input)) << Engine.LastError;
    ASSERT_EQ(Create(output), 1) << Engine.LastError;
    Engine.Start(false);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_FALSE(Engine.HasError) << Engine.TerminateMessage;
    AVFormatContext *converted = nullptr;
    ASSERT_EQ(lav::avformat_open_input(&converted, output.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(lav::avformat_find_stream_info(converted, nullptr), 0);
    EXPECT_EQ(converted->nb_streams, 2u);
    EXPECT_NEAR(double(converted->duration) / AV_TIME_BASE, 1.0, 0.2);
    lav::avformat_close_input(&converted);
}

// Without the libraries in this process: the program loads its own.
TEST(FilesCli, TheCommandLineReportsRefusedFiles)
{
    TTempFolder Folder;
    const struct {
        std::string args;
        std::string error;
    } table[] = {
        {"-i missing.avi out.avi", "Error: missing.avi: no such file or directory\n"},
        {"-i " + MediaFixture("colours.mp4") + " no-folder/out.mp4",
         "Error: Could not open 'no-folder/out.mp4'\n"},
        {"-i " + MediaFixture("colours.mp4") + " -vcodec nosuch out.mp4",
         "Error: new_video_stream fail: Unknown encoder 'nosuch'\n"},
    };
    for (const auto &row : table) {
        SCOPED_TRACE(row.args);
        const std::string command =
            "cd '" + Folder.Path() + "' && '" VIDMORPH_CLI "' " + row.args + " 2>err.txt";
        const int status = RunShell(command);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_NE(ReadFile(Folder.File("err.txt")).find(row.error), std::string::npos)
            << ReadFile(Folder.File("err.txt"));
        EXPECT_FALSE(Exists(Folder.File("out.mp4")));
    }
}

} // namespace
