#include "ProgramIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QPolygonF>

namespace polyvant {
namespace {

QPixmap PaintCube(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);

    // An isometric cube in a 32 x 32 box: top, left and right faces lit from the upper left.
    const QPointF top(16, 2), upperLeft(3, 9.5), upperRight(29, 9.5), centre(16, 17);
    const QPointF lowerLeft(3, 24.5), lowerRight(29, 24.5), bottom(16, 30);
    const QPolygonF topFace({top, upperRight, centre, upperLeft});
    const QPolygonF leftFace({upperLeft, centre, bottom, lowerLeft});
    const QPolygonF rightFace({centre, upperRight, lowerRight, bottom});

    const QPen edge(QColor(20, 32, 64), size >= 32 ? 1.0 : 1.4, Qt::SolidLine, Qt::RoundCap,
                    Qt::RoundJoin);
    painter.setPen(edge);
    painter.setBrush(QColor(150, 190, 240));
    painter.drawPolygon(topFace);
    painter.setBrush(QColor(70, 120, 200));
    painter.drawPolygon(leftFace);
    painter.setBrush(QColor(35, 75, 150));
    painter.drawPolygon(rightFace);

    // The triangulation of the faces, as the wireframe mode shows a mesh.
    if (size >= 24) {
        QPen wire(QColor(225, 235, 250, 170), 0.6);
        painter.setPen(wire);
        painter.drawLine(upperLeft, upperRight);
        painter.drawLine(upperLeft, bottom);
        painter.drawLine(centre, lowerRight);
    }
    return pixmap;
}

} // namespace

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(PaintCube(size));
    return icon;
}

} // namespace polyvant
