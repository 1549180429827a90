// The core's services for the running program: message boxes, the file and
// folder dialogs, the shell, power-off and the beep, with Qt.
#pragma once

#include <QString>

#include "Services.h"

class QWidget;

class TQtServices : public TMessageService,
                    public TDialogService,
                    public TShellService,
                    public TPowerService,
                    public TBeepService {
public:
    // Dialogs and boxes are owned by `parent` (the main window) once it is set.
    void SetParent(QWidget *parent) { FParent = parent; }

    void ShowMessage(TMessageKind kind, const std::string &text) override;
    std::vector<std::string> OpenVideoFiles(bool multiple) override;
    std::string BrowseFolder(const std::string &title) override;
    bool OpenFolder(const std::string &path) override;
    bool OpenUrl(const std::string &url) override;
    bool PowerOff(std::string &error) override;
    void Beep() override;

private:
    QWidget *FParent = nullptr;
};

// VideoFileFilter as a Qt name filter, each pattern in upper and lower case
// so that the dialog matches without regard to case on this file system.
QString QtVideoFileFilter();
