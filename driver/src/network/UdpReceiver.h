#pragma once

// A UDP socket that takes datagrams in batches. The system's receive queue (asked for 4 MiB)
// is the only queue: when the reader falls behind, the system drops what does not fit and we
// read its count, so a flood is never queued without bound.
//
// Threads: receive, datagram accessors, drain and kernelDrops from the one reading thread
// (the camera's streaming thread); interrupt and resume from any thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace norvale {

class UdpReceiver {
public:
    static constexpr int kBatch = 16;
    static constexpr size_t kMaxDatagram = 65536;

    // Binds address:port (a dotted quad; port 0 lets the system choose, see port()). Empty (and
    // why) when the address is not one of this machine's or the port is taken.
    static std::unique_ptr<UdpReceiver> open(const std::string& address, uint16_t port, std::string& why);
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    // Waits up to timeoutMs for datagrams and takes up to kBatch of them: their number, 0 when
    // none came, -1 when interrupted. A datagram larger than kMaxDatagram reads as size 0.
    int receive(int timeoutMs);
    const uint8_t* data(int i) const { return buffers.data() + size_t(i) * kMaxDatagram; }
    size_t size(int i) const { return sizes[size_t(i)]; }
    // Throws away what waits in the queue (what came while nobody read); its number.
    uint64_t drain();
    // Datagrams the system dropped for want of room since open (its socket's count, asked each
    // call; 0 where the system cannot tell).
    uint64_t kernelDrops();

    // Makes a waiting (or the next) receive return -1 until resume.
    void interrupt();
    void resume();
    uint16_t port() const { return boundPort; }

private:
    UdpReceiver(int fd, int wakeFd, uint16_t port);
    int take(int flags); // recvmmsg of up to kBatch
    int fd, wakeFd;
    uint16_t boundPort;
    std::vector<uint8_t> buffers; // kBatch datagrams
    std::vector<size_t> sizes;
    uint32_t lastCounter = 0; // the system's running count (32 bits, wraps)
    uint64_t drops = 0;
};

} // namespace norvale
