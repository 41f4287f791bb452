// No writer of the driver ever destroys a file the user had: the input named as output in any way,
// a file named like a temporary, a FIFO or device as output or input, a cancelled or failed write.
// After each case the input's bytes are compared and no temporary may be left.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "LogCapture.h"
#include "TestFiles.h"
#include "VideoTestUtil.h"
#include "norvale/ApsFileReader.h"
#include "norvale/ApsVideoWriter.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventGenerator.h"
#include "norvale/RawCut.h"
#include "norvale/RawFileWriter.h"
#include "norvale/VideoExporter.h"

using namespace norvale;
namespace fs = std::filesystem;

namespace {

VideoExportOptions smallVideo() {
    VideoExportOptions o;
    o.width = 64;
    o.height = 32;
    o.codec = VideoCodecChoice::Mpeg4;
    return o;
}

struct OutputSafetyTest : ::testing::Test {
    void SetUp() override {
        input = dir.path("rec.raw");
        GeneratorConfig cfg;
        cfg.eventRate = 2e5;
        cfg.startTimestamp = 1000;
        ASSERT_TRUE(generateRecordingFile(input, cfg, 300000));
        original = readBytes(input);
    }
    std::unique_ptr<DvsFileReader> open(const std::string& path) {
        auto r = DvsFileReader::createFileReader(path);
        if (r && !r->prepareFile()) r.reset();
        return r;
    }
    bool cut(const std::string& from, const std::string& to) {
        auto r = open(from);
        return r && cutRawFile(*r, 0, UINT64_MAX, to);
    }
    bool video(const std::string& from, const std::string& to) {
        auto r = open(from);
        uint64_t a = 0, b = 0;
        return r && r->getStartTimestamp(a) && r->getEndTimestamp(b) && exportFileToVideo(*r, a, b, to, smallVideo());
    }
    // Names in the folder that look like a temporary of ours.
    std::vector<std::string> temporaries() const {
        std::vector<std::string> left;
        for (const auto& name : dir.entries())
            if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0 && name[0] == '.') left.push_back(name);
        return left;
    }
    void expectInputIntactAndNoTemporary() {
        EXPECT_EQ(readBytes(input), original) << "the input changed";
        EXPECT_EQ(temporaries(), std::vector<std::string>{});
    }

    TempDir dir;
    std::string input, original;
    LogCapture log;
};

} // namespace

TEST_F(OutputSafetyTest, InputAsOutputIsRefusedByAnyNameForCutAndExport) {
    fs::create_symlink(input, dir.path("link.raw"));
    fs::create_hard_link(input, dir.path("hard.raw"));
    fs::create_directory(dir.path("sub"));
    for (const std::string& out : {input, dir.path("link.raw"), dir.path("hard.raw"), dir.path("sub/../rec.raw")}) {
        log.clear();
        EXPECT_FALSE(cut(input, out)) << out;
        EXPECT_NE(log.text().find("cut refused: output " + out + " is the input file"), std::string::npos) << log.text();
        log.clear();
        EXPECT_FALSE(video(input, out)) << out;
        EXPECT_NE(log.text().find("export refused: output " + out + " is the input file"), std::string::npos)
            << log.text();
    }
    expectInputIntactAndNoTemporary();
    EXPECT_TRUE(fs::is_symlink(dir.path("link.raw")));
}

// The old fixed temporary name (OUT.part) could be the input or a file of the user's.
TEST_F(OutputSafetyTest, FilesNamedLikeTheOldTemporaryAreNeverTouched) {
    const std::string partInput = dir.path("clip.mp4.part");
    fs::copy_file(input, partInput);
    EXPECT_TRUE(video(partInput, dir.path("clip.mp4")));
    EXPECT_EQ(readBytes(partInput), original);
    fs::copy_file(input, dir.path("c.raw.part"));
    EXPECT_TRUE(cut(dir.path("c.raw.part"), dir.path("c.raw")));
    EXPECT_EQ(readBytes(dir.path("c.raw.part")), original);

    writeBytes(dir.path("out.raw.part"), "mine");
    writeBytes(dir.path("out.mp4.part"), "mine too");
    EXPECT_TRUE(cut(input, dir.path("out.raw")));
    EXPECT_TRUE(video(input, dir.path("out.mp4")));
    EXPECT_EQ(readBytes(dir.path("out.raw.part")), "mine");
    EXPECT_EQ(readBytes(dir.path("out.mp4.part")), "mine too");
    EXPECT_TRUE(testutil::decodeVideo(dir.path("out.mp4"), false).ok);
    EXPECT_EQ(open(dir.path("out.raw"))->getStats().eventCount, open(input)->getStats().eventCount);
    expectInputIntactAndNoTemporary();
}

