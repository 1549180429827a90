// The tab "按已有视频": analyses a video that already plays on the target
// device into extfile.ini, which the option assembly reads on this tab, and
// shows what it found in the summary lines.
#pragma once

#include <QWidget>

#include "ProfileStore.h"

class QLabel;
class QPushButton;
class TDialogService;
class TMessageService;

class TSampleTab : public QWidget {
    Q_OBJECT
public:
    TSampleTab(const ProfileStore &store, TDialogService &dialogs, TMessageService &messages,
               QWidget *parent = nullptr);

    // The button "分析视频文件": choose one file, read it, tell its format,
    // write extfile.ini and announce the summary. A file the reader cannot
    // read, or one without pictures, gives a message and leaves extfile.ini
    // as it was. True when extfile.ini was written.
    bool AnalyseSampleFile();

signals:
    // The five summary lines of the sample just analysed.
    void SummaryChanged(const TSummaryLines &lines);

private:
    const ProfileStore &FStore;
    TDialogService &FDialogs;
    TMessageService &FMessages;
    QLabel *FText;
    QPushButton *FAnalyse;
};
