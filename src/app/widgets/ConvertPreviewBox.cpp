#include "ConvertPreviewBox.h"

#include "AppSettings.h"
#include "PreviewerWindow.h"
#include "ZUzidiDOR.h"

TConvertPreviewBox::TConvertPreviewBox(AppSettings &settings, TZUzidiDOR &component, QWidget *parent)
    : QCheckBox(QStringLiteral("转换时预览"), parent)
{
    setObjectName("chkConvertPreview");
    InstallPreviewerWindow();
    const bool on = settings.ReadBool(Section, Key, false);
    setChecked(on);
    component.SetPreview(on);
    // A change during a run reaches the running task too.
    connect(this, &QCheckBox::toggled, this, [&settings, &component](bool checked) {
        component.SetPreview(checked);
        settings.WriteBool(Section, Key, checked);
    });
}
