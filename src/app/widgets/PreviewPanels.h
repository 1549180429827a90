// Puts the frame preview, the sample and custom tabs and the check box
// "转换时预览" into a main window, and answers the window's calls to them
// (TPreviewHost). Made after the window and destroyed before it; the
// widgets belong to the window.
#pragma once

#include <QObject>

#include "MainWindow.h"

class TConvertPreviewBox;
class TCustomTab;
class TPreviewGroup;
class TSampleTab;

class TPreviewPanels : public QObject, public TPreviewHost {
    Q_OBJECT
public:
    explicit TPreviewPanels(TForm1 &window);
    ~TPreviewPanels() override;

    void OpenPreview(TAVProbe &probe) override;
    void ClearPreviewPicture() override;
    void ResetCustomTab() override;
    void SettingsTabChanged(int index) override;

    TPreviewGroup *Preview() const { return FPreview; }
    TSampleTab *SampleTab() const { return FSample; }
    TCustomTab *CustomTab() const { return FCustom; }

private:
    TForm1 &FWindow;
    TPreviewGroup *FPreview;
    TSampleTab *FSample;
    TCustomTab *FCustom;
    TConvertPreviewBox *FConvertPreview;
};
