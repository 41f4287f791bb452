#include "WholeFile.h"

#include <unistd.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "ArrayPool.h"

namespace norvale::python {

namespace {

// One pread at a time stays in the core's own cache while it is decoded.
constexpr size_t kReadBytes = size_t(256) << 10;
constexpr size_t kDecodePiece = size_t(64) << 10;
// Below this a second thread costs more than it saves: on a busy machine it may wait a time slice
// for a core before it starts.
constexpr uint64_t kBytesPerThread = uint64_t(16) << 20;
constexpr size_t kMaxThreads = 64;

bool inTimeOrderPlain(const Event2D* e, size_t n) {
    bool back = false;
    for (size_t i = 1; i < n; ++i) back |= e[i].timestamp < e[i - 1].timestamp;
    return !back;
}

#if defined(__x86_64__)
// Four neighbouring pairs at a time: timestamps are below 2^63, so the signed compare is exact.
__attribute__((target("avx2"))) bool inTimeOrderAvx2(const Event2D* e, size_t n) {
    static_assert(sizeof(Event2D) == 16 && offsetof(Event2D, timestamp) == 8, "timestamps in the upper half of every 16 bytes");
    __m256i back = _mm256_setzero_si256();
    size_t i = 0;
    for (; i + 5 <= n; i += 4) {
        const auto* v = reinterpret_cast<const __m256i*>(e + i); // two events per vector
        const __m256i a = _mm256_loadu_si256(v), b = _mm256_loadu_si256(v + 1);
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(e + i + 1));
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(e + i + 3));
        const __m256i now = _mm256_unpackhi_epi64(a, b);  // t[i], t[i+2], t[i+1], t[i+3]
        const __m256i next = _mm256_unpackhi_epi64(c, d); // t[i+1], t[i+3], t[i+2], t[i+4]
        back = _mm256_or_si256(back, _mm256_cmpgt_epi64(now, next));
    }
    return _mm256_testz_si256(back, back) && inTimeOrderPlain(e + i, n - i);
}
#endif

// True when no event of e[0..n) is earlier than the one before it.
bool inTimeOrder(const Event2D* e, size_t n) {
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return inTimeOrderAvx2(e, n);
#endif
    return inTimeOrderPlain(e, n);
}

} // namespace

struct WholeFileDecoder::Worker {
    std::unique_ptr<RawDecoder> decoder;
    std::unique_ptr<uint8_t[]> io{new uint8_t[kReadBytes]};
    std::vector<Event2D> scratch; // for the pieces at the end of a slice that might overrun it

    // What one span gave.
    size_t count = 0;
    bool sorted = true;
    bool failed = false, shorter = false;
    uint64_t firstTime = 0, lastTime = 0;

    // Decodes span into out, which has room for `room` events; counts and flags as above.
    void run(int fd, uint64_t dataOffset, const DecodeSpan& span, Event2D* out, size_t room) {
        count = 0;
        sorted = true;
        failed = shorter = false;
        decoder->setState(span.state);
        uint64_t previous = 0;
        for (uint64_t off = 0; off < span.bytes; off += kReadBytes) {
            const size_t want = size_t(std::min<uint64_t>(kReadBytes, span.bytes - off));
            size_t got = 0;
            while (got < want) {
                const ssize_t n = ::pread(fd, io.get() + got, want - got, off_t(dataOffset + span.offset + off + got));
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) {
                    failed = true;
                    return;
                }
                if (n == 0) break;
                got += size_t(n);
            }
            for (size_t p = 0; p < got; p += kDecodePiece) {
                const size_t len = std::min(kDecodePiece, got - p);
                Event2D* dst = out + count;
                const bool fits = count + decoder->maxEvents(len) <= room;
                if (!fits) dst = scratch.data();
                const size_t n = decoder->decode(io.get() + p, len, dst, nullptr);
                if (!fits) {
                    if (count + n > room) { // more than the index counted: the file was rewritten
                        failed = true;
                        return;
                    }
                    std::memcpy(static_cast<void*>(out + count), dst, n * sizeof(Event2D));
                    dst = out + count;
                }
                // Checked while the piece is still in the cache: sorting is needed only when the
                // sensor's read-out order stepped back in time.
                if (n) {
                    sorted &= !(count && dst[0].timestamp < previous) && inTimeOrder(dst, n);
                    if (count == 0) firstTime = dst[0].timestamp;
                    previous = dst[n - 1].timestamp; // the order only matters while it holds
                }
                count += n;
            }
            if (got < want) {
                shorter = true;
                break;
            }
        }
        lastTime = previous;
    }
};

