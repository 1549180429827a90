// PLACEHOLDER. The transcode itself is not written yet; until it is, it
// refuses with a clear message so that callers and the command line report
// it. This file goes away when the transcode set-up and main loop land.
#include "FFmpeg.h"

void TCustomFFmpeg::Transcode(AVFormatContext **, int32_t, AVFormatContext **, int32_t, TStreamMap *, int32_t)
{
    throw FFmpegException("Transcoding is not available yet");
}
