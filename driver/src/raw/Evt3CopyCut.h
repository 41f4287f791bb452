#pragma once

// A cut of an EVT 3.0 file that copies words instead of re-encoding every event. The index tells
// which chunks hold nothing but events and triggers of the range (their smallest time from on
// is inside, their largest time up to is inside); those are copied unchanged, after the words
// that bring a reader to the decoder state the first copied chunk starts in. Only the chunks at
// the edges are decoded, and their events of the range encoded. Called on the cut's thread.
#include <functional>
#include <vector>

#include "norvale/RawFileWriter.h"
#include "raw/RawIndex.h"

namespace norvale::detail {

// One decoded piece: its events and trigger edges. Returning false stops the decoding.
using PieceSink = std::function<bool(const Event2D* events, size_t n, const std::vector<EventTriggerIn>& triggers)>;

// Chunks [first, last) can hold events of the range; [copyFirst, copyLast) hold only such.
struct CopyCutPlan {
    size_t first = 0, copyFirst = 0, copyLast = 0, last = 0;
};

// False when no chunk can be copied (then a cut re-encodes everything).
bool planCopyCut(const RawIndex& index, uint64_t from, uint64_t to, CopyCutPlan& plan);

struct CopyCutSource {
    int fd = -1; // the raw file; index.dataOffset is where its words start
    const RawIndex* index = nullptr;
    // Decodes chunks [first, last) from the indexed state of first, triggers included; false on a
    // read error or when sink stopped.
    std::function<bool(size_t first, size_t last, const PieceSink& sink)> decodeChunks;
    // The event time the cut has reached; false cancels.
    std::function<bool(uint64_t now)> progress;
};

// Writes the events and triggers of [from, to) into out, which is open with its header. False on
// failure (logged) or when progress cancelled (cancelled is set then).
bool copyCutEvt3(const CopyCutSource& src, const CopyCutPlan& plan, uint64_t from, uint64_t to, RawFileWriter& out,
                 bool& cancelled);

// The events and triggers of one piece with from <= t < to, into kept and keptTrig (cleared first).
void keepRange(const Event2D* events, size_t n, const std::vector<EventTriggerIn>& triggers, uint64_t from,
               uint64_t to, std::vector<Event2D>& kept, std::vector<EventTriggerIn>& keptTrig);

} // namespace norvale::detail
