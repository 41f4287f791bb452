// A fusion camera and fusion recordings in the main window end to end: the real driver's simulated
// cameras (a simulated-cameras file in a temporary folder adds the extra ones), the three views,
// recording by hand and replaying it, a lost connection, the firmware notice, the APS panel and the
// camera information. The modal dialogs are replaced.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <cmath>
#include <memory>

#include "LiveWindowKit.h"
#include "TestEnv.h"
#include "loadconfig.h"
#include "norvale/DvsCamera.h"
#include "norvale/ApsFileReader.h"
#include "norvale/DvsFileReader.h"
#include "norvale/FusionCamera.h"
#include "processing/nrfusioncameradataprocessor.h"
#include "settings/settingbasewithlineedit.h"
#include "settings/sidebarapssettingui.h"
#include "startup.h"
#include "ui/cameraslist.h"
#include "ui/mainwidget.h"
#include "ui/nrdvscamerasource.h"
#include "ui/nrfusioncamerasource.h"
#include "ui/showcamerainfoui.h"
#include "widgets/nrlineedit.h"
#include "widgets/nrthreehandleslider.h"

namespace {

using livekit::countEvents;
using livekit::Tips;

const QString kCamera = QStringLiteral("SIM-FUS-LIGHT");
const QString kOldFirmware = QStringLiteral("SIM-FUS-OLD");
const QString kUpgrade = QStringLiteral("The Velfox camera firmware needs to be upgraded!");

class TestWindow : public MainWidget {
public:
    QString serial;     // the camera list's row to accept
    QString nextFile;   // the file dialog's answer
    QString infoShot;   // when set, the camera information is saved under this name
    QStringList info;   // what the last camera information showed: product, manufacturer, serial, firmware
    int infoDialogs = 0;

protected:
    QString chooseRecordingFile() override { return nextFile; }
    int execDialog(QDialog* dialog) override {
        if (auto* shown = qobject_cast<ShowCameraInfoUI*>(dialog)) {
            ++infoDialogs;
            info.clear();
            for (const char* name : {"lb_product", "lb_manufacturer", "lb_serial", "lb_firm_ver"})
                info << testenv::child<QLabel>(shown, name)->text();
            if (!infoShot.isEmpty()) {
                shown->show();
                testenv::saveScreenshot(shown, infoShot);
            }
            return QDialog::Accepted;
        }
        auto* list = qobject_cast<CamerasList*>(dialog);
        return list ? livekit::chooseCamera(list, serial) : QDialog::Rejected;
    }
};

QPushButton* button(QWidget* w, const char* name) { return testenv::child<QPushButton>(w, name); }
QLabel* label(QWidget* w, const char* name) { return testenv::child<QLabel>(w, name); }

// What an image shows: pixels of the background, of the two event colours, and of anything else.
struct Census {
    int background = 0, events = 0, other = 0;
};

Census census(const QImage& image) {
    const LoadConfig* c = LoadConfig::getGlobalConfig();
    const QRgb bg = c->dvsBackgroundColor.rgb(), on = c->dvsOnColor.rgb(), off = c->dvsOffColor.rgb();
    Census n;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb p = line[x] | 0xFF000000u;
            if (p == bg)
                ++n.background;
            else if (p == on || p == off)
                ++n.events;
            else
                ++n.other;
        }
    }
    return n;
}

NrFusionCameraSource* fusionCamera(MainWidget* w) { return qobject_cast<NrFusionCameraSource*>(w->source()); }

} // namespace

// Waits on the stream are generous: a sanitizer build on a machine busy with other work streams
// slowly, and a test asserts what the code controls, never how fast it ran.
constexpr int kStreamWaitMs = 20000;

