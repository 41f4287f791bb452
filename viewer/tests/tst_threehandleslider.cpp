// The timeline slider: setters, geometry, pointer mapping, signals, tags, rate strip; NrSlider.
#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

#include "TestEnv.h"
#include "startup.h"
#include "widgets/nrslider.h"
#include "widgets/nrthreehandleslider.h"

using Slider = NrThreeHandleSlider;

class TestThreeHandleSlider : public QObject {
    Q_OBJECT

    static void prepare(Slider& s, int width, uint64_t min, uint64_t max) {
        s.resize(width, 30);
        s.SetRange(min, max);
    }

private slots:
    void initTestCase() {
        installApplicationFont();
        qRegisterMetaType<uint64_t>("uint64_t");
    }

    void settersClamp() {
        Slider s;
        prepare(s, 400, 1000, 2000);
        QSignalSpy lower(&s, &Slider::lowerValueChanged);
        s.setCenterValue(1500);
        s.setLowerValue(1800); // above the center in range mode
        QCOMPARE(s.getLowerValue(), uint64_t(1500));
        s.setLowerValue(10);
        QCOMPARE(s.getLowerValue(), uint64_t(1000));
        s.setUpperValue(1200);
        QCOMPARE(s.getUpperValue(), uint64_t(1500));
        s.setUpperValue(5000);
        QCOMPARE(s.getUpperValue(), uint64_t(2000));
        s.setCenterValue(5000);
        QCOMPARE(s.getCenterValue(), uint64_t(2000));
        QCOMPARE(lower.count(), 0); // setters never emit
    }

    void rangeEmitsAndSetTypeResets() {
        Slider s;
        QSignalSpy range(&s, &Slider::rangeChanged);
        prepare(s, 400, 100, 900);
        QCOMPARE(range.count(), 2);
        QCOMPARE(range.last().at(0).value<uint64_t>(), uint64_t(100));
        QCOMPARE(range.last().at(1).value<uint64_t>(), uint64_t(900));
        s.setCenterValue(500);
        s.setLowerValue(300);
        s.setUpperValue(700);
        QSignalSpy lower(&s, &Slider::lowerValueChanged);
        QSignalSpy upper(&s, &Slider::upperValueChanged);
        s.setType(Slider::CenterHandle);
        QCOMPARE(lower.count(), 1);
        QCOMPARE(lower.first().at(0).value<uint64_t>(), uint64_t(100));
        QCOMPARE(upper.first().at(0).value<uint64_t>(), uint64_t(900));
        s.setType(Slider::RangeMode);
        s.setLowerValue(300);
        s.setType(Slider::CenterHandle);
        s.setLowerValue(300);
        QCOMPARE(s.getLowerValue(), uint64_t(100)); // outside range mode: the whole range
        QCOMPARE(s.getUpperValue(), uint64_t(900));
    }

    void geometryAtSeveralWidths() {
        for (int w : {100, 333, 800, 1500}) {
            Slider range;
            prepare(range, w, 0, 1000);
            range.setCenterValue(250);
            range.setLowerValue(0);
            range.setUpperValue(1000);
            QCOMPARE(range.lowerHandleX(), 0);
            QCOMPARE(range.centerHandleX(), int(0.25 * (w - 32)) + 6);
            QCOMPARE(range.upperHandleX(), (w - 32) + 20);

            Slider single(nullptr, Qt::Horizontal, Slider::CenterHandle);
            prepare(single, w, 0, 1000);
            single.setCenterValue(1000);
            QCOMPARE(single.centerHandleX(), (w - 26) + 3);
            single.setCenterValue(500);
            QCOMPARE(single.centerHandleX(), int(0.5 * (w - 26)) + 3);
        }
    }

