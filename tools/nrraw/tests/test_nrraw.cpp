// The nrraw program itself: each command run as a user would, its output checked against what
// the driver reads from the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "RunNrraw.h"
#include "TestFiles.h"
#include "norvale/DvsFileReader.h"
#include "norvale/EventGenerator.h"

using namespace norvale;

namespace {

using Result = NrrawResult;

Result nrraw(const TempDir& dir, const std::vector<std::string>& args) { return runNrraw(dir, args); }

bool hasLine(const std::string& text, const std::string& line) {
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (l == line) return true;
    return false;
}

std::string dataOf(const std::string& path) { // the word stream, without the header (its date differs)
    const std::string b = readBytes(path);
    const size_t end = b.find("% end\n");
    return end == std::string::npos ? b : b.substr(end + 6);
}

// What `nrraw gen --duration 0.2 --rate 1 --seed S --triggers 50 --start 20000000` must write.
constexpr uint64_t kStart = 20'000'000, kDurationUs = 200'000;
std::vector<std::string> genArgs(const std::string& out, const char* seed) {
    return {"gen", out, "--duration", "0.2", "--rate", "1", "--seed", seed, "--triggers", "50", "--start", "20000000"};
}
void expected(uint64_t seed, std::vector<Event2D>& ev, std::vector<EventTriggerIn>& trig) {
    GeneratorConfig cfg;
    cfg.seed = seed;
    cfg.eventRate = 1e6;
    cfg.triggerHz = 50;
    cfg.startTimestamp = kStart;
    EventGenerator(cfg).generate(kDurationUs, ev, trig);
}

std::vector<Event2D> readAll(const std::string& path, std::vector<EventTriggerIn>* trig = nullptr) {
    auto r = DvsFileReader::createFileReader(path);
    std::vector<Event2D> ev;
    if (!r || !r->prepareFile()) return ev;
    r->readRange(0, UINT64_MAX, ev);
    if (trig) *trig = r->triggers();
    return ev;
}

} // namespace

TEST(Nrraw, GenWritesTheSeededRecordingAndInfoDescribesIt) {
    TempDir dir;
    const std::string a = dir.path("a.raw"), b = dir.path("b.raw"), c = dir.path("c.raw");
    ASSERT_EQ(nrraw(dir, genArgs(a, "42")).code, 0);
    ASSERT_EQ(nrraw(dir, genArgs(b, "42")).code, 0);
    ASSERT_EQ(nrraw(dir, genArgs(c, "43")).code, 0);
    EXPECT_EQ(dataOf(a), dataOf(b));
    EXPECT_NE(dataOf(a), dataOf(c));

    std::vector<Event2D> want;
    std::vector<EventTriggerIn> wantTrig, gotTrig;
    expected(42, want, wantTrig);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(readAll(a, &gotTrig), want);
    EXPECT_EQ(gotTrig, wantTrig);

    const Result info = nrraw(dir, {"info", a});
    ASSERT_EQ(info.code, 0) << info.err;
    uint64_t on = 0;
    for (const auto& e : want) on += e.polarity;
    EXPECT_TRUE(hasLine(info.out, "format: EVT 3.0")) << info.out;
    EXPECT_TRUE(hasLine(info.out, "geometry: 1280 x 720")) << info.out;
    EXPECT_TRUE(hasLine(info.out, std::string("kernel: ") + kernelName(autoKernel()))) << info.out;
    EXPECT_TRUE(hasLine(info.out, "events: " + std::to_string(want.size()))) << info.out;
    EXPECT_TRUE(hasLine(info.out, "ON events: " + std::to_string(on))) << info.out;
    EXPECT_TRUE(hasLine(info.out, "OFF events: " + std::to_string(want.size() - on))) << info.out;
    EXPECT_TRUE(hasLine(info.out, "first timestamp: " + std::to_string(want.front().timestamp) + " us")) << info.out;
    EXPECT_TRUE(hasLine(info.out, "last timestamp: " + std::to_string(want.back().timestamp) + " us")) << info.out;
    EXPECT_TRUE(hasLine(info.out, "dvs start timestamp: " + std::to_string(kStart))) << info.out;
    EXPECT_TRUE(hasLine(info.out, "triggers: " + std::to_string(wantTrig.size()))) << info.out;
}

