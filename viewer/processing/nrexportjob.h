#pragma once

// NrExportJob: runs one export to video or one cut to a raw file of a recording on a thread of its
// own, reports its progress, can be cancelled, and on failure carries back the reason the driver
// gave (its first error message on that thread, such as a full disk or a folder without write
// permission).
//
// The reader is lent by the recording player: the job holds the player's reader lock for its whole
// run, so that the player thread keeps off the reader meanwhile (and an export and a cut of the
// same recording take turns).
//
// Threads
// - Owner thread: prepare, start, cancel, join, isRunning, destruction (cancels and joins).
// - Job thread: the driver call; Progress and Done run there.
// Locks: none of its own; cancelled is atomic, running is owner-thread only.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "norvale/DvsFileReader.h"
#include "norvale/VideoExporter.h"

struct NrExportRequest {
    enum class Kind { Video, Cut };
    Kind kind = Kind::Video;
    std::string path; // local 8-bit encoding
    uint64_t start = 0;
    uint64_t end = 0;
    norvale::VideoExportOptions options; // video only; its progress callback is the job's own
};

class NrExportJob {
public:
    using Progress = std::function<void(double fraction)>;
    // ok, and the driver's reason when not ok (empty if it gave none or the job was cancelled).
    using Done = std::function<void(bool ok, const std::string& reason)>;

    NrExportJob() = default;
    ~NrExportJob();
    NrExportJob(const NrExportJob&) = delete;
    NrExportJob& operator=(const NrExportJob&) = delete;

    // Waits for a previous run and clears the cancel: a cancel from now on stops the next run.
    void prepare();
    // Starts the run (after prepare). readerLock is held for the whole run. A run cancelled before
    // it began touches nothing.
    void start(std::shared_ptr<norvale::DvsFileReader> reader, std::mutex& readerLock, NrExportRequest request,
               Progress progress, Done done);
    // The running export or cut stops at its next progress report and leaves no file.
    void cancel() { cancelled = true; }
    // The last run was cancelled (owner thread, after its Done).
    bool wasCancelled() const { return cancelled; }
    void join();

private:
    std::thread thread;
    std::atomic<bool> cancelled{false};
};
