#include "widgets/nrslider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

NrSlider::NrSlider(QWidget* parent) : QSlider(parent) {}

NrSlider::NrSlider(Qt::Orientation orientation, QWidget* parent) : QSlider(orientation, parent) {}

void NrSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QSlider::mousePressEvent(event);
        return;
    }
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const bool horizontal = orientation() == Qt::Horizontal;
    const int handleLength = horizontal ? handle.width() : handle.height();
    const int grooveLength = horizontal ? groove.width() : groove.height();
    const int pos = horizontal ? event->pos().x() - groove.x() : event->pos().y() - groove.y();
    const int span = std::max(grooveLength - handleLength, 1);
    const int offset = std::min(std::max(pos - handleLength / 2, 0), span);
    // Sliders are drawn with their minimum at the top when vertical; upsideDown follows the style.
    const int value = QStyle::sliderValueFromPosition(minimum(), maximum(), offset, span, opt.upsideDown);
    const bool onHandle = handle.contains(event->pos());
    setValue(value);
    emit trackClicked(value);
    if (onHandle) {
        QSlider::mousePressEvent(event);
        return;
    }
    event->accept();
}
