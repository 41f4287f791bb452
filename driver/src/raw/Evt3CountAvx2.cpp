// Count-only EVT 3.0 kernel for prepareFile on CPUs with AVX2: the AVX-512 counting kernel's
// method (Evt3CountAvx512.cpp) on 8-word blocks. The events of each word are a popcount of its
// bits inside the width, summed with the ON counts and time bounds in vector registers while the
// block stays in the rate slot of the events before it.
#include "raw/Evt3Avx2.h"
#include "raw/Evt3CountSlot.h"

namespace norvale::detail {

NR_AVX2 void evt3CountAvx2(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width,
                           uint32_t height, EventTally& tally, std::vector<EventTriggerIn>* triggers) {
    EventCounter sink{tally};
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ones = _mm256_set1_epi32(-1);
    const __m256i vWidth = _mm256_set1_epi32(int(width));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i bitsIn =
        _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
    constexpr size_t kFlushWords = size_t(1) << 22; // keeps the 32-bit lane sums from overflowing

    // Sums of the blocks since the last flush, all of them in the rate slot of `slots`.
    __m256i accN = zero, accOn = zero, accMin = ones, accMax = zero;
    __m256i accX = zero, accY = zero; // largest x and y of the events counted
    Evt3CountSlot slots;
    __m256i lo24 = ones, hi24 = zero;
    auto lanes = [](__m256i v, uint32_t (&a)[8]) NR_AVX2 { _mm256_storeu_si256(reinterpret_cast<__m256i*>(a), v); };
    auto flush = [&]() NR_AVX2 {
        uint32_t n[8], on[8], mn[8], mx[8], xs[8], ys[8];
        lanes(accN, n);
        lanes(accOn, on);
        lanes(accMin, mn);
        lanes(accMax, mx);
        lanes(accX, xs);
        lanes(accY, ys);
        uint64_t sn = 0, son = 0;
        uint32_t lo = 0xFFFFFFFFu, hi = 0;
        for (int k = 0; k < 8; ++k) {
            sn += n[k];
            son += on[k];
            lo = std::min(lo, mn[k]);
            hi = std::max(hi, mx[k]);
            tally.maxX = std::max(tally.maxX, xs[k]);
            tally.maxY = std::max(tally.maxY, ys[k]);
        }
        slots.flush(tally, s, sn, son, lo, hi);
        accN = accOn = accMax = accX = accY = zero;
        accMin = ones;
    };
    auto rebound = [&]() NR_AVX2 {
        slots.rebound(tally, s);
        lo24 = _mm256_set1_epi32(int(slots.lo24));
        hi24 = _mm256_set1_epi32(int(slots.hi24));
    };

    rebound();
    size_t i = 0;
    for (; i + 8 <= nWords; i += 8) {
        if ((i & (kFlushWords - 1)) == 0) flush();
        const uint8_t* p = bytes + 2 * i;
        Evt3Lanes8 l;
        if (s.haveTime && tally.haveFirst && evt3Lanes8(p, s, height, l)) {
            Evt3VectorLanes8 v;
            evt3VectorLanes8(l, s, v);
            __m256i first, bits, pol;
            evt3Runs8(l, v, first, bits, pol);
            // bits whose x = first + i lies inside the width: ~(~0 << (width - first)), shifts past 31 give 0
            const __m256i room = _mm256_and_si256(_mm256_cmpgt_epi32(vWidth, first), _mm256_sub_epi32(vWidth, first));
            const __m256i inside = _mm256_andnot_si256(_mm256_sllv_epi32(ones, room), ones);
            const __m256i emit = _mm256_and_si256(_mm256_or_si256(l.vX, _mm256_or_si256(l.v12, l.v8)), l.vYok);
            const __m256i b = _mm256_and_si256(emit, _mm256_and_si256(bits, inside));
            // popcount of at most 12 bits: per-nibble table, then the two low bytes added
            const __m256i perByte =
                _mm256_add_epi8(_mm256_shuffle_epi8(bitsIn, _mm256_and_si256(b, nibble)),
                                _mm256_shuffle_epi8(bitsIn, _mm256_and_si256(_mm256_srli_epi16(b, 4), nibble)));
            const __m256i n =
                _mm256_add_epi32(_mm256_and_si256(perByte, _mm256_set1_epi32(0xFF)), _mm256_srli_epi32(perByte, 8));
            const __m256i ev = _mm256_xor_si256(_mm256_cmpeq_epi32(n, zero), ones);
            // 24-bit times and bounds: signed compares are exact
            const __m256i outside =
                _mm256_or_si256(_mm256_cmpgt_epi32(lo24, l.t24), _mm256_xor_si256(_mm256_cmpgt_epi32(hi24, l.t24), ones));
            if (_mm256_testz_si256(ev, outside)) {
                accN = _mm256_add_epi32(accN, n);
                accOn = _mm256_add_epi32(accOn, _mm256_andnot_si256(_mm256_cmpeq_epi32(pol, zero), n));
                accMin = _mm256_blendv_epi8(accMin, _mm256_min_epu32(accMin, l.t24), ev);
                accMax = _mm256_blendv_epi8(accMax, _mm256_max_epu32(accMax, l.t24), ev);
                // the highest bit of b (at most 12 bits) is the exponent of b as a float
                const __m256i top = _mm256_sub_epi32(_mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(b)), 23),
                                                     _mm256_set1_epi32(127));
                accX = _mm256_blendv_epi8(accX, _mm256_max_epu32(accX, _mm256_add_epi32(first, top)), ev);
                accY = _mm256_blendv_epi8(accY, _mm256_max_epu32(accY, l.yv), ev);
                evt3Advance8(l, &v, s);
                continue;
            }
        }
        flush(); // the reference path may coarsen the slots or change the wrap
        for (int k = 0; k < 8; ++k) evt3Word(loadWord(p + 2 * k), s, width, height, sink, triggers);
        rebound();
    }
    flush();
    for (; i < nWords; ++i) evt3Word(loadWord(bytes + 2 * i), s, width, height, sink, triggers);
}

} // namespace norvale::detail
