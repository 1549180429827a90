#include "PresetMode.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "AppSettings.h"
#include "CustomProfile.h"
#include "IniFile.h"
#include "OutputAssembly.h"
#include "ProfileStore.h"
#include "ProgramFolder.h"
#include "RunControl.h"
#include "Services.h"
#include "SourceList.h"
#include "ClipRange.h"
#include "TextCodec.h"
#include "UserFolders.h"
#include "ZUzidiDOR.h"

namespace {

// One option of the preset mode. Apply stores its value (empty for an
// option without one); false with an error for a value it cannot take.
struct TPresetOption {
    const char *Name;
    const char *Argument; // "" for an option without a value
    const char *Text;
    bool (*Apply)(TPresetOptions &options, const std::string &value, std::string &error);
};

bool ApplyClip(TPresetOptions &o, const std::string &value, std::string &error)
{
    size_t comma = value.find(',');
    int32_t s = 0, e = 0;
    if (comma == std::string::npos || !ParseInt32(value.substr(0, comma), s) ||
        !ParseInt32(value.substr(comma + 1), e) || s < 0 || e <= s) {
        error = "--clip takes START_MS,END_MS with 0 <= START_MS < END_MS, not \"" + value + "\"";
        return false;
    }
    o.ClipSet = true;
    o.ClipStartMs = s;
    o.ClipEndMs = e;
    return true;
}

bool ApplyJobs(TPresetOptions &o, const std::string &value, std::string &error)
{
    int32_t jobs = 0;
    if (!ParseInt32(value, jobs) || jobs < 1 || jobs > 64) {
        error = "--jobs takes a number of files from 1 to 64, not \"" + value + "\"";
        return false;
    }
    o.Jobs = jobs;
    return true;
}

// clang-format off
const TPresetOption PresetOptionTable[] = {
    {"--list-profiles", "", "list every profile ID, in list order",
     [](TPresetOptions &o, const std::string &, std::string &) { o.ListProfiles = true; return true; }},
    {"--profile", "ID", "convert with a format preset or device model: videoconvert/<format>/<preset> or devices/<brand>/<model>",
     [](TPresetOptions &o, const std::string &v, std::string &) { o.Profile = v; return true; }},
    {"--sample", "FILE", "analyse a video that plays on the target device and convert like it",
     [](TPresetOptions &o, const std::string &v, std::string &) { o.Sample = v; return true; }},
    {"--custom", "TYPE,W,H,BITRATE,FPS", "convert with custom values; TYPE is 3GP, MP4, AVI, MPEG, WMV, RM, MOV, MKV or FLV",
     [](TPresetOptions &o, const std::string &v, std::string &) { o.Custom = v; return true; }},
    {"--output-folder", "DIR", "write the outputs there (default: the window's output folder)",
     [](TPresetOptions &o, const std::string &v, std::string &) { o.OutputFolder = v; return true; }},
    {"--clip", "START_MS,END_MS", "convert only this part of each file (held within its duration)", ApplyClip},
    {"--jobs", "N", "convert N files at once (default 1)", ApplyJobs},
    {"--verbose", "", "show the engine's log lines",
     [](TPresetOptions &o, const std::string &, std::string &) { o.Verbose = true; return true; }},
    {"--help", "", "show this help",
     [](TPresetOptions &o, const std::string &, std::string &) { o.Help = true; return true; }},
};
// clang-format on

const TPresetOption *FindOption(const std::string &name)
{
    for (const TPresetOption &option : PresetOptionTable)
        if (name == option.Name) return &option;
    return nullptr;
}

// Messages of the assembly on the console, as the window shows them in boxes.
class TConsoleMessages : public TMessageService {
public:
    void ShowMessage(TMessageKind kind, const std::string &text) override
    {
        const char *prefix = kind == mkError ? "Error: " : kind == mkWarning ? "Warning: " : "";
        std::fprintf(stderr, "%s%s\n", prefix, text.c_str());
    }
};

std::string Join(const std::string &a, const std::string &b, const std::string &c, const std::string &d)
{
    return a + "/" + b + "/" + c + (d.empty() ? "" : "/" + d);
}

int ListProfiles(ProfileStore &store)
{
    for (int32_t f = 0; f < FormatItemCount; ++f) {
        store.ChangeFormat(f);
        for (const std::string &name : store.PresetNames())
            std::printf(
                "%s\n",
                Join("videoconvert", ProfileStore::PresetFolderName(FormatItems[f]), name, "").c_str());
    }
    store.FillBrands();
    std::vector<std::string> brands = store.BrandNames();
    for (int32_t b = 0; b < int32_t(brands.size()); ++b) {
        store.ChangeBrand(b);
        for (const std::string &name : store.ModelNames())
            std::printf("%s\n", Join("devices", brands[b], name, "").c_str());
    }
    return 0;
}

int32_t PositionOf(const std::vector<std::string> &names, const std::string &name)
{
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return int32_t(i);
    return -1;
}

// The tab and positions of a profile ID, with the summary the window shows
// once that profile is loaded.
bool ResolveProfile(ProfileStore &store, const std::string &id, TAssemblyContext &context, std::string &error)
{
    size_t first = id.find('/');
    size_t second = first == std::string::npos ? std::string::npos : id.find('/', first + 1);
    if (second == std::string::npos) {
        error =
            "A profile ID is videoconvert/<format>/<preset> or devices/<brand>/<model>, not \"" + id + "\"";
        return false;
    }
    std::string tree = id.substr(0, first), group = id.substr(first + 1, second - first - 1),
                name = id.substr(second + 1);
    TSummaryLines summary = InitialSummaryLines();
    if (tree == "videoconvert") {
        int32_t format = -1;
        for (int32_t f = 0; f < FormatItemCount; ++f)
            if (ProfileStore::PresetFolderName(FormatItems[f]) == group) format = f;
        store.ChangeFormat(format);
        int32_t preset = format < 0 ? -1 : PositionOf(store.PresetNames(), name);
        if (preset < 0) {
            error = "No profile \"" + id + "\" (vidmorph-cli --list-profiles lists them)";
            return false;
        }
        context.TabIndex = 0;
        context.FormatIndex = format;
        context.PresetIndex = preset;
        context.PresetFile = store.FormatPresets[preset];
        ShowProfileSummary(ProfileStore::LoadProfile(context.PresetFile), stFormat, summary);
    } else if (tree == "devices") {
        store.FillBrands();
        int32_t brand = PositionOf(store.BrandNames(), group);
        store.ChangeBrand(brand);
        int32_t model = brand < 0 ? -1 : PositionOf(store.ModelNames(), name);
        if (model < 0) {
            error = "No profile \"" + id + "\" (vidmorph-cli --list-profiles lists them)";
            return false;
        }
        context.TabIndex = 1;
        context.BrandIndex = brand;
        context.ModelIndex = model;
        context.ModelFile = store.DeviceModels[model];
        ShowProfileSummary(ProfileStore::LoadProfile(context.ModelFile), stDevice, summary);
    } else {
        error = "A profile ID begins with videoconvert/ or devices/, not \"" + id + "\"";
        return false;
    }
    context.AudioSummaryLine = summary.AudioCodec;
    return true;
}

bool ResolveCustom(const std::string &text, CustomProfile &custom, std::string &error)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (parts.size() != 5) {
        error = "--custom takes TYPE,WIDTH,HEIGHT,BITRATE,FPS, not \"" + text + "\"";
        return false;
    }
    custom.Reset();
    custom.PanelOpen = true;
    custom.TypeIndex = -1;
    std::string type = UpperCaseText(TrimBlanks(parts[0]));
    for (int32_t f = 0; f < FormatItemCount; ++f)
        if (ProfileStore::PresetFolderName(FormatItems[f]) == type) custom.TypeIndex = f;
    if (custom.TypeIndex < 0) {
        error = "Unknown custom type \"" + parts[0] + "\": 3GP, MP4, AVI, MPEG, WMV, RM, MOV, MKV or FLV";
        return false;
    }
    custom.TypeText = FormatItems[custom.TypeIndex];
    custom.Width = parts[1];
    custom.Height = parts[2];
    custom.Bitrate = parts[3];
    custom.Fps = parts[4];
    return true;
}

