#pragma once

#include <cstdint>
#include <string>

#include "norvale/Export.h"

namespace norvale {

// Device and inode of a file: every name of one file (symbolic links, hard links) has the same.
struct NR_BASE_EXPORT FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool valid = false;

    static FileIdentity ofDescriptor(int fd);
    // Follows symbolic links; invalid when the path names nothing.
    static FileIdentity ofPath(const std::string& path);
    bool sameAs(const FileIdentity& other) const {
        return valid && other.valid && device == other.device && inode == other.inode;
    }
};

// Writes a file so that no existing file is ever destroyed by mistake. open() refuses an output
// that exists and is not a regular file, or that is the input file; it creates a fresh temporary
// file beside the output (".NAME.XXXXXX.part", made exclusively, so it never takes over a file the
// user had). The caller writes to descriptor() or, for a library that opens by name, to
// temporaryPath(). commit() syncs the data and renames the temporary over the output (which keeps
// an existing output's mode); without commit the temporary is removed on destruction. The
// temporary stays locked (flock) while it is written; open() removes the unlocked temporaries of
// the same output that a killed writer left, so running a job again cleans up after it.
// A symbolic link as output is followed: its target is replaced and the link stays.
//
// Threads: one thread at a time uses an object. removeLiveTemporaries() may run at any moment in a
// signal handler of any thread.
class NR_BASE_EXPORT SafeOutputFile {
public:
    SafeOutputFile() = default;
    ~SafeOutputFile(); // discard() unless committed
    SafeOutputFile(const SafeOutputFile&) = delete;
    SafeOutputFile& operator=(const SafeOutputFile&) = delete;

    // False, with reason(), when the output is refused or the temporary cannot be made. input:
    // the file the output is made from, which must never be written (invalid: no input).
    bool open(const std::string& path, const FileIdentity& input = {});
    // Syncs, closes and renames the temporary into place; false with reason() (the temporary is
    // then removed). Whoever else wrote through temporaryPath() must have closed it first.
    bool commit();
    // Closes and removes the temporary; nothing happens to the output.
    void discard();

    bool isOpen() const { return fd >= 0; }
    int descriptor() const { return fd; }
    const std::string& path() const { return outputPath; }       // as given
    const std::string& temporaryPath() const { return tempPath; }
    // Why the last open or commit failed: what is wrong and with which path.
    const std::string& reason() const { return why; }
    // The last failure was a refusal (what the output names) rather than an error of the system.
    bool refused() const { return wasRefused; }

private:
    bool fail(std::string text, bool refusal);

    int fd = -1;
    int slot = -1; // in the registry of live temporaries
    std::string outputPath;
    std::string targetPath; // the file that is replaced: outputPath or a symbolic link's target
    std::string tempPath;
    FileIdentity tempId;
    FileIdentity inputId;
    std::string why;
    bool wasRefused = false;
};

// Opens path for reading (O_RDONLY, close-on-exec, blocking) only when it is a regular file: a FIFO,
// device or folder is refused at once, never waited on. -1 with problem set ("not a regular file
// (a FIFO)", "Permission denied", ...) on failure.
NR_BASE_EXPORT int openRegularFile(const std::string& path, std::string& problem);

// What a file that is not a regular file is, from its st_mode: "a folder", "a FIFO", ...
NR_BASE_EXPORT const char* fileKindText(unsigned mode);
// The folder part of path ("." without a slash, "/" for the root) and its last component.
NR_BASE_EXPORT std::string folderOfPath(const std::string& path);
NR_BASE_EXPORT std::string nameOfPath(const std::string& path);

// Removes the temporary file of every SafeOutputFile open in this process. Async-signal-safe (no
// allocation, no locks): meant for a SIGINT/SIGTERM handler that then ends the process.
NR_BASE_EXPORT void removeLiveTemporaries() noexcept;

// For programs (a library never installs handlers): on SIGINT, SIGTERM or SIGHUP the live
// temporaries are removed, message (a string that outlives the program's main) goes to stderr, and
// the signal then ends the process as it would have (the shell sees the usual status).
NR_BASE_EXPORT void removeTemporariesOnTerminatingSignals(const char* message);

} // namespace norvale
