#include "ProfileStore.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "IniFile.h"
#include "MediaInfoDll.h"
#include "TextCodec.h"

namespace fs = std::filesystem;

const std::array<const char *, FormatItemCount> FormatItems = {
    "3GP  (适合手机播放)",
    "MP4  (适合手机,MP4播放器,PSP等)",
    "AVI (适合电脑和部分手机 MP4播放器)",
    "MPEG  (VCD、DVD播放机)",
    "WMV (适合电脑部分MP4播放器播放)",
    "RM  (适合电脑播放)",
    "MOV  (适合电脑播放)",
    "MKV  (适合电脑播放)",
    "FLV  (适合电脑播放)",
};

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameTextAscii(const std::string &a, const std::string &b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Names in the order the lists use: runs of digits compare as numbers,
// everything else byte by byte (ASCII letters without case); ties by bytes.
bool NaturalLess(const std::string &a, const std::string &b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && IsDigit(a[ie])) ++ie;
            while (je < b.size() && IsDigit(b[je])) ++je;
            size_t is = i, js = j;
            while (is + 1 < ie && a[is] == '0') ++is;
            while (js + 1 < je && b[js] == '0') ++js;
            if (ie - is != je - js) return ie - is < je - js;
            int c = a.compare(is, ie - is, b, js, je - js);
            if (c != 0) return c < 0;
            i = ie;
            j = je;
            continue;
        }
        char x = LowerAscii(a[i]), y = LowerAscii(b[j]);
        if (x != y) return (unsigned char)x < (unsigned char)y;
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b;
}

std::string NormalFolder(std::string folder)
{
    folder = TrimBlanks(folder);
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// A leading "digits_" ordering prefix is not part of the shown name.
std::string WithoutOrderPrefix(const std::string &name)
{
    size_t i = 0;
    while (i < name.size() && IsDigit(name[i])) ++i;
    if (i > 0 && i + 1 < name.size() && name[i] == '_') return name.substr(i + 1);
    return name;
}

struct TEntry {
    std::string Name;
    bool Folder;
};

// The entries of a folder (hidden ones included), sorted; false when the
// folder cannot be listed.
bool SortedEntries(const std::string &folder, std::vector<TEntry> &entries)
{
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    if (ec) return false;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code typeError;
        bool isFolder = it->is_directory(typeError);
        entries.push_back({it->path().filename().string(), isFolder && !typeError});
    }
    std::sort(entries.begin(), entries.end(),
              [](const TEntry &a, const TEntry &b) { return NaturalLess(a.Name, b.Name); });
    return true;
}

void CollectFiles(std::vector<std::string> &list, const std::string &folder, const std::string &extension,
                  int depth)
{
    std::vector<TEntry> entries;
    if (!SortedEntries(folder, entries)) return;
    std::vector<std::string> own;
    for (const TEntry &entry : entries) {
        if (entry.Folder) {
            // Symbolic links may loop; real profile trees are shallow.
            if (depth < 16) CollectFiles(list, folder + entry.Name + "/", extension, depth + 1);
            continue;
        }
        size_t dot = entry.Name.rfind('.');
        if (dot != std::string::npos && SameTextAscii(entry.Name.substr(dot), extension))
            own.push_back(folder + entry.Name);
    }
    list.insert(list.end(), own.begin(), own.end());
}

bool FolderExists(const std::string &folder)
{
    std::error_code ec;
    return fs::is_directory(folder, ec);
}

} // namespace

const std::string &TSummaryLines::Line(int i) const
{
    switch (i) {
    case 1: return PictureSize;
    case 2: return VideoCodec;
    case 3: return VideoBitrate;
    case 4: return FrameRate;
    default: return AudioCodec;
    }
}

TSummaryLines InitialSummaryLines()
{
    return {"视频像素：352 X 288", "视频编码：H263", "视频码率：128Kbps", "帧速率：15fps", "音频编码：AAC"};
}

