#include "AboutWindow.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

QString AboutText()
{
    // No person, e-mail address or telephone number is invented: "—" where
    // there is none.
    return QStringList{"软件名称：Vidmorph", "软件作者：Vidmorph 开发组",
                       "网址：README.md（随程序附带的说明）", "邮箱：—", "电话：—"}
        .join("\n\n");
}

TForm3::TForm3(QWidget *parent, std::string homePage, std::function<bool(const std::string &)> openUrl)
    : QDialog(parent), FHomePage(std::move(homePage)), FOpenUrl(std::move(openUrl))
{
    setObjectName("TForm3");
    setWindowTitle("关于系统");
    // System menu only: a close button, no minimise or maximise, no help.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(ClientWidth, ClientHeight);

    FText = new QLabel(AboutText(), this);
    FText->setObjectName("lblAbout");
    FText->setGeometry(24, 16, ClientWidth - 48, 176);
    FText->setWordWrap(true);
    FText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FText->setStyleSheet("color: navy;");
    FText->setCursor(Qt::PointingHandCursor);
    FText->setToolTip("单击此处访问 Vidmorph 的主页");
    FText->installEventFilter(this);

    FClose = new QPushButton("退 出", this);
    FClose->setObjectName("btnClose");
    FClose->setGeometry((ClientWidth - 80) / 2, ClientHeight - 44, 80, 26);
    connect(FClose, &QPushButton::clicked, this, &QDialog::accept);
}

bool TForm3::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FText && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (FOpenUrl) FOpenUrl(FHomePage);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
