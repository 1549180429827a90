// Renders the converter's windows into PNG files for people to look at:
// the main window on each output-settings tab, with three files converting,
// the power-off countdown, and the About window. The window runs on a
// program folder of its own (the shipped profiles, a config.ini, an output
// folder under the screenshot folder); message boxes are printed instead of
// shown, so nothing waits for a click.
//
// Usage: vidmorph-screenshots OUTPUT-FOLDER PROGRAM-FOLDER VIDEO...
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdio>
#include <functional>

#include "AboutWindow.h"
#include "Look.h"
#include "MainWindow.h"
#include "PowerOffCountdown.h"
#include "PreviewGroup.h"
#include "PreviewPanels.h"
#include "PreviewerWindow.h"
#include "TrackBar.h"

namespace {

class TPrintingServices : public TMessageService,
                          public TDialogService,
                          public TShellService,
                          public TPowerService,
                          public TBeepService {
public:
    void ShowMessage(TMessageKind, const std::string &text) override
    {
        std::printf("message: %s\n", text.c_str());
    }
    std::vector<std::string> OpenVideoFiles(bool) override { return {}; }
    std::string BrowseFolder(const std::string &) override { return {}; }
    bool OpenFolder(const std::string &) override { return true; }
    bool OpenUrl(const std::string &) override { return true; }
    bool PowerOff(std::string &) override
    {
        std::printf("power-off asked for (not done)\n");
        return true;
    }
    void Beep() override {}
};

bool WaitUntil(const std::function<bool()> &condition, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

bool SavePicture(const QPixmap &picture, const QString &file)
{
    if (picture.save(file)) {
        std::printf("%s\n", qPrintable(file));
        return true;
    }
    std::fprintf(stderr, "vidmorph-screenshots: cannot write %s\n", qPrintable(file));
    return false;
}

bool Save(QWidget &widget, const QString &file)
{
    // Pending events may close the window (a previewer at its task's end).
    QPointer<QWidget> alive(&widget);
    QApplication::processEvents();
    if (!alive) {
        std::fprintf(stderr, "vidmorph-screenshots: the window closed before %s\n", qPrintable(file));
        return false;
    }
    return SavePicture(widget.grab(), file);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    application.setApplicationName(QString::fromUtf8(ApplicationTitle));
    ApplyInterfaceLook(application);
    if (argc < 4) {
        std::fprintf(stderr, "usage: vidmorph-screenshots OUTPUT-FOLDER PROGRAM-FOLDER VIDEO...\n");
        return 2;
    }
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const QString installed = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    const QString program = folder + "/program/";
    const QString out = folder + "/output";
    QDir(program).removeRecursively();
    QDir(out).removeRecursively();
    QDir().mkpath(program);
    QFile::link(installed + "/profiles", program + "profiles");
    QFile config(program + "config.ini");
    if (!config.open(QIODevice::WriteOnly)) return 1;
    // MP4, 1280x720: slow enough to be caught converting.
    config.write(QString("[savepath]\nnewfilepath=%1\n[select]\ncombobox1=1\ncombobox2=12\ntabindex=0\n")
                     .arg(out)
                     .toUtf8());
    config.close();

    TPrintingServices services;
    TMainWindowSetup setup;
    setup.ProgramFolder = program.toStdString();
    setup.VideosFolder = folder.toStdString();
    setup.LibraryFolder = (installed + "/LibAV").toStdString();
    setup.Messages = &services;
    setup.Dialogs = &services;
    setup.Shell = &services;
    setup.Power = &services;
    setup.Beep = &services;

    bool ok = true;
    TForm1 window(setup);
    TPreviewPanels panels(window);
    window.show();
    auto *tabs = window.findChild<QTabWidget *>("tabSettings");
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        ok = Save(window, QString("%1/main-tab%2.png").arg(folder).arg(i)) && ok;
    }
    // The custom tab with its panel open.
    tabs->setCurrentIndex(3);
    window.findChild<QPushButton *>("sSpeedButton5")->click();
    ok = Save(window, folder + "/main-custom-panel.png") && ok;
    tabs->setCurrentIndex(0);

    std::vector<std::string> videos;
    for (int i = 3; i < argc; ++i)
        videos.push_back(QDir(QString::fromLocal8Bit(argv[i])).absolutePath().toStdString());
    window.AddFiles(videos);
    auto *list = window.findChild<QTreeWidget *>("sListView1");
    ok = Save(window, folder + "/main-files.png") && ok;

    // The preview at 4.2 s with a clip marked from 2.0 s to 6.5 s.
    TPreviewGroup *preview = panels.Preview();
    TTrackBar *track = preview->TrackBar();
    const int step = int(window.Clip().PreviewStep());
    for (const auto &[microseconds, button] : {std::pair{2000000, "btnStartTime"}, {6500000, "btnEndTime"}}) {
        track->setValue(microseconds / step);
        WaitUntil([preview] { return preview->Settled(); }, 10000);
        preview->findChild<QPushButton *>(button)->click();
    }
    preview->findChild<QCheckBox *>("chkCutClip")->setChecked(true);
    track->setValue(4200000 / step);
    ok = WaitUntil([preview] { return preview->Settled(); }, 10000) && ok;
    ok = Save(window, folder + "/main-preview.png") && ok;
    // The conversion previewer shows the pictures being encoded.
    window.findChild<QCheckBox *>("chkConvertPreview")->setChecked(true);

    // Three files converting: the first row's progress is showing.
    window.findChild<QCheckBox *>("sCheckBox1")->setChecked(true);
    window.findChild<QToolButton *>("btnStart")->click();
    const bool caught = WaitUntil(
        [list] {
            const QString text = list->topLevelItem(0)->text(4);
            return !text.isEmpty() && text != "0%";
        },
        60000);
    ok = Save(window, folder + "/main-converting.png") && caught && ok;
    // The previewer closes with its task: its picture is taken as soon as it
    // shows, before any further event can close it.
    QPixmap previewerPicture;
    ok = WaitUntil(
             [&] {
                 for (QWidget *widget : QApplication::topLevelWidgets())
                     if (qobject_cast<TPreviewerWidget *>(widget) && widget->isVisible()) {
                         previewerPicture = widget->grab();
                         return true;
                     }
                 return false;
             },
             30000) &&
         SavePicture(previewerPicture, folder + "/previewer.png") && ok;
    window.findChild<QCheckBox *>("chkConvertPreview")->setChecked(false);
    window.findChild<QPushButton *>("btnPause")->click();
    ok = Save(window, folder + "/main-paused.png") && ok;
    window.findChild<QPushButton *>("btnStop")->click();

    // The end of the queue with power-off ticked: the countdown.
    TPowerOffCountdown *countdown = nullptr;
    ok =
        WaitUntil([&] { return (countdown = window.findChild<TPowerOffCountdown *>()) != nullptr; }, 30000) &&
        ok;
    if (countdown) {
        ok = Save(*countdown, folder + "/poweroff-countdown.png") && ok;
        countdown->reject();
    }

    TForm3 about(&window, "", {});
    about.show();
    ok = Save(about, folder + "/about.png") && ok;
    return ok ? 0 : 1;
}
