// The tab "自己定义": the button "自定义" opens the custom-parameter panel
// sPanel3 over the whole tab, with the output type and the picture size,
// bit rate and frame rate as typed. The four edits take digits and
// backspace only; any other typed character is dropped with a beep.
#pragma once

#include <QWidget>

#include "CustomProfile.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class TBeepService;

class TCustomTab : public QWidget {
    Q_OBJECT
public:
    // `profile`: the fields, kept in step with the controls; the window's
    // task building reads it. It must outlive the tab. `icons`: the nine
    // format icons for the type list (may be empty).
    TCustomTab(CustomProfile &profile, TBeepService &beep, const QList<QIcon> &icons = {},
               QWidget *parent = nullptr);

    // The fields as the option assembly reads them (kept in step with the
    // controls).
    const CustomProfile &Profile() const { return FProfile; }

    // Every show of the window: panel hidden, the default values, type 0.
    void Reset();
    // The button "自定义": the panel fills the tab.
    void OpenPanel();
    // A change of tab hides the panel.
    void HidePanel();
    bool PanelOpen() const { return FProfile.PanelOpen; }

    QComboBox *TypeList() const { return FType; }

signals:
    // The user chose a type in sComboBoxEx5 (before TypeChanged of the same choice).
    void TypeActivated(int index);
    // The type list's position changed, by the user or by Reset.
    void TypeChanged(int index);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void SyncProfile();

    TBeepService &FBeep;
    CustomProfile &FProfile;
    QPushButton *FOpen;
    QWidget *FPanel;
    QComboBox *FType;
    QLineEdit *FWidth;
    QLineEdit *FHeight;
    QLineEdit *FBitrate;
    QLineEdit *FFps;
};
