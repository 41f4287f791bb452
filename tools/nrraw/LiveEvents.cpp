#include "LiveEvents.h"

#include <algorithm>
#include <cstdio>

using namespace norvale;

std::unique_ptr<LiveEvents> LiveEvents::open(DvsCameraManager& manager, const std::string& serial) {
    std::unique_ptr<LiveEvents> live(new LiveEvents());
    bool started = false;
    if (manager.isFusionCamera(serial)) {
        live->fusion = manager.openFusionCamera(serial);
        if (live->fusion) {
            LiveEvents* self = live.get();
            live->callbackId =
                live->fusion->addEventsCallback([self](const Event2D* b, const Event2D* e) { self->put(b, e); });
            started = live->callbackId >= 0 && live->fusion->start(STREAM_DVS) == 0;
        }
    } else {
        live->dvs = manager.openCamera(serial);
        if (live->dvs) {
            std::vector<Event2D> none;
            live->dvs->setBatchEventsTime(1000000); // a second waits for a slow send before any is dropped
            live->dvs->getNextBatch(none);          // the hand-off keeps the stream from the first call on
            started = live->dvs->start() == 0;
        }
    }
    if (!started) {
        std::fprintf(stderr, "nrraw: camera %s cannot be opened\n", serial.c_str());
        return nullptr;
    }
    return live;
}

LiveEvents::~LiveEvents() {
    if (dvs) dvs->stop();
    if (fusion) {
        fusion->stop(STREAM_DVS);
        if (callbackId >= 0) fusion->removeCallback(callbackId); // waits until it no longer runs
    }
}

void LiveEvents::put(const Event2D* b, const Event2D* e) {
    std::lock_guard<std::mutex> lock(mutex);
    const size_t n = std::min(size_t(e - b), kMaxHeld - std::min(kMaxHeld, held.size()));
    held.insert(held.end(), b, b + n);
    heldDropped += uint64_t(e - b) - n;
}

bool LiveEvents::next(std::vector<Event2D>& out) {
    if (dvs) return dvs->getNextBatch(out);
    out.clear();
    std::lock_guard<std::mutex> lock(mutex);
    out.swap(held); // the two vectors trade their memory back and forth
    return !out.empty();
}

bool LiveEvents::connected() const { return dvs ? dvs->isConnected() : fusion->isConnected(); }

uint64_t LiveEvents::dropped() const {
    if (dvs) return dvs->getDroppedEventCount();
    std::lock_guard<std::mutex> lock(mutex);
    return heldDropped;
}
