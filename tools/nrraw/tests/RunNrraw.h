#pragma once

// Runs the nrraw program as a user would: stdout and stderr into files, the exit status back.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "TestFiles.h"

extern char** environ;

struct NrrawResult {
    int code = -1;   // exit status; -1 when ended by a signal
    int signal = 0;  // the signal that ended it
    std::string out, err;
};

// Starts nrraw with args; its stdout goes to outPath (which may be a device such as /dev/full).
inline pid_t startNrraw(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath) {
    std::vector<std::string> words{NRRAW_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, NRRAW_PATH, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

inline NrrawResult finishNrraw(pid_t pid, const std::string& outPath, const std::string& errPath) {
    NrrawResult r;
    if (pid < 0) return r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    r.out = readBytes(outPath);
    r.err = readBytes(errPath);
    return r;
}

// Runs nrraw with args; stdout and stderr go through files in dir.
inline NrrawResult runNrraw(const TempDir& dir, const std::vector<std::string>& args) {
    const std::string outPath = dir.path("stdout.txt"), errPath = dir.path("stderr.txt");
    return finishNrraw(startNrraw(args, outPath, errPath), outPath, errPath);
}
