#pragma once

// The events of a live camera for one thread that polls them: a DVS camera's batches, or a
// fusion camera's DVS events gathered from its events callback (on the camera's streaming
// thread) under a lock; at most kMaxHeld events wait there, the rest is dropped and counted.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "norvale/DvsCameraManager.h"

class LiveEvents {
public:
    static constexpr size_t kMaxHeld = 4u << 20;

    // The camera opened and streaming; empty (with a message on stderr) when it cannot be.
    static std::unique_ptr<LiveEvents> open(norvale::DvsCameraManager& manager, const std::string& serial);
    ~LiveEvents(); // stops the camera

    // The events since the last call (out replaced); false when none came.
    bool next(std::vector<norvale::Event2D>& out);
    bool connected() const;
    uint64_t dropped() const;

private:
    LiveEvents() = default;
    void put(const norvale::Event2D* begin, const norvale::Event2D* end);

    std::shared_ptr<norvale::DvsCamera> dvs;
    std::shared_ptr<norvale::FusionCamera> fusion;
    int callbackId = -1;
    mutable std::mutex mutex; // guards held and heldDropped (fusion)
    std::vector<norvale::Event2D> held;
    uint64_t heldDropped = 0;
};
