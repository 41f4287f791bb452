#pragma once

// Memory of event arrays that Python has let go of, kept for the next arrays: first touching fresh
// memory costs more than decoding into it on some machines (ours among them), and streaming with
// slices() or chunks() drops one array for the next all the time. At most kPoolBytes stay kept.
//
// Threads: any (arrays are freed with the GIL held, readers fill them without it); a mutex inside
// guards the lists and is never held while taking another lock.
#include <cstddef>
#include <vector>

#include "EventBuffer.h"
#include "norvale/Event2D.h"

namespace norvale::python {

constexpr size_t kPoolBytes = size_t(64) << 20;

// An empty vector, with room for at least `events` when a kept one fits.
std::vector<Event2D> takeVector(size_t events);
// The same with its elements left as they were: room for a reader that writes over them (clearing
// it would have the reader zero-fill it again).
std::vector<Event2D> takeRoom(size_t events);
void giveVector(std::vector<Event2D>&& v);

// Fills out (empty) with kept memory of room for at least `events`; false when none fits.
bool takeBuffer(size_t events, EventBuffer& out);
// Memory from EventBuffer::release, to keep or free.
void giveBuffer(Event2D* events, size_t room);

} // namespace norvale::python
