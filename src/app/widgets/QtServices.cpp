#include "QtServices.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

#include "SystemPowerOff.h"

QString QtVideoFileFilter()
{
    const QString filter = QString::fromUtf8(VideoFileFilter);
    const QString name = filter.section('|', 0, 0);
    QStringList patterns;
    for (const QString &pattern : filter.section('|', 1).split(';', Qt::SkipEmptyParts))
        patterns << pattern.toUpper() << pattern.toLower();
    return name + " (" + patterns.join(' ') + ")";
}

void TQtServices::ShowMessage(TMessageKind kind, const std::string &text)
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (kind) {
    case mkPlain: icon = QMessageBox::NoIcon; break;
    case mkInformation: icon = QMessageBox::Information; break;
    case mkWarning: icon = QMessageBox::Warning; break;
    case mkError: icon = QMessageBox::Critical; break;
    }
    QMessageBox box(icon, QString::fromUtf8(ApplicationTitle), QString::fromStdString(text), QMessageBox::Ok,
                    FParent);
    box.exec();
}

std::vector<std::string> TQtServices::OpenVideoFiles(bool multiple)
{
    QStringList files;
    if (multiple) {
        files = QFileDialog::getOpenFileNames(FParent, QString(), QString(), QtVideoFileFilter());
    } else {
        const QString file = QFileDialog::getOpenFileName(FParent, QString(), QString(), QtVideoFileFilter());
        if (!file.isEmpty()) files << file;
    }
    std::vector<std::string> result;
    for (const QString &file : files) result.push_back(file.toStdString());
    return result;
}

std::string TQtServices::BrowseFolder(const std::string &title)
{
    return QFileDialog::getExistingDirectory(FParent, QString::fromStdString(title)).toStdString();
}

bool TQtServices::OpenFolder(const std::string &path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

bool TQtServices::OpenUrl(const std::string &url)
{
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

bool TQtServices::PowerOff(std::string &error) { return SystemPowerOff(error); }

void TQtServices::Beep() { QApplication::beep(); }
