// A live DVS camera in the main window end to end: the real driver's simulated cameras (a
// simulated-cameras file in a temporary folder adds the extra ones), the camera list, the live view,
// recording by hand, a lost connection. The modal dialogs are replaced.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QPainter>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

#include "LiveWindowKit.h"
#include "TestEnv.h"
#include "loadconfig.h"
#include "norvale/DvsCamera.h"
#include "norvale/DvsFileReader.h"
#include "processing/nreventsproccess.h"
#include "startup.h"
#include "ui/cameraslist.h"
#include "ui/mainwidget.h"
#include "ui/nrdvscamerasource.h"
#include "ui/nrnetworkstreamdialog.h"
#include "norvale/NetworkStream.h"
#include "ui/showimageform.h"
#include "Utility/Utility.h"
#include "widgets/nrthreehandleslider.h"
#include "widgets/nrtoaststack.h"
#include "Utility/nrfilerecorder.h"
#include "tools/nrfilepathreminderform.h"

namespace {

class TestWindow : public MainWidget {
public:
    QString serial; // the camera list's row to accept, by serial
    QString nextFile;
    QString listShot; // when set, the camera list is saved under this name
    int lists = 0;
    // Fills the network-stream dialog (address, port, width, height) and presses Open.
    std::function<void(NrNetworkStreamDialog*)> streamDialog;

protected:
    QString chooseRecordingFile() override { return nextFile; }
    int execDialog(QDialog* dialog) override {
        if (auto* stream = qobject_cast<NrNetworkStreamDialog*>(dialog)) {
            if (!streamDialog)
                return QDialog::Rejected;
            streamDialog(stream);
            stream->openButton()->click();
            return stream->result();
        }
        auto* list = qobject_cast<CamerasList*>(dialog);
        if (!list)
            return QDialog::Rejected;
        ++lists;
        if (!listShot.isEmpty()) {
            list->show();
            testenv::saveScreenshot(list, listShot);
        }
        return livekit::chooseCamera(list, serial);
    }
};

using livekit::button;
using livekit::label;
using livekit::Tips;

// A UDP port nothing listens on now.
uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    ::close(fd);
    return ntohs(a.sin_port);
}

uint64_t countEvents(const QString& path) {
    auto reader = norvale::DvsFileReader::createFileReader(path.toStdString());
    if (!reader || !reader->prepareFile())
        return 0;
    return reader->getStats().eventCount;
}

} // namespace

// Waits on the stream are generous: a sanitizer build on a machine busy with other work streams
// slowly, and a test asserts what the code controls, never how fast it ran.
constexpr int kStreamWaitMs = 20000;

