// Target presets: everything a disc or camcorder format requires, set in one
// call, with the television norm given or detected.
#include <cmath>

#include "FFmpeg.h"

namespace {
enum TNorm { nmPal, nmNtsc, nmFilm };

std::string Trim(const std::string &s)
{
    const size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return {};
    const size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

// Frames per 1000 seconds, rounded; 0 for an unset rate.
int64_t MilliRate(AVRational rate)
{
    return rate.den ? std::llround(double(rate.num) * 1000.0 / rate.den) : 0;
}

bool NormOfRate(int64_t milliRate, TNorm &norm)
{
    if (milliRate == 25000) {
        norm = nmPal;
        return true;
    }
    if (milliRate == 29970 || milliRate == 23976) {
        norm = nmNtsc;
        return true;
    }
    return false;
}
} // namespace

void TCustomFFmpeg::SetTargetText(const std::string &value)
{
    std::string type = Trim(value);
    std::string norm = "auto";
    for (const char *prefix : {"pal-", "ntsc-", "film-"}) {
        const std::string p = prefix;
        if (type.compare(0, p.size(), p) == 0) {
            norm = p.substr(0, p.size() - 1);
            type = type.substr(p.size());
            break;
        }
    }
    SetTarget(type, norm, "ntsc");
}

void TCustomFFmpeg::SetTarget(const std::string &type, const std::string &norm,
                              const std::string &defaultNorm)
{
    TNorm n = nmPal;
    if (norm == "pal") {
        n = nmPal;
    } else if (norm == "ntsc") {
        n = nmNtsc;
    } else if (norm == "film") {
        n = nmFilm;
    } else {
        if (FrameRate.den == 0) throw FFmpegException("frame_rate is invalid.");
        bool decided = NormOfRate(MilliRate(FrameRate), n);
        for (int f = 0; f < NumInputFiles && f < MAX_FILES && !decided; ++f) {
            const AVFormatContext *input = InputFiles[f];
            if (!input) continue;
            for (unsigned s = 0; s < input->nb_streams && !decided; ++s) {
                const AVStream *stream = input->streams[s];
                if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                    decided = NormOfRate(MilliRate(stream->avg_frame_rate), n);
            }
        }
        if (!decided) n = defaultNorm == "film" ? nmFilm : defaultNorm == "ntsc" ? nmNtsc : nmPal;
        if (Verbose > 0) Log(1, std::string("Assuming ") + (n == nmPal ? "PAL" : "NTSC") + " for target.");
    }

    const bool pal = n == nmPal;
    const char *rate = n == nmPal ? "25" : n == nmNtsc ? "30000/1001" : "24000/1001";
    const char *aspect = nullptr;
    if (type == "vcd") {
        SetVideoCodec("mpeg1video");
        SetAudioCodec("mp2");
        SetOutputFormat("vcd");
        SetFrameSize(pal ? "352x288" : "352x240");
        SetFrameRate(rate);
        SetGenericOption("g", pal ? "15" : "18");
        SetGenericOption("b", "1150000");
        SetGenericOption("maxrate", "1150000");
        SetGenericOption("minrate", "1150000");
        SetGenericOption("bufsize", "327680");
        SetGenericOption("ab", "224000");
        AudioSampleRate = 44100;
        AudioChannels = 2;
        SetGenericOption("packetsize", "2324");
        SetGenericOption("muxrate", "1411200");
        MuxPreload = 0.44f;
        aspect = "4:3";
    } else if (type == "svcd") {
        SetVideoCodec("mpeg2video");
        SetAudioCodec("mp2");
        SetOutputFormat("svcd");
        SetFrameSize(pal ? "480x576" : "480x480");
        SetFrameRate(rate);
        SetGenericOption("g", pal ? "15" : "18");
        SetGenericOption("b", "2040000");
        SetGenericOption("maxrate", "2516000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        // The scan-offset flag is an option of the MPEG-2 encoder now.
        KeepPrivateOption("scan_offset", "1");
        SetGenericOption("ab", "224000");
        AudioSampleRate = 44100;
        if (AudioChannels == 1) AudioChannels = 2;
        SetGenericOption("packetsize", "2324");
        aspect = "4:3";
    } else if (type == "dvd") {
        SetVideoCodec("mpeg2video");
        SetAudioCodec("ac3");
        SetOutputFormat("dvd");
        SetFrameSize(pal ? "720x576" : "720x480");
        SetFrameRate(rate);
        SetGenericOption("g", pal ? "15" : "18");
        SetGenericOption("b", "6000000");
        SetGenericOption("maxrate", "9000000");
        SetGenericOption("minrate", "0");
        SetGenericOption("bufsize", "1835008");
        SetGenericOption("ab", "448000");
        AudioSampleRate = 48000;
        if (AudioChannels == 1) AudioChannels = 2;
        SetGenericOption("packetsize", "2048");
        SetGenericOption("muxrate", "10080000");
        aspect = "16:9";
    } else if (type == "dv" || type == "dv50") {
        SetOutputFormat("dv");
        SetFrameSize(pal ? "720x576" : "720x480");
        SetPixelFormat(type == "dv50" ? "yuv422p" : pal ? "yuv420p" : "yuv411p");
        SetFrameRate(rate);
        AudioSampleRate = 48000;
        AudioChannels = 2;
    } else {
        throw FFmpegException("Unknown target type");
    }
    if (aspect && FrameAspectRatio == 0) {
        Log(1, std::string("Assuming ") + aspect + " for aspect ratio");
        SetAspectRatio(aspect);
    }
}
