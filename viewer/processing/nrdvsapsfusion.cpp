#include "processing/nrdvsapsfusion.h"

#include <algorithm>

namespace norvale {

DvsApsFusionProccessor::DvsApsFusionProccessor()
    : bufferPool(NrObjectPoolFactory::createUniqueNrObjectPool<std::vector<Event2D>>(kPoolBuffers)) {
    // Reserve each buffer's capacity without writing it: untouched pages cost no memory.
    std::vector<std::shared_ptr<std::vector<Event2D>>> all;
    all.reserve(kPoolBuffers);
    for (size_t i = 0; i < kPoolBuffers; ++i) {
        all.push_back(bufferPool->acquire());
        all.back()->reserve(kBufferEvents);
    }
    all.clear(); // back into the pool
    currentBuffer = freshBuffer();
}

DvsApsFusionProccessor::~DvsApsFusionProccessor() {
    std::lock_guard<std::mutex> lock(mutex);
    callback = nullptr;
}

std::shared_ptr<std::vector<Event2D>> DvsApsFusionProccessor::freshBuffer() {
    std::shared_ptr<std::vector<Event2D>> b = bufferPool->acquire();
    b->clear(); // a reused buffer still holds its last frame's events
    return b;
}

void DvsApsFusionProccessor::setCallback(Callback cb) {
    std::lock_guard<std::mutex> lock(mutex);
    callback = std::move(cb);
}

void DvsApsFusionProccessor::addEvents(const Event2D* begin, const Event2D* end) {
    if (!begin || begin >= end)
        return;
    size_t n = size_t(end - begin);
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<Event2D>& b = *currentBuffer;
    if (b.size() + n > kBufferEvents) { // no edge for a long time: keep the newest only
        dropped += b.size();
        b.clear();
        if (n > kBufferEvents) {
            dropped += n - kBufferEvents;
            begin = end - kBufferEvents;
            n = kBufferEvents;
        }
    }
    b.insert(b.end(), begin, end);
}

void DvsApsFusionProccessor::addTriggerIn(const EventTriggerIn& trigger) {
    if (trigger.value != 1)
        return;
    std::lock_guard<std::mutex> lock(mutex);
    eventBuffers.push_back(std::move(currentBuffer));
    if (eventBuffers.size() > kMaxWaitingBuffers) {
        dropped += eventBuffers.front()->size();
        eventBuffers.pop_front();
    }
    currentBuffer = freshBuffer();
    pairLocked();
}

void DvsApsFusionProccessor::addApsFrame(const ApsFrame& frame) {
    ApsFrame copy = frame.clone();
    std::lock_guard<std::mutex> lock(mutex);
    apsFrames.push_back(std::move(copy));
    if (apsFrames.size() > kMaxWaitingFrames)
        apsFrames.pop_front();
    pairLocked();
}

void DvsApsFusionProccessor::pairLocked() {
    while (!apsFrames.empty() && !eventBuffers.empty()) {
        ApsFrame frame = std::move(apsFrames.front());
        apsFrames.pop_front();
        std::shared_ptr<std::vector<Event2D>> events = std::move(eventBuffers.front());
        eventBuffers.pop_front();
        if (callback)
            callback(frame, events->data(), events->data() + events->size());
    }
}

void DvsApsFusionProccessor::clearCache() {
    std::lock_guard<std::mutex> lock(mutex);
    apsFrames.clear();
    eventBuffers.clear();
    currentBuffer->clear();
}

size_t DvsApsFusionProccessor::waitingFrames() const {
    std::lock_guard<std::mutex> lock(mutex);
    return apsFrames.size();
}

size_t DvsApsFusionProccessor::waitingBuffers() const {
    std::lock_guard<std::mutex> lock(mutex);
    return eventBuffers.size();
}

size_t DvsApsFusionProccessor::currentEvents() const {
    std::lock_guard<std::mutex> lock(mutex);
    return currentBuffer->size();
}

} // namespace norvale
