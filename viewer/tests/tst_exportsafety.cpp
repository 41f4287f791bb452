// The viewer's export and cut never destroy the recording: saving over it fails with the error tip,
// closing the window (the processor going) during an export leaves no temporary file, and a FIFO
// picked as a recording gets the error tip at once instead of hanging the viewer.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <memory>
#include <vector>

#include "TestEnv.h"
#include "norvale/RawFileWriter.h"
#include "processing/nreventsproccess.h"

namespace {

// One event per millisecond over seconds of recording: exporting it takes a while.
bool writeRecording(const QString& path, uint64_t durationUs) {
    std::vector<norvale::Event2D> ev;
    for (uint64_t t = 1000; t < durationUs; t += 1000)
        ev.push_back({uint16_t(t / 1000 % 1280), uint16_t(t / 7 % 720), uint8_t(t / 1000 & 1), t});
    norvale::RawFileWriter w;
    return w.open(path.toStdString(), norvale::DvsFileInfo{}) && w.addEvents(ev.data(), ev.data() + ev.size()) &&
           w.close();
}

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Our temporaries (".NAME.XXXXXX.part") in a folder.
QStringList temporaries(const QString& dir) {
    return QDir(dir).entryList({QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden);
}

} // namespace

class TestExportSafety : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp;
    QString recording;
    QByteArray original;

    std::unique_ptr<NrEventProcessor> loaded() {
        auto p = std::make_unique<NrEventProcessor>();
        QSignalSpy done(p.get(), &NrEventProcessor::signalLoadingStatus);
        p->loadFile(recording);
        if (!QTest::qWaitFor([&] { return done.count() >= 2; }, 10000))
            return nullptr;
        return p;
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        recording = tmp.filePath(QStringLiteral("rec.raw"));
        QVERIFY(writeRecording(recording, 30'000'000));
        original = bytesOf(recording);
    }

    void cleanup() {
        QCOMPARE(bytesOf(recording), original);
        QCOMPARE(temporaries(tmp.path()), QStringList());
    }

    void savingOverTheRecordingFails() {
        auto p = loaded();
        QVERIFY(p);
        QSignalSpy tips(p.get(), &NrEventProcessor::signalShowLeftBottomTips);
        QSignalSpy busy(p.get(), &NrEventProcessor::signalLoadingStatus);
        p->slotExportVideo(recording, tmp.path(), 1000, 2000000);
        QTRY_COMPARE_WITH_TIMEOUT(busy.count(), 2, 10000);
        // The tip names the failure and the driver's reason.
        QVERIFY(tips.last().at(0).toString().startsWith(QStringLiteral("Export video failed!")));
        QVERIFY(tips.last().at(0).toString().contains(QStringLiteral("is the input file")));
        QCOMPARE(tips.last().at(1).value<NrMessageType>(), NrMessageError);
        // Another name of the same file too.
        QVERIFY(QFile::link(recording, tmp.filePath(QStringLiteral("alias.raw"))));
        p->slotCutRawFile(tmp.filePath(QStringLiteral("alias.raw")), tmp.path(), 1000, 2000000);
        QTRY_COMPARE_WITH_TIMEOUT(busy.count(), 4, 10000);
        QVERIFY(tips.last().at(0).toString().startsWith(QStringLiteral("Export raw file failed!")));
        QVERIFY(tips.last().at(0).toString().contains(QStringLiteral("is the input file")));
        QVERIFY(QFileInfo(tmp.filePath(QStringLiteral("alias.raw"))).isSymLink());
    }

    void closingDuringAnExportLeavesNoTemporary() {
        auto p = loaded();
        QVERIFY(p);
        const QString out = tmp.filePath(QStringLiteral("long.mp4"));
        p->slotExportVideo(out, tmp.path(), 1000, 30'000'000);
        QTRY_VERIFY_WITH_TIMEOUT(!temporaries(tmp.path()).isEmpty(), 10000);
        p.reset(); // what closing the window does: the processor cancels and joins its work
        QVERIFY(!QFileInfo::exists(out));
    }

    void fifoGetsTheErrorTipAtOnce() {
        const QString fifo = tmp.filePath(QStringLiteral("in.fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        NrEventProcessor p;
        QSignalSpy tips(&p, &NrEventProcessor::signalShowLeftBottomTips);
        QElapsedTimer timer;
        timer.start();
        p.loadFile(fifo); // opening used to wait for a writer that never comes
        QCOMPARE(tips.count(), 1);
        QCOMPARE(tips.at(0).at(0).toString(), QStringLiteral("Cannot open the recording: in.fifo"));
        QCOMPARE(tips.at(0).at(1).value<NrMessageType>(), NrMessageError);
        QVERIFY(timer.elapsed() < 5000);
    }
};

NR_QTEST_MAIN(TestExportSafety)
#include "tst_exportsafety.moc"
