// The main window TForm1: the source list, the output settings with their
// four tabs, the output folder, the run control, and the group where the
// frame preview sits. The window shows the state of the display-free core
// and forwards the user's actions to it; the conversion component does the
// work and reports through the bridge.
//
// User-interface thread only.
#pragma once

#include <QMainWindow>

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

// The client size of the main window, without the menu bar.
inline constexpr int MainClientWidth = 678;
inline constexpr int MainClientHeight = 486;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // The group "视频预览窗口", empty: the frame preview is installed into it.
    QGroupBox *PreviewGroup() const { return FPreviewGroup; }
    // Page `index` of the output-settings tabs (0 format ... 3 custom).
    QWidget *SettingsPage(int index) const;

private:
    void BuildMenu();
    void BuildSourceArea(QWidget *client);
    void BuildOutputSettings(QWidget *client);
    void BuildOutputFolder(QWidget *client);
    void BuildRunControl(QWidget *client);
    // Moves the five summary lines onto page `index` and updates the icons.
    void ShowTab(int index);
    void UpdateTabIcons();

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