    // Clicks put the handle's centre under the pointer, at both ends and anywhere between.
    void trackClickIsTheInverseOfTheDrawing() {
        for (auto opts : {Slider::Options(Slider::CenterHandle), Slider::Options(Slider::RangeMode)}) {
            Slider s(nullptr, Qt::Horizontal, opts);
            prepare(s, 640, 5'000'000, 65'000'000);
            s.show();
            QVERIFY(QTest::qWaitForWindowExposed(&s));
            QSignalSpy click(&s, &Slider::centerValueTrackClick);
            QSignalSpy move(&s, &Slider::centerValueMove);
            const int half = 10;
            for (int x : {60, 200, 333, 500, 600}) {
                const int x0 = s.centerHandleX();
                if (x >= x0 && x < x0 + 20)
                    continue; // on the handle itself
                QTest::mouseClick(&s, Qt::LeftButton, Qt::NoModifier, QPoint(x, 15));
                QCOMPARE(s.centerHandleX() + half, x);
            }
            QVERIFY(click.count() >= 4);
            QCOMPARE(move.count(), 0);
            QCOMPARE(click.last().at(0).value<uint64_t>(), s.getCenterValue());

            // Left of the track start (in range mode, between the lower handle and the start): the
            // minimum, not a wrapped-around value.
            const int leftOfStart = opts == Slider::RangeMode ? 8 : 1;
            QTest::mouseClick(&s, Qt::LeftButton, Qt::NoModifier, QPoint(leftOfStart, 15));
            QCOMPARE(s.getCenterValue(), uint64_t(5'000'000));
            QTest::mouseClick(&s, Qt::LeftButton, Qt::NoModifier, QPoint(639, 15));
            QCOMPARE(s.getCenterValue(), uint64_t(65'000'000));
            // Other buttons do nothing.
            const int before = click.count();
            QTest::mouseClick(&s, Qt::RightButton, Qt::NoModifier, QPoint(100, 15));
            QCOMPARE(click.count(), before);
        }
    }

