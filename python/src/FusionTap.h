#pragma once

// What a fusion camera streams, kept for Python to take: the events since the last take and the
// newest APS frames. A reader that falls behind loses the oldest, counted, never an unbounded
// queue: at most kMaxEvents events (when more come, the older ones go) and kMaxFrames frames.
//
// Threads: the events callback runs on the camera's streaming thread, the frame callback on its
// APS thread, the takes on a Python thread with the GIL released. `mutex` guards every field but
// the camera and the callback ids (set in the constructor, used in the destructor); `wake` tells a
// waiting take that something came.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "norvale/ApsFrame.h"
#include "norvale/Event2D.h"
#include "norvale/FusionCamera.h"

namespace norvale::python {

class FusionTap {
public:
    static constexpr size_t kMaxEvents = size_t(4) << 20;
    static constexpr size_t kMaxFrames = 4;

    explicit FusionTap(std::shared_ptr<FusionCamera> camera); // adds the callbacks
    ~FusionTap();                                             // removes them
    FusionTap(const FusionTap&) = delete;
    FusionTap& operator=(const FusionTap&) = delete;

    // The events since the last take (replacing out's content), in time order, waiting up to
    // timeout for some; false when none came.
    bool takeEvents(std::vector<Event2D>& out, std::chrono::duration<double> timeout);
    // The oldest frame kept, waiting up to timeout for one; false when none came.
    bool takeFrame(ApsFrame& out, std::chrono::duration<double> timeout);

    uint64_t delivered() const;
    uint64_t droppedEvents() const;
    uint64_t droppedFrames() const;

private:
    template <class Ready>
    bool waitFor(std::unique_lock<std::mutex>& lock, std::chrono::duration<double> timeout, Ready ready);

    std::shared_ptr<FusionCamera> camera;
    int eventsId = -1, framesId = -1;

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::vector<Event2D> pending;
    std::deque<ApsFrame> frames;
    uint64_t deliveredEvents = 0, lostEvents = 0, lostFrames = 0;
};

} // namespace norvale::python
