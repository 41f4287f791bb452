#include "network/UdpReceiver.h"

#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace norvale {

std::unique_ptr<UdpReceiver> UdpReceiver::open(const std::string& address, uint16_t port, std::string& why) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &at.sin_addr) != 1) {
        why = "\"" + address + "\" is not a dotted-quad address";
        return nullptr;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("no socket: ") + std::strerror(errno);
        return nullptr;
    }
    const int queue = 4 << 20; // the system caps it at its maximum (net.core.rmem_max)
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &queue, sizeof queue);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        why = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    socklen_t len = sizeof at;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len);
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        why = std::string("no eventfd: ") + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<UdpReceiver>(new UdpReceiver(fd, wake, ntohs(at.sin_port)));
}

UdpReceiver::UdpReceiver(int f, int w, uint16_t p)
    : fd(f), wakeFd(w), boundPort(p), buffers(size_t(kBatch) * kMaxDatagram), sizes(kBatch) {}

UdpReceiver::~UdpReceiver() {
    ::close(fd);
    ::close(wakeFd);
}

void UdpReceiver::interrupt() {
    const uint64_t one = 1;
    (void)!::write(wakeFd, &one, sizeof one);
}

void UdpReceiver::resume() {
    uint64_t value = 0;
    (void)!::read(wakeFd, &value, sizeof value);
}

int UdpReceiver::take(int flags) {
    mmsghdr msgs[kBatch];
    iovec iov[kBatch];
    std::memset(msgs, 0, sizeof msgs);
    for (int i = 0; i < kBatch; ++i) {
        iov[i].iov_base = buffers.data() + size_t(i) * kMaxDatagram;
        iov[i].iov_len = kMaxDatagram;
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    int n;
    do n = ::recvmmsg(fd, msgs, kBatch, flags, nullptr);
    while (n < 0 && errno == EINTR);
    if (n <= 0) return 0;
    for (int i = 0; i < n; ++i) sizes[size_t(i)] = (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) ? 0 : msgs[i].msg_len;
    return n;
}

uint64_t UdpReceiver::kernelDrops() {
    // The socket's own count (SO_MEMINFO): a count stamped on arriving datagrams would be seen
    // only with the next one, never after a flood that ended.
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t len = sizeof info;
    if (::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, info, &len) == 0 && len > SK_MEMINFO_DROPS * sizeof(uint32_t)) {
        drops += uint32_t(info[SK_MEMINFO_DROPS] - lastCounter);
        lastCounter = info[SK_MEMINFO_DROPS];
    }
    return drops;
}

int UdpReceiver::receive(int timeoutMs) {
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int r;
    do r = ::poll(p, 2, timeoutMs);
    while (r < 0 && errno == EINTR);
    if (p[1].revents & POLLIN) return -1;
    if (r <= 0 || !(p[0].revents & POLLIN)) return 0;
    return take(MSG_DONTWAIT);
}

uint64_t UdpReceiver::drain() {
    uint64_t n = 0;
    for (int got; (got = take(MSG_DONTWAIT)) > 0;) n += uint64_t(got);
    return n;
}

} // namespace norvale
