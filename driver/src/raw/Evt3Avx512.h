#pragma once

// The state of every word of a 16-word EVT 3.0 block at once, shared by the AVX-512 decoding
// and counting kernels. Each lane gets the time, y, vector base and polarity in force at its
// word through prefix scans ("index of the last ADDR_Y at or before me" is a prefix max of lane
// numbers, then one permute fetches the value). Include only from files built for AVX-512.
#include <immintrin.h>

#include "raw/Evt3Word.h"

#define NR_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,bmi,bmi2,popcnt")))

namespace norvale::detail {

NR_AVX512 inline __m512i evt3LastIndex(__mmask16 m, __m512i iota, __m512i none) {
    __m512i v = _mm512_mask_mov_epi32(none, m, iota);
    v = _mm512_max_epi32(v, _mm512_alignr_epi32(v, none, 15));
    v = _mm512_max_epi32(v, _mm512_alignr_epi32(v, none, 14));
    v = _mm512_max_epi32(v, _mm512_alignr_epi32(v, none, 12));
    v = _mm512_max_epi32(v, _mm512_alignr_epi32(v, none, 8));
    return v;
}

NR_AVX512 inline uint32_t evt3Lane15(__m512i v) {
    return uint32_t(_mm_extract_epi32(_mm512_extracti32x4_epi32(v, 3), 3));
}

struct Evt3Lanes {
    __m512i payload, xv, pv; // payload, its bits 10..0 and bit 11
    __m512i hv, lowv, t24;   // TIME_HIGH, TIME_LOW and the 24-bit time in force at each word
    __m512i yv;
    __mmask16 mX, mB, m12, m8, mYok; // ADDR_X, VECT_BASE_X, VECT_12, VECT_8 words; y inside the height
};

// The block at p from state s. False when it needs the reference word function: a trigger edge
// or a wrap of the 24-bit time (the caller also keeps blocks before the first TIME_HIGH there).
NR_AVX512 inline bool evt3Lanes(const uint8_t* p, const RawDecoderState& s, uint32_t height, Evt3Lanes& l) {
    const __m512i iota = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i none = _mm512_set1_epi32(-1);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i m11bit = _mm512_set1_epi32(0x7FF);
    const __m512i w = _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    const __m512i type = _mm512_srli_epi32(w, 12);
    l.payload = _mm512_and_si512(w, _mm512_set1_epi32(0xFFF));
    const __mmask16 mT = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0xA));
    const __mmask16 mH = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x8));

    // TIME_HIGH per lane and the changes of it
    const __m512i carryH = _mm512_set1_epi32(int(s.timeHigh));
    const __m512i idxH = evt3LastIndex(mH, iota, none);
    l.hv = _mm512_mask_permutexvar_epi32(carryH, _mm512_cmpge_epi32_mask(idxH, zero), idxH, l.payload);
    const __m512i prevH = _mm512_alignr_epi32(l.hv, carryH, 15);
    const __mmask16 mChanged = _mm512_mask_cmpneq_epi32_mask(mH, l.payload, prevH);
    const __mmask16 mWrap =
        _mm512_mask_cmpge_epu32_mask(mChanged, prevH, _mm512_add_epi32(l.payload, _mm512_set1_epi32(2048)));
    if (mT | mWrap) return false;

    // TIME_LOW: the last one, unless TIME_HIGH changed after it (then 0)
    const __mmask16 mL = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x6));
    const __m512i idxL = evt3LastIndex(mL, iota, none);
    const __m512i idxC = evt3LastIndex(mChanged, iota, none);
    l.lowv = _mm512_mask_permutexvar_epi32(_mm512_set1_epi32(int(s.timeLow)), _mm512_cmpge_epi32_mask(idxL, zero),
                                           idxL, l.payload);
    l.lowv = _mm512_mask_mov_epi32(l.lowv, _mm512_cmpgt_epi32_mask(idxC, idxL), zero);
    l.t24 = _mm512_or_si512(_mm512_slli_epi32(l.hv, 12), l.lowv);

    // y
    const __mmask16 mY = _mm512_cmpeq_epi32_mask(type, zero);
    const __m512i idxY = evt3LastIndex(mY, iota, none);
    l.yv = _mm512_mask_permutexvar_epi32(_mm512_set1_epi32(int(s.y)), _mm512_cmpge_epi32_mask(idxY, zero), idxY,
                                         _mm512_and_si512(l.payload, m11bit));
    l.mYok = _mm512_cmplt_epu32_mask(l.yv, _mm512_set1_epi32(int(height)));

    l.mX = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x2));
    l.mB = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x3));
    l.m12 = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x4));
    l.m8 = _mm512_cmpeq_epi32_mask(type, _mm512_set1_epi32(0x5));
    l.xv = _mm512_and_si512(l.payload, m11bit);
    l.pv = _mm512_srli_epi32(l.payload, 11);
    return true;
}

struct Evt3VectorLanes {
    __m512i basev, polv; // vector base and polarity in force at each word
    __m512i inc;         // span of each vector word (12, 8 or 0)
};

// Vector base: the last VECT_BASE_X plus the spans of the vector words since.
NR_AVX512 inline void evt3VectorLanes(const Evt3Lanes& l, const RawDecoderState& s, Evt3VectorLanes& v) {
    const __m512i iota = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i none = _mm512_set1_epi32(-1);
    const __m512i zero = _mm512_setzero_si512();
    v.inc = _mm512_mask_mov_epi32(_mm512_maskz_mov_epi32(l.m12, _mm512_set1_epi32(12)), l.m8, _mm512_set1_epi32(8));
    __m512i pi = v.inc;
    pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 15));
    pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 14));
    pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 12));
    pi = _mm512_add_epi32(pi, _mm512_alignr_epi32(pi, zero, 8));
    const __m512i pe = _mm512_sub_epi32(pi, v.inc);
    const __m512i idxB = evt3LastIndex(l.mB, iota, none);
    const __mmask16 vB = _mm512_cmpge_epi32_mask(idxB, zero);
    const __m512i startVal = _mm512_mask_permutexvar_epi32(_mm512_set1_epi32(int(s.base)), vB, idxB, l.xv);
    const __m512i startP = _mm512_maskz_permutexvar_epi32(vB, idxB, pe);
    v.basev = _mm512_sub_epi32(_mm512_add_epi32(startVal, pe), startP);
    v.polv = _mm512_mask_permutexvar_epi32(_mm512_set1_epi32(s.polarity), vB, idxB, l.pv);
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
    if (v) {
        const uint32_t nextBase = evt3Lane15(v->basev) + evt3Lane15(v->inc);
        s.base = nextBase < RawDecoderState::kNoBase ? nextBase : RawDecoderState::kNoBase;
        s.polarity = uint8_t(evt3Lane15(v->polv));
    }
    s.y = evt3Lane15(l.yv);
    s.timeHigh = evt3Lane15(l.hv);
    s.timeLow = evt3Lane15(l.lowv);
}

} // namespace norvale::detail
