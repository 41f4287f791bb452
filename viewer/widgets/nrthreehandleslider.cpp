#include "widgets/nrthreehandleslider.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
const QColor kGroove(208, 208, 208);
}

NrThreeHandleSlider::NrThreeHandleSlider(QWidget* parent)
    : NrThreeHandleSlider(parent, Qt::Horizontal, RangeMode) {}

NrThreeHandleSlider::NrThreeHandleSlider(QWidget* parent, Qt::Orientation orientation, Options options)
    : QWidget(parent), orientation(orientation), options(options) {
    grooveRadius = rangeMode() ? 0 : 5;
    applyPalette();
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setMinimumHeight(30);
}

QSize NrThreeHandleSlider::minimumSizeHint() const {
    return QSize(12, 6);
}

void NrThreeHandleSlider::applyPalette() {
    if (isEnabled()) {
        trackColor = rangeColor = lowerColor = upperColor = centerOutlineColor = QColor("#004B6A");
        centerFillColor = QColor("#FFFFFF");
    } else {
        trackColor = rangeColor = lowerColor = upperColor = centerFillColor = QColor("#C7C7C7");
        centerOutlineColor = QColor("#707070");
    }
}

// ---- values -----------------------------------------------------------------------------------

uint64_t NrThreeHandleSlider::getLowerValue() const {
    return rangeMode() ? lowerValue : minimum;
}

uint64_t NrThreeHandleSlider::getUpperValue() const {
    return rangeMode() ? upperValue : maximum;
}

void NrThreeHandleSlider::setLowerValue(uint64_t value) {
    value = std::min(value, rangeMode() ? centerValue : maximum);
    lowerValue = std::max(value, minimum);
    update();
}

void NrThreeHandleSlider::setUpperValue(uint64_t value) {
    value = std::max(value, rangeMode() ? centerValue : minimum);
    upperValue = std::min(value, maximum);
    update();
}

void NrThreeHandleSlider::setCenterValue(uint64_t value) {
    centerValue = std::min(std::max(value, lowerValue), upperValue);
    update();
}

void NrThreeHandleSlider::setValue(uint64_t value) {
    setCenterValue(value);
}

void NrThreeHandleSlider::setMinimum(uint64_t aMinimum) {
    minimum = aMinimum;
    rangeLength = maximum >= minimum ? maximum - minimum : 0;
    setLowerValue(minimum);
    emit rangeChanged(minimum, maximum);
}

void NrThreeHandleSlider::setMaximum(uint64_t aMaximum) {
    maximum = aMaximum;
    rangeLength = maximum >= minimum ? maximum - minimum : 0;
    setUpperValue(maximum);
    emit rangeChanged(minimum, maximum);
}

void NrThreeHandleSlider::SetRange(uint64_t min, uint64_t max) {
    setMinimum(min);
    setMaximum(max);
}

void NrThreeHandleSlider::setType(Options newOptions) {
    options = newOptions;
    lowerValue = minimum;
    upperValue = maximum;
    grooveRadius = rangeMode() ? 0 : 5;
    update();
    emit lowerValueChanged(minimum);
    emit upperValueChanged(maximum);
}

void NrThreeHandleSlider::addTag(uint64_t value, const QColor& color) {
    tags.push_back(Tag{value, color});
    update();
}

void NrThreeHandleSlider::clearTags() {
    tags.clear();
    update();
}

void NrThreeHandleSlider::setRateProfile(std::vector<uint32_t> counts, uint64_t startUs, uint64_t endUs) {
    rateCounts = std::move(counts);
    rateStart = startUs;
    rateEnd = std::max(endUs, startUs);
    if (rateEnd == rateStart)
        rateCounts.clear();
    update();
}

// ---- geometry ---------------------------------------------------------------------------------
// Range mode: every handle travels W - 32; lower at 0, center at +6, upper at +20.
// Otherwise: lower and upper travel W - 12 (upper at +6), the center W - 26 at +3.

NrThreeHandleSlider::Geometry NrThreeHandleSlider::lowerGeometry() const {
    const int len = width() - (rangeMode() ? 2 * sideHandleWidth + centerHandleWidth : 2 * sideHandleWidth);
    return {len, 0, sideHandleWidth / 2};
}

NrThreeHandleSlider::Geometry NrThreeHandleSlider::upperGeometry() const {
    if (rangeMode())
        return {width() - 2 * sideHandleWidth - centerHandleWidth, centerHandleWidth, sideHandleWidth / 2};
    return {width() - 2 * sideHandleWidth, sideHandleWidth, sideHandleWidth / 2};
}

