#pragma once

// NrFusionLiveView: a live fusion camera on screen. It counts events for the DVS view, feeds the
// pairing (DvsApsFusionProccessor), and shows each completed pair in the current view (DVS counts,
// APS mapped onto the DVS grid, or fusion: the pair's events drawn over the mapped APS image)
// straight into the processor's mailbox. It also draws event windows for replay.
//
// Threads
// - Owner (GUI) thread: construction, setCamera, setView, setMirrored, clearCache, destruction.
// - The camera's streaming thread: updateEvents, addEvents, addTriggerIn; its APS thread:
//   addApsFrame. A pair is shown on whichever thread completes it, inside the pairing lock.
// - drawEvents: any thread holding the painting lock of the image it draws on.
//
// Locks (order: the pairing lock -> paintMutex -> countMutex -> the calibration store's lock ->
// the mailbox's lock)
// - paintMutex (the processor's, shared with replay): the mailbox's painting side and liveMapper.
// - countMutex: countBuffer (updateEvents adds, the DVS view swaps it with paintBuffer).
// - Atomics: the view, the mirror flag, the camera pointer.
//
// Decisions
// - The DVS view counts into a second buffer while the first is painted: no event is lost between
//   painting and clearing. A tie is painted ON here.
// - The fusion view shows nothing while the camera is not connected.
#include <QImage>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "norvale/ApsFrame.h"
#include "norvale/CameraTypes.h"
#include "norvale/Event2D.h"
#include "processing/nrcalibrator.h"
#include "processing/nrdvsapsfusion.h"

class NrFrameMailbox;
class NrFusionCalibrationStore;

namespace norvale {
class FusionCamera;
} // namespace norvale

class NrFusionLiveView {
public:
    NrFusionLiveView(int width, int height, uint16_t countCap, NrFrameMailbox& mailbox, std::mutex& paintMutex,
                     const NrFusionCalibrationStore& calibration);
    ~NrFusionLiveView(); // waits for a pair being shown
    NrFusionLiveView(const NrFusionLiveView&) = delete;
    NrFusionLiveView& operator=(const NrFusionLiveView&) = delete;

    void setCamera(std::shared_ptr<norvale::FusionCamera> camera);
    std::shared_ptr<norvale::FusionCamera> camera() const { return std::atomic_load(&camera_); }
    int view() const { return view_; }
    // The previous view.
    int setView(int view) { return view_.exchange(view); }
    bool mirrored() const { return mirrored_; }
    void setMirrored(bool mirrored) { mirrored_ = mirrored; }

    void updateEvents(const norvale::Event2D* begin, const norvale::Event2D* end);
    void addEvents(const norvale::Event2D* begin, const norvale::Event2D* end) { pairing_.addEvents(begin, end); }
    void addTriggerIn(const norvale::EventTriggerIn& trigger) { pairing_.addTriggerIn(trigger); }
    void addApsFrame(const norvale::ApsFrame& frame) { pairing_.addApsFrame(frame); }
    void clearCache() { pairing_.clearCache(); }
    const norvale::DvsApsFusionProccessor& pairing() const { return pairing_; }

    // Shows one pair in the current view (called by the pairing, its lock held).
    void showPair(norvale::ApsFrame& frame, const norvale::DvsApsFusionProccessor::EventSpan* spans, size_t count);
    // Paints the current counts (tie: ON) onto image, width x height RGB888.
    void paintCurrentCounts(QImage& image);
    // Paints given counts (two per pixel) like paintCurrentCounts.
    void paintCounts(QImage& image, const std::vector<uint16_t>& counts) const;
    // Draws the events in order (a later one wins), mirrored while mirrored() is set.
    void drawEvents(QImage& image, const norvale::Event2D* begin, const norvale::Event2D* end) const;

private:
    const int width;
    const int height;
    const uint16_t countCap;
    NrFrameMailbox& mailbox;
    std::mutex& paintMutex;
    const NrFusionCalibrationStore& calibration;
    std::shared_ptr<norvale::FusionCamera> camera_; // atomic_load / atomic_store
    std::atomic<int> view_{norvale::STREAM_FUSION};
    std::atomic<bool> mirrored_{false};
    std::mutex countMutex;
    std::vector<uint16_t> countBuffer; // countMutex
    std::vector<uint16_t> paintBuffer; // paintMutex
    norvale::NrApsMapper liveMapper;   // paintMutex
    norvale::DvsApsFusionProccessor pairing_; // last: its callback reaches everything above
};
