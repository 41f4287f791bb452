// The window agent through synthetic mouse events on the native window (the offscreen platform
// refuses system moves and resizes, so the agent's own move and resize are what runs here).
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QWindow>
#include <QtTest>

#include "TestEnv.h"
#include "widgets/nrwindowagent.h"

namespace {

// A frameless window: a title row (label + close button) over a body.
struct TestWindow {
    QWidget window;
    QWidget* title = nullptr;
    QLabel* titleText = nullptr;
    QPushButton* close = nullptr;
    QPushButton* pin = nullptr;
    NrWindowAgent* agent = nullptr;

    TestWindow() {
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* row = new QWidget(&window);
        row->setFixedHeight(40);
        auto* rowLayout = new QHBoxLayout(row);
        title = new QWidget(row);
        titleText = new QLabel(QStringLiteral("Title"), title);
        pin = new QPushButton(QStringLiteral("pin"), title);
        pin->move(120, 5);
        close = new QPushButton(QStringLiteral("x"), row);
        rowLayout->addWidget(title, 1);
        rowLayout->addWidget(close);
        layout->addWidget(row);
        layout->addWidget(new QWidget(&window), 1);
        window.setMinimumSize(200, 150);
        window.resize(400, 300);

        agent = new NrWindowAgent(&window);
        agent->setup(&window);
        agent->setTitleBar(title);
        agent->setSystemButton(NrWindowAgent::Close, close);
        agent->setHitTestVisible(pin);
        window.move(300, 200);
        window.show();
    }
    QWindow* handle() const { return window.windowHandle(); }
};

// Drags with the left button from a point of the window (window coordinates) by an offset,
// following the window as it moves, the way a real pointer does in screen coordinates.
void drag(TestWindow& w, QPoint from, QPoint by) {
    const QPoint startGlobal = w.window.mapToGlobal(from);
    QTest::mousePress(w.handle(), Qt::LeftButton, Qt::NoModifier, from);
    const int steps = 5;
    for (int i = 1; i <= steps; ++i) {
        const QPoint global = startGlobal + by * i / steps;
        QTest::mouseMove(w.handle(), global - w.window.geometry().topLeft());
    }
    QTest::mouseRelease(w.handle(), Qt::LeftButton, Qt::NoModifier,
                        startGlobal + by - w.window.geometry().topLeft());
}

} // namespace

class TestWindowAgent : public QObject {
    Q_OBJECT
private slots:
    void setupMakesTheWindowFrameless() {
        TestWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QVERIFY(w.window.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(w.agent->systemButton(NrWindowAgent::Close), static_cast<QWidget*>(w.close));
        QVERIFY(!w.agent->setup(&w.window)); // only once
    }

    void titleBarDragMovesTheWindow() {
        TestWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const QPoint before = w.window.pos();
        const QSize size = w.window.size();
        drag(w, w.titleText->mapTo(&w.window, QPoint(5, 5)), QPoint(120, 70));
        QTRY_COMPARE(w.window.pos(), before + QPoint(120, 70));
        QCOMPARE(w.window.size(), size);
    }

    void buttonsAndBodyDoNotMoveTheWindow() {
        TestWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const QPoint before = w.window.pos();
        QSignalSpy closeClicks(w.close, &QPushButton::clicked);
        QSignalSpy pinClicks(w.pin, &QPushButton::clicked);
        const QPoint onClose = w.close->mapTo(&w.window, w.close->rect().center());
        const QPoint onPin = w.pin->mapTo(&w.window, w.pin->rect().center());
        QVERIFY(!w.agent->isInTitleBar(onClose));
        QVERIFY(!w.agent->isInTitleBar(onPin));
        QVERIFY(w.agent->isInTitleBar(w.titleText->mapTo(&w.window, QPoint(2, 2))));
        QTest::mouseClick(w.handle(), Qt::LeftButton, Qt::NoModifier, onClose);
        QTest::mouseClick(w.handle(), Qt::LeftButton, Qt::NoModifier, onPin);
        QCOMPARE(closeClicks.count(), 1);
        QCOMPARE(pinClicks.count(), 1);
        drag(w, QPoint(200, 200), QPoint(50, 50)); // body
        QCOMPARE(w.window.pos(), before);
    }

    void doubleClickOnTitleMaximisesAndRestores() {
        TestWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const QPoint onTitle = w.titleText->mapTo(&w.window, QPoint(5, 5));
        QTest::mouseDClick(w.handle(), Qt::LeftButton, Qt::NoModifier, onTitle);
        QTRY_VERIFY(w.window.isMaximized());
        QCOMPARE(w.agent->edgesAt(QPoint(1, 1)), Qt::Edges()); // no resizing while maximised
        QTest::mouseDClick(w.handle(), Qt::LeftButton, Qt::NoModifier,
                           w.titleText->mapTo(&w.window, QPoint(5, 5)));
        QTRY_VERIFY(!w.window.isMaximized());
    }

    void edgesResizeTheWindow() {
        TestWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QRect g = w.window.geometry();
        // Bottom-right corner grows the window, the top-left corner stays.
        drag(w, QPoint(g.width() - 2, g.height() - 2), QPoint(60, 40));
        QTRY_COMPARE(w.window.size(), g.size() + QSize(60, 40));
        QCOMPARE(w.window.pos(), g.topLeft());

        // The left edge moves the left side only.
        g = w.window.geometry();
        drag(w, QPoint(1, g.height() / 2), QPoint(-50, 30));
        QTRY_COMPARE(w.window.geometry(), QRect(g.x() - 50, g.y(), g.width() + 50, g.height()));

        // The top edge stops at the minimum size.
        g = w.window.geometry();
        drag(w, QPoint(g.width() / 2, 1), QPoint(0, 1000));
        QTRY_COMPARE(w.window.height(), w.window.minimumHeight());
        QCOMPARE(w.window.geometry().bottom(), g.bottom());
    }

    void cursorFollowsTheEdge() {
        TestWindow w;
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        const int width = w.window.width();
        const int height = w.window.height();
        struct Case {
            QPoint pos;
            Qt::CursorShape shape;
        };
        const Case cases[] = {
            {{width - 2, height / 2}, Qt::SizeHorCursor}, {{width / 2, height - 1}, Qt::SizeVerCursor},
            {{1, 1}, Qt::SizeFDiagCursor},                {{width - 1, height - 1}, Qt::SizeFDiagCursor},
            {{width - 1, 1}, Qt::SizeBDiagCursor},        {{1, height - 2}, Qt::SizeBDiagCursor},
            {{width / 2, height / 2}, Qt::ArrowCursor},
        };
        for (const Case& c : cases) {
            QTest::mouseMove(w.handle(), c.pos);
            QCOMPARE(w.window.cursor().shape(), c.shape);
        }
    }

    void fixedSizeWindowDoesNotResize() {
        TestWindow w;
        w.window.setFixedSize(300, 200);
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        QCOMPARE(w.agent->edgesAt(QPoint(1, 1)), Qt::Edges());
        drag(w, QPoint(299, 199), QPoint(40, 40));
        QCOMPARE(w.window.size(), QSize(300, 200));
    }
};

NR_QTEST_MAIN(TestWindowAgent)
#include "tst_windowagent.moc"
