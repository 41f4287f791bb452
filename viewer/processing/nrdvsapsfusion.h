#pragma once

// DvsApsFusionProccessor: pairs each APS frame of a live fusion camera with the events that belong
// to it. Events go into the current buffer; a rising trigger edge closes it. The n-th APS frame
// after clearCache is paired with the n-th closed buffer (the events between the (n-1)-th and the
// n-th rising edge), whatever their timestamps; a frame or a buffer without its partner waits.
// Each pair is handed to the callback, oldest first, one at a time.
//
// Threads: the camera's driver threads (events and trigger edges from its streaming thread, frames
// from its APS thread) and the owner's thread (setCallback, clearCache); any thread may call.
// Lock: mutex guards everything (the queues, currentBuffer, callback) and is held while the callback
// runs, so frames are shown strictly in pairing order and never two at once. The callback must not
// call back into this object.
//
// Decisions
// - addEvents takes the pairing lock too: the camera's callbacks come from different threads, and
//   a trigger edge replaces the buffer that events are appended to.
// - Memory stays flat: at most kMaxWaitingFrames frames and kMaxWaitingBuffers closed buffers wait
//   (the oldest is dropped), and the current buffer keeps at most kBufferEvents events (without
//   trigger edges it restarts with the newest batch).
// - The pool's ten buffers of kBufferEvents have their capacity reserved, not filled: their memory
//   is only touched (resident) as events are written into it, so an idle processor stays small.
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
    using Callback = std::function<void(ApsFrame&, Event2D*, Event2D*)>;

    static constexpr size_t kPoolBuffers = 10;
    static constexpr size_t kBufferEvents = 3145728; // 3 * 2^20
    static constexpr size_t kMaxWaitingFrames = 4;
    static constexpr size_t kMaxWaitingBuffers = 4;

    DvsApsFusionProccessor();
    ~DvsApsFusionProccessor();
    DvsApsFusionProccessor(const DvsApsFusionProccessor&) = delete;
    DvsApsFusionProccessor& operator=(const DvsApsFusionProccessor&) = delete;

    void setCallback(Callback cb);
    void addEvents(const Event2D* begin, const Event2D* end);
    // Only a rising edge (value 1) closes the current buffer.
    void addTriggerIn(const EventTriggerIn& trigger);
    // Queues a clone (own pixels), so the driver's frame memory is free again at once.
    void addApsFrame(const ApsFrame& frame);
    // Drops every waiting frame and buffer and empties the current buffer.
    void clearCache();

    size_t waitingFrames() const;
    size_t waitingBuffers() const;
    size_t currentEvents() const;
    size_t idleBuffers() const { return bufferPool->size(); }
    // Events dropped since construction because the pairing fell behind. Any thread.
    uint64_t droppedEvents() const { return dropped.load(); }

private:
    void pairLocked();
    std::shared_ptr<std::vector<Event2D>> freshBuffer();

    std::unique_ptr<NrObjectPool<std::vector<Event2D>>> bufferPool;
    std::deque<std::shared_ptr<std::vector<Event2D>>> eventBuffers;
    std::shared_ptr<std::vector<Event2D>> currentBuffer;
    std::deque<ApsFrame> apsFrames;
    Callback callback;
    mutable std::mutex mutex;
    std::atomic<uint64_t> dropped{0};
};

} // namespace norvale
