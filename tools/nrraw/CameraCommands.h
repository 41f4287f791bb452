#pragma once

#include "Args.h"

// "cameras" and "record": the cameras of the driver from the command line. Return the exit code.
int cmdCameras(const Args& args);
int cmdRecord(const Args& args);
// "stream": a recording or a live camera sent as a UDP event stream (StreamCommand.cpp).
int cmdStream(const Args& args);
