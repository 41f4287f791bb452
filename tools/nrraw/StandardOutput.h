#pragma once

// Standard output carries results (CSV of dump, info): a write that failed must end in exit 1.
// Main thread only.

// True once a write to stdout has failed; remembers why (errno of the failure) the first time.
bool standardOutputFailed();
// Flushes and closes stdout; returns code, or 1 (after a message on stderr) when writing failed.
int finishStandardOutput(int code);