std::mutex ConsoleLock;
bool StatusOpen = false; // a status line without its line end is on the terminal
const bool StderrIsTerminal = isatty(STDERR_FILENO) == 1;

void PrintLine(const std::string &line)
{
    std::lock_guard<std::mutex> lock(ConsoleLock);
    if (StatusOpen) std::fputs("\r\033[K", stderr);
    StatusOpen = false;
    std::fprintf(stderr, "%s\n", line.c_str());
}

void PrintStatus(const std::string &line)
{
    std::lock_guard<std::mutex> lock(ConsoleLock);
    if (!StderrIsTerminal) return;
    std::fprintf(stderr, "\r%s\033[K", line.c_str());
    std::fflush(stderr);
    StatusOpen = true;
}

// The folder of this run's sample analysis, removed with its file.
struct TTempFolder {
    std::string Path;
    bool Create()
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vidmorph-sample-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back(0);
        if (!mkdtemp(name.data())) return false;
        Path = name.data();
        return true;
    }
    ~TTempFolder()
    {
        if (Path.empty()) return;
        ::unlink((Path + "/extfile.ini").c_str());
        ::rmdir(Path.c_str());
    }
};

// One file of the run.
struct TFileRun {
    std::string Source;
    std::string Output;
    int32_t Task = -1;
    bool Done = false;
    bool Finished = false;
    std::string Message;
};

} // namespace

