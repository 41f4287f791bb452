#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "LogCapture.h"
#include "norvale/Logger.h"

using namespace norvale;

namespace {

struct LoggerTest : ::testing::Test {
    void TearDown() override { Logger::Instance().setLogLevel(LOG_INFO); }
    LogCapture capture;
};

} // namespace

TEST_F(LoggerTest, LevelGateAndDebugPrefix) {
    Logger::Instance().log_(LOG_DEBUG, "/src/a/b.cpp", 7, "x");
    EXPECT_EQ(capture.text(), "");

    Logger::Instance().setLogLevel(LOG_DEBUG);
    Logger::Instance().log_(LOG_DEBUG, "/src/a/b.cpp", 7, "x");
    Logger::Instance().log_(LOG_TRACE, "/src/a/b.cpp", 8, "suppressed");
    EXPECT_EQ(capture.text(), "debug|[b.cpp]:[7]:x\n");

    Logger::Instance().setLogLevel(LOG_TRACE);
    capture.clear();
    Logger::Instance().log_(LOG_TRACE, "src\\a\\x.cpp", 3, "t%d", 1);
    Logger::Instance().log_(LOG_TRACE, "plain.cpp", 4, "u");
    EXPECT_EQ(capture.text(), "trace|[x.cpp]:[3]:t1\ntrace|[plain.cpp]:[4]:u\n");
}

TEST_F(LoggerTest, InfoAndAboveCarryNoFileOrLine) {
    Logger::Instance().setLogLevel(LOG_DEBUG);
    Logger::Instance().log_(LOG_INFO, "/src/a/b.cpp", 7, "recording %s", "start");
    Logger::Instance().log_(LOG_WARN, "/src/a/b.cpp", 8, "w");
    Logger::Instance().log_(LOG_ERROR, "/src/a/b.cpp", 9, "e");
    Logger::Instance().log_(LOG_CRITICAL, "/src/a/b.cpp", 10, "c");
    EXPECT_EQ(capture.text(), "info|recording start\nwarning|w\nerror|e\ncritical|c\n");
}

TEST_F(LoggerTest, LongMessageIsCutAt1023Characters) {
    const std::string longText(2000, 'a');
    Logger::Instance().log_(LOG_INFO, __FILE__, __LINE__, "%s", longText.c_str());
    EXPECT_EQ(capture.text(), "info|" + std::string(1023, 'a') + "\n");
}

TEST_F(LoggerTest, OutOfRangeLevelMapsToInfo) {
    Logger::Instance().setLogLevel(static_cast<LogLevelType>(9));
    EXPECT_EQ(spdlog::get("my_logger")->level(), spdlog::level::info);
    // The threshold itself is 9 now: nothing at a known level passes.
    Logger::Instance().log_(LOG_CRITICAL, __FILE__, __LINE__, "c");
    EXPECT_EQ(capture.text(), "");
    Logger::Instance().setLogLevel(LOG_ERROR);
    EXPECT_EQ(spdlog::get("my_logger")->level(), spdlog::level::err);
}

TEST_F(LoggerTest, SecondLoggerSharesRegisteredLogger) {
    auto registered = spdlog::get("my_logger");
    Logger second; // must not throw on the duplicate name
    capture.restorePattern();
    EXPECT_EQ(spdlog::get("my_logger"), registered);
    second.log_(LOG_WARN, __FILE__, __LINE__, "from second");
    EXPECT_EQ(capture.text(), "warning|from second\n");
}

TEST_F(LoggerTest, InstanceIsOneObject) {
    EXPECT_EQ(&Logger::Instance(), &Logger::Instance());
}

TEST_F(LoggerTest, ConstructionSetsTheConsolePattern) {
    // A Logger sets "[HH:MM:SS.mmm] [level] text" on every sink of "my_logger".
    auto logger = spdlog::get("my_logger");
    std::ostringstream out;
    auto probe = std::make_shared<spdlog::sinks::ostream_sink_mt>(out);
    probe->set_pattern("%v");
    logger->sinks().push_back(probe);
    Logger fresh;
    fresh.log_(LOG_INFO, __FILE__, __LINE__, "recording start");
    logger->sinks().pop_back();
    const std::string line = out.str();
    ASSERT_EQ(line.size(), std::string("[00:00:00.000] [info] recording start\n").size()) << line;
    EXPECT_EQ(line[0], '[');
    EXPECT_EQ(line[3], ':');
    EXPECT_EQ(line[6], ':');
    EXPECT_EQ(line[9], '.');
    EXPECT_EQ(line.substr(13), "] [info] recording start\n");
}

// The first error of a thread is kept for the caller, other threads' errors are not.
TEST_F(LoggerTest, ThreadErrorKeepsTheFirstErrorOfTheThread) {
    Logger::clearThreadError();
    NR_LOG(LOG_WARN, "not an error");
    EXPECT_EQ(Logger::threadError(), "");
    NR_LOG(LOG_ERROR, "cannot create %s: %s", "/x/y.mp4", "No space left on device");
    NR_LOG(LOG_CRITICAL, "a consequence");
    std::thread([] { NR_LOG(LOG_ERROR, "elsewhere"); }).join();
    EXPECT_EQ(Logger::threadError(), "cannot create /x/y.mp4: No space left on device");
    Logger::clearThreadError();
    EXPECT_EQ(Logger::threadError(), "");
}
