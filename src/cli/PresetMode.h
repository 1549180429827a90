// vidmorph-cli's preset mode: the converter window's task assembly without
// the window. Each file becomes one task built exactly as the window builds
// it on the chosen tab and position (format preset, device model, sample
// video or custom values), queued on the conversion component and run one
// at a time (or --jobs at once), with a status line per file and a summary.
//
//   vidmorph-cli --list-profiles
//   vidmorph-cli --profile ID [--output-folder DIR] [--clip START_MS,END_MS] [--jobs N] FILE...
//   vidmorph-cli --sample SAMPLE [...] FILE...
//   vidmorph-cli --custom TYPE,WIDTH,HEIGHT,BITRATE,FPS [...] FILE...
//
// The options of the engine's option language ("-vcodec" ...) are not
// mixed with these; "--" ends the options (files that begin with "-").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the command line asked for.
struct TPresetOptions {
    bool ListProfiles = false;
    bool Help = false;
    std::string Profile;      // "videoconvert/<format>/<preset>" or "devices/<brand>/<model>"
    std::string Sample;       // a sample video to analyse (the sample tab)
    std::string Custom;       // TYPE,WIDTH,HEIGHT,BITRATE,FPS (the custom tab)
    std::string OutputFolder; // empty: the window's output folder
    bool ClipSet = false;
    int64_t ClipStartMs = 0;
    int64_t ClipEndMs = 0;
    bool Verbose = false; // the engine's and the libraries' log lines
    int32_t Jobs = 1;     // files converted at once
    std::vector<std::string> Files;
};

// True when the arguments are for the preset mode: one of them (before a
// "--") is an option of its own ("--profile", "--list-profiles" ...).
bool IsPresetMode(int argc, char **argv);

// Reads the arguments; false with `error` for an unknown option, a missing
// or malformed value, options of the engine's language, or a missing
// choice (exactly one of --profile, --sample and --custom, with files).
bool ReadPresetOptions(const std::vector<std::string> &args, TPresetOptions &options, std::string &error);

// The preset mode's part of "vidmorph-cli -h".
void PrintPresetModeUsage();

// Runs the preset mode; the process's exit status: 0 when every file was
// converted, 1 when an argument was refused or any file failed, 130 after
// Ctrl-C.
int RunPresetMode(int argc, char **argv);
