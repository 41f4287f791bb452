#include "WholeFile.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "ArrayPool.h"
#include "FileRead.h"
#include "norvale/FuncUtils.h"

namespace norvale::python {

namespace {

// One pread at a time stays in the core's own cache while it is decoded.
constexpr size_t kReadBytes = size_t(256) << 10;
constexpr size_t kDecodePiece = size_t(64) << 10;
// Words per thread at least: starting a thread takes some tens of microseconds.
constexpr uint64_t kBytesPerThread = uint64_t(512) << 10;
constexpr uint64_t kBytesPerSpan = uint64_t(1) << 20; // at least, up to four spans per thread
constexpr size_t kMaxThreads = 64;
constexpr uint64_t kKeepBytes = uint64_t(64) << 10;

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

// Four pairs per step from one load: the next vector shifted by one event lines each timestamp up
// with its successor's.
__attribute__((target("avx512f"))) bool inTimeOrderAvx512(const Event2D* e, size_t n) {
    if (n < 8) return inTimeOrderPlain(e, n);
    __mmask8 back = 0;
    __m512i now = _mm512_loadu_si512(e);
    size_t i = 0;
    for (; i + 8 <= n; i += 4) {
        const __m512i ahead = _mm512_loadu_si512(e + i + 4);
        const __m512i next = _mm512_alignr_epi64(ahead, now, 2); // events i+1 .. i+4
        back |= _mm512_mask_cmpgt_epu64_mask(0xAA, now, next);   // the timestamp lanes
        now = ahead;
    }
    return back == 0 && inTimeOrderPlain(e + i, n - i);
}
#endif

// True when no event of e[0..n) is earlier than the one before it; the kernel follows the decoder's.
using OrderCheck = bool (*)(const Event2D*, size_t);
OrderCheck orderCheckFor(DecoderKernel kernel) {
#if defined(__x86_64__)
    if (kernel == DecoderKernel::Avx512) return inTimeOrderAvx512;
    if (kernel == DecoderKernel::Avx2) return inTimeOrderAvx2;
#else
    (void)kernel;
#endif
    return inTimeOrderPlain;
}

} // namespace

// What one span gave.
struct WholeFileDecoder::SpanResult {
    size_t count = 0;
    bool sorted = true;
    bool failed = false, shorter = false;
    uint64_t firstTime = 0, lastTime = 0;
};

struct WholeFileDecoder::Worker {
    std::unique_ptr<RawDecoder> decoder;
    OrderCheck inTimeOrder = inTimeOrderPlain;
    std::unique_ptr<uint8_t[]> io{new uint8_t[kReadBytes]};
    std::vector<Event2D> scratch; // for the pieces at the end of a slice that might overrun it

