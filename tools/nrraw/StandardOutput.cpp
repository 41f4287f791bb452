#include "StandardOutput.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace {
int failure = 0; // errno of the first failed write, -1 when it is unknown
}

bool standardOutputFailed() {
    if (!failure && (std::ferror(stdout) || !std::cout.good())) failure = errno ? errno : -1;
    return failure != 0;
}

int finishStandardOutput(int code) {
    errno = 0;
    std::cout.flush(); // flushes stdout too: cout writes through it
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) standardOutputFailed();
    errno = 0;
    if (std::fclose(stdout) != 0 && !failure) failure = errno ? errno : -1;
    if (!failure) return code;
    std::fprintf(stderr, "nrraw: cannot write to standard output: %s\n",
                 failure > 0 ? std::strerror(failure) : "write error");
    return code ? code : 1;
}