TEST_F(OutputSafetyTest, OutputsThatAreNotRegularFilesAreRefusedAndKept) {
    ASSERT_EQ(::mkfifo(dir.path("fifo").c_str(), 0644), 0);
    fs::create_directory(dir.path("folder"));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", dir.path("sock").c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::vector<std::pair<std::string, std::string>> cases = {
        {"fifo", "a FIFO"}, {"folder", "a folder"}, {"sock", "a socket"}};
    // Our own node with the null device's numbers stands for /dev/null (needs the right to mknod).
    if (::mknod(dir.path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) cases.push_back({"null", "a character device"});
    for (const auto& [name, kind] : cases) {
        const std::string out = dir.path(name);
        const std::string why = "output " + out + " is " + kind + ", not a regular file";
        log.clear();
        EXPECT_FALSE(cut(input, out));
        EXPECT_NE(log.text().find("cut refused: " + why), std::string::npos) << log.text();
        log.clear();
        EXPECT_FALSE(video(input, out));
        EXPECT_NE(log.text().find("export refused: " + why), std::string::npos) << log.text();
        log.clear();
        EXPECT_EQ(ApsVideoWriter::create(out, 32, 16), nullptr);
        EXPECT_NE(log.text().find("APS video refused: " + why), std::string::npos) << log.text();
        EXPECT_FALSE(fs::is_regular_file(out)) << name;
    }
    ::close(sock);
    EXPECT_TRUE(fs::is_fifo(dir.path("fifo")));
    if (fs::exists(dir.path("null"))) {
        EXPECT_TRUE(fs::is_character_file(dir.path("null")));
    }
    expectInputIntactAndNoTemporary();
}

// Opening a FIFO without a writer used to wait forever.
TEST_F(OutputSafetyTest, FifoAndFolderInputsAreRefusedAtOnce) {
    const std::string fifo = dir.path("in.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    auto opened = std::async(std::launch::async, [&] {
        return DvsFileReader::createFileReader(fifo) == nullptr && ApsFileReader::createFileReader(fifo) == nullptr;
    });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "opening a FIFO blocks";
        for (int i = 0; i < 2; ++i) ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)); // set the reader free
    }
    EXPECT_TRUE(opened.get());
    EXPECT_NE(log.text().find("cannot open raw file " + fifo + ": not a regular file (a FIFO)"), std::string::npos)
        << log.text();
    EXPECT_NE(log.text().find("APS video " + fifo + " does not open: not a regular file (a FIFO)"), std::string::npos)
        << log.text();
    EXPECT_EQ(DvsFileReader::createFileReader(dir.path("")), nullptr);
    EXPECT_NE(log.text().find("not a regular file (a folder)"), std::string::npos) << log.text();
}

