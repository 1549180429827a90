#include "PowerOffCountdown.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "Services.h"

TPowerOffCountdown::TPowerOffCountdown(QWidget *parent, const QString &message, int seconds)
    : QDialog(parent), FMessage(message), FSecondsLeft(seconds < 0 ? 0 : seconds)
{
    setObjectName("dlgPowerOff");
    setWindowTitle(QString::fromUtf8(ApplicationTitle));
    setWindowModality(Qt::ApplicationModal);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    FText = new QLabel(this);
    FText->setObjectName("lblPowerOff");
    auto *cancel = new QPushButton("取消关机", this);
    cancel->setObjectName("btnCancelPowerOff");
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 14);
    layout->setSpacing(16);
    layout->addWidget(FText);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    FTimer = new QTimer(this);
    FTimer->setInterval(1000);
    connect(FTimer, &QTimer::timeout, this, &TPowerOffCountdown::Tick);
    FTimer->start();
    ShowText();
    if (FSecondsLeft == 0) QTimer::singleShot(0, this, &QDialog::accept);
}

void TPowerOffCountdown::Tick()
{
    if (FSecondsLeft > 0) --FSecondsLeft;
    ShowText();
    if (FSecondsLeft == 0) {
        FTimer->stop();
        accept();
    }
}

void TPowerOffCountdown::ShowText()
{
    FText->setText(FMessage + "\n\n" + QString("计算机将在 %1 秒后自动关机。").arg(FSecondsLeft));
}