TEST(Nrraw, InfoOfTheRealRecording) {
    const std::string path = sharedData("pedestrians_5k.evt3.raw");
    if (!haveSharedData("pedestrians_5k.evt3.raw")) GTEST_SKIP() << path << " is absent";
    TempDir dir;
    const Result r = nrraw(dir, {"info", path});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char* line : {"format: EVT 3.0", "geometry: 1280 x 720", "events: 5000", "ON events: 2894",
                             "OFF events: 2106", "first timestamp: 5840504 us", "last timestamp: 5885714 us",
                             "triggers: 0"})
        EXPECT_TRUE(hasLine(r.out, line)) << "missing '" << line << "' in\n" << r.out;
}

TEST(Nrraw, CutHoldsExactlyTheRange) {
    TempDir dir;
    const std::string src = dir.path("src.raw"), out = dir.path("cut.raw");
    ASSERT_EQ(nrraw(dir, genArgs(src, "7")).code, 0);
    std::vector<Event2D> all;
    std::vector<EventTriggerIn> allTrig;
    expected(7, all, allTrig);
    const uint64_t s = kStart + 50'001, e = kStart + 120'000;
    const Result r = nrraw(dir, {"cut", src, out, "--start", std::to_string(s), "--end", std::to_string(e)});
    ASSERT_EQ(r.code, 0) << r.err;
    std::vector<Event2D> want;
    std::vector<EventTriggerIn> wantTrig, gotTrig;
    for (const auto& x : all)
        if (x.timestamp >= s && x.timestamp <= e) want.push_back(x);
    for (const auto& x : allTrig)
        if (x.timestamp >= s && x.timestamp <= e) wantTrig.push_back(x);
    ASSERT_FALSE(want.empty());
    ASSERT_FALSE(wantTrig.empty());
    EXPECT_EQ(readAll(out, &gotTrig), want);
    EXPECT_EQ(gotTrig, wantTrig);
    EXPECT_NE(readBytes(out).find("% dvs_start_timestamp " + std::to_string(want.front().timestamp) + "\n"),
              std::string::npos);
}

TEST(Nrraw, DumpPrintsCsvOfTheWindow) {
    TempDir dir;
    const std::string src = dir.path("src.raw");
    ASSERT_EQ(nrraw(dir, genArgs(src, "9")).code, 0);
    std::vector<Event2D> all;
    std::vector<EventTriggerIn> trig;
    expected(9, all, trig);
    auto csv = [](const std::vector<Event2D>& ev, size_t limit) {
        std::string s = "t,x,y,p\n";
        for (size_t i = 0; i < std::min(limit, ev.size()); ++i)
            s += std::to_string(ev[i].timestamp) + "," + std::to_string(ev[i].x) + "," + std::to_string(ev[i].y) +
                 "," + std::to_string(ev[i].polarity) + "\n";
        return s;
    };
    Result r = nrraw(dir, {"dump", src, "--limit", "25"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, csv(all, 25));

    const uint64_t s = kStart + 70'000, d = 3'000;
    std::vector<Event2D> window;
    for (const auto& x : all)
        if (x.timestamp >= s && x.timestamp < s + d) window.push_back(x);
    ASSERT_FALSE(window.empty());
    r = nrraw(dir, {"dump", src, "--start", std::to_string(s), "--duration", std::to_string(d)});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, csv(window, window.size()));
}

