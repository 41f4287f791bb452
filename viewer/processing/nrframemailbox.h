#pragma once

// NrFrameMailbox: hands the newest results of worker threads to the owner (GUI) thread: a painted
// image, a frame timestamp and a progress fraction. Each kind keeps only its newest value; a
// worker leaves it here and wakes the owner once (however many results wait), and the owner takes
// everything at once. Nothing queues up: a frame not taken before the next one is painted is
// replaced by it.
//
// A frame may carry its timestamp (the live path): it then travels with the image, replacing a
// loose timestamp, and is never delivered before the image it belongs to.
//
// Images come from a small pool, so painting never allocates per frame: a slot is reused once the
// owner has emitted its image and no receiver kept a copy; a slot a receiver still holds is left
// to the receiver and replaced by a new image.
//
// Threads
// - Owner thread: construction, resize, take, release, destruction; onWake runs here.
// - Painting thread (one at a time): beginFrame, publishFrame.
// - Any thread: publishTimestamp, publishProgress.
// Locks: mutex guards every field but the images of slots being painted (the painter's alone)
// and wakeup. It is a leaf lock: nothing else is taken while it is held.
#include <QColor>
#include <QImage>

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>

class NrWakeup;
class QObject;

class NrFrameMailbox {
public:
    // The owner's onWake runs in owner's thread after wake-ups; it normally calls take().
    NrFrameMailbox(QObject* owner, std::function<void()> onWake);
    ~NrFrameMailbox();
    NrFrameMailbox(const NrFrameMailbox&) = delete;
    NrFrameMailbox& operator=(const NrFrameMailbox&) = delete;

    // New width x height RGB888 images filled with background; a pending frame is dropped. The
    // caller makes sure nothing is being painted.
    void resize(int width, int height, const QColor& background);

    // An image of the current size to paint into; null if the pool is exhausted (cannot happen
    // with one painter). The previous content of the image is undefined.
    QImage* beginFrame();
    // The image of beginFrame becomes the pending frame (replacing one not yet taken).
    void publishFrame();
    // The same, with the timestamp of the events painted into it.
    void publishFrame(uint64_t ts);

    void publishTimestamp(uint64_t ts, bool withLocalTime);
    void publishProgress(double fraction);

    struct Mail {
        bool hasTimestamp = false;
        uint64_t timestamp = 0;
        bool withLocalTime = false;
        bool timestampOfImage = false; // the timestamp came with image: emit it after the image
        bool hasProgress = false;
        double progress = 0;
        int slot = -1;
        QImage image; // valid when slot >= 0
    };
    // Everything pending, cleared. Call release(mail) once the image has been emitted.
    Mail take();
    void release(Mail& mail);

    // Runs f in the owner thread after onWake has delivered what waits, so that one-off results
    // (loading done, playback ended) keep their order with the frames. Any thread.
    void postAfterPending(std::function<void()> f);

private:
    void publish(bool hasTs, uint64_t ts);

    enum class SlotState : uint8_t { Free, Painting, Pending, Lent };
    static constexpr int kSlots = 3;

    std::mutex mutex;
    std::array<QImage, kSlots> images;
    std::array<SlotState, kSlots> states{};
    int width = 0;
    int height = 0;
    int painting = -1;
    int pendingFrame = -1;
    uint64_t pendingFrameTs = 0;
    bool pendingFrameHasTs = false;
    uint64_t pendingTs = 0;
    bool pendingTsSet = false;
    bool pendingTsLocal = false;
    double pendingProgress = 0;
    bool pendingProgressSet = false;
    NrWakeup* wakeup = nullptr; // child of the owner
    QObject* owner = nullptr;
    std::function<void()> deliver; // onWake
};
