#include "VideoMain.h"

#include <iostream>

#include "norvale/DvsFileReader.h"
#include "norvale/VideoExporter.h"
#include "VideoCommands.h"

using namespace norvale;

int cmdExport(const std::vector<std::string>& args) {
    VideoExportCommand command;
    std::string error;
    if (!parseVideoExportCommand(args, command, error)) {
        std::cerr << "nrraw: " << error << "\nusage: " << videoExportUsage() << '\n';
        return 2;
    }
    auto reader = DvsFileReader::createFileReader(command.input);
    if (!reader || !reader->prepareFile()) {
        std::cerr << "nrraw: " << command.input << ": cannot be opened as a raw event file\n";
        return 1;
    }
    uint64_t first = 0, last = 0;
    if (!reader->getStartTimestamp(first) || !reader->getEndTimestamp(last)) {
        std::cerr << "nrraw: " << command.input << ": holds no events to export\n";
        return 1;
    }
    return runVideoExportCommand(
        command, first, last,
        [&](uint64_t start, uint64_t end, const std::string& path, const VideoExportOptions& options) {
            return exportFileToVideo(*reader, start, end, path, options);
        },
        std::cout, std::cerr);
}

int cmdApsInfo(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::cerr << "nrraw: usage: nrraw aps-info FILE.mp4\n";
        return 2;
    }
    return runApsInfoCommand(args[0], std::cout, std::cerr);
}
