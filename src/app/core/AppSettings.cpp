#include "AppSettings.h"

#include <fcntl.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

AppSettings::AppSettings(std::string programFolder, std::string videosFolder)
    : FProgramFolder(std::move(programFolder)), FVideosFolder(std::move(videosFolder))
{
    if (!FProgramFolder.empty() && FProgramFolder.back() != '/') FProgramFolder += '/';
    while (FVideosFolder.size() > 1 && FVideosFolder.back() == '/') FVideosFolder.pop_back();
}

std::string AppSettings::DefaultOutputFolder() const
{
    return (FVideosFolder == "/" ? std::string() : FVideosFolder) + "/输出视频";
}

std::string AppSettings::ReadOutputFolder()
{
    TIniFile ini(ConfigFile());
    std::string folder = ini.ReadString("savepath", "newfilepath", "");
    if (!folder.empty()) return folder;
    std::string fallback = DefaultOutputFolder();
    if (!ini.WriteString("savepath", "newfilepath", fallback)) {
        FLastError = ini.LastError();
        return fallback;
    }
    folder = ini.ReadString("savepath", "newfilepath", "");
    return folder.empty() ? fallback : folder;
}

bool AppSettings::WriteOutputFolder(const std::string &folder)
{
    TIniFile ini(ConfigFile());
    if (ini.WriteString("savepath", "newfilepath", folder)) return true;
    FLastError = ini.LastError();
    return false;
}

bool AppSettings::EnsureOutputFolder(const std::string &folder, std::string &message)
{
    struct stat st {};
    if (!folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    if (!folder.empty() && ::mkdir(folder.c_str(), 0777) == 0) return true;
    message = "未能创建 " + folder + " 目录！";
    return false;
}

bool AppSettings::CheckOutputFolderWritable(const std::string &folder, std::string &message)
{
    struct stat st {};
    if (folder.empty() || ::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        message = "输出目录 " + folder + " 不存在！";
        return false;
    }
    // A real probe: access() is not enough on read-only mounts or with ACLs.
    std::string probe =
        folder + (folder.back() == '/' ? "" : "/") + ".vidmorph-write-test-" + std::to_string(::getpid());
    int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        message = "输出目录 " + folder + " 无法写入：" + std::strerror(errno);
        return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

std::string AppSettings::SkinName() const
{
    return TIniFile(ConfigFile()).ReadString("skin", "name", "Topaz");
}

TSelectionMemory AppSettings::ReadSelection() const
{
    TIniFile ini(ConfigFile());
    TSelectionMemory m;
    m.ComboBox1 = ini.ReadInteger("select", "combobox1", 0);
    m.ComboBox2 = ini.ReadInteger("select", "combobox2", 0);
    m.ComboBox3 = ini.ReadInteger("select", "combobox3", 0);
    m.ComboBox4 = ini.ReadInteger("select", "combobox4", 0);
    m.TabIndex = ini.ReadInteger("select", "tabindex", 0);
    return m;
}

bool AppSettings::WriteFormatSelection(int32_t formatIndex, int32_t presetIndex)
{
    TIniFile ini(ConfigFile());
    bool ok = ini.WriteInteger("select", "combobox1", formatIndex) &&
              ini.WriteInteger("select", "combobox2", presetIndex);
    if (!ok) FLastError = ini.LastError();
    return ok;
}

bool AppSettings::WriteDeviceSelection(int32_t brandIndex, int32_t modelIndex)
{
    TIniFile ini(ConfigFile());
    bool ok = ini.WriteInteger("select", "combobox3", brandIndex) &&
              ini.WriteInteger("select", "combobox4", modelIndex);
    if (!ok) FLastError = ini.LastError();
    return ok;
}

bool AppSettings::WriteTabIndex(int32_t tabIndex)
{
    TIniFile ini(ConfigFile());
    if (ini.WriteInteger("select", "tabindex", tabIndex)) return true;
    FLastError = ini.LastError();
    return false;
}

bool AppSettings::ReadBool(const std::string &section, const std::string &key, bool defaultValue) const
{
    return TIniFile(ConfigFile()).ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool AppSettings::WriteBool(const std::string &section, const std::string &key, bool value)
{
    TIniFile ini(ConfigFile());
    if (ini.WriteInteger(section, key, value ? 1 : 0)) return true;
    FLastError = ini.LastError();
    return false;
}
