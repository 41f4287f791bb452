#include "norvale/SafeOutputFile.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <dirent.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace norvale {

namespace {

// Live temporaries, for removal from a signal handler. A slot is free (0), being filled (1),
// live (2) or claimed by the handler (3); only the thread that moved a slot to 1 writes its path,
// and the handler reads only slots it moved from 2 to 3, which nobody writes again.
constexpr int kSlots = 16;
struct Slot {
    std::atomic<int> state{0};
    char path[PATH_MAX];
};
Slot gSlots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free atomics");

int registerTemporary(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (gSlots[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
            gSlots[i].state.store(2);
            return i;
        }
    }
    return -1; // more than kSlots at once: such a temporary is only removed by its owner
}

void unregisterTemporary(int& slot) {
    if (slot < 0) return;
    int expected = 2;
    gSlots[slot].state.compare_exchange_strong(expected, 0);
    slot = -1;
}

// The process's umask, read without changing it (umask() would race with other threads).
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "Umask:") == 0) return mode_t(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    return 022;
}

std::string errorText(int err) { return std::strerror(err); }

// A temporary of ours is ".NAME.XXXXXX.part" and stays locked while its writer lives.
bool isTemporaryOf(const char* entry, const std::string& name) {
    const size_t length = std::strlen(entry);
    return length == name.size() + 13 && entry[0] == '.' && name.compare(0, name.size(), entry + 1, name.size()) == 0 &&
           entry[name.size() + 1] == '.' && std::strcmp(entry + name.size() + 8, ".part") == 0;
}

// Removes the temporaries of an output whose writer died (killed, or the machine stopped): nobody
// holds their lock. One being written by a live process, here or on another machine of a shared
// folder, is locked and kept.
void removeStaleTemporaries(const std::string& folder, const std::string& name) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryOf(entry->d_name, name)) continue;
        const std::string path = folder + "/" + entry->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
        if (fd < 0) continue;
        struct stat st {};
        // Only a regular file that is still the one under that name after the lock is taken.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            FileIdentity::ofPath(path).sameAs(FileIdentity::ofDescriptor(fd)))
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

} // namespace

FileIdentity FileIdentity::ofDescriptor(int fd) {
    struct stat st {};
    FileIdentity id;
    if (fd >= 0 && ::fstat(fd, &st) == 0) id = {uint64_t(st.st_dev), uint64_t(st.st_ino), true};
    return id;
}

FileIdentity FileIdentity::ofPath(const std::string& path) {
    struct stat st {};
    FileIdentity id;
    if (::stat(path.c_str(), &st) == 0) id = {uint64_t(st.st_dev), uint64_t(st.st_ino), true};
    return id;
}

SafeOutputFile::~SafeOutputFile() { discard(); }

bool SafeOutputFile::fail(std::string text, bool refusal) {
    discard();
    why = std::move(text);
    wasRefused = refusal;
    return false;
}

bool SafeOutputFile::open(const std::string& path, const FileIdentity& input) {
    discard();
    outputPath = path;
    targetPath = path;
    inputId = input;
    why.clear();
    wasRefused = false;
    if (path.empty()) return fail("no output file given", true);

    struct stat st {};
    bool exists = false;
    if (::lstat(path.c_str(), &st) == 0) {
        exists = true;
        if (S_ISLNK(st.st_mode)) {
            char resolved[PATH_MAX];
            if (!::realpath(path.c_str(), resolved))
                return fail("output " + path + " is a symbolic link to a missing file", true);
            targetPath = resolved;
            if (::stat(targetPath.c_str(), &st) != 0)
                return fail("cannot write " + path + ": " + errorText(errno), false);
        }
    } else if (errno != ENOENT) {
        return fail("cannot write " + path + ": " + errorText(errno), false);
    } else if (!path.empty() && path.back() == '/') {
        return fail("output " + path + " is a folder name", true);
    }
    if (exists && !S_ISREG(st.st_mode))
        return fail("output " + path + " is " + fileKindText(st.st_mode) + ", not a regular file", true);
    if (exists && input.sameAs({uint64_t(st.st_dev), uint64_t(st.st_ino), true}))
        return fail("output " + path + " is the input file", true);

    // Short enough for any file system's name limit, whatever the output's name.
    std::string name = nameOfPath(targetPath).substr(0, 200);
    const std::string folder = folderOfPath(targetPath);
    removeStaleTemporaries(folder, name);
    std::string pattern = folder + "/." + name + ".XXXXXX.part";
    fd = ::mkostemps(pattern.data(), 5, O_CLOEXEC);
    if (fd < 0) return fail("cannot create a temporary file in " + folder + ": " + errorText(errno), false);
    // Held until the temporary is renamed or removed: it tells a later writer that it is not stale.
    ::flock(fd, LOCK_EX | LOCK_NB);
    tempPath = pattern;
    tempId = FileIdentity::ofDescriptor(fd);
    slot = registerTemporary(tempPath);
    if (input.sameAs(tempId))
        return fail("temporary output " + tempPath + " is the input file", true);
    if (exists) {
        ::fchmod(fd, st.st_mode & 07777);
        if (::geteuid() == 0) (void)!::fchown(fd, st.st_uid, st.st_gid);
    } else {
        ::fchmod(fd, 0666 & ~currentUmask());
    }
    return true;
}

