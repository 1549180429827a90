// The About window TForm3: what the program is and who makes it, and a
// button that closes it. Clicking the text opens the program's home page,
// the README shipped beside the program.
#pragma once

#include <QDialog>

#include <functional>
#include <string>

class QLabel;
class QPushButton;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    // `homePage`: the address the text opens; `openUrl` opens it (false
    // when nothing could).
    TForm3(QWidget *parent, std::string homePage, std::function<bool(const std::string &)> openUrl);

    // Client size; with an ordinary title bar and border the window's
    // outer size is about 347 x 282.
    static constexpr int ClientWidth = 339;
    static constexpr int ClientHeight = 251;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::string FHomePage;
    std::function<bool(const std::string &)> FOpenUrl;
    QLabel *FText = nullptr;
    QPushButton *FClose = nullptr;
};

// The lines of the About window's text, separated by empty lines.
QString AboutText();
