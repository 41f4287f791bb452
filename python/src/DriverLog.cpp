#include "DriverLog.h"

#include <memory>
#include <mutex>

#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>

#include "norvale/Logger.h"

namespace norvale::python {

namespace {

struct Captured {
    std::string error;
    std::string warning;
};

// The Logger keeps the calling thread's first error itself (Logger::threadError). What it does
// not keep, this sink does: warnings, which is how the driver gives many of its refusals ("open
// already", events a file cannot hold), and the messages of the driver's own threads (storage,
// export), for a call whose failure was logged elsewhere.
thread_local std::string threadWarning;
std::mutex anyMutex;
Captured anyCapture; // guarded by anyMutex

// Writes nothing: it only remembers. The mutex is spdlog's null one because all state is either
// thread-local or under anyMutex.
class CaptureSink final : public spdlog::sinks::base_sink<spdlog::details::null_mutex> {
protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        if (msg.level < spdlog::level::warn) return;
        std::string text(msg.payload.data(), msg.payload.size());
        if (msg.level < spdlog::level::err) threadWarning = text;
        std::lock_guard<std::mutex> lock(anyMutex);
        (msg.level >= spdlog::level::err ? anyCapture.error : anyCapture.warning) = std::move(text);
    }
    void flush_() override {}
};

std::shared_ptr<CaptureSink> captureSink;

std::shared_ptr<spdlog::logger> driverLogger() {
    Logger::Instance(); // registers the driver's logger and sets its pattern
    return spdlog::get("my_logger");
}

} // namespace

void installDriverLogCapture() {
    auto logger = driverLogger();
    if (!logger || captureSink) return;
    captureSink = std::make_shared<CaptureSink>();
    captureSink->set_level(spdlog::level::warn);
    logger->sinks().push_back(captureSink);
}

void clearDriverReason() {
    Logger::clearThreadError();
    threadWarning.clear();
    std::lock_guard<std::mutex> lock(anyMutex);
    anyCapture = Captured{};
}

std::string driverReason(const std::string& fallback) {
    const std::string error = Logger::threadError();
    if (!error.empty()) return error;
    if (!threadWarning.empty()) return threadWarning;
    std::lock_guard<std::mutex> lock(anyMutex);
    if (!anyCapture.error.empty()) return anyCapture.error;
    if (!anyCapture.warning.empty()) return anyCapture.warning;
    return fallback;
}

std::string callerReason(const std::string& fallback) {
    const std::string error = Logger::threadError();
    if (!error.empty()) return error;
    return threadWarning.empty() ? fallback : threadWarning;
}

bool setPrintedLogLevel(const std::string& name) {
    static const std::pair<const char*, spdlog::level::level_enum> names[] = {
        {"trace", spdlog::level::trace},  {"debug", spdlog::level::debug}, {"info", spdlog::level::info},
        {"warning", spdlog::level::warn}, {"error", spdlog::level::err},   {"off", spdlog::level::off}};
    for (const auto& [text, level] : names) {
        if (name != text) continue;
        auto logger = driverLogger();
        if (!logger) return false;
        // The logger lets everything from debug through; its printing sinks decide what is shown.
        if (level < spdlog::level::info) {
            Logger::Instance().setLogLevel(level == spdlog::level::trace ? LOG_TRACE : LOG_DEBUG);
        } else {
            Logger::Instance().setLogLevel(LOG_INFO);
        }
        for (auto& sink : logger->sinks())
            if (sink != captureSink) sink->set_level(level);
        return true;
    }
    return false;
}

} // namespace norvale::python
