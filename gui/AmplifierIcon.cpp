#include "gui/AmplifierIcon.h"

#include <QPainter>
#include <QPixmap>

namespace {

// A rack unit seen from the front: dark case, two level knobs, a row of level lights.
QPixmap DrawAmplifier(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);

    painter.setPen(QPen(QColor(20, 20, 24), 0.8));
    painter.setBrush(QColor(58, 62, 70));
    painter.drawRoundedRect(QRectF(0.5, 3.5, 15, 9), 1.2, 1.2);
    painter.setBrush(QColor(200, 200, 205));
    painter.drawEllipse(QPointF(4, 8), 2.1, 2.1);
    painter.drawEllipse(QPointF(9, 8), 2.1, 2.1);
    painter.setPen(QPen(QColor(20, 20, 24), 0.7));
    painter.drawLine(QPointF(4, 8), QPointF(4, 6.3));
    painter.drawLine(QPointF(9, 8), QPointF(10.3, 6.8));
    painter.setPen(Qt::NoPen);
    const QColor lights[] = { QColor(70, 200, 90), QColor(70, 200, 90), QColor(235, 190, 40) };
    for (int i = 0; i < 3; ++i) {
        painter.setBrush(lights[i]);
        painter.drawRect(QRectF(12.6, 10.2 - i * 2.3, 1.8, 1.5));
    }
    return pixmap;
}

} // namespace

QIcon AmplifierIcon()
{
    QIcon icon;
    for (const int size : { 16, 32, 48 })
        icon.addPixmap(DrawAmplifier(size));
    return icon;
}
