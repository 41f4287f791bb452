#pragma once

// NrFusionCalibrationStore: the fusion processor's calibration in use. It holds the calibrator, the
// manual APS offset and a generation that changes with either (replay remaps a cached frame when it
// moves); it validates, loads, folds and writes calibrations. The user's messages are the
// processor's: the store answers with a verdict.
//
// Threads: set, setOffset, foldOffset and write run on the owner (GUI) thread; calibration,
// transform and generation on any thread (the mapping threads take a snapshot).
// Locks: one mutex (the processor's calibrationMutex), a leaf below the processor's paintMutex and
// countMutex; nothing else is taken while it is held. The offsets and the generation are atomics
// changed under it.
//
// Decisions
// - A calibration whose DVS size is not 1280 x 720, or without six finite DVS -> APS numbers, is
//   refused and the previous one stays.
// - Folding the offset and zeroing it happen under one lock: no frame is mapped with the shift twice.
// - A recording whose frames lie on its event grid (an AEDAT 4 file's) maps pixel to pixel while it
//   is shown (setSameGrid); the calibration held stays and is used again afterwards.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "norvale/JsonUtils.h"
#include "processing/nrcalibrator.h"

namespace norvale {
class FusionCamera;
} // namespace norvale

class NrFusionCalibrationStore {
public:
    enum class Verdict { Accepted, WrongDvsSize, NoTransform };

    NrFusionCalibrationStore(int dvsWidth, int dvsHeight);

    // Whether params can be used, without using them.
    Verdict check(const norvale::CalibratorParameters& params) const;
    // Uses params unless check refuses them.
    Verdict set(norvale::CalibratorParameters& params);
    // False (params untouched beyond what the parser wrote) when the file is not a calibration.
    static bool readFile(const std::string& path, norvale::CalibratorParameters& params);

    // on: frames are mapped pixel to pixel (plus the manual offset) instead of through the calibration.
    void setSameGrid(bool on);
    bool sameGrid() const { return sameGrid_; }

    void setOffset(double x, double y);
    // Folds the offset into the calibration, zeroes it, and returns the folded calibration.
    norvale::CalibratorParameters foldOffset();
    // Folds the offset, writes the result to path as JSON and hands that file to the camera; true
    // when the camera took it.
    bool writeFolded(const std::string& path, const std::shared_ptr<norvale::FusionCamera>& camera);

    norvale::Calibrator calibration() const;
    norvale::NrApsMapper::Transform transform() const;
    uint64_t generation() const { return generation_; }

private:
    const int dvsWidth;
    const int dvsHeight;
    mutable std::mutex mutex;
    norvale::Calibrator calibrator; // mutex
    std::atomic<double> offsetX{0.0};
    std::atomic<double> offsetY{0.0};
    std::atomic<uint64_t> generation_{1};
    std::atomic<bool> sameGrid_{false};
};
