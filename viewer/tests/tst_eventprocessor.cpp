// NrEventProcessor on the real reader and recordings written by the driver's writer: signal order
// of loading, playback through the range, steps, seeks, reset, trim changes, rendered pixels in each
// colour scheme, export and cut with their tips.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "TestEnv.h"
#include "loadconfig.h"
#include "norvale/DvsFileReader.h"
#include "norvale/RawFileWriter.h"
#include "processing/nreventsproccess.h"
#include "processing/nrframemailbox.h"

using norvale::Event2D;

namespace {

constexpr uint64_t kFirst = 1000;
constexpr uint64_t kLast = 50000;

// One event every 100 us from kFirst to kLast, ON, at x = t / 100 of row 0: the pixels lit in a frame
// tell which window of time was read.
std::vector<Event2D> rampEvents() {
    std::vector<Event2D> ev;
    for (uint64_t t = kFirst; t <= kLast; t += 100)
        ev.push_back(Event2D{uint16_t(t / 100), 0, 1, t});
    return ev;
}

bool writeRecording(const QString& path, const std::vector<Event2D>& events,
                    const std::vector<norvale::EventTriggerIn>& triggers = {}) {
    norvale::RawFileWriter w;
    norvale::DvsFileInfo info;
    info.dvsStartTimestamp = events.empty() ? 0 : events.front().timestamp;
    info.serialNumber = "TEST-0001";
    if (!w.open(path.toStdString(), info))
        return false;
    w.setRecordStartTime(norvale::parseLocalTimeString("2024-05-06 07:08:09"));
    for (const auto& t : triggers)
        w.addTrigger(t);
    w.addEvents(events.data(), events.data() + events.size());
    return w.close();
}

QColor px(const QImage& img, int x, int y) { return img.pixelColor(x, y); }

// The x range [lo, hi] of lit (non-background) pixels on row 0; (-1, -1) when none.
std::pair<int, int> litSpan(const QImage& img, const QColor& background) {
    int lo = -1, hi = -1;
    for (int x = 0; x < img.width(); ++x) {
        if (px(img, x, 0) != background) {
            if (lo < 0)
                lo = x;
            hi = x;
        }
    }
    return {lo, hi};
}

std::vector<uint64_t> timestamps(const QSignalSpy& spy) {
    std::vector<uint64_t> v;
    for (const auto& args : spy)
        v.push_back(args.at(0).value<uint64_t>());
    return v;
}

} // namespace

