#pragma once

// Events over UDP: the wire formats the field's streaming tools use, and a sender. A datagram
// holds whole events only, little-endian:
//   t64_x16_y16_on8  13 bytes: t (uint64, us), x (uint16), y (uint16), on (uint8, 0 or 1)
//   t32_x16_y15_on1   8 bytes: t (uint32, us, wraps), x (uint16), uint16 with y in bits 1-15
//                     and on in bit 0
// Network cameras (listed from the cameras file, opened through DvsCameraManager) receive them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "norvale/DriverExport.h"
#include "norvale/Event2D.h"

namespace norvale {

enum class WireFormat : int {
    T64_X16_Y16_ON8 = 0, // the common default
    T32_X16_Y15_ON1 = 1,
};

// "t64_x16_y16_on8" or "t32_x16_y15_on1"; false for anything else.
NR_DRIVER_EXPORT bool parseWireFormat(const std::string& name, WireFormat& format);
NR_DRIVER_EXPORT const char* wireFormatName(WireFormat format);
NR_DRIVER_EXPORT size_t wireEventSize(WireFormat format);
// The most events one datagram of the format can hold (65507 bytes of UDP payload).
NR_DRIVER_EXPORT size_t maxEventsPerDatagram(WireFormat format);

// Appends the events packed in the format to out. t32 keeps the low 32 bits of each time;
// x, y and the polarity are stored as they are (y above 32767 does not fit t32: see fitsWire).
NR_DRIVER_EXPORT void packEvents(WireFormat format, const Event2D* begin, const Event2D* end,
                                 std::vector<uint8_t>& out);
// Whether an event survives the format unchanged apart from t32's wrap of time.
NR_DRIVER_EXPORT bool fitsWire(WireFormat format, const Event2D& event);

// "udp://HOST:PORT" (HOST a name or dotted quad, PORT 1-65535). False with the reason otherwise.
NR_DRIVER_EXPORT bool parseUdpUrl(const std::string& url, std::string& host, uint16_t& port, std::string& why);

// Sends events as datagrams of whole events to one address. Blocking sends (a full send
// buffer waits), so what the caller hands over leaves the machine in order. One thread.
class NR_DRIVER_EXPORT UdpEventSender {
public:
    static constexpr unsigned kBatch = 32;
    // Empty (and why) when the URL is wrong, the host unknown or no socket can be made.
    static std::unique_ptr<UdpEventSender> open(const std::string& url, WireFormat format, size_t eventsPerDatagram,
                                                std::string& why);
    ~UdpEventSender();
    UdpEventSender(const UdpEventSender&) = delete;
    UdpEventSender& operator=(const UdpEventSender&) = delete;

    // Sends the events in datagrams of eventsPerDatagram (the last one may hold fewer), up to
    // kBatch datagrams a system call. False (and why) when a send fails; the datagrams before it
    // went out.
    bool send(const Event2D* begin, const Event2D* end, std::string& why);
    // Sends bytes as one datagram as they are (tests of what a receiver refuses).
    bool sendRaw(const uint8_t* data, size_t size, std::string& why);

    uint64_t datagramsSent() const { return datagrams; }
    uint64_t eventsSent() const { return events; }
    size_t eventsPerDatagram() const { return perDatagram; }

private:
    UdpEventSender(int fd, WireFormat format, size_t perDatagram, const void* address, size_t addressSize);
    int fd;
    WireFormat format;
    size_t perDatagram;
    std::vector<uint8_t> packed; // kBatch datagrams, reused
    alignas(8) unsigned char addr[16];
    size_t addrSize;
    uint64_t datagrams = 0, events = 0;
};

} // namespace norvale
