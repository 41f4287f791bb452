// Every event-file format in the main window: a small recording of each is opened the way the user
// opens one, played through, stepped and sought, and cut. The recording is a disk crossing the
// sensor diagonally, so a frame's picture tells its time, orientation and geometry.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <random>

#include "EsFileBuilder.h"
#include "ScriptedWindow.h"
#include "TestEnv.h"
#include "loadconfig.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventFileFormat.h"
#include "norvale/EventFileWriter.h"
#include "processing/nreventsproccess.h"
#include "tools/nrfilepathreminderform.h"
#include "tools/nrtimerangedialog.h"
#include "ui/mainwidget.h"
#include "widgets/nrthreehandleslider.h"

Q_DECLARE_METATYPE(norvale::EventFileFormat)

namespace {

using norvale::Event2D;
using norvale::EventFileFormat;
using norvale::EventTriggerIn;

constexpr uint64_t kFirstUs = 5000;
constexpr uint64_t kSpanUs = 1000000;
constexpr int kEvents = 240000;
constexpr int kRadius = 15;
constexpr int kMargin = 40;
// Waits are generous: a sanitizer build on a busy machine plays slowly; nothing here is timed.
constexpr int kWaitMs = 30000;

// Where the disk's centre is at t.
QPointF diskAt(uint64_t t, int width, int height) {
    const double f = double(t - kFirstUs) / double(kSpanUs);
    return QPointF(kMargin + (width - 2 * kMargin) * f, kMargin + (height - 2 * kMargin) * f);
}

// The disk's events in time order, the first two at opposite corners (what a file that states no
// geometry takes its size from), and trigger edges every 90 ms.
void makeRecording(int width, int height, std::vector<Event2D>& events, std::vector<EventTriggerIn>& triggers) {
    std::mt19937 rng(26);
    events.clear();
    for (int i = 0; i < kEvents; ++i) {
        const uint64_t t = kFirstUs + uint64_t(i) * kSpanUs / kEvents;
        Event2D e;
        e.timestamp = t;
        e.polarity = rng() & 1;
        if (i < 2) {
            e.x = uint16_t(i == 0 ? width - 1 : 0);
            e.y = uint16_t(i == 0 ? height - 1 : 0);
        } else {
            const QPointF c = diskAt(t, width, height);
            int dx, dy;
            do {
                dx = int(rng() % (2 * kRadius + 1)) - kRadius;
                dy = int(rng() % (2 * kRadius + 1)) - kRadius;
            } while (dx * dx + dy * dy > kRadius * kRadius);
            e.x = uint16_t(qRound(c.x()) + dx);
            e.y = uint16_t(qRound(c.y()) + dy);
        }
        events.push_back(e);
    }
    triggers.clear();
    for (int i = 0; i < 10; ++i)
        triggers.push_back(EventTriggerIn{uint16_t(i % 2 == 0), kFirstUs + 50000 + uint64_t(i) * 90000, 0});
}

bool hasToast(QWidget* w, const QString& text) {
    for (auto* t : w->findChildren<NrFilePathReminderForm*>())
        if (t->isVisible() && t->findChild<QLabel*>(QStringLiteral("lb_show_tips"))->text().contains(text))
            return true;
    return false;
}

// The centre of the pixels that differ from the background (the commonest colour), and how many.
QPointF paintedCentre(const QImage& image, int& painted) {
    QHash<QRgb, int> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++colours[image.pixel(x, y)];
    QRgb background = 0;
    int most = -1;
    for (auto it = colours.cbegin(); it != colours.cend(); ++it)
        if (it.value() > most) {
            most = it.value();
            background = it.key();
        }
    double sx = 0, sy = 0;
    painted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) {
                sx += x;
                sy += y;
                ++painted;
            }
    return painted ? QPointF(sx / painted, sy / painted) : QPointF(-1, -1);
}

} // namespace

