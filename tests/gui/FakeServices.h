// The window's services for the GUI tests: dialogs answer from prepared
// choices, message boxes, the shell, power-off and the beep are only
// recorded. Nothing blocks and nothing is switched off.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "Services.h"

// Everything the window asks of the world, recorded.
class TFakeServices : public TMessageService,
                      public TDialogService,
                      public TShellService,
                      public TPowerService,
                      public TBeepService {
public:
    void ShowMessage(TMessageKind kind, const std::string &text) override
    {
        Messages.push_back({kind, text});
    }
    std::vector<std::string> OpenVideoFiles(bool) override
    {
        if (FileChoices.empty()) return {};
        std::vector<std::string> files = FileChoices.front();
        FileChoices.pop_front();
        return files;
    }
    std::string BrowseFolder(const std::string &title) override
    {
        BrowseTitles.push_back(title);
        return FolderChoice;
    }
    bool OpenFolder(const std::string &path) override
    {
        OpenedFolders.push_back(path);
        return true;
    }
    bool OpenUrl(const std::string &url) override
    {
        OpenedUrls.push_back(url);
        return true;
    }
    bool PowerOff(std::string &) override
    {
        ++PowerOffCalls;
        return true;
    }
    void Beep() override { ++Beeps; }

    bool HasMessage(TMessageKind kind, const std::string &text) const
    {
        for (const auto &[k, t] : Messages)
            if (k == kind && t == text) return true;
        return false;
    }
    int CountKind(TMessageKind kind) const
    {
        int n = 0;
        for (const auto &message : Messages) n += message.first == kind;
        return n;
    }

    std::vector<std::pair<TMessageKind, std::string>> Messages;
    std::deque<std::vector<std::string>> FileChoices;
    std::string FolderChoice;
    std::vector<std::string> BrowseTitles, OpenedFolders, OpenedUrls;
    int PowerOffCalls = 0;
    int Beeps = 0;
};
