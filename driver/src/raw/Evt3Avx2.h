#pragma once

// The state of every word of an 8-word EVT 3.0 block at once, shared by the AVX2 decoding and
// counting kernels. The same idea as Evt3Avx512.h with what AVX2 has: "the value of the last
// ADDR_Y at or before me" is a prefix max over keys (lane + 1) << 16 | value, where a lane that
// is no ADDR_Y has key 0 and the state before the block takes part as the key of lane -1.
// Include only from files built for AVX2.
#include <immintrin.h>

#include "raw/Evt3Word.h"

#define NR_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

namespace norvale::detail {

// Lane i gets lane i - k (k = 1, 2, 4), the lanes below k get 0.
template <int k>
NR_AVX2 inline __m256i evt3ShiftUp(__m256i v) {
    const __m256i low = _mm256_permute2x128_si256(v, v, 0x08); // [0, low half of v]
    if constexpr (k == 4) return low;
    else return _mm256_alignr_epi8(v, low, 16 - 4 * k);
}

NR_AVX2 inline __m256i evt3PrefixMax(__m256i v) {
    v = _mm256_max_epu32(v, evt3ShiftUp<1>(v));
    v = _mm256_max_epu32(v, evt3ShiftUp<2>(v));
    return _mm256_max_epu32(v, evt3ShiftUp<4>(v));
}

NR_AVX2 inline __m256i evt3PrefixSum(__m256i v) {
    v = _mm256_add_epi32(v, evt3ShiftUp<1>(v));
    v = _mm256_add_epi32(v, evt3ShiftUp<2>(v));
    return _mm256_add_epi32(v, evt3ShiftUp<4>(v));
}

// Key of the last marked lane at or before each lane, or carry where none is.
NR_AVX2 inline __m256i evt3LastKey(__m256i marked, __m256i value, uint32_t carry) {
    const __m256i iota1 = _mm256_setr_epi32(1 << 16, 2 << 16, 3 << 16, 4 << 16, 5 << 16, 6 << 16, 7 << 16, 8 << 16);
    const __m256i key = _mm256_and_si256(marked, _mm256_or_si256(iota1, value));
    return _mm256_max_epu32(evt3PrefixMax(key), _mm256_set1_epi32(int(carry)));
}

NR_AVX2 inline uint32_t evt3Lane7(__m256i v) { return uint32_t(_mm256_extract_epi32(v, 7)); }
NR_AVX2 inline unsigned evt3Mask(__m256i v) { return unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(v))); }

struct Evt3Lanes8 {
    __m256i payload, xv, pv; // payload, its bits 10..0 and bit 11
    __m256i hv, lowv, t24;   // TIME_HIGH, TIME_LOW and the 24-bit time in force at each word
    __m256i yv;              // y in force, 0xFFFF while unknown
    __m256i vX, vB, v12, v8, vYok; // lanes of ADDR_X, VECT_BASE_X, VECT_12, VECT_8 words; y inside the height
};

// The block at p from state s. False when it needs the reference word function: a trigger edge
// or a wrap of the 24-bit time (the caller also keeps blocks before the first TIME_HIGH there).
NR_AVX2 inline bool evt3Lanes8(const uint8_t* p, const RawDecoderState& s, uint32_t height, Evt3Lanes8& l) {
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const __m256i w = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const __m256i type = _mm256_srli_epi32(w, 12);
    l.payload = _mm256_and_si256(w, _mm256_set1_epi32(0xFFF));
    const __m256i vT = _mm256_cmpeq_epi32(type, _mm256_set1_epi32(0xA));
    const __m256i vH = _mm256_cmpeq_epi32(type, _mm256_set1_epi32(0x8));

    // TIME_HIGH per lane and the changes of it
    l.hv = _mm256_and_si256(evt3LastKey(vH, l.payload, s.timeHigh), low16);
    const __m256i prevH = _mm256_blend_epi32(evt3ShiftUp<1>(l.hv), _mm256_set1_epi32(int(s.timeHigh)), 0x01);
    const __m256i vChanged = _mm256_andnot_si256(_mm256_cmpeq_epi32(l.payload, prevH), vH);
    const __m256i vWrap =
        _mm256_and_si256(vChanged, _mm256_cmpgt_epi32(prevH, _mm256_add_epi32(l.payload, _mm256_set1_epi32(2047))));
    const __m256i rare = _mm256_or_si256(vT, vWrap);
    if (!_mm256_testz_si256(rare, rare)) return false;

    // TIME_LOW: the last one, unless TIME_HIGH changed after it (then 0)
    const __m256i vL = _mm256_cmpeq_epi32(type, _mm256_set1_epi32(0x6));
    const __m256i keyL = evt3LastKey(vL, l.payload, s.timeLow);
    const __m256i keyC = evt3LastKey(vChanged, _mm256_setzero_si256(), 0);
    l.lowv = _mm256_andnot_si256(_mm256_cmpgt_epi32(keyC, keyL), _mm256_and_si256(keyL, low16));
    l.t24 = _mm256_or_si256(_mm256_slli_epi32(l.hv, 12), l.lowv);

    // y
    const __m256i m11bit = _mm256_set1_epi32(0x7FF);
    l.xv = _mm256_and_si256(l.payload, m11bit);
    const __m256i vY = _mm256_cmpeq_epi32(type, _mm256_setzero_si256());
    l.yv = _mm256_and_si256(evt3LastKey(vY, l.xv, s.y < 0xFFFF ? s.y : 0xFFFF), low16);
    l.vYok = _mm256_cmpgt_epi32(_mm256_set1_epi32(int(height)), l.yv);

    l.vX = _mm256_cmpeq_epi32(type, _mm256_set1_epi32(0x2));
    l.vB = _mm256_cmpeq_epi32(type, _mm256_set1_epi32(0x3));
    l.v12 = _mm256_cmpeq_epi32(type, _mm256_set1_epi32(0x4));
    l.v8 = _mm256_cmpeq_epi32(type, _mm256_set1_epi32(0x5));
    l.pv = _mm256_srli_epi32(l.payload, 11);
    return true;
}