NrThreeHandleSlider::Geometry NrThreeHandleSlider::centerGeometry() const {
    if (rangeMode())
        return {width() - 2 * sideHandleWidth - centerHandleWidth, sideHandleWidth, centerHandleWidth / 2};
    return {width() - centerHandleSpan, (centerHandleSpan - centerHandleWidth) / 2, centerHandleWidth / 2};
}

double NrThreeHandleSlider::fractionOf(uint64_t value) const {
    if (rangeLength == 0 || value <= minimum)
        return 0.0;
    if (value >= maximum)
        return 1.0;
    return static_cast<double>(static_cast<long double>(value - minimum) / rangeLength);
}

int NrThreeHandleSlider::handleX(double fraction, const Geometry& g) {
    // The epsilon keeps a value found by valueAt() from truncating one pixel short.
    return g.offset + static_cast<int>(std::floor(fraction * std::max(g.travel, 0) + 1e-6));
}

uint64_t NrThreeHandleSlider::valueAt(int x, const Geometry& g) const {
    if (g.travel <= 0 || rangeLength == 0)
        return minimum;
    const long double f = static_cast<long double>(x - g.offset - g.half) / g.travel;
    if (f <= 0)
        return minimum;
    if (f >= 1)
        return maximum;
    // Rounded up, so the handle drawn for the value starts at the pixel asked for, not one before.
    const long double steps = std::ceil(f * static_cast<long double>(rangeLength));
    if (steps >= static_cast<long double>(rangeLength))
        return maximum;
    return minimum + static_cast<uint64_t>(steps);
}

int NrThreeHandleSlider::lowerHandleX() const {
    return handleX(fractionOf(lowerValue), lowerGeometry());
}

int NrThreeHandleSlider::upperHandleX() const {
    return handleX(fractionOf(upperValue), upperGeometry());
}

int NrThreeHandleSlider::centerHandleX() const {
    return handleX(fractionOf(centerValue), centerGeometry());
}

int NrThreeHandleSlider::centerXOfValue(uint64_t value) const {
    const Geometry g = centerGeometry();
    return handleX(fractionOf(value), g) + g.half;
}

QRect NrThreeHandleSlider::lowerRect() const {
    return QRect(lowerHandleX(), (height() + 1 - sideHandleLength) / 2, sideHandleWidth, sideHandleLength);
}

QRect NrThreeHandleSlider::upperRect() const {
    return QRect(upperHandleX(), (height() + 1 - sideHandleLength) / 2, sideHandleWidth, sideHandleLength);
}

QRect NrThreeHandleSlider::centerRect() const {
    return QRect(centerHandleX(), (height() + 1 - centerHandleHeight) / 2, centerHandleWidth, centerHandleHeight);
}

// ---- mouse ------------------------------------------------------------------------------------

void NrThreeHandleSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const QPoint pos = event->pos();
    const bool hasCenter = options.testFlag(CenterHandle);
    const bool hasLower = options.testFlag(LowerHandle);
    if (hasCenter && centerRect().contains(pos)) {
        centerPressed = true;
        const Geometry g = centerGeometry();
        pressOffset = pos.x() - (centerHandleX() + g.half);
    } else if (hasLower && lowerRect().contains(pos)) {
        lowerPressed = true;
        pressOffset = pos.x() - (lowerHandleX() + sideHandleWidth / 2);
    } else if (rangeMode() && upperRect().contains(pos)) {
        upperPressed = true;
        pressOffset = pos.x() - (upperHandleX() + sideHandleWidth / 2);
    } else {
        // A click on the track moves the playback position there; holding the button then drags it.
        setCenterValue(valueAt(pos.x(), centerGeometry()));
        emit centerValueTrackClick(centerValue);
        pressOffset = pos.x() - (centerHandleX() + centerGeometry().half);
        centerPressed = hasCenter;
    }
    event->accept();
}

void NrThreeHandleSlider::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const int x = event->pos().x() - static_cast<int>(pressOffset);
    if (lowerPressed && options.testFlag(LowerHandle)) {
        setLowerValue(valueAt(x, lowerGeometry()));
        emit lowerValueChanged(lowerValue);
    } else if (upperPressed && rangeMode()) {
        setUpperValue(valueAt(x, upperGeometry()));
        emit upperValueChanged(upperValue);
    } else if (centerPressed && options.testFlag(CenterHandle)) {
        const uint64_t value = std::min(std::max(valueAt(x, centerGeometry()), lowerValue), upperValue);
        const int px = event->pos().x();
        const bool outside = rangeMode() ? (px < lowerRect().right() || px > upperRect().left())
                                         : (px < 0 || px > width());
        // Past the ends the handle stops at the bound; only a change is reported there.
        if (outside && value == centerValue)
            return;
        centerValue = value;
        update();
        emit centerValueMove(centerValue);
    }
}

