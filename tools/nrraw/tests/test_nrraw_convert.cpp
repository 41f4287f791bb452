// nrraw convert run as a user would: the written file against the input, the counts and warnings
// printed, and the exit status of a refusal.
#include <gtest/gtest.h>

#include "RunNrraw.h"
#include "TestFiles.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventGenerator.h"

using namespace norvale;

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

} // namespace

TEST(NrrawConvert, WritesTheRangeInTheAskedFormatAndReportsWhatItCannotHold) {
    TempDir dir;
    GeneratorConfig cfg;
    cfg.eventRate = 5e5;
    cfg.triggerHz = 50;
    cfg.startTimestamp = 1'000'000;
    ASSERT_TRUE(generateRecordingFile(dir.path("in.raw"), cfg, 200'000));
    const FileContents in = readContents(dir.path("in.raw"));
    ASSERT_EQ(in.triggers.size(), 20u);

    NrrawResult r = runNrraw(dir, {"convert", dir.path("in.raw"), dir.path("two.raw"), "--format", "evt2", "--start",
                                   "1050000", "--end", "1150000"});
    ASSERT_EQ(r.code, 0) << r.err;
    FileContents expected;
    for (const Event2D& e : in.events)
        if (e.timestamp >= 1'050'000 && e.timestamp <= 1'150'000) expected.events.push_back(e);
    for (const EventTriggerIn& t : in.triggers)
        if (t.timestamp >= 1'050'000 && t.timestamp <= 1'150'000) expected.triggers.push_back(t);
    const FileContents two = readContents(dir.path("two.raw"));
    EXPECT_TRUE(two.events == expected.events);
    EXPECT_TRUE(two.triggers == expected.triggers);
    EXPECT_TRUE(contains(r.out, "(EVT 3.0) to " + dir.path("two.raw") + " (EVT 2.0)")) << r.out;
    EXPECT_TRUE(contains(r.out, "\nevents: " + std::to_string(expected.events.size()) + "\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\ntriggers: " + std::to_string(expected.triggers.size()) + "\n")) << r.out;
    EXPECT_FALSE(contains(r.err, "warning")) << r.err;

    // DAT holds no trigger edges: written, and said so.
    r = runNrraw(dir, {"convert", dir.path("in.raw"), dir.path("all.dat")});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "warning: 20 trigger edges of " + dir.path("in.raw") + " were not written")) << r.err;
    EXPECT_TRUE(contains(r.out, "\nevents: " + std::to_string(in.events.size()) + "\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "\ntriggers: 0\n")) << r.out;

    // HDF5 plain by default; --compress reaches the writer (a fraction of the size, the same events).
    ASSERT_EQ(runNrraw(dir, {"convert", dir.path("in.raw"), dir.path("plain.h5")}).code, 0);
    r = runNrraw(dir, {"convert", dir.path("in.raw"), dir.path("gz.h5"), "--compress"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(contains(r.err, "--compress")) << r.err;
    EXPECT_LT(std::filesystem::file_size(dir.path("gz.h5")) * 2, std::filesystem::file_size(dir.path("plain.h5")));
    EXPECT_TRUE(readContents(dir.path("gz.h5")).events == in.events);
    EXPECT_TRUE(readContents(dir.path("plain.h5")).events == in.events);
    r = runNrraw(dir, {"convert", dir.path("in.raw"), dir.path("c.dat"), "--compress"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "warning: --compress applies to HDF5 and AEDAT 4 only; DAT is written as usual")) << r.err;
}

TEST(NrrawConvert, RefusalsExitWithTheirReason) {
    TempDir dir;
    GeneratorConfig cfg;
    cfg.eventRate = 1e5;
    ASSERT_TRUE(generateRecordingFile(dir.path("in.raw"), cfg, 50'000));
    writeBytes(dir.path("old.raw"), "keep me");

    NrrawResult r = runNrraw(dir, {"convert", dir.path("in.raw"), dir.path("old.raw")});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(contains(r.err, "exists")) << r.err;
    EXPECT_EQ(readBytes(dir.path("old.raw")), "keep me");
    r = runNrraw(dir, {"convert", dir.path("in.raw"), dir.path("old.raw"), "--overwrite", "--format", "EVT 2.0"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readContents(dir.path("old.raw")).events, readContents(dir.path("in.raw")).events);

    r = runNrraw(dir, {"convert", dir.path("in.raw"), dir.path("out.unknown")});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(contains(r.err, "give --format")) << r.err;
    r = runNrraw(dir, {"convert", dir.path("in.raw"), dir.path("in.raw"), "--overwrite"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(contains(r.err, "file being read")) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path("out.raw")));
}

TEST(NrrawConvert, AnInterruptLeavesNoPartialFile) {
    TempDir dir;
    GeneratorConfig cfg;
    cfg.eventRate = 4e6;
    ASSERT_TRUE(generateRecordingFile(dir.path("in.raw"), cfg, 1'000'000));
    const std::string out = dir.path("out.raw"), outLog = dir.path("o.txt"), errLog = dir.path("e.txt");
    const pid_t pid = startNrraw({"convert", dir.path("in.raw"), out, "--format", "evt2"}, outLog, errLog);
    ASSERT_GT(pid, 0);
    // The output exists from the moment converting starts.
    while (!std::filesystem::exists(out) && ::waitpid(pid, nullptr, WNOHANG) == 0) ::usleep(1000);
    ::kill(pid, SIGINT);
    const NrrawResult r = finishNrraw(pid, outLog, errLog);
    if (r.code == 0) { // it had finished: then the file is whole
        EXPECT_EQ(readContents(out).events.size(), readContents(dir.path("in.raw")).events.size());
    } else {
        EXPECT_EQ(r.code, 128 + SIGINT) << r.err;
        EXPECT_TRUE(contains(r.err, "interrupted; no partial output left")) << r.err;
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"e.txt", "in.raw", "o.txt"}));
    }
}
