// One definition of an event frame: the same events counted and painted by the viewer and exported
// by the driver give the same colour at every kind of pixel, in every colour scheme.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <vector>

#include "loadconfig.h"
#include "norvale/ApsFileReader.h"
#include "norvale/ApsFrame.h"
#include "norvale/VideoExporter.h"
#include "processing/nreventcounts.h"

using norvale::Event2D;

namespace {

constexpr int W = 160;
constexpr int H = 96;
constexpr uint64_t kT = 1000000;

// n events of one polarity on every pixel of the 16 x 16 block at (x0, y0).
void addBlock(std::vector<Event2D>& ev, int x0, int y0, int polarity, int n) {
    for (int y = y0; y < y0 + 16; ++y)
        for (int x = x0; x < x0 + 16; ++x)
            for (int i = 0; i < n; ++i)
                ev.push_back(Event2D{uint16_t(x), uint16_t(y), uint8_t(polarity), kT});
}

struct Block {
    int x, y, on, off;
    const char* what;
};

// Every rule of the frame: ON, OFF, a tie, ON ahead, ON ahead beyond the cap (a tie), nothing.
const Block kBlocks[] = {
    {0, 0, 1, 0, "ON"},    {32, 0, 0, 2, "OFF"},          {64, 0, 2, 2, "tie"},
    {96, 0, 2, 1, "ON ahead"}, {128, 0, 5, 3, "capped tie"}, {0, 48, 0, 0, "background"},
};

} // namespace

TEST(EventFrame, ViewerAndExportPaintTheSameColours) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    std::vector<Event2D> events;
    for (const Block& b : kBlocks) {
        addBlock(events, b.x, b.y, 1, b.on);
        addBlock(events, b.x, b.y, 0, b.off);
    }
    LoadConfig* config = LoadConfig::getGlobalConfig();
    for (const norvale::EventColorScheme& scheme : norvale::kEventColorSchemes) {
        SCOPED_TRACE(scheme.name);
        // The viewer: its configured colours, its counting and painting.
        config->dvsColorType = QString::fromLatin1(scheme.name);
        config->updateGlobalColorType();
        std::vector<uint16_t> counts(nrcounts::countBufferSize(W, H), 0);
        nrcounts::countEvents(counts.data(), W, H, events.data(), events.data() + events.size(), norvale::kEventCountCap);
        QImage shown(W, H, QImage::Format_RGB888);
        nrcounts::fillRows(shown.bits(), size_t(shown.bytesPerLine()), W, H, toFrameRgb(config->dvsBackgroundColor));
        nrcounts::paintCounts(counts.data(), W, H, shown.bits(), size_t(shown.bytesPerLine()),
                              toFrameRgb(config->dvsOnColor), toFrameRgb(config->dvsOffColor));

        // The driver: the scheme by name, as the command-line tool asks for it.
        norvale::VideoExportOptions options;
        options.width = W;
        options.height = H;
        ASSERT_TRUE(norvale::applyColorScheme(scheme.name, options));
        norvale::EventRangeSource source;
        source.firstTimestamp = kT;
        source.lastTimestamp = kT;
        source.readEvents = [&events](uint64_t start, uint64_t duration) {
            auto out = std::make_shared<std::vector<Event2D>>();
            for (const Event2D& e : events)
                if (e.timestamp >= start && e.timestamp - start < duration)
                    out->push_back(e);
            return std::shared_ptr<const std::vector<Event2D>>(out);
        };
        const std::string path = tmp.filePath(QString::fromLatin1(scheme.name) + ".mp4").toStdString();
        ASSERT_TRUE(norvale::exportEventsToVideo(source, kT, kT, path, options));
        auto video = norvale::ApsFileReader::createFileReader(path);
        ASSERT_TRUE(video);
        norvale::ApsFrame frame;
        ASSERT_TRUE(video->readNextFrame(frame));
        ASSERT_EQ(frame.width(), W);

        for (const Block& b : kBlocks) {
            const int x = b.x + 8, y = b.y + 8; // the middle: compression blurs the edges
            const QColor viewer = shown.pixelColor(x, y);
            const uint8_t* bgr = frame.data() + (size_t(y) * W + x) * 3;
            EXPECT_NEAR(bgr[2], viewer.red(), 12) << b.what;
            EXPECT_NEAR(bgr[1], viewer.green(), 12) << b.what;
            EXPECT_NEAR(bgr[0], viewer.blue(), 12) << b.what;
        }
        // And the viewer follows the rule itself.
        EXPECT_EQ(shown.pixelColor(8, 8), config->dvsOnColor);
        EXPECT_EQ(shown.pixelColor(72, 8), config->dvsOffColor);
        EXPECT_EQ(shown.pixelColor(136, 8), config->dvsOffColor);
        EXPECT_EQ(shown.pixelColor(8, 56), config->dvsBackgroundColor);
    }
}
