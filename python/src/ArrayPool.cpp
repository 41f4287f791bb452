#include "ArrayPool.h"

#include <cstdlib>
#include <mutex>

namespace norvale::python {

namespace {

struct Block {
    Event2D* events; // malloc'd
    size_t room;
};

std::mutex mutex;
std::vector<std::vector<Event2D>> vectors; // guarded by mutex, oldest first
std::vector<Block> blocks;                 // guarded by mutex, oldest first
size_t keptBytes = 0;                      // guarded by mutex

// A kept item may be up to four times larger than asked for: a small array should not hold on to
// the memory of a large one.
bool fits(size_t room, size_t events) { return room >= events && room / 4 <= events + (size_t(1) << 16); }

// Frees the oldest items until `incoming` more bytes fit; with mutex held.
template <class Free>
void makeRoom(size_t incoming, Free&& freeBlock) {
    while (keptBytes + incoming > kPoolBytes && (!vectors.empty() || !blocks.empty())) {
        if (!vectors.empty()) {
            keptBytes -= vectors.front().capacity() * sizeof(Event2D);
            vectors.erase(vectors.begin());
        } else {
            keptBytes -= blocks.front().room * sizeof(Event2D);
            freeBlock(blocks.front());
            blocks.erase(blocks.begin());
        }
    }
}

void freeBlock(const Block& b) { std::free(b.events); }

} // namespace

std::vector<Event2D> takeRoom(size_t events) {
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = vectors.size(); i-- > 0;) {
        if (!fits(vectors[i].capacity(), events)) continue;
        std::vector<Event2D> v = std::move(vectors[i]);
        vectors.erase(vectors.begin() + long(i));
        keptBytes -= v.capacity() * sizeof(Event2D);
        return v;
    }
    return {};
}

std::vector<Event2D> takeVector(size_t events) {
    std::vector<Event2D> v = takeRoom(events);
    v.clear();
    return v;
}

void giveVector(std::vector<Event2D>&& v) {
    const size_t bytes = v.capacity() * sizeof(Event2D);
    if (bytes == 0 || bytes > kPoolBytes / 2) return; // freed by the caller's destructor
    std::lock_guard<std::mutex> lock(mutex);
    makeRoom(bytes, freeBlock);
    vectors.push_back(std::move(v));
    keptBytes += bytes;
}

bool takeBuffer(size_t events, EventBuffer& out) {
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = blocks.size(); i-- > 0;) {
        if (!fits(blocks[i].room, events)) continue;
        out.adopt(blocks[i].events, blocks[i].room);
        keptBytes -= blocks[i].room * sizeof(Event2D);
        blocks.erase(blocks.begin() + long(i));
        return true;
    }
    return false;
}

void giveBuffer(Event2D* events, size_t room) {
    const size_t bytes = room * sizeof(Event2D);
    if (!events || bytes > kPoolBytes / 2) {
        std::free(events);
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    makeRoom(bytes, freeBlock);
    blocks.push_back(Block{events, room});
    keptBytes += bytes;
}

} // namespace norvale::python
