#pragma once

#include <memory>
#include <string>

#include "norvale/Export.h"

namespace norvale {

enum LogLevelType : int32_t {
    LOG_TRACE = 0,
    LOG_DEBUG = 1,
    LOG_INFO = 2,
    LOG_WARN = 3,
    LOG_ERROR = 4,
    LOG_CRITICAL = 5,
};

// The process-wide logger: printf-style messages to standard output through the spdlog logger
// "my_logger". log_ may be called from any thread; setLogLevel is meant for set-up time (the level
// is read without a lock). A message is cut at 1023 characters.
class NR_BASE_EXPORT Logger {
public:
    // One object per process: the storage lives in the library, so the program and the library
    // reach the same instance.
    static Logger& Instance();

    Logger();
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void setLogLevel(LogLevelType level);

    // file: the caller's source path (__FILE__); trace and debug lines carry its base name and line.
    void log_(LogLevelType level, const char* file, int line, const char* format, ...)
        __attribute__((format(printf, 5, 6)));

    // The first error (or critical) message logged on the calling thread since clearThreadError(),
    // empty when none: a caller tells its user why an operation failed, as errno does for a system
    // call. Messages below the log level are not kept.
    static std::string threadError();
    static void clearThreadError();

    class Impl;

private:
    std::unique_ptr<Impl> impl;
    LogLevelType level = LOG_INFO;
};

} // namespace norvale

#define NR_LOG(level, ...) ::norvale::Logger::Instance().log_((level), __FILE__, __LINE__, __VA_ARGS__)
