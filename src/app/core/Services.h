// What the converter's logic asks of the world outside it: message boxes,
// file and folder dialogs, the shell, power-off and the beep. The window
// implements these with its toolkit; tests substitute fakes, so no test
// blocks on a dialog and none switches anything off.
//
// Every call comes from the user-interface thread. Texts are UTF-8.
#pragma once

#include <string>
#include <vector>

// The caption of every message box of the converter.
inline constexpr const char *ApplicationTitle = "LantorVidmorphV1.4";
// The caption of the main window.
inline constexpr const char *MainWindowCaption = "VidmorphV1.4";

// The filter of the open-file dialog (adding files and the sample analysis);
// the patterns match without regard to letter case.
inline constexpr const char *VideoFileFilter =
    "Video Files|*.AVI;*.AVM;*.ASF;*.WMV;*.AVS;*.FLV;*.MKV;*.MOV;*.3GP;*.MP4;*.MPG;*.MPEG;*.DAT;*.OGM;"
    "*.VOB;*.RM;*.RMVB;*.TS;*.TP;*.IFO;*.NSV;*.MTS;*.M2TS";

enum TMessageKind { mkPlain, mkInformation, mkWarning, mkError };

// Modal message boxes with ApplicationTitle as caption; ShowMessage returns
// when the user has closed the box.
class TMessageService {
public:
    virtual ~TMessageService() = default;
    virtual void ShowMessage(TMessageKind kind, const std::string &text) = 0;
};

class TDialogService {
public:
    virtual ~TDialogService() = default;
    // The open-file dialog with VideoFileFilter: several files when
    // `multiple`, else one. Empty when cancelled.
    virtual std::vector<std::string> OpenVideoFiles(bool multiple) = 0;
    // The folder browser titled `title`; empty when cancelled.
    virtual std::string BrowseFolder(const std::string &title) = 0;
};

class TShellService {
public:
    virtual ~TShellService() = default;
    // Opens a folder in the file manager; false when nothing could open it.
    virtual bool OpenFolder(const std::string &path) = 0;
    // Opens a web address or a file URL; false when nothing could open it.
    virtual bool OpenUrl(const std::string &url) = 0;
};

class TPowerService {
public:
    virtual ~TPowerService() = default;
    // Asks the system to switch the computer off; false with `error` when
    // the request was refused or could not be made.
    virtual bool PowerOff(std::string &error) = 0;
};

class TBeepService {
public:
    virtual ~TBeepService() = default;
    // The default system beep.
    virtual void Beep() = 0;
};
