// The image view: zoom limits, fit on resize and double-click, new resolutions.
#include <QApplication>
#include <QGraphicsPixmapItem>
#include <QWheelEvent>
#include <QtTest>

#include "TestEnv.h"
#include "ui/nrgraphicsview.h"
#include "ui/showimageform.h"

namespace {

void wheel(NrGraphicsView* view, int delta) {
    const QPoint pos = view->viewport()->rect().center();
    QWheelEvent event(pos, view->viewport()->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &event);
}

// The item's size on screen, in viewport pixels.
QSizeF shownSize(ShowImageForm& form) {
    return form.view()->mapFromScene(form.pixmapItem()->sceneBoundingRect()).boundingRect().size();
}

// Shows the form at the size its form declares.
bool showAtFormSize(ShowImageForm& form) {
    form.resize(840, 429);
    form.show();
    return QTest::qWaitForWindowExposed(&form);
}

} // namespace

class TestImageView : public QObject {
    Q_OBJECT
private slots:
    void startsWithAGreyFrame() {
        ShowImageForm form;
        QCOMPARE(form.currentPixmap().size(), QSize(1280, 720));
        QCOMPARE(form.currentPixmap().toImage().pixelColor(10, 10), QColor(QStringLiteral("#707070")));
        QCOMPARE(form.view()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(form.view()->dragMode(), QGraphicsView::ScrollHandDrag);
    }

    void zoomStopsAtTheLimits() {
        ShowImageForm form;
        QVERIFY(showAtFormSize(form));
        NrGraphicsView* view = form.view();
        const double fitted = view->transform().m11();

        wheel(view, -120); // already at the fitted size: refused
        QCOMPARE(view->transform().m11(), fitted);
        QCOMPARE(view->currentScale(), 1.0);

        for (int i = 0; i < 41; ++i)
            wheel(view, 120);
        QVERIFY(view->currentScale() < NrGraphicsView::kMaxScale);
        wheel(view, 120); // the 42nd step passes 50
        QVERIFY(qAbs(view->currentScale() - 54.76) < 0.01);
        const double top = view->transform().m11();
        QVERIFY(qAbs(top / fitted - 54.76) < 0.01);
        for (int i = 0; i < 5; ++i)
            wheel(view, 120);
        QCOMPARE(view->transform().m11(), top);

        for (int i = 0; i < 60; ++i)
            wheel(view, -120);
        QVERIFY(qAbs(view->currentScale() - 1.0) < 1e-9);
        QVERIFY(qAbs(view->transform().m11() / fitted - 1.0) < 1e-9);
    }

    void doubleClickFitsAgain() {
        ShowImageForm form;
        QVERIFY(showAtFormSize(form));
        NrGraphicsView* view = form.view();
        const double fitted = view->transform().m11();
        for (int i = 0; i < 10; ++i)
            wheel(view, 120);
        QVERIFY(view->currentScale() > 2.0);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton);
        QCOMPARE(view->currentScale(), 1.0);
        QVERIFY(qAbs(view->transform().m11() - fitted) < 0.01);
    }

    void newResolutionIsFittedWithoutDistortion() {
        ShowImageForm form;
        QVERIFY(showAtFormSize(form));
        form.slotSetResolution(640, 480);
        QCOMPARE(form.currentPixmap().size(), QSize(640, 480));
        QCOMPARE(form.currentPixmap().toImage().pixelColor(0, 0), QColor(QStringLiteral("#707070")));

        form.resize(1000, 500);
        QTRY_COMPARE(form.view()->viewport()->size(), QSize(1000, 500));
        const QSizeF shown = shownSize(form);
        QVERIFY2(qAbs(shown.width() / shown.height() - 640.0 / 480.0) < 0.02, "aspect ratio kept");
        QVERIFY(shown.height() <= 502 && shown.height() >= 490); // fills the height
        QCOMPARE(form.view()->currentScale(), 1.0);
    }

    void imagesAndPixmapsReplaceTheFrame() {
        ShowImageForm form;
        QImage image(320, 240, QImage::Format_RGB888);
        image.fill(Qt::red);
        form.slotShowImage(image);
        QCOMPARE(form.pixmapItem()->pixmap().size(), QSize(320, 240));
        QCOMPARE(form.pixmapItem()->pixmap().toImage().pixelColor(5, 5), QColor(Qt::red));
        QPixmap pixmap(100, 50);
        pixmap.fill(Qt::blue);
        form.showPixMap(pixmap);
        QCOMPARE(form.currentPixmap().size(), QSize(100, 50));
    }

    // A frame larger than the resolution set (a small sensor in the corner of the fusion grid)
    // shows that corner, not the whole grid.
    void aLargerFrameShowsItsCornerOfTheResolution() {
        ShowImageForm form;
        form.slotSetResolution(346, 260);
        QImage grid(1280, 720, QImage::Format_RGB888);
        grid.fill(Qt::black);
        grid.setPixelColor(345, 259, Qt::green); // the corner's last pixel
        grid.setPixelColor(346, 0, Qt::red);     // outside it
        form.slotShowImage(grid);
        const QImage shown = form.currentPixmap().toImage();
        QCOMPARE(shown.size(), QSize(346, 260));
        QCOMPARE(shown.pixelColor(345, 259), QColor(Qt::green));
        form.slotSetResolution(1280, 720);
        form.slotShowImage(grid);
        QCOMPARE(form.currentPixmap().toImage().pixelColor(346, 0), QColor(Qt::red));
    }
};

NR_QTEST_MAIN(TestImageView)
#include "tst_imageview.moc"
