#pragma once

// List icons that stay visible on a selected row: the selected state gets the same drawing in
// white instead of Qt's tint, which washes a dark icon out on the dark selection colour.
//
// Threads: GUI thread only.
#include <QIcon>
#include <QPainter>
#include <QPixmap>

inline QIcon iconWithSelectedColour(const QString& path, const QSize& size, const QColor& selected = Qt::white) {
    QIcon icon(path);
    for (qreal scale : {1.0, 2.0}) {
        QPixmap pix = icon.pixmap(size * scale);
        pix.setDevicePixelRatio(1.0);
        QPixmap tinted(pix.size());
        tinted.fill(Qt::transparent);
        QPainter p(&tinted);
        p.drawPixmap(0, 0, pix);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(tinted.rect(), selected);
        p.end();
        tinted.setDevicePixelRatio(scale);
        icon.addPixmap(tinted, QIcon::Selected);
    }
    return icon;
}
