#pragma once

#include <memory>
#include <string>

#include "Args.h"
#include "norvale/DvsFileReader.h"

// Each command returns the process exit code; errors go to stderr.
int cmdInfo(const Args& args); // InfoCommand.cpp
int cmdCut(const Args& args);
int cmdDump(const Args& args);
int cmdBenchDecode(const Args& args);
int cmdBenchSeek(const Args& args);
int cmdGen(const Args& args);
int cmdConvert(const Args& args); // ConvertCommand.cpp

// Opens and prepares; on failure prints what is wrong with which file.
std::unique_ptr<norvale::DvsFileReader> openPrepared(const std::string& path);
