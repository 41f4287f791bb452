#pragma once

// The driver reports why a call failed only in its log. These helpers listen to that log so a
// failed call can raise a Python exception that carries the reason.
//
// Threads: the calling thread's first error is the Logger's own (Logger::threadError); the capture
// sink runs on whatever thread logs and adds the last warning per thread (thread_local) and, as a
// fallback for messages logged by the driver's own worker threads, the last error and warning of
// the process (guarded by its own mutex).
#include <string>

namespace norvale::python {

// Adds the capture sink to the driver's logger; once, at import.
void installDriverLogCapture();

// Forgets what was captured so far (call before a driver call whose failure needs a reason).
void clearDriverReason();

// Since clearDriverReason: this thread's first error, else its last warning, else the last error
// or warning of any thread.
// `fallback` when nothing was logged.
std::string driverReason(const std::string& fallback);

// Since clearDriverReason: this thread's first error, else its last warning; `fallback` when the
// calling thread logged neither (for a call that runs wholly on the caller's thread, where another
// thread's message would be unrelated).
std::string callerReason(const std::string& fallback);

// Level of what is printed on standard output: "trace", "debug", "info", "warning", "error", "off".
// Capturing is unaffected. False for an unknown name.
bool setPrintedLogLevel(const std::string& name);

} // namespace norvale::python
