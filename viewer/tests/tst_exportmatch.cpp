// What the viewer shows is what it exports: a range stepped through in the viewer and the same
// range exported as a video, at slow rates 0.1, 1 and 10, show the same events frame by frame, and
// the video runs at the display rate with as many frames as playback shows. Through the window's
// Save as..., a video lasts its range times the side bar's slow rate.
#include <QAction>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>
#include <vector>

#include "ScriptedWindow.h"
#include "TestEnv.h"
#include "loadconfig.h"
#include "norvale/ApsFileReader.h"
#include "norvale/ApsFrame.h"
#include "norvale/RawFileWriter.h"
#include "processing/nreventsproccess.h"
#include "settings/sidebarcamerasettingui.h"
#include "tools/nrexportvideoui.h"
#include "ui/mainwidget.h"
#include "widgets/nrthreehandleslider.h"

using norvale::Event2D;

namespace {

constexpr uint64_t kT0 = 7000000;
constexpr int kGrid = 8;                 // block size in pixels
constexpr int kColumns = 1280 / kGrid;   // blocks per row
constexpr uint64_t kBlockUs = 1000;      // one block lights up per millisecond
constexpr uint64_t kDurationUs = 4300000;

// Block i lights up at kT0 + i * kBlockUs (4 x 4 ON events in its middle), row by row.
std::vector<Event2D> blockEvents() {
    std::vector<Event2D> ev;
    for (uint64_t i = 0; i * kBlockUs < kDurationUs; ++i) {
        const int bx = int(i % kColumns) * kGrid, by = int(i / kColumns) * kGrid;
        for (int y = 2; y < 6; ++y)
            for (int x = 2; x < 6; ++x)
                ev.push_back(Event2D{uint16_t(bx + x), uint16_t(by + y), 1, kT0 + i * kBlockUs});
    }
    return ev;
}

// First and last lit block and how many are lit, by the green channel of each block's middle.
struct LitBlocks {
    int first = -1, last = -1, count = 0;
    bool operator==(const LitBlocks& o) const { return first == o.first && last == o.last && count == o.count; }
};

template <typename Green>
LitBlocks litBlocks(Green green) {
    LitBlocks b;
    for (int i = 0; i * kBlockUs < kDurationUs; ++i) {
        const int x = (i % kColumns) * kGrid + 4, y = (i / kColumns) * kGrid + 4;
        if (green(x, y) > 184) { // ON is 255, the background 112 (Gray)
            if (b.first < 0)
                b.first = i;
            b.last = i;
            ++b.count;
        }
    }
    return b;
}

QString text(const LitBlocks& b) {
    return QStringLiteral("blocks %1..%2 (%3 lit)").arg(b.first).arg(b.last).arg(b.count);
}

} // namespace

class TestExportMatch : public QObject {
    Q_OBJECT

