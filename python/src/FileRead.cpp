#include "FileRead.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace norvale::python {

ssize_t readAt(int fd, uint8_t* buffer, size_t size, uint64_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buffer + done, size - done, off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += size_t(n);
    }
    return ssize_t(done);
}

void sortByTime(Event2D* begin, Event2D* end) {
    const auto earlier = [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; };
    if (!std::is_sorted(begin, end, earlier)) std::stable_sort(begin, end, earlier);
}

} // namespace norvale::python
