#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "norvale/NetworkStream.h"

namespace norvale {

std::unique_ptr<UdpEventSender> UdpEventSender::open(const std::string& url, WireFormat format,
                                                     size_t eventsPerDatagram, std::string& why) {
    std::string host;
    uint16_t port = 0;
    if (!parseUdpUrl(url, host, port, why)) return nullptr;
    if (eventsPerDatagram < 1 || eventsPerDatagram > maxEventsPerDatagram(format)) {
        why = "events per datagram must be 1 to " + std::to_string(maxEventsPerDatagram(format)) + " for " +
              wireFormatName(format);
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found); rc != 0 || !found) {
        why = "host \"" + host + "\" is unknown: " + ::gai_strerror(rc);
        return nullptr;
    }
    sockaddr_in to{};
    std::memcpy(&to, found->ai_addr, sizeof to);
    ::freeaddrinfo(found);
    to.sin_port = htons(port);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("no socket: ") + std::strerror(errno);
        return nullptr;
    }
    const int sendBuffer = 4 << 20; // bursts of a fast rate queue here rather than fail
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    return std::unique_ptr<UdpEventSender>(new UdpEventSender(fd, format, eventsPerDatagram, &to, sizeof to));
}

UdpEventSender::UdpEventSender(int f, WireFormat fmt, size_t per, const void* address, size_t addressSize)
    : fd(f), format(fmt), perDatagram(per), addrSize(addressSize) {
    std::memcpy(addr, address, addressSize);
    packed.reserve(kBatch * per * wireEventSize(fmt));
}

UdpEventSender::~UdpEventSender() { ::close(fd); }

bool UdpEventSender::sendRaw(const uint8_t* data, size_t size, std::string& why) {
    for (;;) {
        const ssize_t n = ::sendto(fd, data, size, 0, reinterpret_cast<const sockaddr*>(addr), socklen_t(addrSize));
        if (n == ssize_t(size)) break;
        if (n < 0 && errno == EINTR) continue;
        // nobody listening yet (a port unreachable answer): the datagram is gone, as on a wire
        if (n < 0 && errno == ECONNREFUSED) break;
        if (n < 0 && errno == ENOBUFS) { // the interface queue is full: wait for it
            ::usleep(200);
            continue;
        }
        why = n < 0 ? std::string("send failed: ") + std::strerror(errno) : std::string("datagram cut short");
        return false;
    }
    ++datagrams;
    return true;
}

bool UdpEventSender::send(const Event2D* begin, const Event2D* end, std::string& why) {
    const size_t size = wireEventSize(format);
    while (begin < end) { // up to kBatch datagrams a system call
        mmsghdr msgs[kBatch];
        iovec iov[kBatch];
        std::memset(msgs, 0, sizeof msgs);
        packed.clear();
        const Event2D* from = begin;
        unsigned count = 0;
        for (; count < kBatch && from < end; ++count) {
            const Event2D* stop = from + std::min<size_t>(perDatagram, size_t(end - from));
            packEvents(format, from, stop, packed); // within the capacity reserved
            iov[count].iov_len = size_t(stop - from) * size;
            from = stop;
        }
        uint8_t* at = packed.data();
        for (unsigned i = 0; i < count; ++i) {
            iov[i].iov_base = at;
            at += iov[i].iov_len;
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_name = addr;
            msgs[i].msg_hdr.msg_namelen = socklen_t(addrSize);
        }
        for (unsigned done = 0; done < count;) {
            const int n = ::sendmmsg(fd, msgs + done, count - done, 0);
            if (n > 0) {
                done += unsigned(n);
                continue;
            }
            if (errno == EINTR) continue;
            if (errno == ECONNREFUSED) { // nobody listening yet: that datagram is gone, as on a wire
                ++done;
                continue;
            }
            if (errno == ENOBUFS) { // the interface queue is full: wait for it
                ::usleep(200);
                continue;
            }
            why = std::string("send failed: ") + std::strerror(errno);
            return false;
        }
        datagrams += count;
        events += uint64_t(from - begin);
        begin = from;
    }
    return true;
}

} // namespace norvale
