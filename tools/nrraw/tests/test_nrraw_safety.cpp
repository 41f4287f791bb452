// nrraw never destroys a user's file and never reports a failure as success: the input named as
// output, files named like temporaries, FIFOs and devices, a full standard output, interrupts,
// and damaged files whose time jumps by hours. The input's bytes are compared after every case.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "RunNrraw.h"
#include "TestFiles.h"
#include "norvale/DvsFileReader.h"
#include "norvale/RawFileWriter.h"

namespace fs = std::filesystem;

namespace {

struct NrrawSafety : ::testing::Test {
    void SetUp() override {
        src = dir.path("rec.raw");
        ASSERT_EQ(runNrraw(dir, {"gen", src, "--duration", "0.2", "--rate", "0.5"}).code, 0);
        original = readBytes(src);
    }
    // Our temporaries (".NAME.XXXXXX.part") left in the folder.
    std::vector<std::string> temporaries() const {
        std::vector<std::string> left;
        for (const auto& n : dir.entries())
            if (n[0] == '.' && n.size() > 5 && n.compare(n.size() - 5, 5, ".part") == 0) left.push_back(n);
        return left;
    }
    void expectSourceIntactAndNoTemporary() {
        EXPECT_EQ(readBytes(src), original) << "the input changed";
        EXPECT_EQ(temporaries(), std::vector<std::string>{});
    }
    NrrawResult run(const std::vector<std::string>& args) { return runNrraw(dir, args); }

    TempDir dir;
    std::string src, original;
};

} // namespace

TEST_F(NrrawSafety, InputAsOutputIsRefusedForExportAndCut) {
    fs::create_symlink(src, dir.path("link.mp4"));
    for (const std::string& out : {src, dir.path("link.mp4")}) {
        NrrawResult r = run({"export", src, out});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("export refused: output " + out + " is the input file"), std::string::npos) << r.err;
        r = run({"cut", src, out});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("cut refused: output " + out + " is the input file"), std::string::npos) << r.err;
    }
    expectSourceIntactAndNoTemporary();
}

TEST_F(NrrawSafety, FilesNamedLikeTemporariesSurvive) {
    // `export X.part X` used to write its temporary over its own input.
    const std::string partInput = dir.path("clip.mp4.part");
    fs::copy_file(src, partInput);
    NrrawResult r = run({"export", partInput, dir.path("clip.mp4"), "--fps", "10"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readBytes(partInput), original);
    EXPECT_TRUE(fs::is_regular_file(dir.path("clip.mp4")));
    writeBytes(dir.path("cut.raw.part"), "the user's own file");
    r = run({"cut", src, dir.path("cut.raw")});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readBytes(dir.path("cut.raw.part")), "the user's own file");
    expectSourceIntactAndNoTemporary();
}

TEST_F(NrrawSafety, SpecialFilesAreNeverReplacedNorWaitedOn) {
    const std::string fifo = dir.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    fs::create_directory(dir.path("folder"));
    std::vector<std::string> outputs{fifo, dir.path("folder")};
    if (::mknod(dir.path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) outputs.push_back(dir.path("null"));
    for (const std::string& out : outputs) {
        for (const char* cmd : {"cut", "export"}) {
            const NrrawResult r = run({cmd, src, out});
            EXPECT_EQ(r.code, 1) << cmd << " " << out;
            EXPECT_NE(r.err.find("output " + out + " is a"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
            EXPECT_FALSE(fs::is_regular_file(out));
        }
    }
    EXPECT_TRUE(fs::is_fifo(fifo));

    // A FIFO as input: refused at once, not waited on for a writer that never comes.
    const std::string outPath = dir.path("info.out"), errPath = dir.path("info.err");
    const pid_t pid = startNrraw({"info", fifo}, outPath, errPath);
    ASSERT_GT(pid, 0);
    bool ended = false;
    for (int i = 0; i < 500 && !ended; ++i) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    EXPECT_TRUE(ended) << "nrraw info FIFO still runs after 5 s";
    EXPECT_NE(readBytes(errPath).find("not a regular file (a FIFO)"), std::string::npos) << readBytes(errPath);
    expectSourceIntactAndNoTemporary();
}

TEST_F(NrrawSafety, AFullStandardOutputIsAFailure) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"dump", src}, {"info", src}}) {
        const NrrawResult r = finishNrraw(startNrraw(args, "/dev/full", dir.path("err.txt")), "/dev/null",
                                          dir.path("err.txt"));
        EXPECT_EQ(r.code, 1) << args[0];
        EXPECT_NE(r.err.find("cannot write to standard output: No space left on device"), std::string::npos)
            << r.err;
    }
    EXPECT_EQ(run({"info", src}).code, 0); // the same commands succeed where output can go
}

