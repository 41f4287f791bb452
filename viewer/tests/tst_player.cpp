// The recording player end to end: the main window with the real event processor and driver on
// small generated recordings. The file dialog, the modal dialogs and the restart are replaced.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <functional>

#include "ScriptedWindow.h"
#include "TestEnv.h"
#include "loadconfig.h"
#include "norvale/ApsFileReader.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventGenerator.h"
#include "processing/nreventsproccess.h"
#include "startup.h"
#include "tools/nrcutrawfile.h"
#include "tools/nrexportvideoui.h"
#include "tools/nrfilepathreminderform.h"
#include "ui/mainwidget.h"
#include "ui/workerthread.h"
#include "widgets/nrmessagebox.h"
#include "ui/showimageform.h"
#include "widgets/nrthreehandleslider.h"
#include "widgets/nrtoaststack.h"
#include "widgets/waitingwin.h"

namespace {

class TestWindow : public MainWidget {
public:
    QString nextFile;
    std::function<int(QDialog*)> onDialog;
    int dialogs = 0;
    int restarts = 0;

protected:
    QString chooseRecordingFile() override { return nextFile; }
    int execDialog(QDialog* dialog) override {
        ++dialogs;
        return onDialog ? onDialog(dialog) : int(QDialog::Rejected);
    }
    void restartApplication() override { ++restarts; }
};

constexpr uint64_t kDurationUs = 2000000;

template <class T>
T* child(QObject* parent, const char* name) {
    return parent->findChild<T*>(QLatin1String(name));
}

QPushButton* button(QWidget* w, const char* name) { return child<QPushButton>(w, name); }

QAction* actionNamed(QWidget* w, const char* menu, const QString& text) {
    for (QAction* a : child<QMenu>(w, menu)->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

QList<NrFilePathReminderForm*> toasts(QWidget* w) {
    QList<NrFilePathReminderForm*> out;
    for (auto* t : w->findChildren<NrFilePathReminderForm*>())
        if (t->isVisible())
            out << t;
    return out;
}

QString toastText(NrFilePathReminderForm* t) { return child<QLabel>(t, "lb_show_tips")->text(); }

bool hasToast(QWidget* w, const QString& text) {
    for (auto* t : toasts(w))
        if (toastText(t).contains(text))
            return true;
    return false;
}

void clearToasts(QWidget* w) {
    for (auto* t : w->findChildren<NrFilePathReminderForm*>())
        delete t;
}

// The window with a pop-up menu painted where it opened.
QImage grabWithPopup(QWidget* window, QWidget* popup) {
    QImage image = window->grab().toImage();
    QPainter painter(&image);
    painter.drawPixmap(window->mapFromGlobal(popup->pos()), popup->grab());
    return image;
}

void saveImage(const QImage& image, const QString& name) {
    const QString dir = QStringLiteral(NORVALE_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    QVERIFY(image.save(dir + QLatin1Char('/') + name + QStringLiteral(".png")));
}

} // namespace

// Waits on playback are generous: a sanitizer build on a machine busy with other work plays
// slowly, and a test asserts what the code controls, never how fast it ran.
constexpr int kWaitMs = 30000;

class TestPlayer : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString recording;
    LoadConfig* config = nullptr;

    std::unique_ptr<TestWindow> openWindow(const QString& file) {
        auto w = std::make_unique<TestWindow>();
        w->resize(1280, 800);
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()))
            return nullptr;
        if (file.isEmpty())
            return w;
        w->nextFile = file;
        w->findChild<QAction*>(QStringLiteral("action_open_recording"))->trigger();
        if (!QTest::qWaitFor([&] { return button(w.get(), "pb_play")->isChecked(); }, kWaitMs))
            return nullptr;
        return w;
    }

