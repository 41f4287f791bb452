#pragma once

// The state of every word of a 16-word EVT 3.0 block at once, shared by the AVX-512 decoding
// and counting kernels. Each lane gets the time, y, vector base and polarity in force at its
// word: "the index of the last ADDR_Y at or before me" is 31 minus the leading zeros of the
// ADDR_Y lane mask cut to my lane and below, then one permute fetches the value. Include only
// from files built for AVX-512.
#include <immintrin.h>

#include "raw/Evt3Word.h"

#define NR_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx512cd,bmi,bmi2,popcnt")))

namespace norvale::detail {

// Lane i: the last lane at or before i marked in m (in the low 4 bits), and whether there is one.
struct Evt3Last {
    __m512i idx;
    __mmask16 found;
};

NR_AVX512 inline Evt3Last evt3Last(__mmask16 m) {
    const __m512i upTo = _mm512_setr_epi32(0x1, 0x3, 0x7, 0xF, 0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF,
                                           0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF);
    const __m512i below = _mm512_and_si512(_mm512_set1_epi32(int(m)), upTo);
    return {_mm512_xor_si512(_mm512_lzcnt_epi32(below), _mm512_set1_epi32(31)), _mm512_test_epi32_mask(below, below)};
}

// The value of src at each lane's last marked lane, carry where none is.
NR_AVX512 inline __m512i evt3Fetch(const Evt3Last& last, __m512i src, __m512i carry) {
    return _mm512_mask_permutexvar_epi32(carry, last.found, last.idx, src);
}

NR_AVX512 inline uint32_t evt3Lane15(__m512i v) {
    return uint32_t(_mm_extract_epi32(_mm512_extracti32x4_epi32(v, 3), 3));
}

struct Evt3Lanes {
    __m512i payload, xv, pv; // payload, its bits 10..0 and bit 11
    __m512i lowv, t24;       // TIME_LOW and the 24-bit time in force at each word
    __m512i hv;              // TIME_HIGH in force, set only when highChanged
    __m512i yv;
    __mmask16 mX, mB, m12, m8, mYok; // ADDR_X, VECT_BASE_X, VECT_12, VECT_8 words; y inside the height
    bool highChanged;                // a TIME_HIGH of another value than the state's
};

// The block at p from state s. False when it needs the reference word function: a trigger edge
// or a wrap of the 24-bit time (the caller also keeps blocks before the first TIME_HIGH there).
NR_AVX512 inline bool evt3Lanes(const uint8_t* p, const RawDecoderState& s, uint32_t height, Evt3Lanes& l) {
    const __m512i m11bit = _mm512_set1_epi32(0x7FF);
    const __m512i w = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    const __m512i type = _mm512_srli_epi32(w, 12);
    l.payload = _mm512_and_si512(w, _mm512_set1_epi32(0xFFF));
    const __mmask16 mT = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0xA));
    const __mmask16 mH = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x8));
    const __m512i carryH = _mm512_set1_epi32(int(s.timeHigh));
    // Most blocks only repeat the TIME_HIGH in force (it changes every 4 ms): then the time high
    // is the state's in every lane and the TIME_LOW in force is simply the last one.
    l.highChanged = _mm512_mask_cmpneq_epi32_mask(mH, l.payload, carryH) != 0;
    const __mmask16 mL = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x6));
    const Evt3Last lastL = evt3Last(mL);
    l.lowv = evt3Fetch(lastL, l.payload, _mm512_set1_epi32(int(s.timeLow)));
    if (!l.highChanged) {
        if (mT) return false;
        l.t24 = _mm512_or_si512(_mm512_slli_epi32(carryH, 12), l.lowv);
    } else {
        l.hv = evt3Fetch(evt3Last(mH), l.payload, carryH);
        const __m512i prevH = _mm512_alignr_epi32(l.hv, carryH, 15);
        const __mmask16 mChanged = _mm512_mask_cmpneq_epi32_mask(mH, l.payload, prevH);
        const __mmask16 mWrap =
            _mm512_mask_cmpge_epu32_mask(mChanged, prevH, _mm512_add_epi32(l.payload, _mm512_set1_epi32(2048)));
        if (mT | mWrap) return false;
        // the low part restarts at 0 where TIME_HIGH changed after the last TIME_LOW
        const Evt3Last lastC = evt3Last(mChanged);
        const __mmask16 restart = lastC.found & (~lastL.found | _mm512_cmpgt_epi32_mask(lastC.idx, lastL.idx));
        l.lowv = _mm512_mask_mov_epi32(l.lowv, restart, _mm512_setzero_si512());
        l.t24 = _mm512_or_si512(_mm512_slli_epi32(l.hv, 12), l.lowv);
    }

    l.xv = _mm512_and_si512(l.payload, m11bit);
    const __mmask16 mY = _mm512_cmpeq_epi32_mask(type, _mm512_setzero_si512());
    l.yv = evt3Fetch(evt3Last(mY), l.xv, _mm512_set1_epi32(int(s.y)));
    l.mYok = _mm512_cmplt_epu32_mask(l.yv, _mm512_set1_epi32(int(height)));

    l.mX = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x2));
    l.mB = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x3));
    l.m12 = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x4));
    l.m8 = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x5));
    l.pv = _mm512_srli_epi32(l.payload, 11);
    return true;
}

