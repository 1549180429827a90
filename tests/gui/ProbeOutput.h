// Reading converted files with Debian's ffprobe, for the preview and
// profile tests: every stream's fields after decoding it whole.
#pragma once

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

inline std::string CaptureOutput(const std::string &command)
{
    std::string out;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

inline std::string ShellQuote(const std::string &s)
{
    std::string quoted = "'";
    for (char c : s) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

using TStreamFields = std::map<std::string, std::string>;

// The streams of `file` in order (codec_type, codec_name, width, height,
// r_frame_rate, nb_read_frames, start_time, duration), decoded whole.
inline std::vector<TStreamFields> ProbeStreams(const std::string &file)
{
    std::vector<TStreamFields> streams;
    std::istringstream lines(CaptureOutput("ffprobe -v error -count_frames -show_entries "
                                           "stream=codec_type,codec_name,width,height,r_frame_rate,nb_read_"
                                           "frames,start_time,duration -of compact " +
                                           ShellQuote(file) + " 2>/dev/null"));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream parts(line);
        std::string part;
        std::getline(parts, part, '|');
        if (part != "stream") continue;
        TStreamFields fields;
        while (std::getline(parts, part, '|')) {
            const size_t eq = part.find('=');
            if (eq != std::string::npos) fields[part.substr(0, eq)] = part.substr(eq + 1);
        }
        streams.push_back(fields);
    }
    return streams;
}

inline const TStreamFields *StreamOfType(const std::vector<TStreamFields> &streams, const std::string &type)
{
    for (const TStreamFields &s : streams)
        if (s.count("codec_type") && s.at("codec_type") == type) return &s;
    return nullptr;
}
