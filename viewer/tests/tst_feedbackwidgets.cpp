// Message box, tool tip, waiting window, toasts and the pop-up panel.
#include <QApplication>
#include <QLabel>
#include <QMovie>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>
#include <QTranslator>
#include <QtTest>

#include "TestEnv.h"
#include "startup.h"
#include "tools/nrfilepathreminderform.h"
#include "widgets/nrmessagebox.h"
#include "widgets/nrtooltip.h"
#include "widgets/nrtooltipinstaller.h"
#include "widgets/popwidget.h"
#include "widgets/waitingwin.h"

class TestFeedbackWidgets : public QObject {
    Q_OBJECT

    // Clicks `button` of the message box as soon as its event loop runs; returns exec()'s result.
    static int execAndClick(NRMessageBox& box, const char* button) {
        QTimer::singleShot(0, &box, [&box, button] {
            QTest::mouseClick(box.findChild<QPushButton*>(QLatin1String(button)), Qt::LeftButton);
        });
        return box.exec();
    }

private slots:
    void initTestCase() { installApplicationFont(); }

    void messageBoxClosesThreeWays() {
        {
            NRMessageBox box(QStringLiteral("The language change will take effect after restart."),
                             QStringLiteral("Tips"), QStringLiteral("Restart"), QStringLiteral("Later"));
            QCOMPARE(box.findChild<QLabel*>(QStringLiteral("lb_title"))->text(), QStringLiteral("Tips"));
            QCOMPARE(box.findChild<QPushButton*>(QStringLiteral("pb_open"))->text(), QStringLiteral("Restart"));
            QCOMPARE(box.findChild<QPushButton*>(QStringLiteral("pb_close"))->text(), QStringLiteral("Later"));
            QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
            QTimer::singleShot(0, &box, [&box] {
                QVERIFY(!testenv::saveScreenshot(&box, QStringLiteral("message_box")).isEmpty());
                QTest::mouseClick(box.findChild<QPushButton*>(QStringLiteral("pb_open")), Qt::LeftButton);
            });
            QVERIFY(box.exec() != 0);
        }
        NRMessageBox reject(QStringLiteral("m"), QStringLiteral("t"), QStringLiteral("a"), QStringLiteral("r"));
        QCOMPARE(execAndClick(reject, "pb_close"), 0);
        NRMessageBox closed(QStringLiteral("m"), QStringLiteral("t"), QStringLiteral("a"), QStringLiteral("r"));
        QCOMPARE(execAndClick(closed, "pb_win_close"), 0);
    }