struct Evt3VectorLanes {
    __m512i basev, polv; // vector base and polarity in force at each word
    __m512i inc;         // span of each vector word (12, 8 or 0)
};

// Vector base: the last VECT_BASE_X plus the spans of the vector words since.
NR_AVX512 inline void evt3VectorLanes(const Evt3Lanes& l, const RawDecoderState& s, Evt3VectorLanes& v) {
    const __m512i zero = _mm512_setzero_si512();
    v.inc = _mm512_mask_mov_epi32(_mm512_maskz_mov_epi32(l.m12, _mm512_set1_epi32(12)), l.m8, _mm512_set1_epi32(8));
    __m512i pi = v.inc;
    pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 15));
    pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 14));
    pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 12));
    pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 8));
    const __m512i pe = _mm512_sub_epi32(pi, v.inc);
    const Evt3Last lastB = evt3Last(l.mB);
    const __m512i startVal = evt3Fetch(lastB, l.xv, _mm512_set1_epi32(int(s.base)));
    const __m512i startP = evt3Fetch(lastB, pe, zero);
    v.basev = _mm512_sub_epi32(_mm512_add_epi32(startVal, pe), startP);
    v.polv = evt3Fetch(lastB, l.pv, _mm512_set1_epi32(s.polarity));
}

// Per lane, the run of events its word stands for (an ADDR_X as a run of one bit at x): first x,
// bits (before the width and height checks) and polarity.
NR_AVX512 inline void evt3Runs(const Evt3Lanes& l, const Evt3VectorLanes& v, __m512i& first, __m512i& bits,
                               __m512i& polarity) {
    bits = _mm512_mask_mov_epi32(
        _mm512_mask_mov_epi32(_mm512_maskz_mov_epi32(l.mX, _mm512_set1_epi32(1)), l.m12, l.payload), l.m8,
        _mm512_and_si512(l.payload, _mm512_set1_epi32(0xFF)));
    first = _mm512_mask_mov_epi32(v.basev, l.mX, l.xv);
    polarity = _mm512_mask_mov_epi32(v.polv, l.mX, l.pv);
}

// State after the block: y and time always, base and polarity when v is given.
NR_AVX512 inline void evt3Advance(const Evt3Lanes& l, const Evt3VectorLanes* v, RawDecoderState& s) {
    if (v) evt3BlockEndVector(s, evt3Lane15(v->basev), evt3Lane15(v->inc), evt3Lane15(v->polv));
    evt3BlockEnd(s, evt3Lane15(l.yv), l.highChanged, l.highChanged ? evt3Lane15(l.hv) : 0, evt3Lane15(l.lowv));
}

} // namespace norvale::detail
