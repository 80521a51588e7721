#include "ui/pictures.h"

#include <QPainter>
#include <QSvgRenderer>
#include <array>
#include <cmath>

namespace ostrel::ui {

QSize PictureSize(int bitmapId) {
    struct Entry {
        int id, width, height;
    };
    static constexpr std::array<Entry, 7> sizes{{
        {206, 121, 28},
        {207, 216, 93},
        {208, 244, 95},
        {209, 174, 95},
        {210, 160, 80},
        {211, 240, 136},
        {212, 241, 139},
    }};
    for (const Entry& e : sizes)
        if (e.id == bitmapId) return {e.width, e.height};
    return {};
}

QSize FittedPictureSize(int bitmapId, QSize room) {
    const QSize natural = PictureSize(bitmapId);
    if (natural.isEmpty() || room.isEmpty()) return natural;
    if (natural.width() <= room.width() && natural.height() <= room.height()) return natural;
    return natural.scaled(room, Qt::KeepAspectRatio);
}

QPixmap RenderPicture(int bitmapId, qreal devicePixelRatio, QSize size) {
    if (PictureSize(bitmapId).isEmpty()) return {};
    if (size.isEmpty()) size = PictureSize(bitmapId);
    QSvgRenderer renderer(QStringLiteral(":/bitmap_%1.svg").arg(bitmapId));
    if (!renderer.isValid()) return {};
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QPixmap pixmap(QSize(static_cast<int>(std::ceil(size.width() * ratio)),
                         static_cast<int>(std::ceil(size.height() * ratio))));
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixmap.size())));
    }
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QIcon OstrelIcon() {
    QSvgRenderer renderer(QStringLiteral(":/icons/ostrel.svg"));
    QIcon icon;
    if (!renderer.isValid()) return icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        {
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            renderer.render(&painter, QRectF(0, 0, side, side));
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace ostrel::ui
