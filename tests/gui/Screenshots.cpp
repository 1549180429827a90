// Renders the converter's windows into PNG files for people to look at:
// the main window on each output-settings tab and the About window.
// Usage: vidmorph-screenshots OUTPUT-FOLDER
#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

#include "AboutWindow.h"
#include "Look.h"
#include "MainWindow.h"

namespace {

bool Save(QWidget &widget, const QString &file)
{
    QApplication::processEvents();
    if (widget.grab().save(file)) {
        std::printf("%s\n", qPrintable(file));
        return true;
    }
    std::fprintf(stderr, "vidmorph-screenshots: cannot write %s\n", qPrintable(file));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    application.setApplicationName("LantorVidmorphV1.4");
    ApplyInterfaceLook(application);
    if (argc < 2) {
        std::fprintf(stderr, "usage: vidmorph-screenshots OUTPUT-FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    bool ok = true;
    TForm1 window;
    window.show();
    auto *tabs = window.findChild<QTabWidget *>("tabSettings");
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        ok = Save(window, QString("%1/main-tab%2.png").arg(folder).arg(i)) && ok;
    }
    tabs->setCurrentIndex(0);

    TForm3 about(&window, "", {});
    about.show();
    ok = Save(about, folder + "/about.png") && ok;
    return ok ? 0 : 1;
}
