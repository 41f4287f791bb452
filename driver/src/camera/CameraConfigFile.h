#pragma once

// Camera configuration files: a JSON object with one member per tool (its section name:
// "Biases", "TirggerIn", "AntiFlicker", "EventTrailFilter", "EventRateControl", "ROI", "APS"),
// each mapping parameter names to values. Stateless; any thread.
#include <memory>
#include <string>
#include <vector>

#include "norvale/CameraTool.h"

namespace norvale {

// Reads a small text file whole (a configuration, the simulated-cameras list): a FIFO, a device or
// a folder is refused at once, never waited on, and so is a file past maxBytes (or one that keeps
// growing while read). False with the reason in `problem`; `missing`, when given, tells whether
// nothing exists at path (which some callers accept silently).
bool readSmallTextFile(const std::string& path, size_t maxBytes, std::string& text, std::string& problem,
                       bool* missing = nullptr);

// Applies the whole file or nothing: a file that is not a regular file of at most 1 MiB, not
// JSON, not of this shape, or holds a
// value of the wrong type or out of range (or a combination a tool refuses) returns false with
// a log line and leaves every tool as it was. Unknown sections and names are logged and skipped.
bool loadToolConfig(const std::string& path, const std::vector<std::shared_ptr<CameraTool>>& tools);
// Writes every parameter of every tool, through a temporary file renamed into place; false
// (and no file changed) on failure.
bool exportToolConfig(const std::string& path, const std::vector<std::shared_ptr<CameraTool>>& tools);

} // namespace norvale
