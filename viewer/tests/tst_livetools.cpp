// The main window's live tools end to end, with the real driver's simulated cameras (extra ones from
// a simulated-cameras file in a temporary folder): recording on trigger-in edges with the pre-trigger
// cache, the recording-time label, a bias changed in the DVS panel against the camera's event rate,
// the replay camera, keys on a live camera, the Tools menu, a cancelled export or cut, and a
// recording of another geometry. The modal dialogs are replaced.
#include <QAction>
#include <QElapsedTimer>
#include <QApplication>
#include <QGraphicsScene>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <functional>
#include <mutex>
#include <vector>

#include "LiveWindowKit.h"
#include "TestEnv.h"
#include "Utility/nrfilerecorder.h"
#include "loadconfig.h"
#include "norvale/ApsFileReader.h"
#include "norvale/DvsCamera.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventGenerator.h"
#include "processing/nreventsproccess.h"
#include "settings/settingbasewithlineedit.h"
#include "settings/sidebardvssettingui.h"
#include "startup.h"
#include "tools/nrethcameraconfigtool.h"
#include "tools/nrtimerangedialog.h"
#include "ui/cameraslist.h"
#include "ui/mainwidget.h"
#include "ui/nrdvscamerasource.h"
#include "ui/nrgraphicsview.h"
#include "ui/showimageform.h"
#include "widgets/nrlineedit.h"
#include "widgets/nrthreehandleslider.h"
#include "widgets/waitingwin.h"

namespace {

using livekit::TestWindow;

using livekit::button;
using livekit::label;
using livekit::saveImage;
using livekit::Tips;

NrDvsCameraSource* camera(MainWidget* w) { return qobject_cast<NrDvsCameraSource*>(w->source()); }

void openCamera(TestWindow* w, const char* serial) {
    w->serial = QLatin1String(serial);
    w->findChild<QAction*>(QStringLiteral("action_open_camera"))->trigger();
}

// The event rate of the status bar (" Events: x.x MEv/s "), -1 before the first figures.
double statusEventRate(QWidget* w) {
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Events: (\\d+\\.\\d) MEv/s")).match(label(w, "lb_status_bar")->text());
    return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
}

// Waits on the stream are generous: a sanitizer build on a machine busy with other work streams
// slowly, and a test asserts what the code controls, never how fast it ran.
constexpr int kStreamWaitMs = 20000;

// Events per microsecond of camera time (MEv/s of the sensor) over at least windowUs of camera
// time streamed from now on; -1 when the camera does not stream that far within the wait. Unlike
// the status bar's figure (events a second of the wall clock), this does not depend on how much
// CPU the machine had. A window in which the camera skipped time (more than 2 s behind the clock)
// is started again.
double cameraEventRate(const norvale::DvsCamera& cam, uint64_t windowUs) {
    const auto sample = [&] {
        for (;;) { // the count and the time of the same delivered chunk
            const uint64_t t = cam.getCameraTime();
            const uint64_t n = cam.getDeliveredEventCount();
            if (cam.getCameraTime() == t)
                return std::make_pair(n, t);
        }
    };
    auto from = sample();
    double rate = -1;
    (void)QTest::qWaitFor( // rate stays -1 when it times out
        [&] {
            const auto now = sample();
            const uint64_t span = now.second - from.second;
            if (span >= 2000000)
                from = now;
            else if (span >= windowUs)
                rate = double(now.first - from.first) / double(span);
            return rate >= 0;
        },
        kStreamWaitMs);
    return rate;
}

norvale::RawFileStats statsOf(const QString& path) {
    auto reader = norvale::DvsFileReader::createFileReader(path.toStdString());
    if (!reader || !reader->prepareFile())
        return {};
    return reader->getStats();
}

// An EVT 2.0 recording of width x height: a point sweeping the whole frame, an event every 20 us.
bool writeEvt2(const QString& path, int width, int height, uint64_t durationUs) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QStringLiteral("% format EVT2;height=%1;width=%2\n% end\n").arg(height).arg(width).toLatin1());
    std::vector<uint32_t> words;
    uint64_t high = ~0ull;
    for (uint64_t t = 0, i = 0; t < durationUs; t += 20, ++i) {
        if (t >> 6 != high) {
            high = t >> 6;
            words.push_back((0x8u << 28) | uint32_t(high & 0x0FFFFFFF));
        }
        const uint32_t x = uint32_t(i % uint64_t(width)), y = uint32_t((i / 7) % uint64_t(height));
        words.push_back((uint32_t(i & 1) << 28) | (uint32_t(t & 63) << 22) | (x << 11) | y);
    }
    const qint64 bytes = qint64(words.size() * sizeof(uint32_t));
    return f.write(reinterpret_cast<const char*>(words.data()), bytes) == bytes;
}

} // namespace

