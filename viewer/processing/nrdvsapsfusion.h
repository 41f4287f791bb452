#pragma once

// DvsApsFusionProccessor: pairs each APS frame of a live fusion camera with the events of its own
// window, by time. The window of a frame runs from its timestamp (the start of its exposure) to the
// start of the next exposure: the next rising edge on trigger channel 0, or, while no edge tells it
// (the channel is off, or its edge was lost), the next frame's timestamp. Every event thus belongs to
// exactly one frame, and a frame or an edge that never comes costs at most that one frame.
//
// A frame is shown once its window is complete: the event stream has passed the window's end (an
// event at or after it, or a later frame, which the driver delivers only after the events before
// its exposure's end). Frames are shown oldest first, one at a time, each at most once.
//
// Threads: the camera's driver threads (events and trigger edges from its streaming thread, frames
// from its APS thread) and the owner's thread (setCallback, clearCache); any thread may call.
// Lock: mutex guards everything and is held while the callback runs, so frames are shown strictly
// in time order and never two at once. The callback must not call back into this object.
//
// Decisions
// - Memory stays flat: events live in at most kPoolBuffers pooled buffers of kBufferEvents each
//   (their capacity reserved, not touched, so an idle processor stays small). Each exposure's
//   events start a new buffer, and a buffer no frame to come can need goes back to the pool at
//   once, so only the pages of a few exposures are ever touched. When every buffer is in use the
//   oldest is let go and counted in droppedEvents; a frame whose window lost events that way is
//   not shown.
// - At most kMaxWaitingFrames frames wait for their window to complete (the oldest is let go), and
//   kMaxEdges edges are remembered.
// - While no edge tells where a window ends, or the edge found lies more than one and a half frame
//   periods away (the next edge was lost), the window ends one frame period after its start; the
//   period is the smallest recent gap between frames or between edges.
// - A timestamp going backwards (the camera clock restarted) drops everything held, as clearCache.
// - The callback gets the window's events as spans in time order (a window may cross buffers);
//   nothing is copied.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "norvale/ApsFrame.h"
#include "norvale/Event2D.h"
#include "norvale/ObjectPool.h"

namespace norvale {

class DvsApsFusionProccessor {
public:
    struct EventSpan {
        const Event2D* begin;
        const Event2D* end;
    };
    // The frame and its window's events: count spans, in time order.
    using Callback = std::function<void(ApsFrame&, const EventSpan* spans, size_t count)>;

    static constexpr size_t kPoolBuffers = 10;
    static constexpr size_t kBufferEvents = 3145728; // 3 * 2^20
    static constexpr size_t kMaxWaitingFrames = 4;
    static constexpr size_t kMaxEdges = 64;
    static constexpr uint16_t kFrameChannel = 0; // the trigger channel that frames the exposures

    // bufferEvents: the capacity of each pooled buffer (smaller in tests).
    explicit DvsApsFusionProccessor(size_t bufferEvents = kBufferEvents);
    ~DvsApsFusionProccessor();
    DvsApsFusionProccessor(const DvsApsFusionProccessor&) = delete;
    DvsApsFusionProccessor& operator=(const DvsApsFusionProccessor&) = delete;

    void setCallback(Callback cb);
    // Events in time order, as the driver delivers them.
    void addEvents(const Event2D* begin, const Event2D* end);
    // Rising edges of channel kFrameChannel mark exposure starts; other edges are ignored.
    void addTriggerIn(const EventTriggerIn& trigger);
    // Queues a clone (own pixels), so the driver's frame memory is free again at once.
    void addApsFrame(const ApsFrame& frame);
    // Drops every waiting frame, edge and event (a new stream begins).
    void clearCache();

    size_t waitingFrames() const;
    size_t heldEvents() const;
    size_t idleBuffers() const { return bufferPool->size(); }
    // Events let go before a frame could show them, since construction. Any thread.
    uint64_t droppedEvents() const { return dropped.load(); }
    // Frames not shown: pushed out of the queue or their window lost events. Any thread.
    uint64_t droppedFrames() const { return droppedFrameCount.load(); }

private:
    using Buffer = std::shared_ptr<std::vector<Event2D>>;

    void resetLocked();
    void pairLocked();
    bool windowEndLocked(size_t frameIndex, uint64_t& end) const;
    void noteGapLocked(uint64_t gap);
    void showLocked(ApsFrame& frame, uint64_t from, uint64_t to);
    void trimLocked();
    void releaseOldestLocked();
    Buffer freshBuffer();

    const size_t bufferEvents;
    std::unique_ptr<NrObjectPool<std::vector<Event2D>>> bufferPool;
    std::deque<Buffer> history;      // events in time order, oldest buffer first
    std::deque<uint64_t> edges;      // rising edges of the frame channel, in time order
    std::deque<ApsFrame> apsFrames;  // waiting for their window to complete, oldest first
    std::deque<uint64_t> gaps;       // recent gaps between frames and between edges
    uint64_t streamUs = 0;           // every event before this has arrived
    uint64_t completeFrom = 0;       // the history holds every event at or after this
    uint64_t lastEventUs = 0, lastFrameUs = 0, lastEdgeUs = 0;
    uint64_t doneUntil = 0;          // end of the last window shown or given up
    bool anyEvent = false, anyFrame = false, anyEdge = false;
    bool splitAtNextEvents = false;  // an exposure began: its events start a new buffer
    Callback callback;
    mutable std::mutex mutex;
    std::atomic<uint64_t> dropped{0};
    std::atomic<uint64_t> droppedFrameCount{0};
};

} // namespace norvale
