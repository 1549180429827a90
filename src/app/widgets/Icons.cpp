#include "Icons.h"

#include <QPainter>
#include <QPainterPath>

namespace {

QPixmap Blank(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A strip of film: a dark frame with sprocket holes on both edges.
void DrawFilm(QPainter &p, const QRectF &r, const QColor &body)
{
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(r, 1.5, 1.5);
    p.setBrush(Qt::white);
    const qreal hole = r.width() / 8;
    for (qreal y = r.top() + hole; y + hole < r.bottom(); y += hole * 2) {
        p.drawRect(QRectF(r.left() + hole / 2, y, hole, hole));
        p.drawRect(QRectF(r.right() - hole * 1.5, y, hole, hole));
    }
    p.setBrush(body.lighter(170));
    p.drawRect(QRectF(r.left() + hole * 2, r.top() + hole, r.width() - hole * 4, r.height() - hole * 2));
}

void DrawPhone(QPainter &p, const QColor &body)
{
    p.setPen(QPen(body.darker(140), 1));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(4.5, 1.5, 8, 13), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 240, 250));
    p.drawRect(QRectF(6, 3.5, 5, 7));
    p.drawEllipse(QRectF(7.5, 11.5, 2, 2));
}

void DrawSample(QPainter &p, const QColor &body)
{
    DrawFilm(p, QRectF(1, 2, 10, 12), body);
    p.setPen(QPen(body.darker(160), 2));
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QRectF(7, 6, 6, 6));
    p.drawLine(QPointF(12.5, 11.5), QPointF(15, 14.5));
}

void DrawCustom(QPainter &p, const QColor &body)
{
    p.setPen(QPen(body.darker(150), 1.5));
    for (int i = 0; i < 3; ++i) p.drawLine(QPointF(2, 3.5 + i * 4.5), QPointF(14, 3.5 + i * 4.5));
    p.setPen(QPen(body.darker(170), 1));
    p.setBrush(body);
    const qreal knobs[3] = {5, 11, 7.5};
    for (int i = 0; i < 3; ++i) p.drawRect(QRectF(knobs[i] - 1.5, 1.5 + i * 4.5, 3, 4));
}

} // namespace

QIcon TabIcon(int index)
{
    const bool active = index >= 4;
    const QColor rest(120, 128, 140);
    const QColor colours[4] = {QColor(30, 110, 200), QColor(20, 150, 120), QColor(200, 120, 20),
                               QColor(150, 70, 170)};
    const int kind = index % 4;
    const QColor body = active ? colours[kind] : rest;
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
    case 0: DrawFilm(p, QRectF(1, 2, 14, 12), body); break;
    case 1: DrawPhone(p, body); break;
    case 2: DrawSample(p, body); break;
    default: DrawCustom(p, body); break;
    }
    return QIcon(pixmap);
}

QIcon ComboIcon(int index)
{
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (index >= 0 && index < 9) {
        // One colour per format, on a small film frame.
        const QColor colours[9] = {QColor(230, 120, 30),  QColor(40, 130, 210), QColor(70, 160, 60),
                                   QColor(170, 60, 60),   QColor(60, 90, 190),  QColor(160, 40, 120),
                                   QColor(110, 110, 110), QColor(30, 150, 150), QColor(200, 60, 20)};
        DrawFilm(p, QRectF(1, 2, 14, 12), colours[index]);
    } else {
        // A profile: a page with lines.
        p.setPen(QPen(QColor(90, 100, 120), 1));
        p.setBrush(QColor(250, 250, 245));
        QPainterPath page;
        page.moveTo(3.5, 1.5);
        page.lineTo(10.5, 1.5);
        page.lineTo(13.5, 4.5);
        page.lineTo(13.5, 14.5);
        page.lineTo(3.5, 14.5);
        page.closeSubpath();
        p.drawPath(page);
        p.setPen(QPen(QColor(40, 110, 190), 1));
        for (int i = 0; i < 3; ++i) p.drawLine(QPointF(5.5, 6.5 + i * 2.5), QPointF(11.5, 6.5 + i * 2.5));
    }
    return QIcon(pixmap);
}

QPixmap AddPicture()
{
    QPixmap pixmap = Blank(32);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    DrawFilm(p, QRectF(2, 3, 24, 22), QColor(30, 110, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 170, 60));
    p.drawEllipse(QRectF(15, 15, 16, 16));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(22, 18, 2, 10));
    p.drawRect(QRectF(18, 22, 10, 2));
    return pixmap;
}

QPixmap StartPicture()
{
    QPixmap pixmap = Blank(32);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 120, 40), 1));
    p.setBrush(QColor(50, 170, 70));
    p.drawEllipse(QRectF(1.5, 1.5, 29, 29));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(12, 8), QPointF(24, 16), QPointF(12, 24)}));
    return pixmap;
}

QIcon PauseIcon()
{
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 140, 20));
    p.drawRect(QRectF(4, 3, 3, 10));
    p.drawRect(QRectF(9, 3, 3, 10));
    return QIcon(pixmap);
}

QIcon ResumeIcon()
{
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 150, 60));
    p.drawPolygon(QPolygonF({QPointF(4, 3), QPointF(13, 8), QPointF(4, 13)}));
    return QIcon(pixmap);
}

QIcon StopIcon()
{
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(190, 40, 40));
    p.drawRect(QRectF(4, 4, 8, 8));
    return QIcon(pixmap);
}

QIcon BrowseFolderIcon()
{
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 90, 90));
    for (int i = 0; i < 3; ++i) p.drawEllipse(QRectF(2.5 + i * 4, 7, 3, 3));
    return QIcon(pixmap);
}

QIcon OpenFolderIcon()
{
    QPixmap pixmap = Blank(16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(170, 120, 20), 1));
    p.setBrush(QColor(240, 200, 90));
    QPainterPath folder;
    folder.moveTo(1.5, 3.5);
    folder.lineTo(6.5, 3.5);
    folder.lineTo(8, 5);
    folder.lineTo(14.5, 5);
    folder.lineTo(14.5, 13.5);
    folder.lineTo(1.5, 13.5);
    folder.closeSubpath();
    p.drawPath(folder);
    return QIcon(pixmap);
}