class TestEventProcessor : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp;
    QString ramp;
    LoadConfig* config = nullptr;

    // A processor with the ramp recording loaded (fps 33, accumulation 33333).
    std::unique_ptr<NrEventProcessor> loaded(const QString& path) {
        auto p = std::make_unique<NrEventProcessor>();
        QSignalSpy done(p.get(), &NrEventProcessor::signalLoadingStatus);
        p->loadFile(path);
        // true at once, false when loading has finished
        if (!QTest::qWaitFor([&] { return done.count() >= 2; }, 10000))
            return nullptr;
        // Loading ends playing; the tests start from the paused start. On a busy machine the reset's
        // frame may come later through the mailbox: take it before the test starts counting.
        p->slotPlaybackReset();
        if (!p->playbackFront()->player().waitIdle(std::chrono::seconds(10)))
            return nullptr;
        QTest::qWait(50);
        return p;
    }

    void setScheme(const char* name) {
        config->dvsColorType = QString::fromLatin1(name);
        config->updateGlobalColorType();
    }

    // Counts a batch and returns the image that the next flush renders.
    QImage render(NrEventProcessor& p, const std::vector<Event2D>& ev) {
        QSignalSpy images(&p, &NrEventProcessor::signalEventImage);
        p.processEvents(ev.data(), ev.data() + ev.size());
        p.flushEventsDisplay();
        if (!images.wait(5000) && images.isEmpty())
            return {};
        return images.last().at(0).value<QImage>();
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        config = LoadConfig::getGlobalConfig();
        ramp = tmp.filePath("ramp.raw");
        QVERIFY(writeRecording(ramp, rampEvents(), {{1, 2000, 0}, {0, 3000, 0}}));
    }

    void init() { setScheme("Gray"); }

    void loadingEmitsInOrder() {
        NrEventProcessor p;
        QStringList order;
        connect(&p, &NrEventProcessor::signalEndTimeStamp, this, [&] { order << "end"; });
        connect(&p, &NrEventProcessor::signalStartTimeStamp, this, [&] { order << "start"; });
        connect(&p, &NrEventProcessor::signalRealTimeTimeStamp, this, [&] { order << "now"; });
        connect(&p, &NrEventProcessor::signalLocalTime, this, [&] { order << "local"; });
        connect(&p, &NrEventProcessor::signalPlayStatus, this, [&](bool b) { order << (b ? "play" : "pause"); });
        connect(&p, &NrEventProcessor::signalLoadingStatus, this, [&](bool b) { order << (b ? "busy" : "idle"); });
        connect(&p, &NrEventProcessor::signalEventImage, this, [&] { order << "image"; });
        QSignalSpy start(&p, &NrEventProcessor::signalStartTimeStamp);
        QSignalSpy end(&p, &NrEventProcessor::signalEndTimeStamp);
        QSignalSpy now(&p, &NrEventProcessor::signalRealTimeTimeStamp);
        QSignalSpy local(&p, &NrEventProcessor::signalLocalTime);
        QSignalSpy triggers(&p, &NrEventProcessor::signalTriggerList);
        p.loadFile(ramp);
        QTRY_VERIFY_WITH_TIMEOUT(order.size() >= 8, 10000);
        // Loading renders nothing; the busy indicator goes and playing starts; frames follow.
        QCOMPARE(order.mid(0, 8), QStringList({"pause", "busy", "end", "start", "now", "local", "idle", "play"}));
        p.slotPlaybackCtrl(false);
        QCOMPARE(start.at(0).at(0).value<uint64_t>(), kFirst);
        QCOMPARE(end.at(0).at(0).value<uint64_t>(), kLast);
        QCOMPARE(now.at(0).at(0).value<uint64_t>(), kFirst);
        auto reader = norvale::DvsFileReader::createFileReader(ramp.toStdString());
        QVERIFY(reader && reader->prepareFile());
        norvale::DvsFileInfo info;
        reader->getFileInfo(info);
        QCOMPARE(local.at(0).at(0).toString(), NrEventProcessor::tsToLocalTime(info.recordStartTime, kFirst, kFirst));
        QCOMPARE(local.at(0).at(0).toString(), QStringLiteral("2024-05-06 07:08:09.000000"));
        QCOMPARE(triggers.count(), 1);
        const auto list = triggers.at(0).at(0).value<NrTriggerList>();
        QCOMPARE(list, (NrTriggerList{{2000, 1}, {3000, 0}}));
    }

    // The index's per-slot counts reach the timeline before the range does, covering every event.
    void rateProfileAfterLoading() {
        qRegisterMetaType<std::vector<uint32_t>>("std::vector<uint32_t>"); // for the spy
        NrEventProcessor p;
        QStringList order;
        connect(&p, &NrEventProcessor::signalRateProfile, this, [&] { order << "rate"; });
        connect(&p, &NrEventProcessor::signalEndTimeStamp, this, [&] { order << "end"; });
        QSignalSpy rate(&p, &NrEventProcessor::signalRateProfile);
        p.loadFile(ramp);
        QTRY_COMPARE_WITH_TIMEOUT(order.size(), 2, 10000);
        QCOMPARE(order, QStringList({"rate", "end"}));
        const auto counts = rate.at(0).at(0).value<std::vector<uint32_t>>();
        const uint64_t start = rate.at(0).at(1).value<uint64_t>();
        const uint64_t end = rate.at(0).at(2).value<uint64_t>();
        QVERIFY(!counts.empty());
        QCOMPARE(start, kFirst);
        QVERIFY(end > kLast);
        QVERIFY((end - start) % counts.size() == 0); // whole slots
        uint64_t total = 0;
        for (uint32_t c : counts)
            total += c;
        QCOMPARE(total, uint64_t(rampEvents().size()));
    }

    void unreadableFiles() {
        NrEventProcessor p;
        QSignalSpy status(&p, &NrEventProcessor::signalLoadingStatus);
        QSignalSpy tips(&p, &NrEventProcessor::signalShowLeftBottomTips);
        p.loadFile(tmp.filePath("missing.raw"));
        QCOMPARE(status.count(), 0); // not a raw file: nothing starts, but the user is told
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips.at(0).at(0).toString(), QStringLiteral("Cannot open the recording: missing.raw"));
        QCOMPARE(tips.at(0).at(1).value<NrMessageType>(), NrMessageError);
        tips.clear();
        const QString empty = tmp.filePath("empty.raw");
        QVERIFY(writeRecording(empty, {}));
        p.loadFile(empty);
        QTRY_COMPARE_WITH_TIMEOUT(status.count(), 2, 10000);
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips.at(0).at(0).toString(), QStringLiteral("Cannot open the recording: empty.raw"));
        QCOMPARE(tips.at(0).at(1).value<NrMessageType>(), NrMessageError);
        QSignalSpy now(&p, &NrEventProcessor::signalRealTimeTimeStamp);
        p.nextFrame(); // no file: ignored
        QCOMPARE(now.count(), 0);
    }

    // Bounds 1000 and 50000, fps 33, accumulation 33333: [1000, 34333) shown at 31303, then
    // [31303, 50000] shown at 50000, then back to 1000 and stop. A frame the display has not taken
    // before the next one is ready is replaced by it (a busy machine may drop the first).
    void playsTheRangeAndStops() {
        auto p = loaded(ramp);
        QVERIFY(p);
        QSignalSpy now(p.get(), &NrEventProcessor::signalRealTimeTimeStamp);
        QSignalSpy images(p.get(), &NrEventProcessor::signalEventImage);
        QSignalSpy status(p.get(), &NrEventProcessor::signalPlayStatus);
        const QColor bg = config->dvsBackgroundColor;
        const auto first = std::make_pair(10, 343);
        const auto second = std::make_pair(314, 500);
        for (int round = 0; round < 2; ++round) { // playing again starts from the lower bound
            now.clear();
            images.clear();
            p->slotPlaybackCtrl(true);
            QTRY_COMPARE_WITH_TIMEOUT(status.count(), round + 1, 20000);
            QCOMPARE(status.last().at(0).toBool(), false);
            QTRY_VERIFY_WITH_TIMEOUT(!images.isEmpty() &&
                                         litSpan(images.last().at(0).value<QImage>(), bg) == second, 5000);
            const auto ts = timestamps(now);
            QVERIFY(!ts.empty() && ts.size() <= 2);
            QCOMPARE(ts.back(), uint64_t(50000));
            if (ts.size() == 2)
                QCOMPARE(ts.front(), uint64_t(31303));
            QVERIFY(images.count() <= 2);
            if (images.count() == 2) {
                QCOMPARE(litSpan(images.at(0).at(0).value<QImage>(), bg), first);
                QCOMPARE(px(images.at(0).at(0).value<QImage>(), 10, 0), config->dvsOnColor);
            }
        }
    }

    void loopsUntilStopped() {
        auto p = loaded(ramp);
        QVERIFY(p);
        QSignalSpy now(p.get(), &NrEventProcessor::signalRealTimeTimeStamp);
        QSignalSpy status(p.get(), &NrEventProcessor::signalPlayStatus);
        p->slotPlayLoop(true);
        p->slotPlaybackCtrl(true);
        QTRY_VERIFY_WITH_TIMEOUT(now.count() >= 5, 20000);
        p->slotPlaybackCtrl(false);
        QCOMPARE(status.count(), 0); // only the end of the range without loop reports a stop
        int ends = 0;
        for (uint64_t t : timestamps(now)) {
            QVERIFY(t == 31303 || t == 50000);
            ends += t == 50000;
        }
        QVERIFY(ends >= 2); // went past the end at least once and on
    }

    void stepsAndSeeks() {
        auto p = loaded(ramp);
        QVERIFY(p);
        QSignalSpy now(p.get(), &NrEventProcessor::signalRealTimeTimeStamp);
        QSignalSpy images(p.get(), &NrEventProcessor::signalEventImage);
        const QColor bg = config->dvsBackgroundColor;

        // Frames as playing shows them: the frame at t covers [t - step, t - step + accumulation),
        // cut to the range [1000, 50000]; step 30303 (fps 33), accumulation 33333.
        p->preFrame(); // at the start: the frame at the lower bound, [1000, 4030)
        QCOMPARE(timestamps(now), std::vector<uint64_t>{1000});
        QTRY_COMPARE_WITH_TIMEOUT(images.count(), 1, 20000);
        QCOMPARE(litSpan(images.last().at(0).value<QImage>(), bg), std::make_pair(10, 40));

        p->nextFrame(); // [1000, 34333) at 31303, the first frame playing shows
        QCOMPARE(now.last().at(0).value<uint64_t>(), uint64_t(31303));
        QTRY_COMPARE_WITH_TIMEOUT(litSpan(images.last().at(0).value<QImage>(), bg), std::make_pair(10, 343), 20000);
        p->nextFrame(); // less than a step left: the last frame, [31303, 50000] at 50000
        QCOMPARE(now.last().at(0).value<uint64_t>(), uint64_t(50000));
        QTRY_COMPARE_WITH_TIMEOUT(litSpan(images.last().at(0).value<QImage>(), bg), std::make_pair(314, 500), 20000);
        p->nextFrame(); // at the end: nothing
        QCOMPARE(now.count(), 3);

        p->setPlayPos(60000); // outside the range
        p->setPlayPos(500);
        QCOMPARE(now.count(), 3);
        p->setPlayPos(20000); // inside: the frame at 20000, [1000, 23030)
        QCOMPARE(now.last().at(0).value<uint64_t>(), uint64_t(20000));
        QTRY_COMPARE_WITH_TIMEOUT(litSpan(images.last().at(0).value<QImage>(), bg), std::make_pair(10, 230), 20000);

        p->setFps(60); // interval 16666
        p->setFps(0);  // ignored
        p->setPlayPos(40000);
        p->preFrame(); // 40000 - 16666: [6668, 40001)
        QCOMPARE(now.last().at(0).value<uint64_t>(), uint64_t(23334));
        QTRY_COMPARE_WITH_TIMEOUT(litSpan(images.last().at(0).value<QImage>(), bg), std::make_pair(67, 400), 20000);
        p->setAccTime(10000);
        p->nextFrame(); // back to 40000, the window one step before it: [23334, 33334)
        QCOMPARE(now.last().at(0).value<uint64_t>(), uint64_t(40000));
        QTRY_COMPARE_WITH_TIMEOUT(litSpan(images.last().at(0).value<QImage>(), bg), std::make_pair(234, 333), 20000);
    }

    void resetStopsAndShowsTheStart() {
        auto p = loaded(ramp);
        QVERIFY(p);
        p->slotPlayLoop(true);
        QSignalSpy now(p.get(), &NrEventProcessor::signalRealTimeTimeStamp);
        QSignalSpy local(p.get(), &NrEventProcessor::signalLocalTime);
        QSignalSpy status(p.get(), &NrEventProcessor::signalPlayStatus);
        p->slotSetLowerTimeStamp(5000);
        p->slotPlaybackCtrl(true);
        QTRY_VERIFY_WITH_TIMEOUT(now.count() >= 2, 20000);
        p->slotPlaybackReset();
        QCOMPARE(now.last().at(0).value<uint64_t>(), uint64_t(5000));
        QCOMPARE(local.last().at(0).toString(), QStringLiteral("2024-05-06 07:08:09.004000"));
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toBool(), false);
        const int n = now.count();
        QTest::qWait(150);
        QCOMPARE(now.count(), n); // stopped
    }

    void trimRangeChangesDuringPlayback() {
        auto p = loaded(ramp);
        QVERIFY(p);
        QSignalSpy now(p.get(), &NrEventProcessor::signalRealTimeTimeStamp);
        QSignalSpy status(p.get(), &NrEventProcessor::signalPlayStatus);
        p->setFps(330); // interval 3030: many steps through the range
        p->setAccTime(3000);
        p->slotPlaybackCtrl(true);
        QTRY_VERIFY_WITH_TIMEOUT(now.count() >= 3, 20000);
        // The end moves below the position: the range ends there, no read past it.
        p->slotSetUpperTimeStamp(2000);
        QTRY_COMPARE_WITH_TIMEOUT(status.count(), 1, 20000);
        for (uint64_t t : timestamps(now))
            QVERIFY(t > 2000 && t <= 50000); // nothing is read beyond the new end
        // The start moves past the position: playback goes on from the new start.
        p->slotSetUpperTimeStamp(50000);
        p->setPlayPos(2000);
        now.clear();
        p->slotSetLowerTimeStamp(40000);
        p->slotPlaybackCtrl(true);
        QTRY_COMPARE_WITH_TIMEOUT(status.count(), 2, 20000);
        QVERIFY(!now.isEmpty());
        for (uint64_t t : timestamps(now))
            QVERIFY((t >= 43030 && t < 50000 && (t - 40000) % 3030 == 0) || t == 50000);
        QCOMPARE(now.last().at(0).value<uint64_t>(), uint64_t(50000));
    }

    void closingStopsPlayback() {
        auto p = loaded(ramp);
        QVERIFY(p);
        QSignalSpy status(p.get(), &NrEventProcessor::signalPlayStatus);
        p->slotPlayLoop(true);
        p->slotPlaybackCtrl(true);
        p->loadFile(QString());
        QCOMPARE(status.count(), 1);
        QSignalSpy now(p.get(), &NrEventProcessor::signalRealTimeTimeStamp);
        QTest::qWait(100);
        p->nextFrame();
        p->slotPlaybackCtrl(true);
        QTest::qWait(100);
        QCOMPARE(now.count(), 0);
    }

    void destroyedWhileLoading() {
        // A recording big enough that loading is still running when the processor goes away.
        const QString big = tmp.filePath("big.raw");
        std::vector<Event2D> ev;
        for (uint64_t t = 0; t < 2000000; ++t)
            ev.push_back(Event2D{uint16_t(t % 1280), uint16_t(t / 1280 % 720), uint8_t(t & 1), 100 + t});
        QVERIFY(writeRecording(big, ev));
        for (int i = 0; i < 3; ++i) {
            auto p = std::make_unique<NrEventProcessor>();
            QSignalSpy play(p.get(), &NrEventProcessor::signalPlayStatus);
            p->loadFile(big);
            p.reset();
        }
        QTest::qWait(50); // posted results of the destroyed processors must not arrive anywhere
    }

    void rendersCountsInEachScheme() {
        NrEventProcessor p;
        const std::vector<Event2D> batch = {
            {10, 10, 1, 5},                                 // ON
            {11, 10, 0, 5},                                 // OFF
            {12, 10, 1, 5}, {12, 10, 0, 5},                 // tie: OFF
            {13, 10, 1, 5}, {13, 10, 1, 5}, {13, 10, 0, 5}, // ON wins
            // saturation: 5 ON stay 3, tie with 3 OFF
            {14, 10, 1, 5}, {14, 10, 1, 5}, {14, 10, 1, 5}, {14, 10, 1, 5}, {14, 10, 1, 5},
            {14, 10, 0, 5}, {14, 10, 0, 5}, {14, 10, 0, 5},
            {1300, 0, 1, 5},                                // outside: must not land on (20, 1)
            {5, 720, 1, 5}, {65535, 65535, 1, 5},           // outside
            {1279, 719, 1, 5},                              // last pixel
        };
        for (const char* scheme : {"Gray", "RedBlue", "RedGreen", "Dark", "Light"}) {
            setScheme(scheme);
            const QImage img = render(p, batch);
            QVERIFY2(!img.isNull(), scheme);
            QCOMPARE(img.size(), QSize(1280, 720));
            QCOMPARE(img.format(), QImage::Format_RGB888);
            QCOMPARE(px(img, 10, 10), config->dvsOnColor);
            QCOMPARE(px(img, 11, 10), config->dvsOffColor);
            QCOMPARE(px(img, 12, 10), config->dvsOffColor);
            QCOMPARE(px(img, 13, 10), config->dvsOnColor);
            QCOMPARE(px(img, 14, 10), config->dvsOffColor);
            QCOMPARE(px(img, 20, 1), config->dvsBackgroundColor);
            QCOMPARE(px(img, 5, 0), config->dvsBackgroundColor);
            QCOMPARE(px(img, 1279, 719), config->dvsOnColor);
            QCOMPARE(px(img, 0, 0), config->dvsBackgroundColor);
            QCOMPARE(px(img, 640, 360), config->dvsBackgroundColor);
            if (QByteArray(scheme) == "Dark" && QDir().mkpath(QStringLiteral(NORVALE_SCREENSHOT_DIR)))
                img.save(QStringLiteral(NORVALE_SCREENSHOT_DIR "/eventprocessor_dark.png"));
        }
        QCOMPARE(config->dvsOffColor, QColor(64, 126, 201)); // Light
        // A flush without new events paints the background only.
        const QImage empty = render(p, {});
        QCOMPARE(litSpan(empty, config->dvsBackgroundColor), std::make_pair(-1, -1));
        QCOMPARE(px(empty, 10, 10), config->dvsBackgroundColor);
    }

    void liveTimestamps() {
        NrEventProcessor p;
        QSignalSpy now(&p, &NrEventProcessor::signalRealTimeTimeStamp);
        const std::vector<Event2D> a = {{1, 1, 1, 700}, {2, 1, 1, 800}};
        p.processEvents(a.data(), a.data() + a.size());
        p.processEvents(a.data(), a.data()); // empty batch: nothing changes
        QTest::qWait(20);
        QCOMPARE(now.count(), 0); // mode 0: only the caller flushes
        p.flushEventsDisplay();
        QCOMPARE(timestamps(now), std::vector<uint64_t>{700});

        p.setProccessMode(NR_FLUSH_BY_EVENT_TIME);
        QSignalSpy images(&p, &NrEventProcessor::signalEventImage);
        const std::vector<Event2D> b = {{1, 1, 1, 20000}};
        const std::vector<Event2D> c = {{1, 1, 1, 40000}};
        const std::vector<Event2D> d = {{1, 1, 1, 60000}};
        p.processEvents(b.data(), b.data() + 1); // 20000 - 0 < 33333
        p.processEvents(c.data(), c.data() + 1); // flushes at 40000
        p.processEvents(d.data(), d.data() + 1); // 60000 - 40000 < 33333
        QTRY_COMPARE_WITH_TIMEOUT(now.count(), 2, 20000);
        QCOMPARE(now.last().at(0).value<uint64_t>(), uint64_t(40000));
        QTRY_VERIFY_WITH_TIMEOUT(!images.isEmpty(), 20000);

        // Near the end of the clock a period does not wrap around: the second batch lies within
        // the first one's frame (were it flushed, its newer frame would replace the first).
        const uint64_t late = UINT64_MAX - 20000;
        const std::vector<Event2D> e = {{1, 1, 1, late}};
        const std::vector<Event2D> f = {{1, 1, 1, late + 10000}};
        p.processEvents(e.data(), e.data() + 1);
        p.processEvents(f.data(), f.data() + 1);
        QTRY_COMPARE_WITH_TIMEOUT(now.last().at(0).value<uint64_t>(), late, 20000);
        QTest::qWait(100);
        QCOMPARE(now.last().at(0).value<uint64_t>(), late);
    }

    // The live path: a counting thread swaps every batch itself (period 0) and each image reaches
    // the receivers with the time of the batch painted into it, emitted right after the image.
    // Batch i lights column i only, so the image tells which batch it shows; frames the render
    // thread skips are fine, a time that is not its image's is not. A batch earlier in time than
    // the last one (a new stream) is a frame at once.
    void liveFramesCarryTheirTimestamp() {
        NrEventProcessor p;
        const QColor bg = config->dvsBackgroundColor;
        struct Entry {
            bool image;
            int column;   // image: its one lit column
            uint64_t ts;  // timestamp
        };
        std::vector<Entry> log;
        connect(&p, &NrEventProcessor::signalEventImage, this, [&](const QImage& img) {
            const auto span = litSpan(img, bg);
            log.push_back({true, span.first == span.second ? span.first : -2, 0});
        });
        connect(&p, &NrEventProcessor::signalRealTimeTimeStamp, this,
                [&](uint64_t ts) { log.push_back({false, 0, ts}); });
        p.setLiveFramePeriodUs(0);
        p.setProccessMode(NR_FLUSH_BY_EVENT_TIME);
        constexpr int kBatches = 300;
        constexpr uint64_t kBase = 100000;
        std::thread feeder([&p] {
            for (int i = 0; i < kBatches; ++i) {
                const std::vector<Event2D> b = {{uint16_t(i), 0, 1, kBase + uint64_t(i) * 100}};
                p.processEvents(b.data(), b.data() + 1);
            }
        });
        feeder.join();
        // The last frame is always painted and delivered.
        QTRY_VERIFY_WITH_TIMEOUT(!log.empty() && !log.back().image && log.back().ts == kBase + (kBatches - 1) * 100,
                                 20000);
        const std::vector<Event2D> back = {{500, 0, 1, 50}};
        p.processEvents(back.data(), back.data() + 1);
        QTRY_VERIFY_WITH_TIMEOUT(!log.back().image && log.back().ts == 50, 20000);
        QVERIFY(log.size() >= 4 && log.size() % 2 == 0);
        for (size_t i = 0; i < log.size(); i += 2) {
            QVERIFY2(log[i].image && !log[i + 1].image, "every time follows its image, none runs ahead");
            const uint64_t ts = log[i + 1].ts;
            const int column = ts == 50 ? 500 : int((ts - kBase) / 100);
            QCOMPARE(log[i].column, column);
            if (i > 0 && ts != 50)
                QVERIFY(ts > log[i - 1].ts);
        }
        p.setProccessMode(NR_FLUSH_BY_CALLER);
    }

    // The mailbox: a frame's own time replaces a loose one and is marked as the image's; a loose
    // time alone stays loose. While the receiver keeps only the newest image (as the view does),
    // painting goes round the three pooled images and allocates none.
    void mailboxCarriesTimesAndReusesImages() {
        QObject owner;
        NrFrameMailbox box(&owner, [] {});
        box.resize(8, 4, Qt::black);
        box.publishTimestamp(5, true);
        NrFrameMailbox::Mail loose = box.take();
        QVERIFY(loose.hasTimestamp && !loose.timestampOfImage && loose.withLocalTime && loose.slot < 0);
        QCOMPARE(loose.timestamp, uint64_t(5));
        std::set<qint64> images; // QImage serial numbers: a new number is a new allocation
        QImage held;
        for (int i = 0; i < 12; ++i) {
            QImage* img = box.beginFrame();
            QVERIFY(img);
            img->fill(Qt::white);
            images.insert(img->cacheKey() >> 32);
            box.publishTimestamp(100 + uint64_t(i), false);
            box.publishFrame(1000 + uint64_t(i));
            NrFrameMailbox::Mail m = box.take();
            QVERIFY(m.slot >= 0 && m.hasTimestamp && m.timestampOfImage && !m.withLocalTime);
            QCOMPARE(m.timestamp, 1000 + uint64_t(i));
            held = m.image;
            box.release(m);
        }
        QCOMPARE(images.size(), size_t(3));
    }

    void cutsARange() {
        auto p = loaded(ramp);
        QVERIFY(p);
        QSignalSpy tips(p.get(), &NrEventProcessor::signalShowLeftBottomTips);
        QSignalSpy busy(p.get(), &NrEventProcessor::signalLoadingStatus);
        QSignalSpy progress(p.get(), &NrEventProcessor::signalProgress);
        QStringList order;
        connect(p.get(), &NrEventProcessor::signalPlayStatus, this, [&](bool b) { order << (b ? "play" : "pause"); });
        connect(p.get(), &NrEventProcessor::signalLoadingStatus, this, [&](bool b) { order << (b ? "busy" : "idle"); });
        p->slotPlayLoop(true);
        p->slotPlaybackCtrl(true);
        const QString out = tmp.filePath("cut.raw");
        p->slotCutRawFile(out, tmp.path(), 10000, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(busy.count(), 2, 10000);
        QCOMPARE(order, QStringList({"pause", "busy", "idle"}));
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips.at(0).at(0).toString(), QStringLiteral("Export raw file success!"));
        QCOMPARE(tips.at(0).at(1).value<NrMessageType>(), NrMessageSuccess);
        QCOMPARE(tips.at(0).at(2).toString(), tmp.path());
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toDouble(), 1.0);
        auto cut = norvale::DvsFileReader::createFileReader(out.toStdString());
        QVERIFY(cut && cut->prepareFile());
        QCOMPARE(cut->getStats().eventCount, uint64_t(101));

        // An unwritable folder: an error tip, and the busy state still ends.
        const QString bad = tmp.filePath("no/such/folder/cut.raw");
        p->slotCutRawFile(bad, QFileInfo(bad).absolutePath(), 10000, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(busy.count(), 4, 10000);
        QCOMPARE(tips.count(), 2);
        // The tip names the reason the driver gave.
        const QString failed = tips.at(1).at(0).toString();
        QVERIFY2(failed.startsWith(QStringLiteral("Export raw file failed! ")) &&
                     failed.contains(QStringLiteral("No such file or directory")),
                 qPrintable(failed));
        QCOMPARE(tips.at(1).at(1).value<NrMessageType>(), NrMessageError);
        QCOMPARE(tips.at(1).at(2).toString(), QFileInfo(bad).absolutePath());
        QVERIFY(!QFileInfo::exists(bad));
    }

    void exportsAVideo() {
        auto p = loaded(ramp);
        QVERIFY(p);
        QSignalSpy tips(p.get(), &NrEventProcessor::signalShowLeftBottomTips);
        QSignalSpy busy(p.get(), &NrEventProcessor::signalLoadingStatus);
        const QString out = tmp.filePath("range.mp4");
        p->slotExportVideo(out, tmp.path(), 1000, 50000);
        // Steps and seeks while the export uses the file are refused, not queued behind it; the
        // user is told once.
        QSignalSpy now(p.get(), &NrEventProcessor::signalRealTimeTimeStamp);
        p->nextFrame();
        p->setPlayPos(2000);
        p->slotPlaybackReset();
        QCOMPARE(now.count(), 0);
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips.at(0).at(1).value<NrMessageType>(), NrMessageWarning);
        tips.clear();
        // A cut asked for meanwhile waits for the export (they share the reader).
        p->slotCutRawFile(tmp.filePath("during.raw"), tmp.path(), 1000, 50000);
        QTRY_COMPARE_WITH_TIMEOUT(busy.count(), 2, 30000);
        QCOMPARE(tips.count(), 2);
        QStringList texts;
        for (const auto& t : tips)
            texts << t.at(0).toString();
        QVERIFY2(texts.contains(QStringLiteral("Export video success!")), qPrintable(texts.join(", ")));
        QVERIFY(texts.contains(QStringLiteral("Export raw file success!")));
        QVERIFY(QFileInfo(out).size() > 0);

        const QString bad = tmp.filePath("no/such/folder/range.mp4");
        p->slotExportVideo(bad, QFileInfo(bad).absolutePath(), 1000, 50000);
        QTRY_COMPARE_WITH_TIMEOUT(busy.count(), 4, 30000);
        QVERIFY2(tips.last().at(0).toString().startsWith(QStringLiteral("Export video failed! ")),
                 qPrintable(tips.last().at(0).toString()));
        QCOMPARE(tips.last().at(1).value<NrMessageType>(), NrMessageError);
        QVERIFY(!QFileInfo::exists(bad));
    }

    void playsSharedRecording() {
        const QString path = QStringLiteral(NORVALE_SOURCE_DIR "/../shared/data/pedestrians_5k.evt3.raw");
        if (!QFileInfo::exists(path))
            QSKIP("shared recording absent");
        auto p = loaded(path);
        QVERIFY(p);
        QSignalSpy images(p.get(), &NrEventProcessor::signalEventImage);
        p->nextFrame();
        p->nextFrame();
        QTRY_VERIFY_WITH_TIMEOUT(!images.isEmpty(), 20000);
        const QImage img = images.last().at(0).value<QImage>();
        int lit = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                lit += px(img, x, y) != config->dvsBackgroundColor;
        QVERIFY(lit > 0);
        if (QDir().mkpath(QStringLiteral(NORVALE_SCREENSHOT_DIR)))
            img.save(QStringLiteral(NORVALE_SCREENSHOT_DIR "/eventprocessor_pedestrians.png"));
    }
};

NR_QTEST_MAIN(TestEventProcessor)
#include "tst_eventprocessor.moc"
