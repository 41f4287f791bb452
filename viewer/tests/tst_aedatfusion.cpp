// An AEDAT 4 file holding frames beside its events plays in the main window as a fusion recording:
// the file (written here byte by byte from the format's description, a DAVIS-sized 346 x 260
// camera) shows its frames in the APS view pixel for pixel, the events of a frame's moment drawn
// where the frame shows their square, and plays, steps and seeks. A file without frames stays a
// DVS recording.
#include <QAction>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <vector>

#include <flatbuffers/flatbuffers.h>

#include "EventPacket_generated.h"
#include "FramePacket_generated.h"
#include "IOHeader_generated.h"
#include "LiveWindowKit.h"
#include "ScriptedWindow.h"
#include "TestEnv.h"
#include "loadconfig.h"
#include "processing/nrfusioncameradataprocessor.h"
#include "ui/mainwidget.h"
#include "widgets/nrthreehandleslider.h"

namespace {

namespace fb = norvale::aedat4;
using Bytes = std::vector<uint8_t>;

constexpr int kW = 346, kH = 260, kFrames = 15, kSide = 40;
constexpr int64_t kT0 = 1700000000000000; // Unix time in microseconds, as cameras stamp
constexpr int64_t kPeriod = 33333;

// Frame k: a dark gradient with a bright square at squareX(k), row 100; the events of its moment
// (the 10 ms before it) outline that square.
int squareX(int k) { return 20 + 15 * k; }
uint8_t gradient(int x, int y) { return uint8_t((x / 2 + y / 4) & 0x7F); }
uint8_t pixelOf(int k, int x, int y) {
    const bool inSquare = x >= squareX(k) && x < squareX(k) + kSide && y >= 100 && y < 100 + kSide;
    return inSquare ? 250 : gradient(x, y);
}

void putI32(Bytes& b, int32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(uint32_t(v) >> (8 * i)));
}

void append(Bytes& file, int32_t stream, flatbuffers::FlatBufferBuilder& fbb) {
    putI32(file, stream);
    putI32(file, int32_t(fbb.GetSize()));
    file.insert(file.end(), fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

// withFrames false: the description names no frame stream and no frame packet follows.
Bytes davisFile(bool withFrames) {
    std::string xml = "<dv version=\"2.0\"><node name=\"outInfo\" path=\"/outInfo/\">";
    const char* types[] = {"EVTS", "FRME"};
    for (int id = 0; id < (withFrames ? 2 : 1); ++id)
        xml += "<node name=\"" + std::to_string(id) + "\" path=\"/outInfo/" + std::to_string(id) +
               "/\"><attr key=\"compression\" type=\"string\">NONE</attr><attr key=\"typeIdentifier\" "
               "type=\"string\">" +
               types[id] + "</attr><node name=\"info\" path=\"/outInfo/" + std::to_string(id) +
               "/info/\"><attr key=\"sizeX\" type=\"int\">346</attr><attr key=\"sizeY\" type=\"int\">260</attr>"
               "<attr key=\"source\" type=\"string\">DAVIS346_01</attr></node></node>";
    xml += "</node></dv>";
    flatbuffers::FlatBufferBuilder hb;
    hb.ForceDefaults(true);
    hb.FinishSizePrefixed(fb::CreateIOHeader(hb, fb::CompressionType_NONE, -1, hb.CreateString(xml)), "IOHE");
    Bytes file = {'#', '!', 'A', 'E', 'R', '-', 'D', 'A', 'T', '4', '.', '0', '\r', '\n'};
    file.insert(file.end(), hb.GetBufferPointer(), hb.GetBufferPointer() + hb.GetSize());
    for (int k = 0; k < kFrames; ++k) {
        const int64_t t = kT0 + k * kPeriod;
        std::vector<fb::Event> events;
        int n = 0;
        for (int i = 0; i < kSide; ++i) // the square's outline, in the 10 ms before the frame
            for (const auto& [x, y] : {std::pair<int, int>{squareX(k) + i, 100}, {squareX(k) + i, 100 + kSide - 1},
                                       {squareX(k), 100 + i}, {squareX(k) + kSide - 1, 100 + i}}) {
                events.emplace_back(t - 10000 + n * 10000 / (4 * kSide), int16_t(x), int16_t(y), (n & 1) != 0);
                ++n;
            }
        flatbuffers::FlatBufferBuilder eb;
        eb.FinishSizePrefixed(fb::CreateEventPacket(eb, eb.CreateVectorOfStructs(events)), "EVTS");
        append(file, 0, eb);
        if (!withFrames)
            continue;
        Bytes pixels;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) pixels.push_back(pixelOf(k, x, y));
        flatbuffers::FlatBufferBuilder frame;
        const auto p = frame.CreateVector(pixels);
        frame.FinishSizePrefixed(fb::CreateFrame(frame, t, t - 1000, t + 1000, t - 500, t + 500, fb::FrameFormat_GRAY,
                                                 kW, kH, 0, 0, p),
                                 "FRME");
        append(file, 1, frame);
    }
    return file;
}

constexpr int kWaitMs = 20000; // a sanitizer build on a busy machine loads slowly

} // namespace

