#pragma once

// Where a recording goes. A recording is readable under its final name while it is written (a
// crash keeps what was flushed), so a new file is created there exclusively. An existing file is
// refused unless the caller asks to replace it; then the recording goes to a visible sibling,
// "NAME.recording-XXXXXX.raw" (".mp4" for a video; what a kill -9 leaves is a readable recording with a telling
// name), renamed over the old file only by commit(). Either way the file at the final name is
// locked (flock) for the life of the recording, so a second recording to the same path is
// refused instead of mixing into it. Nothing is created before every check has passed.
//
// Threads: one thread at a time uses an object.
#include <string>

#include "norvale/SafeOutputFile.h"

namespace norvale::detail {

class RecordingOutput {
public:
    RecordingOutput() = default;
    ~RecordingOutput(); // abandon() unless committed
    RecordingOutput(const RecordingOutput&) = delete;
    RecordingOutput& operator=(const RecordingOutput&) = delete;

    // Whether a recording may go to path, without touching anything: "" when it may, otherwise
    // why not. input: the file the recorded stream comes from (a replay camera's), never written.
    static std::string check(const std::string& path, bool overwrite, const FileIdentity& input);

    // The checks, then the file (or the sibling, named with extension) created and the lock
    // taken. False with reason().
    bool open(const std::string& path, bool overwrite, const FileIdentity& input, const std::string& extension = ".raw");
    int descriptor() const { return fd; }
    // The file being written: the path itself, or the sibling while an old file is replaced.
    const std::string& writingPath() const { return tempPath.empty() ? outputPath : tempPath; }
    // Syncs and closes; a sibling is renamed over the old file. False with reason().
    bool commit();
    // The recording failed: a sibling is removed (the old file stays as it was); a new file keeps
    // what was written, which is readable, unless removeNew (a recording that never began). The
    // lock goes.
    void abandon(bool removeNew = false);
    const std::string& reason() const { return why; }
    // The last failure refused what the path names (rather than an error of the system).
    bool refused() const { return wasRefused; }
    bool replacing() const { return !tempPath.empty(); }

private:
    bool fail(std::string text);
    void release();

    int fd = -1;
    int lockFd = -1; // the old file's descriptor, locked, while it is being replaced
    std::string outputPath;
    std::string tempPath;
    FileIdentity tempId;
    FileIdentity createdId; // a new file made by open, until commit or abandon
    std::string why;
    bool wasRefused = false;
};

} // namespace norvale::detail
