// PLACEHOLDERS. Opening inputs, creating outputs and their streams, and the
// transcode itself are not written yet; until they are, these refuse with a
// clear message so that callers and the command line report it. Each is
// replaced by the file that implements it (inputs, outputs, transcode set-up
// and main loop), and this file goes away with the last of them.
#include "FFmpeg.h"
#include "MyUtils.h"

bool TCustomFFmpeg::OpenInput(const std::u16string &fileName)
{
    if (NumInputFiles >= MAX_FILES)
        throw FFmpegException("Too many input files (at most " + std::to_string(MAX_FILES) + ")");
    LastError = MyUtils::Utf16ToUtf8(fileName) + ": opening input files is not available yet";
    return false;
}

int32_t TCustomFFmpeg::OpenOutput(const std::u16string &fileName)
{
    if (NumOutputFiles >= MAX_FILES)
        throw FFmpegException("Too many output files (at most " + std::to_string(MAX_FILES) + ")");
    LastError = MyUtils::Utf16ToUtf8(fileName) + ": creating output files is not available yet";
    return -1;
}

namespace {
void RefuseNewStream(int32_t numOutputFiles)
{
    if (numOutputFiles <= 0) throw FFmpegException("At least one output file must be specified");
    throw FFmpegException("Adding streams to an output is not available yet");
}
} // namespace

void TCustomFFmpeg::NewVideoStream() { RefuseNewStream(NumOutputFiles); }
void TCustomFFmpeg::NewAudioStream() { RefuseNewStream(NumOutputFiles); }
void TCustomFFmpeg::NewSubtitleStream() { RefuseNewStream(NumOutputFiles); }

void TCustomFFmpeg::Transcode(AVFormatContext **, int32_t, AVFormatContext **, int32_t, TStreamMap *, int32_t)
{
    throw FFmpegException("Transcoding is not available yet");
}