void NrThreeHandleSlider::mouseReleaseEvent(QMouseEvent* event) {
    lowerPressed = upperPressed = centerPressed = false;
    event->accept();
}

void NrThreeHandleSlider::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        applyPalette();
        update();
    }
    QWidget::changeEvent(event);
}

// ---- painting ---------------------------------------------------------------------------------

void NrThreeHandleSlider::drawRateProfile(QPainter& painter) {
    if (rateCounts.empty() || maximum <= minimum || rateEnd <= rateStart)
        return;
    const int w = width();
    rateColumns.assign(static_cast<size_t>(w), -1.0f);
    const long double slot = static_cast<long double>(rateEnd - rateStart) / rateCounts.size();
    uint32_t peak = 0;
    for (size_t i = 0; i < rateCounts.size(); ++i) {
        const long double t = rateStart + slot * (i + 0.5L);
        if (t < minimum || t > maximum)
            continue;
        const int column = centerXOfValue(static_cast<uint64_t>(t));
        if (column < 0 || column >= w)
            continue;
        float& c = rateColumns[static_cast<size_t>(column)];
        c = std::max(c, static_cast<float>(rateCounts[i]));
        peak = std::max(peak, rateCounts[i]);
    }
    if (peak == 0)
        return;
    // A band around the track, as wide as the rate: the groove covers its middle.
    const qreal centre = height() / 2.0;
    const qreal inner = grooveThickness / 2.0;
    const qreal reach = std::max(centre - inner - 1.0, 2.0);
    QPolygonF top;
    QPolygonF bottom;
    for (int x = 0; x < w; ++x) {
        const float c = rateColumns[static_cast<size_t>(x)];
        if (c < 0)
            continue;
        const qreal a = reach * c / peak;
        top << QPointF(x, centre - inner - a);
        bottom << QPointF(x, centre + inner + a);
    }
    if (top.size() < 2)
        return;
    QPainterPath curve;
    curve.moveTo(top.first().x(), centre);
    for (const QPointF& p : top)
        curve.lineTo(p);
    curve.lineTo(top.last().x(), centre);
    for (int i = bottom.size() - 1; i >= 0; --i)
        curve.lineTo(bottom[i]);
    curve.closeSubpath();
    const QColor ink = isEnabled() ? QColor("#004B6A") : QColor("#A0A0A0");
    QColor fill = ink;
    fill.setAlpha(48);
    QColor line = ink;
    line.setAlpha(120);
    painter.setPen(QPen(line, 1.0));
    painter.setBrush(fill);
    painter.drawPath(curve);
    painter.setPen(Qt::NoPen);
}

void NrThreeHandleSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    drawRateProfile(painter);

    const int w = width();
    const QRectF groove(0, (height() - grooveThickness) / 2.0, w, grooveThickness);
    painter.setBrush(kGroove);
    painter.drawRoundedRect(groove, 5, 5);

    QRectF fill = groove;
    if (rangeMode()) {
        const QRect lower = lowerRect();
        const QRect upper = upperRect();
        fill.setLeft(lower.x() + lower.width());
        fill.setRight(upper.x());
    }
    if (fill.width() > 0) {
        painter.setBrush(rangeColor);
        painter.drawRoundedRect(fill, grooveRadius, grooveRadius);
    }
    if (rangeMode()) {
        if (options.testFlag(LowerHandle)) {
            painter.setBrush(lowerColor);
            painter.drawRoundedRect(lowerRect(), sideHandleRadius, sideHandleRadius);
        }
        painter.setBrush(upperColor);
        painter.drawRoundedRect(upperRect(), sideHandleRadius, sideHandleRadius);
    }

    for (const Tag& tag : tags) {
        if (tag.value < minimum || tag.value > maximum)
            continue;
        const qreal x = centerXOfValue(tag.value) + 0.5;
        painter.setPen(QPen(tag.color, 1));
        painter.drawLine(QPointF(x, groove.top()), QPointF(x, groove.bottom()));
    }
    painter.setPen(Qt::NoPen);

    if (options.testFlag(CenterHandle)) {
        painter.setPen(QPen(centerOutlineColor, centerHandlePenWidth));
        painter.setBrush(centerFillColor);
        // Inset by half the pen so the outline stays inside the handle's 20 x 20 square.
        const qreal inset = centerHandlePenWidth / 2.0;
        painter.drawRoundedRect(QRectF(centerRect()).adjusted(inset, inset, -inset, -inset),
                                centerHandleRadius - inset, centerHandleRadius - inset);
    }
}
