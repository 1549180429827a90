// vidmorph: the converter's main window. Files named on the command line
// are added at start-up as if chosen in the open-file dialog.
#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include "Look.h"
#include "MainWindow.h"
#include "PreviewPanels.h"
#include "ProgramFolder.h"
#include "QtServices.h"
#include "TextCodec.h"
#include "UserFolders.h"

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    application.setApplicationName(QString::fromUtf8(ApplicationTitle));
    ApplyInterfaceLook(application);

    TQtServices services;
    TMainWindowSetup setup;
    setup.ProgramFolder = Utf16ToUtf8(ProgramFolder());
    setup.VideosFolder = UserVideosFolder();
    setup.LibraryFolder = Utf16ToUtf8(DefaultLibraryFolder());
    setup.Messages = &services;
    setup.Dialogs = &services;
    setup.Shell = &services;
    setup.Power = &services;
    setup.Beep = &services;

    TForm1 window(setup);
    TPreviewPanels panels(window);
    services.SetParent(&window);
    QObject::connect(&window, &TForm1::Closed, &application, &QCoreApplication::quit);
    window.show();

    std::vector<std::string> files;
    for (const QString &argument : application.arguments().mid(1))
        files.push_back(QFileInfo(argument).absoluteFilePath().toStdString());
    if (!files.empty()) QTimer::singleShot(0, &window, [&window, files] { window.AddFiles(files); });
    return application.exec();
}
