// The main window's shell: its widgets, window buttons, centring, and screenshots in both languages.
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QTranslator>
#include <QWindow>
#include <QtTest>

#include "TestEnv.h"
#include "startup.h"
#include "ui/mainwidget.h"
#include "widgets/nrtooltip.h"
#include "widgets/nrtooltipinstaller.h"
#include "ui/showimageform.h"
#include "widgets/nrwindowagent.h"

class TestMainWidget : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { installApplicationFont(); }

    void formHasTheNamedWidgets() {
        MainWidget w;
        for (const char* name :
             {"pb_logo_button", "pb_menu_file", "pb_menu_device",
              "pb_menu_setting", "pb_menu_tools", "pb_menu_help", "pb_win_min", "pb_win_max", "pb_win_close",
              "pb_play", "pb_prv", "pb_next", "pb_stop", "pb_loop", "pb_record", "pb_viewer_type",
              "pb_viewer_setting", "pb_fold_setting", "pb_fold_dvs_setting", "pb_fold_aps_setting",
              "pb_fold_general_setting"})
            QVERIFY2(w.findChild<QPushButton*>(QLatin1String(name)), name);
        for (const char* name : {"lb_recoding_time", "lb_viewer_file_name", "label_show_timestamp_info",
                                 "label_show_camera_info", "label_time", "lb_status_bar"})
            QVERIFY2(w.findChild<QLabel*>(QLatin1String(name)), name);
        QVERIFY(w.findChild<QWidget*>(QStringLiteral("widget_title_bar")));
        QVERIFY(w.findChild<QWidget*>(QStringLiteral("widget_title_space")));
        QVERIFY(w.findChild<QLayout*>(QStringLiteral("layout_time_slider")));
        QVERIFY(w.findChild<QLayout*>(QStringLiteral("layout_sidebar_setting")));
        auto* frame = w.findChild<QFrame*>(QStringLiteral("frame_setting"));
        QVERIFY(frame);
        QCOMPARE(frame->maximumWidth(), 500);
        QCOMPARE(w.findChild<ShowImageForm*>(QStringLiteral("widget_show_image")), w.imageView());
        QVERIFY(w.findChild<QPushButton*>(QStringLiteral("pb_play"))->isCheckable());
        QCOMPARE(w.findChild<QPushButton*>(QStringLiteral("pb_play"))->toolTip(), QStringLiteral("Play/Stop"));
        for (const char* name : {"pb_play", "pb_record", "pb_prv", "pb_next", "pb_stop", "pb_loop"})
            QVERIFY2(NrToolTipInstaller::of(w.findChild<QPushButton*>(QLatin1String(name))), name);

        NrWindowAgent* agent = w.windowAgent();
        QCOMPARE(agent->systemButton(NrWindowAgent::WindowIcon), w.findChild<QWidget*>("pb_logo_button"));
        QCOMPARE(agent->systemButton(NrWindowAgent::Minimize), w.findChild<QWidget*>("pb_win_min"));
        QCOMPARE(agent->systemButton(NrWindowAgent::Maximize), w.findChild<QWidget*>("pb_win_max"));
        QCOMPARE(agent->systemButton(NrWindowAgent::Close), w.findChild<QWidget*>("pb_win_close"));
        QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(w.testAttribute(Qt::WA_TranslucentBackground));
    }

    void centredWhenShown() {
        MainWidget w;
        w.resize(700, 500);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(w.pos(), QPoint((area.width() - w.width()) / 2, (area.height() - w.height()) / 2));
    }

    void windowButtons() {
        MainWidget w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto* max = w.findChild<QPushButton*>(QStringLiteral("pb_win_max"));
        auto* titleBar = w.findChild<QWidget*>(QStringLiteral("widget_title_bar"));
        QCOMPARE(max->property("type").toString(), QStringLiteral("maxsize"));
        QCOMPARE(titleBar->property("window_maximized").toBool(), false);

        QTest::mouseClick(max, Qt::LeftButton);
        QTRY_VERIFY(w.isMaximized());
        QCOMPARE(max->property("type").toString(), QStringLiteral("restore"));
        QCOMPARE(titleBar->property("window_maximized").toBool(), true);

        QTest::mouseClick(max, Qt::LeftButton);
        QTRY_VERIFY(!w.isMaximized());
        QCOMPARE(max->property("type").toString(), QStringLiteral("maxsize"));

        // A drag on the title bar's free area moves the main window.
        auto* space = w.findChild<QWidget*>(QStringLiteral("widget_title_space"));
        const QPoint from = space->mapTo(&w, QPoint(10, space->height() / 2));
        QVERIFY(w.windowAgent()->isInTitleBar(from));
        const QPoint before = w.pos();
        QTest::mousePress(w.windowHandle(), Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(w.windowHandle(), from + QPoint(30, 20));
        QTest::mouseRelease(w.windowHandle(), Qt::LeftButton, Qt::NoModifier, from);
        QTRY_COMPARE(w.pos(), before + QPoint(30, 20));

        QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("pb_win_min")), Qt::LeftButton);
        QTRY_VERIFY(w.isMinimized());
        w.showNormal();
        QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("pb_win_close")), Qt::LeftButton);
        QTRY_VERIFY(!w.isVisible());
    }

    void screenshots() {
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
            installLanguage(language);
            {
                MainWidget w;
                w.resize(1280, 800);
                w.show();
                QVERIFY(QTest::qWaitForWindowExposed(&w));
                QCOMPARE(w.findChild<QPushButton*>(QStringLiteral("pb_menu_file"))->text(),
                         language == QLatin1String("zh") ? QString::fromUtf8("文件") : QStringLiteral("File"));
                QVERIFY(!testenv::saveScreenshot(&w, QStringLiteral("main_window_") + language).isEmpty());
                w.showMaximized();
                QTRY_VERIFY(w.isMaximized());
                QTest::qWait(50);
                QVERIFY(!testenv::saveScreenshot(&w, QStringLiteral("main_window_maximized_") + language)
                             .isEmpty());
            }
            for (QTranslator* t : qApp->findChildren<QTranslator*>())
                delete t;
        }
    }
};

NR_QTEST_MAIN(TestMainWidget)
#include "tst_mainwidget.moc"
