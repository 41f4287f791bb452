// Count-only EVT 3.0 kernel for prepareFile: the figures of decoding every event and tallying
// it (counts, ON/OFF, time bounds, events per rate slot), without writing a single event.
//
// What made the difference: prepare used to decode every event of the file (16 bytes each, some
// 11 GB of stores for a 1 GiB recording) into a scratch buffer and read it back to count it.
// Here the lanes of a block give the number of events of each word directly (a popcount of the
// vector bits inside the width; an ADDR_X is a run of one), and the counts, ON counts and time
// bounds are summed in vector registers. The rate slot is checked once per block against the
// slot of the events before; per-slot sums leave the registers only when the slot changes
// (about once per millisecond of recording). Blocks that cross a slot, hold a trigger edge or a
// wrap, and everything before the first event, go through the reference word function.

// GCC 12 warns about the deliberately undefined upper lanes inside its own AVX-512 intrinsics.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include "raw/Evt3Avx512.h"
#include "raw/Evt3CountSlot.h"

namespace norvale::detail {

NR_AVX512 void evt3CountAvx512(const uint8_t* bytes, size_t nWords, RawDecoderState& s, uint32_t width,
                               uint32_t height, EventTally& tally, std::vector<EventTriggerIn>* triggers) {
    EventCounter sink{tally};
    const __m512i zero = _mm512_setzero_si512();
    const __m512i ones = _mm512_set1_epi32(-1);
    const __m512i vWidth = _mm512_set1_epi32(int(width));
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const __m512i bitsIn = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4));
    constexpr size_t kFlushWords = size_t(1) << 22; // keeps the 32-bit lane sums from overflowing

    // Sums of the blocks since the last flush, all of them in the rate slot of `slots`.
    __m512i accN = zero, accOn = zero, accMin = ones, accMax = zero;
    __m512i accX = zero, accY = zero; // largest x and y of the events counted
    Evt3CountSlot slots;
    __m512i lo24 = ones, hi24 = zero;
    auto sum = [](__m512i v) NR_AVX512 {
        return uint64_t(_mm512_reduce_add_epi64(_mm512_add_epi64(
            _mm512_cvtepu32_epi64(_mm512_castsi512_si256(v)), _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(v, 1)))));
    };
    auto flush = [&]() NR_AVX512 {
        slots.flush(tally, s, sum(accN), sum(accOn), _mm512_reduce_min_epu32(accMin), _mm512_reduce_max_epu32(accMax));
        tally.maxX = std::max(tally.maxX, _mm512_reduce_max_epu32(accX));
        tally.maxY = std::max(tally.maxY, _mm512_reduce_max_epu32(accY));
        accN = accOn = accMax = accX = accY = zero;
        accMin = ones;
    };
    auto rebound = [&]() NR_AVX512 {
        slots.rebound(tally, s);
        lo24 = _mm512_set1_epi32(int(slots.lo24));
        hi24 = _mm512_set1_epi32(int(slots.hi24));
    };

    rebound();
    size_t i = 0;
    for (; i + 16 <= nWords; i += 16) {
        if ((i & (kFlushWords - 1)) == 0) flush();
        const uint8_t* p = bytes + 2 * i;
        Evt3Lanes l;
        if (s.haveTime && tally.haveFirst && evt3Lanes(p, s, height, l)) {
            Evt3VectorLanes v;
            evt3VectorLanes(l, s, v);
            __m512i first, bits, pol;
            evt3Runs(l, v, first, bits, pol);
            // bits whose x = first + i lies inside the width: ~(~0 << (width - first)), shifts past 31 give 0
            const __m512i room = _mm512_maskz_sub_epi32(_mm512_cmplt_epu32_mask(first, vWidth), vWidth, first);
            const __m512i inside = _mm512_andnot_si512(_mm512_sllv_epi32(ones, room), ones);
            const __m512i b = _mm512_maskz_and_epi32((l.mX | l.m12 | l.m8) & l.mYok, bits, inside);
            // popcount of at most 12 bits: per-nibble table, then the two low bytes added
            const __m512i perByte = _mm512_add_epi8(_mm512_shuffle_epi8(bitsIn, _mm512_and_si512(b, nibble)),
                                                    _mm512_shuffle_epi8(bitsIn, _mm512_and_si512(_mm512_srli_epi16(b, 4), nibble)));
            const __m512i n = _mm512_add_epi32(_mm512_and_si512(perByte, _mm512_set1_epi32(0xFF)), _mm512_srli_epi32(perByte, 8));
            const __mmask16 ev = _mm512_cmpneq_epi32_mask(n, zero);
            const __mmask16 away =
                _mm512_mask_cmplt_epu32_mask(ev, l.t24, lo24) | _mm512_mask_cmpge_epu32_mask(ev, l.t24, hi24);
            if (!away) {
                accN = _mm512_add_epi32(accN, n);
                accOn = _mm512_mask_add_epi32(accOn, _mm512_cmpneq_epi32_mask(pol, zero), accOn, n);
                accMin = _mm512_mask_min_epu32(accMin, ev, accMin, l.t24);
                accMax = _mm512_mask_max_epu32(accMax, ev, accMax, l.t24);
                // the highest bit of b (at most 12 bits) is the exponent of b as a float
                const __m512i top = _mm512_sub_epi32(_mm512_srli_epi32(_mm512_castps_si512(_mm512_cvtepi32_ps(b)), 23),
                                                     _mm512_set1_epi32(127));
                accX = _mm512_mask_max_epu32(accX, ev, accX, _mm512_add_epi32(first, top));
                accY = _mm512_mask_max_epu32(accY, ev, accY, l.yv);
                evt3Advance(l, &v, s);
                continue;
            }
        }
        flush(); // the reference path may coarsen the slots or change the wrap
        for (int k = 0; k < 16; ++k) evt3Word(loadWord(p + 2 * k), s, width, height, sink, triggers);
        rebound();
    }
    flush();
    for (; i < nWords; ++i) evt3Word(loadWord(bytes + 2 * i), s, width, height, sink, triggers);
}

} // namespace norvale::detail
