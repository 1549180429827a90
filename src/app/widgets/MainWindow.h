// The main window TForm1: the source list, the output settings with their
// four tabs, the output folder, the run control, and the group where the
// frame preview sits. The window shows the state of the display-free core
// (settings, profiles, source rows, run state) and forwards the user's
// actions to it; the conversion component does the work and reports
// through the bridge, on this thread.
//
// The frame preview and the contents of the sample and custom tabs are
// installed from outside (InstallPreview, PreviewGroup, SettingsPage): they
// read and write the window's ClipRange and CustomProfile, which the
// window's task building reads.
//
// User-interface thread only.
#pragma once

#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

#include "AppSettings.h"
#include "ClipRange.h"
#include "CustomProfile.h"
#include "OutputAssembly.h"
#include "ProfileStore.h"
#include "RunControl.h"
#include "Services.h"
#include "SourceList.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TAVProbe;
class TComponentBridge;
class TPowerOffCountdown;
class TZUzidiDOR;
struct TProgressFigures;

// The client size of the main window, without the menu bar.
inline constexpr int MainClientWidth = 678;
inline constexpr int MainClientHeight = 486;

// What the window needs from the program around it.
struct TMainWindowSetup {
    std::string ProgramFolder; // config.ini, profiles/, extfile.ini, README.md; UTF-8 with a trailing "/"
    std::string VideosFolder;  // where the default output folder is made
    std::string LibraryFolder; // the media libraries (ProgramFolder + "LibAV")
    TMessageService *Messages = nullptr;
    TDialogService *Dialogs = nullptr;
    TShellService *Shell = nullptr;
    TPowerService *Power = nullptr;
    TBeepService *Beep = nullptr;
    // How long the end-of-queue message counts down before power-off.
    int PowerOffSeconds = 60;
    // Closing during a run waits this long for the tasks to stop before
    // the component is destroyed (which stops them for good).
    int CloseGraceMs = 8000;
};

// The frame preview and the sample and custom tabs, as the window calls them.
class TPreviewHost {
public:
    virtual ~TPreviewHost() = default;
    // A file was added or selected: it is open in `probe` (OpenPreview).
    virtual void OpenPreview(TAVProbe &probe) = 0;
    // Rows were deleted or cleared: only the picture is cleared.
    virtual void ClearPreviewPicture() = 0;
    // Every show of the window: the custom tab's reset (after Custom().Reset()).
    virtual void ResetCustomTab() = 0;
    // The output-settings tab changed (the custom panel hides).
    virtual void SettingsTabChanged(int index) = 0;
};

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(const TMainWindowSetup &setup, QWidget *parent = nullptr);
    // Stops a run still going, waits for its tasks, and removes the outputs
    // of tasks that did not finish.
    ~TForm1() override;

    // Adds files as if chosen in the open-file dialog (also the files named
    // on the command line).
    void AddFiles(const std::vector<std::string> &paths);

    // The group "视频预览窗口", empty until the preview is installed into it.
    QGroupBox *PreviewGroup() const { return FPreviewGroup; }
    // Page `index` of the output-settings tabs (0 format ... 3 custom).
    QWidget *SettingsPage(int index) const;
    void InstallPreview(TPreviewHost *host) { FPreviewHost = host; }

    // The core state the preview and the two tabs share with the window.
    ClipRange &Clip() { return FClip; }
    CustomProfile &Custom() { return FCustom; }
    AppSettings &Settings() { return FSettings; }
    ProfileStore &Store() { return FStore; }
    TZUzidiDOR &Component() { return *FComponent; }
    const TMainWindowSetup &Setup() const { return FSetup; }
    // Shows summary lines computed elsewhere (the sample analysis).
    void ShowSummary(const TSummaryLines &lines);
    // The custom type list shares the format list's handling: a user's
    // selection there marks the format tab and runs the format change.
    void FormatSelectionByUser();
    // Moves the keyboard focus to the run-control panel.
    void FocusRunPanel();

    RunControl &Run() { return FRun; }

