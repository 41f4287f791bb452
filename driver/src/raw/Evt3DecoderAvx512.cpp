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
#include <immintrin.h>

// GCC 12 warns about the deliberately undefined upper lanes inside its own AVX-512 intrinsics.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "raw/Evt3Word.h"

namespace norvale::detail {

bool cpuHasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq");
}

#define NR_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,bmi,bmi2,popcnt")))

namespace {

NR_AVX512 inline __m512i lastIndex(__mmask16 m, __m512i iota, __m512i none) {
    __m512i v = _mm512_mask_mov_epi32(none, m, iota);
    v = _mm512_max_epi32(v, _mm512_alignr_epi32(v, none, 15));
    v = _mm512_max_epi32(v, _mm512_alignr_epi32(v, none, 14));
    v = _mm512_max_epi32(v, _mm512_alignr_epi32(v, none, 12));
    v = _mm512_max_epi32(v, _mm512_alignr_epi32(v, none, 8));
    return v;
}

NR_AVX512 inline uint32_t lane15(__m512i v) {
    return uint32_t(_mm_extract_epi32(_mm512_extracti32x4_epi32(v, 3), 3));
}

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
    const __m512i none = _mm512_set1_epi32(-1);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i vWidth = _mm512_set1_epi32(int(width));
    const __m512i vHeight = _mm512_set1_epi32(int(height));
    const __m512i m12bit = _mm512_set1_epi32(0xFFF);
    const __m512i m11bit = _mm512_set1_epi32(0x7FF);
    alignas(64) uint32_t aBase[16], aBits[16], aYP[16], aPol[16], aT[16];

    size_t i = 0;
    for (; i + 16 <= nWords; i += 16) {
        const uint8_t* p = bytes + 2 * i;
        auto scalarBlock = [&] {
            for (int k = 0; k < 16; ++k) out = evt3Word(loadWord(p + 2 * k), s, width, height, out, triggers);
        };
        if (!s.haveTime) {
            scalarBlock();
            continue;
        }
        const __m512i w = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
        const __m512i type = _mm512_srli_epi32(w, 12);
        const __m512i payload = _mm512_and_si512(w, m12bit);
        const __mmask16 mT = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0xA));
        const __mmask16 mH = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x8));

        // TIME_HIGH per lane and the changes of it
        const __m512i carryH = _mm512_set1_epi32(int(s.timeHigh));
        const __m512i idxH = lastIndex(mH, iota, none);
        const __m512i hv = _mm512_mask_permutexvar_epi32(carryH, _mm512_cmpge_epi32_mask(idxH, zero), idxH, payload);
        const __m512i prevH = _mm512_alignr_epi32(hv, carryH, 15);
        const __mmask16 mChanged = _mm512_mask_cmpneq_epi32_mask(mH, payload, prevH);
        const __mmask16 mWrap =
            _mm512_mask_cmpge_epu32_mask(mChanged, prevH, _mm512_add_epi32(payload, _mm512_set1_epi32(2048)));
        if (mT | mWrap) {
            scalarBlock();
            continue;
        }

        // TIME_LOW: the last one, unless TIME_HIGH changed after it (then 0)
        const __mmask16 mL = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x6));
        const __m512i idxL = lastIndex(mL, iota, none);
        const __m512i idxC = lastIndex(mChanged, iota, none);
        __m512i lowv = _mm512_mask_permutexvar_epi32(_mm512_set1_epi32(int(s.timeLow)),
                                                     _mm512_cmpge_epi32_mask(idxL, zero), idxL, payload);
        lowv = _mm512_mask_mov_epi32(lowv, _mm512_cmpgt_epi32_mask(idxC, idxL), zero);
        const __m512i t24 = _mm512_or_si512(_mm512_slli_epi32(hv, 12), lowv);

        // y
        const __mmask16 mY = _mm512_cmpeq_epi32_mask(type, zero);
        const __m512i idxY = lastIndex(mY, iota, none);
        const __m512i yv = _mm512_mask_permutexvar_epi32(_mm512_set1_epi32(int(s.y)), _mm512_cmpge_epi32_mask(idxY, zero),
                                                         idxY, _mm512_and_si512(payload, m11bit));
        const __mmask16 mYok = _mm512_cmplt_epu32_mask(yv, vHeight);

        const __mmask16 mX = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x2));
        const __mmask16 mB = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x3));
        const __mmask16 m12 = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x4));
        const __mmask16 m8 = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x5));
        const __m512i xv = _mm512_and_si512(payload, m11bit);
        const __m512i pv = _mm512_srli_epi32(payload, 11);

        if ((mB | m12 | m8) == 0) {
            const __mmask16 keep = mX & mYok & _mm512_cmplt_epu32_mask(xv, vWidth);
            if (keep) out = emitBulk(out, keep, _mm512_or_si512(xv, _mm512_slli_epi32(yv, 16)), pv, t24, s.wrapBase);
        } else {
            // vector base: the last VECT_BASE_X plus the spans of the vector words since
            const __m512i inc =
                _mm512_mask_mov_epi32(_mm512_maskz_mov_epi32(m12, _mm512_set1_epi32(12)), m8, _mm512_set1_epi32(8));
            __m512i pi = inc;
            pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 15));
            pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 14));
            pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 12));
            pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 8));
            const __m512i pe = _mm512_sub_epi32(pi, inc);
            const __m512i idxB = lastIndex(mB, iota, none);
            const __mmask16 vB = _mm512_cmpge_epi32_mask(idxB, zero);
            const __m512i startVal = _mm512_mask_permutexvar_epi32(_mm512_set1_epi32(int(s.base)), vB, idxB, xv);
            const __m512i startP = _mm512_maskz_permutexvar_epi32(vB, idxB, pe);
            const __m512i basev = _mm512_sub_epi32(_mm512_add_epi32(startVal, pe), startP);
            const __m512i polv = _mm512_mask_permutexvar_epi32(_mm512_set1_epi32(s.polarity), vB, idxB, pv);

            __mmask16 emit = (mX | m12 | m8) & mYok;
            if (emit) {
                const __m512i bitsv = _mm512_mask_mov_epi32(
                    _mm512_mask_mov_epi32(_mm512_maskz_mov_epi32(mX, _mm512_set1_epi32(1)), m12, payload), m8,
                    _mm512_and_si512(payload, _mm512_set1_epi32(0xFF)));
                _mm512_store_si512(aBase, _mm512_mask_mov_epi32(basev, mX, xv));
                _mm512_store_si512(aBits, bitsv);
                _mm512_store_si512(aYP, yv);
                _mm512_store_si512(aPol, _mm512_mask_mov_epi32(polv, mX, pv));
                _mm512_store_si512(aT, t24);
                while (emit) {
                    const unsigned k = unsigned(__builtin_ctz(emit));
                    emit &= __mmask16(emit - 1);
                    out = emitRun(out, aBase[k], aBits[k], uint64_t(aYP[k]) << 16 | uint64_t(aPol[k]) << 32,
                                  s.wrapBase | aT[k], iota, vWidth);
                }
            }
            const uint32_t nextBase = lane15(basev) + lane15(inc);
            s.base = nextBase < RawDecoderState::kNoBase ? nextBase : RawDecoderState::kNoBase;
            s.polarity = uint8_t(lane15(polv));
        }
        s.y = lane15(yv);
        s.timeHigh = lane15(hv);
        s.timeLow = lane15(lowv);
    }
    for (; i < nWords; ++i) out = evt3Word(loadWord(bytes + 2 * i), s, width, height, out, triggers);
    return size_t(out - out0);
}

} // namespace norvale::detail
