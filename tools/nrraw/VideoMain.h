#pragma once

#include <string>
#include <vector>

// "export" and "aps-info"; the arguments after the command word. Return the exit code.
int cmdExport(const std::vector<std::string>& args);
int cmdApsInfo(const std::vector<std::string>& args);
