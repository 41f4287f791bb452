// Vectorised EVT 3.0 kernel for CPUs with AVX2 but not AVX-512: 8 words per step, the state of
// each word by prefix scans (Evt3Avx2.h). AVX2 has no compress instruction: the events of the
// ADDR_X lanes are packed by a permute whose indices come from a 256-entry table, and written 4
// per pair of 32-byte stores. Vector words are written bit by bit. Rare blocks (trigger edges, a
// wrap of the 24-bit time, time not yet known) go through the reference word function.
#include "raw/Evt3Avx2.h"

namespace norvale::detail {

bool cpuHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

namespace {

// For each 8-bit lane mask, the indices of its set lanes in order, one per byte.
struct CompressTable {
    uint64_t idx[256];
};
constexpr CompressTable makeCompressTable() {
    CompressTable t{};
    for (unsigned m = 0; m < 256; ++m) {
        uint64_t v = 0;
        unsigned k = 0;
        for (unsigned i = 0; i < 8; ++i)
            if (m >> i & 1) v |= uint64_t(i) << (8 * k++);
        t.idx[m] = v;
    }
    return t;
}
constexpr CompressTable kCompress = makeCompressTable();

// Writes 4 events from lanes x | y << 16, polarity and 24-bit time.
NR_AVX2 inline void store4(Event2D* out, __m128i xy, __m128i p, __m128i t, __m256i wrapBase) {
    const __m256i lo = _mm256_or_si256(_mm256_cvtepu32_epi64(xy), _mm256_slli_epi64(_mm256_cvtepu32_epi64(p), 32));
    const __m256i hi = _mm256_add_epi64(_mm256_cvtepu32_epi64(t), wrapBase);
    const __m256i a = _mm256_unpacklo_epi64(lo, hi), b = _mm256_unpackhi_epi64(lo, hi);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(a, b, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2), _mm256_permute2x128_si256(a, b, 0x31));
}

// Events of the ADDR_X lanes in keep: one event per lane.
NR_AVX2 inline Event2D* emitBulk(Event2D* out, unsigned keep, __m256i xy, __m256i p, __m256i t24, uint64_t wrapBase) {
    const unsigned n = unsigned(__builtin_popcount(keep));
    const __m256i idx = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(int64_t(kCompress.idx[keep])));
    const __m256i cxy = _mm256_permutevar8x32_epi32(xy, idx);
    const __m256i cp = _mm256_permutevar8x32_epi32(p, idx);
    const __m256i ct = _mm256_permutevar8x32_epi32(t24, idx);
    const __m256i wb = _mm256_set1_epi64x(int64_t(wrapBase));
    store4(out, _mm256_castsi256_si128(cxy), _mm256_castsi256_si128(cp), _mm256_castsi256_si128(ct), wb);
    if (n > 4)
        store4(out + 4, _mm256_extracti128_si256(cxy, 1), _mm256_extracti128_si256(cp, 1), _mm256_extracti128_si256(ct, 1),
               wb);
    return out + n;
}

// Events of one vector word (or one ADDR_X as a vector of one bit).
NR_AVX2 inline Event2D* emitRun(Event2D* out, uint32_t base, uint32_t bits, uint64_t yp, uint64_t t, uint32_t width) {
    bits &= evt3WidthMask(base, width);
    while (bits) {
        const uint64_t x = base + uint32_t(__builtin_ctz(bits));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out++), _mm_set_epi64x(int64_t(t), int64_t(x | yp)));
        bits &= bits - 1;
    }
    return out;
}

} // namespace

NR_AVX2 size_t evt3DecodeAvx2(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width,
                              uint32_t height, Event2D* out0, std::vector<EventTriggerIn>* triggers) {
    Event2D* out = out0;
    const __m256i vWidth = _mm256_set1_epi32(int(width));
    alignas(32) uint32_t aBase[8], aBits[8], aY[8], aPol[8], aT[8];

    size_t i = 0;
    for (; i + 8 <= nWords; i += 8) {
        const uint8_t* p = bytes + 2 * i;
        Evt3Lanes8 l;
        if (!s.haveTime || !evt3Lanes8(p, s, height, l)) {
            for (int k = 0; k < 8; ++k) out = evt3Word(loadWord(p + 2 * k), s, width, height, out, triggers);
            continue;
        }
        if (evt3Mask(_mm256_or_si256(l.vB, _mm256_or_si256(l.v12, l.v8))) == 0) {
            const unsigned keep =
                evt3Mask(_mm256_and_si256(_mm256_and_si256(l.vX, l.vYok), _mm256_cmpgt_epi32(vWidth, l.xv)));
            if (keep)
                out = emitBulk(out, keep, _mm256_or_si256(l.xv, _mm256_slli_epi32(l.yv, 16)), l.pv, l.t24, s.wrapBase);
            evt3Advance8(l, nullptr, s);
        } else {
            Evt3VectorLanes8 v;
            evt3VectorLanes8(l, s, v);
            unsigned emit = evt3Mask(_mm256_and_si256(_mm256_or_si256(l.vX, _mm256_or_si256(l.v12, l.v8)), l.vYok));
            if (emit) {
                __m256i first, bits, pol;
                evt3Runs8(l, v, first, bits, pol);
                _mm256_store_si256(reinterpret_cast<__m256i*>(aBase), first);
                _mm256_store_si256(reinterpret_cast<__m256i*>(aBits), bits);
                _mm256_store_si256(reinterpret_cast<__m256i*>(aY), l.yv);
                _mm256_store_si256(reinterpret_cast<__m256i*>(aPol), pol);
                _mm256_store_si256(reinterpret_cast<__m256i*>(aT), l.t24);
                while (emit) {
                    const unsigned k = unsigned(__builtin_ctz(emit));
                    emit &= emit - 1;
                    out = emitRun(out, aBase[k], aBits[k], uint64_t(aY[k]) << 16 | uint64_t(aPol[k]) << 32,
                                  s.wrapBase | aT[k], width);
                }
            }
            evt3Advance8(l, &v, s);
        }
    }
    for (; i < nWords; ++i) out = evt3Word(loadWord(bytes + 2 * i), s, width, height, out, triggers);
    return size_t(out - out0);
}

} // namespace norvale::detail
