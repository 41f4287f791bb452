#include "nrgraphicsview.h"

#include <QMouseEvent>
#include <QWheelEvent>

NrGraphicsView::NrGraphicsView(QWidget* parent) : QGraphicsView(parent) {
    setDragMode(QGraphicsView::ScrollHandDrag);
    setResizeAnchor(QGraphicsView::NoAnchor);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setContentsMargins(0, 0, 0, 0);
    setStyleSheet(QStringLiteral("border: 0px;"));
}

void NrGraphicsView::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta >= 1 && m_currentScale < kMaxScale) {
        scale(kZoomStep, kZoomStep);
        m_currentScale *= kZoomStep;
    } else if (delta < 1 && m_currentScale > kMinScale) {
        scale(1.0 / kZoomStep, 1.0 / kZoomStep);
        m_currentScale /= kZoomStep;
    }
    // Never scrolls: the wheel is the zoom.
    event->accept();
}

void NrGraphicsView::resizeEvent(QResizeEvent* event) {
    m_currentScale = 1.0;
    QGraphicsView::resizeEvent(event);
}

void NrGraphicsView::mouseDoubleClickEvent(QMouseEvent* event) {
    m_currentScale = 1.0;
    if (scene() != nullptr)
        fitInView(scene()->sceneRect(), Qt::KeepAspectRatio);
    QGraphicsView::mouseDoubleClickEvent(event);
}