// An interrupted or killed export leaves neither its temporary nor an output behind.
TEST_F(NrrawSafety, InterruptRemovesTheTemporary) {
    const std::string longer = dir.path("long.raw");
    ASSERT_EQ(run({"gen", longer, "--duration", "2", "--rate", "1"}).code, 0);
    for (int sig : {SIGINT, SIGTERM}) {
        const std::string out = dir.path("slow.mp4");
        // Slow motion makes many large frames: the export runs for many seconds.
        const pid_t pid = startNrraw({"export", longer, out, "--slow", "20", "--fps", "60"}, dir.path("o.txt"),
                                     dir.path("e.txt"));
        ASSERT_GT(pid, 0);
        bool started = false;
        for (int i = 0; i < 2000 && !started; ++i) {
            started = !temporaries().empty();
            if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(started) << "no temporary appeared";
        std::this_thread::sleep_for(std::chrono::milliseconds(200)); // well inside the encoding
        ::kill(pid, sig);
        const NrrawResult r = finishNrraw(pid, dir.path("o.txt"), dir.path("e.txt"));
        EXPECT_EQ(r.signal, sig) << r.err;
        EXPECT_NE(r.err.find("interrupted; no partial output left"), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out));
        EXPECT_EQ(temporaries(), std::vector<std::string>{});
    }
    expectSourceIntactAndNoTemporary();
}

// A damaged file whose time jumps by three hours: dump, info and export follow the events, not the
// span of time, and info shows the gap.
TEST_F(NrrawSafety, TimeJumpsCostNothingAndInfoShowsThem) {
    const uint64_t jump = 3ull * 3600 * 1000000;
    std::vector<norvale::Event2D> events;
    for (uint64_t t = 100; t < 50000; t += 50) events.push_back({uint16_t(t % 1000), 5, 1, t});
    for (uint64_t t = jump; t < jump + 50000; t += 50) events.push_back({7, uint16_t(t % 700), 0, t});
    const std::string damaged = dir.path("jump.raw");
    {
        norvale::RawFileWriter w;
        ASSERT_TRUE(w.open(damaged, norvale::DvsFileInfo{}));
        ASSERT_TRUE(w.addEvents(events.data(), events.data() + events.size()));
        ASSERT_TRUE(w.close());
    }
    const auto t0 = std::chrono::steady_clock::now();
    NrrawResult r = run({"dump", damaged});
    ASSERT_EQ(r.code, 0) << r.err;
    std::string want = "t,x,y,p\n";
    for (const auto& e : events)
        want += std::to_string(e.timestamp) + "," + std::to_string(e.x) + "," + std::to_string(e.y) + "," +
                std::to_string(e.polarity) + "\n";
    EXPECT_EQ(r.out, want);
    r = run({"info", damaged});
    ASSERT_EQ(r.code, 0) << r.err;
    const uint64_t gap = jump - 49950;
    EXPECT_NE(r.out.find("largest gap: " + std::to_string(gap) + " us"), std::string::npos) << r.out;
    r = run({"export", damaged, dir.path("jump.mp4")});
    EXPECT_EQ(r.code, 0) << r.err;
    // Stepping through three hours frame by frame or second by second took minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(60));
    expectSourceIntactAndNoTemporary();
}

// Needs a user that permissions apply to: run the suite once as such a user.
TEST_F(NrrawSafety, UnreadableInputAndUnwritableFolderFailClearly) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads and writes everything";
    fs::create_directory(dir.path("locked"));
    fs::permissions(dir.path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    for (const char* cmd : {"cut", "export"}) {
        const NrrawResult r = run({cmd, src, dir.path("locked/out")});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("cannot create a temporary file in " + dir.path("locked") + ": Permission denied"),
                  std::string::npos)
            << r.err;
    }
    fs::permissions(dir.path("locked"), fs::perms::owner_all);
    EXPECT_TRUE(fs::is_empty(dir.path("locked")));
    ::chmod(src.c_str(), 0);
    const NrrawResult r = run({"info", src});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(src + ": Permission denied"), std::string::npos) << r.err;
    ::chmod(src.c_str(), 0644);
    expectSourceIntactAndNoTemporary();
}

