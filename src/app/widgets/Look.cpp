#include "Look.h"

#include <QApplication>
#include <QFont>
#include <QStyleFactory>

void ApplyInterfaceLook(QApplication &application)
{
    if (QStyle *fusion = QStyleFactory::create("Fusion")) application.setStyle(fusion);
    QFont font(InterfaceFontFamily);
    font.setFamilies({InterfaceFontFamily, "Noto Sans CJK", "WenQuanYi Micro Hei", "WenQuanYi Zen Hei"});
    font.setPixelSize(13);
    font.setStyleHint(QFont::SansSerif);
    application.setFont(font);
}