signals:
    // The end-of-queue handling is complete (message closed, tasks cleared).
    void QueueEnded();
    // The window has closed (after a run it was closed during has stopped).
    void Closed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void BuildMenu();
    void BuildSourceArea(QWidget *client);
    void BuildOutputSettings(QWidget *client);
    void BuildOutputFolder(QWidget *client);
    void BuildRunControl(QWidget *client);

    // Settings and profiles.
    void StartupRestore();
    void FormatChanged();
    void LoadFormatPreset();
    void BrandChanged();
    void LoadDeviceModel();
    void TabChanged(int index);
    void UpdateTabIcons();
    void UpdateSummaryLabels();

    // The source list.
    void AddClicked();
    void DeleteClicked();
    void ClearClicked();
    void RowSelected();
    bool EnsureLibraries();
    void ShowAddButtons();

    // The run.
    void StartClicked();
    void PauseClicked();
    void ResumeClicked();
    void StopClicked();
    void ApplyButtons();
    TAssemblyContext AssemblyContext() const;
    void OnProgress(int index, const TProgressFigures &figures);
    void OnTerminate(int index, bool finished, bool exception, const QString &message);
    void EndOfQueue();
    void FinishEndOfQueue();
    void RemoveUnfinishedOutput(int taskIndex);
    void RemoveAllUnfinishedOutputs();
    void ForceClose();

    // The output folder.
    void BrowseFolderClicked();
    void OpenFolderClicked();
    void AboutClicked();

    TMainWindowSetup FSetup;
    AppSettings FSettings;
    ProfileStore FStore;
    SourceList FSources;
    RunControl FRun;
    ClipRange FClip;
    CustomProfile FCustom;
    TSummaryLines FSummaryTexts;
    std::unique_ptr<OutputAssembly> FAssembly;
    std::unique_ptr<TZUzidiDOR> FComponent;
    TComponentBridge *FBridge = nullptr;
    TPreviewHost *FPreviewHost = nullptr;

    bool FFormatUserChanged = false;
    bool FDeviceUserChanged = false;
    bool FShownOnce = false;
    std::string FRememberedFolder; // read at creation or last chosen with the browser

    // Per task of the current run: its output file and whether it finished.
    struct TTaskOutput {
        std::string FileName;
        bool Ended = false;
        bool Finished = false;
    };
    std::vector<TTaskOutput> FTaskOutputs;
    bool FRunActive = false; // from Start until the end of the queue
    bool FClosing = false;   // closing waits for the run to stop
    bool FCloseNow = false;  // the next close is accepted
    TPowerOffCountdown *FCountdown = nullptr;

    // Source list and its add controls.
    QTreeWidget *FList = nullptr;
    QFrame *FAddPanel = nullptr;
    QToolButton *FAddLarge = nullptr;
    QPushButton *FAdd = nullptr;
    QPushButton *FDelete = nullptr;
    QPushButton *FClear = nullptr;

    // Output settings.
    QGroupBox *FSettingsGroup = nullptr;
    QTabWidget *FTabs = nullptr;
    QComboBox *FFormatList = nullptr;
    QComboBox *FPresetList = nullptr;
    QComboBox *FBrandList = nullptr;
    QComboBox *FModelList = nullptr;
    QWidget *FSummary = nullptr;   // the five summary lines, moved from tab to tab
    QLabel *FSummaryLines[5] = {}; // size, video codec, bit rate, frame rate, audio codec

    // Output folder.
    QLineEdit *FOutputFolder = nullptr;
    QToolButton *FBrowseFolder = nullptr;
    QToolButton *FOpenFolder = nullptr;

    QGroupBox *FPreviewGroup = nullptr;

    // Run control.
    QFrame *FRunPanel = nullptr;
    QToolButton *FStart = nullptr;
    QPushButton *FPause = nullptr;
    QPushButton *FResume = nullptr;
    QPushButton *FStop = nullptr;
    QCheckBox *FShutdown = nullptr;
};
