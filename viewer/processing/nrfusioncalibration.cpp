// The fusion processor's calibration in use: validation, loading, the offset and its folding.
#include "processing/nrfusioncalibration.h"

#include <QDebug>

#include <cmath>
#include <exception>

#include "norvale/FusionCamera.h"

NrFusionCalibrationStore::NrFusionCalibrationStore(int dvsWidth, int dvsHeight)
    : dvsWidth(dvsWidth), dvsHeight(dvsHeight), calibrator(norvale::Calibrator::defaultCalibration()) {}

NrFusionCalibrationStore::Verdict NrFusionCalibrationStore::check(const norvale::CalibratorParameters& p) const {
    if (p.dvsFrameCols != dvsWidth || p.dvsFrameRows != dvsHeight)
        return Verdict::WrongDvsSize;
    const auto it = p.affineMatrix.find("1");
    bool valid = it != p.affineMatrix.end() && it->second.data.size() == 6 && p.apsFrameCols > 0 && p.apsFrameRows > 0;
    for (size_t i = 0; valid && i < 6; ++i)
        valid = std::isfinite(it->second.data[i]);
    return valid ? Verdict::Accepted : Verdict::NoTransform;
}

NrFusionCalibrationStore::Verdict NrFusionCalibrationStore::set(norvale::CalibratorParameters& params) {
    const Verdict verdict = check(params);
    if (verdict != Verdict::Accepted)
        return verdict;
    std::lock_guard<std::mutex> lock(mutex);
    calibrator.loadCalibrationParam(params);
    ++generation_;
    return verdict;
}

bool NrFusionCalibrationStore::readFile(const std::string& path, norvale::CalibratorParameters& params) {
    try {
        return norvale::jsonFileToParam(path, params);
    } catch (const std::exception& e) {
        qWarning() << "calibration file" << QString::fromLocal8Bit(path.c_str()) << "is not valid:" << e.what();
        return false;
    }
}

void NrFusionCalibrationStore::setOffset(double x, double y) {
    std::lock_guard<std::mutex> lock(mutex);
    offsetX = x;
    offsetY = y;
    ++generation_;
}

norvale::CalibratorParameters NrFusionCalibrationStore::foldOffset() {
    std::lock_guard<std::mutex> lock(mutex);
    calibrator.foldOffset(offsetX, offsetY);
    offsetX = 0.0;
    offsetY = 0.0;
    ++generation_;
    return calibrator;
}

bool NrFusionCalibrationStore::writeFolded(const std::string& path,
                                           const std::shared_ptr<norvale::FusionCamera>& camera) {
    norvale::CalibratorParameters folded = foldOffset();
    norvale::paramToJsonFile(folded, path);
    return camera && camera->isConnected() && camera->writeCalibrationParams(path);
}

norvale::Calibrator NrFusionCalibrationStore::calibration() const {
    std::lock_guard<std::mutex> lock(mutex);
    return calibrator;
}

void NrFusionCalibrationStore::setSameGrid(bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    if (sameGrid_ == on)
        return;
    sameGrid_ = on;
    ++generation_;
}

norvale::NrApsMapper::Transform NrFusionCalibrationStore::transform() const {
    std::lock_guard<std::mutex> lock(mutex);
    if (!sameGrid_)
        return norvale::NrApsMapper::transformOf(calibrator, offsetX, offsetY);
    norvale::Calibrator identity;
    identity.dvsFrameCols = identity.apsFrameCols = uint16_t(dvsWidth);
    identity.dvsFrameRows = identity.apsFrameRows = uint16_t(dvsHeight);
    identity.dvsToAps = {1, 0, 0, 0, 1, 0};
    identity.apsToDvs = identity.dvsToAps;
    return norvale::NrApsMapper::transformOf(identity, offsetX, offsetY);
}
