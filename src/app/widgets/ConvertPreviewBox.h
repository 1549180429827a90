// The check box "转换时预览" under the shutdown box: when ticked, every task
// of a run shows the pictures it encodes in a previewer window (the
// component's Preview switch). Off by default; remembered in config.ini
// ("convertpreview" in section "preview") whenever the user changes it.
#pragma once

#include <QCheckBox>

class AppSettings;
class TZUzidiDOR;

class TConvertPreviewBox : public QCheckBox {
    Q_OBJECT
public:
    // Reads the remembered state, sets the component's switch from it and
    // installs the previewer window for the engine. User-interface thread.
    TConvertPreviewBox(AppSettings &settings, TZUzidiDOR &component, QWidget *parent = nullptr);

    static constexpr const char *Section = "preview";
    static constexpr const char *Key = "convertpreview";
};
