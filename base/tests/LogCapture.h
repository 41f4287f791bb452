#pragma once

// Captures what the process-wide logger prints, as "level|text" lines.
#include <memory>
#include <sstream>
#include <string>

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "norvale/Logger.h"

class LogCapture {
public:
    LogCapture() {
        norvale::Logger::Instance(); // registers "my_logger"
        logger = spdlog::get("my_logger");
        sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(stream);
        sink->set_pattern("%l|%v");
        logger->sinks().push_back(sink);
    }
    ~LogCapture() {
        auto& sinks = logger->sinks();
        for (auto it = sinks.begin(); it != sinks.end(); ++it)
            if (*it == sink) {
                sinks.erase(it);
                break;
            }
    }
    // A Logger's construction sets its pattern on every sink, ours included.
    void restorePattern() { sink->set_pattern("%l|%v"); }
    std::string text() const { return stream.str(); }
    void clear() { stream.str(""); }

private:
    std::ostringstream stream;
    std::shared_ptr<spdlog::logger> logger;
    std::shared_ptr<spdlog::sinks::ostream_sink_mt> sink;
};
