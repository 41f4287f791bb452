#pragma once

// A QSlider whose clicks on the groove jump straight to the clicked value; a press on the handle
// drags as usual.
//
// Threads: GUI thread only.
#include <QSlider>

class NrSlider : public QSlider {
    Q_OBJECT
public:
    explicit NrSlider(QWidget* parent = nullptr);
    explicit NrSlider(Qt::Orientation orientation, QWidget* parent = nullptr);

signals:
    void trackClicked(int value);

protected:
    void mousePressEvent(QMouseEvent* event) override;
};