WholeFileDecoder::WholeFileDecoder(RawFormat format, uint32_t width, uint32_t height)
    : format(format), width(width), height(height) {}

WholeFileDecoder::~WholeFileDecoder() = default;

size_t WholeFileDecoder::spansFor(uint64_t dataBytes, size_t threads) {
    if (threads) return std::min(threads, kMaxThreads);
    const uint64_t wanted = dataBytes / kBytesPerThread;
    if (wanted < 2) return 1;
    static const size_t cores = std::max(1u, std::thread::hardware_concurrency()); // reads /sys each time
    // Only the cores other programs leave idle: on a busy machine a second thread waits for a
    // core and then competes with the first for memory, which costs more than it saves.
    double load = 0;
    const size_t busy = ::getloadavg(&load, 1) == 1 ? size_t(std::max(0.0, load)) : 0;
    const size_t idle = cores > busy ? cores - busy : 1;
    return size_t(std::clamp<uint64_t>(wanted, 1, std::min({cores, idle, kMaxThreads})));
}

bool WholeFileDecoder::decode(int fd, uint64_t dataOffset, const std::vector<DecodeSpan>& spans, uint64_t events,
                              EventBuffer& out, std::string& problem) {
    while (workers.size() < spans.size()) {
        auto w = std::make_unique<Worker>();
        w->decoder = makeDecoder(format, width, height);
        w->scratch.resize(w->decoder->maxEvents(kDecodePiece));
        workers.push_back(std::move(w));
    }
    // Room past the last slice lets its final pieces be decoded in place.
    const size_t wanted = size_t(events) + (workers.empty() ? 0 : workers[0]->decoder->maxEvents(kDecodePiece));
    if (!takeBuffer(wanted, out) && !out.reserve(wanted)) throw std::bad_alloc();
    Event2D* base = out.data();
    const auto roomOf = [&](size_t i) {
        return i + 1 < spans.size() ? size_t(spans[i].events) : out.capacity() - size_t(spans[i].eventsBefore);
    };
    std::vector<std::thread> threads;
    if (spans.size() > 1) threads.reserve(spans.size());
    try {
        for (size_t i = 1; i < spans.size(); ++i)
            threads.emplace_back([&, i] {
                workers[i]->run(fd, dataOffset, spans[i], base + spans[i].eventsBefore, roomOf(i));
            });
    } catch (...) { // no thread to be had: the remaining spans on this one
    }
    if (!spans.empty()) workers[0]->run(fd, dataOffset, spans[0], base, roomOf(0));
    for (auto& t : threads) t.join();
    for (size_t i = threads.size() + 1; i < spans.size(); ++i)
        workers[i]->run(fd, dataOffset, spans[i], base + spans[i].eventsBefore, roomOf(i));

    // Slices joined up: a span that came out shorter (the file shrank) closes its gap.
    size_t count = 0;
    bool sorted = true;
    uint64_t lastTime = 0;
    for (size_t i = 0; i < spans.size(); ++i) {
        const Worker& w = *workers[i];
        if (w.failed) {
            problem = "the file cannot be read or changed since it was opened";
            return false;
        }
        if (count != spans[i].eventsBefore && w.count)
            std::memmove(static_cast<void*>(base + count), base + spans[i].eventsBefore, w.count * sizeof(Event2D));
        if (w.count) {
            sorted = sorted && w.sorted && w.firstTime >= lastTime;
            lastTime = std::max(lastTime, w.lastTime);
        }
        count += w.count;
        if (w.shorter) break;
    }
    out.setSize(count);
    if (!sorted)
        std::stable_sort(base, base + count,
                         [](const Event2D& a, const Event2D& b) { return a.timestamp < b.timestamp; });
    return true;
}

} // namespace norvale::python