class TestAedatFusion : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    LoadConfig* config = nullptr;

    static void showView(MainWidget* w, int type) {
        for (int i = 0; i < 3 && w->viewerType() != type; ++i)
            QTest::mouseClick(testenv::child<QPushButton>(w, "pb_viewer_type"), Qt::LeftButton);
    }
    static QImage replayAt(MainWidget* w, uint64_t ts) {
        QSignalSpy images(w->fusionProcessor(), &NrFusionCameraDataProcessor::signalFusionImage);
        QSignalSpy stamps(w->fusionProcessor(), &NrFusionCameraDataProcessor::signalTimeStamp);
        emit w->timeSlider()->centerValueTrackClick(ts);
        if (!QTest::qWaitFor([&] { return !stamps.isEmpty() && stamps.last().at(0).toULongLong() == ts && !images.isEmpty(); },
                             kWaitMs))
            return QImage();
        return images.last().at(0).value<QImage>().convertToFormat(QImage::Format_RGB32);
    }
    QString save(const QString& name, const Bytes& b) {
        const QString path = tmp.filePath(name);
        std::ofstream(path.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
        return path;
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        config = livekit::useTemporaryRecordingFolder(tmp);
    }

    void framesPlayAsTheApsViewAlignedWithTheEvents() {
        auto w = livekit::shownWindow<ScriptedWindow>();
        QVERIFY(w);
        w->nextFile = save(QStringLiteral("davis.aedat4"), davisFile(true));
        testenv::child<QAction>(w.get(), "action_open_recording")->trigger();
        QCOMPARE(w->sourceType(), int(NrSourceFusionRecording));
        QVERIFY(!testenv::child<QPushButton>(w.get(), "pb_viewer_type")->isHidden());
        auto* play = testenv::child<QPushButton>(w.get(), "pb_play");
        QTRY_VERIFY_WITH_TIMEOUT(play->isChecked(), kWaitMs); // loaded: it plays
        NrThreeHandleSlider* slider = w->timeSlider();
        QCOMPARE(slider->getMinimun(), uint64_t(kT0)); // the timeline starts with the first frame
        QTRY_VERIFY_WITH_TIMEOUT(!play->isChecked(), kWaitMs); // and plays to the end

        // Just after frame k: the APS view shows frame k pixel for pixel at the grid's top left,
        // black beyond the camera's 346 x 260; fusion draws the square's outline over it.
        const int k = 7;
        const uint64_t at = uint64_t(kT0 + k * kPeriod + 1);
        showView(w.get(), 1);
        const QImage aps = replayAt(w.get(), at);
        QVERIFY(!aps.isNull());
        QCOMPARE(aps.size(), QSize(1280, 720));
        int wrong = 0;
        for (int y = 0; y < kH; y += 3)
            for (int x = 0; x < kW; x += 3) {
                const uint8_t v = pixelOf(k, x, y);
                wrong += aps.pixel(x, y) != qRgb(v, v, v);
            }
        QCOMPARE(wrong, 0);
        QCOMPARE(aps.pixel(kW + 10, 50), qRgb(0, 0, 0));
        QCOMPARE(aps.pixel(100, kH + 10), qRgb(0, 0, 0));
        QTest::qWait(100); // the queued time label
        testenv::saveScreenshot(w.get(), QStringLiteral("aedat4_fusion_aps_en"));

        showView(w.get(), 2);
        const QImage fused = replayAt(w.get(), at + 1);
        QVERIFY(!fused.isNull());
        QTest::qWait(100);
        testenv::saveScreenshot(w.get(), QStringLiteral("aedat4_fusion_en"));
        // An event pixel is one that differs from the APS view (an event colour may also be a grey
        // of the gradient).
        const QRgb on = config->dvsOnColor.rgb(), off = config->dvsOffColor.rgb();
        int outline = 0, elsewhere = 0;
        for (int y = 0; y < 720; ++y)
            for (int x = 0; x < 1280; ++x) {
                const QRgb p = fused.pixel(x, y);
                if (p == aps.pixel(x, y))
                    continue;
                const bool onOutline = (x == squareX(k) || x == squareX(k) + kSide - 1) ? y >= 100 && y < 100 + kSide
                                       : (y == 100 || y == 100 + kSide - 1) && x > squareX(k) && x < squareX(k) + kSide;
                outline += onOutline && (p == on || p == off);
                elsewhere += !onOutline;
            }
        QCOMPARE(outline, 4 * kSide - 4); // every pixel of the outline (once per corner)
        QCOMPARE(elsewhere, 0);           // nothing of frame k - 1's moment, nothing mirrored

        // A step forwards shows the next frame.
        QTest::keyClick(w.get(), Qt::Key_Right);
        QTRY_COMPARE_WITH_TIMEOUT(w->fusionProcessor()->playPosition(), at + 1 + 33333, kWaitMs);
    }

    void withoutFramesItIsADvsRecording() {
        auto w = livekit::shownWindow<ScriptedWindow>();
        QVERIFY(w);
        w->nextFile = save(QStringLiteral("dvs_only.aedat4"), davisFile(false));
        testenv::child<QAction>(w.get(), "action_open_recording")->trigger();
        QCOMPARE(w->sourceType(), int(NrSourceDvsRecording));
        QTRY_VERIFY_WITH_TIMEOUT(testenv::child<QPushButton>(w.get(), "pb_play")->isChecked(), kWaitMs);
    }
};

NR_QTEST_MAIN(TestAedatFusion)
#include "tst_aedatfusion.moc"