    void toolTipTimers() {
        QWidget host;
        host.resize(300, 200);
        auto* button = new QPushButton(QStringLiteral("Play"), &host);
        button->setGeometry(150, 100, 60, 30);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));

        NrToolTip tip(QStringLiteral("Play/Stop"), 0, &host);
        tip.setDelays(200, 300, 30); // the same sequence as 2 s / 3 s / 0.3 s, ten times faster
        tip.anchorTarget(button);
        QSignalSpy textChanged(&tip, &NrToolTip::textChanged);
        tip.setText(QStringLiteral("Play/Stop"));
        QCOMPARE(textChanged.count(), 0);

        // Passing over the button in less than the delay shows nothing.
        QEvent enter(QEvent::Enter);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(button, &enter);
        QTest::qWait(100);
        QApplication::sendEvent(button, &leave);
        QTest::qWait(200);
        QVERIFY(tip.isHidden());

        // Resting on it: shown after the delay, above the button, gone after the stay time.
        QApplication::sendEvent(button, &enter);
        QTest::qWait(120);
        QVERIFY(tip.isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(tip.isVisible(), 400);
        const QPoint buttonTop = button->mapToGlobal(QPoint(0, 0));
        QCOMPARE(tip.y(), buttonTop.y() - (tip.height() + 1));
        QCOMPARE(tip.height(), 20);
        QVERIFY(tip.width() >= 100);
        QTest::qWait(150);
        QVERIFY(tip.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(tip.isHidden(), 400);

        // Leaving hides it after the short delay.
        QApplication::sendEvent(button, &enter);
        QTRY_VERIFY_WITH_TIMEOUT(tip.isVisible(), 400);
        QApplication::sendEvent(button, &leave);
        QTRY_VERIFY_WITH_TIMEOUT(tip.isHidden(), 100);

        // Kind 2: left of the widget; other kinds never show.
        NrToolTip left(QStringLiteral("Bias"), 2, &host);
        left.setDelays(10, 300, 10);
        left.showTip(button);
        QTRY_VERIFY(left.isVisible());
        QCOMPARE(left.x(), buttonTop.x() - left.width());
        NrToolTip none(QStringLiteral("x"), 5, &host);
        none.setDelays(10, 300, 10);
        none.showTip(button);
        QTest::qWait(60);
        QVERIFY(none.isHidden());
    }

    void toolTipRealDelay() {
        QPushButton button(QStringLiteral("Next"));
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        NrToolTip tip(QStringLiteral("Next frame"), 0, &button);
        tip.anchorTarget(&button);
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(&button, &enter);
        QTest::qWait(1800);
        QVERIFY(tip.isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(tip.isVisible(), 600);
    }

    void toastKinds() {
        struct Case {
            NrMessageType type;
            QString title;
            QString colour;
        };
        for (const Case& c : {Case{NrMessageSuccess, "Success", "#58DB6D"}, Case{NrMessageWarning, "Warning", "#F9BF37"},
                              Case{NrMessageError, "Error", "#FF6058"}}) {
            auto* toast = new NrFilePathReminderForm(QStringLiteral("Export video succeeded: /data/20250101_120000.mp4"),
                                                     c.type, QStringLiteral("/data"));
            toast->resize(340, 80);
            toast->show();
            QVERIFY(QTest::qWaitForWindowExposed(toast));
            QCOMPARE(toast->findChild<QLabel*>(QStringLiteral("lb_title"))->text(), c.title);
            QVERIFY(toast->findChild<QPushButton*>(QStringLiteral("pb_open_dir"))->isVisible());
            const QImage img = toast->grab().toImage();
            QCOMPARE(img.pixelColor(0, img.height() / 2).name(), c.colour.toLower()); // the frame
            QVERIFY(!testenv::saveScreenshot(toast, QStringLiteral("toast_") + c.title.toLower()).isEmpty());
            delete toast;
        }
    }

    void toastWithoutFolderAndSelfDestruction() {
        QPointer<NrFilePathReminderForm> toast =
            new NrFilePathReminderForm(QStringLiteral("Configuration failed!"), NrMessageError, QString());
        toast->show();
        QVERIFY(QTest::qWaitForWindowExposed(toast));
        QVERIFY(!toast->findChild<QPushButton*>(QStringLiteral("pb_open_dir"))->isVisible());
        QVERIFY(!testenv::saveScreenshot(toast, QStringLiteral("toast_error_no_folder")).isEmpty());
        QTest::mouseClick(toast->findChild<QPushButton*>(QStringLiteral("pb_close")), Qt::LeftButton);
        QVERIFY(!toast.isNull()); // closing only hides it
        QVERIFY(toast->isHidden());
        QTest::qWait(4300);
        QVERIFY(!toast.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(toast.isNull(), 1500);
    }

    void waitingWindow() {
        QWidget parent;
        parent.resize(800, 600);
        parent.move(40, 30);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        WaitingWin wait(&parent);
        QCOMPARE(wait.size(), QSize(321, 276));
        wait.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wait));
        const QPoint origin = parent.mapToGlobal(QPoint(0, 0));
        QCOMPARE(wait.pos(), QPoint(origin.x() + (800 - 321) / 2, origin.y() + (600 - 276) / 2));
        auto* animation = wait.findChild<QLabel*>(QStringLiteral("label_waiting"));
        QVERIFY(animation->movie());
        QVERIFY(animation->movie()->isValid());
        auto* progress = wait.findChild<QLabel*>(QStringLiteral("lb_progress"));
        QVERIFY(progress->isHidden());
        wait.setProgress(0.427);
        QVERIFY(progress->isVisible());
        QCOMPARE(progress->text(), QStringLiteral("42%"));
        QTest::qWait(120);
        QVERIFY(!testenv::saveScreenshot(&wait, QStringLiteral("waiting_progress")).isEmpty());
        wait.setProgress(1.7);
        QCOMPARE(progress->text(), QStringLiteral("100%"));
        wait.setProgress(-1);
        QVERIFY(progress->isHidden());
        parent.resize(1000, 700);
        wait.updatePos();
        QCOMPARE(wait.pos(), QPoint(origin.x() + (1000 - 321) / 2, origin.y() + (700 - 276) / 2));
        wait.close();
        QCOMPARE(animation->movie()->state(), QMovie::NotRunning);
    }

    // The installer replaces the native tip, follows the widget's tool-tip text and cleans up after itself.
    void toolTipInstaller() {
        QWidget host;
        host.resize(300, 200);
        auto* button = new QPushButton(QStringLiteral("Play"), &host);
        button->setObjectName(QStringLiteral("pb_play"));
        button->setGeometry(150, 100, 60, 30);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));

        NrToolTipInstaller* first = NrToolTipInstaller::attach(button, QStringLiteral("Play/Stop"));
        NrToolTipInstaller* installer = NrToolTipInstaller::attach(button); // again: replaces, keeps the text
        QVERIFY(installer);
        QCOMPARE(button->findChildren<NrToolTipInstaller*>().size(), 1);
        QCOMPARE(NrToolTipInstaller::of(button), installer);
        Q_UNUSED(first);
        QPointer<NrToolTip> tip = installer->tip();
        QCOMPARE(tip->text(), QStringLiteral("Play/Stop"));
        tip->setDelays(150, 300, 30);

        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(button, &help);
        QVERIFY(!QToolTip::isVisible());

        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(button, &enter);
        QTRY_VERIFY_WITH_TIMEOUT(tip->isVisible(), 500);
        const QPoint top = button->mapToGlobal(QPoint(0, 0));
        QCOMPARE(tip->y(), top.y() - (tip->height() + 1));
        button->setToolTip(QStringLiteral("Pause"));
        QCOMPARE(tip->text(), QStringLiteral("Pause"));
        QTest::mousePress(button, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(tip->isHidden(), 200);
        QTest::mouseRelease(button, Qt::LeftButton);

        // A widget without text shows no tip.
        button->setToolTip(QString());
        QApplication::sendEvent(button, &enter);
        QTest::qWait(250);
        QVERIFY(tip->isHidden());
        button->setToolTip(QStringLiteral("Play/Stop"));
        tip->showTip(button);
        QTRY_VERIFY_WITH_TIMEOUT(tip->isVisible(), 500);
        QVERIFY(!testenv::saveScreenshot(tip, QStringLiteral("play_bar_tip")).isEmpty());

        delete button;
        QVERIFY(tip.isNull());
    }

    void waitingWindowCancel() {
        QWidget parent;
        parent.resize(800, 600);
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        // The offscreen platform composes windows.
        QCOMPARE(WaitingWin::platformShape(), WaitingWin::Shape::Translucent);
        WaitingWin wait(&parent);
        QVERIFY(wait.testAttribute(Qt::WA_TranslucentBackground));
        auto* cancel = wait.findChild<QPushButton*>(QStringLiteral("pb_cancel"));
        QVERIFY(cancel);
        QSignalSpy cancelled(&wait, &WaitingWin::signalCancelRequested);
        wait.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wait));
        QVERIFY(cancel->isHidden()); // opening a camera cannot be cancelled

        wait.setCancellable(true);
        wait.setProgress(0.25);
        QVERIFY(cancel->isVisible());
        QVERIFY(!testenv::saveScreenshot(&wait, QStringLiteral("waiting_cancel")).isEmpty());
        QTest::mouseClick(cancel, Qt::LeftButton);
        QCOMPARE(cancelled.count(), 1);
        QVERIFY(!cancel->isEnabled());
        QTest::mouseClick(cancel, Qt::LeftButton);
        QTest::keyClick(&wait, Qt::Key_Escape);
        QCOMPARE(cancelled.count(), 1);
        QVERIFY(wait.isVisible()); // Escape does not hide the window while the work goes on

        // The next cancellable job gets a usable button again; Escape then cancels it.
        wait.setCancellable(true);
        QVERIFY(cancel->isEnabled());
        QTest::keyClick(&wait, Qt::Key_Escape);
        QCOMPARE(cancelled.count(), 2);
        wait.setCancellable(false);
        QVERIFY(cancel->isHidden());

        installLanguage(QStringLiteral("zh"));
        {
            WaitingWin zh(&parent, WaitingWin::Shape::MaskedCard);
            zh.setCancellable(true);
            zh.setProgress(0.6);
            zh.show();
            QVERIFY(QTest::qWaitForWindowExposed(&zh));
            QCOMPARE(zh.findChild<QPushButton*>(QStringLiteral("pb_cancel"))->text(), QString::fromUtf8("取消"));
            QVERIFY(!testenv::saveScreenshot(&zh, QStringLiteral("waiting_cancel_zh")).isEmpty());
        }
        for (QTranslator* t : qApp->findChildren<QTranslator*>())
            delete t;
    }

    // Without a compositing manager: an opaque card cut to its rounded shape, nothing black.
    void waitingWindowMaskedCard() {
        QWidget parent;
        parent.resize(800, 600);
        parent.setStyleSheet(QStringLiteral("background: #202020;"));
        parent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&parent));
        WaitingWin wait(&parent, WaitingWin::Shape::MaskedCard);
        QVERIFY(!wait.testAttribute(Qt::WA_TranslucentBackground));
        wait.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wait));
        auto* animation = wait.findChild<QLabel*>(QStringLiteral("label_waiting"));
        auto* cancel = wait.findChild<QPushButton*>(QStringLiteral("pb_cancel"));
        const QRegion bare = wait.mask();
        QVERIFY(!bare.isEmpty());
        QVERIFY(bare.boundingRect().contains(animation->geometry()));
        QVERIFY(!bare.contains(QPoint(0, 0)));

        wait.setProgress(0.5);
        wait.setCancellable(true);
        const QRegion full = wait.mask();
        QVERIFY(full.boundingRect().contains(cancel->geometry()));
        QVERIFY(full.boundingRect().height() > bare.boundingRect().height());
        const QRect card = full.boundingRect();
        QVERIFY(!full.contains(card.topLeft())); // rounded corners
        QVERIFY(full.contains(card.center()));

        QTest::qWait(50);
        const QImage shot = wait.grab().toImage();
        const QPoint inside = card.topLeft() + QPoint(14, card.height() / 2);
        QCOMPARE(shot.pixelColor(inside), QColor(Qt::white));
        QVERIFY(!testenv::saveScreenshot(&wait, QStringLiteral("waiting_masked")).isEmpty());
    }

    void popWidgetStacks() {
        PopWidget pop;
        auto* a = new QLabel(QStringLiteral("a"));
        auto* b = new QLabel(QStringLiteral("b"));
        pop.addWidget(a);
        pop.addWidget(b);
        pop.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pop));
        QVERIFY(a->isVisible() && b->isVisible());
        QVERIFY(a->y() < b->y());
    }
};

NR_QTEST_MAIN(TestFeedbackWidgets)
#include "tst_feedbackwidgets.moc"
