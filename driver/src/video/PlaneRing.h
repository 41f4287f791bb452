#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "video/EventStatePlane.h"

namespace norvale::video {

// A fixed ring of EventStatePlanes between one producer (the counting thread) and one consumer (the
// painting and encoding thread). Planes go round in order, so the n-th plane taken by the consumer
// is the n-th one published; memory stays at the planes made by the constructor.
//
// Producer: nextToFill, fill it, publish; close when done. Consumer: nextToPaint, paint it,
// recycle. Either side may stop() the other (cancel, error): waits then return null at once.
// mutex guards published, recycled, closed and stopped; a plane belongs to one side at a time
// (producer between nextToFill and publish, consumer between nextToPaint and recycle).
class PlaneRing {
public:
    PlaneRing(size_t count, int width, int height);

    // A plane to fill, waiting while all are in use; null once stopped.
    EventStatePlane* nextToFill();
    void publish();
    // No more planes will be published.
    void close();

    // The oldest published plane, waiting for one; null once stopped, or closed and all painted.
    EventStatePlane* nextToPaint();
    void recycle();

    void stop();
    bool stopped() const;

private:
    std::vector<EventStatePlane> planes;
    mutable std::mutex mutex;
    std::condition_variable spaceFreed; // producer waits
    std::condition_variable planeReady; // consumer waits
    uint64_t published = 0;
    uint64_t recycled = 0;
    bool isClosed = false;
    bool isStopped = false;
};

} // namespace norvale::video