bool IsPresetMode(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) break;
        std::string arg = argv[i];
        std::string name = arg.substr(0, arg.find('='));
        if (FindOption(name)) return true;
    }
    return false;
}

bool ReadPresetOptions(const std::vector<std::string> &args, TPresetOptions &options, std::string &error)
{
    TPresetOptions o;
    bool filesOnly = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (filesOnly || arg.empty() || arg[0] != '-' || arg == "-") {
            o.Files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            filesOnly = true;
            continue;
        }
        size_t eq = arg.find('=');
        std::string name = arg.substr(0, eq);
        const TPresetOption *option = FindOption(name);
        if (!option) {
            if (arg.compare(0, 2, "--") == 0)
                error = "Unknown option " + name + " (vidmorph-cli -h lists them)";
            else
                error = "The engine's option " + arg + " cannot be mixed with the preset mode's options";
            return false;
        }
        std::string value;
        if (*option->Argument) {
            if (eq != std::string::npos)
                value = arg.substr(eq + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else {
                error = std::string(option->Name) + " needs a value: " + option->Argument;
                return false;
            }
        } else if (eq != std::string::npos) {
            error = std::string(option->Name) + " takes no value";
            return false;
        }
        if (!option->Apply(o, value, error)) return false;
    }
    if (!o.Help && !o.ListProfiles) {
        int choices = !o.Profile.empty() + !o.Sample.empty() + !o.Custom.empty();
        if (choices != 1) {
            error = "Give exactly one of --profile, --sample and --custom";
            return false;
        }
        if (o.Files.empty()) {
            error = "No files to convert";
            return false;
        }
    }
    options = o;
    return true;
}

