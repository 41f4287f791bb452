// Network camera figures: how many events per second a network camera's device takes from
// loopback, each wire format, at offered rates from 2 to 40 Mev/s, and what the system's receive
// queue dropped; against a bare receive of the same datagrams (no decoding, ordering or filters),
// the baseline of the same run. A sender thread paces datagrams of 100 events (8 a system call)
// for 0.3 s, as fast as it can where it falls short of the rate (sent_Mevs); both threads share
// the machine's cores, so the figures are those of a loaded two-core machine.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "network/NetworkDevice.h"
#include "network/UdpReceiver.h"
#include "norvale/NetworkStream.h"

using namespace norvale;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kSeconds = 0.3;
constexpr size_t kPerDatagram = 100;

// Sends rate Mev/s for kSeconds to port on its own thread (or as fast as it can, when slower);
// done turns true at the end, seconds adds the time it took.
std::thread startSender(uint16_t port, WireFormat format, double rateMevs, std::atomic<bool>& done, uint64_t& sent,
                        double& seconds) {
    return std::thread([=, &done, &sent, &seconds] {
        std::string why;
        auto tx = UdpEventSender::open("udp://127.0.0.1:" + std::to_string(port), format, kPerDatagram, why);
        constexpr size_t kGroup = 8 * kPerDatagram; // one system call sends 8 datagrams
        std::vector<Event2D> part(kGroup);
        const uint64_t groups = uint64_t(rateMevs * 1e6 * kSeconds) / kGroup;
        const auto start = Clock::now();
        uint64_t t = 1000;
        for (uint64_t g = 0; tx && g < groups; ++g) {
            for (size_t i = 0; i < kGroup; ++i, ++t) {
                part[i].timestamp = t / uint64_t(rateMevs); // rate events per microsecond of stream
                part[i].x = uint16_t(t * 7 % 640);
                part[i].y = uint16_t(t * 13 % 480);
                part[i].polarity = uint8_t(t & 1);
            }
            const auto due = start + std::chrono::nanoseconds(int64_t(double(g * kGroup) / rateMevs * 1e3));
            while (Clock::now() < due) std::this_thread::yield();
            if (tx->send(part.data(), part.data() + part.size(), why)) sent += kGroup;
        }
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
        done = true;
    });
}

// offered: the rate asked of the sender; sent: what it reached; taken: what was received over the
// time of sending.
void report(benchmark::State& state, double rate, uint64_t sent, uint64_t received, uint64_t lost, double seconds) {
    state.counters["offered_Mevs"] = rate;
    state.counters["sent_Mevs"] = double(sent) / seconds * 1e-6;
    state.counters["taken_Mevs"] = double(received) / seconds * 1e-6;
    state.counters["received_share"] = sent ? double(received) / double(sent) : 0;
    state.counters["lost_datagrams"] = double(lost);
}

void BM_NetworkDevice(benchmark::State& state, WireFormat format) {
    const double rate = double(state.range(0));
    uint64_t sent = 0, received = 0, lost = 0;
    double seconds = 0;
    for (auto _ : state) {
        NetworkStreamSettings s;
        s.format = format;
        s.width = 640;
        s.height = 480;
        std::string why;
        auto dev = NetworkDevice::open(s, why);
        if (!dev) {
            state.SkipWithError(why.c_str());
            return;
        }
        dev->startStream(true);
        std::atomic<bool> done{false};
        std::thread tx = startSender(dev->port(), format, rate, done, sent, seconds);
        EventChunk chunk;
        chunk.events.reserve(NetworkDevice::kMaxChunkEvents);
        int quiet = 0;
        while (!done || quiet < 3) {
            dev->read(chunk);
            received += chunk.events.size();
            quiet = done && chunk.events.empty() ? quiet + 1 : 0;
        }
        tx.join();
        const NrStreamLoss l = dev->streamLoss();
        lost += l.lostDatagrams;
        state.counters["late_datagrams"] = double(l.reorderedDatagrams);
        state.counters["datagrams"] = double(l.datagrams);
    }
    report(state, rate, sent, received, lost, seconds);
}

// Baseline: the same stream taken by the receiver alone.
void BM_BareReceive(benchmark::State& state, WireFormat format) {
    const double rate = double(state.range(0));
    uint64_t sent = 0, received = 0, lost = 0;
    double seconds = 0;
    const size_t eventSize = wireEventSize(format);
    for (auto _ : state) {
        std::string why;
        auto rx = UdpReceiver::open("127.0.0.1", 0, why);
        if (!rx) {
            state.SkipWithError(why.c_str());
            return;
        }
        std::atomic<bool> done{false};
        std::thread tx = startSender(rx->port(), format, rate, done, sent, seconds);
        int quiet = 0;
        while (!done || quiet < 3) {
            const int n = rx->receive(2);
            for (int i = 0; i < n; ++i) received += rx->size(i) / eventSize;
            quiet = done && n == 0 ? quiet + 1 : 0;
        }
        tx.join();
        lost += rx->kernelDrops();
    }
    report(state, rate, sent, received, lost, seconds);
}

} // namespace

#define RATES ->Arg(2)->Arg(5)->Arg(10)->Arg(20)->Arg(40)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime()
BENCHMARK_CAPTURE(BM_BareReceive, t64, WireFormat::T64_X16_Y16_ON8) RATES;
BENCHMARK_CAPTURE(BM_NetworkDevice, t64, WireFormat::T64_X16_Y16_ON8) RATES;
BENCHMARK_CAPTURE(BM_BareReceive, t32, WireFormat::T32_X16_Y15_ON1) RATES;
BENCHMARK_CAPTURE(BM_NetworkDevice, t32, WireFormat::T32_X16_Y15_ON1) RATES;

BENCHMARK_MAIN();