namespace {

// Waits for a started nrraw at most a minute (a hang is a failure, not a stuck test).
NrrawResult finishWithin(pid_t pid, const std::string& outPath, const std::string& errPath) {
    for (int i = 0; i < 6000; ++i) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            NrrawResult r;
            r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            r.out = readBytes(outPath);
            r.err = readBytes(errPath);
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ADD_FAILURE() << "nrraw did not end";
    return finishNrraw(pid, outPath, errPath);
}

uint64_t eventsInFile(const std::string& path) {
    auto r = norvale::DvsFileReader::createFileReader(path);
    return r && r->prepareFile() ? r->getStats().eventCount : ~0ull;
}

uint64_t reportedEvents(const NrrawResult& r) {
    const size_t at = r.out.rfind("events: ");
    return at == std::string::npos ? ~1ull : std::stoull(r.out.substr(at + 8));
}

} // namespace

// A recording refuses its replay camera's input, an existing file (unless --overwrite) and a
// FIFO, each at once; a signal ends it with what was captured in the file, and a full disk is a
// failure whose count is the file's.
TEST_F(NrrawSafety, RecordingNeverDestroysAFileAndReportsWhatTheFileHolds) {
    writeBytes(dir.path("cams.json"), R"({"cameras": [{"serial": "SIM-REPLAY", "kind": "replay", "file": ")" + src +
                                          R"("}, {"serial": "SIM-QUIET", "event_rate": 0.5}]})");
    setenv("NORVALE_SIMULATED_CAMERAS", dir.path("cams.json").c_str(), 1);
    ASSERT_EQ(::symlink(src.c_str(), dir.path("link.raw").c_str()), 0);
    for (const std::string& name : {src, dir.path("link.raw")})
        for (const char* extra : {"--progress", "--overwrite"}) {
            const NrrawResult r = run({"record", "SIM-REPLAY", name, "--seconds", "1", extra});
            EXPECT_EQ(r.code, 1) << r.err;
            EXPECT_NE(r.err.find("the file the camera replays"), std::string::npos) << r.err;
        }
    const std::string old = dir.path("old.raw");
    writeBytes(old, "not to be touched");
    NrrawResult r = run({"record", "SIM-QUIET", old, "--seconds", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("--overwrite"), std::string::npos) << r.err;
    EXPECT_EQ(readBytes(old), "not to be touched");
    ASSERT_EQ(::mkfifo(dir.path("fifo.raw").c_str(), 0644), 0);
    pid_t pid = startNrraw({"record", "SIM-QUIET", dir.path("fifo.raw"), "--seconds", "1"}, dir.path("o.txt"), dir.path("e.txt"));
    r = finishWithin(pid, dir.path("o.txt"), dir.path("e.txt"));
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("a FIFO, not a regular file"), std::string::npos) << r.err;
    expectSourceIntactAndNoTemporary();

    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string out = dir.path("sig" + std::to_string(sig) + ".raw");
        pid = startNrraw({"record", "SIM-QUIET", out, "--seconds", "60"}, dir.path("o.txt"), dir.path("e.txt"));
        ASSERT_GT(pid, 0);
        for (int i = 0; i < 3000 && (!fs::exists(out) || fs::file_size(out) < 20000); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::kill(pid, sig);
        r = finishWithin(pid, dir.path("o.txt"), dir.path("e.txt"));
        EXPECT_EQ(r.code, 128 + sig) << r.err;
        const uint64_t held = eventsInFile(out);
        EXPECT_GT(held, 0u);
        EXPECT_EQ(reportedEvents(r), held) << r.out;
        EXPECT_NE(r.err.find("interrupted; " + std::to_string(held) + " events recorded to " + out), std::string::npos)
            << r.err;
    }

    // A full disk, as a file size limit of the child (SIGXFSZ ignored, so writes fail with EFBIG).
    const std::string full = dir.path("full.raw");
    auto previous = ::signal(SIGXFSZ, SIG_IGN); // inherited by the child
    pid = startNrraw({"record", "SIM-QUIET", full, "--seconds", "3"}, dir.path("o.txt"), dir.path("e.txt"));
    ::signal(SIGXFSZ, previous);
    ASSERT_GT(pid, 0);
    struct rlimit limit {1 << 20, 1 << 20};
    ASSERT_EQ(::prlimit(pid, RLIMIT_FSIZE, &limit, nullptr), 0);
    r = finishWithin(pid, dir.path("o.txt"), dir.path("e.txt"));
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(reportedEvents(r), eventsInFile(full)) << r.out << r.err;
    EXPECT_GT(eventsInFile(full), 0u);
}
