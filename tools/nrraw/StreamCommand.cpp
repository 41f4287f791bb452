// nrraw stream: a recording (any format we read) or a live camera sent as a UDP event stream.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "CameraCommands.h"
#include "LiveEvents.h"
#include "StopSignals.h"
#include "norvale/DvsCameraManager.h"
#include "norvale/DvsFileReader.h"
#include "norvale/NetworkStream.h"

using namespace norvale;
using Clock = std::chrono::steady_clock;

namespace {

// When the next datagram is due: at its first event's time after the first event (real time),
// or at the events sent so far divided by the rate.
struct Pacer {
    double eventsPerSecond = 0; // 0: real time
    uint64_t firstUs = 0;
    Clock::time_point start = Clock::now();

    Clock::time_point due(uint64_t t, uint64_t sent) const {
        if (eventsPerSecond > 0)
            return start + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(double(sent) / eventsPerSecond));
        return start + std::chrono::microseconds(t > firstUs ? t - firstUs : 0);
    }
};

struct Totals {
    uint64_t unfit = 0; // events the format cannot hold (t32: y above 32767)
    int signal = 0;
    bool failed = false;
};

int report(const UdpEventSender& tx, const Totals& totals, WireFormat format) {
    if (totals.unfit)
        std::fprintf(stderr, "nrraw: %llu events left out: %s cannot hold them\n", (unsigned long long)totals.unfit,
                     wireFormatName(format));
    std::printf("sent: %llu events in %llu datagrams\n", (unsigned long long)tx.eventsSent(),
                (unsigned long long)tx.datagramsSent());
    if (totals.failed) return 1;
    if (totals.signal) {
        std::fprintf(stderr, "nrraw: interrupted\n");
        return 128 + totals.signal;
    }
    return 0;
}

// Sends events in datagrams, each when the pacer says (no pacer: at once); false to stop.
bool sendPaced(UdpEventSender& tx, const Event2D* b, const Event2D* e, const Pacer* pacer, StopSignals& signals,
               Totals& totals, WireFormat format, std::vector<Event2D>& fit) {
    fit.clear();
    for (const Event2D* p = b; p != e; ++p) {
        if (fitsWire(format, *p)) fit.push_back(*p);
        else ++totals.unfit;
    }
    std::string why;
    const size_t per = tx.eventsPerDatagram();
    for (size_t i = 0; i < fit.size();) {
        // this datagram when due, with those after it that are due by then (a sender behind its
        // pace catches up in batches)
        size_t j = std::min(fit.size(), i + per);
        if (pacer) {
            const Clock::time_point due = pacer->due(fit[i].timestamp, tx.eventsSent());
            totals.signal = due > Clock::now() ? signals.waitUntil(due) : signals.poll();
            const Clock::time_point now = Clock::now();
            while (j < fit.size() && (j - i) / per < UdpEventSender::kBatch &&
                   pacer->due(fit[j].timestamp, tx.eventsSent() + (j - i)) <= now)
                j = std::min(fit.size(), j + per);
        } else {
            j = std::min(fit.size(), i + per * UdpEventSender::kBatch);
            totals.signal = signals.poll();
        }
        if (totals.signal) return false;
        if (!tx.send(fit.data() + i, fit.data() + j, why)) {
            std::fprintf(stderr, "nrraw: %s\n", why.c_str());
            totals.failed = true;
            return false;
        }
        i = j;
    }
    return true;
}

int streamFile(const std::string& path, UdpEventSender& tx, double rateMevs, StopSignals& signals, WireFormat format) {
    auto reader = DvsFileReader::createFileReader(path);
    if (!reader || !reader->prepareFile()) {
        std::fprintf(stderr, "nrraw: %s: not a readable event file\n", path.c_str());
        return 1;
    }
    Pacer pacer;
    pacer.eventsPerSecond = rateMevs * 1e6;
    uint64_t last = 0;
    if (!reader->getStartTimestamp(pacer.firstUs) || !reader->getEndTimestamp(last)) {
        std::printf("sent: 0 events in 0 datagrams\n");
        return 0;
    }
    if (rateMevs > 0)
        std::fprintf(stderr, "streaming %s (%s) at %g Mev/s\n", path.c_str(), wireFormatName(format), rateMevs);
    else std::fprintf(stderr, "streaming %s (%s) in real time\n", path.c_str(), wireFormatName(format));
    Totals totals;
    std::vector<Event2D> fit;
    pacer.start = Clock::now();
    const bool done =
        reader->scanRange(pacer.firstUs, last + 1, [&](const Event2D* e, size_t n, const EventTriggerIn*, size_t) {
            return sendPaced(tx, e, e + n, &pacer, signals, totals, format, fit);
        });
    if (!done && !totals.signal && !totals.failed) {
        std::fprintf(stderr, "nrraw: %s could not be read to its end\n", path.c_str());
        totals.failed = true;
    }
    return report(tx, totals, format);
}

