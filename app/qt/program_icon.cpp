#include "app/qt/program_icon.h"

#include "app/dialog.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int ICON_SIZES[] = {16, 32, 48};

// A gull's silhouette on a sky tile, in a 32-unit square.
QPixmap DrawBirds(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(70, 140, 210));
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);

    auto bird = [&painter](QPointF at, double span, double width) {
        QPainterPath path;
        path.moveTo(at.x() - span, at.y() - span * 0.45);
        path.quadTo(at.x() - span * 0.45, at.y() - span * 0.6, at.x(), at.y());
        path.quadTo(at.x() + span * 0.45, at.y() - span * 0.6, at.x() + span, at.y() - span * 0.45);
        painter.setPen(QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    };
    bird(QPointF(13, 20), 9, 2.6);
    bird(QPointF(23, 11), 5, 1.8);
    return pixmap;
}

}  // namespace

QIcon ProgramIcon(int resource) {
    if (resource != PROGRAM_ICON) {
        return QIcon();
    }
    QIcon icon;
    for (int size : ICON_SIZES) {
        icon.addPixmap(DrawBirds(size));
    }
    return icon;
}