struct Evt3VectorLanes8 {
    __m256i basev, polv; // vector base and polarity in force at each word
    __m256i inc;         // span of each vector word (12, 8 or 0)
};

// Vector base: the last VECT_BASE_X plus the spans of the vector words since. A VECT_BASE_X at
// lane j keys x_j + 128 - (spans up to j), so that adding the spans before lane k gives its base.
NR_AVX2 inline void evt3VectorLanes8(const Evt3Lanes8& l, const RawDecoderState& s, Evt3VectorLanes8& v) {
    v.inc = _mm256_or_si256(_mm256_and_si256(l.v12, _mm256_set1_epi32(12)), _mm256_and_si256(l.v8, _mm256_set1_epi32(8)));
    const __m256i pe = _mm256_sub_epi32(evt3PrefixSum(v.inc), v.inc);
    const __m256i rel = _mm256_sub_epi32(_mm256_add_epi32(l.xv, _mm256_set1_epi32(128)), pe);
    const __m256i keyB = evt3LastKey(l.vB, _mm256_or_si256(rel, _mm256_slli_epi32(l.pv, 15)), 0);
    const __m256i seen = _mm256_cmpgt_epi32(keyB, _mm256_setzero_si256());
    const __m256i fromKey = _mm256_sub_epi32(_mm256_and_si256(keyB, _mm256_set1_epi32(0x7FFF)), _mm256_set1_epi32(128));
    v.basev = _mm256_add_epi32(_mm256_blendv_epi8(_mm256_set1_epi32(int(s.base)), fromKey, seen), pe);
    v.polv = _mm256_blendv_epi8(_mm256_set1_epi32(s.polarity),
                                _mm256_and_si256(_mm256_srli_epi32(keyB, 15), _mm256_set1_epi32(1)), seen);
}

// Per lane, the run of events its word stands for (an ADDR_X as a run of one bit at x): first x,
// bits (before the width and height checks) and polarity.
NR_AVX2 inline void evt3Runs8(const Evt3Lanes8& l, const Evt3VectorLanes8& v, __m256i& first, __m256i& bits,
                              __m256i& polarity) {
    bits = _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(l.vX, _mm256_set1_epi32(1)), _mm256_and_si256(l.v12, l.payload)),
                           _mm256_and_si256(l.v8, _mm256_and_si256(l.payload, _mm256_set1_epi32(0xFF))));
    first = _mm256_blendv_epi8(v.basev, l.xv, l.vX);
    polarity = _mm256_blendv_epi8(v.polv, l.pv, l.vX);
}

// State after the block: y and time always, base and polarity when v is given.
NR_AVX2 inline void evt3Advance8(const Evt3Lanes8& l, const Evt3VectorLanes8* v, RawDecoderState& s) {
    if (v) {
        const uint32_t nextBase = evt3Lane7(v->basev) + evt3Lane7(v->inc);
        s.base = nextBase < RawDecoderState::kNoBase ? nextBase : RawDecoderState::kNoBase;
        s.polarity = uint8_t(evt3Lane7(v->polv));
    }
    const uint32_t y = evt3Lane7(l.yv);
    s.y = y == 0xFFFF ? RawDecoderState::kNoY : y;
    s.timeHigh = evt3Lane7(l.hv);
    s.timeLow = evt3Lane7(l.lowv);
}

} // namespace norvale::detail