class TestFormats : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    LoadConfig* config = nullptr;

    static QPushButton* button(QWidget* w, const char* name) { return w->findChild<QPushButton*>(QLatin1String(name)); }

    static void click(QWidget* w, const char* name) {
        QTest::mousePress(button(w, name), Qt::LeftButton);
        QTest::mouseRelease(button(w, name), Qt::LeftButton);
    }

    // Writes the recording in format (Event Stream, which we do not write, byte by byte).
    static bool writeRecording(const QString& path, EventFileFormat format, int width, int height,
                               const std::vector<Event2D>& events, const std::vector<EventTriggerIn>& triggers) {
        if (format == EventFileFormat::EventStream) {
            const std::vector<uint8_t> bytes = esFile(events, uint16_t(width), uint16_t(height), false);
            QFile f(path);
            return f.open(QIODevice::WriteOnly) &&
                   f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
        }
        norvale::EventFileDescription d;
        d.width = uint32_t(width);
        d.height = uint32_t(height);
        d.serialNumber = "FMT-TEST";
        std::string problem;
        auto w = norvale::EventFileWriter::create(path.toStdString(), format, d, false, {}, problem);
        if (!w) {
            qWarning("%s", problem.c_str());
            return false;
        }
        if (!w->write(events.data(), events.data() + events.size(), triggers.data(), triggers.data() + triggers.size()) ||
            !w->finish()) {
            qWarning("%s", w->problem().c_str());
            return false;
        }
        return w->triggersNotHeld() == 0;
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        config = LoadConfig::getGlobalConfig();
        config->videoSavePath = tmp.path();
        config->outputRawFilePath = tmp.filePath(QStringLiteral("cuts"));
        QVERIFY(QDir().mkpath(config->outputRawFilePath));
    }

    void opensPlaysSeeksAndCutsEachFormat_data() {
        QTest::addColumn<EventFileFormat>("format");
        for (const norvale::EventFileFormatInfo& f : norvale::eventFileFormats())
            QTest::newRow(f.key) << f.format;
    }

    void opensPlaysSeeksAndCutsEachFormat() {
        QFETCH(EventFileFormat, format);
        const norvale::EventFileFormatInfo& info = norvale::formatInfo(format);
        // The Event Stream file states a sensor of its own, the others the one their data needs.
        const int width = format == EventFileFormat::EventStream ? 346 : 640;
        const int height = format == EventFileFormat::EventStream ? 260 : 480;
        std::vector<Event2D> events;
        std::vector<EventTriggerIn> triggers;
        makeRecording(width, height, events, triggers);
        if (!info.holdsTriggers)
            triggers.clear();
        const QString ext = QString::fromLatin1(info.extensions).section(QLatin1Char(' '), 0, 0);
        const QString name = QStringLiteral("disk_%1%2").arg(QLatin1String(info.key), ext);
        const QString path = tmp.filePath(name);
        QVERIFY(writeRecording(path, format, width, height, events, triggers));

        // Opened as the user opens it: the label names the file and its format.
        ScriptedWindow w;
        w.resize(1280, 800);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QSignalSpy images(w.eventProcessor(), &NrEventProcessor::signalEventImage);
        QSignalSpy sizes(w.eventProcessor(), &NrEventProcessor::signalDisplaySize);
        w.nextFile = path;
        w.findChild<QAction*>(QStringLiteral("action_open_recording"))->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(button(&w, "pb_play")->isChecked(), kWaitMs);
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("lb_viewer_file_name"))->text(),
                 QStringLiteral("%1 \u2014 %2").arg(name, QLatin1String(info.name)));
        QVERIFY(!sizes.isEmpty());
        QCOMPARE(sizes.last().at(0).toInt(), width);
        QCOMPARE(sizes.last().at(1).toInt(), height);
        NrThreeHandleSlider* slider = w.timeSlider();
        QCOMPARE(slider->getMinimun(), kFirstUs);
        QCOMPARE(slider->getMaximun(), events.back().timestamp);
        QCOMPARE(int(slider->getTags().size()), int(triggers.size()));

        // Played through with each window one step long, every event of the file is shown once.
        if (button(&w, "pb_play")->isChecked()) // opening plays; it may have ended already
            QTest::mouseClick(button(&w, "pb_play"), Qt::LeftButton);
        QTRY_VERIFY(!button(&w, "pb_play")->isChecked());
        NrRecordingPlayer& player = w.eventProcessor()->playbackFront()->player();
        const uint64_t step = player.frameStep();
        w.eventProcessor()->setAccTime(step);
        QVERIFY(player.waitIdle(std::chrono::milliseconds(kWaitMs)));
        const uint64_t shownBefore = player.eventsShown();
        click(&w, "pb_stop");
        QTRY_COMPARE_WITH_TIMEOUT(slider->getCenterValue(), kFirstUs, kWaitMs);
        QTest::mouseClick(button(&w, "pb_play"), Qt::LeftButton);
        QVERIFY(button(&w, "pb_play")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(!button(&w, "pb_play")->isChecked(), kWaitMs);
        QVERIFY(player.waitIdle(std::chrono::milliseconds(kWaitMs)));
        QCOMPARE(player.eventsShown() - shownBefore, uint64_t(events.size()));

        // A click on the timeline shows the frame of that time: the disk where it was during the
        // window [t - step, t), in the file's geometry.
        const auto expectFrame = [&](uint64_t t) -> QImage {
            const QImage image = images.last().at(0).value<QImage>();
            if (image.size() != QSize(width, height)) {
                qWarning() << "frame of" << image.size() << "for" << width << "x" << height;
                return QImage();
            }
            int painted = 0;
            const QPointF got = paintedCentre(image, painted);
            const QPointF want = diskAt(t - step / 2, width, height);
            if (painted < 300 || qAbs(got.x() - want.x()) > 6 || qAbs(got.y() - want.y()) > 6) {
                qWarning() << "frame at" << t << ":" << painted << "pixels around" << got << ", the disk is at" << want;
                return QImage();
            }
            return image;
        };
        const uint64_t target = kFirstUs + kSpanUs * 3 / 5;
        int before = images.count();
        QTest::mouseClick(slider, Qt::LeftButton, Qt::NoModifier,
                          QPoint(slider->centerXOfValue(target), slider->height() / 2));
        QTRY_VERIFY_WITH_TIMEOUT(images.count() > before, kWaitMs);
        // On a busy machine the last played frame may arrive after the click: the seek's frame is
        // the one shown once the player is idle and its mailbox delivered.
        QVERIFY(player.waitIdle(std::chrono::milliseconds(kWaitMs)));
        QTest::qWait(50);
        const uint64_t sought = slider->getCenterValue();
        QVERIFY(qAbs(qint64(sought - target)) < qint64(kSpanUs / 50));
        const QImage atSought = expectFrame(sought);
        QVERIFY(!atSought.isNull());
        QVERIFY(!testenv::saveScreenshot(&w, QStringLiteral("formats_%1").arg(QLatin1String(info.key))).isEmpty());

        // Next shows the following window, Previous the one before it again, pixel for pixel.
        before = images.count();
        click(&w, "pb_next");
        QTRY_VERIFY_WITH_TIMEOUT(images.count() > before && slider->getCenterValue() == sought + step, kWaitMs);
        QVERIFY(!expectFrame(sought + step).isNull());
        before = images.count();
        click(&w, "pb_prv");
        QTRY_VERIFY_WITH_TIMEOUT(images.count() > before && slider->getCenterValue() == sought, kWaitMs);
        QVERIFY(images.last().at(0).value<QImage>() == atSought);

        // A cut is offered and written in the input's format where it can be written, else in
        // EVT 3.0, and holds exactly the range's events and edges.
        const uint64_t start = kFirstUs + 200000, end = start + 250000;
        const EventFileFormat cutFormat = info.writable ? format : EventFileFormat::Evt3;
        const QString cutExt = QString::fromLatin1(norvale::formatInfo(cutFormat).extensions).section(QLatin1Char(' '), 0, 0);
        QString offered;
        w.onDialog = answerRange(start, end, QStringLiteral("cut_%1%2").arg(QLatin1String(info.key), cutExt), &offered);
        w.findChild<QAction*>(QStringLiteral("action_cut"))->trigger();
        QVERIFY2(offered.endsWith(cutExt), qPrintable(offered));
        QTRY_VERIFY_WITH_TIMEOUT(hasToast(&w, QStringLiteral("Export raw file success!")), kWaitMs);
        const std::string cutPath =
            (config->outputRawFilePath + QStringLiteral("/cut_%1%2").arg(QLatin1String(info.key), cutExt)).toStdString();
        auto cut = norvale::DvsFileReader::createFileReader(cutPath);
        QVERIFY(cut && cut->prepareFile());
        QCOMPARE(int(cut->fileFormat()), int(cutFormat));
        std::vector<Event2D> got, want;
        std::vector<EventTriggerIn> gotTriggers, wantTriggers;
        QVERIFY(cut->readRange(0, UINT64_MAX, got, &gotTriggers));
        for (const Event2D& e : events)
            if (e.timestamp >= start && e.timestamp <= end)
                want.push_back(e);
        for (const EventTriggerIn& t : triggers)
            if (t.timestamp >= start && t.timestamp <= end)
                wantTriggers.push_back(t);
        QVERIFY(want.size() > 50000);
        QCOMPARE(got.size(), want.size());
        QVERIFY(got == want);
        QVERIFY(!info.holdsTriggers || wantTriggers.size() == 3);
        QVERIFY(gotTriggers == wantTriggers);
    }

    // A DAT record holds 32 bits of time: a DAT recording whose clock passed them (its reader
    // follows the wraps) is cut into EVT 3.0, and the cut is offered under that format's name.
    void datPastItsClockIsCutIntoEvt3() {
        const uint64_t wrap = uint64_t(1) << 32;
        std::vector<Event2D> events;
        QByteArray bytes("% Data file containing CD events\n% Height 480\n% Width 640\n");
        bytes.append('\0').append('\x08'); // event type 0 (CD), 8-byte records
        std::mt19937 rng(32);
        for (uint64_t t = wrap - 300000; t < wrap + 300000; t += 10) {
            const Event2D e{uint16_t(rng() % 640), uint16_t(rng() % 480), uint8_t(rng() & 1), t};
            const uint32_t record[2] = {uint32_t(t), uint32_t(e.x) | uint32_t(e.y) << 14 | uint32_t(e.polarity) << 28};
            bytes.append(reinterpret_cast<const char*>(record), sizeof(record));
            events.push_back(e);
        }
        const QString path = tmp.filePath(QStringLiteral("late.dat"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        f.close();

        ScriptedWindow w;
        w.resize(1280, 800);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.nextFile = path;
        w.findChild<QAction*>(QStringLiteral("action_open_recording"))->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(button(&w, "pb_play")->isChecked(), kWaitMs);
        QCOMPARE(w.timeSlider()->getMaximun(), events.back().timestamp);
        const uint64_t start = wrap - 100000, end = wrap + 100000;
        QString offered;
        w.onDialog = answerRange(start, end, QStringLiteral("cut_late.raw"), &offered);
        w.findChild<QAction*>(QStringLiteral("action_cut"))->trigger();
        QVERIFY2(offered.endsWith(QStringLiteral(".raw")), qPrintable(offered));
        QTRY_VERIFY_WITH_TIMEOUT(hasToast(&w, QStringLiteral("Export raw file success!")), kWaitMs);
        auto cut = norvale::DvsFileReader::createFileReader(
            (config->outputRawFilePath + QStringLiteral("/cut_late.raw")).toStdString());
        QVERIFY(cut && cut->prepareFile());
        QCOMPARE(int(cut->fileFormat()), int(EventFileFormat::Evt3));
        std::vector<Event2D> got, want;
        QVERIFY(cut->readRange(0, UINT64_MAX, got));
        for (const Event2D& e : events)
            if (e.timestamp >= start && e.timestamp <= end)
                want.push_back(e);
        QCOMPARE(got.size(), want.size());
        QVERIFY(got == want);
    }
};

NR_QTEST_MAIN(TestFormats)
#include "tst_formats.moc"