class TestLiveCamera : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    LoadConfig* config = nullptr;

    static std::unique_ptr<TestWindow> window() { return livekit::shownWindow<TestWindow>(); }
    // Device -> Open Camera, choosing serial in the list.
    static void openCamera(TestWindow* w, const char* serial) {
        w->serial = QLatin1String(serial);
        w->findChild<QAction*>(QStringLiteral("action_open_camera"))->trigger();
    }
    static NrDvsCameraSource* camera(MainWidget* w) { return qobject_cast<NrDvsCameraSource*>(w->source()); }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        config = livekit::useTemporaryRecordingFolder(tmp);
        QVERIFY(livekit::useSimulatedCameras(tmp.filePath(QStringLiteral("simulated_cameras.json")), R"({"cameras": [
            {"serial": "SIM-ETH-CONFLICT", "link": "ethernet", "camera_ip": "192.0.2.1", "local_ip": "192.0.2.1",
             "netmask": "255.255.255.0", "gateway": "192.0.2.254"},
            {"serial": "SIM-ETH-SUBNET", "link": "ethernet", "camera_ip": "198.51.100.7", "local_ip": "192.0.2.1",
             "netmask": "255.255.255.0", "gateway": "198.51.100.1"},
            {"serial": "SIM-USB-SLOW", "event_rate": 0.3},
            {"serial": "SIM-TRIG-REC", "event_rate": 0.3, "trigger_period_ms": 200}
        ]})"));
    }

    // Device -> Open Camera streams at once: images, the camera time, the status bar; stop and
    // start again; then a recording takes the source's place and the camera is released.
    void openStreamAndStatusBar() {
        auto w = window();
        QVERIFY(w);
        QSignalSpy images(w->eventProcessor(), &NrEventProcessor::signalEventImage);
        openCamera(w.get(), "SIM-USB-SLOW");
        QCOMPARE(w->lists, 1);
        QCOMPARE(w->sourceType(), int(NrSourceDvsCamera));
        QVERIFY(camera(w.get()));
        QVERIFY(button(w.get(), "pb_play")->isChecked());
        QVERIFY(camera(w.get())->isStreaming());
        QVERIFY(!button(w.get(), "pb_record")->isHidden());
        QVERIFY(!button(w.get(), "pb_fold_dvs_setting")->isHidden());
        QVERIFY(!button(w.get(), "pb_next")->isEnabled());
        QCOMPARE(label(w.get(), "label_show_camera_info")->text(), QStringLiteral("SIM-USB-SLOW"));
        QTRY_VERIFY_WITH_TIMEOUT(images.count() >= 5, kStreamWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!label(w.get(), "label_show_timestamp_info")->text().isEmpty(), kStreamWaitMs);
        // Once a second the camera's figures, with one decimal; the status bar shows the source's
        // text as it is. How many events a second and how many the display dropped depend on the
        // machine's load (the display benchmark reports them): here their form, and that the drops
        // shown add up to no more than the camera counted.
        QSignalSpy statuses(camera(w.get()), &NrCameraSource::signalStatus);
        QTRY_VERIFY_WITH_TIMEOUT(statuses.count() >= 2, kStreamWaitMs);
        const QRegularExpression form(
            QStringLiteral("^ Bandwidth: \\d+\\.\\d MB/s  Events: \\d+\\.\\d MEv/s  Dropped: (\\d+) $"));
        uint64_t droppedShown = 0;
        for (const QList<QVariant>& s : statuses) {
            const QRegularExpressionMatch m = form.match(s.at(0).toString());
            QVERIFY2(m.hasMatch(), qPrintable(s.at(0).toString()));
            droppedShown += m.captured(1).toULongLong();
        }
        QVERIFY(droppedShown <= camera(w.get())->camera()->getDroppedEventCount());
        QTRY_COMPARE(label(w.get(), "lb_status_bar")->text(), statuses.last().at(0).toString());
        // The figures themselves: bytes as MB/s (MiB) and events as MEv/s with one decimal, drops as they are.
        norvale::NrStatisticInfo figures;
        figures.bandwidth = 3 * 1024 * 1024 / 2;
        figures.eventRate = 2340000;
        QCOMPARE(NrCameraSource::statusText(figures, 7), QStringLiteral(" Bandwidth: 1.5 MB/s  Events: 2.3 MEv/s  Dropped: 7 "));
        QVERIFY(livekit::saveImage(w->grab().toImage(), QStringLiteral("live_dvs_camera_en")));

        // Stopped: the camera delivers nothing more, and only the frames already on their way
        // (one waiting, one being painted, one asked for) can still arrive, however long we wait.
        const int atStop = images.count();
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton);
        QVERIFY(!button(w.get(), "pb_play")->isChecked());
        QVERIFY(!camera(w.get())->isStreaming());
        const uint64_t delivered = camera(w.get())->camera()->getDeliveredEventCount();
        QTest::qWait(500);
        QCOMPARE(camera(w.get())->camera()->getDeliveredEventCount(), delivered);
        QVERIFY2(images.count() <= atStop + 3, qPrintable(QString::number(images.count() - atStop)));
        const int stopped = images.count();
        QTest::keyClick(w.get(), Qt::Key_Space);
        QVERIFY(camera(w.get())->isStreaming());
        QTRY_VERIFY_WITH_TIMEOUT(images.count() > stopped + 3, kStreamWaitMs);

        // The same camera can be opened again: the previous one is released first.
        w->findChild<QAction*>(QStringLiteral("action_open_camera"))->trigger();
        QVERIFY(camera(w.get()) && camera(w.get())->isStreaming());

        // By serial, as "viewer --camera" does: another camera takes over; an unknown one fails.
        Tips tips(w.get());
        w->openCamera(QStringLiteral("SIM-DVS-0001"));
        QVERIFY(camera(w.get()) && camera(w.get())->isStreaming());
        QCOMPARE(label(w.get(), "label_show_camera_info")->text(), QStringLiteral("SIM-DVS-0001"));
        w->openCamera(QStringLiteral("SIM-NOPE"));
        QTRY_VERIFY(tips.has(QStringLiteral("Open camera: SIM-NOPE failed."), NrMessageError));
    }

    // The time label shows the time of the picture on screen: each live image comes with its
    // batch's time, given right after it, and the label then shows that time; no time arrives
    // without its image first. Also across a stop and a new start of the stream.
    void timeLabelFollowsTheImage() {
        auto w = window();
        QVERIFY(w);
        QLabel* time = label(w.get(), "label_show_timestamp_info");
        QStringList log; // "image", or the label's text right after a time
        int images = 0;
        bool timeWithoutImage = false;
        bool lastWasImage = false;
        // Connected after the window's own connections, so these run after the view and the label.
        connect(w->eventProcessor(), &NrEventProcessor::signalEventImage, this, [&] {
            ++images;
            lastWasImage = true;
        });
        connect(w->eventProcessor(), &NrEventProcessor::signalRealTimeTimeStamp, this, [&](uint64_t ts) {
            timeWithoutImage = timeWithoutImage || !lastWasImage;
            lastWasImage = false;
            const QString expected = QString::fromStdString(timestamp2StdString(ts));
            if (time->text() != expected)
                log << QStringLiteral("label %1, time %2").arg(time->text(), expected);
        });
        openCamera(w.get(), "SIM-USB-SLOW");
        QVERIFY(camera(w.get()) && camera(w.get())->isStreaming());
        QTRY_VERIFY_WITH_TIMEOUT(images >= 10, kStreamWaitMs);
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton);
        QVERIFY(!camera(w.get())->isStreaming());
        const int stopped = images;
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton);
        QVERIFY(camera(w.get())->isStreaming());
        QTRY_VERIFY_WITH_TIMEOUT(images >= stopped + 10, kStreamWaitMs);
        QVERIFY(!timeWithoutImage);
        QVERIFY2(log.isEmpty(), qPrintable(log.join(QLatin1Char('\n'))));
        QVERIFY(!time->text().isEmpty());
    }

    // Record by hand: the file is named serial + time, holds what the camera recorded and opens
    // in the player; a folder that cannot be written gives an error tip and no checked button.
    void recordByHand() {
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        openCamera(w.get(), "SIM-USB-SLOW");
        QVERIFY(camera(w.get()));
        QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
        QVERIFY(button(w.get(), "pb_record")->isChecked());
        const QString path = camera(w.get())->recordingPath();
        QVERIFY2(QFileInfo(path).fileName().contains(
                     QRegularExpression(QStringLiteral("^SIM-USB-SLOW_\\d{8}_\\d{6}\\.raw$"))),
                 qPrintable(path));
        QTRY_VERIFY_WITH_TIMEOUT(camera(w.get())->camera()->getRecordedEventCount() > 0, kStreamWaitMs);
        QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
        QVERIFY(!button(w.get(), "pb_record")->isChecked());
        QTRY_VERIFY(tips.has(QStringLiteral("Save file success!"), NrMessageSuccess));
        const uint64_t recorded = camera(w.get())->camera()->getRecordedEventCount();
        QVERIFY(recorded > 0);
        QCOMPARE(countEvents(path), recorded);

        w->nextFile = path;
        w->findChild<QAction*>(QStringLiteral("action_open_recording"))->trigger();
        QCOMPARE(w->sourceType(), int(NrSourceDvsRecording));
        QVERIFY(!w->source()->isLive());
        QVERIFY(button(w.get(), "pb_record")->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(button(w.get(), "pb_play")->isChecked(), kStreamWaitMs);
        QVERIFY(w->timeSlider()->getMaximun() > w->timeSlider()->getMinimun());

        // A recording folder that is a file: the camera cannot create the recording.
        const QString blocker = tmp.filePath(QStringLiteral("not_a_folder"));
        QFile b(blocker);
        QVERIFY(b.open(QIODevice::WriteOnly));
        b.close();
        const QString saved = config->outputRawFilePath;
        config->outputRawFilePath = blocker;
        w->findChild<QAction*>(QStringLiteral("action_open_camera"))->trigger();
        QVERIFY(camera(w.get()));
        QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
        config->outputRawFilePath = saved;
        QVERIFY(!button(w.get(), "pb_record")->isChecked());
        QVERIFY(!camera(w.get())->isRecording());
        QTRY_VERIFY(std::any_of(tips.types.begin(), tips.types.end(), [](int t) { return t == NrMessageError; }));
        QCOMPARE(tips.texts.count(QStringLiteral("Save file success!")), 1);
    }

    // Unplugged while recording: play and record uncheck, the file is finished and readable, and
    // the user is told.
    void unplugWhileRecording() {
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        openCamera(w.get(), "SIM-USB-SLOW");
        QVERIFY(camera(w.get()));
        QTest::mouseClick(button(w.get(), "pb_record"), Qt::LeftButton);
        const QString path = camera(w.get())->recordingPath();
        QTRY_VERIFY_WITH_TIMEOUT(camera(w.get())->camera()->getRecordedEventCount() > 0, kStreamWaitMs);
        camera(w.get())->camera()->simulateUnplug();
        QTRY_VERIFY_WITH_TIMEOUT(!button(w.get(), "pb_play")->isChecked(), kStreamWaitMs);
        QVERIFY(!button(w.get(), "pb_record")->isChecked());
        QVERIFY(!camera(w.get())->isRecording());
        QTRY_VERIFY(tips.has(QStringLiteral("Camera connection lost."), NrMessageError));
        QVERIFY(countEvents(path) > 0);
        // Play on a lost camera does nothing.
        QTest::mouseClick(button(w.get(), "pb_play"), Qt::LeftButton);
        QVERIFY(!button(w.get(), "pb_play")->isChecked());
    }

    // One recording at a time with a trigger pulse every 200 ms: edges during a timed recording and
    // during one by hand start nothing, write nothing and tell nothing; the record button ends a
    // timed recording as it ends its own (unchecked, the file complete, the usual success note).
    void triggerEdgesAndTheRecordButton() {
        config->dvsTriggerInRecEnable = true;
        config->dvsTriggerInRecEdgeType = QStringLiteral("Rising Edge");
        config->dvsBeforeTriggerInSaveTime = 0;
        config->dvsAfterTriggerInSaveTime = 60; // still running when the button is pressed
        const QString saved = config->outputRawFilePath;
        config->outputRawFilePath = tmp.filePath(QStringLiteral("trigger_and_button"));
        // Declared before the window, so that they outlive it and whatever it still delivers.
        int requests = 0; // edges that asked for a recording (emitted on the streaming thread)
        QString firstRequest;
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        // Queued to the window, not to this test object: a call still waiting when the test ends
        // goes with the window.
        connect(w.get(), &MainWidget::signalRecByTime, w.get(),
                [&](uint32_t, const QString& p) {
                    if (requests++ == 0)
                        firstRequest = p;
                },
                Qt::QueuedConnection);
        openCamera(w.get(), "SIM-TRIG-REC");
        QVERIFY(camera(w.get()) && camera(w.get())->hasTriggerInCallback());
        NrFileRecorder* recorder = w->recorder();
        QPushButton* record = button(w.get(), "pb_record");
        auto trigger = camera(w.get())->camera()->getTool(norvale::TOOL_TRIGGER_IN);
        QVERIFY(trigger && trigger->setParam("channel_0_enable", true));

        QTRY_VERIFY_WITH_TIMEOUT(recorder->isTimedRecording(), kStreamWaitMs);
        int seen = requests;
        QTRY_VERIFY_WITH_TIMEOUT(requests >= seen + 3, kStreamWaitMs); // edges during the timed recording
        QVERIFY(recorder->isTimedRecording());
        QVERIFY(!record->isChecked());
        QTest::mouseClick(record, Qt::LeftButton); // ends it
        QVERIFY(!record->isChecked());
        QVERIFY(!recorder->isRecording());
        QTRY_COMPARE(tips.texts.count(QStringLiteral("Save file success!")), 1);
        const QString timed = camera(w.get())->recordingPath();
        QCOMPARE(timed, firstRequest);
        QVERIFY(countEvents(timed) > 0);

        // By hand now, the pulses still coming: the recording is the button's alone.
        QTest::mouseClick(record, Qt::LeftButton);
        QVERIFY(record->isChecked());
        const QString manual = camera(w.get())->recordingPath();
        QVERIFY(manual != timed); // the same second's name gets a number, the timed file stays
        seen = requests;
        QTRY_VERIFY_WITH_TIMEOUT(requests >= seen + 3, kStreamWaitMs);
        QVERIFY(recorder->isRecording() && !recorder->isTimedRecording());
        QVERIFY(record->isChecked());
        QTest::mouseClick(record, Qt::LeftButton);
        QVERIFY(!record->isChecked());
        QVERIFY(trigger->setParam("channel_0_enable", false));
        QVERIFY(countEvents(manual) > 0);
        QVERIFY(countEvents(timed) > 0);

        // Whatever the recorder's thread had to say has arrived once it is joined.
        recorder->release();
        QCoreApplication::processEvents();
        QCOMPARE(tips.texts, (QStringList{QStringLiteral("Recording file ... "), QStringLiteral("Save file success!"),
                                          QStringLiteral("Save file success!")}));
        QCOMPARE(QDir(config->outputRawFilePath).entryList({QStringLiteral("*.raw")}, QDir::Files).size(), 2);
        config->dvsTriggerInRecEnable = false;
        config->outputRawFilePath = saved;
    }

    // Toasts that come quickly stack in the image view's lower-left corner, at most a few, and
    // cover no control: not the play bar, not the side panel; they follow the view when the window
    // changes and close up when one is closed.
    void toastsCoverNoControl() {
        auto w = window();
        QVERIFY(w);
        openCamera(w.get(), "SIM-USB-SLOW");
        QVERIFY(camera(w.get()));
        const auto shown = [&] {
            QList<NrFilePathReminderForm*> out;
            for (auto* t : w->findChildren<NrFilePathReminderForm*>())
                if (t->isVisible())
                    out << t;
            std::sort(out.begin(), out.end(), [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
            return out;
        };
        const auto inWindow = [&](QWidget* c) { return QRect(c->mapTo(w.get(), QPoint(0, 0)), c->size()); };
        const auto check = [&](const QString& when) {
            const QList<NrFilePathReminderForm*> toasts = shown();
            if (toasts.isEmpty() || toasts.size() > NrToastStack::kMaxShown)
                return when + QStringLiteral(": %1 toasts").arg(toasts.size());
            QList<QWidget*> controls;
            const auto inToast = [](QWidget* c) {
                for (QWidget* p = c; p; p = p->parentWidget())
                    if (qobject_cast<NrFilePathReminderForm*>(p))
                        return true;
                return false;
            };
            for (auto* b : w->findChildren<QAbstractButton*>())
                if (b->isVisible() && b->window() == w.get() && !inToast(b))
                    controls << b;
            controls << w->timeSlider() << w->findChild<QWidget*>(QStringLiteral("widget_play_bar"));
            if (auto* panel = w->findChild<QWidget*>(QStringLiteral("frame_setting")); panel->isVisible())
                controls << panel;
            const QRect view = inWindow(w->imageView());
            for (int i = 0; i < toasts.size(); ++i) {
                const QRect r = inWindow(toasts[i]);
                if (!view.contains(r))
                    return when + QStringLiteral(": toast %1 outside the view").arg(i);
                if (i > 0 && inWindow(toasts[i - 1]).intersects(r))
                    return when + QStringLiteral(": toasts %1 and %2 overlap").arg(i - 1).arg(i);
                for (QWidget* c : controls)
                    if (inWindow(c).intersects(r))
                        return when + QStringLiteral(": toast %1 covers ").arg(i) + c->objectName();
            }
            return QString();
        };
        const auto text = [](NrFilePathReminderForm* t) {
            return t->findChild<QLabel*>(QStringLiteral("lb_show_tips"))->text();
        };

        for (int i = 1; i <= 7; ++i)
            w->slotShowLeftBottomTips(QStringLiteral("Tip %1").arg(i), NrMessageType(i % 3), i % 2 ? tmp.path() : QString());
        QCOMPARE(shown().size(), NrToastStack::kMaxShown);
        QCOMPARE(text(shown().last()), QStringLiteral("Tip 7")); // the newest lowest
        QCOMPARE(text(shown().first()), QStringLiteral("Tip 5"));
        QCOMPARE(check(QStringLiteral("1280 x 800")), QString());
        QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("toasts_stacked")).isEmpty());

        // The middle one closed: the oldest closes up to the newest.
        NrFilePathReminderForm* newest = shown().last();
        QTest::mouseClick(shown()[1]->findChild<QPushButton*>(QStringLiteral("pb_close")), Qt::LeftButton);
        QTRY_COMPARE(shown().size(), 2);
        QTRY_COMPARE(shown().first()->geometry().bottom() + 1 + NrToastStack::kSpacing, newest->y());

        // The side panel takes room from the view; a bigger window moves the view's corner.
        QTest::mouseClick(button(w.get(), "pb_fold_setting"), Qt::LeftButton);
        QTRY_COMPARE(check(QStringLiteral("side panel")), QString());
        w->resize(1600, 1000);
        QTRY_COMPARE(check(QStringLiteral("1600 x 1000")), QString());
        const QRect view = inWindow(w->imageView());
        QTRY_COMPARE(inWindow(newest).bottomLeft(),
                     view.bottomLeft() + QPoint(NrToastStack::kMargin, -NrToastStack::kMargin));
        QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("toasts_side_panel")).isEmpty());
    }

    // Device -> Open Network Stream...: a wrong port keeps Open disabled; a stream sent to the
    // address given plays live like any camera, without the sensor-only tools, and its losses
    // join the status bar.
    void networkStream() {
        auto w = window();
        QVERIFY(w);
        const uint16_t port = freePort();
        bool refusedBadPort = false;
        w->streamDialog = [&](NrNetworkStreamDialog* d) {
            d->field(1)->setText(QStringLiteral("70000"));
            refusedBadPort = !d->isInputValid();
            d->field(0)->setText(QStringLiteral("localhost"));
            d->field(1)->setText(QString::number(port));
            d->field(2)->setText(QStringLiteral("640"));
            d->field(3)->setText(QStringLiteral("480"));
        };
        QSignalSpy images(w->eventProcessor(), &NrEventProcessor::signalEventImage);
        w->findChild<QAction*>(QStringLiteral("action_open_network_stream"))->trigger();
        QVERIFY(refusedBadPort);
        const QString serial = QStringLiteral("UDP-127.0.0.1-%1").arg(port);
        QVERIFY(camera(w.get()) && camera(w.get())->isStreaming());
        QCOMPARE(label(w.get(), "label_show_camera_info")->text(), serial);
        norvale::DvsCamera* cam = camera(w.get())->camera().get();
        QCOMPARE(cam->getWidth(), 640u);
        QVERIFY(!cam->getTool(norvale::TOOL_BIASES));
        std::string why;
        auto sender = norvale::UdpEventSender::open("udp://127.0.0.1:" + std::to_string(port),
                                                    norvale::WireFormat::T64_X16_Y16_ON8, 100, why);
        QVERIFY2(sender, why.c_str());
        // A square of ON events, 2 ms apart, until the view has shown some images.
        std::vector<norvale::Event2D> square;
        uint64_t t = 1000;
        for (int round = 0; round < 400 && images.count() < 5; ++round) {
            square.clear();
            for (uint16_t y = 200; y < 240; ++y)
                for (uint16_t x = 300; x < 340; x += 4)
                    square.push_back(norvale::Event2D{x, y, 1, t});
            t += 2000;
            QVERIFY2(sender->send(square.data(), square.data() + square.size(), why), why.c_str());
            QTest::qWait(20);
        }
        QTRY_VERIFY_WITH_TIMEOUT(images.count() >= 5, kStreamWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(cam->getDeliveredEventCount() > 0, kStreamWaitMs);
        QCOMPARE(cam->getStreamLoss().invalidEvents, 0u);
        norvale::NrStatisticInfo figures;
        figures.bandwidth = 3 * 1024 * 1024 / 2;
        figures.eventRate = 2340000;
        QCOMPARE(NrCameraSource::statusText(figures, 7, 3),
                 QStringLiteral(" Bandwidth: 1.5 MB/s  Events: 2.3 MEv/s  Dropped: 7  Lost datagrams: 3 "));
        QVERIFY(livekit::saveImage(w->grab().toImage(), QStringLiteral("live_network_stream_en")));
    }

    // Ethernet cameras whose address conflicts with the PC's or lies in another subnet are not
    // opened; each gets its own error tip. A rejected list changes nothing.
    void ethernetChecksAndCancel() {
        auto w = window();
        QVERIFY(w);
        Tips tips(w.get());
        openCamera(w.get(), "SIM-ETH-CONFLICT");
        QTRY_VERIFY(tips.has(QStringLiteral("There is a conflict between the camera ip and the local ip!"),
                             NrMessageError));
        QVERIFY(!w->source());
        openCamera(w.get(), "SIM-ETH-SUBNET");
        QTRY_VERIFY(tips.has(QStringLiteral("The camera ip is not in the same network segment as the local ip!"),
                             NrMessageError));
        QVERIFY(!w->source());
        QVERIFY(!button(w.get(), "pb_play")->isChecked());
        openCamera(w.get(), "SIM-ETH-0001"); // a good Ethernet camera opens
        QVERIFY(camera(w.get()) && camera(w.get())->isStreaming());
        openCamera(w.get(), "NO-SUCH");
        QVERIFY(camera(w.get())); // rejected: the open camera stays
    }

    // The live window, its DVS panel, the Device menu and the camera list, in both languages.
    void screenshots() {
        for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
            installLanguage(language);
            auto w = window();
            QVERIFY(w);
            w->listShot = QStringLiteral("camera_list_") + language;
            openCamera(w.get(), "SIM-DVS-0001");
            QVERIFY(camera(w.get()));
            QTRY_VERIFY_WITH_TIMEOUT(!label(w.get(), "lb_status_bar")->text().isEmpty(), kStreamWaitMs);
            QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("live_dvs_") + language).isEmpty());
            QTest::mouseClick(button(w.get(), "pb_fold_dvs_setting"), Qt::LeftButton);
            QVERIFY(w->findChild<QWidget*>(QStringLiteral("sidebar_dvs"))->isVisible());
            QTest::qWait(100);
            QVERIFY(!testenv::saveScreenshot(w.get(), QStringLiteral("live_dvs_panel_") + language).isEmpty());
            QTest::mouseClick(button(w.get(), "pb_fold_setting"), Qt::LeftButton);
            QVERIFY(!w->findChild<QWidget*>(QStringLiteral("sidebar_dvs"))->isVisible());
            QPushButton* b = button(w.get(), "pb_menu_device");
            QVERIFY(livekit::saveImage(livekit::withMenu(w.get(), b), QStringLiteral("menu_device_") + language));
            for (QTranslator* t : qApp->findChildren<QTranslator*>())
                delete t;
        }
    }
};

QTEST_MAIN(TestLiveCamera)
#include "tst_livecamera.moc"