TEST(Nrraw, BenchCommandsReportTheirFigures) {
    TempDir dir;
    const std::string src = dir.path("src.raw");
    ASSERT_EQ(nrraw(dir, genArgs(src, "3")).code, 0);
    Result r = nrraw(dir, {"bench", "decode", src, "--repeat", "1"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::string last = r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1);
    EXPECT_EQ(last.rfind("decode: ", 0), 0u) << r.out;
    EXPECT_NE(last.find(" Mev/s (" + std::string(kernelName(autoKernel())) + " kernel)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("straightforward decoder: "), std::string::npos) << r.out;
    // Each format is decoded by its own decoder (a file that is not raw by its reader): every count
    // printed is the file's own.
    const size_t events = readAll(src).size();
    ASSERT_GT(events, 100'000u);
    const auto countsOf = [](const std::string& out) {
        std::vector<uint64_t> counts;
        for (size_t at = out.find(" events, best of"); at != std::string::npos; at = out.find(" events, best of", at + 1))
            counts.push_back(std::stoull(out.substr(out.rfind(": ", at) + 2)));
        return counts;
    };
    std::vector<uint64_t> counts = countsOf(r.out);
    EXPECT_GE(counts.size(), 2u) << r.out; // the straightforward decoder and the portable kernel at least
    for (uint64_t n : counts) EXPECT_EQ(n, events) << r.out;
    const std::pair<const char*, const char*> others[] = {
        {"evt2", "EVT 2.0 decoder"}, {"evt21", "EVT 2.1 decoder"}, {"dat", "DAT decoder"}, {"csv", "CSV reader"}};
    for (const auto& [key, what] : others) {
        const std::string file = dir.path(std::string("as_") + key);
        ASSERT_EQ(nrraw(dir, {"convert", src, file, "--format", key}).code, 0) << key;
        r = nrraw(dir, {"bench", "decode", file, "--repeat", "1"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(countsOf(r.out), std::vector<uint64_t>{events}) << r.out;
        EXPECT_NE(r.out.find(what), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\ndecode: "), std::string::npos) << r.out;
    }
    r = nrraw(dir, {"bench", "seek", src, "--count", "5"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("prepare: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("median "), std::string::npos) << r.out;
}

TEST(Nrraw, ErrorsNameTheFileAndFail) {
    TempDir dir;
    const std::string src = dir.path("src.raw"), missing = dir.path("missing.raw");
    ASSERT_EQ(nrraw(dir, genArgs(src, "5")).code, 0);
    const std::string before = readBytes(src);

    for (const auto& args : std::vector<std::vector<std::string>>{
             {"info", missing}, {"dump", missing}, {"cut", missing, dir.path("o.raw")}, {"info", dir.path("")}}) {
        const Result r = nrraw(dir, args);
        EXPECT_EQ(r.code, 1) << args[0] << " " << args[1];
        EXPECT_NE(r.err.find(args[1]), std::string::npos) << r.err;
    }
    // a file that is not a raw event file
    writeBytes(dir.path("text.txt"), "hello\n");
    Result r = nrraw(dir, {"info", dir.path("text.txt")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(dir.path("text.txt")), std::string::npos) << r.err;

    // OUT naming the input, also by another spelling: refused, input untouched
    for (const std::string& out : {src, dir.path(".") + "/src.raw"}) {
        r = nrraw(dir, {"cut", src, out});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(out), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("input"), std::string::npos) << r.err;
    }
    EXPECT_EQ(readBytes(src), before);
    // output folder missing: fails, names the output
    r = nrraw(dir, {"cut", src, dir.path("no/such/dir/o.raw")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(dir.path("no/such/dir/o.raw")), std::string::npos) << r.err;

    // wrong command lines: exit 2 and a message saying what is wrong
    const std::vector<std::pair<std::vector<std::string>, std::string>> usage{
        {{}, "Usage"},
        {{"frob"}, "unknown command 'frob'"},
        {{"info"}, "usage: nrraw info FILE"},
        {{"dump", src, "--limit", "x"}, "--limit"},
        {{"dump", src, "--limit"}, "--limit needs a value"},
        {{"cut", src, dir.path("o.raw"), "--start", "10", "--end", "5"}, "--end"},
        {{"gen", dir.path("g.raw"), "--rate", "1"}, "--duration"},
        {{"info", src, "--bogus", "1"}, "unknown option --bogus"},
        {{"bench", "frob", src}, "unknown bench"}};
    for (const auto& [args, text] : usage) {
        r = nrraw(dir, args);
        EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path("o.raw")));
    EXPECT_FALSE(std::filesystem::exists(dir.path("g.raw")));

    r = nrraw(dir, {"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("nrraw info FILE"), std::string::npos);
}

// A cut keeps its source's geometry: a bigger sensor's events outside 1280 x 720 stay in it.
TEST(Nrraw, CutOfALargerSensorKeepsItsGeometry) {
    TempDir dir;
    const std::string src = dir.path("big.raw"), out = dir.path("cut.raw");
    writeBytes(src, "% evt 3.0\n% geometry 1920x1080\n% end\n" +
                        words({0x8001, 0x0010, 0x2005,          // t=4096 (10, 5)
                               0x8002, 0x0000 | 900, 0x2000 | 1500, // t=8192 (900, 1500): outside 1280x720
                               0x8003, 0x0011, 0x2006}));        // t=12288 (17, 6)
    Result r = nrraw(dir, {"cut", src, out});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readAll(out), (std::vector<Event2D>{Event2D{5, 16, 0, 4096}, Event2D{1500, 900, 0, 8192},
                                                  Event2D{6, 17, 0, 12288}}));
    r = nrraw(dir, {"info", out});
    EXPECT_NE(r.out.find("1920 x 1080"), std::string::npos) << r.out;
}

TEST(Nrraw, CamerasAreListedAndRecordWritesWhatItReports) {
    TempDir dir;
    setenv("NORVALE_SIMULATED_CAMERAS", dir.path("none.json").c_str(), 1); // the default cameras only
    const Result list = nrraw(dir, {"cameras"});
    ASSERT_EQ(list.code, 0) << list.err;
    for (const char* s : {"SIM-DVS-0001", "SIM-FUS-0001", "SIM-ETH-0001", "Velfox_V1.7.2", "ethernet", "192.0.2.20"})
        EXPECT_NE(list.out.find(s), std::string::npos) << s << "\n" << list.out;

    const std::string out = dir.path("cam.raw");
    const Result rec = nrraw(dir, {"record", "SIM-DVS-0001", out, "--seconds", "1"});
    ASSERT_EQ(rec.code, 0) << rec.err;
    const size_t at = rec.out.rfind("events: ");
    ASSERT_NE(at, std::string::npos) << rec.out;
    const uint64_t reported = std::stoull(rec.out.substr(at + 8));
    EXPECT_GT(reported, 500000u);
    EXPECT_EQ(readAll(out).size(), reported);

    EXPECT_EQ(nrraw(dir, {"record", "SIM-NOPE", out, "--seconds", "1"}).code, 1);
    // a fusion camera of the cameras file under a product name of its own
    writeBytes(dir.path("fusion.json"), R"({"cameras": [{"serial": "SIM-LAB-0001", "kind": "fusion", "product": "Lab rig"}]})");
    setenv("NORVALE_SIMULATED_CAMERAS", dir.path("fusion.json").c_str(), 1);
    const Result fusion = nrraw(dir, {"record", "SIM-LAB-0001", dir.path("lab"), "--seconds", "0.5"});
    EXPECT_EQ(fusion.code, 0) << fusion.err;
    EXPECT_NE(fusion.out.find("frames: "), std::string::npos) << fusion.out;
    setenv("NORVALE_SIMULATED_CAMERAS", dir.path("none.json").c_str(), 1);
    EXPECT_EQ(nrraw(dir, {"record", "SIM-DVS-0001", dir.path("no/such/dir.raw"), "--seconds", "1"}).code, 1);
    EXPECT_EQ(nrraw(dir, {"record", "SIM-DVS-0001", out}).code, 2);
}
