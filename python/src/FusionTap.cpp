#include "FusionTap.h"

namespace norvale::python {

FusionTap::FusionTap(std::shared_ptr<FusionCamera> cam) : camera(std::move(cam)) {
    eventsId = camera->addEventsCallback([this](const Event2D* begin, const Event2D* end) {
        const size_t n = size_t(end - begin);
        std::lock_guard<std::mutex> lock(mutex);
        deliveredEvents += n;
        if (pending.size() + n > kMaxEvents) { // the reader is far behind: the older ones go
            lostEvents += pending.size();
            pending.clear();
            if (n > kMaxEvents) {
                lostEvents += n - kMaxEvents;
                begin = end - kMaxEvents;
            }
        }
        pending.insert(pending.end(), begin, end);
        wake.notify_all();
    });
    framesId = camera->addApsFrameCallback([this](const ApsFrame& frame) {
        std::lock_guard<std::mutex> lock(mutex);
        if (frames.size() == kMaxFrames) {
            frames.pop_front();
            ++lostFrames;
        }
        frames.push_back(frame); // shares the pixels: the camera renders each frame into a new buffer
        wake.notify_all();
    });
}

FusionTap::~FusionTap() {
    // Once removed, a callback is certain not to run any more.
    camera->removeCallback(eventsId);
    camera->removeCallback(framesId);
}

template <class Ready>
bool FusionTap::waitFor(std::unique_lock<std::mutex>& lock, std::chrono::duration<double> timeout, Ready ready) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::nanoseconds>(timeout);
    // A camera that is gone sends nothing more: no need to wait for the end of the timeout.
    while (!ready() && camera->isConnected())
        if (wake.wait_until(lock, std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(50))) ==
                std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= until)
            break;
    return ready();
}

bool FusionTap::takeEvents(std::vector<Event2D>& out, std::chrono::duration<double> timeout) {
    out.clear();
    std::unique_lock<std::mutex> lock(mutex);
    if (!waitFor(lock, timeout, [&] { return !pending.empty(); })) return false;
    out.swap(pending); // pending goes on in out's old memory
    return true;
}

bool FusionTap::takeFrame(ApsFrame& out, std::chrono::duration<double> timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    if (!waitFor(lock, timeout, [&] { return !frames.empty(); })) return false;
    out = frames.front();
    frames.pop_front();
    return true;
}

uint64_t FusionTap::delivered() const {
    std::lock_guard<std::mutex> lock(mutex);
    return deliveredEvents;
}
uint64_t FusionTap::droppedEvents() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lostEvents;
}
uint64_t FusionTap::droppedFrames() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lostFrames;
}

} // namespace norvale::python
