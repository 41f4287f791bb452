#include "raw/RecordingOutput.h"

#include "norvale/SafeOutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace norvale::detail {

namespace {

// What path names now, following a symbolic link: 0 (nothing there), 1 (st filled, target set)
// or -1 (why set).
int inspect(const std::string& path, struct stat& st, std::string& target, std::string& why) {
    target = path;
    if (path.empty()) {
        why = "no output file given";
        return -1;
    }
    if (path.back() == '/') {
        why = "output " + path + " is a folder name";
        return -1;
    }
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return 0;
        why = "cannot write " + path + ": " + std::strerror(errno);
        return -1;
    }
    if (S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (!::realpath(path.c_str(), resolved) || ::stat(resolved, &st) != 0) {
            why = "output " + path + " is a symbolic link to a missing file";
            return -1;
        }
        target = resolved;
    }
    return 1;
}

// The checks of an existing output (st: what it is).
std::string checkExisting(const std::string& path, const struct stat& st, bool overwrite, const FileIdentity& input) {
    if (!S_ISREG(st.st_mode)) return "output " + path + " is " + fileKindText(st.st_mode) + ", not a regular file";
    if (input.sameAs({uint64_t(st.st_dev), uint64_t(st.st_ino), true}))
        return "output " + path + " is the file the camera replays";
    if (!overwrite) return "output " + path + " exists; a recording replaces a file only when asked to overwrite it";
    if (::access(path.c_str(), W_OK) != 0) return "output " + path + " is read-only; it is not replaced";
    return "";
}

} // namespace

std::string RecordingOutput::check(const std::string& path, bool overwrite, const FileIdentity& input) {
    struct stat st {};
    std::string target, why;
    const int found = inspect(path, st, target, why);
    if (found < 0) return why;
    if (found > 0) return checkExisting(path, st, overwrite, input);
    struct stat dir {};
    const std::string folder = folderOfPath(path);
    if (::stat(folder.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode)) return "folder " + folder + " of " + path + " does not exist";
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return "cannot write in folder " + folder + ": " + std::strerror(errno);
    return "";
}

RecordingOutput::~RecordingOutput() { abandon(); }

bool RecordingOutput::fail(std::string text) {
    abandon();
    // Errors of the system all say "cannot ..."; anything else refuses what the path names.
    wasRefused = text.rfind("cannot ", 0) != 0;
    why = std::move(text);
    return false;
}

bool RecordingOutput::open(const std::string& path, bool overwrite, const FileIdentity& input,
                           const std::string& extension) {
    abandon();
    why.clear();
    outputPath = path;
    struct stat st {};
    std::string target;
    const int found = inspect(path, st, target, why);
    if (found < 0) return fail(why);
    if (found == 0) {
        // Created exclusively: a file that appeared since the check is never taken over, and
        // a FIFO is never opened.
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) return fail("output " + path + " appeared while the recording started; it is left alone");
            return fail("cannot create " + path + ": " + std::strerror(errno));
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            // Another recording replaces this new file: it is that recording's now.
            ::close(fd);
            fd = -1;
            return fail("output " + path + " is being recorded by another recording");
        }
        createdId = FileIdentity::ofDescriptor(fd);
        return true;
    }
    if (std::string problem = checkExisting(path, st, overwrite, input); !problem.empty()) return fail(problem);

    lockFd = ::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat locked {};
    if (lockFd < 0 || ::fstat(lockFd, &locked) != 0) return fail("cannot open " + path + ": " + std::strerror(errno));
    if (std::string problem = checkExisting(path, locked, overwrite, input); !problem.empty()) return fail(problem);
    if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) return fail("output " + path + " is being recorded by another recording");

    std::string stem = nameOfPath(target);
    const size_t ext = extension.size();
    if (stem.size() > ext && stem.compare(stem.size() - ext, ext, extension) == 0) stem.resize(stem.size() - ext);
    std::string pattern = folderOfPath(target) + "/" + stem.substr(0, 200) + ".recording-XXXXXX" + extension;
    fd = ::mkostemps(pattern.data(), int(ext), O_CLOEXEC);
    if (fd < 0) return fail("cannot create a file beside " + path + ": " + std::strerror(errno));
    tempPath = pattern;
    tempId = FileIdentity::ofDescriptor(fd);
    ::fchmod(fd, locked.st_mode & 07777);
    outputPath = target; // a symbolic link stays and its target is replaced
    return true;
}

bool RecordingOutput::commit() {
    if (fd < 0) return fail("cannot write " + outputPath + ": no recording is being written");
    if (::fsync(fd) != 0) return fail("cannot write " + writingPath() + ": " + std::strerror(errno));
    const int closing = fd;
    fd = -1;
    if (::close(closing) != 0) return fail("cannot write " + writingPath() + ": " + std::strerror(errno));
    if (!tempPath.empty()) {
        if (!FileIdentity::ofPath(tempPath).sameAs(tempId))
            return fail("recording " + tempPath + " was moved or replaced while it was written");
        if (::rename(tempPath.c_str(), outputPath.c_str()) != 0)
            return fail("cannot replace " + outputPath + ": " + std::strerror(errno));
        tempPath.clear();
        const int dir = ::open(folderOfPath(outputPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
    }
    createdId = {};
    release();
    return true;
}

void RecordingOutput::abandon(bool removeNew) {
    if (removeNew && !outputPath.empty() && FileIdentity::ofPath(outputPath).sameAs(createdId)) ::unlink(outputPath.c_str());
    createdId = {};
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (!tempPath.empty() && FileIdentity::ofPath(tempPath).sameAs(tempId)) ::unlink(tempPath.c_str());
    tempPath.clear();
    release();
}

void RecordingOutput::release() {
    if (lockFd >= 0) {
        ::close(lockFd);
        lockFd = -1;
    }
}

} // namespace norvale::detail
