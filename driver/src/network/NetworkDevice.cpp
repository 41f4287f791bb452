#include "network/NetworkDevice.h"

#include <algorithm>
#include <chrono>

#include "norvale/Logger.h"

namespace norvale {

namespace {
// Room for what is held back plus one batch of the largest datagrams.
constexpr size_t kHighWater = 65536;

int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

std::unique_ptr<NetworkDevice> NetworkDevice::open(const NetworkStreamSettings& s, std::string& why) {
    auto rx = UdpReceiver::open(s.address, s.port, why);
    if (!rx) return nullptr;
    return std::unique_ptr<NetworkDevice>(new NetworkDevice(s, std::move(rx)));
}

NetworkDevice::NetworkDevice(const NetworkStreamSettings& s, std::unique_ptr<UdpReceiver> receiver)
    : cfg(s), rx(std::move(receiver)), ctl(std::make_shared<SensorControls>()), decoder(s.format, s.width, s.height),
      filters(s.width, s.height) {
    ToolSetOptions t;
    t.width = s.width;
    t.height = s.height;
    t.sensorControls = false;
    toolList = makeSensorTools(ctl, t);
    const size_t room = kHighWater + size_t(UdpReceiver::kBatch) * maxEventsPerDatagram(s.format);
    pending.reserve(room);
    merged.reserve(room);
}

void NetworkDevice::unplug() {
    plugged = false;
    rx->interrupt();
}

void NetworkDevice::startStream(bool restartClock) {
    rx->resume();
    rx->drain(); // what came while stopped is not part of the stream
    dropBase = rx->kernelDrops();
    lostBefore = lost.load();
    if (restartClock) {
        decoder.restart();
        pending.clear();
        newestUs = 0;
        releasedUs = 0;
    }
    lastArrivalNs = steadyNs();
    lateInARow = 0;
    warnedLate = false;
}

NrStreamLoss NetworkDevice::streamLoss() const {
    NrStreamLoss l;
    l.datagrams = datagrams.load();
    l.lostDatagrams = lost.load();
    l.malformedDatagrams = malformed.load();
    l.reorderedDatagrams = reordered.load();
    l.reorderedEvents = reorderedEvents.load();
    l.invalidEvents = invalid.load();
    return l;
}

void NetworkDevice::take(const uint8_t* data, size_t size) {
    ++datagrams;
    const size_t at = pending.size();
    uint64_t bad = 0;
    const WireDecoder::Result r = decoder.decode(data, size, pending, bad);
    if (r == WireDecoder::Result::Malformed) {
        ++malformed;
        return;
    }
    const bool late = pending.size() > at && pending[at].timestamp < releasedUs.load();
    if (r == WireDecoder::Result::Unordered || late) {
        pending.resize(at);
        ++reordered;
        reorderedEvents += decoder.eventsIn(size);
        if (late && ++lateInARow == kLateToWarn && !warnedLate) { // once per stretch of streaming
            warnedLate = true;
            NR_LOG(LOG_WARN,
                   "network stream on port %u: datagrams keep arriving older than the stream (did the sender start "
                   "over?); they are dropped until the camera is stopped and started again",
                   unsigned(rx->port()));
        }
        return;
    }
    lateInARow = 0;
    invalid += bad;
    if (pending.size() == at) return;
    if (at > 0 && pending[at].timestamp < pending[at - 1].timestamp) { // late, within the window
        merged.resize(pending.size());
        std::merge(pending.begin(), pending.begin() + ptrdiff_t(at), pending.begin() + ptrdiff_t(at), pending.end(),
                   merged.begin(), [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; });
        pending.swap(merged);
    }
    newestUs = std::max(newestUs, pending.back().timestamp);
}

// Hands on the events older than the reorder window (all of them when the stream paused or too
// much is held back), at most kMaxChunkEvents. A chunk handed on whole ends at its newest time,
// which it holds.
void NetworkDevice::release(EventChunk& chunk, bool all) {
    const uint64_t cut = all ? UINT64_MAX : (newestUs > kReorderWindowUs ? newestUs - kReorderWindowUs : 0);
    size_t n = size_t(std::lower_bound(pending.begin(), pending.end(), cut,
                                       [](const Event2D& e, uint64_t t) { return e.timestamp < t; }) -
                      pending.begin());
    uint64_t until = all ? newestUs : cut;
    if (n > kMaxChunkEvents) { // the rest follows with the next read
        n = kMaxChunkEvents;
        until = pending[n].timestamp;
    }
    chunk.events.insert(chunk.events.end(), pending.begin(), pending.begin() + ptrdiff_t(n));
    pending.erase(pending.begin(), pending.begin() + ptrdiff_t(n));
    if (until > releasedUs.load()) releasedUs = until;
    chunk.endUs = releasedUs.load();
}

bool NetworkDevice::read(EventChunk& chunk) {
    chunk.clear(releasedUs.load());
    if (!plugged) return false;
    const int64_t start = steadyNs();
    bool paused = false;
    // Gather for about a millisecond of wall time, or until enough is held back.
    while (pending.size() < kHighWater) {
        const int n = rx->receive(2);
        if (n < 0 || !plugged) return false;
        const int64_t t = steadyNs();
        if (n == 0) {
            paused = !pending.empty() && t - lastArrivalNs >= int64_t(kIdleFlushMs) * 1000000;
            if (paused || t - start >= 10000000) break; // an empty chunk now and then keeps the statistics going
            continue;
        }
        for (int i = 0; i < n; ++i) take(rx->data(i), rx->size(i));
        lastArrivalNs = t;
        if (t - start >= 1000000) break;
    }
    lost = lostBefore + (rx->kernelDrops() - dropBase);
    filters.refresh(*ctl);
    // Full: more events than the window can hold back (a very high rate) are handed on now.
    release(chunk, paused || pending.size() >= kHighWater);
    filters.apply(chunk.events);
    return true;
}

} // namespace norvale
