#pragma once

// The video commands of the nrraw tool ("export" and "aps-info"), so the tool's main only
// dispatches. All of it runs on the calling thread.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "norvale/VideoExporter.h"

namespace norvale {

struct VideoExportCommand {
    std::string input;                // raw event file
    std::string output;               // MP4 to write
    std::optional<uint64_t> startUs;  // default: the recording's first event
    std::optional<uint64_t> endUs;    // default: the recording's last event
    VideoExportOptions options;       // --fps, --acc, --slow, --colors
};

// Usage text of the export command, one line.
const char* videoExportUsage();

// Parses the arguments after "export":
//   FILE OUT.mp4 [--start US] [--end US] [--fps N] [--acc US] [--slow F]
//   [--colors gray|dark|light|redblue|redgreen]
// False with a message in `error` for a missing or unknown argument or a bad value.
bool parseVideoExportCommand(const std::vector<std::string>& args, VideoExportCommand& command,
                                              std::string& error);

// Exports with `exportFn` (for a raw file: exportFileToVideo over its reader), filling in the range from the
// recording's bounds. Draws a progress line on standard error when that is a terminal. Prints the
// outcome on `out` / `err`; returns the process exit code (0 success).
using VideoExportFunction =
    std::function<bool(uint64_t start, uint64_t end, const std::string& path, const VideoExportOptions& options)>;
int runVideoExportCommand(const VideoExportCommand& command, uint64_t recordingFirstUs,
                                           uint64_t recordingLastUs, const VideoExportFunction& exportFn,
                                           std::ostream& out, std::ostream& err);

// "aps-info FILE.mp4": size, frame count, first and last timestamp. Returns the exit code.
int runApsInfoCommand(const std::string& path, std::ostream& out, std::ostream& err);

} // namespace norvale