class TestFusionView : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    LoadConfig* config = nullptr;
    QString recording; // the ".raw" of the fusion recording made by recordByHand

    std::unique_ptr<TestWindow> window() { return livekit::shownWindow<TestWindow>(); }
    static void trigger(MainWidget* w, const char* action) { testenv::child<QAction>(w, action)->trigger(); }
    static void openCamera(TestWindow* w, const QString& serial) {
        w->serial = serial;
        trigger(w, "action_open_camera");
    }
    // An image the fusion processor shows after now: one frame may wait and one be painted with the
    // settings of before, so the third is the first surely painted after now.
    static QImage nextImage(MainWidget* w, int frames = 3) {
        QSignalSpy images(w->fusionProcessor(), &NrFusionCameraDataProcessor::signalFusionImage);
        if (!QTest::qWaitFor([&] { return images.count() >= frames; }, kStreamWaitMs))
            return QImage();
        return images.last().at(0).value<QImage>();
    }
    // Clicks the viewer-type button until the view is type.
    static void showView(MainWidget* w, int type) {
        for (int i = 0; i < 3 && w->viewerType() != type; ++i)
            QTest::mouseClick(button(w, "pb_viewer_type"), Qt::LeftButton);
    }
    // The replay's image at ts in the current view.
    static QImage replayAt(MainWidget* w, uint64_t ts) {
        QSignalSpy images(w->fusionProcessor(), &NrFusionCameraDataProcessor::signalFusionImage);
        QSignalSpy stamps(w->fusionProcessor(), &NrFusionCameraDataProcessor::signalTimeStamp);
        emit w->timeSlider()->centerValueTrackClick(ts);
        if (!QTest::qWaitFor([&] { return !stamps.isEmpty() && stamps.last().at(0).toULongLong() == ts && !images.isEmpty(); },
                             kStreamWaitMs))
            return QImage();
        return images.last().at(0).value<QImage>();
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        config = livekit::useTemporaryRecordingFolder(tmp);
        // Half the event rate, so that the stream keeps up on a busy machine.
        QVERIFY(livekit::useSimulatedCameras(tmp.filePath(QStringLiteral("simulated_cameras.json")), R"({"cameras": [
            {"serial": "SIM-FUS-LIGHT", "kind": "fusion", "event_rate": 0.5},
            {"serial": "SIM-FUS-OLD", "kind": "fusion", "event_rate": 0.5, "firmware": "Velfox_V1.7.1"}
        ]})"));
    }

    // Device -> Open Camera with a fusion camera streams at once: the fusion panel and buttons
    // appear, the status bar fills, and the viewer-type button cycles Fusion -> DVS -> APS -> Fusion,
    // each view showing what it should.
    void openStreamAndViews() {
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        QVERIFY(button(w.get(), "pb_viewer_type")->isHidden());
        openCamera(w.get(), kCamera);
        QCOMPARE(w->sourceType(), int(NrSourceFusionCamera));
        QVERIFY(fusionCamera(w.get()));
        QVERIFY(fusionCamera(w.get())->isStreaming());
        QVERIFY(button(w.get(), "pb_play")->isChecked());
        for (const char* name : {"pb_viewer_type", "pb_fold_aps_setting", "pb_fold_dvs_setting", "pb_record"})
            QVERIFY2(!button(w.get(), name)->isHidden(), name);
        QVERIFY(!button(w.get(), "pb_next")->isEnabled());
        QCOMPARE(label(w.get(), "label_show_camera_info")->text(), kCamera);
        QVERIFY(!tips.texts.contains(kUpgrade)); // its firmware is recent enough

        QCOMPARE(w->viewerType(), 2);
        const QImage fused = nextImage(w.get());
        QVERIFY(!fused.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(!label(w.get(), "label_show_timestamp_info")->text().isEmpty(), kStreamWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(label(w.get(), "lb_status_bar")->text().contains(QStringLiteral("Bandwidth")), kStreamWaitMs);
        const QString status = label(w.get(), "lb_status_bar")->text();
        QVERIFY2(QRegularExpression(QStringLiteral("^ Bandwidth: \\d+\\.\\d MB/s  Events: \\d+\\.\\d MEv/s  Dropped: \\d+ $"))
                     .match(status)
                     .hasMatch(),
                 qPrintable(status));
        testenv::saveScreenshot(w.get(), QStringLiteral("live_fusion_view2_en"));

        QImage shown[3] = {QImage(), QImage(), fused};
        for (int type : {0, 1, 2}) { // the button cycles DVS, APS, fusion
            QTest::mouseClick(button(w.get(), "pb_viewer_type"), Qt::LeftButton);
            QCOMPARE(w->viewerType(), type);
            QCOMPARE(button(w.get(), "pb_viewer_type")->property("viewer_type").toInt(), type);
            if (type < 2) {
                shown[type] = nextImage(w.get());
                testenv::saveScreenshot(w.get(), QStringLiteral("live_fusion_view%1_en").arg(type));
            }
        }
        // DVS: events on the background only; APS: the intensity image; fusion: both.
        const Census d = census(shown[0]), a = census(shown[1]), f = census(fused);
        QVERIFY(d.events > 0);
        QCOMPARE(d.other, 0);
        QVERIFY(a.other > 1280 * 720 / 2);
        QVERIFY(f.other > 1280 * 720 / 2);
        QVERIFY2(f.events > a.events + 100, qPrintable(QStringLiteral("%1 %2").arg(f.events).arg(a.events)));

        // Play toggles the stream; no image arrives while stopped.
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton);
        QVERIFY(!button(w.get(), "pb_play")->isChecked());
        QVERIFY(!fusionCamera(w.get())->isStreaming());
        {
            QSignalSpy stopped(w->fusionProcessor(), &NrFusionCameraDataProcessor::signalFusionImage);
            QTest::qWait(500);
            QVERIFY(stopped.count() <= 1); // at most the frame already on its way
        }
        QTest::keyClick(w.get(), Qt::Key_Space);
        QVERIFY(fusionCamera(w.get())->isStreaming());
        QVERIFY(!nextImage(w.get()).isNull());
    }

    // Record by hand: the camera writes the events, the APS video and the calibration under the
    // serial and the time; the success tip comes with the files; the recording then opens as a
    // fusion recording.
    void recordByHand() {
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        openCamera(w.get(), kCamera);
        QVERIFY(fusionCamera(w.get()));
        QVERIFY(!nextImage(w.get(), 1).isNull());
        QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
        QVERIFY(button(w.get(), "pb_record")->isChecked());
        const QString path = fusionCamera(w.get())->recordingPath();
        QVERIFY2(QFileInfo(path).fileName().contains(QRegularExpression(QStringLiteral("^SIM-FUS-LIGHT_\\d{8}_\\d{6}\\.raw$"))),
                 qPrintable(path));
        // About a second of intensity frames (a video without frames is not written: no success).
        QTRY_VERIFY_WITH_TIMEOUT(fusionCamera(w.get())->camera()->getRecordedFrameCount() >= 10, 30000);
        QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
        QVERIFY(!button(w.get(), "pb_record")->isChecked());
        QTRY_VERIFY(tips.has(QStringLiteral("Save file success!"), NrMessageSuccess));
        const QString base = path.left(path.size() - 4);
        for (const char* ext : {".mp4", ".json"})
            QVERIFY2(QFileInfo(base + QLatin1String(ext)).size() > 0, ext);
        const uint64_t recorded = fusionCamera(w.get())->camera()->getRecordedEventCount();
        QVERIFY(recorded > 0);
        QCOMPARE(countEvents(path), recorded);
        recording = path;
    }

    // A recording by hand of the full-rate fusion camera after it has streamed a while: the video's
    // own timeline (as ffprobe and any player see it) starts at the recording's start, with no
    // offset from the camera's start, and lasts as long as the events to within one APS frame;
    // its frames lie within the events' span on the events' clock; the success note comes with
    // the files complete.
    void recordingVideoAsLongAsItsEvents() {
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        openCamera(w.get(), QStringLiteral("SIM-FUS-0001"));
        QVERIFY(fusionCamera(w.get()));
        // Streaming before the recording: a second of the camera's own time, however slow the machine.
        QSignalSpy stamps(w->fusionProcessor(), &NrFusionCameraDataProcessor::signalTimeStamp);
        QTRY_VERIFY_WITH_TIMEOUT(!stamps.isEmpty() && stamps.last().at(0).toULongLong() > 1000000, 30000);
        QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
        QVERIFY(button(w.get(), "pb_record")->isChecked());
        const QString path = fusionCamera(w.get())->recordingPath();
        QTRY_VERIFY_WITH_TIMEOUT(fusionCamera(w.get())->camera()->getRecordedFrameCount() >= 10, 30000);
        QElapsedTimer stopping;
        stopping.start();
        QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
        qInfo("stopping the recording took %lld ms", stopping.elapsed());
        // The note follows the stop at once, and only when the files are there.
        QVERIFY(tips.has(QStringLiteral("Save file success!"), NrMessageSuccess));
        const QString base = path.left(path.size() - 4);

        auto events = norvale::DvsFileReader::createFileReader(path.toStdString());
        QVERIFY(events && events->prepareFile());
        norvale::DvsFileInfo info;
        uint64_t first = 0, last = 0;
        QVERIFY(events->getFileInfo(info) && events->getStartTimestamp(first) && events->getEndTimestamp(last));
        const uint64_t origin = info.apsStartTimestamp, frame = 100000; // the camera's APS period
        QVERIFY2(origin > 500000, "the camera streamed before the recording");
        QVERIFY2(origin + frame >= first && origin <= first + frame,
                 qPrintable(QStringLiteral("video origin %1 us, first event %2 us").arg(origin).arg(first)));

        auto video = norvale::ApsFileReader::createFileReader((base + QStringLiteral(".mp4")).toStdString());
        QVERIFY(video);
        std::vector<norvale::ApsFrameIndexEntry> frames;
        video->getFrameIndex(frames);
        QVERIFY(frames.size() >= 5);
        // Every frame is an exposure of the recording, on the events' clock: the first may have begun
        // up to a frame before the record button (its exposure overlaps the recording).
        for (const auto& f : frames)
            QVERIFY2(origin + f.timestamp + frame >= first && origin + f.timestamp <= last,
                     qPrintable(QStringLiteral("%1 in %2..%3").arg(origin + f.timestamp).arg(first).arg(last)));

        const QString ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
        if (ffprobe.isEmpty())
            QSKIP("ffprobe is not installed (scripts/deps.sh installs it)");
        QProcess probe;
        probe.start(ffprobe, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                              QStringLiteral("format=start_time,duration"), QStringLiteral("-of"),
                              QStringLiteral("default=nw=1"), base + QStringLiteral(".mp4")});
        QVERIFY(probe.waitForFinished(30000) && probe.exitCode() == 0);
        double start = -1, duration = -1;
        for (const QString& line : QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n'))) {
            if (line.startsWith(QStringLiteral("start_time=")))
                start = line.mid(11).toDouble();
            if (line.startsWith(QStringLiteral("duration=")))
                duration = line.mid(9).toDouble();
        }
        const QString figures = QStringLiteral("video %1 s from %2 s; events %3 us from %4 us, video origin %5 us")
                                    .arg(duration).arg(start).arg(last - first).arg(first).arg(origin);
        // The container adds nothing to the frames' own times: it starts at the first frame, which is
        // the recording's first exposure (a loaded machine may skip a few at the start).
        QVERIFY2(std::llround(start * 1e6) == int64_t(frames.front().timestamp), qPrintable(figures));
        QVERIFY2(start >= 0 && start < 0.5, qPrintable(figures));
        // Its timeline runs from the video's origin (a first frame after it leaves a blank start) and
        // ends with the events: as long as they are, to within one frame.
        // With the start checked above (the origin within a frame of the first event), both ends lie
        // within a frame of the events'; the two may add up, as the exposures keep their own grid.
        QVERIFY2(std::fabs(double(origin) + duration * 1e6 - double(last)) <= frame, qPrintable(figures));
        qInfo("%s", qPrintable(figures));
    }

    // The recording made above plays through the fusion processor: play to the end, steps, seek,
    // loop, in each view; export and cut are not offered; the viewer-type button is.
    void fusionRecordingPlayback() {
        if (recording.isEmpty())
            QSKIP("needs the recording of recordByHand");
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        QSignalSpy played(w->fusionProcessor(), &NrFusionCameraDataProcessor::signalTimeStamp);
        w->nextFile = recording;
        trigger(w.get(), "action_open_recording");
        QCOMPARE(w->sourceType(), int(NrSourceFusionRecording));
        QVERIFY(!w->source()->isLive());
        QVERIFY(!testenv::child<QAction>(w.get(), "action_save_as")->isVisible());
        QVERIFY(!testenv::child<QAction>(w.get(), "action_cut")->isVisible());
        QVERIFY(!button(w.get(), "pb_viewer_type")->isHidden());
        QVERIFY(button(w.get(), "pb_record")->isHidden());
        QVERIFY(button(w.get(), "pb_fold_aps_setting")->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(button(w.get(), "pb_play")->isChecked(), 30000); // loaded: it plays
        NrThreeHandleSlider* slider = w->timeSlider();
        const uint64_t start = slider->getMinimun(), end = slider->getMaximun();
        QVERIFY(end > start + 500000);
        // Plays to the end by itself and stops there.
        QTRY_VERIFY_WITH_TIMEOUT(!button(w.get(), "pb_play")->isChecked(), 30000);
        uint64_t last = 0;
        for (const auto& stamp : played)
            last = std::max<uint64_t>(last, stamp.at(0).toULongLong());
        QVERIFY2(last + 33334 >= end, qPrintable(QStringLiteral("%1 %2").arg(last).arg(end)));
        QVERIFY(label(w.get(), "label_time")->text().contains(QLatin1Char('/')));
        testenv::saveScreenshot(w.get(), QStringLiteral("fusion_recording_en"));

        // Reset, steps forwards and back, each moving the timeline's handle.
        emit button(w.get(), "pb_stop")->pressed();
        QTRY_COMPARE_WITH_TIMEOUT(w->fusionProcessor()->playPosition(), start, kStreamWaitMs);
        QTest::keyClick(w.get(), Qt::Key_Right);
        QTRY_COMPARE_WITH_TIMEOUT(w->fusionProcessor()->playPosition(), start + 33333, kStreamWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(slider->getCenterValue(), start + 33333, kStreamWaitMs);
        QTest::keyClick(w.get(), Qt::Key_Left);
        QTRY_COMPARE_WITH_TIMEOUT(w->fusionProcessor()->playPosition(), start, kStreamWaitMs);

        // A seek to one moment in each view: DVS shows events on the background only, APS the
        // image, fusion the same image with the events drawn over it.
        const uint64_t mid = start + (end - start) / 2;
        Census views[3];
        QImage images[3];
        for (int type : {0, 1, 2}) {
            showView(w.get(), type);
            QCOMPARE(w->viewerType(), type);
            images[type] = replayAt(w.get(), mid + uint64_t(type)); // a new position: a new frame
            QVERIFY2(!images[type].isNull(), qPrintable(QString::number(type)));
            images[type] = images[type].convertToFormat(QImage::Format_RGB32);
            views[type] = census(images[type]);
            QTest::qWait(100); // the queued time label
            testenv::saveScreenshot(w.get(), QStringLiteral("fusion_recording_view%1_en").arg(type));
        }
        QCOMPARE(views[0].other, 0);
        QVERIFY(views[0].events > 100);
        QVERIFY(views[1].other > 1280 * 720 / 2);
        QVERIFY(views[2].events > views[1].events + 100);
        const QRgb on = config->dvsOnColor.rgb(), off = config->dvsOffColor.rgb();
        int differing = 0;
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1280; ++x) {
                const QRgb fused = images[2].pixel(x, y);
                if (fused != on && fused != off && fused != images[1].pixel(x, y))
                    ++differing;
            }
        QCOMPARE(differing, 0);

        // Loop: from near the end, playback wraps to the start and goes on.
        QTest::mouseClick(button(w.get(), "pb_loop"), Qt::LeftButton);
        QVERIFY(button(w.get(), "pb_loop")->isChecked());
        QVERIFY(!replayAt(w.get(), end - 100000).isNull());
        QSignalSpy stamps(w->fusionProcessor(), &NrFusionCameraDataProcessor::signalTimeStamp);
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton);
        QVERIFY(button(w.get(), "pb_play")->isChecked());
        QVERIFY(QTest::qWaitFor([&] { return !stamps.isEmpty() && stamps.last().at(0).toULongLong() < mid; }, kStreamWaitMs));
        QVERIFY(button(w.get(), "pb_play")->isChecked());
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton);
        QTRY_VERIFY(!w->fusionProcessor()->isPlaying());
        QVERIFY(!tips.types.contains(int(NrMessageError)));
    }

    // Unplugged while streaming and recording: play and record uncheck, the recording is closed
    // and readable, the user is told; play on the lost camera does nothing.
    void unplug() {
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        openCamera(w.get(), kCamera);
        QVERIFY(fusionCamera(w.get()));
        QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
        QVERIFY(fusionCamera(w.get())->isRecording());
        const QString path = fusionCamera(w.get())->recordingPath();
        QTRY_VERIFY_WITH_TIMEOUT(fusionCamera(w.get())->camera()->getRecordedEventCount() > 0, kStreamWaitMs);
        fusionCamera(w.get())->camera()->simulateUnplug();
        QTRY_VERIFY_WITH_TIMEOUT(!button(w.get(), "pb_play")->isChecked(), kStreamWaitMs);
        QVERIFY(!button(w.get(), "pb_record")->isChecked());
        QVERIFY(!fusionCamera(w.get())->isRecording());
        QVERIFY(!fusionCamera(w.get())->isStreaming());
        QTRY_VERIFY(tips.has(QStringLiteral("Camera connection lost."), NrMessageError));
        QCOMPARE(tips.texts.count(QStringLiteral("Camera connection lost.")), 1);
        QVERIFY(countEvents(path) > 0);
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton);
        QVERIFY(!button(w.get(), "pb_play")->isChecked());
        QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
        QVERIFY(!button(w.get(), "pb_record")->isChecked());

        // Streaming only.
        openCamera(w.get(), kCamera);
        QVERIFY(fusionCamera(w.get()) && fusionCamera(w.get())->isStreaming());
        fusionCamera(w.get())->camera()->simulateUnplug();
        QTRY_VERIFY_WITH_TIMEOUT(!button(w.get(), "pb_play")->isChecked(), kStreamWaitMs);
        QTRY_COMPARE(tips.texts.count(QStringLiteral("Camera connection lost.")), 2);
    }

    // An old firmware is pointed out, and the camera is used all the same; Camera Info shows what
    // the camera reported, for fusion and DVS cameras; with no camera the user is told to open one.
    void firmwareAndCameraInfo() {
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        trigger(w.get(), "action_camera_info");
        QCOMPARE(w->infoDialogs, 0);
        QTRY_VERIFY(tips.has(QStringLiteral("Please connect camera first."), NrMessageWarning));

        openCamera(w.get(), kOldFirmware);
        QTRY_VERIFY(tips.has(kUpgrade, NrMessageWarning));
        QVERIFY(fusionCamera(w.get()) && fusionCamera(w.get())->isStreaming());
        QVERIFY(!nextImage(w.get(), 1).isNull());
        w->infoShot = QStringLiteral("camera_info_fusion_en");
        trigger(w.get(), "action_camera_info");
        QCOMPARE(w->infoDialogs, 1);
        QCOMPARE(w->info, QStringList({QStringLiteral("Velfox"),
                                       QString::fromStdString(fusionCamera(w.get())->description().manufacturer),
                                       kOldFirmware, QStringLiteral("Velfox_V1.7.1")}));
        QVERIFY(!w->info[1].isEmpty());

        w->infoShot.clear();
        openCamera(w.get(), QStringLiteral("SIM-DVS-0001"));
        auto* dvs = qobject_cast<NrDvsCameraSource*>(w->source());
        QVERIFY(dvs);
        trigger(w.get(), "action_camera_info");
        QCOMPARE(w->infoDialogs, 2);
        QCOMPARE(w->info.at(2), QStringLiteral("SIM-DVS-0001"));
        QCOMPARE(w->info.at(3), QString::fromStdString(dvs->camera()->getCameraDescription().firmwareVersion));
        QVERIFY(!w->info.at(3).isEmpty());

        openCamera(w.get(), kCamera);
        QVERIFY(fusionCamera(w.get()));
        QCOMPARE(tips.texts.count(kUpgrade), 1); // a recent firmware opens without the notice
    }

    // The APS panel of the open fusion camera: its button joins the group of side-bar buttons, its
    // refresh reaches the DVS panel's rows, its offset reaches the fusion view's calibration.
    void apsPanelBound() {
        auto w = window();
        QVERIFY(w);
        openCamera(w.get(), kCamera);
        QVERIFY(fusionCamera(w.get()));
        QWidget* aps = w->apsSidebar();
        QWidget* dvs = testenv::child<QWidget>(w.get(), "sidebar_dvs");
        QWidget* cameraPanel = testenv::child<QWidget>(w.get(), "sidebar_camera");
        QTest::mouseClick(button(w.get(), "pb_fold_aps_setting"), Qt::LeftButton);
        QVERIFY(aps->isVisible());
        QVERIFY(!dvs->isVisible() && !cameraPanel->isVisible());
        QVERIFY(!button(w.get(), "pb_fold_setting")->isChecked());
        QTest::qWait(100);
        testenv::saveScreenshot(w.get(), QStringLiteral("live_fusion_aps_panel_en"));
        QTest::mouseClick(button(w.get(), "pb_fold_dvs_setting"), Qt::LeftButton);
        QVERIFY(dvs->isVisible() && !aps->isVisible());
        QVERIFY(!button(w.get(), "pb_fold_aps_setting")->isChecked());

        auto editOf = [](QWidget* panel, const QString& name) -> NrLineEditBase* {
            for (auto* row : panel->findChildren<SettingBaseWithLineEdit*>()) {
                auto* label = row->findChild<QLabel*>(QStringLiteral("lb_set_item_name"));
                if (label && label->text() == name)
                    return row->findChild<NrLineEditBase*>(QStringLiteral("le_nr_line_edit"));
            }
            return nullptr;
        };
        NrLineEditBase* biasRow = editOf(dvs, QStringLiteral("Bias Diff Off"));
        QVERIFY(biasRow);
        QVERIFY(editOf(aps, QStringLiteral("Exposure")));
        QVERIFY(fusionCamera(w.get())->camera()->getTool(norvale::TOOL_BIASES)->setParam("bias_diff_off", 12));
        QTest::mouseClick(testenv::child<QPushButton>(aps, "refresh_button"), Qt::LeftButton);
        QCOMPARE(biasRow->text(), QStringLiteral("12"));

        QSignalSpy written(w->fusionProcessor(),
                           qOverload<QString, NrMessageType, QString>(&NrFusionCameraDataProcessor::signalShowLeftBottomTips));
        const double before = w->fusionProcessor()->calibration().dvsToAps[2];
        editOf(aps, QStringLiteral("Offset X"))->setText(QStringLiteral("10"));
        QPushButton* apply = nullptr;
        for (auto* b : aps->findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("Apply"))
                apply = b;
        QVERIFY(apply);
        apply->click();
        QCOMPARE(w->fusionProcessor()->calibration().dvsToAps[2], before + 10);
        QCOMPARE(written.count(), 1);
        QCOMPARE(written.last().at(0).toString(), QStringLiteral("Manual calibration parameters were written successfully!"));

        // Another source: both camera panels lose the camera and their buttons; the camera goes.
        std::weak_ptr<norvale::FusionCamera> released = fusionCamera(w.get())->camera();
        openCamera(w.get(), QStringLiteral("SIM-DVS-0001"));
        QVERIFY(released.expired());
        QVERIFY(button(w.get(), "pb_fold_aps_setting")->isHidden());
        QVERIFY(!aps->isVisible());
        QVERIFY(!editOf(aps, QStringLiteral("Exposure")));
    }

    // The fusion camera in each view, the APS panel, a fusion recording and the camera information
    // in Chinese (the English ones are saved above).
    void chineseScreenshots() {
        installLanguage(QStringLiteral("zh"));
        auto w = window();
        QVERIFY(w);
        openCamera(w.get(), kCamera);
        QVERIFY(fusionCamera(w.get()));
        for (int type : {0, 1, 2}) {
            showView(w.get(), type);
            QVERIFY(!nextImage(w.get()).isNull());
            QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("live_fusion_view%1_zh").arg(type)).isEmpty());
        }
        QTest::mouseClick(button(w.get(), "pb_fold_aps_setting"), Qt::LeftButton);
        QTest::qWait(100);
        testenv::saveScreenshot(w.get(), QStringLiteral("live_fusion_aps_panel_zh"));
        w->infoShot = QStringLiteral("camera_info_fusion_zh");
        trigger(w.get(), "action_camera_info");
        QCOMPARE(w->infoDialogs, 1);
        if (!recording.isEmpty()) {
            w->nextFile = recording;
            trigger(w.get(), "action_open_recording");
            QTRY_VERIFY_WITH_TIMEOUT(button(w.get(), "pb_play")->isChecked(), 30000);
            QTest::qWait(300);
            // The camera's serial and time went with it.
            QVERIFY(label(w.get(), "label_show_camera_info")->text().isEmpty());
            QVERIFY(label(w.get(), "label_show_timestamp_info")->text().isEmpty());
            testenv::saveScreenshot(w.get(), QStringLiteral("fusion_recording_zh"));
        }
        for (QTranslator* t : qApp->findChildren<QTranslator*>())
            delete t;
    }
};

NR_QTEST_MAIN(TestFusionView)
#include "tst_fusionview.moc"