    void clickThenDragEmitsMoves() {
        Slider s(nullptr, Qt::Horizontal, Slider::CenterHandle);
        prepare(s, 500, 0, 1'000'000);
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        QSignalSpy click(&s, &Slider::centerValueTrackClick);
        QSignalSpy move(&s, &Slider::centerValueMove);
        QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, QPoint(100, 15));
        QCOMPARE(click.count(), 1);
        for (int x : {150, 300, 420}) {
            QMouseEvent e(QEvent::MouseMove, QPointF(x, 15), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&s, &e);
            QCOMPARE(s.centerHandleX() + 10, x);
        }
        QCOMPARE(move.count(), 3);
        // Past the right end: the handle stops at the maximum.
        QMouseEvent far(QEvent::MouseMove, QPointF(900, 15), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&s, &far);
        QCOMPARE(s.getCenterValue(), uint64_t(1'000'000));
        QCOMPARE(move.count(), 4);
        QApplication::sendEvent(&s, &far); // no change, nothing more reported
        QCOMPARE(move.count(), 4);
        QTest::mouseRelease(&s, Qt::LeftButton, Qt::NoModifier, QPoint(900, 15));
        QMouseEvent after(QEvent::MouseMove, QPointF(100, 15), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&s, &after);
        QCOMPARE(move.count(), 4); // released: no handle follows
    }

    void dragSideHandles() {
        Slider s;
        prepare(s, 632, 0, 600); // travel 600 px: one value per pixel
        s.setCenterValue(300);
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        QSignalSpy lower(&s, &Slider::lowerValueChanged);
        QSignalSpy upper(&s, &Slider::upperValueChanged);
        QSignalSpy click(&s, &Slider::centerValueTrackClick);

        // Lower handle: centre at x = 3. Grab it 1 px right of its centre and drag.
        QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, QPoint(4, 15));
        QCOMPARE(click.count(), 0);
        QMouseEvent m1(QEvent::MouseMove, QPointF(104, 15), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&s, &m1);
        QCOMPARE(s.getLowerValue(), uint64_t(100));
        QCOMPARE(s.lowerHandleX() + 3, 103);
        QMouseEvent m2(QEvent::MouseMove, QPointF(500, 15), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&s, &m2);
        QCOMPARE(s.getLowerValue(), uint64_t(300)); // stops at the center
        QCOMPARE(lower.count(), 2);
        QCOMPARE(lower.last().at(0).value<uint64_t>(), uint64_t(300));
        QTest::mouseRelease(&s, Qt::LeftButton, Qt::NoModifier, QPoint(500, 15));

        // Upper handle at the maximum: x = 600 + 20, centre 623.
        QTest::mousePress(&s, Qt::LeftButton, Qt::NoModifier, QPoint(623, 15));
        QMouseEvent m3(QEvent::MouseMove, QPointF(523, 15), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&s, &m3);
        QCOMPARE(s.getUpperValue(), uint64_t(500));
        QMouseEvent m4(QEvent::MouseMove, QPointF(-50, 15), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&s, &m4);
        QCOMPARE(s.getUpperValue(), uint64_t(300));
        QCOMPARE(upper.count(), 2);
        QTest::mouseRelease(&s, Qt::LeftButton, Qt::NoModifier, QPoint(0, 15));
        QCOMPARE(click.count(), 0);
    }

    void tagsAndRateStripScreenshot() {
        QWidget frame;
        frame.setStyleSheet(QStringLiteral("background: #FFFFFF;"));
        frame.resize(720, 130);
        Slider range(&frame);
        range.setGeometry(20, 10, 680, 36);
        range.SetRange(1'000'000, 11'000'000);
        range.setCenterValue(4'200'000);
        range.setLowerValue(2'000'000);
        range.setUpperValue(8'500'000);
        Slider single(&frame, Qt::Horizontal, Slider::CenterHandle);
        single.setGeometry(20, 60, 680, 30);
        single.SetRange(1'000'000, 11'000'000);
        single.setCenterValue(6'000'000);
        Slider disabled(&frame, Qt::Horizontal, Slider::CenterHandle);
        disabled.setGeometry(20, 95, 680, 30);
        disabled.SetRange(0, 10);
        disabled.setCenterValue(3);
        disabled.setEnabled(false);

        std::vector<uint32_t> counts(400);
        for (size_t i = 0; i < counts.size(); ++i)
            counts[i] = uint32_t(2000 + 1500 * std::sin(i / 23.0) + (i % 37 == 0 ? 3000 : 0));
        QVERIFY(!range.hasRateProfile());
        range.setRateProfile(counts, 1'000'000, 11'000'000);
        QVERIFY(range.hasRateProfile());
        range.addTag(3'000'000, QColor("#FF6058"));
        range.addTag(7'000'000, QColor("#F9BF37"));
        range.addTag(20'000'000, QColor("#FF6058")); // outside: kept, not drawn
        QCOMPARE(range.getTags().size(), size_t(3));
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));

        const QImage img = range.grab().toImage();
        const int tagX = range.centerXOfValue(3'000'000);
        QCOMPARE(img.pixelColor(tagX, img.height() / 2).red(), 0xFF); // the tag line on the range fill
        // The strip shows outside the groove; without a profile that area is plain background.
        range.setRateProfile({}, 0, 0);
        QVERIFY(!range.hasRateProfile());
        const QImage plain = range.grab().toImage();
        int changed = 0;
        int strayOutsideProfile = 0;
        const int profileEnd = range.centerXOfValue(11'000'000);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (img.pixel(x, y) != plain.pixel(x, y)) {
                    ++changed;
                    strayOutsideProfile += x > profileEnd + 1;
                }
        QVERIFY2(changed > 2000, qPrintable(QString::number(changed)));
        QCOMPARE(strayOutsideProfile, 0);
        range.setRateProfile(counts, 1'000'000, 11'000'000);
        QVERIFY(!testenv::saveScreenshot(&frame, QStringLiteral("slider_tags_rate_strip")).isEmpty());
    }

    void nrSliderJumpsToClick() {
        NrSlider s(Qt::Horizontal);
        s.setRange(0, 100);
        s.resize(300, 24);
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        QSignalSpy clicked(&s, &NrSlider::trackClicked);
        QTest::mouseClick(&s, Qt::LeftButton, Qt::NoModifier, QPoint(290, 12));
        QCOMPARE(clicked.count(), 1);
        QVERIFY(s.value() >= 95);
        QTest::mouseClick(&s, Qt::LeftButton, Qt::NoModifier, QPoint(150, 12));
        QVERIFY(qAbs(s.value() - 50) <= 3);
        QCOMPARE(clicked.last().at(0).toInt(), s.value());
    }
};

NR_QTEST_MAIN(TestThreeHandleSlider)
#include "tst_threehandleslider.moc"