void ShowProfileSummary(const profile_rec &profile, TSummaryTab tab, TSummaryLines &lines)
{
    lines.PictureSize = "视频像素：" + std::to_string(profile.Width) + "X" + std::to_string(profile.Height);
    lines.VideoCodec = "视频编码：" + profile.VideoCodec;
    lines.VideoBitrate = "视频码率：" + std::to_string(profile.VideoBitrate);
    lines.FrameRate = (tab == stFormat ? "帧速率：" : "桢速率：") + FloatToText(profile.FPS);
    lines.AudioCodec = "音频编码：" + profile.AudioCodec;
}

ProfileStore::ProfileStore(std::string programFolder) : FProgramFolder(std::move(programFolder))
{
    if (!FProgramFolder.empty() && FProgramFolder.back() != '/') FProgramFolder += '/';
}

void ProfileStore::_GetFileList(std::vector<std::string> &list, std::string folder,
                                const std::string &extension)
{
    folder = NormalFolder(folder);
    if (!FolderExists(folder)) {
        list.clear();
        return;
    }
    CollectFiles(list, folder, extension, 0);
}

void ProfileStore::_GetFileList2(std::vector<std::string> &list, std::string folder)
{
    folder = NormalFolder(folder);
    std::vector<TEntry> entries;
    if (!FolderExists(folder) || !SortedEntries(folder, entries)) {
        list.clear();
        return;
    }
    for (const TEntry &entry : entries)
        if (entry.Folder) list.push_back(entry.Name);
}

profile_rec ProfileStore::LoadProfile(const std::string &path)
{
    TIniFile ini(path);
    profile_rec p;
    p.Type = ini.ReadString("mediatype", "Type", "");
    p.VideoCodec = ini.ReadString("video", "VideoCodec", "");
    p.VideoBitrate = ini.ReadInteger("video", "VideoBitrate", 0);
    p.Width = ini.ReadInteger("video", "Width", 0);
    p.Height = ini.ReadInteger("video", "Height", 0);
    p.FPS = ini.ReadFloat("video", "FPS", 0);
    p.AspectRatio = ini.ReadFloat("video", "AspectRatio", 0);
    p.AudioCodec = ini.ReadString("audio", "AudioCodec", "");
    p.AudioBitrate = ini.ReadInteger("audio", "AudioBitrate", 0);
    p.SampleRate = ini.ReadInteger("audio", "SampleRate", 0);
    p.Channel = ini.ReadInteger("audio", "Channel", 0);
    p.Volume = ini.ReadInteger("audio", "Volume", 0);
    return p;
}

std::string ProfileStore::ProfileDisplayName(const std::string &path)
{
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return WithoutOrderPrefix(name);
}

std::string ProfileStore::BrandDisplayName(const std::string &folderName)
{
    return WithoutOrderPrefix(folderName);
}

std::string ProfileStore::PresetFolderName(const std::string &itemText)
{
    size_t paren = itemText.find('(');
    return TrimBlanks(paren == std::string::npos ? itemText : itemText.substr(0, paren));
}

int32_t ProfileStore::ValidPosition(int32_t position, size_t count)
{
    return position >= 0 && size_t(position) < count ? position : 0;
}

void ProfileStore::ChangeFormat(int32_t formatIndex)
{
    FormatPresets.clear();
    if (formatIndex < 0 || formatIndex >= FormatItemCount) return;
    _GetFileList(FormatPresets, VideoConvertFolder() + PresetFolderName(FormatItems[formatIndex]), ".ini");
}

void ProfileStore::FillBrands()
{
    Brands.clear();
    _GetFileList2(Brands, DevicesFolder());
}

void ProfileStore::ChangeBrand(int32_t brandIndex)
{
    DeviceModels.clear();
    if (brandIndex < 0 || size_t(brandIndex) >= Brands.size()) return;
    _GetFileList(DeviceModels, DevicesFolder() + Brands[brandIndex], ".ini");
}

