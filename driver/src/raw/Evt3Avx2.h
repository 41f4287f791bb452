#pragma once

// The state of every word of an 8-word EVT 3.0 block at once, shared by the AVX2 decoding and
// counting kernels; the method of Evt3Avx512.h with what AVX2 has. "The index of the last ADDR_Y
// at or before me" comes from a 256-entry table indexed by the ADDR_Y lane mask, then one
// permute fetches the value. Include only from files built for AVX2.
#include <immintrin.h>

#include "raw/Evt3Word.h"

#define NR_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

namespace norvale::detail {

// For each 8-bit lane mask, per lane the last marked lane at or before it, 0x80 where none is.
struct Evt3LastTable {
    uint64_t lanes[256];
};
constexpr Evt3LastTable makeEvt3LastTable() {
    Evt3LastTable t{};
    for (unsigned m = 0; m < 256; ++m) {
        uint64_t v = 0, last = 0x80;
        for (unsigned i = 0; i < 8; ++i) {
            if (m >> i & 1) last = i;
            v |= last << (8 * i);
        }
        t.lanes[m] = v;
    }
    return t;
}
inline constexpr Evt3LastTable kEvt3Last = makeEvt3LastTable();

NR_AVX2 inline unsigned evt3Mask(__m256i v) { return unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(v))); }

// Lane i: the last lane at or before i marked in v (a compare result), negative where none is.
NR_AVX2 inline __m256i evt3Last8(__m256i marked) {
    return _mm256_cvtepi8_epi32(_mm_cvtsi64_si128(int64_t(kEvt3Last.lanes[evt3Mask(marked)])));
}

// The value of src at each lane's last marked lane, carry where none is.
NR_AVX2 inline __m256i evt3Fetch8(__m256i last, __m256i src, __m256i carry) {
    return _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(_mm256_permutevar8x32_epi32(src, last)),
                                                _mm256_castsi256_ps(carry), _mm256_castsi256_ps(last)));
}

// Lane i gets lane i - k (k = 1, 2, 4), the lanes below k get 0.
template <int k>
NR_AVX2 inline __m256i evt3ShiftUp(__m256i v) {
    const __m256i low = _mm256_permute2x128_si256(v, v, 0x08); // [0, low half of v]
    if constexpr (k == 4) return low;
    else return _mm256_alignr_epi8(v, low, 16 - 4 * k);
}

NR_AVX2 inline uint32_t evt3Lane7(__m256i v) { return uint32_t(_mm256_extract_epi32(v, 7)); }

struct Evt3Lanes8 {
    __m256i payload, xv, pv; // payload, its bits 10..0 and bit 11
    __m256i lowv, t24;       // TIME_LOW and the 24-bit time in force at each word
    __m256i hv;              // TIME_HIGH in force, set only when highChanged
    __m256i yv;
    __m256i vX, vB, v12, v8, vYok; // lanes of ADDR_X, VECT_BASE_X, VECT_12, VECT_8 words; y inside the height
    bool highChanged;              // a TIME_HIGH of another value than the state's
};

// The block at p from state s. False when it needs the reference word function: a trigger edge
// or a wrap of the 24-bit time (the caller also keeps blocks before the first TIME_HIGH there).
NR_AVX2 inline bool evt3Lanes8(const uint8_t* p, const RawDecoderState& s, uint32_t height, Evt3Lanes8& l) {
    const __m256i w = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const __m256i type = _mm256_srli_epi32(w, 12);
    l.payload = _mm256_and_si256(w, _mm256_set1_epi32(0xFFF));
    const __m256i vT = _mm256_cmpeq_epi32(type, _mm256_set1_epi32(0xA));
    const __m256i vH = _mm256_cmpeq_epi32(type, _mm256_set1_epi32(0x8));
    const __m256i carryH = _mm256_set1_epi32(int(s.timeHigh));
    // Most blocks only repeat the TIME_HIGH in force (see Evt3Avx512.h).
    const __m256i vNewH = _mm256_andnot_si256(_mm256_cmpeq_epi32(l.payload, carryH), vH);
    l.highChanged = !_mm256_testz_si256(vNewH, vNewH);
    const __m256i lastL = evt3Last8(_mm256_cmpeq_epi32(type, _mm256_set1_epi32(0x6)));
    l.lowv = evt3Fetch8(lastL, l.payload, _mm256_set1_epi32(int(s.timeLow)));
    if (!l.highChanged) {
        if (!_mm256_testz_si256(vT, vT)) return false;
        l.t24 = _mm256_or_si256(_mm256_slli_epi32(carryH, 12), l.lowv);
    } else {
        l.hv = evt3Fetch8(evt3Last8(vH), l.payload, carryH);
        const __m256i prevH = _mm256_blend_epi32(evt3ShiftUp<1>(l.hv), carryH, 0x01);
        const __m256i vChanged = _mm256_andnot_si256(_mm256_cmpeq_epi32(l.payload, prevH), vH);
        const __m256i vWrap = _mm256_and_si256(
            vChanged, _mm256_cmpgt_epi32(prevH, _mm256_add_epi32(l.payload, _mm256_set1_epi32(2047))));
        const __m256i rare = _mm256_or_si256(vT, vWrap);
        if (!_mm256_testz_si256(rare, rare)) return false;
        // the low part restarts at 0 where TIME_HIGH changed after the last TIME_LOW (none is negative)
        const __m256i restart = _mm256_cmpgt_epi32(evt3Last8(vChanged), lastL);
        l.lowv = _mm256_andnot_si256(restart, l.lowv);
        l.t24 = _mm256_or_si256(_mm256_slli_epi32(l.hv, 12), l.lowv);
    }

    l.xv = _mm256_and_si256(l.payload, _mm256_set1_epi32(0x7FF));
    const __m256i lastY = evt3Last8(_mm256_cmpeq_epi32(type, _mm256_setzero_si256()));
    l.yv = evt3Fetch8(lastY, l.xv, _mm256_set1_epi32(int(s.y)));
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

// Vector base: the last VECT_BASE_X plus the spans of the vector words since.
NR_AVX2 inline void evt3VectorLanes8(const Evt3Lanes8& l, const RawDecoderState& s, Evt3VectorLanes8& v) {
    v.inc = _mm256_or_si256(_mm256_and_si256(l.v12, _mm256_set1_epi32(12)), _mm256_and_si256(l.v8, _mm256_set1_epi32(8)));
    __m256i pi = v.inc;
    pi = _mm256_add_epi32(pi, evt3ShiftUp<1>(pi));
    pi = _mm256_add_epi32(pi, evt3ShiftUp<2>(pi));
    pi = _mm256_add_epi32(pi, evt3ShiftUp<4>(pi));
    const __m256i pe = _mm256_sub_epi32(pi, v.inc);
    const __m256i lastB = evt3Last8(l.vB);
    const __m256i startVal = evt3Fetch8(lastB, l.xv, _mm256_set1_epi32(int(s.base)));
    const __m256i startP = evt3Fetch8(lastB, pe, _mm256_setzero_si256());
    v.basev = _mm256_sub_epi32(_mm256_add_epi32(startVal, pe), startP);
    v.polv = evt3Fetch8(lastB, l.pv, _mm256_set1_epi32(s.polarity));
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
    if (v) evt3BlockEndVector(s, evt3Lane7(v->basev), evt3Lane7(v->inc), evt3Lane7(v->polv));
    evt3BlockEnd(s, evt3Lane7(l.yv), l.highChanged, l.highChanged ? evt3Lane7(l.hv) : 0, evt3Lane7(l.lowv));
}

} // namespace norvale::detail
