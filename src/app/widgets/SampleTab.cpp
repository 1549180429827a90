#include "SampleTab.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include "Services.h"

namespace {
// The button's picture: a film frame with a magnifier.
QIcon AnalyseIcon()
{
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 90, 160), 1.5));
    painter.setBrush(QColor(200, 220, 245));
    painter.drawRect(QRectF(1.5, 3.5, 12, 10));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(30, 30, 30), 2));
    painter.drawEllipse(QRectF(9, 9, 7, 7));
    painter.drawLine(QPointF(15, 15), QPointF(18.5, 18.5));
    return QIcon(pixmap);
}
} // namespace

TSampleTab::TSampleTab(const ProfileStore &store, TDialogService &dialogs, TMessageService &messages,
                       QWidget *parent)
    : QWidget(parent), FStore(store), FDialogs(dialogs), FMessages(messages)
{
    setObjectName("SampleTab");
    FText = new QLabel(
        QStringLiteral("       比如您不知该生成什么样的视频格式给自己的手机用，但手机里已经有一些可以播放的"
                       "视频文件，OK,本软件可以提取并分析这些文件为您自动生成合适的方案。"),
        this);
    FText->setObjectName("SampleText");
    FText->setWordWrap(true);
    FText->setGeometry(12, 8, 380, 54);
    FAnalyse = new QPushButton(AnalyseIcon(), QStringLiteral("分析视频文件"), this);
    FAnalyse->setObjectName("sSpeedButton4");
    FAnalyse->setGeometry(12, 68, 120, 28);
    connect(FAnalyse, &QPushButton::clicked, this, [this] { AnalyseSampleFile(); });
}

bool TSampleTab::AnalyseSampleFile()
{
    const std::vector<std::string> files = FDialogs.OpenVideoFiles(false);
    if (files.empty()) return false;
    const std::string &path = files.front();

    TSampleInfo info;
    std::string message;
    if (!AnalyseSample(path, info, message)) {
        FMessages.ShowMessage(mkError, message);
        return false;
    }
    FMessages.ShowMessage(mkInformation, "您选择的视频格式为 ." + info.FileExtension);
    // A profile needs a picture size: a file without pictures would make
    // every task ask for a 0 x 0 picture, so the previous sample stays.
    if (info.Width <= 0 || info.Height <= 0) {
        FMessages.ShowMessage(mkError, "所选文件没有视频画面，不能据此生成方案，请选择一个视频文件！");
        return false;
    }
    std::string error;
    if (!FStore.WriteExtFile(info, error)) {
        FMessages.ShowMessage(mkError, error);
        return false;
    }
    emit SummaryChanged(SampleSummaryLines(info));
    return true;
}
