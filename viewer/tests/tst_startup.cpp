// Start-up pieces: language switch, embedded font, message log, start dialog.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include "TestEnv.h"
#include "startup.h"
#include "ui/initdialog.h"

class TestStartup : public QObject {
    Q_OBJECT
private:
    static void removeTranslators() {
        for (QTranslator* t : qApp->findChildren<QTranslator*>())
            delete t; // a deleted translator leaves the application
    }

private slots:
    void cleanup() { removeTranslators(); }

    void languageSwitch_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("file");
        QTest::newRow("zh") << "zh" << QString::fromUtf8("文件");
        QTest::newRow("en") << "en" << "File";
        QTest::newRow("upper-case ZH") << "ZH" << "File";
        QTest::newRow("empty") << "" << "File";
    }
    void languageSwitch() {
        QFETCH(QString, language);
        QFETCH(QString, file);
        installLanguage(language);
        // A translator is installed in every case: English has its own file.
        QCOMPARE(qApp->findChildren<QTranslator*>().size(), 1);
        QCOMPARE(QCoreApplication::translate("MainWidget", "File"), file);
    }

    void chineseFileLoads() {
        QTranslator t;
        QVERIFY(t.load(QStringLiteral(":/app_zh.qm")));
        QVERIFY(!t.isEmpty());
        QCOMPARE(t.translate("InitDialog", "Version: "), QString::fromUtf8("版本："));
    }

    void embeddedFont() {
        if (!QFile::exists(QStringLiteral(":/font/NotoSansSC-Medium.ttf")))
            QSKIP("built without the interface font");
        const QString family = installApplicationFont();
        QCOMPARE(family, QStringLiteral("Noto Sans SC Medium"));
        QCOMPARE(QApplication::font().family(), family);
        QCOMPARE(QApplication::font().hintingPreference(), QFont::PreferNoHinting);
        // The cut-down font still has the interface's Chinese characters.
        const QFontMetrics metrics(QFont(family, 12));
        QVERIFY(metrics.inFontUcs4(0x6587)); // 文
        QVERIFY(metrics.inFontUcs4('A'));
    }

    void recordingArgument() {
        QCOMPARE(recordingFromArguments({"viewer"}), QString());
        QCOMPARE(recordingFromArguments({"viewer", "--reverse", "/data/a b.raw"}), QStringLiteral("/data/a b.raw"));
        QCOMPARE(recordingFromArguments({"viewer", "x.raw", "y.raw"}), QStringLiteral("x.raw"));
        // a camera's serial is not a recording
        QCOMPARE(recordingFromArguments({"viewer", "--camera", "SIM-DVS-0001"}), QString());
        QCOMPARE(recordingFromArguments({"viewer", "--camera", "SIM-DVS-0001", "a.raw"}), QStringLiteral("a.raw"));
        QCOMPARE(cameraFromArguments({"viewer", "a.raw", "--camera", "SIM-DVS-0001"}), QStringLiteral("SIM-DVS-0001"));
        QCOMPARE(cameraFromArguments({"viewer", "--camera"}), QString());
    }

    void messageLogAppendsLines() {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString old = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tmp.path()));
        const QMessageLogContext context;
        nrMessageHandler(QtDebugMsg, context, QStringLiteral("first"));
        nrMessageHandler(QtCriticalMsg, context, QString::fromUtf8("第二 line"));
        QDir::setCurrent(old);

        QFile log(tmp.path() + QStringLiteral("/debug.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromLocal8Bit(log.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}: "));
        QVERIFY(stamp.match(lines[0]).hasMatch());
        QVERIFY(lines[0].endsWith(QStringLiteral(": first")));
        QVERIFY(lines[1].endsWith(QString::fromUtf8(": 第二 line")));
    }

    void messageLogDropsWhenUnwritable() {
        QTemporaryDir tmp;
        const QString old = QDir::currentPath();
        QVERIFY(QDir::setCurrent(tmp.path()));
        QVERIFY(QDir().mkdir(QStringLiteral("debug.log"))); // a folder where the file should be
        nrMessageHandler(QtDebugMsg, QMessageLogContext(), QStringLiteral("lost"));
        QDir::setCurrent(old);
        QVERIFY(QFileInfo(tmp.path() + QStringLiteral("/debug.log")).isDir());
    }

    void initDialogClosesAfterTwoSeconds() {
        InitDialog dialog;
        QElapsedTimer clock;
        clock.start();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* version = dialog.findChild<QLabel*>(QStringLiteral("lb_version"));
        QVERIFY(version);
        QCOMPARE(version->text(), QStringLiteral("Version: 1.2.2"));
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 10000);
        // A coarse timer may fire up to 5 % early.
        QVERIFY(clock.elapsed() >= InitDialog::kShowMs * 95 / 100 - 10);
    }

    void initDialogCloseButtonEndsTheWait() {
        InitDialog dialog;
        auto* close = dialog.findChild<QPushButton*>(QStringLiteral("btn_close"));
        QVERIFY(close);
        QTimer::singleShot(100, close, [close] { QTest::mouseClick(close, Qt::LeftButton); });
        QElapsedTimer clock;
        clock.start();
        dialog.exec();
        QVERIFY(clock.elapsed() < InitDialog::kShowMs);
    }

    void initDialogScreenshots() {
        installApplicationFont();
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
            installLanguage(language);
            InitDialog dialog;
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QVERIFY(!testenv::saveScreenshot(&dialog, QStringLiteral("init_dialog_") + language).isEmpty());
            removeTranslators();
        }
    }
};

NR_QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
