// config.ini in the program folder: the output folder, the skin name, the
// remembered list positions and the active output-settings tab.
//
// Every read and write goes to the file at once (TIniFile); nothing is
// cached here. User-interface thread only.
#pragma once

#include <cstdint>
#include <string>

#include "IniFile.h"

// The remembered positions ("select" section), 0 when missing or not a number.
struct TSelectionMemory {
    int32_t ComboBox1 = 0; // format list
    int32_t ComboBox2 = 0; // preset list
    int32_t ComboBox3 = 0; // brand list
    int32_t ComboBox4 = 0; // model list
    int32_t TabIndex = 0;  // 0 format, 1 device, 2 sample video, 3 custom
};

class AppSettings {
public:
    // `programFolder`: UTF-8, with a trailing "/". `videosFolder`: where the
    // default output folder goes (UserVideosFolder() in the program).
    AppSettings(std::string programFolder, std::string videosFolder);

    std::string ConfigFile() const { return FProgramFolder + "config.ini"; }

    // videosFolder + "/输出视频".
    std::string DefaultOutputFolder() const;

    // "newfilepath": when missing or empty, the default output folder is
    // written and read back. The result is the folder to use.
    std::string ReadOutputFolder();
    // Writes "newfilepath" (after a pick with the folder browser).
    bool WriteOutputFolder(const std::string &folder);

    // Creates `folder` when it does not exist (one level: missing parents
    // are not created). False with the message to show as an error:
    // "未能创建 " + folder + " 目录！".
    static bool EnsureOutputFolder(const std::string &folder, std::string &message);
    // True when `folder` exists and a file can be created in it; otherwise
    // false with a message naming the folder.
    static bool CheckOutputFolderWritable(const std::string &folder, std::string &message);

    // "name" in "skin", default "Topaz". Never written.
    std::string SkinName() const;

    TSelectionMemory ReadSelection() const;
    // "combobox1" and "combobox2" together.
    bool WriteFormatSelection(int32_t formatIndex, int32_t presetIndex);
    // "combobox3" and "combobox4" together.
    bool WriteDeviceSelection(int32_t brandIndex, int32_t modelIndex);
    bool WriteTabIndex(int32_t tabIndex);

    // A key of the program's own in config.ini (for instance the previewer
    // switch): read with its default, written at once.
    bool ReadBool(const std::string &section, const std::string &key, bool defaultValue) const;
    bool WriteBool(const std::string &section, const std::string &key, bool value);

    const std::string &ProgramFolder() const { return FProgramFolder; }
    // The text of the last failed write.
    const std::string &LastError() const { return FLastError; }

private:
    std::string FProgramFolder;
    std::string FVideosFolder;
    std::string FLastError;
};
