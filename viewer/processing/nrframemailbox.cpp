#include "processing/nrframemailbox.h"

#include <atomic>
#include <utility>

#include "processing/nrwakeup.h"

#include <QObject>

NrFrameMailbox::NrFrameMailbox(QObject* o, std::function<void()> onWake)
    : wakeup(new NrWakeup(o)), owner(o), deliver(std::move(onWake)) {
    QObject::connect(wakeup, &NrWakeup::woken, owner, deliver);
}

void NrFrameMailbox::postAfterPending(std::function<void()> f) {
    QMetaObject::invokeMethod(
        owner,
        [this, f = std::move(f)] {
            deliver();
            f();
        },
        Qt::QueuedConnection);
}

NrFrameMailbox::~NrFrameMailbox() = default; // the wake-up goes with its owner

void NrFrameMailbox::resize(int w, int h, const QColor& background) {
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < kSlots; ++i) {
        images[size_t(i)] = QImage(w, h, QImage::Format_RGB888);
        images[size_t(i)].fill(background);
        states[size_t(i)] = SlotState::Free;
    }
    width = w;
    height = h;
    painting = -1;
    pendingFrame = -1;
    pendingFrameHasTs = false;
}

QImage* NrFrameMailbox::beginFrame() {
    std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < kSlots; ++i) {
        if (states[size_t(i)] == SlotState::Free) {
            states[size_t(i)] = SlotState::Painting;
            painting = i;
            return &images[size_t(i)];
        }
    }
    // A receiver that held a delivered image has let it go since: reuse it, no allocation. The
    // count of its references only falls here (nobody takes a new copy of a lent slot).
    for (int i = 0; i < kSlots; ++i) {
        if (states[size_t(i)] == SlotState::Lent && images[size_t(i)].isDetached()) {
            std::atomic_thread_fence(std::memory_order_acquire); // after the receiver's last read
            states[size_t(i)] = SlotState::Painting;
            painting = i;
            return &images[size_t(i)];
        }
    }
    // Receivers still hold every delivered image: leave them theirs and paint into a new one.
    for (int i = 0; i < kSlots; ++i) {
        if (states[size_t(i)] == SlotState::Lent) {
            images[size_t(i)] = QImage(width, height, QImage::Format_RGB888);
            states[size_t(i)] = SlotState::Painting;
            painting = i;
            return &images[size_t(i)];
        }
    }
    return nullptr;
}

void NrFrameMailbox::publishFrame() { publish(false, 0); }

void NrFrameMailbox::publishFrame(uint64_t ts) { publish(true, ts); }

void NrFrameMailbox::publish(bool hasTs, uint64_t ts) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (painting < 0)
            return;
        if (pendingFrame >= 0)
            states[size_t(pendingFrame)] = SlotState::Free; // never delivered: superseded
        else
            wake = true;
        pendingFrame = painting;
        pendingFrameHasTs = hasTs;
        pendingFrameTs = ts;
        states[size_t(painting)] = SlotState::Pending;
        painting = -1;
    }
    if (wake)
        wakeup->wake();
}

void NrFrameMailbox::publishTimestamp(uint64_t ts, bool withLocalTime) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        pendingTs = ts;
        pendingTsSet = true;
        pendingTsLocal = withLocalTime;
    }
    wakeup->wake();
}

void NrFrameMailbox::publishProgress(double fraction) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        pendingProgress = fraction;
        pendingProgressSet = true;
    }
    wakeup->wake();
}

NrFrameMailbox::Mail NrFrameMailbox::take() {
    Mail m;
    std::lock_guard<std::mutex> lock(mutex);
    std::swap(m.hasTimestamp, pendingTsSet);
    std::swap(m.timestamp, pendingTs);
    std::swap(m.withLocalTime, pendingTsLocal);
    std::swap(m.hasProgress, pendingProgressSet);
    std::swap(m.progress, pendingProgress);
    std::swap(m.slot, pendingFrame);
    if (m.slot >= 0) {
        states[size_t(m.slot)] = SlotState::Lent;
        m.image = images[size_t(m.slot)];
        if (pendingFrameHasTs) {
            // The image's own time replaces a loose one: the label never runs ahead of the picture.
            m.hasTimestamp = true;
            m.timestamp = pendingFrameTs;
            m.withLocalTime = false;
            m.timestampOfImage = true;
            pendingFrameHasTs = false;
        }
    }
    return m;
}

void NrFrameMailbox::release(Mail& m) {
    if (m.slot < 0)
        return;
    m.image = QImage();
    std::lock_guard<std::mutex> lock(mutex);
    // Reusable once no receiver kept a copy; otherwise beginFrame replaces it.
    if (states[size_t(m.slot)] == SlotState::Lent && images[size_t(m.slot)].isDetached())
        states[size_t(m.slot)] = SlotState::Free;
    m.slot = -1;
}