    // Stops playback and takes what the player left: its stop waits until the last frame is
    // handed over, so that frame and its position are already waiting for this thread (however
    // busy the machine) and nothing moves the position afterwards.
    static void pause(TestWindow& w) {
        if (button(&w, "pb_play")->isChecked())
            QTest::mouseClick(button(&w, "pb_play"), Qt::LeftButton);
        QTRY_VERIFY(!button(&w, "pb_play")->isChecked());
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents();
        }
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        installApplicationFont();
        config = LoadConfig::getGlobalConfig();
        config->videoSavePath = tmp.path();
        config->outputRawFilePath = tmp.filePath(QStringLiteral("recordings")); // cuts go with recordings
        QVERIFY(QDir().mkpath(config->outputRawFilePath));
        recording = tmp.filePath(QStringLiteral("two_seconds.raw"));
        norvale::GeneratorConfig gen;
        gen.eventRate = 3e5;
        gen.triggerHz = 2;
        gen.startTimestamp = 1000;
        QVERIFY(norvale::generateRecordingFile(recording.toStdString(), gen, kDurationUs));
    }

    void cleanup() {
        for (QTranslator* t : qApp->findChildren<QTranslator*>())
            delete t;
    }

    // Empty window: nothing to step, and the buttons of sources not built yet are hidden (the
    // Device menu opens cameras, the Tools menu has the Ethernet tool; record comes with a camera).
    void emptyWindow() {
        auto w = openWindow(QString());
        QVERIFY(w);
        QVERIFY(!button(w.get(), "pb_menu_device")->isHidden());
        QVERIFY(!button(w.get(), "pb_menu_tools")->isHidden());
        for (const char* name : {"pb_record", "pb_viewer_type"})
            QVERIFY2(button(w.get(), name)->isHidden(), name);
        for (const char* name : {"pb_prv", "pb_next", "pb_stop", "pb_loop"})
            QVERIFY2(!button(w.get(), name)->isEnabled(), name);
        QVERIFY(!w->timeSlider()->isEnabled());
        QVERIFY(!w->findChild<QAction*>(QStringLiteral("action_save_as"))->isVisible());
        QTest::keyClick(w.get(), Qt::Key_Space); // nothing to play
        QVERIFY(!button(w.get(), "pb_play")->isChecked());
        QCOMPARE(w->sourceType(), int(NrSourceNone));
    }

    void openPlayPauseStepAndKeys() {
        auto w = openWindow(recording);
        QVERIFY(w);
        NrThreeHandleSlider* slider = w->timeSlider();
        QCOMPARE(w->sourceType(), int(NrSourceDvsRecording));
        QCOMPARE(child<QLabel>(w.get(), "lb_viewer_file_name")->text(),
                 QStringLiteral("two_seconds.raw \u2014 EVT 3.0"));
        QCOMPARE(config->inputRawFilePath, tmp.path());
        QVERIFY(slider->isEnabled());
        QVERIFY(slider->getMinimun() >= 1000 && slider->getMinimun() < 2000);
        QVERIFY(slider->getMaximun() > 1000 + kDurationUs - 50000);
        QVERIFY(slider->hasRateProfile());
        QCOMPARE(int(slider->getTags().size()), 8); // 2 Hz, two edges per pulse, 2 s
        QCOMPARE(slider->getTags().front().color, QColor(QStringLiteral("#FF6058")));
        QVERIFY(w->findChild<QAction*>(QStringLiteral("action_save_as"))->isVisible());
        QVERIFY(w->findChild<QAction*>(QStringLiteral("action_cut"))->isVisible());

        // Playback runs by itself and moves the position and its label.
        const uint64_t early = slider->getCenterValue();
        QTRY_VERIFY_WITH_TIMEOUT(slider->getCenterValue() > early + 100000, kWaitMs);
        QVERIFY(child<QLabel>(w.get(), "label_time")->text().contains(QLatin1Char('/')));

        pause(*w);
        const uint64_t paused = slider->getCenterValue();
        QTest::qWait(150);
        QCOMPARE(slider->getCenterValue(), paused);

        QTest::mousePress(button(w.get(), "pb_next"), Qt::LeftButton);
        QTest::mouseRelease(button(w.get(), "pb_next"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(slider->getCenterValue() > paused, kWaitMs);
        const uint64_t stepped = slider->getCenterValue();
        QTest::mousePress(button(w.get(), "pb_prv"), Qt::LeftButton);
        QTest::mouseRelease(button(w.get(), "pb_prv"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(slider->getCenterValue() < stepped, kWaitMs);

        // Keys: Right and Left step, Space plays and pauses.
        const uint64_t before = slider->getCenterValue();
        QTest::keyClick(w.get(), Qt::Key_Right);
        QTRY_VERIFY_WITH_TIMEOUT(slider->getCenterValue() > before, kWaitMs);
        QTest::keyClick(w.get(), Qt::Key_Left);
        QTRY_COMPARE_WITH_TIMEOUT(slider->getCenterValue(), before, kWaitMs);
        QTest::keyClick(w.get(), Qt::Key_Space);
        QVERIFY(button(w.get(), "pb_play")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(slider->getCenterValue() > before + 100000, kWaitMs);
        QTest::keyClick(w.get(), Qt::Key_Space);
        QVERIFY(!button(w.get(), "pb_play")->isChecked());

        // Reset goes back to the first frame.
        QTest::mousePress(button(w.get(), "pb_stop"), Qt::LeftButton);
        QTest::mouseRelease(button(w.get(), "pb_stop"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(slider->getCenterValue() < slider->getMinimun() + 40000, kWaitMs);
    }

    void seekTrimAndLoop() {
        auto w = openWindow(recording);
        QVERIFY(w);
        pause(*w);
        NrThreeHandleSlider* slider = w->timeSlider();
        const uint64_t lo = slider->getMinimun(), hi = slider->getMaximun();
        const uint64_t span = hi - lo;

        // A click on the track seeks there.
        const uint64_t target = lo + span / 2;
        QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier,
                          QPoint(slider->centerXOfValue(target), slider->height() / 2));
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(qint64(slider->getCenterValue() - target)) < qint64(span / 50), kWaitMs);
        QVERIFY(!button(w.get(), "pb_play")->isChecked());

        // Trim handles from the viewer menu, dragged to a quarter and three quarters.
        QAction* trim = w->findChild<QAction*>(QStringLiteral("action_toggle_trim"));
        QVERIFY(trim && trim->isCheckable());
        trim->trigger();
        const auto drag = [&](int from, int to) {
            const int y = slider->height() / 2;
            QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(from, y));
            QMouseEvent move(QEvent::MouseMove, QPointF(to, y), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(slider, &move);
            QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(to, y));
        };
        drag(slider->lowerHandleX() + 3, slider->centerXOfValue(lo + span / 4));
        drag(slider->upperHandleX() + 3, slider->centerXOfValue(lo + span * 5 / 8));
        const uint64_t lower = slider->getLowerValue(), upper = slider->getUpperValue();
        QVERIFY(lower > lo + span / 5 && lower < lo + span * 3 / 10);
        QVERIFY(upper > lo + span * 3 / 5 && upper < lo + span * 2 / 3);

        // Reset goes to the trim start; playing stops at the trim end.
        QTest::mousePress(button(w.get(), "pb_stop"), Qt::LeftButton);
        QTest::mouseRelease(button(w.get(), "pb_stop"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(slider->getCenterValue() >= lower && slider->getCenterValue() < lower + 40000, kWaitMs);
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!button(w.get(), "pb_play")->isChecked(), kWaitMs);
        QVERIFY(slider->getCenterValue() <= upper);

        QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("player_trimmed_en")).isEmpty());

        // Loop: playback wraps to the trim start instead of stopping.
        QTest::mouseClick(button(w.get(), "pb_loop"), Qt::LeftButton);
        QVERIFY(button(w.get(), "pb_loop")->isChecked());
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton);
        uint64_t last = slider->getCenterValue();
        bool wrapped = false;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const uint64_t now = slider->getCenterValue();
                wrapped = wrapped || now + 100000 < last;
                last = now;
                return wrapped;
            }(),
            kWaitMs);
        QVERIFY(button(w.get(), "pb_play")->isChecked());
        pause(*w);
        QVERIFY(slider->getCenterValue() >= lower && slider->getCenterValue() <= upper);
    }

    void exportAndCutThroughTheirDialogs() {
        auto w = openWindow(recording);
        QVERIFY(w);
        pause(*w);
        NrThreeHandleSlider* slider = w->timeSlider();
        const uint64_t start = slider->getMinimun() + 200000, end = start + 300000;
        QSignalSpy progress(w->eventProcessor(), &NrEventProcessor::signalProgress);
        QString seenFolder;
        bool sawBounds = false;
        w->onDialog = [&](QDialog* d) {
            auto* range = qobject_cast<NrTimeRangeDialog*>(d);
            if (!range)
                return int(QDialog::Rejected);
            seenFolder = range->getSaveFilePath();
            sawBounds = range->getStartTime() == slider->getLowerValue() && range->getEndTime() == slider->getUpperValue();
            range->setStartTime(start);
            range->setEndTime(end);
            const bool video = qobject_cast<NrExportVideoUI*>(d) != nullptr;
            range->setSaveFileName(video ? QStringLiteral("clip.mp4") : QStringLiteral("cut.raw"));
            range->show();
            testenv::saveScreenshot(range, video ? QStringLiteral("dialog_export_en") : QStringLiteral("dialog_cut_en"));
            QTest::mouseClick(child<QPushButton>(range, "pb_save"), Qt::LeftButton);
            return range->result();
        };

        QAction* saveAs = w->findChild<QAction*>(QStringLiteral("action_save_as"));
        saveAs->trigger();
        QCOMPARE(w->dialogs, 1);
        QCOMPARE(seenFolder, tmp.path());
        QVERIFY(sawBounds);
        QTRY_VERIFY_WITH_TIMEOUT(hasToast(w.get(), QStringLiteral("Export video success!")), 60000);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toDouble(), 1.0);
        QCOMPARE(child<QLabel>(w->waitingWindow(), "lb_progress")->text(), QStringLiteral("100%"));
        QTRY_VERIFY(!w->waitingWindow()->isVisible());
        auto video = norvale::ApsFileReader::createFileReader(tmp.filePath(QStringLiteral("clip.mp4")).toStdString());
        QVERIFY(video);
        QCOMPARE(video->getWidth(), 1280);
        QVERIFY(video->getFrameCount() >= 8 && video->getFrameCount() <= 11); // 0.3 s at 33 fps

        w->findChild<QAction*>(QStringLiteral("action_cut"))->trigger();
        QCOMPARE(w->dialogs, 2);
        QCOMPARE(seenFolder, config->outputRawFilePath);
        QTRY_VERIFY_WITH_TIMEOUT(hasToast(w.get(), QStringLiteral("Export raw file success!")), 30000);
        auto cut = norvale::DvsFileReader::createFileReader(
            (config->outputRawFilePath + QStringLiteral("/cut.raw")).toStdString());
        QVERIFY(cut && cut->prepareFile());
        uint64_t first = 0, lastTs = 0;
        QVERIFY(cut->getStartTimestamp(first) && cut->getEndTimestamp(lastTs));
        QVERIFY(first >= start && lastTs <= end && lastTs > first + 250000);

        // A cancelled dialog sends nothing.
        QSignalSpy exports(w.get(), &MainWidget::signalExportVideo);
        w->onDialog = [](QDialog*) { return int(QDialog::Rejected); };
        saveAs->trigger();
        QCOMPARE(exports.count(), 0);
    }

    void exportWithoutRecordingWarns() {
        auto w = openWindow(QString());
        QVERIFY(w);
        QVERIFY(QMetaObject::invokeMethod(w.get(), "slotSaveAs"));
        QVERIFY(QMetaObject::invokeMethod(w.get(), "slotCutRecording"));
        QCOMPARE(w->dialogs, 0);
        QTRY_COMPARE(toasts(w.get()).size(), 2);
        QCOMPARE(toastText(toasts(w.get()).first()), QStringLiteral("Please open a raw file first."));
    }

    void languageSwitch() {
        auto w = openWindow(QString());
        QVERIFY(w);
        const QString language = config->language;
        QString text, accept, reject;
        int answer = QDialog::Rejected;
        w->onDialog = [&](QDialog* d) {
            auto* box = qobject_cast<NRMessageBox*>(d);
            if (!box)
                return int(QDialog::Rejected);
            text = child<QLabel>(box, "lb_show_message")->text();
            accept = child<QPushButton>(box, "pb_open")->text();
            reject = child<QPushButton>(box, "pb_close")->text();
            return answer;
        };
        QAction* switchAction = actionNamed(w.get(), "menu_setting", QString::fromUtf8("EN/中文"));
        QVERIFY(switchAction);
        switchAction->trigger();
        QCOMPARE(text, QStringLiteral("The language change will take effect after restart."));
        QCOMPARE(accept, QStringLiteral("Restart"));
        QCOMPARE(reject, QStringLiteral("Later"));
        QCOMPARE(config->language, language); // "Later" changes nothing
        QCOMPARE(w->restarts, 0);

        answer = QDialog::Accepted;
        switchAction->trigger();
        QCOMPARE(config->language, language == QLatin1String("en") ? QStringLiteral("zh") : QStringLiteral("en"));
        QCOMPARE(w->restarts, 1);
        config->language = language;
        config->saveConfig();
    }

    // Each kind of tip sits at the image view's lower-left corner; no folder, no folder button.
    void toastsAtTheLowerLeft() {
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
            installLanguage(language);
            auto w = openWindow(QString());
            QVERIFY(w);
            const struct {
                NrMessageType type;
                const char* name;
                QString path;
            } kinds[] = {{NrMessageSuccess, "success", tmp.path()}, {NrMessageWarning, "warning", QString()},
                         {NrMessageError, "error", QString()}};
            for (const auto& kind : kinds) {
                w->slotShowLeftBottomTips(QStringLiteral("Tip of kind ") + QLatin1String(kind.name), kind.type, kind.path);
                const auto shown = toasts(w.get());
                QCOMPARE(shown.size(), 1);
                // In the image view's lower-left corner, clear of the play bar below it.
                const QRect view(w->imageView()->mapTo(w.get(), QPoint(0, 0)), w->imageView()->size());
                QCOMPARE(shown.first()->geometry().bottomLeft(),
                         view.bottomLeft() + QPoint(NrToastStack::kMargin, -NrToastStack::kMargin));
                QVERIFY(!shown.first()->geometry().intersects(
                    child<QWidget>(w.get(), "widget_play_bar")->geometry().translated(
                        child<QWidget>(w.get(), "widget_play_bar")->parentWidget()->mapTo(w.get(), QPoint(0, 0)))));
                QCOMPARE(child<QPushButton>(shown.first(), "pb_open_dir")->isVisible(), !kind.path.isEmpty());
                QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("toast_%1_%2").arg(kind.name, language)).isEmpty());
                clearToasts(w.get());
            }
            cleanup();
        }
    }

    // Damaged files never crash the viewer: they show what can be read or the error tip.
    void damagedRecordings() {
        QFile whole(recording);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        const int headerEnd = bytes.indexOf("% end\n") + 6;
        QVERIFY(headerEnd > 6);
        QRandomGenerator rng(8);
        const auto write = [&](const QString& name, const QByteArray& data) {
            QFile f(tmp.filePath(name));
            f.open(QIODevice::WriteOnly);
            f.write(data);
            return f.fileName();
        };
        QByteArray noise = bytes.left(headerEnd);
        for (int i = 0; i < 200000; ++i)
            noise.append(char(rng.bounded(256)));
        const QString truncated = write(QStringLiteral("truncated.raw"),
                                        bytes.left(headerEnd + int(rng.bounded(uint(bytes.size() - headerEnd)))));
        const QString random = write(QStringLiteral("random.raw"), noise);
        const QString empty = write(QStringLiteral("empty.raw"), QByteArray());
        const QString text = write(QStringLiteral("notes.raw"), QByteArray("these are notes, not events\n"));

        auto w = openWindow(QString());
        QVERIFY(w);
        for (const QString& path : {empty, text}) {
            w->openRecording(path);
            const QString tip = QStringLiteral("Cannot open the recording: ") + QFileInfo(path).fileName();
            QTRY_VERIFY_WITH_TIMEOUT(hasToast(w.get(), tip), kWaitMs);
            QVERIFY(!button(w.get(), "pb_play")->isChecked());
            if (path == empty)
                QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("player_damaged_en")).isEmpty());
            clearToasts(w.get());
        }
        for (const QString& path : {truncated, random}) {
            w->openRecording(path);
            const QString tip = QStringLiteral("Cannot open the recording: ") + QFileInfo(path).fileName();
            QTRY_VERIFY_WITH_TIMEOUT(hasToast(w.get(), tip) || button(w.get(), "pb_play")->isChecked(), kWaitMs);
            if (button(w.get(), "pb_play")->isChecked()) // readable part: it plays within its range
                QVERIFY(w->timeSlider()->getMaximun() >= w->timeSlider()->getMinimun());
            pause(*w);
            clearToasts(w.get());
        }
        // The window still plays a good recording afterwards.
        w->nextFile = recording;
        QVERIFY(QMetaObject::invokeMethod(w.get(), "slotOpenRecording"));
        QTRY_VERIFY_WITH_TIMEOUT(button(w.get(), "pb_play")->isChecked(), kWaitMs);
        QCOMPARE(int(w->timeSlider()->getTags().size()), 8); // no tags left over from before
    }

    // A drop of a ".raw" with an ".mp4" beside it opens a fusion recording (here with a video that
    // cannot be read: a note says so and nothing plays); a ".raw" alone opens a DVS recording.
    void dropAndFusionPairOpen() {
        const QString pair = tmp.filePath(QStringLiteral("pair.raw"));
        QFile::remove(pair);
        QVERIFY(QFile::copy(recording, pair));
        QFile mp4(tmp.filePath(QStringLiteral("pair.mp4")));
        QVERIFY(mp4.open(QIODevice::WriteOnly));
        mp4.close();

        auto w = openWindow(QString());
        QVERIFY(w);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(tmp.filePath(QStringLiteral("notes.txt")))});
        QDragEnterEvent refused(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &refused);
        QVERIFY(!refused.isAccepted());

        auto drop = [&](const QString& path) {
            data.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(w.get(), &enter);
            QVERIFY(enter.isAccepted());
            QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(w.get(), &dropped);
        };
        drop(pair);
        QCOMPARE(w->sourceType(), int(NrSourceFusionRecording));
        QCOMPARE(child<QLabel>(w.get(), "lb_viewer_file_name")->text(), QStringLiteral("pair.raw \u2014 EVT 3.0"));
        QVERIFY(!w->findChild<QAction*>(QStringLiteral("action_cut"))->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(hasToast(w.get(), QStringLiteral("Cannot open the recording: pair.mp4")), kWaitMs);
        QVERIFY(!button(w.get(), "pb_play")->isChecked());

        drop(recording);
        QCOMPARE(w->sourceType(), int(NrSourceDvsRecording));
        QTRY_VERIFY_WITH_TIMEOUT(button(w.get(), "pb_play")->isChecked(), kWaitMs);
        QVERIFY(w->findChild<QAction*>(QStringLiteral("action_cut"))->isVisible());
    }

    // A CSV recording opens, plays and steps like a raw one; the dialog offers every format.
    void csvRecordingPlays() {
        const QStringList filters = MainWidget::recordingFileFilters().split(QStringLiteral(";;"));
        QVERIFY(filters.first().startsWith(QStringLiteral("All event files (*.raw ")));
        for (const QString& f : {QStringLiteral("*.csv"), QStringLiteral("*.npy"), QStringLiteral("*.h5")})
            QVERIFY2(filters.first().contains(f), qPrintable(f));
        QVERIFY(filters.contains(QStringLiteral("CSV (*.csv *.txt)")));
        QVERIFY(filters.contains(QStringLiteral("NumPy (*.npy)")));

        // The first half of the generated recording's events as text, with no geometry stated.
        std::vector<norvale::Event2D> events;
        {
            auto raw = norvale::DvsFileReader::createFileReader(recording.toStdString());
            QVERIFY(raw && raw->prepareFile());
            QVERIFY(raw->readRange(0, 1000 + kDurationUs / 2, events));
        }
        const QString csv = tmp.filePath(QStringLiteral("clip.csv"));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QByteArray text("t,x,y,p\n");
        for (const norvale::Event2D& e : events)
            text += QByteArray::number(qulonglong(e.timestamp)) + ',' + QByteArray::number(e.x) + ',' +
                    QByteArray::number(e.y) + ',' + QByteArray::number(e.polarity) + '\n';
        QVERIFY(file.write(text) == text.size());
        file.close();

        auto w = openWindow(csv);
        QVERIFY(w);
        QCOMPARE(w->sourceType(), int(NrSourceDvsRecording));
        QCOMPARE(child<QLabel>(w.get(), "lb_viewer_file_name")->text(), QStringLiteral("clip.csv \u2014 CSV"));
        NrThreeHandleSlider* slider = w->timeSlider();
        uint64_t first = UINT64_MAX, last = 0;
        for (const norvale::Event2D& e : events) {
            first = std::min(first, e.timestamp);
            last = std::max(last, e.timestamp);
        }
        QCOMPARE(slider->getMinimun(), first);
        QCOMPARE(slider->getMaximun(), last);
        QVERIFY(slider->hasRateProfile());
        const uint64_t early = slider->getCenterValue();
        QTRY_VERIFY_WITH_TIMEOUT(slider->getCenterValue() > early + 100000, kWaitMs);
        pause(*w);
        const uint64_t paused = slider->getCenterValue();
        QTest::keyClick(w.get(), Qt::Key_Right);
        QTRY_VERIFY_WITH_TIMEOUT(slider->getCenterValue() > paused, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!w->findChild<ShowImageForm*>()->grab().toImage().isNull(), kWaitMs);
        saveImage(w->grab().toImage(), QStringLiteral("player_csv"));

        // A cut is offered and written as CSV, holding the range's events in file order.
        const uint64_t start = first + 100000, end = start + 150000;
        QString offered;
        w->onDialog = answerRange(start, end, QStringLiteral("clip_cut.csv"), &offered);
        w->findChild<QAction*>(QStringLiteral("action_cut"))->trigger();
        QVERIFY2(offered.endsWith(QStringLiteral(".csv")), qPrintable(offered));
        QTRY_VERIFY_WITH_TIMEOUT(hasToast(w.get(), QStringLiteral("Export raw file success!")), 30000);
        auto cut = norvale::DvsFileReader::createFileReader(
            (config->outputRawFilePath + QStringLiteral("/clip_cut.csv")).toStdString());
        QVERIFY(cut && cut->prepareFile());
        QCOMPARE(int(cut->fileFormat()), int(norvale::EventFileFormat::Csv));
        std::vector<norvale::Event2D> got, want;
        QVERIFY(cut->readRange(0, UINT64_MAX, got));
        for (const norvale::Event2D& e : events)
            if (e.timestamp >= start && e.timestamp <= end)
                want.push_back(e);
        QVERIFY(!want.empty());
        QVERIFY(got == want);
    }

    void workerThreadRunsItsTask() {
        Qt::HANDLE ranOn = nullptr;
        WorkerThread t([&] { ranOn = QThread::currentThreadId(); });
        QSignalSpy done(&t, &WorkerThread::taskCompleted);
        t.start();
        QVERIFY(done.wait(5000));
        t.wait();
        QVERIFY(ranOn && ranOn != QThread::currentThreadId());
    }

    // The windows worth looking at, in both languages.
    void screenshots() {
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
            installLanguage(language);
            {
                auto w = openWindow(QString());
                QVERIFY(w);
                QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("player_empty_") + language).isEmpty());
            }
            auto w = openWindow(recording);
            QVERIFY(w);
            pause(*w);
            w->findChild<QAction*>(QStringLiteral("action_toggle_trim"))->trigger();
            w->eventProcessor()->setPlayPos((w->timeSlider()->getMinimun() + w->timeSlider()->getMaximun()) / 2);
            QTest::qWait(300);
            QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("player_paused_") + language).isEmpty());

            QTest::mouseClick(button(w.get(), "pb_fold_setting"), Qt::LeftButton);
            QVERIFY(child<QWidget>(w.get(), "frame_setting")->isVisible());
            QTest::qWait(50);
            QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("player_sidebar_") + language).isEmpty());
            QTest::mouseClick(button(w.get(), "pb_fold_setting"), Qt::LeftButton);
            QVERIFY(!child<QWidget>(w.get(), "frame_setting")->isVisible());

            for (const char* name : {"file", "setting", "help"}) {
                QPushButton* b = button(w.get(), QByteArray("pb_menu_").append(name).constData());
                QMenu* menu = b->menu();
                menu->popup(b->mapToGlobal(QPoint(0, b->height())));
                QVERIFY(QTest::qWaitForWindowExposed(menu));
                saveImage(grabWithPopup(w.get(), menu), QStringLiteral("menu_%1_%2").arg(QLatin1String(name), language));
                menu->hide();
            }
            QMenu* viewerMenu = child<QMenu>(w.get(), "menu_viewer");
            QTest::mouseClick(button(w.get(), "pb_viewer_setting"), Qt::LeftButton);
            QVERIFY(QTest::qWaitForWindowExposed(viewerMenu));
            saveImage(grabWithPopup(w.get(), viewerMenu), QStringLiteral("menu_viewer_") + language);
            viewerMenu->hide();
            QTRY_VERIFY(!button(w.get(), "pb_viewer_setting")->isChecked());

            w->onDialog = [&](QDialog* d) {
                d->show();
                const bool video = qobject_cast<NrExportVideoUI*>(d) != nullptr;
                testenv::saveScreenshot(d, QStringLiteral("%1_%2").arg(video ? "dialog_export" : "dialog_cut", language));
                return int(QDialog::Rejected);
            };
            w->findChild<QAction*>(QStringLiteral("action_save_as"))->trigger();
            w->findChild<QAction*>(QStringLiteral("action_cut"))->trigger();
            QCOMPARE(w->dialogs, 2);
            w.reset();
            cleanup();
        }
    }
};

NR_QTEST_MAIN(TestPlayer)
#include "tst_player.moc"
