// One listed source file and the chosen output profile become one task of
// the conversion component: the built-in tables of presets and devices,
// the output choice choice_rec, the shape-keeping padding, the audio
// encoder, the container adjustments and the output file's name.
//
// For each file: PickProfileSettings, BuildOutputOptions, BuildInputOptions,
// QueueTask, in this order (BuildOutputOptions runs the pick itself).
// choice_rec persists between calls. User-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ProfileStore.h"
#include "TaskOptions.h"

class TCustomZUzidiDOR;
class TMessageService;
class SourceList;
class RunControl;
class CustomProfile;

// The output choice.
struct choice_rec {
    std::string Ext;  // ".mp4"
    std::string Size; // "320x240"
    std::string Codec;
    int32_t Bitrate = 0; // bits/s
    int32_t Fps = 0;
    std::string FallbackAudio; // "libmp3lame" once a custom pick ran
    // Disc rows only: the target preset (1 vcd, 2 svcd, 3 dvd) and its norm
    // (1 pal, 2 ntsc); 0 for every other pick.
    int32_t Target = 0;
    int32_t TargetNorm = 0;
};

// One row of the built-in format or device table. Codec null: the row
// names no encoder. Target/TargetNorm: a disc row (1 vcd, 2 svcd, 3 dvd;
// norm 1 pal, 2 ntsc) that the component's target preset makes.
struct TProfileRow {
    const char *Ext;
    const char *Size;
    const char *Codec;
    int32_t Bitrate;
    int32_t Fps;
    int32_t Target = 0;
    int32_t TargetNorm = 0;
};

// Table look-ups; null when the position has no row.
const TProfileRow *FormatTableRow(int32_t formatIndex, int32_t presetIndex);
const TProfileRow *DeviceTableRow(int32_t brandIndex, int32_t modelIndex);
int32_t FormatTableRowCount(int32_t formatIndex);
int32_t DeviceTableBrandCount();
int32_t DeviceTableRowCount(int32_t brandIndex);

// The custom type list's table: extension and encoder of each of the nine types.
struct TCustomTypeRow {
    const char *Ext;
    const char *Codec;
};
const TCustomTypeRow *CustomTableRow(int32_t typeIndex);

// The result of FitFrameSize.
struct TFrameFit {
    std::string InnerSize;       // width + "X" + height
    int32_t Pad = 0;             // per side, before even()
    bool BarsAboveBelow = false; // true: pad top and bottom; false: left and right
};

// The shape rule on numbers: a source of sW x sH into `targetSize`
// ("WxH"). False when the source has no picture size or the target does not
// parse (the result is then left as it was).
bool FitFrameSize(int32_t sourceWidth, int32_t sourceHeight, const std::string &targetSize, TFrameFit &fit);

// What the window shows when a task is built: the active tab, its
// selections, the custom fields, summary line 5, the output folder and the clip.
struct TAssemblyContext {
    int32_t TabIndex = 0;
    int32_t FormatIndex = 0;               // sComboBoxEx1
    int32_t PresetIndex = 0;               // sComboBoxEx2
    std::string PresetFile;                // FormatPresets[PresetIndex], empty when none
    int32_t BrandIndex = 0;                // sComboBoxEx3
    int32_t ModelIndex = 0;                // sComboBoxEx4
    std::string ModelFile;                 // DeviceModels[ModelIndex], empty when none
    const CustomProfile *Custom = nullptr; // the custom tab's fields (tab 3)
    std::string AudioSummaryLine;          // summary line 5 as shown
    std::string OutputFolder;              // the output-folder field's text
    bool ClipActive = false;
    int32_t ClipStartMs = 0;
    int32_t ClipLengthMs = 0;
};

class OutputAssembly {
public:
    // `store` gives extfile.ini and the profile files of rows beyond the
    // tables; `sources` the rows whose resolution FitFrameSize reads;
    // `messages` shows the pick's messages.
    OutputAssembly(const ProfileStore &store, const SourceList &sources, TMessageService &messages);

    choice_rec Choice;

    // Fills Choice from the active tab. False when the choice has no values
    // (a validation message or a clear message was shown; Choice is kept as
    // it was and nothing should be queued).
    bool PickProfileSettings(const TAssemblyContext &context);

    // The source's row (the last whose name matches `baseName`) into `targetSize`.
    bool FitFrameSize(const std::string &baseName, const std::string &targetSize, TFrameFit &fit) const;

    // The output record for `sourceFile`. False when the pick failed:
    // `options` must not be queued. A source without a picture size (no
    // row, or 0 X 0) gets the target size without padding.
    bool BuildOutputOptions(const TAssemblyContext &context, const std::string &sourceFile,
                            TOutputOptions &options);
    void BuildInputOptions(const TAssemblyContext &context, const std::string &sourceFile,
                           TInputOptions &options) const;
    // AddTask and SetOutput (RemoveTask when the output fails). The task's
    // index, or -1 when it could not be queued (LastError of the component).
    static int32_t QueueTask(TCustomZUzidiDOR &component, TInputOptions &input, TOutputOptions &output);

    // A whole run's queue: the pick and the output folder are checked once
    // (a failure shows its message and queues nothing); then for every
    // source in order `betweenRows` (the window lets pending events run),
    // build and queue; each queued task is mapped to its row in `run`.
    // Returns the number of tasks queued.
    int32_t QueueSources(TCustomZUzidiDOR &component, const TAssemblyContext &context, RunControl &run,
                         const std::function<void()> &betweenRows = {});

    // Why the last BuildOutputOptions/QueueTask of QueueSources failed, per
    // row that was not queued (row index, text); emptied by QueueSources.
    std::vector<std::pair<int32_t, std::string>> SkippedRows;

private:
    const ProfileStore &FStore;
    const SourceList &FSources;
    TMessageService &FMessages;
};

// The output file's name: folder + "/" + baseName + "_(new)" + ext, or
// "_(new_N)" with the smallest N whose file does not exist.
std::string OutputFileName(const std::string &folder, const std::string &baseName,
                           const std::string &fileExt);
// The audio encoder that summary line 5 names: AAC, AC3, FLAC, MP3; empty otherwise.
std::string AudioEncoderOfSummary(const std::string &audioLine);
// The base name (file name without folder and extension) of a path.
std::string BaseNameOf(const std::string &path);
// Upper case of UTF-8 text, every script's letters, whatever the locale.
std::string UpperCaseText(const std::string &text);
