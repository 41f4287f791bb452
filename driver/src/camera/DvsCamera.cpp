#include "norvale/DvsCamera.h"

#include "camera/CameraCore.h"

namespace norvale {

DvsCamera::DvsCamera(std::shared_ptr<CameraCore> c) : core(std::move(c)) {}
DvsCamera::~DvsCamera() = default; // the core stops everything

bool DvsCamera::isConnected() const { return core->connected(); }
const CameraDescription& DvsCamera::getCameraDescription() const { return core->description(); }
int DvsCamera::start() { return core->start(); }
int DvsCamera::stop() { return core->stop(); }
bool DvsCamera::getNextBatch(std::vector<Event2D>& events) { return core->nextBatch(events); }
bool DvsCamera::visitNextBatch(const RunVisitor& visit) { return core->visitBatch(visit); }
void DvsCamera::setBatchEventsTime(uint64_t timeUs) { core->setBatchTime(timeUs); }
uint64_t DvsCamera::getDroppedEventCount() const { return core->dropped(); }
NrStreamLoss DvsCamera::getStreamLoss() const { return core->device().streamLoss(); }
uint16_t DvsCamera::getWidth() const { return uint16_t(core->device().width()); }
uint16_t DvsCamera::getHeight() const { return uint16_t(core->device().height()); }
void DvsCamera::setStatisticInfoCallback(StatisticCallback cb) { core->setStatisticCallback(std::move(cb)); }
int DvsCamera::addTriggerInCallback(TriggerInCallback cb) { return core->addTriggerCallback(std::move(cb)); }
bool DvsCamera::removeTriggerInCallback(int id) { return core->removeCallback(id); }
bool DvsCamera::startRecording(const std::string& path, bool overwrite) { return core->startRecording(path, 0, overwrite); }
bool DvsCamera::stopRecording() { return core->stopRecording(); }
bool DvsCamera::setFileCacheTime(uint16_t seconds, const std::string& folder) { return core->setCache(seconds, folder); }
uint64_t DvsCamera::getRecordedEventCount() const { return core->recordedEvents(); }
uint64_t DvsCamera::getDeliveredEventCount() const { return core->delivered(); }
uint64_t DvsCamera::getCameraTime() const { return core->deliveredUntil(); }
std::shared_ptr<CameraTool> DvsCamera::getTool(ToolType type) const { return core->tool(type); }
std::vector<ToolInfo> DvsCamera::getAllToolsInfo() const { return core->toolsInfo(); }
bool DvsCamera::loadCameraConfigParams(const std::string& path) { return core->loadConfig(path); }
bool DvsCamera::exportCameraConfigParams(const std::string& path) const { return core->exportConfig(path); }
void DvsCamera::simulateUnplug() { core->unplug(); }

} // namespace norvale
