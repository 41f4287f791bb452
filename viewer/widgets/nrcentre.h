#pragma once

// Centres a top-level widget over another one (its parent), in global coordinates.
//
// Threads: GUI thread only.
#include <QWidget>

inline void centreOverWidget(QWidget* window, const QWidget* over) {
    if (!window || !over)
        return;
    const QPoint origin = over->mapToGlobal(QPoint(0, 0));
    window->move(origin.x() + (over->width() - window->width()) / 2,
                 origin.y() + (over->height() - window->height()) / 2);
}