TEST_F(OutputSafetyTest, CancelledAndFailedWritesLeaveNothingBehind) {
    auto reader = open(input);
    ASSERT_TRUE(reader);
    EXPECT_FALSE(cutRawFile(*reader, 0, UINT64_MAX, dir.path("c.raw"), [](double) { return false; }));
    VideoExportOptions o = smallVideo();
    int calls = 0;
    o.progress = [&](double) { return ++calls < 3; };
    uint64_t a = 0, b = 0;
    reader->getStartTimestamp(a);
    reader->getEndTimestamp(b);
    EXPECT_FALSE(exportFileToVideo(*reader, a, b, dir.path("v.mp4"), o));
    {
        auto aps = ApsVideoWriter::create(dir.path("aps.mp4"), 32, 16);
        ASSERT_TRUE(aps);
    } // destroyed without close
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"rec.raw"});

    // A folder that cannot be written (for a user that permissions apply to).
    if (::geteuid() != 0) {
        fs::create_directory(dir.path("locked"));
        fs::permissions(dir.path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
        log.clear();
        EXPECT_FALSE(cutRawFile(*reader, 0, UINT64_MAX, dir.path("locked/c.raw")));
        EXPECT_NE(log.text().find("cut failed: cannot create a temporary file in " + dir.path("locked") +
                                  ": Permission denied"),
                  std::string::npos)
            << log.text();
        EXPECT_FALSE(exportFileToVideo(*reader, a, b, dir.path("locked/v.mp4"), smallVideo()));
        fs::permissions(dir.path("locked"), fs::perms::owner_all);
        EXPECT_TRUE(fs::is_empty(dir.path("locked")));
        // An input the user may not read.
        ::chmod(input.c_str(), 0);
        log.clear();
        EXPECT_EQ(DvsFileReader::createFileReader(input), nullptr);
        EXPECT_NE(log.text().find("cannot open raw file " + input + ": Permission denied"), std::string::npos)
            << log.text();
        ::chmod(input.c_str(), 0644);
    }
    expectInputIntactAndNoTemporary();
}

// A damaged file: events, then a jump of three hours, then events again. Reading, dumping and
// exporting follow the events, not the span of time.
TEST_F(OutputSafetyTest, EmptyStretchesAreSkippedThroughTheIndex) {
    const uint64_t jump = 3ull * 3600 * 1000000;
    std::vector<Event2D> events;
    for (uint64_t t = 1000; t < 200000; t += 7) events.push_back({uint16_t(t % 640), uint16_t(t % 480), 1, t});
    for (uint64_t t = jump; t < jump + 100000; t += 5) events.push_back({uint16_t(t % 640), uint16_t(t % 480), 0, t});
    const std::string damaged = dir.path("jump.raw");
    {
        RawFileWriter w;
        ASSERT_TRUE(w.open(damaged, DvsFileInfo{}));
        ASSERT_TRUE(w.addEvents(events.data(), events.data() + events.size()));
        ASSERT_TRUE(w.close());
    }
    auto reader = open(damaged);
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->getStats().eventCount, events.size());
    // The next event after any time, against the list itself.
    for (uint64_t t : std::vector<uint64_t>{0, 1000, 1001, 199995, 200000, 5000000, jump - 1, jump, jump + 3, jump + 99995,
                       jump + 99996}) {
        const auto it = std::lower_bound(events.begin(), events.end(), t,
                                         [](const Event2D& e, uint64_t v) { return e.timestamp < v; });
        uint64_t next = 0;
        ASSERT_TRUE(reader->nextEventTime(t, next));
        EXPECT_EQ(next, it == events.end() ? UINT64_MAX : it->timestamp) << t;
    }
    uint64_t before = 0, after = 0;
    ASSERT_TRUE(reader->largestGap(before, after));
    EXPECT_EQ(before, 199996u);
    EXPECT_EQ(after, jump);

    // Three hours of video at 30 fps: the empty stretch is a few pictures, the timing exact.
    VideoExportOptions o = smallVideo();
    double lastProgress = 0;
    o.progress = [&](double f) {
        lastProgress = f;
        return true;
    };
    VideoExportStats stats;
    ASSERT_TRUE(exportFileToVideo(*reader, 1000, jump + 99995, dir.path("jump.mp4"), o, &stats));
    EXPECT_LT(stats.frames, 100u) << stats.frames;
    EXPECT_DOUBLE_EQ(lastProgress, 1.0);
    const auto v = testutil::decodeVideo(dir.path("jump.mp4"));
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(v.rgb.size(), stats.frames);
    EXPECT_NEAR(v.durationSeconds, double(jump + 99995 - 1000) * 1e-6, 0.1);
    // Past the first events the stretch shows the background only.
    ASSERT_GE(v.rgb.size(), 10u);
    const auto bg = testutil::regionMean(v, 10, 0, 0, 64, 32);
    EXPECT_NEAR(bg[0], 112, 4.0);
    expectInputIntactAndNoTemporary();
}
