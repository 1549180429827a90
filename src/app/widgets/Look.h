// The look of the converter's windows: the Fusion style and a CJK font at
// 13 pixels for every text, so that no character shows as a box.
#pragma once

class QApplication;

// The family the windows ask for first; fontconfig substitutes another CJK
// font when it is missing.
inline constexpr const char *InterfaceFontFamily = "Noto Sans CJK SC";

void ApplyInterfaceLook(QApplication &application);