    QTemporaryDir tmp;
    QString recording;

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        LoadConfig* config = LoadConfig::getGlobalConfig();
        config->dvsColorType = QStringLiteral("Gray");
        config->updateGlobalColorType();
        recording = tmp.filePath("blocks.raw");
        const std::vector<Event2D> ev = blockEvents();
        norvale::RawFileWriter w;
        norvale::DvsFileInfo info;
        info.dvsStartTimestamp = kT0;
        QVERIFY(w.open(recording.toStdString(), info));
        w.addEvents(ev.data(), ev.data() + ev.size());
        QVERIFY(w.close());
    }

    void sameFramesAsTheViewer_data() {
        QTest::addColumn<int>("fps"); // what the side bar sends: 30 x the slow rate
        QTest::addColumn<qulonglong>("acc");
        QTest::addColumn<qulonglong>("from");
        QTest::addColumn<qulonglong>("to");
        QTest::addColumn<int>("frames"); // playback steps through the range, and so does Next
        // 10 times faster, gaps between windows
        QTest::newRow("slow rate 0.1") << 3 << 50000ull << qulonglong(kT0 + 100000) << qulonglong(kT0 + 4100000) << 13;
        // real time, gaps
        QTest::newRow("slow rate 1") << 30 << 20000ull << qulonglong(kT0 + 1000000) << qulonglong(kT0 + 2000000) << 31;
        // 10 times slower, windows overlapping by nine tenths
        QTest::newRow("slow rate 10") << 300 << 33333ull << qulonglong(kT0 + 2500000) << qulonglong(kT0 + 2600000) << 31;
    }

    void sameFramesAsTheViewer() {
        QFETCH(int, fps);
        QFETCH(qulonglong, acc);
        QFETCH(qulonglong, from);
        QFETCH(qulonglong, to);
        QFETCH(int, frames);

        NrEventProcessor p;
        QSignalSpy busy(&p, &NrEventProcessor::signalLoadingStatus);
        QSignalSpy images(&p, &NrEventProcessor::signalEventImage);
        p.loadFile(recording);
        QTRY_COMPARE_WITH_TIMEOUT(busy.count(), 2, 10000);
        p.slotPlaybackCtrl(false); // loading ends playing
        images.clear();
        QTest::qWait(30);
        QCOMPARE(images.count(), 0); // a stop delivers playback's last frame: none comes after it
        p.setFps(fps);
        p.setAccTime(acc);
        p.slotSetLowerTimeStamp(from);
        p.slotSetUpperTimeStamp(to);
        p.slotPlaybackReset();
        QTRY_COMPARE_WITH_TIMEOUT(images.count(), 1, 5000);

        std::vector<LitBlocks> viewer;
        for (int k = 0; k < frames; ++k) {
            p.nextFrame();
            QTRY_COMPARE_WITH_TIMEOUT(images.count(), k + 2, 5000);
            const QImage img = images.last().at(0).value<QImage>();
            viewer.push_back(litBlocks([&](int x, int y) { return qGreen(img.pixel(x, y)); }));
        }
        p.nextFrame(); // the last frame, at the range's end, is on screen: nothing more
        QTest::qWait(50);
        QCOMPARE(images.count(), frames + 1);

        const QString out = tmp.filePath(QStringLiteral("fps%1.mp4").arg(fps));
        QSignalSpy tips(&p, &NrEventProcessor::signalShowLeftBottomTips);
        p.slotExportVideo(out, tmp.path(), from, to);
        QTRY_COMPARE_WITH_TIMEOUT(busy.count(), 4, 60000);
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips.at(0).at(0).toString(), QStringLiteral("Export video success!"));

        auto video = norvale::ApsFileReader::createFileReader(out.toStdString());
        QVERIFY(video);
        std::vector<norvale::ApsFrameIndexEntry> index;
        video->getFrameIndex(index);
        QCOMPARE(int(index.size()), frames);
        for (size_t i = 0; i < index.size(); ++i) // the display rate
            QVERIFY2(qAbs(double(index[i].timestamp) - double(i) * 1e6 / norvale::kDisplayRateHz) <= 1.0,
                     qPrintable(QString::number(index[i].timestamp)));
        for (int k = 0; k < frames; ++k) {
            norvale::ApsFrame frame;
            QVERIFY(video->readNextFrame(frame));
            const uint8_t* bgr = frame.data();
            const int w = frame.width();
            const LitBlocks exported = litBlocks([&](int x, int y) { return int(bgr[(size_t(y) * w + x) * 3 + 1]); });
            QVERIFY(viewer[size_t(k)].count > 0);
            if (!(exported == viewer[size_t(k)]))
                QFAIL(qPrintable(QStringLiteral("frame %1 of %2: exported %3, viewer %4")
                                     .arg(k)
                                     .arg(frames)
                                     .arg(text(exported), text(viewer[size_t(k)]))));
        }
    }

    // File -> Save as... of a range: the dialog, the window, the processor, the job and the driver
    // make a video as long as the range at the side bar's slow rate, before any rate was chosen
    // (the side bar starts at 1) and after one was.
    void saveAsLastsTheRangeTimesTheSlowRate() {
        LoadConfig::getGlobalConfig()->videoSavePath = tmp.path();
        ScriptedWindow w;
        w.resize(1280, 800);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.nextFile = recording;
        w.findChild<QAction*>(QStringLiteral("action_open_recording"))->trigger();
        auto* play = w.findChild<QPushButton*>(QStringLiteral("pb_play"));
        QTRY_VERIFY_WITH_TIMEOUT(play->isChecked(), 15000);
        QTest::mouseClick(play, Qt::LeftButton);
        QTRY_VERIFY(!play->isChecked());

        struct Case {
            int sidebarFps; // 0: the side bar untouched
            double slowRate;
            uint64_t rangeUs;
        };
        for (const Case& c : {Case{0, 1.0, 1500000}, Case{300, 10.0, 200000}, Case{30, 1.0, 1000000}}) {
            if (c.sidebarFps)
                emit w.findChild<SidebarCameraSettingUI*>()->signalFrameStepChanged(uint64_t(1000000 / c.sidebarFps));
            const QString name = QStringLiteral("range_%1.mp4").arg(c.sidebarFps);
            const uint64_t from = w.timeSlider()->getMinimun() + 300000;
            w.onDialog = [&](QDialog* d) {
                auto* dialog = qobject_cast<NrExportVideoUI*>(d);
                if (!dialog)
                    return int(QDialog::Rejected);
                dialog->setStartTime(from);
                dialog->setEndTime(from + c.rangeUs);
                dialog->setSaveFileName(name);
                QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("pb_save")), Qt::LeftButton);
                return dialog->result();
            };
            QSignalSpy tips(w.eventProcessor(), &NrEventProcessor::signalShowLeftBottomTips);
            w.findChild<QAction*>(QStringLiteral("action_save_as"))->trigger();
            QTRY_COMPARE_WITH_TIMEOUT(tips.count(), 1, 60000);
            QCOMPARE(tips.at(0).at(0).toString(), QStringLiteral("Export video success!"));

            auto video = norvale::ApsFileReader::createFileReader(tmp.filePath(name).toStdString());
            QVERIFY(video);
            std::vector<norvale::ApsFrameIndexEntry> index;
            video->getFrameIndex(index);
            QVERIFY(!index.empty());
            // Each picture lasts one display period: the video ends one period after its last one.
            const double lasts = double(index.back().timestamp + norvale::kDisplayPeriodUs);
            const double wanted = double(c.rangeUs) * c.slowRate;
            QVERIFY2(qAbs(lasts - wanted) <= double(norvale::kDisplayPeriodUs) + 1,
                     qPrintable(QStringLiteral("%1: %2 us of video for %3 us").arg(name).arg(lasts).arg(wanted)));
        }
    }
};

NR_QTEST_MAIN(TestExportMatch)
#include "tst_exportmatch.moc"
