// Vectorised EVT 3.0 kernel: 16 words per step.
//
// What made the difference: a one-word-at-a-time decoder pays a mispredicted branch on most
// words, because real streams mix ADDR_Y, ADDR_X, TIME_LOW and vector words without pattern.
// Branch-free scalar code only trades that for a long dependency chain through the state.
// Here the state of every word of a block (y, time, vector base, polarity) is computed at once
// with prefix scans over 16 lanes ("index of the last ADDR_Y at or before me" is a prefix max
// of lane numbers, then one permute fetches the value), and the events are packed with
// compress instructions and written 4 per 64-byte store. The only data-dependent branches left
// are one per block and one per vector word. Rare blocks (trigger edges, a wrap of the 24-bit
// time, time not yet known) go through the reference word function, so results are identical.

// GCC 12 warns about the deliberately undefined upper lanes inside its own AVX-512 intrinsics.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "raw/Evt3Avx512.h"

namespace norvale::detail {

bool cpuHasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512cd");
}

namespace {

// Writes 8 events: first qwords from lo (x | y << 16 | p << 32), second from t.
NR_AVX512 inline void store8(Event2D* out, __m512i lo, __m512i t) {
    const __m512i a = _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11);
    const __m512i b = _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15);
    _mm512_storeu_si512(reinterpret_cast<void*>(out), _mm512_permutex2var_epi64(lo, a, t));
    _mm512_storeu_si512(reinterpret_cast<void*>(out + 4), _mm512_permutex2var_epi64(lo, b, t));
}

// Events of one vector word (or one ADDR_X as a vector of one bit): up to 16 written, n kept.
NR_AVX512 inline Event2D* emitRun(Event2D* out, uint32_t base, uint32_t bits, uint64_t yp, uint64_t t,
                                  __m512i iota, __m512i vWidth) {
    const __m512i xs = _mm512_add_epi32(_mm512_set1_epi32(int(base)), iota);
    const __mmask16 keep = __mmask16(bits) & _mm512_cmplt_epu32_mask(xs, vWidth);
    const unsigned n = unsigned(__builtin_popcount(keep));
    const __m512i cx = _mm512_maskz_compress_epi32(keep, xs);
    const __m512i ypv = _mm512_set1_epi64(int64_t(yp));
    const __m512i tv = _mm512_set1_epi64(int64_t(t));
    store8(out, _mm512_or_si512(_mm512_cvtepu32_epi64(_mm512_castsi512_si256(cx)), ypv), tv);
    if (n > 8) store8(out + 8, _mm512_or_si512(_mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(cx, 1)), ypv), tv);
    return out + n;
}

// Events of the ADDR_X lanes in keep: one event per lane.
NR_AVX512 inline Event2D* emitBulk(Event2D* out, __mmask16 keep, __m512i xy, __m512i p, __m512i t24,
                                   uint64_t wrapBase) {
    const unsigned n = unsigned(__builtin_popcount(keep));
    const __m512i cxy = _mm512_maskz_compress_epi32(keep, xy);
    const __m512i cp = _mm512_maskz_compress_epi32(keep, p);
    const __m512i ct = _mm512_maskz_compress_epi32(keep, t24);
    const __m512i wb = _mm512_set1_epi64(int64_t(wrapBase));
    auto half = [&](Event2D* o, __m256i a, __m256i b, __m256i c) NR_AVX512 {
        const __m512i lo = _mm512_or_si512(_mm512_cvtepu32_epi64(a), _mm512_slli_epi64(_mm512_cvtepu32_epi64(b), 32));
        store8(o, lo, _mm512_add_epi64(_mm512_cvtepu32_epi64(c), wb));
    };
    half(out, _mm512_castsi512_si256(cxy), _mm512_castsi512_si256(cp), _mm512_castsi512_si256(ct));
    if (n > 8)
        half(out + 8, _mm512_extracti64x4_epi64(cxy, 1), _mm512_extracti64x4_epi64(cp, 1),
             _mm512_extracti64x4_epi64(ct, 1));
    return out + n;
}

} // namespace

NR_AVX512 size_t evt3DecodeAvx512(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width,
                                  uint32_t height, Event2D* out0, std::vector<EventTriggerIn>* triggers) {
    Event2D* out = out0;
    const __m512i iota = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i vWidth = _mm512_set1_epi32(int(width));
    alignas(64) uint32_t aBase[16], aBits[16], aYP[16], aPol[16], aT[16];

    size_t i = 0;
    for (; i + 16 <= nWords; i += 16) {
        const uint8_t* p = bytes + 2 * i;
        Evt3Lanes l;
        if (!s.haveTime || !evt3Lanes(p, s, height, l)) {
            for (int k = 0; k < 16; ++k) out = evt3Word(loadWord(p + 2 * k), s, width, height, out, triggers);
            continue;
        }
        if ((l.mB | l.m12 | l.m8) == 0) {
            const __mmask16 keep = l.mX & l.mYok & _mm512_cmplt_epu32_mask(l.xv, vWidth);
            if (keep)
                out = emitBulk(out, keep, _mm512_or_si512(l.xv, _mm512_slli_epi32(l.yv, 16)), l.pv, l.t24, s.wrapBase);
            evt3Advance(l, nullptr, s);
        } else {
            Evt3VectorLanes v;
            evt3VectorLanes(l, s, v);
            __mmask16 emit = (l.mX | l.m12 | l.m8) & l.mYok;
            if (emit) {
                __m512i first, bits, pol;
                evt3Runs(l, v, first, bits, pol);
                _mm512_store_si512(aBase, first);
                _mm512_store_si512(aBits, bits);
                _mm512_store_si512(aYP, l.yv);
                _mm512_store_si512(aPol, pol);
                _mm512_store_si512(aT, l.t24);
                while (emit) {
                    const unsigned k = unsigned(__builtin_ctz(emit));
                    emit &= __mmask16(emit - 1);
                    out = emitRun(out, aBase[k], aBits[k], uint64_t(aYP[k]) << 16 | uint64_t(aPol[k]) << 32,
                                  s.wrapBase | aT[k], iota, vWidth);
                }
            }
            evt3Advance(l, &v, s);
        }
    }
    for (; i < nWords; ++i) out = evt3Word(loadWord(bytes + 2 * i), s, width, height, out, triggers);
    return size_t(out - out0);
}

} // namespace norvale::detail