void PrintPresetModeUsage()
{
    std::printf(
        "\nPreset mode (the window's profiles without the window; not mixed with the options above):\n"
        "  vidmorph-cli --list-profiles\n"
        "  vidmorph-cli --profile ID [--output-folder DIR] [--clip START_MS,END_MS] [--jobs N] FILE...\n"
        "  vidmorph-cli --sample SAMPLE [...] FILE...\n"
        "  vidmorph-cli --custom TYPE,WIDTH,HEIGHT,BITRATE,FPS [...] FILE...\n");
    for (const TPresetOption &option : PresetOptionTable) {
        std::string left = std::string(option.Name) + (*option.Argument ? " " : "") + option.Argument;
        std::printf("  %-36s %s\n", left.c_str(), option.Text);
    }
}

int RunPresetMode(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    TPresetOptions options;
    std::string error;
    if (!ReadPresetOptions(args, options, error)) {
        std::fprintf(stderr, "Error: %s\n", error.c_str());
        return 1;
    }
    if (options.Help) {
        PrintPresetModeUsage();
        return 0;
    }

    const std::string programFolder = Utf16ToUtf8(ProgramFolder());
    ProfileStore store(programFolder);
    if (options.ListProfiles) return ListProfiles(store);

    TConsoleMessages messages;
    TAssemblyContext context;
    CustomProfile custom;
    if (!options.Profile.empty()) {
        if (!ResolveProfile(store, options.Profile, context, error)) {
            std::fprintf(stderr, "Error: %s\n", error.c_str());
            return 1;
        }
    } else if (!options.Custom.empty()) {
        if (!ResolveCustom(options.Custom, custom, error)) {
            std::fprintf(stderr, "Error: %s\n", error.c_str());
            return 1;
        }
        context.TabIndex = 3;
        context.Custom = &custom;
    }

    // The output folder: the option, else the window's.
    std::string folder = options.OutputFolder;
    if (folder.empty()) {
        folder = TIniFile(programFolder + "config.ini").ReadString("savepath", "newfilepath", "");
        if (folder.empty()) folder = AppSettings(programFolder, UserVideosFolder()).DefaultOutputFolder();
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!AppSettings::EnsureOutputFolder(folder, error) ||
        !AppSettings::CheckOutputFolderWritable(folder, error)) {
        messages.ShowMessage(mkError, error);
        return 1;
    }
    context.OutputFolder = folder;

    // Signals are blocked before any thread starts, so that only this
    // thread takes them: SIGINT stops the run, SIGUSR1 says it ended.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    int status = 0;
    {
        TZUzidiDOR component;
        if (!component.LoadMediaLibraries(DefaultLibraryFolder())) {
            messages.ShowMessage(mkError, component.LastError());
            return 1;
        }

        // The sample tab: the analysis goes to an extfile.ini of this run,
        // read back by the assembly as the window reads its own.
        TTempFolder sampleFolder;
        if (!options.Sample.empty()) {
            TSampleInfo info;
            if (!AnalyseSample(options.Sample, info, error)) {
                messages.ShowMessage(mkError, error);
                return 1;
            }
            messages.ShowMessage(mkInformation, "您选择的视频格式为 ." + info.FileExtension);
            if (!sampleFolder.Create()) {
                messages.ShowMessage(mkError, "Cannot create a temporary folder for the sample analysis");
                return 1;
            }
            store.SetExtFile(sampleFolder.Path + "/extfile.ini");
            if (!store.WriteExtFile(info, error)) {
                messages.ShowMessage(mkError, error);
                return 1;
            }
            TSummaryLines summary = SampleSummaryLines(info);
            context.TabIndex = 2;
            context.AudioSummaryLine = summary.AudioCodec;
            if (options.Verbose) {
                for (int line = 1; line <= 5; ++line) PrintLine(summary.Line(line));
            }
        }

        SourceList sources;
        OutputAssembly builder(store, sources, messages);
        std::vector<TFileRun> runs;
        for (const std::string &file : options.Files) {
            if (sources.Contains(file)) {
                PrintLine("Skipped (listed twice): " + file);
                continue;
            }
            TSourceInfo info = ReadSourceInfo(file);
            sources.Add(file, info);
            runs.push_back({file, "", -1, false, false, ""});
        }

        // The window's log level; the normal priority, since a command line
        // is niced by its caller when it should yield.
        component.SetLogLevel(llInfo);
        component.SetThreadPriority(tpNormal);
        std::mutex stateLock;
        bool ended = false;
        const pthread_t waiter = pthread_self();
        RunControl run;
        const int32_t total = int32_t(runs.size());
        if (options.Verbose) {
            component.OnLog = [](int32_t, TLogLevel, const std::string &message) { PrintLine(message); };
        }
        component.OnProgress = [&](int32_t index, int32_t, int32_t, int32_t current, float, float, int64_t,
                                   int32_t totalMs) {
            int32_t row = run.RowOfTask(index);
            if (row < 0) return;
            PrintStatus("[" + std::to_string(row + 1) + "/" + std::to_string(total) + "] " +
                        runs[row].Source + ": " + RunControl::ProgressText(current, totalMs));
        };
        component.OnTerminate = [&](int32_t index, bool finished, bool exception,
                                    const std::string &message) {
            std::lock_guard<std::mutex> lock(stateLock);
            if (index < 0) {
                ended = true;
                pthread_kill(waiter, SIGUSR1);
                return;
            }
            int32_t row = run.RowOfTask(index);
            if (row < 0) return;
            runs[row].Done = true;
            runs[row].Finished = finished && !exception;
            runs[row].Message = exception ? message : finished ? "" : "stopped";
        };

        // The run: one task per file, built as the window builds it.
        bool pickFailed = false;
        int32_t queued = 0;
        for (int32_t row = 0; row < total; ++row) {
            TAssemblyContext fileContext = context;
            if (options.ClipSet) {
                int64_t s = options.ClipStartMs, e = options.ClipEndMs,
                        d = ReadSourceInfo(runs[row].Source).PlayTimeMs;
                ClampClip(s, e, d);
                fileContext.ClipActive = e > s;
                fileContext.ClipStartMs = int32_t(s);
                fileContext.ClipLengthMs = int32_t(e - s);
            }
            TOutputOptions output;
            TInputOptions input;
            if (!builder.BuildOutputOptions(fileContext, runs[row].Source, output)) {
                pickFailed = true;
                break;
            }
            builder.BuildInputOptions(fileContext, runs[row].Source, input);
            runs[row].Output = Utf16ToUtf8(output.FileName);
            int32_t index = OutputAssembly::QueueTask(component, input, output);
            if (index < 0) {
                runs[row].Done = true;
                runs[row].Message = component.LastError();
                continue;
            }
            runs[row].Task = index;
            run.MapTask(index, row);
            ++queued;
        }

        bool interrupted = false;
        if (!pickFailed && queued > 0) {
            run.Start();
            component.StartConvert(options.Jobs);
            for (;;) {
                {
                    std::lock_guard<std::mutex> lock(stateLock);
                    if (ended) break;
                }
                timespec wait{1, 0};
                if (sigtimedwait(&signals, nullptr, &wait) == SIGINT) {
                    if (interrupted) _exit(130);
                    interrupted = true;
                    run.Stop();
                    component.StopConvert();
                }
            }
            run.EndOfQueue();
        }
        component.ClearTasks();

        int32_t converted = 0;
        for (int32_t row = 0; row < total; ++row) {
            const TFileRun &r = runs[row];
            std::string head = "[" + std::to_string(row + 1) + "/" + std::to_string(total) + "] " + r.Source;
            if (r.Finished) {
                ++converted;
                PrintLine(head + ": done");
                PrintLine("Output: " + r.Output);
            } else if (pickFailed) {
                PrintLine(head + ": not converted");
            } else {
                PrintLine(head + ": failed: " + (r.Message.empty() ? "not converted" : r.Message));
            }
        }
        PrintLine(std::to_string(converted) + " of " + std::to_string(total) + " files converted");
        status = interrupted ? 130 : converted == total && total > 0 ? 0 : 1;
    }
    return status;
}
