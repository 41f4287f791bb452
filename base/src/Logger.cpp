#include "norvale/Logger.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

namespace norvale {

namespace {

constexpr const char* kLoggerName = "my_logger";

spdlog::level::level_enum toSpdlogLevel(int level) {
    switch (level) {
    case LOG_TRACE: return spdlog::level::trace;
    case LOG_DEBUG: return spdlog::level::debug;
    case LOG_INFO: return spdlog::level::info;
    case LOG_WARN: return spdlog::level::warn;
    case LOG_ERROR: return spdlog::level::err;
    case LOG_CRITICAL: return spdlog::level::critical;
    default: return spdlog::level::info;
    }
}

thread_local std::string tThreadError;

const char* baseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') base = p + 1;
    return base;
}

} // namespace

class Logger::Impl {
public:
    Impl() {
        logger = spdlog::get(kLoggerName);
        if (!logger) {
            try {
                logger = spdlog::stdout_color_mt(kLoggerName, spdlog::color_mode::automatic);
            } catch (const spdlog::spdlog_ex&) {
                // Another thread registered it between our look-up and the creation.
                logger = spdlog::get(kLoggerName);
            }
        }
        logger->set_pattern("[%H:%M:%S.%e] [%^%l%$] %v", spdlog::pattern_time_type::local);
        logger->set_level(spdlog::level::info);
    }

    void log_(LogLevelType lvl, const char* file, int line, const char* format, va_list args) {
        if (lvl < level) return;
        char message[1024];
        std::vsnprintf(message, sizeof message, format, args);
        if (lvl >= LOG_ERROR && tThreadError.empty()) tThreadError = message;
        const auto spdLevel = toSpdlogLevel(lvl);
        if (lvl == LOG_TRACE || lvl == LOG_DEBUG)
            logger->log(spdLevel, "[{}]:[{}]:{}", baseName(file ? file : ""), line, message);
        else
            logger->log(spdLevel, "{}", message);
    }

    LogLevelType level = LOG_INFO;
    std::shared_ptr<spdlog::logger> logger;
};

Logger& Logger::Instance() {
    static Logger instance;
    return instance;
}

Logger::Logger() : impl(std::make_unique<Impl>()), level(LOG_INFO) {}

Logger::~Logger() = default;

void Logger::setLogLevel(LogLevelType newLevel) {
    level = newLevel;
    impl->level = newLevel;
    impl->logger->set_level(toSpdlogLevel(newLevel));
}

std::string Logger::threadError() { return tThreadError; }

void Logger::clearThreadError() { tThreadError.clear(); }

void Logger::log_(LogLevelType lvl, const char* file, int line, const char* format, ...) {
    if (lvl < level) return; // a suppressed message costs this one comparison
    va_list args;
    va_start(args, format);
    impl->log_(lvl, file, line, format, args);
    va_end(args);
}

} // namespace norvale
