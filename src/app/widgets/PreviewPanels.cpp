#include "PreviewPanels.h"

#include <QCheckBox>
#include <QGroupBox>

#include "ConvertPreviewBox.h"
#include "CustomTab.h"
#include "Icons.h"
#include "PreviewGroup.h"
#include "SampleTab.h"

TPreviewPanels::TPreviewPanels(TForm1 &window) : FWindow(window)
{
    const TMainWindowSetup &setup = window.Setup();

    FPreview = new TPreviewGroup(window.Clip(), window.PreviewGroup());
    FPreview->show();

    QWidget *samplePage = window.SettingsPage(2);
    FSample = new TSampleTab(window.Store(), *setup.Dialogs, *setup.Messages, samplePage);
    FSample->setGeometry(samplePage->rect());
    FSample->show();
    connect(FSample, &TSampleTab::SummaryChanged, &window, &TForm1::ShowSummary);

    QList<QIcon> icons;
    for (int i = 0; i < FormatItemCount; ++i) icons << ComboIcon(i);
    QWidget *customPage = window.SettingsPage(3);
    FCustom = new TCustomTab(window.Custom(), *setup.Beep, icons, customPage);
    FCustom->setGeometry(customPage->rect());
    FCustom->show();
    // The type list shares the format list's handling of a user's choice.
    connect(FCustom, &TCustomTab::TypeActivated, &window, [&window] { window.FormatSelectionByUser(); });

    // Under the shutdown box.
    auto *shutdown = window.findChild<QCheckBox *>("sCheckBox1");
    QWidget *client = shutdown ? shutdown->parentWidget() : window.centralWidget();
    FConvertPreview = new TConvertPreviewBox(window.Settings(), window.Component(), client);
    const QRect below = shutdown ? shutdown->geometry().translated(0, 20) : QRect(435, 466, 200, 20);
    FConvertPreview->setGeometry(below);
    FConvertPreview->show();

    window.InstallPreview(this);
}

TPreviewPanels::~TPreviewPanels() { FWindow.InstallPreview(nullptr); }

void TPreviewPanels::OpenPreview(TAVProbe &probe) { FPreview->OpenPreview(probe); }

void TPreviewPanels::ClearPreviewPicture() { FPreview->ClearPicture(); }

void TPreviewPanels::ResetCustomTab() { FCustom->Reset(); }

void TPreviewPanels::SettingsTabChanged(int) { FCustom->HidePanel(); }
