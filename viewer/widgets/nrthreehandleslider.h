#pragma once

// The timeline: a track with up to three handles over a 64-bit value range (event timestamps in
// us). The center handle is the playback position; the lower and upper handles trim the range
// (options 3). Under the handles it can draw the event rate of the loaded recording, and vertical
// tags mark trigger-in events. Only the horizontal orientation is drawn.
//
// Pointer to value is the exact inverse of the drawing: a click or drag puts the centre of the
// handle under the pointer, clamped to [minimum, maximum].
//
// Threads: GUI thread only.
#include <QColor>
#include <QFlags>
#include <QWidget>

class QPainter;

#include <cstdint>
#include <vector>

class NrThreeHandleSlider : public QWidget {
    Q_OBJECT
public:
    enum Option { NoHandle = 0x0, CenterHandle = 0x1, LowerHandle = 0x2, RangeMode = 0x3 };
    Q_DECLARE_FLAGS(Options, Option)

    struct Tag {
        uint64_t value;
        QColor color;
    };

    explicit NrThreeHandleSlider(QWidget* parent = nullptr);
    NrThreeHandleSlider(QWidget* parent, Qt::Orientation orientation, Options options);

    void setType(Options options);
    // True while the start and end handles show (the trim range can be edited).
    bool rangeMode() const { return options == RangeMode; }
    void SetRange(uint64_t min, uint64_t max);
    void setValue(uint64_t value);
    uint64_t getMinimun() const { return minimum; }
    uint64_t getMaximun() const { return maximum; }
    // The trim range; the whole range unless the slider is in range mode.
    uint64_t getLowerValue() const;
    uint64_t getUpperValue() const;
    uint64_t getCenterValue() const { return centerValue; }
    void addTag(uint64_t value, const QColor& color);
    // Removes every tag (another recording was opened).
    void clearTags();
    const std::vector<Tag>& getTags() const { return tags; }

    // Events per time slot of the loaded recording; the slots cover [startUs, endUs) evenly.
    // Drawn as a filled curve behind the handles; an empty vector removes it.
    void setRateProfile(std::vector<uint32_t> counts, uint64_t startUs, uint64_t endUs);
    bool hasRateProfile() const { return !rateCounts.empty(); }

    // Drawing geometry (x of each handle's left edge and the centre x of a value), also used by tests.
    int lowerHandleX() const;
    int upperHandleX() const;
    int centerHandleX() const;
    int centerXOfValue(uint64_t value) const;

    QSize minimumSizeHint() const override;

signals:
    void lowerValueChanged(uint64_t aLowerValue);
    void upperValueChanged(uint64_t aUpperValue);
    void rangeChanged(uint64_t aMin, uint64_t aMax);
    void centerValueChanged(uint64_t center_value);
    void centerValueTrackClick(uint64_t);
    void centerValueMove(uint64_t);

public slots:
    void setLowerValue(uint64_t value);
    void setUpperValue(uint64_t value);
    void setCenterValue(uint64_t value);
    void setMinimum(uint64_t aMinimum);
    void setMaximum(uint64_t aMaximum);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Where a handle's left edge travels: x = offset + trunc(fraction * travel); its centre is at
    // x + half.
    struct Geometry {
        int travel;
        int offset;
        int half;
    };
    Geometry lowerGeometry() const;
    Geometry upperGeometry() const;
    Geometry centerGeometry() const;
    double fractionOf(uint64_t value) const;
    static int handleX(double fraction, const Geometry& g);
    // The value whose handle centre lies at x, clamped to [minimum, maximum].
    uint64_t valueAt(int x, const Geometry& g) const;
    QRect lowerRect() const;
    QRect upperRect() const;
    QRect centerRect() const;
    void drawRateProfile(QPainter& painter);
    void applyPalette();

    uint64_t minimum = 0;
    uint64_t maximum = UINT64_MAX;
    int grooveThickness = 10;
    int grooveRadius = 0;
    int sideHandleWidth = 6;
    int sideHandleLength = 27;
    int sideHandleRadius = 3;
    int centerHandleWidth = 20;
    int centerHandleHeight = 20;
    int centerHandleRadius = 10;
    int centerHandlePenWidth = 3;
    int centerHandleSpan = 26;
    uint64_t lowerValue = 0;
    uint64_t upperValue = UINT64_MAX;
    uint64_t centerValue = UINT64_MAX / 2;
    bool lowerPressed = false;
    bool upperPressed = false;
    bool centerPressed = false;
    uint64_t rangeLength = UINT64_MAX;
    int64_t pressOffset = 0;
    std::vector<Tag> tags;
    QColor trackColor, rangeColor, lowerColor, upperColor, centerOutlineColor, centerFillColor;
    Qt::Orientation orientation;
    Options options;

    std::vector<uint32_t> rateCounts;
    uint64_t rateStart = 0;
    uint64_t rateEnd = 0;
    std::vector<float> rateColumns; // reused per paint: peak count per pixel column
};

Q_DECLARE_OPERATORS_FOR_FLAGS(NrThreeHandleSlider::Options)