std::vector<std::string> ProfileStore::PresetNames() const
{
    std::vector<std::string> names;
    for (const std::string &path : FormatPresets) names.push_back(ProfileDisplayName(path));
    return names;
}

std::vector<std::string> ProfileStore::BrandNames() const
{
    std::vector<std::string> names;
    for (const std::string &folder : Brands) names.push_back(BrandDisplayName(folder));
    return names;
}

std::vector<std::string> ProfileStore::ModelNames() const
{
    std::vector<std::string> names;
    for (const std::string &path : DeviceModels) names.push_back(ProfileDisplayName(path));
    return names;
}

bool ProfileStore::LoadFormatPreset(int32_t position, profile_rec &profile) const
{
    if (position < 0 || size_t(position) >= FormatPresets.size()) return false;
    profile = LoadProfile(FormatPresets[position]);
    return true;
}

bool ProfileStore::LoadDeviceModel(int32_t position, profile_rec &profile) const
{
    if (position < 0 || size_t(position) >= DeviceModels.size()) return false;
    profile = LoadProfile(DeviceModels[position]);
    return true;
}

TExtFileValues ProfileStore::ReadExtFile() const
{
    TIniFile ini(ExtFile());
    TExtFileValues v;
    v.Type = ini.ReadString("mediatype", "Type", "avi");
    v.Width = ini.ReadString("video", "Width", "320");
    v.Height = ini.ReadString("video", "Height", "240");
    v.VideoBitrate = ini.ReadInteger("video", "VideoBitrate", 512000);
    v.FPS = ini.ReadInteger("video", "FPS", 24);
    return v;
}

bool ProfileStore::WriteExtFile(const TSampleInfo &info, std::string &error) const
{
    TIniFile ini(ExtFile());
    bool ok = ini.WriteString("mediatype", "Type", info.FileExtension) &&
              ini.WriteString("video", "VideoCodec", info.VideoCodec) &&
              ini.WriteFloat("video", "VideoBitrate", info.VideoBitrate) &&
              ini.WriteInteger("video", "Width", info.Width) &&
              ini.WriteInteger("video", "Height", info.Height) &&
              ini.WriteFloat("video", "FPS", info.FrameRate) &&
              ini.WriteString("audio", "AudioCodec", info.AudioCodec);
    if (!ok) error = ini.LastError();
    return ok;
}

bool AnalyseSample(const std::string &path, TSampleInfo &info, std::string &message)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        message = "无法读取视频文件 " + path + "！";
        return false;
    }
    TMediaInfoDll reader(path);
    TSampleInfo result;
    result.FileExtension = reader.GetFileExtension();
    result.VideoCodec = Utf16ToUtf8(reader.GetVideoCodec());
    result.VideoBitrate = reader.GetBitRate();
    result.Width = reader.GetWidth();
    result.Height = reader.GetHeight();
    try {
        result.FrameRate = reader.GetFrameRate();
    } catch (const MediaInfoException &) {
        result.FrameRate = 0;
    }
    result.AudioCodec = Utf16ToUtf8(reader.GetAudioCodec(0));
    if (result.VideoCodec.empty() && result.AudioCodec.empty() && result.Width == 0) {
        message = "无法分析视频文件 " + path + "：其中没有可识别的视频或音频。";
        return false;
    }
    info = result;
    return true;
}

TSummaryLines SampleSummaryLines(const TSampleInfo &info)
{
    TSummaryLines lines;
    lines.PictureSize = "视频像素：" + std::to_string(info.Width) + "X" + std::to_string(info.Height);
    lines.VideoCodec = "视频编码：" + info.VideoCodec;
    lines.VideoBitrate = "视频码率：" + FloatToText(info.VideoBitrate);
    lines.FrameRate = "帧速率：" + FloatToText(info.FrameRate);
    lines.AudioCodec = "音频编码：" + info.AudioCodec;
    return lines;
}
