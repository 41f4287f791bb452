#pragma once

// The image view's QGraphicsView: wheel zoom between the fitted size and 50 times that, hand-drag
// panning, double-click fits the scene again. GUI thread only.
#include <QGraphicsView>

class NrGraphicsView : public QGraphicsView {
    Q_OBJECT
public:
    explicit NrGraphicsView(QWidget* parent = nullptr);

    double currentScale() const { return m_currentScale; }
    static constexpr double kMinScale = 1.0;
    static constexpr double kMaxScale = 50.0;
    static constexpr double kZoomStep = 1.1;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Zoom relative to the last fit; the transform itself also carries the fit.
    double m_currentScale = 1.0;
};