class TestLiveTools : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    LoadConfig* config = nullptr;
    QString recording; // 1280 x 720, EVT 3.0
    QString small;     // 640 x 480, EVT 2.0

    static std::unique_ptr<TestWindow> window() { return livekit::shownWindow<TestWindow>(); }

    // Opens path and waits until it plays, pauses it and steps one frame; the image of that frame.
    static QImage openPauseAndStep(TestWindow* w, const QString& path) {
        w->nextFile = path;
        w->findChild<QAction*>(QStringLiteral("action_open_recording"))->trigger();
        if (!QTest::qWaitFor([&] { return button(w, "pb_play")->isChecked(); }, 20000))
            return {};
        QTest::mouseClick(button(w, "pb_play"), Qt::LeftButton);
        QSignalSpy images(w->eventProcessor(), &NrEventProcessor::signalEventImage);
        QTest::mouseClick(button(w, "pb_next"), Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return !images.isEmpty(); }, kStreamWaitMs))
            return {};
        return images.last().at(0).value<QImage>();
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        config = livekit::useTemporaryRecordingFolder(tmp);
        config->videoSavePath = tmp.filePath(QStringLiteral("videos"));
        QDir().mkpath(config->videoSavePath);
        recording = tmp.filePath(QStringLiteral("generated.raw"));
        norvale::GeneratorConfig gen;
        gen.eventRate = 2e6;
        QVERIFY(norvale::generateRecordingFile(recording.toStdString(), gen, 2000000));
        small = tmp.filePath(QStringLiteral("small_evt2.raw"));
        QVERIFY(writeEvt2(small, 640, 480, 1000000));
        const QByteArray cameras = QStringLiteral(R"({"cameras": [
            {"serial": "SIM-TRIG", "event_rate": 0.3, "trigger_period_ms": 800},
            {"serial": "SIM-BIAS", "event_rate": 1.0},
            {"serial": "SIM-REPLAY-T", "kind": "replay", "file": "%1"}
        ]})")
                                       .arg(small)
                                       .toUtf8();
        QVERIFY(livekit::useSimulatedCameras(tmp.filePath(QStringLiteral("simulated_cameras.json")), cameras.constData()));
    }

    void cleanup() {
        config->dvsTriggerInRecEnable = false;
        for (QTranslator* t : qApp->findChildren<QTranslator*>())
            delete t;
    }

    // Trigger-in recording on each edge kind: a matching edge (and only such an edge) asks for a
    // recording named serial + time; the file holds the pre-trigger second and the label counts.
    void triggerInRecording_data() {
        QTest::addColumn<QString>("edge");
        QTest::addColumn<int>("polarity");
        QTest::newRow("rising") << QStringLiteral("Rising Edge") << 1;
        QTest::newRow("falling") << QStringLiteral("Falling Edge") << 0;
    }
    void triggerInRecording() {
        QFETCH(QString, edge);
        QFETCH(int, polarity);
        config->outputRawFilePath = tmp.filePath(QStringLiteral("trigger_") + QString::number(polarity));
        config->dvsTriggerInRecEnable = true;
        config->dvsTriggerInRecEdgeType = edge;
        config->dvsBeforeTriggerInSaveTime = 1;
        config->dvsAfterTriggerInSaveTime = 1;
        QStringList requests; // outlives the window and whatever it still delivers
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        // Queued to the window: a call still waiting when the test ends goes with it.
        connect(w.get(), &MainWidget::signalRecByTime, w.get(),
                [&](uint32_t seconds, const QString& p) { requests << QString::number(seconds) + QLatin1Char(' ') + p; },
                Qt::QueuedConnection);
        openCamera(w.get(), "SIM-TRIG");
        QVERIFY(camera(w.get()) && camera(w.get())->isStreaming());
        QVERIFY(camera(w.get())->hasTriggerInCallback());
        const std::shared_ptr<norvale::DvsCamera> cam = camera(w.get())->camera();
        std::mutex edgesMutex;
        std::vector<norvale::EventTriggerIn> edges;
        const int probe = cam->addTriggerInCallback([&](const norvale::EventTriggerIn& t) {
            std::lock_guard<std::mutex> lock(edgesMutex);
            edges.push_back(t);
        });
        // The cache holds more than the 200 ms checked below before the first edge can come.
        QTRY_VERIFY_WITH_TIMEOUT(cam->getCameraTime() > 300000, kStreamWaitMs);
        QVERIFY(cam->getTool(norvale::TOOL_TRIGGER_IN)->setParam("channel_0_enable", true));
        QTRY_VERIFY_WITH_TIMEOUT(!requests.isEmpty(), kStreamWaitMs);
        QLabel* clock = label(w.get(), "lb_recoding_time");
        // The recording lasts a second of the wall clock: a loaded machine may end it before
        // this thread looks, so the clock is checked only while it runs.
        QTRY_VERIFY_WITH_TIMEOUT(clock->isVisible() || tips.has(QStringLiteral("Recording end"), NrMessageSuccess),
                                 kStreamWaitMs);
        if (clock->isVisible())
            QVERIFY2(QRegularExpression(QStringLiteral("^00:00:0\\d$")).match(clock->text()).hasMatch(),
                     qPrintable(clock->text()));
        QTRY_VERIFY_WITH_TIMEOUT(!w->recorder()->isRecording(), kStreamWaitMs);
        QVERIFY(cam->getTool(norvale::TOOL_TRIGGER_IN)->setParam("channel_0_enable", false));
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton); // no more edges
        cam->removeTriggerInCallback(probe);
        QTest::qWait(50); // requests still queued
        QTRY_VERIFY_WITH_TIMEOUT(!w->recorder()->isRecording(), kStreamWaitMs); // a second one may have begun
        QTRY_VERIFY(!clock->isVisible());
        QVERIFY(clock->text().isEmpty());

        // One request per matching edge, none for the other kind (which came too).
        int matching = 0, other = 0;
        uint64_t firstMatch = 0;
        for (const auto& e : edges) {
            if (e.value == polarity && matching++ == 0)
                firstMatch = e.timestamp;
            other += e.value != polarity;
        }
        QVERIFY(other > 0);
        QCOMPARE(requests.size(), matching);
        const QString first = requests.first().section(QLatin1Char(' '), 1);
        QCOMPARE(requests.first().section(QLatin1Char(' '), 0, 0), QStringLiteral("1"));
        QCOMPARE(QFileInfo(first).absolutePath(), config->outputRawFilePath);
        QVERIFY2(QRegularExpression(QStringLiteral("^SIM-TRIG_\\d{8}_\\d{6}\\.raw$")).match(QFileInfo(first).fileName()).hasMatch(),
                 qPrintable(first));
        QVERIFY(tips.has(QStringLiteral("Recording file ... "), NrMessageSuccess));
        QTRY_VERIFY(tips.has(QStringLiteral("Recording end"), NrMessageSuccess));
        // The file begins well before the edge that started it: the pre-trigger cache.
        const norvale::RawFileStats stats = statsOf(first);
        QVERIFY(stats.eventCount > 0);
        QVERIFY2(stats.firstTimestamp + 200000 < firstMatch,
                 qPrintable(QStringLiteral("file from %1, edge at %2").arg(stats.firstTimestamp).arg(firstMatch)));
        // and goes on past it (how much camera time a second of the wall clock holds depends on the load)
        QVERIFY2(stats.lastTimestamp > firstMatch,
                 qPrintable(QStringLiteral("file to %1, edge at %2").arg(stats.lastTimestamp).arg(firstMatch)));

        // Switched off in the settings: the callback goes, no more recordings.
        config->dvsTriggerInRecEnable = false;
        w->onDialog = [](QDialog* d) {
            QMetaObject::invokeMethod(d, "on_pb_save_clicked");
            return int(QDialog::Accepted);
        };
        QTest::mouseClick(button(w.get(), "pb_fold_general_setting"), Qt::LeftButton);
        QVERIFY(!config->dvsTriggerInRecEnable);
        QVERIFY(!camera(w.get())->hasTriggerInCallback());
    }

    // Recording by hand: the label shows the elapsed time once a second and clears at the end.
    void recordingTimeLabel() {
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
            installLanguage(language);
            auto w = window();
            QVERIFY(w);
            openCamera(w.get(), "SIM-TRIG");
            QVERIFY(camera(w.get()));
            QLabel* clock = label(w.get(), "lb_recoding_time");
            QVERIFY(clock->isHidden());
            QElapsedTimer sinceClick;
            sinceClick.start();
            QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
            QVERIFY(button(w.get(), "pb_record")->isChecked());
            QVERIFY(clock->isVisible());
            QCOMPARE(clock->text(), QStringLiteral("00:00:00"));
            // It counts whole seconds of the recording: never ahead of the time since the click
            // (a busy machine may skip a second, never show one too many).
            QTRY_VERIFY_WITH_TIMEOUT(clock->text() != QStringLiteral("00:00:00"), kStreamWaitMs);
            const QRegularExpressionMatch shown =
                QRegularExpression(QStringLiteral("^00:00:(\\d\\d)$")).match(clock->text());
            const qint64 upTo = (sinceClick.elapsed() + 500) / 1000;
            QVERIFY2(shown.hasMatch() && shown.captured(1).toInt() >= 1 && shown.captured(1).toInt() <= upTo,
                     qPrintable(clock->text() + QStringLiteral(" after %1 ms").arg(sinceClick.elapsed())));
            QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("recording_time_") + language).isEmpty());
            QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
            QVERIFY(!button(w.get(), "pb_record")->isChecked());
            QVERIFY(clock->isHidden());
            QVERIFY(clock->text().isEmpty());
            for (QTranslator* t : qApp->findChildren<QTranslator*>())
                delete t;
        }
    }

    // A higher contrast threshold typed into the DVS panel: the camera reports far fewer events.
    void biasInPanelChangesEventRate() {
        auto w = window();
        QVERIFY(w);
        openCamera(w.get(), "SIM-BIAS");
        QVERIFY(camera(w.get()));
        const std::shared_ptr<norvale::DvsCamera> cam = camera(w.get())->camera();
        const double before = cameraEventRate(*cam, 300000);
        QVERIFY2(before >= 0.5, qPrintable(QString::number(before)));
        QTRY_VERIFY_WITH_TIMEOUT(statusEventRate(w.get()) >= 0, kStreamWaitMs); // the status bar has figures
        QTest::mouseClick(button(w.get(), "pb_fold_dvs_setting"), Qt::LeftButton);
        int changed = 0;
        for (auto* row : w->dvsSidebar()->findChildren<SettingBaseWithLineEdit*>()) {
            QString name;
            for (const char* labelName : {"lb_set_item_name", "lb_item_name"})
                if (auto* l = row->findChild<QLabel*>(QLatin1String(labelName)))
                    name = l->text();
            if (name == QLatin1String("Bias Diff On") || name == QLatin1String("Bias Diff Off")) {
                row->findChild<NrLineEditBase*>(QStringLiteral("le_nr_line_edit"))->setText(QStringLiteral("120"));
                ++changed;
            }
        }
        QCOMPARE(changed, 2);
        int value = 0;
        QVERIFY(camera(w.get())->camera()->getTool(norvale::TOOL_BIASES)->getParam("bias_diff_on", value));
        QCOMPARE(value, 120);
        // Once the camera has streamed past the change, far fewer events per camera second.
        const uint64_t changedAt = cam->getCameraTime();
        QTRY_VERIFY_WITH_TIMEOUT(cam->getCameraTime() > changedAt + 20000, kStreamWaitMs);
        const double after = cameraEventRate(*cam, 300000);
        QVERIFY2(after >= 0 && after <= 0.2, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(after)));
    }

    // The replay camera plays a recording (640 x 480) as its live stream, shown at the sensor's
    // size; keys on a live camera: Space stops and starts the stream, Left and Right step nothing
    // and leave it streaming.
    void replayCameraAndKeys() {
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        QSignalSpy images(w->eventProcessor(), &NrEventProcessor::signalEventImage);
        openCamera(w.get(), "SIM-REPLAY-T");
        QVERIFY(camera(w.get()) && camera(w.get())->isStreaming());
        QTRY_VERIFY_WITH_TIMEOUT(images.count() >= 3, kStreamWaitMs);
        QCOMPARE(images.last().at(0).value<QImage>().size(), QSize(640, 480));
        QCOMPARE(w->imageView()->view()->scene()->sceneRect(), QRectF(0, 0, 640, 480));
        QTRY_VERIFY_WITH_TIMEOUT(camera(w.get())->camera()->getDeliveredEventCount() > 10000, kStreamWaitMs);
        QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("live_replay_640x480_en")).isEmpty());

        QTest::keyClick(w.get(), Qt::Key_Left);
        QTest::keyClick(w.get(), Qt::Key_Right);
        QVERIFY(camera(w.get())->isStreaming());
        QVERIFY(button(w.get(), "pb_play")->isChecked());
        const int before = images.count();
        QTRY_VERIFY_WITH_TIMEOUT(images.count() > before + 2, kStreamWaitMs);

        QTest::keyClick(w.get(), Qt::Key_Space);
        QVERIFY(!camera(w.get())->isStreaming());
        QVERIFY(!button(w.get(), "pb_play")->isChecked());
        QTest::keyClick(w.get(), Qt::Key_Space);
        QVERIFY(camera(w.get())->isStreaming());
        QVERIFY(button(w.get(), "pb_play")->isChecked());
        QVERIFY(tips.texts.isEmpty());
    }

    // Tools -> IP Configuration runs the Ethernet tool, which lists the simulated Ethernet camera;
    // its tips reach the window (an address that is not one is refused).
    void toolsMenu() {
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
            installLanguage(language);
            auto w = window();
            QVERIFY(w);
            Tips tips(w.get());
            QPushButton* tools = button(w.get(), "pb_menu_tools");
            QVERIFY(tools->isVisible());
            QVERIFY(saveImage(livekit::withMenu(w.get(), tools), QStringLiteral("menu_tools_") + language));
            int runs = 0;
            w->onDialog = [&](QDialog* d) {
                auto* tool = qobject_cast<NrEthCameraConfigTool*>(d);
                if (!tool)
                    return int(QDialog::Rejected);
                ++runs;
                tool->show();
                auto* list = tool->findChild<QListWidget*>(QStringLiteral("listWidget_cameras"));
                if (!QTest::qWaitFor([&] { return list->count() > 0; }, kStreamWaitMs))
                    return int(QDialog::Rejected);
                testenv::saveScreenshot(tool, QStringLiteral("eth_tool_") + language);
                tool->findChild<QLineEdit*>(QStringLiteral("le_ip"))->setText(QStringLiteral("192.168.1.300"));
                QTest::mouseClick(tool->findChild<QPushButton*>(QStringLiteral("pb_config")), Qt::LeftButton);
                return int(QDialog::Rejected);
            };
            w->findChild<QAction*>(QStringLiteral("action_ip_config"))->trigger();
            QCOMPARE(runs, 1);
            QTRY_VERIFY(tips.has(language == QLatin1String("en")
                                     ? QStringLiteral("Invalid IP address, subnet mask or gateway.")
                                     : NrEthCameraConfigTool::tr("Invalid IP address, subnet mask or gateway."),
                                 NrMessageError));
            QVERIFY(!tips.texts.filter(QStringLiteral("Configuration")).size());
        }
    }

    // Cancel in the waiting window of an export and of a cut: no file, a warning instead of a
    // failure, and the window closes without its Cancel button. Loading offers no Cancel.
    void cancelExportAndCut() {
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        w->nextFile = recording;
        w->findChild<QAction*>(QStringLiteral("action_open_recording"))->trigger();
        WaitingWin* waiting = w->waitingWindow();
        QPushButton* cancel = waiting->findChild<QPushButton*>(QStringLiteral("pb_cancel"));
        QVERIFY(cancel->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(button(w.get(), "pb_play")->isChecked(), 20000);
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton);

        struct Case {
            const char* action;
            QString name;
            QString folder;
            QString tip;
        };
        const Case cases[] = {
            {"action_save_as", QStringLiteral("cancelled.mp4"), config->videoSavePath, QStringLiteral("Export video cancelled.")},
            {"action_cut", QStringLiteral("cancelled.raw"), config->outputRawFilePath, QStringLiteral("Export raw file cancelled.")},
        };
        for (const Case& c : cases) {
            QDir().mkpath(c.folder);
            w->onDialog = [&](QDialog* d) {
                auto* range = qobject_cast<NrTimeRangeDialog*>(d);
                if (!range)
                    return int(QDialog::Rejected);
                range->setSaveFilePath(c.folder);
                range->setSaveFileName(c.name);
                return int(QDialog::Accepted);
            };
            // Cancel as soon as the waiting window shows, before a small recording is done.
            bool offered = false;
            QMetaObject::Connection shown =
                connect(w->eventProcessor(), &NrEventProcessor::signalLoadingStatus, this, [&](bool busy) {
                    offered = busy && waiting->isVisible() && cancel->isVisible();
                    if (offered)
                        QTest::mouseClick(cancel, Qt::LeftButton);
                });
            w->findChild<QAction*>(QLatin1String(c.action))->trigger();
            disconnect(shown);
            QVERIFY(offered);
            QTRY_VERIFY_WITH_TIMEOUT(tips.has(c.tip, NrMessageWarning), 20000);
            QTRY_VERIFY(!waiting->isVisible());
            QVERIFY(cancel->isHidden());
            QVERIFY(!QFileInfo::exists(c.folder + QLatin1Char('/') + c.name));
            const QStringList left = QDir(c.folder).entryList(QDir::Files | QDir::Hidden);
            QVERIFY2(left.filter(QStringLiteral("cancelled")).isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
        }
        QVERIFY(!tips.texts.filter(QStringLiteral("failed")).size());
    }

    // A 640 x 480 EVT 2.0 recording is shown and exported at its own size; a 1280 x 720 one after it
    // is back to 1280 x 720.
    void recordingOfAnotherGeometry() {
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
            installLanguage(language);
            auto w = window();
            QVERIFY(w);
            QSignalSpy sizes(w.get(), &MainWidget::signalImageReslotionChanged);
            QCOMPARE(openPauseAndStep(w.get(), small).size(), QSize(640, 480));
            QCOMPARE(sizes.count(), 1);
            QCOMPARE(sizes.first().at(0).toInt(), 640);
            QCOMPARE(sizes.first().at(1).toInt(), 480);
            QCOMPARE(w->imageView()->view()->scene()->sceneRect(), QRectF(0, 0, 640, 480));
            // The frame fills the view's height or width (less the view's fitting margin), not a corner
            // of a 1280 x 720 one.
            const QRectF shown = w->imageView()->view()->mapFromScene(QRectF(0, 0, 640, 480)).boundingRect();
            const QSize view = w->imageView()->view()->viewport()->size();
            QVERIFY2(qAbs(shown.height() - view.height()) <= 4 || qAbs(shown.width() - view.width()) <= 4,
                     qPrintable(QStringLiteral("%1x%2 in %3x%4").arg(shown.width()).arg(shown.height()).arg(view.width()).arg(view.height())));
            QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("recording_640x480_") + language).isEmpty());
            if (language != QLatin1String("en"))
                continue;

            w->onDialog = [&](QDialog* d) {
                auto* range = qobject_cast<NrTimeRangeDialog*>(d);
                if (!range)
                    return int(QDialog::Rejected);
                range->setSaveFilePath(config->videoSavePath);
                range->setSaveFileName(QStringLiteral("small.mp4"));
                range->setStartTime(w->timeSlider()->getMinimun());
                range->setEndTime(w->timeSlider()->getMinimun() + 300000);
                return int(QDialog::Accepted);
            };
            w->findChild<QAction*>(QStringLiteral("action_save_as"))->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(!w->waitingWindow()->isVisible(), 30000);
            auto video = norvale::ApsFileReader::createFileReader(
                (config->videoSavePath + QStringLiteral("/small.mp4")).toStdString());
            QVERIFY(video);
            QCOMPARE(video->getWidth(), 640);
            QCOMPARE(video->getHeight(), 480);

            QCOMPARE(openPauseAndStep(w.get(), recording).size(), QSize(1280, 720));
            QCOMPARE(sizes.last().at(0).toInt(), 1280);
            QCOMPARE(sizes.last().at(1).toInt(), 720);
            QCOMPARE(w->imageView()->view()->scene()->sceneRect(), QRectF(0, 0, 1280, 720));
        }
    }
};

NR_QTEST_MAIN(TestLiveTools)
#include "tst_livetools.moc"
