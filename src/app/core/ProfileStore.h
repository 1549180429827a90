// The profile files and their lists: the format tab's presets (one folder
// per output format under profiles/videoconvert/), the device tab's brands
// and models (one folder per brand under profiles/devices/), the profile
// record, the five summary lines and extfile.ini (the sample analysis).
//
// Order: a folder's entries are taken sorted by name, digits compared as
// numbers ("2_x" before "10_x"), whatever order the file system lists them
// in. A file or folder name may begin with an ordering prefix, digits and
// "_" ("03_苹果"), which the lists do not show. A folder's sub-folders come
// first (recursively), then its own ".ini" files.
//
// Paths are UTF-8. Nothing is cached: every load reads its file. A missing
// folder gives an empty list, a missing file all defaults. User-interface
// thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One profile as read from a profile file.
struct profile_rec {
    std::string Type;
    std::string VideoCodec;
    int32_t VideoBitrate = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    double FPS = 0;
    double AspectRatio = 0;
    std::string AudioCodec;
    int32_t AudioBitrate = 0;
    int32_t SampleRate = 0;
    int32_t Channel = 0;
    int32_t Volume = 0;
};

// Which tab a summary is written for: the frame-rate line's prefix differs.
enum TSummaryTab { stFormat, stDevice };

// The five summary lines under the output settings.
struct TSummaryLines {
    std::string PictureSize;  // "视频像素：352 X 288" at first
    std::string VideoCodec;   // "视频编码：H263"
    std::string VideoBitrate; // "视频码率：128Kbps"
    std::string FrameRate;    // "帧速率：15fps"
    std::string AudioCodec;   // "音频编码：AAC"; chooses the audio encoder of a task

    // Line i, 1 to 5.
    const std::string &Line(int i) const;
};

// The texts before any profile is loaded.
TSummaryLines InitialSummaryLines();
// Writes the five lines from `profile`.
void ShowProfileSummary(const profile_rec &profile, TSummaryTab tab, TSummaryLines &lines);

// What the sample analysis found in a video (media-information reader).
struct TSampleInfo {
    std::string FileExtension; // without the dot, as the reader reports it
    std::string VideoCodec;
    double VideoBitrate = 0; // bits/s
    int32_t Width = 0;
    int32_t Height = 0;
    double FrameRate = 0;
    std::string AudioCodec; // of the first audio stream
};

// extfile.ini as the sample tab reads it back, with its defaults.
struct TExtFileValues {
    std::string Type = "avi";
    std::string Width = "320";
    std::string Height = "240";
    int32_t VideoBitrate = 512000;
    int32_t FPS = 24; // read as an integer: 29.97 reads as 24
};

inline constexpr int FormatItemCount = 9;
// The nine items of the format list and of the custom type list.
extern const std::array<const char *, FormatItemCount> FormatItems;

class ProfileStore {
public:
    // `programFolder`: UTF-8 with a trailing "/".
    explicit ProfileStore(std::string programFolder);

    // Appends the ".ini"-like files (extension compared without case) under
    // `folder`, sub-folders' files first; clears `list` when the folder does
    // not exist. `folder` is trimmed and given a trailing "/".
    static void _GetFileList(std::vector<std::string> &list, std::string folder,
                             const std::string &extension);
    // Appends the names of the immediate sub-folders of `folder`; clears
    // `list` when the folder does not exist.
    static void _GetFileList2(std::vector<std::string> &list, std::string folder);

    // Reads every key of a profile file with its default.
    static profile_rec LoadProfile(const std::string &path);

    // The name a list shows for a profile file (file name without folder,
    // extension and ordering prefix) or a brand folder (without prefix).
    static std::string ProfileDisplayName(const std::string &path);
    static std::string BrandDisplayName(const std::string &folderName);
    // The folder of a format item: its text up to the first "(", trimmed.
    static std::string PresetFolderName(const std::string &itemText);

    // A remembered position that no longer exists in a list of `count`
    // items reads as 0.
    static int32_t ValidPosition(int32_t position, size_t count);

    std::string VideoConvertFolder() const { return FProgramFolder + "profiles/videoconvert/"; }
    std::string DevicesFolder() const { return FProgramFolder + "profiles/devices/"; }
    // ProgramFolder + "extfile.ini" unless SetExtFile named another file
    // (the command line's sample analysis, which leaves the window's alone).
    std::string ExtFile() const { return FExtFile.empty() ? FProgramFolder + "extfile.ini" : FExtFile; }
    void SetExtFile(std::string path) { FExtFile = std::move(path); }

    // The lists. FormatPresets and DeviceModels hold full paths; Brands the
    // brand folders' names as they are on disk.
    std::vector<std::string> FormatPresets;
    std::vector<std::string> Brands;
    std::vector<std::string> DeviceModels;

    // Refills FormatPresets for format item `formatIndex` (0..8; others
    // empty the list).
    void ChangeFormat(int32_t formatIndex);
    // Refills Brands from the devices folder.
    void FillBrands();
    // Refills DeviceModels for Brands[brandIndex] (out of range: empty).
    void ChangeBrand(int32_t brandIndex);

    // The display names of the lists, in list order.
    std::vector<std::string> PresetNames() const;
    std::vector<std::string> BrandNames() const;
    std::vector<std::string> ModelNames() const;

    // The profile at a position of FormatPresets / DeviceModels; false when
    // the position is out of range.
    bool LoadFormatPreset(int32_t position, profile_rec &profile) const;
    bool LoadDeviceModel(int32_t position, profile_rec &profile) const;

    // extfile.ini read back as the sample tab uses it.
    TExtFileValues ReadExtFile() const;
    // Writes the analysis into extfile.ini; false with `error` when the file
    // cannot be written.
    bool WriteExtFile(const TSampleInfo &info, std::string &error) const;

private:
    std::string FProgramFolder;
    std::string FExtFile;
};

// Reads a sample video with the media-information reader. False with a
// message when the reader cannot read the file at all; a file without a
// picture gives Width and Height 0 (the pick on the sample tab refuses it).
bool AnalyseSample(const std::string &path, TSampleInfo &info, std::string &message);
// The summary lines of an analysed sample.
TSummaryLines SampleSummaryLines(const TSampleInfo &info);
