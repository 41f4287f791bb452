#include "video/PlaneRing.h"

namespace norvale::video {

PlaneRing::PlaneRing(size_t count, int width, int height) {
    planes.reserve(count);
    for (size_t i = 0; i < count; ++i) planes.emplace_back(width, height);
}

EventStatePlane* PlaneRing::nextToFill() {
    std::unique_lock<std::mutex> lock(mutex);
    spaceFreed.wait(lock, [this] { return isStopped || published - recycled < planes.size(); });
    if (isStopped) return nullptr;
    return &planes[published % planes.size()];
}

void PlaneRing::publish() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++published;
    }
    planeReady.notify_one();
}

void PlaneRing::close() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        isClosed = true;
    }
    planeReady.notify_one();
}

EventStatePlane* PlaneRing::nextToPaint() {
    std::unique_lock<std::mutex> lock(mutex);
    planeReady.wait(lock, [this] { return isStopped || isClosed || recycled < published; });
    if (isStopped || recycled == published) return nullptr;
    return &planes[recycled % planes.size()];
}

void PlaneRing::recycle() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++recycled;
    }
    spaceFreed.notify_one();
}

void PlaneRing::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        isStopped = true;
    }
    spaceFreed.notify_all();
    planeReady.notify_all();
}

bool PlaneRing::stopped() const {
    std::lock_guard<std::mutex> lock(mutex);
    return isStopped;
}

} // namespace norvale::video
