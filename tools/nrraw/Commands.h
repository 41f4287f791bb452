#pragma once

#include "Args.h"

// Each command returns the process exit code; errors go to stderr.
int cmdInfo(const Args& args);
int cmdCut(const Args& args);
int cmdDump(const Args& args);
int cmdBenchDecode(const Args& args);
int cmdBenchSeek(const Args& args);
int cmdGen(const Args& args);
int cmdConvert(const Args& args); // ConvertCommand.cpp
