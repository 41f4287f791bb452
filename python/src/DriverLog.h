#pragma once

// The driver reports why a call failed only in its log. These helpers listen to that log so a
// failed call can raise a Python exception that carries the reason.
//
// Threads: the capture sink runs on whatever thread logs; it keeps the last message per thread
// (thread_local) and, as a fallback for messages logged by the driver's own worker threads, the
// last one of the process (guarded by its own mutex).
#include <string>

namespace norvale::python {

// Adds the capture sink to the driver's logger; once, at import.
void installDriverLogCapture();

// Forgets what was captured so far (call before a driver call whose failure needs a reason).
void clearDriverReason();

// The last error (else warning) logged since clearDriverReason: on this thread first, then on any.
// `fallback` when nothing was logged.
std::string driverReason(const std::string& fallback);

// Level of what is printed on standard output: "trace", "debug", "info", "warning", "error", "off".
// Capturing is unaffected. False for an unknown name.
bool setPrintedLogLevel(const std::string& name);

} // namespace norvale::python
