#include "ui/qt/icons.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace vorpane::qt {

namespace {

// Everything is drawn on a 32-unit grid and scaled, so every size comes from
// the same picture.
void DrawLamp(QPainter& p, QColor base) {
    const QPointF centre(16, 16);
    // Dark rim, then the glass with a light spot up and to the left.
    p.setPen(Qt::NoPen);
    p.setBrush(base.darker(260));
    p.drawEllipse(centre, 14.5, 14.5);
    QRadialGradient glass(QPointF(12, 11), 16);
    glass.setColorAt(0.0, base.lighter(170));
    glass.setColorAt(0.45, base);
    glass.setColorAt(1.0, base.darker(170));
    p.setBrush(glass);
    p.drawEllipse(centre, 12.5, 12.5);
    QRadialGradient shine(QPointF(11.5, 10), 6);
    shine.setColorAt(0.0, QColor(255, 255, 255, 200));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setBrush(shine);
    p.drawEllipse(QPointF(11.5, 10), 6, 4.5);
}

void DrawAppIcon(QPainter& p) {
    // Receipt coming out of the printer's slot.
    QPainterPath receipt;
    receipt.moveTo(9, 13);
    receipt.lineTo(9, 2);
    receipt.lineTo(11, 3.2);
    receipt.lineTo(13, 2);
    receipt.lineTo(15, 3.2);
    receipt.lineTo(17, 2);
    receipt.lineTo(19, 3.2);
    receipt.lineTo(21, 2);
    receipt.lineTo(21, 13);
    receipt.closeSubpath();
    p.setPen(QPen(QColor(110, 110, 110), 0.8));
    p.setBrush(QColor(252, 252, 246));
    p.drawPath(receipt);
    p.setPen(QPen(QColor(90, 110, 150), 1.0));
    for (double y : {5.5, 8.0, 10.5}) {
        p.drawLine(QPointF(11, y), QPointF(y < 9 ? 19 : 16.5, y));
    }
    // Printer body with the paper slot and a status light.
    QLinearGradient body(0, 12, 0, 28);
    body.setColorAt(0.0, QColor(96, 104, 118));
    body.setColorAt(1.0, QColor(44, 48, 58));
    p.setPen(QPen(QColor(30, 32, 38), 0.8));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(3, 12, 26, 15), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 24));
    p.drawRect(QRectF(7.5, 13.5, 15, 1.6));
    p.setBrush(QColor(80, 220, 100));
    p.drawEllipse(QPointF(7, 23.5), 1.4, 1.4);
    // Network hint: three linked nodes on the lower right.
    p.setPen(QPen(QColor(255, 255, 255), 1.3));
    const QPointF a(20, 23.5), b(25.5, 19.5), c(27.5, 29);
    p.drawLine(a, b);
    p.drawLine(a, c);
    p.setPen(QPen(QColor(20, 60, 120), 0.8));
    p.setBrush(QColor(70, 150, 240));
    for (const QPointF& n : {a, b, c}) {
        p.drawEllipse(n, 2.2, 2.2);
    }
}

QPixmap Render(int iconId, int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(pixels / 32.0, pixels / 32.0);
    switch (iconId) {
        case kIconApp:
            DrawAppIcon(p);
            break;
        case kIconLampRed:
            DrawLamp(p, QColor(220, 30, 30));
            break;
        case kIconLampGreen:
            DrawLamp(p, QColor(30, 190, 50));
            break;
        case kIconLampGrey:
            DrawLamp(p, QColor(150, 150, 150));
            break;
        default:
            p.end();
            return QPixmap();
    }
    p.end();
    return QPixmap::fromImage(image);
}

}  // namespace

QIcon LoadIcon(int iconId) {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pm = Render(iconId, size);
        if (pm.isNull()) {
            return QIcon();
        }
        icon.addPixmap(pm);
    }
    return icon;
}

QPixmap IconPixmap(int iconId, qreal devicePixelRatio) {
    const int pixels = static_cast<int>(std::lround(32 * devicePixelRatio));
    QPixmap pm = Render(iconId, pixels);
    pm.setDevicePixelRatio(devicePixelRatio);
    return pm;
}

}  // namespace vorpane::qt
