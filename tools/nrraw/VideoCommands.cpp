#include "VideoCommands.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ostream>

#include "norvale/ApsFileReader.h"

namespace norvale {

namespace {

bool parseUnsigned(const std::string& text, uint64_t& value) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && p == end;
}

bool parseDouble(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

// Redraws "export: NN%" on standard error when the percentage changes.
std::function<bool(double)> terminalProgress() {
    if (!isatty(STDERR_FILENO)) return {};
    return [last = -1](double fraction) mutable {
        const int percent = static_cast<int>(fraction * 100.0);
        if (percent != last) {
            last = percent;
            std::fprintf(stderr, "\rexport: %3d%%", percent);
            std::fflush(stderr);
        }
        return true;
    };
}

} // namespace

const char* videoExportUsage() {
    return "export FILE OUT.mp4 [--start US] [--end US] [--fps N] [--acc US] [--slow F] "
           "[--colors gray|dark|light|redblue|redgreen]";
}

bool parseVideoExportCommand(const std::vector<std::string>& args, VideoExportCommand& command, std::string& error) {
    command = VideoExportCommand{};
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) {
            positional.push_back(a);
            continue;
        }
        if (i + 1 >= args.size()) {
            error = "missing value after " + a;
            return false;
        }
        const std::string& v = args[++i];
        uint64_t n = 0;
        double f = 0;
        if (a == "--start" && parseUnsigned(v, n)) {
            command.startUs = n;
        } else if (a == "--end" && parseUnsigned(v, n)) {
            command.endUs = n;
        } else if (a == "--fps" && parseUnsigned(v, n) && n >= 1 && n <= 240) {
            command.options.fps = static_cast<int>(n);
        } else if (a == "--acc" && parseUnsigned(v, n) && n > 0) {
            command.options.accTimeUs = n;
        } else if (a == "--slow" && parseDouble(v, f) && f >= 0.001 && f <= 1000.0) {
            command.options.slowMotion = f;
        } else if (a == "--colors" && applyColorScheme(v, command.options)) {
        } else if (a == "--start" || a == "--end" || a == "--fps" || a == "--acc" || a == "--slow" ||
                   a == "--colors") {
            error = "bad value for " + a + ": " + v;
            return false;
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    if (positional.size() != 2) {
        error = std::string("usage: ") + videoExportUsage();
        return false;
    }
    command.input = positional[0];
    command.output = positional[1];
    return true;
}

int runVideoExportCommand(const VideoExportCommand& command, uint64_t recordingFirstUs, uint64_t recordingLastUs,
                          const VideoExportFunction& exportFn, std::ostream& out, std::ostream& err) {
    const uint64_t start = command.startUs.value_or(recordingFirstUs);
    const uint64_t end = command.endUs.value_or(recordingLastUs);
    VideoExportOptions options = command.options;
    if (!options.progress) options.progress = terminalProgress();
    const bool drawn = static_cast<bool>(options.progress) && !command.options.progress;
    const bool ok = exportFn(start, end, command.output, options);
    if (drawn) std::fputc('\n', stderr);
    if (!ok) {
        err << "export of " << command.input << " to " << command.output << " failed (see the log)\n";
        return 1;
    }
    out << "exported " << start << " .. " << end << " us of " << command.input << " to " << command.output << "\n";
    return 0;
}

int runApsInfoCommand(const std::string& path, std::ostream& out, std::ostream& err) {
    auto reader = ApsFileReader::createFileReader(path);
    if (!reader) {
        err << path << ": not a readable APS video (see the log)\n";
        return 1;
    }
    std::vector<ApsFrameIndexEntry> index;
    reader->getFrameIndex(index);
    out << "size: " << reader->getWidth() << "x" << reader->getHeight() << "\n"
        << "frames: " << index.size() << "\n"
        << "first timestamp: " << index.front().timestamp << " us\n"
        << "last timestamp: " << index.back().timestamp << " us\n";
    return 0;
}

} // namespace norvale
