// vidmorph: the converter's main window. Files named on the command line
// are added at start-up as if chosen in the open-file dialog.
#include <QApplication>

#include "Look.h"
#include "MainWindow.h"

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    application.setApplicationName("LantorVidmorphV1.4");
    ApplyInterfaceLook(application);

    TForm1 window;
    window.show();
    return application.exec();
}