bool SafeOutputFile::commit() {
    if (fd < 0) return fail("cannot write " + outputPath + ": no file is being written", false);
    if (!FileIdentity::ofPath(tempPath).sameAs(tempId))
        return fail("temporary output " + tempPath + " was replaced while it was written", false);
    // The output may have changed since open: a file that is not regular is still never replaced.
    struct stat st {};
    if (::stat(targetPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return fail("output " + outputPath + " is " + fileKindText(st.st_mode) + ", not a regular file", true);
    if (inputId.sameAs(FileIdentity::ofPath(targetPath)))
        return fail("output " + outputPath + " is the input file", true);
    if (::fsync(fd) != 0) return fail("cannot write " + outputPath + ": " + errorText(errno), false);
    // The lock lives as long as any descriptor of the file: a copy keeps it up to the rename.
    const int lock = ::dup(fd);
    const int closing = fd;
    fd = -1;
    const bool closed = ::close(closing) == 0;
    const int closeError = errno;
    const bool renamed = closed && ::rename(tempPath.c_str(), targetPath.c_str()) == 0;
    const int renameError = errno;
    if (lock >= 0) ::close(lock);
    if (!closed) return fail("cannot write " + outputPath + ": " + errorText(closeError), false);
    if (!renamed) return fail("cannot create " + outputPath + ": " + errorText(renameError), false);
    unregisterTemporary(slot);
    tempPath.clear();
    // The new name reaches the disk too (best effort: not every file system syncs folders).
    const int dir = ::open(folderOfPath(targetPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void SafeOutputFile::discard() {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    // Only our own file is removed, never one that took its name meanwhile.
    if (!tempPath.empty() && FileIdentity::ofPath(tempPath).sameAs(tempId)) ::unlink(tempPath.c_str());
    unregisterTemporary(slot);
    tempPath.clear();
}

int openRegularFile(const std::string& path, std::string& problem) {
    // Non-blocking, so that opening a FIFO without a writer returns at once.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        problem = errorText(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) problem = errorText(errno);
    else if (!S_ISREG(st.st_mode)) problem = std::string("not a regular file (") + fileKindText(st.st_mode) + ")";
    else problem.clear();
    if (!problem.empty()) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void removeLiveTemporaries() noexcept {
    for (Slot& s : gSlots) {
        int expected = 2;
        if (s.state.compare_exchange_strong(expected, 3)) ::unlink(s.path);
    }
}

namespace {

const char* gSignalMessage = nullptr;

void onTerminatingSignal(int sig) {
    removeLiveTemporaries();
    if (gSignalMessage) (void)!::write(STDERR_FILENO, gSignalMessage, std::strlen(gSignalMessage));
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

} // namespace

void removeTemporariesOnTerminatingSignals(const char* message) {
    gSignalMessage = message;
    struct sigaction action {};
    action.sa_handler = onTerminatingSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

const char* fileKindText(unsigned mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    return "of an unknown kind";
}

std::string folderOfPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOfPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace norvale
