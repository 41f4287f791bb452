#include "processing/nrapsprefetch.h"

#include <utility>

NrApsPrefetch::NrApsPrefetch() : thread(&NrApsPrefetch::run, this) {}

NrApsPrefetch::~NrApsPrefetch() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    cv.notify_all();
    thread.join();
}

void NrApsPrefetch::setReader(norvale::ApsFileReader* r) {
    wait();
    std::lock_guard<std::mutex> lock(mutex);
    reader = r;
}

void NrApsPrefetch::start() {
    wait();
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!reader)
            return;
        requested = true;
        started = true;
    }
    cv.notify_all();
}

bool NrApsPrefetch::take(norvale::ApsFrame& out) {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [this] { return !requested; });
    if (!started)
        return false;
    started = false;
    if (ok)
        std::swap(out, spare);
    return ok;
}

void NrApsPrefetch::wait() {
    std::unique_lock<std::mutex> lock(mutex);
    cv.wait(lock, [this] { return !requested; });
    started = false;
}

void NrApsPrefetch::run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        cv.wait(lock, [this] { return quit || requested; });
        if (quit)
            return;
        norvale::ApsFileReader* r = reader;
        norvale::ApsFrame frame = spare; // shares the buffer: decoded in place when the size fits
        lock.unlock();
        const bool decoded = r->readNextFrame(frame);
        lock.lock();
        spare = frame;
        ok = decoded;
        requested = false;
        cv.notify_all();
    }
}