    // Decodes span into out, which has room for `room` events. The words come from `kept` when it
    // holds the whole file, else from fd.
    void run(int fd, uint64_t dataOffset, const std::vector<uint8_t>& kept, const DecodeSpan& span, Event2D* out,
             size_t room, SpanResult& r) {
        r = SpanResult{};
        decoder->setState(span.state);
        uint64_t previous = 0;
        for (uint64_t off = 0; off < span.bytes; off += kReadBytes) {
            const size_t want = size_t(std::min<uint64_t>(kReadBytes, span.bytes - off));
            const uint8_t* words = io.get();
            size_t got = 0;
            if (!kept.empty()) {
                words = kept.data() + span.offset + off;
                got = size_t(std::min<uint64_t>(want, kept.size() - std::min<uint64_t>(kept.size(), span.offset + off)));
            } else {
                const ssize_t n = readAt(fd, io.get(), want, dataOffset + span.offset + off);
                if (n < 0) {
                    r.failed = true;
                    return;
                }
                got = size_t(n);
            }
            for (size_t p = 0; p < got; p += kDecodePiece) {
                const size_t len = std::min(kDecodePiece, got - p);
                Event2D* dst = out + r.count;
                const bool fits = r.count + decoder->maxEvents(len) <= room;
                if (!fits) dst = scratch.data();
                const size_t n = decoder->decode(words + p, len, dst, nullptr);
                if (!fits) {
                    if (r.count + n > room) { // more than the index counted: the file was rewritten
                        r.failed = true;
                        return;
                    }
                    std::memcpy(static_cast<void*>(out + r.count), dst, n * sizeof(Event2D));
                    dst = out + r.count;
                }
                // Checked while the piece is still in the cache: sorting is needed only when the
                // sensor's read-out order stepped back in time.
                if (n) {
                    r.sorted &= !(r.count && dst[0].timestamp < previous) && inTimeOrder(dst, n);
                    if (r.count == 0) r.firstTime = dst[0].timestamp;
                    previous = dst[n - 1].timestamp; // the order only matters while it holds
                }
                r.count += n;
            }
            if (got < want) {
                r.shorter = true;
                break;
            }
        }
        r.lastTime = previous;
    }
};

WholeFileDecoder::WholeFileDecoder(RawFormat format, uint32_t width, uint32_t height)
    : format(format), width(width), height(height) {}

WholeFileDecoder::~WholeFileDecoder() = default;

size_t WholeFileDecoder::usableCores() { return norvale::usableCores(); }

WholeFileDecoder::Plan WholeFileDecoder::plan(uint64_t dataBytes, size_t threads) {
    Plan p;
    if (threads) {
        p.threads = std::min(threads, kMaxThreads);
    } else {
        static const size_t cores = usableCores();
        p.threads = size_t(std::clamp<uint64_t>(dataBytes / kBytesPerThread, 1, std::min(cores, kMaxThreads)));
    }
    // Several spans per thread, taken in turn: a thread that waits for a core (another program has
    // it) holds up only the span it took, the others take the rest.
    p.spans = p.threads == 1 ? 1 : size_t(std::clamp<uint64_t>(dataBytes / kBytesPerSpan, p.threads, p.threads * 4));
    return p;
}

void WholeFileDecoder::ensureWorkers(size_t n) {
    while (workers.size() < n) {
        auto w = std::make_unique<Worker>();
        w->decoder = makeDecoder(format, width, height);
        w->inTimeOrder = orderCheckFor(autoKernel());
        w->scratch.resize(w->decoder->maxEvents(kDecodePiece));
        workers.push_back(std::move(w));
    }
}

bool WholeFileDecoder::decode(int fd, uint64_t dataOffset, const std::vector<DecodeSpan>& spans, size_t threads,
                              uint64_t events, EventBuffer& out, std::string& problem) {
    ensureWorkers(1);
    // Room past the last slice lets its final pieces be decoded in place.
    const size_t wanted = size_t(events) + workers[0]->decoder->maxEvents(kDecodePiece);
    if (!takeBuffer(wanted, out) && !out.reserve(wanted)) throw std::bad_alloc();
    size_t count = 0;
    if (!decodeInto(fd, dataOffset, spans, threads, out.data(), out.capacity(), count, problem)) return false;
    out.setSize(count);
    return true;
}

bool WholeFileDecoder::decodeInto(int fd, uint64_t dataOffset, const std::vector<DecodeSpan>& spans, size_t threads,
                                  Event2D* base, size_t room, size_t& count, std::string& problem) {
    threads = std::max<size_t>(1, std::min(threads, spans.size()));
    ensureWorkers(threads);
    results.assign(spans.size(), SpanResult{});
    if (!spans.empty() && spans.back().eventsBefore + spans.back().events > room) {
        problem = "the array has room for " + std::to_string(room) + " events, the file holds " +
                  std::to_string(spans.back().eventsBefore + spans.back().events);
        return false;
    }
    const auto roomOf = [&](size_t i) {
        return i + 1 < spans.size() ? size_t(spans[i].events) : room - size_t(spans[i].eventsBefore);
    };
    // A small file's words are read once and kept: reading them through the kernel would cost
    // about as much as a sixth of decoding them, on every call.
    if (kept.empty() && spans.size() == 1 && spans[0].offset == 0 && spans[0].bytes <= kKeepBytes) {
        std::vector<uint8_t> words(size_t(spans[0].bytes));
        if (readAt(fd, words.data(), words.size(), dataOffset) == ssize_t(words.size())) kept = std::move(words);
    }
    std::atomic<size_t> next{0};
    const auto work = [&](Worker& w) {
        for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < spans.size();)
            w.run(fd, dataOffset, kept, spans[i], base + spans[i].eventsBefore, roomOf(i), results[i]);
    };
    std::vector<std::thread> started;
    if (threads > 1) started.reserve(threads - 1);
    try {
        for (size_t k = 1; k < threads; ++k) started.emplace_back([&, k] { work(*workers[k]); });
    } catch (...) { // no thread to be had: the others and this one take every span
    }
    work(*workers[0]);
    for (auto& t : started) t.join();

    // Slices joined up.
    count = 0;
    bool sorted = true;
    uint64_t lastTime = 0;
    for (size_t i = 0; i < spans.size(); ++i) {
        const SpanResult& r = results[i];
        if (r.failed) {
            problem = "the file cannot be read or changed since it was opened";
            return false;
        }
        if (count != spans[i].eventsBefore && r.count)
            std::memmove(static_cast<void*>(base + count), base + spans[i].eventsBefore, r.count * sizeof(Event2D));
        if (r.count) {
            sorted = sorted && r.sorted && r.firstTime >= lastTime;
            lastTime = std::max(lastTime, r.lastTime);
        }
        count += r.count;
        if (r.shorter) { // what it held is gone: never a short array as if it were the whole file
            problem = "the file became shorter since it was opened; it cannot be read whole";
            return false;
        }
    }
    if (!sorted) sortByTime(base, base + count);
    return true;
}

} // namespace norvale::python
