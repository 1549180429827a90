// The end-of-queue message when the computer is to be switched off: it
// says the run is over and counts down, so that an unattended batch still
// powers off; the user can cancel. Application-modal but not blocking: the
// caller learns the outcome from finished() (Accepted: the count ran out;
// Rejected: cancelled or closed).
#pragma once

#include <QDialog>

class QLabel;
class QTimer;

class TPowerOffCountdown : public QDialog {
    Q_OBJECT
public:
    TPowerOffCountdown(QWidget *parent, const QString &message, int seconds);

    int SecondsLeft() const { return FSecondsLeft; }

private:
    void Tick();
    void ShowText();

    QString FMessage;
    int FSecondsLeft;
    QLabel *FText = nullptr;
    QTimer *FTimer = nullptr;
};
