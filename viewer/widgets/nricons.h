#pragma once

// List icons that stay visible on a selected row: the selected state gets the same drawing in
// white instead of Qt's tint, which washes a dark icon out on the dark selection colour.
//
// Threads: GUI thread only.
#include <QIcon>
#include <QPainter>
#include <QPixmap>

inline QIcon iconWithSelectedColour(const QString& path, const QSize& size, const QColor& selected = Qt::white) {
    // Pixmaps only: a vector icon's engine would not use a pixmap added for one mode.
    const QIcon source(path);
    QIcon icon;
    for (qreal scale : {1.0, 2.0}) {
        QPixmap pix = source.pixmap(size * scale);
        pix.setDevicePixelRatio(1.0);
        QPixmap tinted(pix.size());
        tinted.fill(Qt::transparent);
        QPainter p(&tinted);
        p.drawPixmap(0, 0, pix);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(tinted.rect(), selected);
        p.end();
        pix.setDevicePixelRatio(scale);
        tinted.setDevicePixelRatio(scale);
        icon.addPixmap(pix, QIcon::Normal);
        icon.addPixmap(tinted, QIcon::Selected);
    }
    return icon;
}
