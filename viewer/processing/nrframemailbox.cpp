#include "processing/nrframemailbox.h"

#include <utility>

#include "processing/nrwakeup.h"

NrFrameMailbox::NrFrameMailbox(QObject* owner, std::function<void()> onWake) : wakeup(new NrWakeup(owner)) {
    QObject::connect(wakeup, &NrWakeup::woken, owner, std::move(onWake));
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

void NrFrameMailbox::publishFrame() {
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
