#pragma once

// Events packed by hand exactly as the wire formats describe them, independently of the
// driver's packing, so that a mistake on either side shows.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "norvale/Event2D.h"

namespace nettest {

inline void le(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// 13 bytes an event: t64, x16, y16, on8.
inline std::vector<uint8_t> packT64(const std::vector<norvale::Event2D>& events) {
    std::vector<uint8_t> out;
    for (const auto& e : events) {
        le(out, e.timestamp, 8);
        le(out, e.x, 2);
        le(out, e.y, 2);
        le(out, e.polarity, 1);
    }
    return out;
}

// 8 bytes an event: t32, x16, then y in bits 1-15 and on in bit 0.
inline std::vector<uint8_t> packT32(const std::vector<norvale::Event2D>& events) {
    std::vector<uint8_t> out;
    for (const auto& e : events) {
        le(out, uint32_t(e.timestamp), 4);
        le(out, e.x, 2);
        le(out, uint16_t(e.y << 1 | e.polarity), 2);
    }
    return out;
}

inline norvale::Event2D ev(uint64_t t, uint16_t x, uint16_t y, uint8_t p) {
    norvale::Event2D e;
    e.timestamp = t;
    e.x = x;
    e.y = y;
    e.polarity = p;
    return e;
}

} // namespace nettest

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "norvale/DvsFileReader.h"
#include "norvale/NetworkStream.h"

namespace nettest {

// A loopback port free right now (the system's choice for a socket bound to port 0).
inline uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Sends the events as hand-packed datagrams of perDatagram events, pausing 1 ms after every
// tenth datagram so that a busy receiver keeps up (about perDatagram * 10 000 events a second).
inline bool sendPaced(const std::string& url, bool t32, const std::vector<norvale::Event2D>& events,
                      size_t perDatagram = 100) {
    std::string why;
    auto tx = norvale::UdpEventSender::open(url, norvale::WireFormat::T64_X16_Y16_ON8, 100, why);
    if (!tx) return false;
    for (size_t i = 0, n = 0; i < events.size(); i += perDatagram, ++n) {
        const std::vector<norvale::Event2D> part(events.begin() + long(i),
                                                 events.begin() + long(std::min(events.size(), i + perDatagram)));
        const auto bytes = t32 ? packT32(part) : packT64(part);
        if (!tx->sendRaw(bytes.data(), bytes.size(), why)) return false;
        if (n % 10 == 9) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Every event of a file, in file order.
inline std::vector<norvale::Event2D> readEvents(const std::string& path) {
    std::vector<norvale::Event2D> out;
    auto r = norvale::DvsFileReader::createFileReader(path);
    if (r && r->prepareFile()) r->readRange(0, UINT64_MAX, out);
    return out;
}

} // namespace nettest