int streamCamera(const std::string& serial, UdpEventSender& tx, double seconds, StopSignals& signals,
                 WireFormat format) {
    DvsCameraManager manager;
    bool known = false;
    for (const auto& c : manager.getCameraDescs()) known = known || c.serial == serial;
    if (!known) {
        std::fprintf(stderr, "nrraw: %s is neither a file nor a camera (nrraw cameras lists them)\n", serial.c_str());
        return 1;
    }
    auto cam = LiveEvents::open(manager, serial);
    if (!cam) return 1;
    std::vector<Event2D> batch, fit;
    std::fprintf(stderr, "streaming camera %s (%s)%s\n", serial.c_str(), wireFormatName(format),
                 seconds > 0 ? "" : " until Ctrl-C");
    const Clock::time_point end =
        seconds > 0 ? Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))
                    : Clock::time_point::max();
    Totals totals;
    while (Clock::now() < end && cam->connected()) {
        totals.signal = signals.waitUntil(std::min(end, Clock::now() + std::chrono::milliseconds(10)));
        if (totals.signal) break;
        if (cam->next(batch) &&
            !sendPaced(tx, batch.data(), batch.data() + batch.size(), nullptr, signals, totals, format, fit))
            break;
    }
    const uint64_t dropped = cam->dropped();
    cam.reset(); // stopped
    if (dropped)
        std::fprintf(stderr, "nrraw: %llu events of the camera could not be sent in time\n",
                     (unsigned long long)dropped);
    if (seconds <= 0 && totals.signal) totals.signal = 0; // a stop signal is how such a stream ends
    return report(tx, totals, format);
}

} // namespace

int cmdStream(const Args& args) {
    if (args.positional().size() != 2)
        throw UsageError("usage: nrraw stream FILE|SERIAL udp://HOST:PORT [--format F] [--realtime | --rate MEVS] "
                         "[--datagram N] [--seconds N]");
    const std::string source = args.positional()[0], url = args.positional()[1];
    WireFormat format = WireFormat::T64_X16_Y16_ON8;
    if (args.has("--format") && !parseWireFormat(args.text("--format"), format))
        throw UsageError("--format must be t64_x16_y16_on8 or t32_x16_y15_on1");
    if (args.has("--realtime") && args.has("--rate")) throw UsageError("--realtime and --rate exclude each other");
    const double rate = args.number("--rate", 0);
    if (args.has("--rate") && !(rate > 0 && rate <= 1000))
        throw UsageError("--rate must be above 0 and at most 1000 (Mev/s)");
    const uint64_t perDatagram = args.u64("--datagram", 100);
    if (perDatagram < 1 || perDatagram > maxEventsPerDatagram(format))
        throw UsageError("--datagram must be 1 to " + std::to_string(maxEventsPerDatagram(format)) + " events for " +
                         wireFormatName(format));
    const double seconds = args.number("--seconds", 0);
    if (args.has("--seconds") && !(seconds > 0 && seconds <= 86400))
        throw UsageError("--seconds must be above 0 and at most 86400");
    std::string host, why;
    uint16_t port = 0;
    if (!parseUdpUrl(url, host, port, why)) throw UsageError(why);

    StopSignals signals; // before any camera thread: they inherit the blocked signals
    auto tx = UdpEventSender::open(url, format, size_t(perDatagram), why);
    if (!tx) {
        std::fprintf(stderr, "nrraw: %s\n", why.c_str());
        return 1;
    }
    std::error_code ec;
    if (std::filesystem::exists(source, ec)) {
        if (args.has("--seconds")) throw UsageError("--seconds is for a camera; a file is sent whole");
        return streamFile(source, *tx, rate, signals, format);
    }
    if (args.has("--rate") || args.has("--realtime"))
        throw UsageError("a camera is sent as it streams: --rate and --realtime are for files");
    return streamCamera(source, *tx, seconds, signals, format);
}
